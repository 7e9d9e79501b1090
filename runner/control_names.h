// The symbolic names scripts may use for the main dialog's controls: the names of
// res/control_ids.h, as the dialog's own code spells them (IDC_DOWNLOAD for 1013).
#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace runner {

// Every named control, in id order.
const std::vector<std::pair<std::string_view, int>>& ControlNames();

// The id a name stands for; nothing for an unknown name.
std::optional<int> ControlIdByName(std::string_view name);

}  // namespace runner
