// zarn60 encode: a JSON document to a .cfg file.
#include <memory>

#include "cli/commands.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupEncode(CLI::App& parent) {
    struct Args {
        std::string file, output;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand("encode",
                                      "a JSON document to a .cfg file (fields it does not "
                                      "name: factory values); - for standard input or output");
    cmd->add_option("FILE", a->file, "a .json file, or -")->required();
    cmd->add_option("-o,--output", a->output, "the .cfg file to write, or -")->required();
    return {cmd, [a] {
                // The output is a .cfg whatever else its name says.
                if (a->output != "-" && !IsCfgName(a->output, ""))
                    throw Error(EXIT_USAGE,
                                a->output + ": encode writes a .cfg file (name it .cfg or -)");
                const Document doc = LoadDocument(a->file, a->file == "-" ? "json" : "");
                if (doc.isCfg) throw Error(EXIT_USAGE, a->file + ": encode takes a .json file");
                SaveSettings(a->output, Resolve(doc, FactorySettings()), "cfg");
                return 0;
            }};
}

}  // namespace cli
