// A user's click on a button of the tool's window, for the benchmarks that drive it.
#pragma once

#include <QAbstractButton>
#include <string>

#include "gui/qt/dialog_view.h"

namespace bench {

// Clicks the button of control `id` as a user would; false with *failure when there is
// no such button or it is disabled.
inline bool ClickButton(const gui::DialogView& view, int id, std::string* failure) {
    auto* button = qobject_cast<QAbstractButton*>(view.ControlWidget(id));
    if (!button || !button->isEnabled()) {
        *failure = "control " + std::to_string(id) + " cannot be clicked";
        return false;
    }
    button->click();
    return true;
}

}  // namespace bench
