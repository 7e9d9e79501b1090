// zarn60 read-card: ask the reader for card data.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupReadCard(CLI::App& parent) {
    struct Args {
        LinkFlags link;
        std::string timeout = "10";
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand("read-card",
                                      "ask the reader for card data; prints it as text and hex");
    a->link.AddTo(cmd);
    cmd->add_option("--timeout", a->timeout, "seconds to wait, 0.5 to 3600 (default 10)")
        ->type_name("S");
    return {cmd, [a] {
                const double seconds = ParseSeconds("--timeout", a->timeout, 0.5, 3600);
                ReaderLink l(a->link.Options());
                const std::string data = l.ReadCard(static_cast<uint32_t>(seconds * 1000));
                std::cout << "text: " << EscapeBytes(data) << "\n"
                          << "hex: " << HexBytes(data) << "\n";
                return 0;
            }};
}

}  // namespace cli
