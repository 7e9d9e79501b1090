#include "runner/control_names.h"

#include "app/zarn60_tool_dlg.h"

namespace runner {

const std::vector<std::pair<std::string_view, int>>& ControlNames() {
// The name is the constant's own spelling, so the two cannot drift apart.
#define ZARN60_NAMED(id) \
    { #id, id }
    static const std::vector<std::pair<std::string_view, int>> names = {
        ZARN60_NAMED(IDC_TRACK1_SS),
        ZARN60_NAMED(IDC_TRACK2_SS),
        ZARN60_NAMED(IDC_TRACK3_SS),
        ZARN60_NAMED(IDC_TRACK1_ES),
        ZARN60_NAMED(IDC_TRACK2_ES),
        ZARN60_NAMED(IDC_TRACK3_ES),
        ZARN60_NAMED(IDC_OUTPUT_TRACK1),
        ZARN60_NAMED(IDC_OUTPUT_TRACK2),
        ZARN60_NAMED(IDC_OUTPUT_TRACK3),
        ZARN60_NAMED(IDC_END_TRACK1),
        ZARN60_NAMED(IDC_END_TRACK2),
        ZARN60_NAMED(IDC_END_TRACK3),
        ZARN60_NAMED(IDC_END_PACKET),
        ZARN60_NAMED(IDC_DOWNLOAD),
        ZARN60_NAMED(IDC_FACTORY),
        ZARN60_NAMED(IDC_EXIT),
        ZARN60_NAMED(IDC_STATUS_LABEL),
        ZARN60_NAMED(IDC_USB_SPEED),
        ZARN60_NAMED(IDC_DISABLE_SS),
        ZARN60_NAMED(IDC_DISABLE_ES),
        ZARN60_NAMED(IDC_USB_HID_MODE),
        ZARN60_NAMED(IDC_PREFIX_CHECK),
        ZARN60_NAMED(IDC_SUFFIX_CHECK),
        ZARN60_NAMED(IDC_PREFIX),
        ZARN60_NAMED(IDC_SUFFIX),
        ZARN60_NAMED(IDC_DISABLE_AUTO_OUTPUT),
        ZARN60_NAMED(IDC_TRIM_NO_CHANGE),
        ZARN60_NAMED(IDC_TRIM_SPACES),
        ZARN60_NAMED(IDC_TRIM_COUNT),
        ZARN60_NAMED(IDC_BEEP_ON),
        ZARN60_NAMED(IDC_BEEP_OFF),
        ZARN60_NAMED(IDC_HIDDEN_VALUE),
        ZARN60_NAMED(IDC_UPLOAD),
        ZARN60_NAMED(IDC_LOAD_FILE),
        ZARN60_NAMED(IDC_TRACK1_CRLF),
        ZARN60_NAMED(IDC_TRACK1_CR),
        ZARN60_NAMED(IDC_TRACK2_CRLF),
        ZARN60_NAMED(IDC_TRACK2_CR),
        ZARN60_NAMED(IDC_TRACK3_CRLF),
        ZARN60_NAMED(IDC_TRACK3_CR),
        ZARN60_NAMED(IDC_PACKET_CRLF),
        ZARN60_NAMED(IDC_PACKET_CR),
        ZARN60_NAMED(IDC_COM),
        ZARN60_NAMED(IDC_SAVE_FILE),
        ZARN60_NAMED(IDC_TEST_BOX),
        ZARN60_NAMED(IDC_CLEAR),
        ZARN60_NAMED(IDC_OPEN),
        ZARN60_NAMED(IDC_STX_NO),
        ZARN60_NAMED(IDC_STX_YES),
        ZARN60_NAMED(IDC_READ_CARD),
        ZARN60_NAMED(IDC_GET_VERSION),
        ZARN60_NAMED(IDC_SERIAL_PORT),
        ZARN60_NAMED(IDC_USB),
        ZARN60_NAMED(IDC_TRACK1_END),
        ZARN60_NAMED(IDC_TRACK2_END),
        ZARN60_NAMED(IDC_TRACK3_END),
        ZARN60_NAMED(IDC_BUTTON12),
        ZARN60_NAMED(IDC_TRACK1_START),
        ZARN60_NAMED(IDC_TRACK2_START),
        ZARN60_NAMED(IDC_TRACK3_START),
    };
#undef ZARN60_NAMED
    return names;
}

std::optional<int> ControlIdByName(std::string_view name) {
    for (const auto& [n, id] : ControlNames()) {
        if (n == name) return id;
    }
    return std::nullopt;
}

}  // namespace runner
