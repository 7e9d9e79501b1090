// zarn60 version: the reader's version text.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupVersion(CLI::App& parent) {
    auto link = std::make_shared<LinkFlags>();
    auto* cmd = parent.add_subcommand(
        "version", "the reader's version text (control bytes by name, such as <ESC>)");
    link->AddTo(cmd);
    return {cmd, [link] {
                ReaderLink l(link->Options());
                // The reader's bytes never reach the terminal as they are.
                std::cout << EscapeBytes(l.ReadVersion()) << "\n";
                return 0;
            }};
}

}  // namespace cli
