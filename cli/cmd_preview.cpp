// zarn60 preview: the bytes a swipe of a card would make the reader send.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {

Subcommand SetupPreview(CLI::App& parent) {
    struct Args {
        std::string file, format, track1, track2, track3;
        bool hex = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand("preview",
                                      "the bytes a swipe of this card would make the reader "
                                      "send under CONFIG");
    cmd->add_option("CONFIG", a->file, "a .cfg or .json file, or -")->required();
    AddFormatOption(cmd, &a->format);
    cmd->add_option("--track1", a->track1, "track 1 data without sentinels");
    cmd->add_option("--track2", a->track2, "track 2 data without sentinels");
    cmd->add_option("--track3", a->track3, "track 3 data without sentinels");
    cmd->add_flag("--hex", a->hex, "print hex instead of the bytes");
    return {cmd, [a] {
                const Settings s = Resolve(LoadDocument(a->file, a->format), FactorySettings());
                protocol::cardfmt::Card card;
                card.tracks = {a->track1, a->track2, a->track3};
                const std::string bytes = Preview(s, card);
                if (a->hex)
                    std::cout << HexBytes(bytes) << "\n";
                else
                    std::cout << bytes;
                return 0;
            }};
}

}  // namespace cli
