// The test box as received bytes keep arriving: what it shows stays what the whole text
// shows, and showing one more byte costs the same however long the text has grown.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <memory>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/text_codec.h"
#include "gui_test_support.h"

namespace {

class TestBoxGrowthTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }

    QPlainTextEdit* Box() {
        return qobject_cast<QPlainTextEdit*>(view->ControlWidget(IDC_TEST_BOX));
    }

    // The box's work per byte for `count` bytes added to a text of `size` bytes.
    double WorkPerAddedByte(size_t size, size_t count) {
        dlg.SetText(IDC_TEST_BOX, Received(size));
        const uint64_t before = view->TestBoxWork();
        for (size_t i = 0; i < count; ++i) {
            dlg.AppendText(IDC_TEST_BOX, Received(size + i + 1).substr(size + i));
            view->ShowAppendedText();  // a frame after each byte: the most work
        }
        return static_cast<double>(view->TestBoxWork() - before) / static_cast<double>(count);
    }

    // Card data as a reader sends it, without line breaks.
    static std::string Received(size_t size) {
        static const std::string card =
            "%B4111111111111111^DOE/JOHN^2912101?;4111111111111111=2912101?";
        std::string text;
        while (text.size() < size) text += card;
        text.resize(size);
        return text;
    }

    // The lines as the box lays them out, each as the text it shows.
    static QStringList VisualLines(QPlainTextEdit* box) {
        QStringList lines;
        for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next()) {
            box->document()->documentLayout()->blockBoundingRect(b);
            const QTextLayout* layout = b.layout();
            for (int i = 0; i < layout->lineCount(); ++i)
                lines << b.text().mid(layout->lineAt(i).textStart(),
                                      layout->lineAt(i).textLength());
        }
        return lines;
    }

    void ExpectOneBlockLines(const std::string& text);

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(TestBoxGrowthTest, OneMoreByteCostsTheSameAtAnyLength) {
    const double small = WorkPerAddedByte(1000, 300);
    const double large = WorkPerAddedByte(200000, 300);
    EXPECT_LT(large, small * 1.5 + 64)
        << "work per byte: " << small << " at 1 kB, " << large << " at 200 kB";
    EXPECT_LT(large, 4096);
    guitest::ExpectMirrors(*view, dlg);
}

TEST_F(TestBoxGrowthTest, LongTextShowsTheLinesOneBlockWouldShow) {
    // Spaces give word wraps, the long run a wrap anywhere; the status text and the line
    // breaks start lines of their own.
    std::string text = "Port is opened now\r\n";
    for (int i = 0; i < 40; ++i) text += "%B4111 1111^DOE/JOHN^2912101? ";
    text += Received(6000) + "\r\nend";
    // A byte at a time (the receive poll), a few, and large pieces are split differently.
    for (const size_t step : {size_t{1}, size_t{7}, size_t{700}}) {
        SCOPED_TRACE(step);
        dlg.SetText(IDC_TEST_BOX, text.substr(0, 100));
        for (size_t i = 100; i < text.size(); i += step) {
            dlg.AppendText(IDC_TEST_BOX, text.substr(i, step));
            view->ShowAppendedText();
            if (step == 1) {
                // What one more byte lays out again stays within a line.
                const QTextBlock last = Box()->document()->lastBlock();
                Box()->document()->documentLayout()->blockBoundingRect(last);
                ASSERT_LE(last.layout()->lineCount(), 1) << "at byte " << i;
            }
        }
        ASSERT_GT(Box()->blockCount(), 4) << "long runs are split into blocks";
        guitest::ExpectMirrors(*view, dlg);
        ExpectOneBlockLines(text);
    }
}

TEST_F(TestBoxGrowthTest, TypingAtTheEndOfASplitLineKeepsTheBytes) {
    std::string text = "Port is opened now\r\n";
    text += Received(3000);
    dlg.SetText(IDC_TEST_BOX, text.substr(0, 100));
    for (size_t i = 100; i < text.size(); i += 7) dlg.AppendText(IDC_TEST_BOX, text.substr(i, 7));
    Box()->moveCursor(QTextCursor::End);
    QTest::keyClicks(Box(), "!");
    EXPECT_EQ(dlg.GetText(IDC_TEST_BOX), text + "!");
}

// Received bytes wait for the next frame; a new text given meanwhile (a status, Clear)
// must neither lose them nor show them out of order or after it.
TEST_F(TestBoxGrowthTest, BytesWaitingForAFrameKeepTheirPlace) {
    struct Step {
        bool append;
        const char* text;
        const char* shown;  // the whole text once the frame has come; null: go on at once
    };
    const Step steps[] = {
        {false, "Port is opened now", "Port is opened now"},
        {true, "V2", nullptr},
        {true, ".10", "Port is opened now" "V2.10"},
        {true, "7", nullptr},
        {false, "", nullptr},  // Clear with bytes waiting
        {true, "\x02" "12", "\xe2\x90\x82" "12"},
        {true, "3", nullptr},
        {false, "Setup ok", "Setup ok"},
        {true, "\r\n", "Setup ok" "\xe2\x90\x8d\xe2\x90\x8a\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.text);
        if (step.append)
            dlg.AppendText(IDC_TEST_BOX, step.text);
        else
            dlg.SetText(IDC_TEST_BOX, step.text);
        if (!step.shown) continue;
        const QString shown = QString::fromUtf8(step.shown);
        EXPECT_TRUE(guitest::WaitFor([&] { return gui::ShownTestBoxText(Box()) == shown; }))
            << gui::ShownTestBoxText(Box()).toStdString();
    }
    // Bytes of several ticks reach the box in one piece.
    for (char b : std::string("0123456789")) dlg.AppendText(IDC_TEST_BOX, std::string(1, b));
    EXPECT_FALSE(gui::ShownTestBoxText(Box()).endsWith(QStringLiteral("9")));
    EXPECT_TRUE(guitest::WaitFor(
        [&] { return gui::ShownTestBoxText(Box()).endsWith(QStringLiteral("0123456789")); }));
    guitest::ExpectMirrors(*view, dlg);
}

// The box shows the lines one block holding the whole of `text` would show.
void TestBoxGrowthTest::ExpectOneBlockLines(const std::string& text) {
    QPlainTextEdit oneBlock;
    oneBlock.setFont(Box()->font());
    oneBlock.setLineWrapMode(Box()->lineWrapMode());
    oneBlock.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    oneBlock.resize(Box()->size());
    oneBlock.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&oneBlock));
    oneBlock.setPlainText(
        QString::fromStdU16String(ui::RenderTestBox(text, ui::kLineBreakLf).display));
    ASSERT_EQ(oneBlock.viewport()->width(), Box()->viewport()->width());
    EXPECT_EQ(VisualLines(Box()), VisualLines(&oneBlock));
}

}  // namespace
