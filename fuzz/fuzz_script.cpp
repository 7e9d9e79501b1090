// The headless runner's script text: the TEXT escapes (ParseText and Quote must be exact
// inverses) and whole scripts run against the dialog with the in-process simulated reader.
//
// Two things are changed in the script before it runs, because they are the user asking
// for them rather than the tool misbehaving: `wait` and `tick` counts are capped (a script
// may ask for hours of virtual time, and gets them), and the paths of `answer` lines are
// moved into a scratch folder (a script may name any file to overwrite).
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runner/runner.h"
#include "runner/script_text.h"
#include "sim/inprocess.h"

namespace {

constexpr long long MAX_WAIT_MS = 20000;
constexpr long long MAX_TICKS = 2000;
constexpr size_t MAX_LINES = 200;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Splits off the first blank-separated word at or after `pos`.
std::string WordAt(const std::string& line, size_t* pos) {
    size_t p = *pos;
    while (p < line.size() && IsBlank(line[p])) ++p;
    const size_t start = p;
    while (p < line.size() && !IsBlank(line[p])) ++p;
    *pos = p;
    return line.substr(start, p - start);
}

// A decimal count as the runner reads it: optional sign, digits only.
bool BigCount(const std::string& word, long long limit) {
    size_t i = word.empty() || (word[0] != '+' && word[0] != '-') ? 0 : 1;
    if (i >= word.size()) return false;
    long long v = 0;
    for (; i < word.size(); ++i) {
        if (word[i] < '0' || word[i] > '9') return false;
        if (v > limit) return true;
        v = v * 10 + (word[i] - '0');
    }
    return word[0] != '-' && v > limit;
}

std::string Tame(const std::string& script) {
    std::istringstream in(script);
    std::string line, out;
    size_t lines = 0;
    while (std::getline(in, line) && lines++ < MAX_LINES) {
        size_t pos = 0;
        const std::string word = WordAt(line, &pos);
        if (word == "wait" || word == "tick") {
            size_t after = pos;
            const std::string count = WordAt(line, &after);
            if (BigCount(count, word == "wait" ? MAX_WAIT_MS : MAX_TICKS))
                line = word + " " + std::to_string(word == "wait" ? MAX_WAIT_MS : MAX_TICKS);
        } else if (word == "answer") {
            const std::string which = WordAt(line, &pos);
            std::string rest = line.substr(pos);
            const size_t first = rest.find_first_not_of(" \t");
            const size_t last = rest.find_last_not_of(" \t");
            rest = first == std::string::npos ? "" : rest.substr(first, last - first + 1);
            if (rest.empty() || rest == "cancel") {
                // as written: a missing path is an error line, cancel a cancel
            } else {
                // One of three files of our own, picked by the path's first byte.
                const char name = static_cast<char>('a' + static_cast<unsigned char>(rest[0]) % 3);
                line = "answer " + which + " " + fuzz::ScratchDir() + "/" + name + ".cfg";
            }
        }
        out += line;
        out += '\n';
    }
    return out;
}

void CheckQuoteRoundTrip(const std::string& bytes) {
    const std::string quoted = runner::Quote(bytes);
    for (unsigned char c : quoted)
        FUZZ_CHECK(c >= 0x20 && c < 0x7f, "Quote left byte %02x as it is", c);
    std::string back, why;
    FUZZ_CHECK(runner::ParseText(quoted, &back, &why), "ParseText refused Quote's \"%s\": %s",
               quoted.c_str(), why.c_str());
    FUZZ_CHECK(back == bytes, "ParseText(Quote(x)) != x for %s", quoted.c_str());
    // Blanks around a quoted text are not part of it.
    FUZZ_CHECK(runner::ParseText(" \t" + quoted + "\t ", &back, &why) && back == bytes,
               "blanks around a quoted text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return -1;
    const std::string text(reinterpret_cast<const char*>(data), size);

    CheckQuoteRoundTrip(text);
    std::string parsed, why;
    if (runner::ParseText(text, &parsed, &why)) {
        CheckQuoteRoundTrip(parsed);
    } else {
        FUZZ_CHECK(!why.empty(), "ParseText failed without saying why");
    }

    sim::InProcessSimulation sim;
    std::istringstream script(Tame(text));
    std::ostringstream out;
    const int status = runner::RunScript(
        script, out, [&](const std::string& args, std::ostream& o, std::string* error) {
            return sim.Command(args, o, error);
        });
    FUZZ_CHECK(status == 0 || status == 2, "exit status %d", status);
    const std::string printed = out.str();
    // An error line ends the run and is the last line; without one the run went through.
    std::istringstream lines(out.str());
    std::string line, last;
    int errorLines = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("error line ", 0) == 0) ++errorLines;
        last = line;
    }
    FUZZ_CHECK(errorLines == (status == 2 ? 1 : 0), "%d error lines, status %d", errorLines,
               status);
    if (status == 2) FUZZ_CHECK(last.rfind("error line ", 0) == 0, "output after the error line");
    zarn::PortTable::CloseAll();
    return 0;
}
