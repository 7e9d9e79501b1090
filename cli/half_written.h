// What a signal says while a write to the reader may be under way.
#pragma once

#include <string>

namespace cli {

// From construction to destruction, SIGINT, SIGTERM and SIGHUP first say on standard
// error that the reader at `where` may be half written, then end the program as they
// would have (through the link's handler, which puts the serial lines back). A signal the
// program was started to ignore stays ignored. Nothing on Windows, where these signals do
// not reach a console program this way.
class HalfWrittenOnSignal {
public:
    explicit HalfWrittenOnSignal(const std::string& where);
    ~HalfWrittenOnSignal();
    HalfWrittenOnSignal(const HalfWrittenOnSignal&) = delete;
    HalfWrittenOnSignal& operator=(const HalfWrittenOnSignal&) = delete;
};

}  // namespace cli
