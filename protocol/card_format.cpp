// The card-output model: what a reader sends for one swipe under a configuration.
#include "protocol/card_format.h"

#include <algorithm>

namespace protocol::cardfmt {
namespace {

void AppendTerminator(std::string* out, uint8_t code) {
    // Codes outside the known ones add nothing.
    if (code == TERM_CR) {
        *out += '\r';
    } else if (code == TERM_CRLF) {
        *out += "\r\n";
    }
}

std::string FieldText(const std::array<uint8_t, CONFIG_TEXT_FIELD_SIZE>& field) {
    std::string text;
    for (uint8_t b : field) {
        if (b == 0) break;
        text += static_cast<char>(b);
    }
    return text;
}

// Spaces before the first and after the last character go; every run between two
// characters is cut to `keep` spaces.
std::string TrimSpaces(const std::string& data, uint8_t keep) {
    std::string out;
    size_t run = 0;
    bool seenData = false;
    for (char c : data) {
        if (c == ' ') {
            ++run;
            continue;
        }
        if (seenData) out.append(std::min<size_t>(run, keep), ' ');
        run = 0;
        seenData = true;
        out += c;
    }
    return out;
}

}  // namespace

Card ParseCardTracks(const std::string& text) {
    Card card;
    size_t track = 0;
    for (char c : text) {
        if (c == '|') {
            if (++track == card.tracks.size()) break;
            continue;
        }
        card.tracks[track] += c;
    }
    return card;
}

Card DefaultCard() {
    return ParseCardTracks("B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|");
}

std::string FormatCardData(const ReaderConfig& config, const Card& card) {
    std::string tracks;
    bool any = false;
    for (size_t t = 0; t < 3; ++t) {
        const std::string& data = card.tracks[t];
        // A blank track is not output at all, not even its sentinels.
        if (!config.trackEnable[t] || data.empty()) continue;
        any = true;
        const size_t start = config.trackStart[t];
        const size_t length = config.trackLength[t];
        std::string part;
        if (start < data.size()) {
            part = data.substr(start, length == 0 ? std::string::npos : length);
        }
        if (t == 2 && (config.optionFlags & OPT_TRACK3_TRIM)) {
            part = TrimSpaces(part, config.trim3KeepSpaces);
        }
        if (config.startSentinel[t]) tracks += static_cast<char>(config.startSentinel[t]);
        tracks += part;
        if (config.endSentinel[t]) tracks += static_cast<char>(config.endSentinel[t]);
        AppendTerminator(&tracks, config.trackTerminator[t]);
    }
    if (!any) return {};
    std::string packet;
    if (config.optionFlags & OPT_PREFIX) packet += FieldText(config.prefix);
    packet += tracks;
    if (config.optionFlags & OPT_SUFFIX) packet += FieldText(config.suffix);
    AppendTerminator(&packet, config.packetTerminator);
    return packet;
}

}  // namespace protocol::cardfmt
