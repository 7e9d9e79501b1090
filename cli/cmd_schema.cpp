// zarn60 schema: the JSON Schema of configuration documents.
#include <iostream>

#include "cli/commands.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupSchema(CLI::App& parent) {
    auto* cmd = parent.add_subcommand("schema", "the JSON Schema of configuration documents");
    return {cmd, [] {
                std::cout << JsonText(Schema());
                return 0;
            }};
}

}  // namespace cli
