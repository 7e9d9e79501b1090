// Widgets from the dialog templates of res/: dialog units to pixels, the dialog font,
// the program icon, and one plain widget per control.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <string_view>
#include <vector>

#include "res/resources.h"

class QPlainTextEdit;
class QStyle;

class QWidget;

namespace gui {

// Pixels per 4 horizontal and per 8 vertical dialog units. Fixed to what the template's
// 9-point face measures at 96 dpi (6 by 12), so the layout does not depend on the fonts
// a machine happens to have.
struct BaseUnits {
    int x = 6;
    int y = 12;
};
// fontPixels: the dialog font's pixel height; 0 is the template's own (DialogFontPixels).
BaseUnits DialogBaseUnits(const res::DialogTemplate& tpl, int fontPixels = 0);
int DialogFontPixels(const res::DialogTemplate& tpl);  // the template's point size at 96 dpi

// Each edge is mapped on its own and rounded, so neighbours that share an edge in
// dialog units share it in pixels.
QRect DialogUnitsToPixels(const res::Rect& r, BaseUnits units);
QSize DialogClientSize(const res::DialogTemplate& tpl, int fontPixels = 0);

// What a window manager's title bar and borders add around a window, at most.
inline constexpr QSize kFrameAllowance{16, 40};
// Below this the dialog's texts could no longer be read.
inline constexpr int kSmallestFontPixels = 6;
// The dialog's font size and dialog units, chosen together as Windows derives
// its units from the dialog font: the template's own (12 pixels, 6 by 12) when the dialog
// fits `available` (a screen's available area, with the frame), else the largest smaller
// font at which it fits. At a smaller font the units are the font's height and at least
// half of it across, widened until every caption fits its control's rectangle in that
// font, and made taller until a line of the font fits a check box. The layout is made
// again at that size, from the dialog units, so it stays as sharp as at full size.
// `wantedPixels` (0: the template's own) is the font the user asked for with a scale
// (ZARN60_SCALE): the dialog is laid out from its dialog units at that font, and a screen
// too small for it never gets a smaller one (what the user asked for comes first). An
// empty `available` is a screen of any size.
struct DialogMetrics {
    int fontPixels = 0;
    BaseUnits units;
};
DialogMetrics ChooseDialogMetrics(const res::DialogTemplate& tpl, QSize available,
                                  int wantedPixels = 0);

// The window's own scale: ZARN60_SCALE in the environment ("1.5", "2"), from 1 to 4; 1 when
// it is unset or no such number. The dialog's face and sizes grow from a larger font, as
// dialog units are made for, so screen readers and magnifiers get the true geometry (Qt's
// own QT_SCALE_FACTOR hands them unscaled positions).
inline constexpr char kScaleVariable[] = "ZARN60_SCALE";
double ScaleFromEnvironment();
// The dialog font's pixel height at `scale`.
int ScaledFontPixels(const res::DialogTemplate& tpl, double scale);
QSize DialogClientSize(const res::DialogTemplate& tpl, BaseUnits units);

// Pixels across that the caption of a control needs in `metrics`' font and `style`, at the
// control's pixel height `height`: the text, and the indicator, spacing or margins its kind
// adds. 0 for controls without a caption.
int CaptionWidth(const res::ControlTemplate& c, const QFontMetrics& metrics, const QStyle* style,
                 int height);

// A check box's or radio button's indicator as tall as the style draws it, but never
// taller than its control: the style of every check box and radio button of a dialog.
QStyle* IndicatorStyle();

// The template's face when the machine has it, else a CJK-capable one, at the pixel
// size the template's point size has at 96 dpi.
QFont DialogFont(const res::DialogTemplate& tpl, int fontPixels = 0);

// The family asked for the control-byte symbols (U+2400 to U+2421) of the test box: the
// dialog's faces do not have them.
inline constexpr char kControlPicturesFamily[] = "FreeSans";
// The dialog's font, with that family added for the characters its faces lack.
QFont TestBoxFont(const QFont& dialogFont);
// Gives the test box that font. The view calls it with the box's first text rather than
// when it is made: an empty box shows no character, and laying it out in a font of its
// own was a measurable part of the window's start-up.
void UseTestBoxFont(QPlainTextEdit* box);

// A dialog's own PNG icon, read by Qt's PNG reader (icon 128 needs none: ProgramIcon).
QImage DecodePng(const std::vector<uint8_t>& png);
QIcon ProgramIcon();  // icon 128, from the pixels made at build time

QString Utf8(std::string_view text);

// Screen readers hear radio buttons as radio buttons, also those that leave their
// partners to the dialog (Qt would report those as check boxes).
void InstallAccessibleRoles();

// A plain widget for one control of a template, placed at its rectangle, in its initial
// state (hidden, disabled) and with its caption. Group boxes are pushed to the back so
// that they never take the clicks meant for the controls inside them.
QWidget* CreateControlWidget(const res::ControlTemplate& control, BaseUnits units, QWidget* parent);

}  // namespace gui
