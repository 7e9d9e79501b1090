// The state of a dialog's controls as a user sees them, to compare before and after an
// operation. Free of the test framework: the fuzz targets use it too.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"

namespace testsupport {

// One control as a user sees it.
struct ControlState {
    int id;
    std::string text;
    bool checked, enabled, visible;
    int limit, pos;
    bool operator==(const ControlState&) const = default;
};

inline std::vector<ControlState> Snapshot(const ui::Dialog& dlg) {
    std::vector<ControlState> all;
    for (int id : dlg.ControlIds()) {
        const ui::Control& c = dlg.GetControl(id);
        all.push_back({id, c.text, c.checked, c.enabled, c.visible, c.limit, c.pos});
    }
    return all;
}

// Without the test box, whose text most operations change.
inline std::vector<ControlState> WithoutTestBox(std::vector<ControlState> all) {
    std::erase_if(all, [](const ControlState& c) { return c.id == IDC_TEST_BOX; });
    return all;
}

}  // namespace testsupport
