// zarn60 factory: the factory configuration of the link's kind, written and read back.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"
#include "protocol/factory_images.h"

namespace cli {

Subcommand SetupFactory(CLI::App& parent) {
    auto link = std::make_shared<LinkFlags>();
    auto* cmd =
        parent.add_subcommand("factory", "send the factory configuration of the link's kind");
    link->AddTo(cmd);
    return {
        cmd, [link] {
            ReaderLink l(link->Options());
            const protocol::ConfigWriteImage image =
                l.IsUsb() ? protocol::FactoryWriteImageHid() : protocol::FactoryWriteImageSerial();
            WriteAndVerify(
                l, image, true,
                protocol::MakeConfigReadImage(protocol::ParseConfigWriteImage(image), {}, 0),
                [](const protocol::ConfigReadImage&) { return "the factory configuration"; });
            std::cout << PrintableText("factory configuration written and verified on " + l.Where())
                      << "\n";
            return 0;
        }};
}

}  // namespace cli
