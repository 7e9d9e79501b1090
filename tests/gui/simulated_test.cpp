// The window on the in-process simulated reader, as `zarn60-tool --simulate` runs it:
// the virtual clock kept up with real time, so the receive poll and the reader's
// answers move while a person watches.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sstream>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "gui_test_support.h"
#include "sim/inprocess.h"

namespace {

class SimulatedWindowTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view, &simulation.Clock()); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }
    void Sim(const std::string& command) {
        std::ostringstream out;
        std::string error;
        ASSERT_TRUE(simulation.Command(command, out, &error)) << error;
    }
    void Click(int id) {
        QWidget* w = view->ControlWidget(id);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    }
    QString TestBox() {
        return qobject_cast<QPlainTextEdit*>(view->ControlWidget(IDC_TEST_BOX))->toPlainText();
    }

    sim::InProcessSimulation simulation;
    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(SimulatedWindowTest, ReadCardOverUsbShowsItsWaitTextWhileItWaits) {
    Sim("card B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|");
    auto* box = qobject_cast<QPlainTextEdit*>(view->ControlWidget(IDC_TEST_BOX));
    // What the test box looked like each time it was painted inside the handler.
    class PaintWatcher : public QObject {
    public:
        PaintWatcher(QPlainTextEdit* b, ui::Dialog* d) : box(b), dialog(d) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint && dialog->InHandler())
                painted.push_back(box->toPlainText());
            return false;
        }
        QPlainTextEdit* box;
        ui::Dialog* dialog;
        QStringList painted;
    } watcher(box, &dlg);
    box->viewport()->installEventFilter(&watcher);
    Click(IDC_READ_CARD);
    box->viewport()->removeEventFilter(&watcher);
    EXPECT_TRUE(watcher.painted.contains(QStringLiteral("Please wait for reading data!")))
        << watcher.painted.join(u'|').toStdString();
    EXPECT_TRUE(TestBox().startsWith(QStringLiteral("2542343131"))) << TestBox().toStdString();
}

TEST_F(SimulatedWindowTest, SerialCardDataArrivesThroughTheReceivePoll) {
    Sim("card B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|");
    Click(IDC_SERIAL_PORT);
    QTest::mouseClick(view->ControlWidget(IDC_OPEN), Qt::LeftButton);
    EXPECT_EQ(TestBox(), QStringLiteral("Port is opened now"));
    EXPECT_TRUE(view->Timer1().isActive());
    QTest::mouseClick(view->ControlWidget(IDC_READ_CARD), Qt::LeftButton);
    // One byte a tick: the whole card within a few seconds of real time, its line end
    // included (the box shows it once a tick brings nothing more).
    EXPECT_TRUE(guitest::WaitFor(
        [&] {
            return TestBox().endsWith(QStringLiteral("4111111111111111=2912101?\u240D\u240A\n"));
        },
        10000))
        << TestBox().toStdString();
    EXPECT_TRUE(
        TestBox().startsWith(QStringLiteral("%B4111111111111111^DOE/JOHN^2912101?\u240D\u240A\n")))
        << TestBox().toStdString();
    guitest::ExpectMirrors(*view, dlg);
}

TEST_F(SimulatedWindowTest, ASwipedTestCardArrivesThroughTheReceivePoll) {
    view->OfferTestCards([this](const std::string& command, std::string* error) {
        std::ostringstream out;
        return simulation.Command(command, out, error);
    });
    Click(IDC_SERIAL_PORT);
    QTest::mouseClick(view->ControlWidget(IDC_OPEN), Qt::LeftButton);
    // The window's menu (not a control's) has the item beside About.
    QStringList items;
    // A menu is a popup, not a modal box: it is answered from the event loop it runs.
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            ADD_FAILURE() << "no menu";
            return;
        }
        for (QAction* action : menu->actions()) {
            items << action->text();
            if (action->menu()) {
                for (QAction* card : action->menu()->actions())
                    if (card->text() == QStringLiteral("Tracks 1, 2 and 3")) card->trigger();
            }
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            view->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view.get(), &event);
    ASSERT_GE(items.size(), 2);
    EXPECT_TRUE(items[items.size() - 2].startsWith(QStringLiteral("关于")));
    EXPECT_EQ(items.last(), QStringLiteral("Swipe a test card"));
    // Automatic output is on at the factory: the reader sends the card by itself.
    EXPECT_TRUE(guitest::WaitFor(
        [&] { return TestBox().contains(QStringLiteral("5500000000000004=3012101?")); }, 10000))
        << TestBox().toStdString();
    EXPECT_TRUE(TestBox().startsWith(QStringLiteral("%B5500000000000004^ROE/JANE^3012101?")))
        << TestBox().toStdString();
}

}  // namespace
