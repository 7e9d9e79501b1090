#include "gui/qt/dialog_view.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QValidator>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <utility>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/accessibility.h"
#include "gui/qt/control_symbols.h"
#include "gui/qt/file_dialog.h"
#include "gui/qt/template_widgets.h"
#include "res/resources.h"
#include "ui/accessible_names.h"
#include "ui/dialog_keys.h"
#include "ui/test_box_text.h"

namespace gui {

namespace {

// A length limit stops typing and pasting but never cuts what is already there: what
// an edit would grow past the limit is dropped from the inserted part, so a text the
// program set longer stays whole. Characters that are no byte become '?'.
class ByteLimitValidator : public QValidator {
public:
    // `control` gives the model's control, or null before a model is attached.
    ByteLimitValidator(std::function<const ui::Control*()> control, QObject* parent)
        : QValidator(parent), m_control(std::move(control)) {}

    State validate(QString& input, int& pos) const override {
        for (QChar& ch : input)
            if (ch.unicode() > 0xFF) ch = QLatin1Char('?');
        const ui::Control* c = m_control();
        if (!c || c->limit <= 0) return Acceptable;
        // The window's rule for every byte-limited edit; the cut part is the inserted
        // text's end, just before the cursor.
        const QByteArray bytes = input.toLatin1();
        const std::string kept = ui::FitEditToLimit(
            c->text, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
            static_cast<size_t>(c->limit));
        const qsizetype excess = bytes.size() - static_cast<qsizetype>(kept.size());
        if (excess == 0) return Acceptable;
        if (pos < excess) return Invalid;
        input = QString::fromLatin1(kept.data(), static_cast<qsizetype>(kept.size()));
        pos -= static_cast<int>(excess);
        return Acceptable;
    }

private:
    std::function<const ui::Control*()> m_control;
};

// The busy cursor is taken down while a modal box of a handler waits for the user.
class BusyCursorPause {
public:
    explicit BusyCursorPause(int depth) : m_depth(depth) {
        for (int i = 0; i < m_depth; ++i) QApplication::restoreOverrideCursor();
    }
    ~BusyCursorPause() {
        for (int i = 0; i < m_depth; ++i) QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    BusyCursorPause(const BusyCursorPause&) = delete;
    BusyCursorPause& operator=(const BusyCursorPause&) = delete;

private:
    int m_depth;
};

// Qt shapes and lays out a whole block of text again for every character added to it, so
// text that arrives without line breaks is kept in blocks of at most about this many
// characters: a longer last block is split where its last line starts, which shows the
// same lines. Text added a few characters at a time (the receive poll) splits the last
// block as soon as it wraps, so that each byte costs one line's layout, not a block's.
constexpr int kMaxBlockChars = 1024;
constexpr qsizetype kFewChars = 16;
// Marks a block that continues the text of the one before it (no line break between).
constexpr int kContinuesProperty = QTextFormat::UserProperty + 1;

bool ContinuesLine(const QTextBlock& block) {
    return block.blockFormat().boolProperty(kContinuesProperty);
}

QTextBlockFormat ContinuationFormat() {
    QTextBlockFormat format;
    format.setProperty(kContinuesProperty, true);
    return format;
}

// Positions in the widget's document and in the text it shows (without the splits).
int ShownPosition(const QTextDocument* doc, int widgetPos) {
    int splits = 0;
    for (QTextBlock b = doc->begin().next(); b.isValid() && b.position() <= widgetPos; b = b.next())
        if (ContinuesLine(b)) ++splits;
    return widgetPos - splits;
}

int WidgetPosition(const QTextDocument* doc, int shownPos) {
    int splits = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.position() > 0 && ContinuesLine(b)) ++splits;
        const int start = b.position() - splits;
        if (shownPos < start + b.length() || !b.next().isValid())
            return std::min(b.position() + std::max(0, shownPos - start),
                            b.position() + b.length() - 1);
    }
    return 0;
}

}  // namespace

void WidenForTitle(QMessageBox& box) {
    // A window manager cuts a title wider than the window; a message box is only as wide
    // as its text. Room for the title and the frame's buttons beside it.
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    const int width = metrics.horizontalAdvance(box.windowTitle()) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

QString ShownTestBoxText(const QPlainTextEdit* box) {
    QString text;
    const QTextDocument* doc = box->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b != doc->begin() && !ContinuesLine(b)) text += u'\n';
        text += b.text();
    }
    return text;
}

DialogView::DialogView(const res::DialogTemplate& tpl, QWidget* parent, QSize available,
                       double scale)
    : QWidget(parent), m_template(tpl), m_driver(*this, ui::kLineBreakLf) {
    setWindowFlags((parent ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(Utf8(tpl.caption));
    setWindowIcon(ProgramIcon());
    // A screen too small for the dialog (a small panel, a high scale factor) gets it laid
    // out smaller rather than with controls out of reach.
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (available.isEmpty() && screen) available = screen->availableGeometry().size();
    if (scale <= 0) scale = ScaleFromEnvironment();
    const int wanted = ScaledFontPixels(tpl, scale);
    const DialogMetrics metrics = available.isEmpty() && wanted == DialogFontPixels(tpl)
                                      ? DialogMetrics{DialogFontPixels(tpl), DialogBaseUnits(tpl)}
                                      : ChooseDialogMetrics(tpl, available, wanted);
    setFont(DialogFont(tpl, metrics.fontPixels));
    setFixedSize(DialogClientSize(tpl, metrics.units));
    if (!parent && QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Tell X11 window managers the window is a dialog (_NET_WM_WINDOW_TYPE_DIALOG)
        // while it stays a window of its own with a task-bar button: Qt's X11 platform
        // takes extra window types from this property when it makes the native window.
        constexpr int kDialogWindowType = 0x80;
        winId();
        windowHandle()->setProperty("_q_xcb_wm_window_type", kDialogWindowType);
        windowHandle()->destroy();  // made again, with the type, when it is shown
    }

    InstallAccessibleRoles();
    InstallAccessibility();
    const BaseUnits units = metrics.units;
    for (const res::ControlTemplate& t : tpl.controls) {
        // What lies in a group box is its child: a screen reader hears the box's caption
        // as the context of each control in it.
        const int box = ui::GroupBoxOf(tpl, m_widgets.size());
        QWidget* owner = box >= 0 && static_cast<size_t>(box) < m_widgets.size()
                             ? m_widgets[static_cast<size_t>(box)]
                             : this;
        QWidget* w = CreateControlWidget(t, units, owner);
        if (owner != this) w->move(w->pos() - owner->pos());
        if (t.id != res::IDC_STATIC && !m_index.count(t.id)) m_index[t.id] = m_widgets.size();
        m_widgets.push_back(w);
        Connect(m_widgets.size() - 1);
    }

    // Names for screen readers. A label beside a control is also its buddy (the "labelled
    // by" relation) when it names that control alone and as a whole: a screen reader reads
    // the relation before the name.
    for (size_t i = 0; i < m_widgets.size(); ++i) {
        int label = -1;
        std::string utf8 = ui::AccessibleNameOf(tpl, i, &label);
        if (utf8.empty()) utf8 = ui::RowNameOf(tpl, i);
        if (utf8.empty() && tpl.controls[i].kind == res::Kind::Icon)
            utf8 = ui::PlainCaption(tpl.caption);
        if (utf8.empty()) continue;
        const QString name = Utf8(utf8);
        m_widgets[i]->setAccessibleName(name);
        if (auto* combo = qobject_cast<QComboBox*>(m_widgets[i]); combo && combo->lineEdit())
            combo->lineEdit()->setAccessibleName(name);
        auto* buddy =
            label >= 0 ? qobject_cast<QLabel*>(m_widgets[static_cast<size_t>(label)]) : nullptr;
        if (buddy && buddy->text().trimmed() == name) buddy->setBuddy(m_widgets[i]);
    }
    m_announcer = new Announcer(this);

    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frames.TickStarts();
        m_driver.TimerTick();
        if (m_frames.TickEnded()) ShowAppendedText();
    });
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, [this] {
        if (!m_frames.FrameEnded()) return;
        ShowAppendedText();
        StartFrame();
    });
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] {
        if (m_dialog && m_dialog->HelpCommand() != 0) RunSystemCommand(m_dialog->HelpCommand());
    });
    // The model keeps the focus too: a failed data exchange puts it back on an edit,
    // which must work also after the user has clicked elsewhere.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || now->window() != this || !m_dialog) return;
        const int index = IndexOfWidget(now);
        if (index < 0) return;
        const int id = m_template.controls[static_cast<size_t>(index)].id;
        if (id != res::IDC_STATIC && id != m_dialog->Focus())
            m_driver.Run([&] { m_dialog->SetFocus(id); }, false);
    });
    qApp->installEventFilter(this);
}

DialogView::~DialogView() {
    if (qApp) qApp->removeEventFilter(this);
    // QWidget's destructor closes the window, which takes the focus out of an edit: that
    // runs the edit's validator and can emit signals whose handlers read this view, whose
    // members are gone by then. Cut them off while the view is still whole.
    if (qApp) disconnect(qApp, nullptr, this, nullptr);
    for (QWidget* w : m_widgets) {
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setValidator(nullptr);
        if (auto* combo = qobject_cast<QComboBox*>(w); combo && combo->isEditable())
            combo->setValidator(nullptr);
        w->disconnect(this);
    }
    for (int i = 0; i < m_busy; ++i) QApplication::restoreOverrideCursor();
}

void DialogView::Connect(size_t index) {
    QWidget* w = m_widgets[index];
    auto model = [this, index]() -> const ui::Control* {
        return m_dialog && index < m_dialog->AllControls().size() ? &m_dialog->AllControls()[index]
                                                                  : nullptr;
    };
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setValidator(new ByteLimitValidator(model, edit));
        connect(edit, &QLineEdit::textEdited, this, [this, index](const QString& text) {
            m_driver.UserEdited(index, QStringToBytes(text));
        });
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
        box->document()->setUndoRedoEnabled(false);
        m_testBoxes[index] = {};
        connect(box, &QPlainTextEdit::textChanged, this, [this, index, box] {
            if (!m_mirroring) m_driver.UserEditedTestBox(index, U16(ShownTestBoxText(box)));
        });
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        connect(button, &QAbstractButton::clicked, this, [this, index] { UserClicked(index); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable()) {
            combo->setCompleter(nullptr);  // a port number is typed as it is, not completed
            combo->setValidator(new ByteLimitValidator(model, combo));
        }
        // Typing and picking an item both change the text the handlers read.
        connect(combo, &QComboBox::editTextChanged, this, [this, index](const QString& text) {
            if (!m_mirroring) m_driver.UserEdited(index, QStringToBytes(text));
        });
        connect(combo, &QComboBox::currentIndexChanged, this, [this, index, combo](int item) {
            if (!m_mirroring && !combo->isEditable() && item >= 0)
                m_driver.UserEdited(index, QStringToBytes(combo->itemText(item)));
        });
    } else if (auto* slider = qobject_cast<QSlider*>(w)) {
        connect(slider, &QSlider::valueChanged, this, [this, index](int value) {
            if (m_mirroring) return;
            const int id = m_template.controls[index].id;
            m_driver.Run([&] { m_dialog->UserSetSlider(id, value); });
            Mirror(index);
        });
    }
}

void DialogView::Attach(ui::Dialog* dialog) {
    m_dialog = dialog;
    m_driver.Attach(dialog);
    if (!m_dialog) return;
    // The program icon is already up; another one is decoded once here.
    if (!m_dialog->Icon().empty() && m_dialog->Icon() != res::IconPng()) {
        const QImage image = DecodePng(m_dialog->Icon());
        if (!image.isNull()) setWindowIcon(QIcon(QPixmap::fromImage(image)));
    }
    for (size_t i = 0; i < m_widgets.size() && i < m_dialog->AllControls().size(); ++i) Mirror(i);
    TimerChanged(m_dialog->TimerPeriod());
}

void DialogView::BeginUserAction(bool busy) {
    if (!busy) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_busy;
}

void DialogView::EndUserAction(bool busy) {
    if (!busy) return;
    --m_busy;
    QApplication::restoreOverrideCursor();
}

int DialogView::Exec() {
    if (!m_dialog) return 0;
    if (m_dialog->IsEnded()) return m_dialog->Result();
    if (QWidget* owner = parentWidget()) {
        setWindowModality(Qt::ApplicationModal);
        // Centred over its owner, where a modal dialog is looked for.
        move(owner->window()->geometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    connect(this, &DialogView::dialogEnded, &loop, &QEventLoop::quit);
    if (!m_dialog->IsEnded()) loop.exec();
    return m_dialog->Result();
}

QWidget* DialogView::ControlWidget(int id) const {
    auto it = m_index.find(id);
    return it == m_index.end() ? nullptr : m_widgets[it->second];
}

int DialogView::IndexOfWidget(const QWidget* widget) const {
    for (; widget && widget != this; widget = widget->parentWidget()) {
        auto it = std::find(m_widgets.begin(), m_widgets.end(), widget);
        if (it != m_widgets.end()) return static_cast<int>(it - m_widgets.begin());
    }
    return -1;
}

// --- Model to widgets ---------------------------------------------------------------------

void DialogView::ControlChanged(int id) {
    auto it = m_index.find(id);
    if (m_dialog && it != m_index.end()) Mirror(it->second);
}

void DialogView::Mirror(size_t index) {
    if (!m_dialog || index >= m_dialog->AllControls().size()) return;
    const ui::Control& c = m_dialog->AllControls()[index];
    QWidget* w = m_widgets[index];
    // The focused control a handler disables or hides leaves the focus to the window (keys
    // reach the dialog, no control has them), not to the neighbour Qt would pick, which
    // the next key would press; it gets the focus back when it is enabled again.
    const bool focused = c.id != res::IDC_STATIC && c.id == m_dialog->Focus();
    if (focused && m_dialog->ShownFocus() == res::IDC_STATIC && focusWidget() &&
        (focusWidget() == w || w->isAncestorOf(focusWidget())))
        focusWidget()->clearFocus();
    auto testBoxChange = ui::ViewDriver::TestBoxChange::None;
    ++m_mirroring;
    {
        const QSignalBlocker block(w);
        if (w->isHidden() == c.visible) w->setVisible(c.visible);
        if (w->testAttribute(Qt::WA_Disabled) == c.enabled) w->setEnabled(c.enabled);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            const QString text = BytesToQString(c.text);
            if (edit->text() != text) edit->setText(text);
        } else if (qobject_cast<QPlainTextEdit*>(w)) {
            testBoxChange = MirrorTestBox(index, c);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->isCheckable() && button->isChecked() != c.checked)
                button->setChecked(c.checked);
            if (button->text() != Utf8(c.text)) button->setText(Utf8(c.text));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStringList items;
            for (const std::string& item : c.items) items << BytesToQString(item);
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
            if (shown != items) {
                combo->clear();
                combo->addItems(items);
            }
            if (combo->currentIndex() != c.curSel) combo->setCurrentIndex(c.curSel);
            if (combo->isEditable() && combo->currentText() != BytesToQString(c.text))
                combo->setEditText(BytesToQString(c.text));
        } else if (auto* slider = qobject_cast<QSlider*>(w)) {
            slider->setRange(c.rangeMin, std::max(c.rangeMin, c.rangeMax));
            // Page Up and Page Down move a fifth of the range.
            slider->setPageStep(std::max(1, (c.rangeMax - c.rangeMin) / 5));
            slider->setTickInterval(std::max(1, c.ticFreq));
            if (slider->value() != c.pos) slider->setValue(c.pos);
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            if (group->title() != Utf8(c.text)) group->setTitle(Utf8(c.text));
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->pixmap().isNull() && label->text() != Utf8(c.text))
                label->setText(Utf8(c.text));
        }
    }
    --m_mirroring;
    if (focused && m_dialog->ShownFocus() == c.id && (!focusWidget() || focusWidget() == this))
        GiveFocus(w);
    // Inside a handler nothing else gets to paint before it returns: the test box is
    // repainted at once, so each status shows while the exchange goes on; other controls
    // catch up when the handler returns (painting each of them mid-exchange only slowed
    // the exchange). Bytes the receive poll adds are not: its handler returns at once, and
    // the box is painted with the next frame like any other change.
    auto* area = qobject_cast<QPlainTextEdit*>(w);
    const bool added = ui::ViewDriver::WaitsForFrame(testBoxChange, c);
    if (area && !added && m_dialog->InHandler() && isVisible() && w->isVisible()) {
        w->repaint();
        area->viewport()->repaint();
    }
}

ui::ViewDriver::TestBoxChange DialogView::MirrorTestBox(size_t index, const ui::Control& c) {
    auto* box = static_cast<QPlainTextEdit*>(m_widgets[index]);
    TestBoxLayout& layout = m_testBoxes[index];
    const int width = box->viewport()->width();
    const bool sameWidth = layout.width == width;
    size_t kept = 0;
    const auto change = m_driver.FollowTestBox(index, !sameWidth, &kept);
    if (change == ui::ViewDriver::TestBoxChange::None) return change;
    if (!layout.fontGiven && !c.text.empty()) {
        UseTestBoxFont(box);
        layout.fontGiven = true;
    }
    const QStringView display(m_driver.ShownText(index).display);
    if (change == ui::ViewDriver::TestBoxChange::Appended) {
        m_testBoxWork += c.text.size() - c.keptBytes;
        // The poll's bytes go in with frames.
        if (layout.pendingFrom < 0) layout.pendingFrom = static_cast<qsizetype>(kept);
        if (!ui::ViewDriver::WaitsForFrame(change, c)) {
            ShowAppendedText(index);
        } else if (const auto when = m_frames.Appended(); when != ui::AppendFrames::Append::Waits) {
            ShowAppendedText(index);
            if (when == ui::AppendFrames::Append::NowAndFramesStart) StartFrame();
        }
    } else {
        ShowAppendedText(index);  // what was added is shown and told first
        if (layout.events) layout.events->Flush();
        m_testBoxWork += c.text.size();
        const QString current = ShownTestBoxText(box);
        // Every new text is said, also one equal to what the box showed (a result given
        // twice); an edit of the user's own is not read back.
        if (!m_driver.UserEditing() && layout.revision != c.textRevision) {
            if (!current.isEmpty() && display.startsWith(current) &&
                layout.revision != UINT64_MAX && display != current)
                m_announcer->Added(display.mid(current.size()).toString());
            else
                m_announcer->Replaced(display.toString());
        }
        if (current != display || !sameWidth) {
            if (m_driver.UserEditing()) {
                // The model changed what the user typed ('?' for a character that is no
                // byte): show it and keep the caret where it was.
                const int caret = ShownPosition(box->document(), box->textCursor().position());
                FillTestBox(box, display);
                QTextCursor cursor = box->textCursor();
                cursor.setPosition(WidgetPosition(
                    box->document(), std::min<int>(caret, static_cast<int>(display.size()))));
                box->setTextCursor(cursor);
            } else {
                if (sameWidth && !current.isEmpty() && display.startsWith(current))
                    AddToTestBox(box, display, current.size());  // mostly added
                else
                    FillTestBox(box, display);
                // New text is read at its end.
                box->moveCursor(QTextCursor::End);
                box->ensureCursorVisible();
            }
        }
    }
    layout.revision = c.textRevision;
    layout.width = width;
    return change;
}

void DialogView::StartFrame() {
    // No shorter than the screen's own frame.
    const QScreen* screen = this->screen();
    const qreal hz = screen && screen->refreshRate() >= 1 ? screen->refreshRate() : 60;
    m_frame.start(std::max(ui::ViewDriver::kFrameMs, qRound(1000 / hz)));
}

bool DialogView::AppendedTextWaits() const {
    return std::any_of(m_testBoxes.begin(), m_testBoxes.end(),
                       [](const auto& box) { return box.second.pendingFrom >= 0; });
}

void DialogView::ShowAppendedText() {
    m_frames.Shown();
    for (auto& [index, layout] : m_testBoxes)
        if (layout.pendingFrom >= 0) ShowAppendedText(index);
}

void DialogView::ShowAppendedText(size_t index) {
    TestBoxLayout& layout = m_testBoxes[index];
    if (layout.pendingFrom < 0) return;
    const qsizetype from = std::exchange(layout.pendingFrom, -1);
    auto* box = static_cast<QPlainTextEdit*>(m_widgets[index]);
    const QStringView display(m_driver.ShownText(index).display);
    const QString added = display.mid(from).toString();
    ++m_mirroring;
    if (!layout.events) layout.events = new CoalescedTextEvents(box);
    layout.events->Add(box->document()->characterCount() - 1, added, [&] {
        AddToTestBox(box, display, from);
        // New text is read at its end. The caret at the end moves along with the text, and
        // the box wraps its lines, so the end is in view with the scroll bar at its bottom;
        // placing the caret anew would lay out its line once more each frame.
        if (!box->textCursor().atEnd()) box->moveCursor(QTextCursor::End);
        QScrollBar* bar = box->verticalScrollBar();
        if (bar->value() != bar->maximum()) bar->setValue(bar->maximum());
    });
    --m_mirroring;
    m_announcer->Added(added);
}

void DialogView::FillTestBox(QPlainTextEdit* box, QStringView display) {
    box->clear();
    AddToTestBox(box, display, 0);
}

void DialogView::AddToTestBox(QPlainTextEdit* box, QStringView display, qsizetype from) {
    QTextDocument* doc = box->document();
    // The cursor's moves and insertions are made inside an edit block: there a cursor
    // leaves its place on the line unmeasured, which would lay out the last line once more
    // for each of them; the block's end lays it out once.
    QTextCursor cursor(doc);
    while (from < display.size()) {
        // A line break starts a block of its own; a piece of a line is added a part at a
        // time, so that no block grows far past the bound before it is split.
        const qsizetype lineEnd = display.indexOf(u'\n', from);
        cursor.beginEditBlock();
        cursor.movePosition(QTextCursor::End);
        if (lineEnd == from) {
            cursor.insertBlock(QTextBlockFormat());
            cursor.endEditBlock();
            ++from;
            continue;
        }
        const qsizetype end =
            std::min(lineEnd < 0 ? display.size() : lineEnd, from + qsizetype{kMaxBlockChars / 2});
        InsertTestBoxText(cursor, display.mid(from, end - from).toString(), box->font());
        cursor.endEditBlock();
        QTextBlock last = doc->lastBlock();
        m_testBoxWork += static_cast<uint64_t>(end - from) + static_cast<uint64_t>(last.length());
        const bool few = end - from <= kFewChars;
        from = end;
        if (last.length() <= (few ? 1 : kMaxBlockChars)) continue;
        doc->documentLayout()->blockBoundingRect(last);  // lays it out when it is not
        const QTextLayout* layout = last.layout();
        if (!layout || layout->lineCount() < 2) continue;
        const int lineStart = layout->lineAt(layout->lineCount() - 1).textStart();
        if (lineStart <= 0) continue;
        QTextCursor split(doc);
        split.setPosition(last.position() + lineStart);
        split.insertBlock(ContinuationFormat());
    }
}

void DialogView::TimerChanged(uint32_t periodMs) {
    if (periodMs == 0)
        m_timer.stop();
    else
        m_timer.start(static_cast<int>(std::min<uint32_t>(periodMs, INT32_MAX)));
}

void DialogView::FocusChanged(int id) {
    if (QWidget* w = ControlWidget(id); w && w != QApplication::focusWidget()) GiveFocus(w);
}

void DialogView::GiveFocus(QWidget* w) {
    w->setFocus(Qt::OtherFocusReason);
    // An edit the dialog gives the focus to has its text selected, so that the first
    // keystroke replaces it (a limit of 1 would refuse it otherwise). A click keeps its
    // caret where it was clicked: that focus comes from Qt, not through here.
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
}

// --- Widgets to model ---------------------------------------------------------------------

void DialogView::UserClicked(size_t index) {
    const bool second = m_doubleClicked == m_widgets[index];
    m_doubleClicked = nullptr;
    m_driver.UserClicked(index, second);
    // The model decides the check; undo what the widget did on its own.
    Mirror(index);
}

void DialogView::RunSystemCommand(uint32_t command) {
    m_driver.Run([&] { m_dialog->UserSysCommand(command); });
}

void DialogView::contextMenuEvent(QContextMenuEvent* event) {
    ShowWindowMenu(event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
}

void DialogView::ShowWindowMenu(QPoint at, bool fromKeyboard) {
    if (!m_dialog || (m_dialog->SystemMenu().empty() && !m_simulator)) return;
    // The system menu's own items: there is no system menu on every desktop.
    QMenu menu(this);
    for (const ui::Dialog::MenuItem& item : m_dialog->SystemMenu()) {
        if (item.command == 0 && item.text.empty()) {
            menu.addSeparator();
        } else {
            const uint32_t command = item.command;
            menu.addAction(Utf8(item.text), this, [this, command] { RunSystemCommand(command); });
        }
    }
    if (m_simulator) {
        QMenu* cards = menu.addMenu(QStringLiteral("Swipe a test card"));
        for (const TestCard& card : TestCards())
            cards->addAction(QString::fromUtf8(card.name), this,
                             [this, &card] { SwipeTestCard(card); });
    }
    // From the keyboard the first item is active, so that a screen reader says it at once.
    if (fromKeyboard) {
        for (QAction* action : menu.actions()) {
            if (!action->isSeparator()) {
                // Once the menu is up: an item made active before is forgotten on popping up.
                QTimer::singleShot(0, &menu, [&menu, action] { menu.setActiveAction(action); });
                break;
            }
        }
    }
    menu.exec(at);
    ReturnFromModal();
}

const std::vector<DialogView::TestCard>& DialogView::TestCards() {
    // The simulated reader's own card first; the others show track 3, its trimming of
    // spaces, and a card with one track only.
    static const std::vector<TestCard> cards = {
        {"Tracks 1 and 2", "B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|"},
        {"Tracks 1, 2 and 3",
         "B5500000000000004^ROE/JANE^3012101|5500000000000004=3012101|0112  3456  7890"},
        {"Track 2 only", "|6011000000000004=2812101|"},
    };
    return cards;
}

void DialogView::SwipeTestCard(const TestCard& card) {
    m_driver.PaceClock();  // the card passes now
    std::string error;
    if (!m_simulator(std::string("card ") + card.tracks, &error) || !m_simulator("swipe", &error))
        QMessageBox::warning(this, Utf8(ui::Dialog::ProgramName()), Utf8(error));
}

bool DialogView::HandleKey(QWidget* target, QKeyEvent* key) {
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter && key->key() != Qt::Key_Escape) return false;
    if (key->key() == Qt::Key_Escape) {
        m_driver.Run([&] { m_dialog->UserPressEscape(); });
        return true;
    }
    const int index = IndexOfWidget(target);
    if (index >= 0 && (key->modifiers() & Qt::ControlModifier)) {
        // Ctrl+Enter is the line break of a multi-line edit; plain Enter is the dialog's.
        if (auto* box = qobject_cast<QPlainTextEdit*>(m_widgets[static_cast<size_t>(index)])) {
            // A block of its own, never one that continues the line before.
            QTextCursor cursor = box->textCursor();
            cursor.insertBlock(QTextBlockFormat());
            box->setTextCursor(cursor);
            return true;
        }
    }
    // Enter on a push button that has the focus is that button's click.
    if (index >= 0 && m_template.controls[static_cast<size_t>(index)].kind == res::Kind::Button) {
        const int id = m_template.controls[static_cast<size_t>(index)].id;
        m_driver.Run([&] { m_dialog->UserClick(id); });
        return true;
    }
    m_driver.Run([&] { m_dialog->UserPressEnter(); });
    return true;
}

bool DialogView::HandleDialogKey(QWidget* target, QKeyEvent* key) {
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier) ||
        (key->key() == Qt::Key_Menu && mods == Qt::NoModifier)) {
        // Shift+F10 and the Menu key open the window's menu below the focused control, also
        // from an edit (whose own menu the right mouse button still gives).
        ShowWindowMenu(target->mapToGlobal(QPoint(0, target->height())), true);
        return true;
    }
    ui::DialogKey dialogKey;
    switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (mods & ~Qt::ShiftModifier) return false;
            dialogKey = key->key() == Qt::Key_Backtab || (mods & Qt::ShiftModifier)
                            ? ui::DialogKey::BackTab
                            : ui::DialogKey::Tab;
            break;
        case Qt::Key_Left:
            dialogKey = ui::DialogKey::Left;
            break;
        case Qt::Key_Right:
            dialogKey = ui::DialogKey::Right;
            break;
        case Qt::Key_Up:
            dialogKey = ui::DialogKey::Up;
            break;
        case Qt::Key_Down:
            dialogKey = ui::DialogKey::Down;
            break;
        default:
            return false;
    }
    if (dialogKey != ui::DialogKey::Tab && dialogKey != ui::DialogKey::BackTab &&
        mods != Qt::NoModifier)
        return false;
    // The dialog manager's keys: Tab between tab stops, arrows inside a group.
    bool used = false;
    m_driver.Run([&] { used = ui::UserKey(*m_dialog, dialogKey); }, false);
    return used;
}

bool DialogView::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // What the user does to a box acts on all it has received: text waiting for the next
    // frame is put in first (an edit would otherwise be taken for the whole text).
    if ((type == QEvent::KeyPress || type == QEvent::MouseButtonPress ||
         type == QEvent::MouseButtonDblClick || type == QEvent::InputMethod ||
         type == QEvent::ContextMenu || type == QEvent::Drop || type == QEvent::ShortcutOverride) &&
        AppendedTextWaits())
        ShowAppendedText();
    if (type == QEvent::Resize) {
        // A test box's blocks are split where its lines wrap: a new width splits anew.
        for (auto& [index, layout] : m_testBoxes) {
            auto* box = static_cast<QPlainTextEdit*>(m_widgets[index]);
            if (watched == box->viewport() && layout.width != box->viewport()->width())
                Mirror(index);
        }
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        // The Menu key, which X11 turns into a context menu event before its key press: the
        // window's menu, from an edit too.
        auto* target = qobject_cast<QWidget*>(watched);
        if (target && target->window() == this && target != this && m_dialog &&
            !m_dialog->IsEnded()) {
            ShowWindowMenu(target->mapToGlobal(QPoint(0, target->height())), true);
            return true;
        }
    }
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonPress)
        return QWidget::eventFilter(watched, event);
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != this || !m_dialog || m_dialog->IsEnded())
        return QWidget::eventFilter(watched, event);
    if (type == QEvent::MouseButtonPress) {
        m_doubleClicked = nullptr;  // a double click that gave no click is forgotten
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::MouseButtonDblClick) {
        // Qt takes the second press of a double click as a press; the click it gives is
        // the double click.
        if (qobject_cast<QAbstractButton*>(target)) m_doubleClicked = target;
        return QWidget::eventFilter(watched, event);
    }
    if (HandleDialogKey(target, static_cast<QKeyEvent*>(event))) return true;
    if (HandleKey(target, static_cast<QKeyEvent*>(event))) return true;
    return QWidget::eventFilter(watched, event);
}

void DialogView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The dialog's first focus, as the dialog placed it.
    if (m_dialog && !event->spontaneous())
        if (QWidget* w = ControlWidget(m_dialog->Focus())) GiveFocus(w);
}

void DialogView::closeEvent(QCloseEvent* event) {
    if (!m_dialog || m_dialog->IsEnded()) {
        event->accept();
        return;
    }
    // The close box is the model's: it ends the dialog (or not) through its handlers.
    event->ignore();
    m_driver.Run([&] { m_dialog->UserClose(); });
}

// --- Host -------------------------------------------------------------------------------

void DialogView::MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) {
    const BusyCursorPause pause(m_busy);
    QMessageBox box(icon == ui::MsgIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    Utf8(title.empty() ? ui::Dialog::ProgramName() : title), Utf8(text),
                    QMessageBox::Ok, this);
    WidenForTitle(box);
    box.exec();
    ReturnFromModal();
}

std::optional<std::string> DialogView::FileDialog(const ui::FileDialogRequest& request) {
    const BusyCursorPause pause(m_busy);
    std::optional<std::string> path = RunFileDialog(this, request);
    ReturnFromModal();
    return path;
}

void DialogView::ReturnFromModal() {
    // The window is active again and the focus is where the model has it (the button that
    // opened the box), whatever a screen reader or the window manager did meanwhile.
    if (!isVisible() || !m_dialog || m_dialog->IsEnded()) return;
    activateWindow();
    if (QWidget* w = ControlWidget(m_dialog->ShownFocus()))
        GiveFocus(w);
    else
        setFocus(Qt::OtherFocusReason);
    // Qt gives the focus back from a menu or a box without telling screen readers (the
    // widget had it all along as far as Qt knows): they are told here.
    if (QWidget* now = focusWidget(); now && QAccessible::isActive()) {
        QAccessibleEvent focus(now, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

void DialogView::ShowAbout() {
    const BusyCursorPause pause(m_busy);
    DialogView view(res::AboutDialogTemplate(), this);
    CAboutDlg::DoModal(view, [&view](CAboutDlg& about) {
        view.Attach(&about);
        view.Exec();
    });
    ReturnFromModal();
}

void DialogView::DialogEnded(int result) {
    m_timer.stop();
    hide();
    emit dialogEnded(result);
}

}  // namespace gui
