#include "runner/control_names.h"

#include "res/control_ids.h"

namespace runner {

const std::vector<std::pair<std::string_view, int>>& ControlNames() {
// The name is the constant's own spelling, so the two cannot drift apart.
#define ZARN60_NAMED(name, id) {#name, res::name},
    static const std::vector<std::pair<std::string_view, int>> names = {
        ZARN60_CONTROL_IDS(ZARN60_NAMED)};
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
