// New text of the test box reaches a screen reader as an announcement, without the focus
// moving: whole results at once, bytes that keep arriving gathered into one.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/accessibility.h"
#include "gui/qt/dialog_view.h"
#include "gui_test_support.h"

namespace {

class AnnounceTest : public ::testing::Test {
protected:
    // The offscreen platform has no accessibility bridge, so no event leaves the window
    // here (tests/gui/atspi_announce.py checks them on a real bus): what the announcer
    // says is followed through its name, each time it says something.
    void SetUp() override {
        guitest::ShowMainWindow(dlg, view);
        QObject::connect(&timer, &QTimer::timeout, [this] { Follow(); });
        timer.start(1);
    }
    void TearDown() override {
        timer.stop();
        guitest::CloseMainWindow(dlg, view);
    }
    void Follow() {
        gui::Announcer& announcer = view->TestBoxAnnouncer();
        while (static_cast<int>(said.size()) < announcer.Count()) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&announcer);
            said.push_back(a->text(QAccessible::Name).toStdString());
        }
    }
    void Flush() {
        view->ShowAppendedText();
        view->TestBoxAnnouncer().Flush();
        Follow();
    }

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
    QTimer timer;
    std::vector<std::string> said;
};

TEST_F(AnnounceTest, ResultsAndReceivedBytesAreSaidWithoutTheFocusMoving) {
    QWidget* focus = QApplication::focusWidget();
    gui::Announcer& announcer = view->TestBoxAnnouncer();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&announcer);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::Notification);

    // A result replaces the box's text; a status shown on the way is replaced before it
    // is said.
    dlg.SetText(IDC_TEST_BOX, "Please wait for reading data!");
    dlg.SetText(IDC_TEST_BOX, "Setup ok");
    Flush();
    // Bytes arriving one at a time are said together, control bytes as their symbols.
    for (char b : std::string("\x02"
                              "1234\x03"))
        dlg.AppendText(IDC_TEST_BOX, std::string(1, b));
    Flush();
    // "Clear" says nothing; the next byte is said alone.
    dlg.SetText(IDC_TEST_BOX, "");
    Flush();
    dlg.AppendText(IDC_TEST_BOX, "7");
    ASSERT_TRUE(guitest::WaitFor([&] { return said.size() == 3; }));  // without a flush
    // The same result again is said again.
    dlg.SetText(IDC_TEST_BOX, "7");
    Flush();
    const std::vector<std::string> expected = {"Setup ok",
                                               "\u2402"
                                               "1234\u2403",
                                               "7", "7"};
    EXPECT_EQ(said, expected);
    EXPECT_EQ(QApplication::focusWidget(), focus);

    // What the user types into the box is not read back to them.
    auto* box = qobject_cast<QPlainTextEdit*>(view->ControlWidget(IDC_TEST_BOX));
    box->setFocus();
    QTest::keyClicks(box, "ab");
    Flush();
    EXPECT_EQ(said.size(), 4u);
}

// A reader that streams without pause is heard while it streams, each time with the
// latest card whole and never more than a few hundred characters; the box keeps all.
TEST_F(AnnounceTest, ALongBurstIsSaidAsItsLatestCardsInShortAnnouncements) {
    const std::string card = "\x02%B4111111111111111^DOE/JOHN^2912101?\x03\r\n";
    QElapsedTimer streaming;
    streaming.start();
    int cards = 0;
    size_t saidWhileStreaming = 0;
    while (streaming.elapsed() < 3 * gui::Announcer::kLongestWaitMs / 2) {
        for (char b : card) {
            dlg.AppendText(IDC_TEST_BOX, std::string(1, b));
            QTest::qWait(1);
        }
        ++cards;
        saidWhileStreaming = said.size();
    }
    Flush();
    auto* box = qobject_cast<QPlainTextEdit*>(view->ControlWidget(IDC_TEST_BOX));
    EXPECT_EQ(box->toPlainText().count(QStringLiteral("DOE/JOHN")), cards);
    EXPECT_GE(saidWhileStreaming, 1u) << "nothing said while the reader streamed";
    EXPECT_LE(said.size(), 4u);
    for (const std::string& text : said) {
        EXPECT_LE(QString::fromStdString(text).size(), gui::Announcer::kLongestSaid) << text;
        EXPECT_EQ(text.rfind("\u2402%B4111", 0), 0u) << "not a whole card first: " << text;
        EXPECT_TRUE(QString::fromStdString(text).endsWith(QStringLiteral("?\u2403\u240d\u240a")))
            << "not a whole card last: " << text;
    }
    ASSERT_FALSE(said.empty());
    EXPECT_NE(said.back().find("2912101?\u2403"), std::string::npos) << said.back();
}

}  // namespace
