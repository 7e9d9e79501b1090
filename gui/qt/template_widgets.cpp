#include "gui/qt/template_widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHash>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionButton>
#include <cmath>

namespace gui {

namespace {

// What a group box's frame adds to its caption's width: the indent before it, the gap
// around it and the frame's right edge.
constexpr int kGroupCaptionRoom = 16;

// A group box as the templates are laid out for: an etched frame whose top line runs
// through the middle of the caption, the caption near the left corner. Qt's styles put
// the caption above the frame, which pushes the frame onto the controls inside it.
class GroupFrame : public QGroupBox {
public:
    GroupFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics fm(font());
        const QRect frame = rect().adjusted(0, fm.height() / 2, -2, -2);
        Outline(painter, frame, palette().color(QPalette::Dark));
        Outline(painter, frame.translated(1, 1), palette().color(QPalette::Light));
        if (title().isEmpty()) return;
        const QRect caption(kCaptionIndent, 0, fm.horizontalAdvance(title()) + 4, fm.height());
        painter.fillRect(caption, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, title());
    }

private:
    // What drawRect(r) paints with a one-pixel pen (r.width() + 1 pixels across), as four
    // solid fills: the line stroker costs far more for the same pixels.
    static void Outline(QPainter& painter, const QRect& r, const QColor& color) {
        const int right = r.x() + r.width();
        const int bottom = r.y() + r.height();
        painter.fillRect(QRect(r.x(), r.y(), r.width() + 1, 1), color);
        painter.fillRect(QRect(r.x(), bottom, r.width() + 1, 1), color);
        painter.fillRect(QRect(r.x(), r.y(), 1, r.height() + 1), color);
        painter.fillRect(QRect(right, r.y(), 1, r.height() + 1), color);
    }

    static constexpr int kCaptionIndent = 7;
};

// A check box or radio button takes a click anywhere on its rectangle, as Windows'
// buttons do, not only on its indicator and caption.
template <class Button>
class WholeRectButton : public Button {
public:
    using Button::Button;

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

class RadioAccessible : public QAccessibleWidget {
public:
    explicit RadioAccessible(QRadioButton* radio)
        : QAccessibleWidget(radio, QAccessible::RadioButton) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && accessibleName().isEmpty()) {
            QString name = Radio()->text();
            return name.remove(u'&').trimmed();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State st = QAccessibleWidget::state();
        st.checkable = true;
        st.checked = Radio()->isChecked();
        return st;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            Radio()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QRadioButton* Radio() const { return static_cast<QRadioButton*>(widget()); }
    QString accessibleName() const { return widget()->accessibleName(); }
};

QAccessibleInterface* AccessibleFactory(const QString&, QObject* object) {
    // Asked when the widget is made, before the dialog turns autoExclusive off.
    if (auto* radio = qobject_cast<QRadioButton*>(object)) return new RadioAccessible(radio);
    return nullptr;
}

// MulDiv: rounded to the nearest, halves away from zero.
int MulDiv(int value, int mul, int div) {
    const long long p = static_cast<long long>(value) * mul;
    return static_cast<int>(p >= 0 ? (2 * p + div) / (2 * div) : -((-2 * p + div) / (2 * div)));
}

int FontPixels(const res::DialogTemplate& tpl, int fontPixels) {
    return fontPixels > 0 ? fontPixels : DialogFontPixels(tpl);
}

}  // namespace

int DialogFontPixels(const res::DialogTemplate& tpl) {
    return MulDiv(tpl.fontPoints, 96, 72);
}

BaseUnits DialogBaseUnits(const res::DialogTemplate& tpl, int fontPixels) {
    // The Song face has half-width Latin letters: the average character is half the height.
    const int height = FontPixels(tpl, fontPixels);
    return BaseUnits{height / 2, height};
}

namespace {

class IndicatorProxy : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        const bool indicator = metric == PM_IndicatorWidth || metric == PM_IndicatorHeight ||
                               metric == PM_ExclusiveIndicatorWidth ||
                               metric == PM_ExclusiveIndicatorHeight;
        if (!indicator || !widget || widget->height() <= 0) return value;
        return std::min(value, widget->height());
    }
};

bool IsIndicatorKind(res::Kind kind) {
    return kind == res::Kind::Check || kind == res::Kind::Radio;
}

// Every seen caption fits its rectangle at these units, and a line of the font fits each
// check box and radio button.
bool CaptionsFit(const res::DialogTemplate& tpl, const QFontMetrics& fm, const QStyle* style,
                 BaseUnits units, bool* tooLow) {
    *tooLow = false;
    bool fits = true;
    for (const res::ControlTemplate& c : tpl.controls) {
        if (c.style & res::STYLE_HIDDEN) continue;  // never seen
        const QRect r = DialogUnitsToPixels(c.rect, units);
        if (IsIndicatorKind(c.kind) && fm.height() > r.height()) *tooLow = true;
        if (CaptionWidth(c, fm, style, r.height()) > r.width()) fits = false;
    }
    return fits && !*tooLow;
}

}  // namespace

QStyle* IndicatorStyle() {
    static QStyle* style = [] {
        auto* proxy = new IndicatorProxy(QApplication::style()->name());
        proxy->setParent(qApp);
        return proxy;
    }();
    return style;
}

int CaptionWidth(const res::ControlTemplate& c, const QFontMetrics& fm, const QStyle* style,
                 int height) {
    if (c.caption.empty()) return 0;
    const int text = fm.horizontalAdvance(Utf8(c.caption));
    switch (c.kind) {
        case res::Kind::Label:
            return text;
        case res::Kind::Check:
        case res::Kind::Radio: {
            // As the button measures itself: indicator, spacing and the focus frame's margin
            // around the text, with the indicator no taller than the control.
            QStyleOptionButton option;
            option.text = Utf8(c.caption);
            option.fontMetrics = fm;
            const QSize textSize =
                style->itemTextRect(fm, QRect(), Qt::TextShowMnemonic, false, option.text).size();
            const bool check = c.kind == res::Kind::Check;
            const int full = style->pixelMetric(check ? QStyle::PM_IndicatorWidth
                                                      : QStyle::PM_ExclusiveIndicatorWidth);
            const int measured =
                style
                    ->sizeFromContents(check ? QStyle::CT_CheckBox : QStyle::CT_RadioButton,
                                       &option, textSize, nullptr)
                    .width();
            return measured - full + std::min(full, height);
        }
        case res::Kind::Button:
            return text + style->pixelMetric(QStyle::PM_ButtonMargin);
        case res::Kind::Group:
            return text + kGroupCaptionRoom;
        default:
            return 0;
    }
}

double ScaleFromEnvironment() {
    bool ok = false;
    const double scale = qEnvironmentVariable(kScaleVariable).trimmed().toDouble(&ok);
    return ok && scale >= 1.0 && scale <= 4.0 ? scale : 1.0;
}

int ScaledFontPixels(const res::DialogTemplate& tpl, double scale) {
    return static_cast<int>(std::lround(DialogFontPixels(tpl) * scale));
}

DialogMetrics ChooseDialogMetrics(const res::DialogTemplate& tpl, QSize available,
                                  int wantedPixels) {
    const QRect screen(QPoint(0, 0), available);
    const QStyle* style = IndicatorStyle();
    const int own = DialogFontPixels(tpl);
    const int wanted = wantedPixels > 0 ? wantedPixels : own;
    // Only the template's own size gives way to a small screen.
    const int smallest = wanted > own ? wanted : kSmallestFontPixels;
    for (int pixels = wanted;; --pixels) {
        DialogMetrics m{pixels, DialogBaseUnits(tpl, pixels)};
        if (pixels != own) {
            const QFontMetrics fm(DialogFont(tpl, pixels));
            bool tooLow = false;
            for (int step = 0; step < 4 * pixels && !CaptionsFit(tpl, fm, style, m.units, &tooLow);
                 ++step) {
                if (tooLow)
                    ++m.units.y;
                else
                    ++m.units.x;
            }
        }
        const QSize client = DialogClientSize(tpl, m.units);
        if (pixels <= smallest || available.isEmpty() ||
            screen.contains(QRect(QPoint(0, 0), client + kFrameAllowance)))
            return m;
    }
}

QRect DialogUnitsToPixels(const res::Rect& r, BaseUnits units) {
    const int left = MulDiv(r.x, units.x, 4);
    const int top = MulDiv(r.y, units.y, 8);
    const int right = MulDiv(r.x + r.w, units.x, 4);
    const int bottom = MulDiv(r.y + r.h, units.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogClientSize(const res::DialogTemplate& tpl, int fontPixels) {
    return DialogClientSize(tpl, DialogBaseUnits(tpl, fontPixels));
}

QSize DialogClientSize(const res::DialogTemplate& tpl, BaseUnits units) {
    return DialogUnitsToPixels(res::Rect{0, 0, tpl.width, tpl.height}, units).size();
}

namespace {

// Asking fontconfig whether a family is installed costs as much as laying out a line, so
// each answer is kept for the run (the dialog's font is asked for more than once).
bool Installed(const QString& family) {
    static QHash<QString, bool> known;
    auto it = known.constFind(family);
    if (it == known.constEnd()) it = known.insert(family, QFontDatabase::hasFamily(family));
    return *it;
}

}  // namespace

QFont DialogFont(const res::DialogTemplate& tpl, int fontPixels) {
    // Only the faces the machine has, in order: each missing one would be looked up in
    // vain whenever text is laid out.
    QStringList families;
    for (const QString& family :
         {Utf8(tpl.fontName), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
          QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Droid Sans Fallback")}) {
        if (Installed(family)) families << family;
    }
    QFont font;
    if (!families.isEmpty()) font.setFamilies(families);
    font.setPixelSize(FontPixels(tpl, fontPixels));
    return font;
}

QFont TestBoxFont(const QFont& dialogFont) {
    QFont font = dialogFont;
    QStringList families = font.families();
    if (families.isEmpty()) families << font.family();
    if (Installed(QLatin1String(kControlPicturesFamily)))
        families << QLatin1String(kControlPicturesFamily);
    font.setFamilies(families);
    return font;
}

void UseTestBoxFont(QPlainTextEdit* box) {
    if (!box->parentWidget()) return;
    const QFont wanted = TestBoxFont(box->parentWidget()->font());
    if (box->font() != wanted) box->setFont(wanted);
}

QImage DecodePng(const std::vector<uint8_t>& png) {
    QByteArray bytes(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size()));
    QBuffer buffer(&bytes);
    // Named and not guessed: guessing asks every image plugin (and loads its libraries).
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon ProgramIcon() {
    // Pixels made at build time: Qt's image readers would look through every image plugin
    // installed (and map each) before its PNG reader runs.
    const res::IconImage icon = res::IconPixels();
    const QImage image(icon.rgba, icon.width, icon.height, icon.width * 4, QImage::Format_RGBA8888);
    return QIcon(QPixmap::fromImage(image));
}

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void InstallAccessibleRoles() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(AccessibleFactory);
}

QWidget* CreateControlWidget(const res::ControlTemplate& control, BaseUnits units,
                             QWidget* parent) {
    QRect rect = DialogUnitsToPixels(control.rect, units);
    const QString caption = Utf8(control.caption);
    QWidget* widget = nullptr;
    switch (control.kind) {
        case res::Kind::Edit:
            if (control.style & res::STYLE_MULTILINE) {
                // Its font comes with its first text (UseTestBoxFont).
                auto* edit = new QPlainTextEdit(parent);
                edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
                edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                edit->setTabChangesFocus(true);
                widget = edit;
            } else {
                auto* edit = new QLineEdit(parent);
                edit->setTextMargins(0, 0, 0, 0);
                widget = edit;
            }
            break;
        case res::Kind::Check:
            widget = new WholeRectButton<QCheckBox>(caption, parent);
            break;
        case res::Kind::Radio: {
            auto* radio = new WholeRectButton<QRadioButton>(caption, parent);
            // Only a user's click clears the partner, and the model does that.
            radio->setAutoExclusive(false);
            widget = radio;
            break;
        }
        case res::Kind::Button: {
            auto* button = new QPushButton(caption, parent);
            button->setAutoDefault(false);
            button->setDefault(control.style & res::STYLE_DEFAULT);
            widget = button;
            break;
        }
        case res::Kind::Combo: {
            auto* combo = new QComboBox(parent);
            if (control.style & res::STYLE_DROPDOWN) {
                // Given its edit this way rather than by setEditable(), which also builds
                // the drop-down list's view at once: that is made when it first drops down.
                auto* edit = new QLineEdit(combo);
                edit->setPalette(combo->palette());
                combo->setLineEdit(edit);
            }
            combo->setInsertPolicy(QComboBox::NoInsert);
            // The template's height includes the drop-down list; the box itself is one
            // line of the font high.
            rect.setHeight(std::min(rect.height(), units.y + 9));
            widget = combo;
            break;
        }
        case res::Kind::Slider: {
            auto* slider = new QSlider(Qt::Horizontal, parent);
            slider->setTickPosition((control.style & res::STYLE_NOTICKS) ? QSlider::NoTicks
                                                                         : QSlider::TicksBelow);
            widget = slider;
            break;
        }
        case res::Kind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            // Rectangles are one line of the template's font high; a face with a taller
            // line would lose its descenders. The label reaches a little lower instead,
            // and lets clicks through to whatever lies there.
            const int oneLine = label->heightForWidth(QWIDGETSIZE_MAX);
            rect.setHeight(std::max(rect.height(), oneLine));
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = label;
            break;
        }
        case res::Kind::Group:
            // The controls inside are its children; it leaves the clicks between them to
            // the dialog.
            widget = new GroupFrame(caption, parent);
            break;
        case res::Kind::Icon: {
            auto* label = new QLabel(parent);
            const QPixmap pixmap = ProgramIcon().pixmap(32, 32);
            label->setPixmap(pixmap);
            // An icon control takes the size of its icon.
            rect.setSize(pixmap.size());
            widget = label;
            break;
        }
    }
    widget->setGeometry(rect);
    if (IsIndicatorKind(control.kind)) widget->setStyle(IndicatorStyle());
    if (control.style & res::STYLE_DISABLED) widget->setEnabled(false);
    if (control.style & res::STYLE_HIDDEN) widget->hide();
    if (control.kind == res::Kind::Group) widget->lower();
    return widget;
}

}  // namespace gui
