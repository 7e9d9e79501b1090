// Edit texts between the dialog's bytes and QString, one character per byte (the model is
// ui/test_box_text.h). Captions of the resources are UTF-8 and do not come through here.
#pragma once

#include <QString>
#include <QStringView>
#include <string>
#include <string_view>

#include "ui/test_box_text.h"

namespace gui {

inline QString BytesToQString(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::u16string_view U16(QStringView text) {
    return {text.utf16(), static_cast<size_t>(text.size())};
}

// Characters above U+00FF cannot be a byte: they become '?', as in an ANSI edit.
inline std::string QStringToBytes(const QString& text) {
    return ui::U16ToBytes(U16(text));
}

}  // namespace gui
