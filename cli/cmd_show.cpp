// zarn60 show: the reader's configuration by name.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupShow(CLI::App& parent) {
    struct Args {
        LinkFlags link;
        bool asJson = false, raw = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand("show", "the reader's configuration by name");
    a->link.AddTo(cmd);
    cmd->add_flag("--json", a->asJson, "print the JSON document");
    cmd->add_flag("--raw", a->raw, "also the 56 bytes in hex (in JSON as \"$raw\")");
    return {cmd, [a] {
                ReaderLink l(a->link.Options());
                const Settings s{l.ReadConfig(), {}, {}};
                nlohmann::ordered_json doc = ToJson(s);
                const std::string raw = HexBytes(s.image.data(), s.image.size());
                if (a->asJson) {
                    if (a->raw) doc["$raw"] = raw;
                    std::cout << JsonText(doc);
                    return 0;
                }
                for (const auto& [name, value] : doc.items())
                    std::cout << name << ": " << ValueText(value) << "\n";
                if (a->raw) std::cout << "raw: " << raw << "\n";
                return 0;
            }};
}

}  // namespace cli
