#include "gui/qt/control_symbols.h"

#include <QFontInfo>
#include <QTextCursor>
#include <algorithm>

#include "gui/qt/template_widgets.h"

namespace gui {

bool IsControlSymbol(QChar ch) {
    return ch.unicode() >= 0x2400 && ch.unicode() <= 0x2421;
}

QTextCharFormat ControlSymbolFormat(const QFont& boxFont) {
    QFont font(QString::fromLatin1(kControlPicturesFamily));
    const int pixels =
        boxFont.pixelSize() > 0 ? boxFont.pixelSize() : QFontInfo(boxFont).pixelSize();
    font.setPixelSize(std::max(1, pixels * kControlSymbolScalePercent / 100));
    QTextCharFormat format;
    format.setFont(font, QTextCharFormat::FontPropertiesSpecifiedOnly);
    return format;
}

void InsertTestBoxText(QTextCursor& cursor, const QString& text, const QFont& boxFont) {
    const QTextCharFormat plain;
    QTextCharFormat symbols;
    bool symbolsMade = false;
    qsizetype from = 0;
    while (from < text.size()) {
        const bool symbol = IsControlSymbol(text[from]);
        qsizetype end = from + 1;
        while (end < text.size() && IsControlSymbol(text[end]) == symbol) ++end;
        if (symbol && !symbolsMade) {
            symbols = ControlSymbolFormat(boxFont);
            symbolsMade = true;
        }
        cursor.insertText(text.mid(from, end - from), symbol ? symbols : plain);
        from = end;
    }
}

}  // namespace gui
