// zarn60 save: the reader's configuration to a file or standard output.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupSave(CLI::App& parent) {
    struct Args {
        LinkFlags link;
        std::string file, format;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand("save",
                                      "the reader's configuration to FILE (.cfg byte for byte, "
                                      ".json by name, - for standard output)");
    cmd->add_option("FILE", a->file, "a .cfg or .json file, or -")->required();
    a->link.AddTo(cmd);
    AddFormatOption(cmd, &a->format);
    return {cmd, [a] {
                const LinkOptions options = a->link.Options();
                IsCfgName(a->file, a->format);  // a bad name fails before the reader is asked
                ReaderLink l(options);
                const Settings s{l.ReadConfig(), {}, {}};
                SaveSettings(a->file, s, a->format);
                // Standard output then holds the document alone.
                if (a->file != "-")
                    std::cout << PrintableText("saved " + l.Where() + " to " + a->file) << "\n";
                return 0;
            }};
}

}  // namespace cli
