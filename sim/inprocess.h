// The simulated reader attached in-process: it replaces the HID and serial backends of
// the link and makes the clock virtual, so that a run is instant and exact.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "base/clock.h"

namespace sim {

class InProcessSimulation {
public:
    // Installs the virtual clock and the simulated backends, with one reader on USB
    // (vendor 0x0801, product 0x0005) and one on COM1. The destructor puts the previous
    // clock and backends back.
    InProcessSimulation();
    ~InProcessSimulation();
    InProcessSimulation(const InProcessSimulation&) = delete;
    InProcessSimulation& operator=(const InProcessSimulation&) = delete;

    // Runs one `sim ...` command of the headless runner (ARGS is what follows "sim ").
    // Prints what the command prints to `out`. False, with *error set, when the command
    // cannot be run.
    bool Command(const std::string& args, std::ostream& out, std::string* error);

    zarn::VirtualClock& Clock();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
