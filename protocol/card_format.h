// The card-output model: the bytes a reader sends for a swiped card under a configuration
// (prefix, each enabled track with data, suffix, packet terminator). Shared by the
// simulated reader and the command line's preview.
#pragma once

#include <array>
#include <string>

#include "protocol/reader_config.h"

namespace protocol::cardfmt {

// The card the reader reads next: the three tracks' data without sentinels.
struct Card {
    std::array<std::string, 3> tracks;
    bool operator==(const Card&) const = default;
};
// "T1|T2|T3"; missing fields are blank tracks.
Card ParseCardTracks(const std::string& text);
Card DefaultCard();

// What the reader outputs for `card` under `config` (sim/README.md): prefix, each enabled
// track that has data (sentinels, the chosen part, track-3 trimming, terminator), suffix,
// packet terminator. Empty when no enabled track has data.
std::string FormatCardData(const ReaderConfig& config, const Card& card);

}  // namespace protocol::cardfmt
