// The subcommands of zarn60, one file each (cmd_*.cpp): each adds its options to the
// program's CLI::App and returns what runs when it was chosen. The run returns the exit
// code or throws cli::Error.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace cli {

struct Subcommand {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Subcommand SetupList(CLI::App& parent);
Subcommand SetupShow(CLI::App& parent);
Subcommand SetupApply(CLI::App& parent);
Subcommand SetupSave(CLI::App& parent);
Subcommand SetupFactory(CLI::App& parent);
Subcommand SetupVersion(CLI::App& parent);
Subcommand SetupReadCard(CLI::App& parent);
Subcommand SetupDecode(CLI::App& parent);
Subcommand SetupEncode(CLI::App& parent);
Subcommand SetupDiff(CLI::App& parent);
Subcommand SetupPreview(CLI::App& parent);
Subcommand SetupSchema(CLI::App& parent);

}  // namespace cli
