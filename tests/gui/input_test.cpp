// What a user does in the window reaches the model as the headless runner's commands do,
// and what handlers do shows at once, also in the middle of a handler.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <memory>

#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"
#include "gui/qt/text_codec.h"
#include "gui_test_support.h"

namespace {

using guitest::AnswerNextModal;
using guitest::ExpectMirrors;
using guitest::RecordingDialog;
using Event = RecordingDialog::Event;

constexpr int PREFIX = 1023, SUFFIX = 1024, TRACK1_SS = 1000, TEST_BOX = 1052, COM = 1050,
              SLIDER = 1017, DOWNLOAD = 1013, BEEP_ON = 1036, BEEP_OFF = 1037, CHECK = 1018;

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        view = std::make_unique<gui::DialogView>(res::MainDialogTemplate());
        dlg.SetHost(view.get());
        dlg.Create();
        dlg.LimitText(PREFIX, 15);
        dlg.LimitText(TRACK1_SS, 1);
        view->Attach(&dlg);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        dlg.events.clear();
    }
    void TearDown() override {
        dlg.SetHost(nullptr);
        view.reset();
    }
    QWidget* W(int id) { return view->ControlWidget(id); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(W(id)); }
    int Count(Event e) const {
        return static_cast<int>(std::count(dlg.events.begin(), dlg.events.end(), e));
    }

    RecordingDialog dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(InputTest, ClickAndDoubleClickAsThePlatformSendsThem) {
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_EQ(dlg.events, (std::vector<Event>{{ui::BN_CLICKED, DOWNLOAD}}));

    // press, release, the second press as a double click, release.
    dlg.events.clear();
    QWidget* off = W(BEEP_OFF);
    const QPoint box(6, off->height() / 2);
    QTest::mouseClick(off, Qt::LeftButton, {}, box);
    QTest::mouseDClick(off, Qt::LeftButton, {}, box);
    QTest::mouseRelease(off, Qt::LeftButton, {}, box);
    EXPECT_EQ(dlg.events, (std::vector<Event>{{ui::BN_CLICKED, BEEP_OFF},
                                              {ui::BN_CLICKED, BEEP_OFF},
                                              {ui::BN_DOUBLECLICKED, BEEP_OFF}}));
    EXPECT_TRUE(dlg.IsChecked(BEEP_OFF));
    ExpectMirrors(*view, dlg);

    // A double click released off the button gives no click; the next click is a
    // plain one.
    dlg.events.clear();
    QTest::mouseDClick(off, Qt::LeftButton, {}, box);
    QTest::mouseRelease(off, Qt::LeftButton, {}, QPoint(-50, -50));
    QTest::mouseClick(off, Qt::LeftButton, {}, box);
    EXPECT_EQ(dlg.events, (std::vector<Event>{{ui::BN_CLICKED, BEEP_OFF}}));
}

TEST_F(InputTest, RadiosAreNotExclusiveForTheProgram) {
    dlg.SetCheck(BEEP_ON, true);
    dlg.SetCheck(BEEP_OFF, true);
    EXPECT_TRUE(qobject_cast<QAbstractButton*>(W(BEEP_ON))->isChecked());
    EXPECT_TRUE(qobject_cast<QAbstractButton*>(W(BEEP_OFF))->isChecked());
    // A user's click checks one and clears its partner; a second click leaves it checked.
    QTest::mouseClick(W(BEEP_ON), Qt::LeftButton, {}, QPoint(6, W(BEEP_ON)->height() / 2));
    EXPECT_FALSE(dlg.IsChecked(BEEP_OFF));
    QTest::mouseClick(W(BEEP_ON), Qt::LeftButton, {}, QPoint(6, W(BEEP_ON)->height() / 2));
    EXPECT_TRUE(dlg.IsChecked(BEEP_ON));
    ExpectMirrors(*view, dlg);
}

TEST_F(InputTest, DisabledAndHiddenControlsTakeNoInput) {
    dlg.EnableControl(CHECK, false);
    QTest::mouseClick(W(CHECK), Qt::LeftButton, {}, QPoint(6, W(CHECK)->height() / 2));
    dlg.EnableControl(CHECK, true);
    dlg.ShowControl(DOWNLOAD, false);
    EXPECT_TRUE(W(DOWNLOAD)->isHidden());
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_TRUE(dlg.events.empty());
    EXPECT_FALSE(dlg.IsChecked(CHECK));
}

TEST_F(InputTest, TypingSendsOneChangePerKeystroke) {
    Edit(PREFIX)->setFocus();
    QTest::keyClicks(Edit(PREFIX), "AB");
    EXPECT_EQ(dlg.GetText(PREFIX), "AB");
    EXPECT_EQ(Count({ui::EN_CHANGE, PREFIX}), 2);
    QTest::keyClick(Edit(PREFIX), Qt::Key_Backspace);
    EXPECT_EQ(dlg.GetText(PREFIX), "A");
    EXPECT_EQ(Count({ui::EN_CHANGE, PREFIX}), 3);
    EXPECT_EQ(dlg.Focus(), PREFIX);
}

TEST_F(InputTest, LimitStopsTypingAndCutsPastesButNeverAProgramText) {
    Edit(PREFIX)->setFocus();
    QTest::keyClicks(Edit(PREFIX), "0123456789ABCDEFGH");
    EXPECT_EQ(dlg.GetText(PREFIX), "0123456789ABCDE");
    EXPECT_EQ(Edit(PREFIX)->text(), QStringLiteral("0123456789ABCDE"));

    // A paste keeps what fits, from its start.
    Edit(PREFIX)->setText(QString());
    dlg.SetText(PREFIX, "0123456789");
    Edit(PREFIX)->end(false);
    QApplication::clipboard()->setText(QStringLiteral("abcdefgh"));
    Edit(PREFIX)->paste();
    EXPECT_EQ(dlg.GetText(PREFIX), "0123456789abcde");

    // The program may set a longer text; it stays whole, and typing cannot grow it.
    dlg.SetText(TRACK1_SS, "%%%");
    EXPECT_EQ(Edit(TRACK1_SS)->text(), QStringLiteral("%%%"));
    Edit(TRACK1_SS)->setFocus();
    Edit(TRACK1_SS)->end(false);
    QTest::keyClicks(Edit(TRACK1_SS), "x");
    EXPECT_EQ(dlg.GetText(TRACK1_SS), "%%%");
    // Deleting is still typing, and allowed.
    QTest::keyClick(Edit(TRACK1_SS), Qt::Key_Backspace);
    EXPECT_EQ(dlg.GetText(TRACK1_SS), "%%");
    ExpectMirrors(*view, dlg);
}

TEST_F(InputTest, EditTextsAreBytesOneCharacterEach) {
    const std::string bytes(
        "\xE9\x01\xFF"
        "a",
        4);
    dlg.SetText(PREFIX, bytes);
    EXPECT_EQ(Edit(PREFIX)->text().size(), 4);
    EXPECT_EQ(gui::QStringToBytes(Edit(PREFIX)->text()), bytes);
    // A character that is no byte becomes '?', as in an edit of bytes.
    Edit(PREFIX)->setFocus();
    Edit(PREFIX)->end(false);
    Edit(PREFIX)->insert(QStringLiteral("确"));
    EXPECT_EQ(dlg.GetText(PREFIX), bytes + "?");
    EXPECT_EQ(Edit(PREFIX)->text(), gui::BytesToQString(bytes + "?"));
}

TEST_F(InputTest, ComboTextTypedOrPicked) {
    dlg.EnableControl(COM, true);
    auto* combo = qobject_cast<QComboBox*>(W(COM));
    combo->lineEdit()->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), " 3x");
    EXPECT_EQ(dlg.GetText(COM), " 3x");
    dlg.ComboAddString(COM, "1");
    dlg.ComboAddString(COM, "2");
    combo->setCurrentIndex(1);  // what picking from the list does
    EXPECT_EQ(dlg.GetText(COM), "2");
    ExpectMirrors(*view, dlg);
}

TEST_F(InputTest, TrackbarMovesReachTheModel) {
    dlg.SliderSetRange(SLIDER, 0, 7, false);
    dlg.SliderSetPos(SLIDER, 6);
    auto* slider = qobject_cast<QSlider*>(W(SLIDER));
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(dlg.SliderGetPos(SLIDER), 5);
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(dlg.SliderGetPos(SLIDER), 7);
    dlg.SliderSetPos(SLIDER, 2);
    EXPECT_EQ(slider->value(), 2);
}

TEST_F(InputTest, EnterEscapeAndTheFocusedButton) {
    // Enter on a focused push button is its click, elsewhere the OK processing.
    W(DOWNLOAD)->setFocus();
    QTest::keyClick(W(DOWNLOAD), Qt::Key_Return);
    EXPECT_EQ(dlg.events, (std::vector<Event>{{ui::BN_CLICKED, DOWNLOAD}}));
    EXPECT_FALSE(dlg.IsEnded());

    Edit(PREFIX)->setFocus();
    QTest::keyClick(Edit(PREFIX), Qt::Key_Escape);
    EXPECT_EQ(dlg.events.back(), (Event{RecordingDialog::CANCEL, 0}));
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.Result(), ui::IDCANCEL);
}

TEST_F(InputTest, MessageBoxOfAHandlerHasTheProgramsTitleAndItsIcon) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    bool cursorDown = false;
    dlg.inHandler = [this](Event e) {
        if (e.id == DOWNLOAD) dlg.MessageBox("Track1 Err start end", ui::MsgIcon::Exclamation);
    };
    AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        // The busy cursor is down while the user reads.
        cursorDown = QApplication::overrideCursor() == nullptr;
        box->accept();
    });
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(title, gui::Utf8(ui::Dialog::ProgramName()));
    EXPECT_EQ(text, QStringLiteral("Track1 Err start end"));
    EXPECT_TRUE(cursorDown);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    dlg.inHandler = [this](Event e) {
        if (e.id == DOWNLOAD) dlg.MessageBox("plain", ui::MsgIcon::None);
    };
    AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        box->accept();
    });
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST_F(InputTest, TheCloseBoxAndTheSystemCommands) {
    view->close();
    EXPECT_EQ(dlg.events, (std::vector<Event>{{RecordingDialog::SYSCOMMAND, 0xF060}}));
    // The recording map keeps the dialog open: the close box belongs to the model.
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(view->isVisible());
}

TEST_F(InputTest, TestBoxShowsControlBytesAndScrollsToItsEnd) {
    dlg.SetText(TEST_BOX, std::string("A\x02"
                                      "B\r\nC\rD\nE\x7f\x00",
                                      12));
    auto* box = qobject_cast<QPlainTextEdit*>(W(TEST_BOX));
    EXPECT_EQ(box->toPlainText(),
              QStringLiteral("A\u2402B\u240D\u240A\nC\u240D\nD\u240A\nE\u2421\u2400"));

    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i) + "\r\n";
    dlg.SetText(TEST_BOX, lines);
    QScrollBar* bar = box->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // Bytes arriving one by one are added at the end, and stay in view.
    dlg.SetText(TEST_BOX, lines + "X");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(box->toPlainText().endsWith(QStringLiteral("line 99\u240D\u240A\nX")));
}

TEST_F(InputTest, TypingInTheTestBoxKeepsTheOtherBytes) {
    dlg.SetText(TEST_BOX, std::string("a\rb\x03", 4));
    auto* box = qobject_cast<QPlainTextEdit*>(W(TEST_BOX));
    box->setFocus();
    box->moveCursor(QTextCursor::End);
    QTest::keyClicks(box, "z");
    EXPECT_EQ(dlg.GetText(TEST_BOX), std::string("a\rb\x03z", 5));
    // Ctrl+Enter is the line break of a multi-line edit.
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(dlg.GetText(TEST_BOX), std::string("a\rb\x03z\r\n", 7));
    EXPECT_FALSE(dlg.IsEnded());
}

TEST_F(InputTest, HandlersShowTheirWorkAtOnceUnderABusyCursor) {
    auto* box = qobject_cast<QPlainTextEdit*>(W(TEST_BOX));
    int paints = 0;
    class PaintCounter : public QObject {
    public:
        explicit PaintCounter(int* n) : m_n(n) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++*m_n;
            return false;
        }
        int* m_n;
    } counter(&paints);
    box->viewport()->installEventFilter(&counter);
    QTest::qWait(50);

    bool busy = false;
    int paintsInHandler = -1;
    dlg.inHandler = [&](Event e) {
        if (e.id != DOWNLOAD) return;
        busy = QApplication::overrideCursor() &&
               QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        const int before = paints;
        dlg.SetText(TEST_BOX, "Please wait for reading data!");
        paintsInHandler = paints - before;
    };
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_TRUE(busy);
    EXPECT_GE(paintsInHandler, 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    box->viewport()->removeEventFilter(&counter);
}

TEST_F(InputTest, TimerOneTicksAtTheModelsPeriodAlsoWhileAHandlerWaitsInItsMessageBox) {
    dlg.SetTimer(10);
    EXPECT_TRUE(view->Timer1().isActive());
    EXPECT_EQ(view->Timer1().interval(), 10);
    ASSERT_TRUE(guitest::WaitFor([&] { return Count({RecordingDialog::TIMER, 0}) >= 3; }));

    // A handler with a message box up waits in the box's own loop: the ticks go on.
    int ticksDuring = -1;
    dlg.inHandler = [&](Event e) {
        if (e.id != DOWNLOAD) return;
        AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
            const int before = Count({RecordingDialog::TIMER, 0});
            QTest::qWait(100);
            ticksDuring = Count({RecordingDialog::TIMER, 0}) - before;
            box->accept();
        });
        dlg.MessageBox("wait", ui::MsgIcon::None);
    };
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_GE(ticksDuring, 3);
    dlg.inHandler = nullptr;

    dlg.KillTimer();
    EXPECT_FALSE(view->Timer1().isActive());
}

TEST_F(InputTest, VirtualClockKeepsUpWithRealTime) {
    zarn::VirtualClock clock(1000);
    view->PaceVirtualClock(&clock);
    QTest::qWait(120);
    uint32_t inHandler = 0;
    dlg.inHandler = [&](Event) { inHandler = clock.NowMs(); };
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_GE(inHandler, 1120u);
    EXPECT_LT(inHandler, 1000u + 60000u);
    // Time the model spent ahead of the real clock is not taken back.
    clock.SleepMs(100000);
    const uint32_t ahead = clock.NowMs();
    QTest::mouseClick(W(DOWNLOAD), Qt::LeftButton);
    EXPECT_EQ(inHandler, ahead);
    view->PaceVirtualClock(nullptr);
}

}  // namespace
