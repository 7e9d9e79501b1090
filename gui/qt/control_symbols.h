// The test box shows control bytes as symbols (U+2400 to U+2421) whose glyphs hold the
// byte's abbreviation in small letters: at the text's own size "STX" and "ETX" cannot be
// told apart. They are set larger than the text, so that the letters inside can be read.
#pragma once

#include <QFont>
#include <QString>
#include <QTextCharFormat>

class QTextCursor;

namespace gui {

// How much larger than the box's text a control symbol is set.
inline constexpr int kControlSymbolScalePercent = 175;

bool IsControlSymbol(QChar ch);

// The format of control symbols in a box whose font is `boxFont`.
QTextCharFormat ControlSymbolFormat(const QFont& boxFont);

// Inserts shown text at the cursor: control symbols in their format, the rest in the
// box's own.
void InsertTestBoxText(QTextCursor& cursor, const QString& text, const QFont& boxFont);

}  // namespace gui
