// zarn60 decode: a .cfg file by name, without a reader.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupDecode(CLI::App& parent) {
    struct Args {
        std::string file;
        bool asJson = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand(
        "decode", "a .cfg file (- for standard input) by name, without a reader");
    cmd->add_option("FILE", a->file, "a .cfg file, or -")->required();
    cmd->add_flag("--json", a->asJson, "print the JSON document");
    return {cmd, [a] {
                // Standard input is read as a .cfg: decode takes nothing else.
                const Document doc = LoadDocument(a->file, a->file == "-" ? "cfg" : "");
                if (!doc.isCfg) throw Error(EXIT_USAGE, a->file + ": decode takes a .cfg file");
                const nlohmann::ordered_json json = ToJson(Resolve(doc, {}));
                if (a->asJson) {
                    std::cout << JsonText(json);
                    return 0;
                }
                for (const auto& [name, value] : json.items())
                    std::cout << name << ": " << ValueText(value) << "\n";
                return 0;
            }};
}

}  // namespace cli
