#include "cli/app.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"
#include "link/serial_link.h"

namespace cli {
namespace {

const char* const kExitCodes =
    "Exit codes: 0 done (also: nothing to change), 1 bad usage (also: diff --exit-code found\n"
    "differences), 2 no reader, link failure or reader refused, 3 file or format error,\n"
    "4 read-back did not match. See zarn60(1) for the JSON fields (or run: zarn60 schema).";

void PrintError(const std::string& message) {
    std::cerr << "zarn60: " << PrintableText(message) << "\n";
}

std::string CommandList() {
    std::string list;
    for (const auto& n : CommandNames()) list += (list.empty() ? "" : ", ") + n;
    return list;
}

bool IsCommand(const std::string& word) {
    for (const auto& n : CommandNames())
        if (n == word) return true;
    return false;
}

// CLI11's errors in the program's words, naming the subcommand whose help explains it.
std::string UsageText(const CLI::App& app, const CLI::ParseError& e) {
    std::string command = "zarn60";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    const std::string where = command.size() > 6 ? "zarn60: " + command.substr(7) : "zarn60";
    const std::string help = " (" + command + " --help)";
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        std::string words;
        const CLI::App* last = &app;
        while (!last->get_subcommands().empty()) last = last->get_subcommands().front();
        for (const auto& w : last->remaining(true)) words += (words.empty() ? "" : " ") + w;
        if (words.empty())
            for (const auto& w : app.remaining(true)) words += (words.empty() ? "" : " ") + w;
        return where + ": unknown option or extra argument: " + words + help;
    }
    if (dynamic_cast<const CLI::RequiredError*>(&e)) {
        std::string what = e.what();
        const size_t is = what.find(" is required");
        if (is != std::string::npos) what = what.substr(0, is);
        if (what.find("subcommand") != std::string::npos) {
            // "zarn60 --bad": the word that was not understood, before the missing command.
            const auto words = app.remaining(true);
            if (!words.empty()) return "zarn60: unknown option: " + words.front() + help;
            return "zarn60: give a command: " + CommandList() + help;
        }
        return where + ": " + what + " is missing" + help;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
        std::string what = e.what();
        const size_t colon = what.find(':');
        const std::string option = colon == std::string::npos ? what : what.substr(0, colon);
        const bool tooMany =
            what.find("t Most") != std::string::npos || what.find("t most") != std::string::npos;
        return where + ": " + option + (tooMany ? " is given more than once" : " needs a value") +
               help;
    }
    return where + ": " + e.what() + help;
}

// Standard output is checked once all is written: a full disk or a closed output must not
// end as success. A reader gone from a pipe ends the program quietly, as a signal would.
int Finished(int status) {
    errno = 0;
    std::cout.flush();
    int error = errno;
    const bool good = std::cout.good();
    if (std::fflush(stdout) != 0 && error == 0) error = errno;
    if (good && !std::ferror(stdout)) return status;
#ifdef _WIN32
    // The C library gives a closed pipe as EPIPE or EINVAL, depending on the system's code
    // for it; the system's own code tells.
    const DWORD code = GetLastError();
    if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED)
        error = EPIPE;
#endif
    if (error == EPIPE) {
#ifdef SIGPIPE
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
#endif
        // Where no signal ends the program (Windows), the status a shell shows for one.
        return 141;
    }
    PrintError(std::string("cannot write to standard output: ") +
               (error ? std::strerror(error) : "write error"));
    return status == 0 ? EXIT_FILE : status;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // "zarn60 help [COMMAND]" is "zarn60 [COMMAND] --help".
    if (!args.empty() && args[0] == "help") {
        if (args.size() > 2)
            throw Error(EXIT_USAGE, "help takes one command (zarn60 help COMMAND)");
        args.erase(args.begin());
        args.push_back("--help");
    }
    if (!args.empty() && !args[0].empty() && args[0][0] != '-' && !IsCommand(args[0]))
        throw Error(EXIT_USAGE, "'" + args[0] + "' is not a zarn60 command; the commands are: " +
                                    CommandList());

    CLI::App app{"zarn60: configure and test a ZARN60 card reader from the command line"};
    app.name("zarn60");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("zarn60 ") + ZARN60_VERSION);
    const std::vector<Subcommand> commands = {
        SetupList(app),    SetupShow(app),    SetupApply(app),    SetupSave(app),
        SetupFactory(app), SetupVersion(app), SetupReadCard(app), SetupDecode(app),
        SetupEncode(app),  SetupDiff(app),    SetupPreview(app),  SetupSchema(app)};
    // Set after the subcommands, so that it is printed once, by zarn60 --help.
    app.footer(kExitCodes);

    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cerr << PrintableText(UsageText(app, e)) << "\n";
        return EXIT_USAGE;
    }

    // Serial lines get back the settings found at their open on every way out.
    const zarn::PortsLeftAsFound portsLeftAsFound;
    for (const auto& c : commands)
        if (c.app->parsed()) return c.run();
    return EXIT_USAGE;
}

}  // namespace

int Main(int argc, char** argv) {
#ifdef SIGPIPE
    // An inherited "ignore" would turn a closed pipe into write errors; the default ends
    // the program quietly, as it does git.
    std::signal(SIGPIPE, SIG_DFL);
#endif
    // Every output is far smaller than this buffer: it is written at the end, in one go,
    // and a failure leaves its reason in errno for Finished.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    int status = EXIT_DONE;
    try {
        status = Run(argc, argv);
    } catch (const Error& e) {
        PrintError(e.what());
        status = e.Code();
    } catch (const std::bad_alloc&) {
        PrintError("out of memory");
        status = EXIT_FILE;
    } catch (const std::exception& e) {
        PrintError(e.what());
        status = EXIT_FILE;
    }
    return Finished(status);
}

}  // namespace cli
