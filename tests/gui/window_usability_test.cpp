// What a user of the window meets beyond the operations: control bytes that can be told
// apart, controls a screen reader can name, and the first keystroke that is not refused.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <memory>
#include <string>

#include "app/zarn60_tool_dlg.h"
#include "gui/dialog_view.h"
#include "gui/template_widgets.h"
#include "gui/text_codec.h"
#include "gui_test_support.h"

namespace {

class WindowUsabilityTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(WindowUsabilityTest, EveryControlByteHasAGlyphOfItsOwn) {
    const QFont font = view->ControlWidget(IDC_TEST_BOX)->font();
    std::string bytes;
    for (int b = 0; b < 0x20; ++b)
        if (b != '\r' && b != '\n') bytes.push_back(static_cast<char>(b));
    bytes.push_back(0x7F);
    const QString shown = gui::RenderTestBox(bytes).display;
    ASSERT_EQ(shown.size(), static_cast<qsizetype>(bytes.size()));
    for (QChar ch : shown) {
        SCOPED_TRACE("U+" + QString::number(ch.unicode(), 16).toStdString());
        // A face the box asks for has the symbol itself, not some fallback's box.
        bool owned = false;
        for (const QString& family : font.families()) {
            QFont only(family);
            only.setStyleStrategy(QFont::NoFontMerging);
            owned = owned || QFontMetrics(only).inFontUcs4(ch.unicode());
        }
        EXPECT_TRUE(owned) << "no face of " << font.families().join(u',').toStdString()
                           << " (is fonts-freefont-ttf installed?)";
    }
    // Every face asked for is installed: none is looked up in vain.
    for (const QString& family : font.families())
        EXPECT_TRUE(QFontDatabase::hasFamily(family)) << family.toStdString();
}

}  // namespace
