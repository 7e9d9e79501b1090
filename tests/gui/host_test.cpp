// The Host on Qt: the About box (from the context menu and F1), the file dialogs, and
// the conversions the view relies on.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/zarn60_tool_dlg.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/file_dialog.h"
#include "gui/qt/template_widgets.h"
#include "gui/qt/text_codec.h"
#include "gui_test_support.h"

namespace {

using guitest::AnswerNextModal;

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::ShowMainWindow(dlg, view); }
    void TearDown() override { guitest::CloseMainWindow(dlg, view); }

    // Checks the About box that is up and closes it with its button.
    static void CheckAndCloseAbout(gui::DialogView* about, bool* seen) {
        *seen = true;
        EXPECT_EQ(about->windowTitle(), QStringLiteral(" ZARN TOOLS 2.7"));
        EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);
        bool line = false, icon = false;
        QPushButton* ok = nullptr;
        for (QWidget* w : about->TemplateWidgets()) {
            if (auto* label = qobject_cast<QLabel*>(w)) {
                if (!label->pixmap().isNull()) icon = true;
                if (label->text() == QStringLiteral("ZARN TOOLS 2.7")) line = true;
            }
            if (auto* button = qobject_cast<QPushButton*>(w)) ok = button;
        }
        EXPECT_TRUE(line);
        EXPECT_TRUE(icon);
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->text(), QStringLiteral("确定"));
        EXPECT_EQ(about->ControlWidget(ui::IDOK), ok);
        EXPECT_EQ(about->size(), QSize(255, 93));  // 170 x 62 dialog units
        // For a person to look at, next to the main window's picture.
        about->grab().save(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../zarn60-tool-about.png"));
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_FALSE(about->isVisible());
    }

    CZARN60TOOLDlg dlg;
    std::unique_ptr<gui::DialogView> view;
};

TEST_F(HostTest, AboutItemOfTheContextMenuOpensTheAboutBox) {
    bool menuSeen = false, aboutSeen = false;
    AnswerNextModal<gui::DialogView>(
        [&](gui::DialogView* about) { CheckAndCloseAbout(about, &aboutSeen); });
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        for (QAction* action : menu->actions()) {
            if (action->text() == QStringLiteral("关于 ZARN TOOLS(&A)...")) {
                menuSeen = true;
                menu->close();
                action->trigger();
                return;
            }
        }
        menu->close();
    });
    // Right-click on the dialog's own surface, away from any control.
    const QPoint at(750, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->mapToGlobal(at));
    QApplication::sendEvent(view.get(), &event);
    ASSERT_TRUE(guitest::WaitFor([&] { return aboutSeen; }));
    EXPECT_TRUE(menuSeen);
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(view->isVisible());
}

TEST_F(HostTest, F1OpensTheAboutBoxAndItsCloseBoxOnlyClosesIt) {
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    bool closed = false;
    AnswerNextModal<gui::DialogView>([&](gui::DialogView* about) {
        about->close();
        closed = !about->isVisible() && about->Model()->IsEnded() &&
                 about->Model()->Result() == ui::IDCANCEL;
    });
    QTest::keyClick(view.get(), Qt::Key_F1);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(dlg.IsEnded());
}

TEST(FileDialogTest, FilterStringBecomesQtNameFilters) {
    // Each pattern once, as Qt matches it; shown as the request writes it.
    const std::string filter = "Configuration file   (*.cfg)|*.cfg|All   Files   (*.*)|*.*||";
    EXPECT_EQ(gui::NameFilters(filter), (QStringList{QStringLiteral("Configuration file   (*.cfg)"),
                                                     QStringLiteral("All   Files   (*)")}));
    EXPECT_EQ(gui::FilterNames(filter), (QStringList{QStringLiteral("Configuration file   (*.cfg)"),
                                                     QStringLiteral("All   Files   (*.*)")}));
    EXPECT_EQ(gui::FilterNames("Pictures|*.png;*.jpg||"),
              QStringList{QStringLiteral("Pictures (*.png *.jpg)")});
    EXPECT_EQ(gui::NameFilters("Pictures|*.png;*.jpg||"),
              QStringList{QStringLiteral("Pictures (*.png *.jpg)")});
    EXPECT_EQ(gui::NameFilters("Text (*.txt)|*.txt||"),
              QStringList{QStringLiteral("Text (*.txt)")});
    EXPECT_TRUE(gui::NameFilters("").isEmpty());
    EXPECT_TRUE(gui::NameFilters("||").isEmpty());
    // A name without its pattern is dropped rather than matching nothing.
    EXPECT_EQ(gui::NameFilters("Text|*.txt|Odd").size(), 1);
}

ui::FileDialogRequest SaveRequest() {
    ui::FileDialogRequest r;
    r.save = true;
    r.title = "数据保存为cfg文件";
    r.initialFile = "Setup.cfg";
    r.defaultExt = "cfg";
    r.filter = "Configuration file   (*.cfg)|*.cfg|All   Files   (*.*)|*.*||";
    r.flags = 0x0006;
    return r;
}

TEST(FileDialogTest, SaveAndOpenDialogsAreSetUpFromTheRequest) {
    QFileDialog save;
    gui::ConfigureFileDialog(save, SaveRequest());
    EXPECT_EQ(save.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(save.windowTitle(), QStringLiteral("数据保存为cfg文件"));
    EXPECT_EQ(save.defaultSuffix(), QStringLiteral("cfg"));
    EXPECT_FALSE(save.testOption(QFileDialog::DontConfirmOverwrite));
    // The name as written, blanks and all, also after Qt has taken it.
    EXPECT_EQ(save.selectedNameFilter(), QStringLiteral("Configuration file   (*.cfg)"));
    EXPECT_EQ(save.nameFilters().size(), 2);
    // The list of file types shows, and a screen reader hears, the names as written.
    auto* types = save.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_TRUE(types);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(1), QStringLiteral("All   Files   (*.*)"));
    for (int i = 0; i < types->count(); ++i)
        EXPECT_FALSE(types->itemText(i).contains(QChar(0x200B))) << i;
    QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(types);
    EXPECT_FALSE(heard->text(QAccessible::Value).contains(QChar(0x200B)));
    EXPECT_FALSE(heard->text(QAccessible::Name).contains(QChar(0x200B)));
    EXPECT_EQ(save.findChild<QLineEdit*>()->text(), QStringLiteral("Setup.cfg"));

    ui::FileDialogRequest r;
    r.defaultExt = ".cfg";
    r.filter = SaveRequest().filter;
    r.flags = 0x1004;
    QFileDialog open;
    gui::ConfigureFileDialog(open, r);
    EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(open.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(open.defaultSuffix(), QStringLiteral("cfg"));
    EXPECT_TRUE(open.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(open.windowTitle(), QStringLiteral("Open"));  // the platform's own
}

// "*.*" meant every file where the filter comes from; in Qt it would hide names without a
// dot and turn a typed "Setup.cfg" into "Setup.*" when the user picks the filter.
TEST(FileDialogTest, AllFilesMeansEveryFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"README", "a.cfg"}) {
        QFile f(QDir(dir.path()).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QFileDialog d;
    gui::ConfigureFileDialog(d, SaveRequest());
    d.setDirectory(dir.path());
    d.show();
    d.selectNameFilter(d.nameFilters().at(1));
    EXPECT_EQ(d.findChild<QLineEdit*>()->text(), QStringLiteral("Setup.cfg"));
    auto* model = d.findChild<QFileSystemModel*>();
    ASSERT_TRUE(model);
    const QString readme = QDir(dir.path()).filePath(QStringLiteral("README"));
    EXPECT_TRUE(guitest::WaitFor([&] {
        const QModelIndex i = model->index(readme);
        return i.isValid() && (model->flags(i) & Qt::ItemIsEnabled);
    }));
    d.hide();
}

// The Load dialog opens where the last file was saved or loaded, not in the working folder.
TEST_F(HostTest, FileDialogsOpenInTheFolderOfTheLastFileChosen) {
    QTemporaryDir saved, loaded;
    ASSERT_TRUE(saved.isValid() && loaded.isValid());
    AnswerNextModal<QFileDialog>([&](QFileDialog* d) {
        d->setDirectory(saved.path());
        d->findChild<QLineEdit*>()->setText(QStringLiteral("mine"));
        static_cast<QDialog*>(d)->accept();
    });
    ASSERT_TRUE(view->FileDialog(SaveRequest()));
    ui::FileDialogRequest load;
    load.filter = SaveRequest().filter;
    load.flags = 0x1004;
    QFile file(QDir(loaded.path()).filePath(QStringLiteral("other.cfg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString opened;
    AnswerNextModal<QFileDialog>([&](QFileDialog* d) {
        opened = d->directory().absolutePath();
        d->findChild<QLineEdit*>()->setText(file.fileName());
        static_cast<QDialog*>(d)->accept();
    });
    ASSERT_TRUE(view->FileDialog(load));
    EXPECT_EQ(opened, QDir(saved.path()).absolutePath());
    AnswerNextModal<QFileDialog>([&](QFileDialog* d) {
        opened = d->directory().absolutePath();
        d->reject();
    });
    EXPECT_FALSE(view->FileDialog(load));
    EXPECT_EQ(opened, QDir(loaded.path()).absolutePath());
}

TEST_F(HostTest, SaveDialogReturnsThePathWithTheDefaultExtension) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    AnswerNextModal<QFileDialog>([&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("数据保存为cfg文件"));
        d->setDirectory(dir.path());
        d->findChild<QLineEdit*>()->setText(QStringLiteral("mine"));
        static_cast<QDialog*>(d)->accept();  // the OK button
    });
    const std::optional<std::string> path = view->FileDialog(SaveRequest());
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, QFile::encodeName(QDir(dir.path()).filePath("mine.cfg")).toStdString());

    AnswerNextModal<QFileDialog>([&](QFileDialog* d) { d->reject(); });
    EXPECT_FALSE(view->FileDialog(SaveRequest()));
}

TEST_F(HostTest, SavingOverAFileAsksFirst) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile existing(QDir(dir.path()).filePath("Setup.cfg"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    bool asked = false;
    AnswerNextModal<QFileDialog>([&](QFileDialog* d) {
        d->setDirectory(dir.path());
        d->selectFile(QStringLiteral("Setup.cfg"));
        // The question comes up inside accept(); answer it "no", then cancel.
        AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
            asked = true;
            box->button(QMessageBox::No) ? box->button(QMessageBox::No)->click() : box->reject();
        });
        static_cast<QDialog*>(d)->accept();  // the OK button
        EXPECT_TRUE(d->isVisible());
        d->reject();
    });
    EXPECT_FALSE(view->FileDialog(SaveRequest()));
    EXPECT_TRUE(asked);
}

TEST(TemplateGeometryTest, DialogUnitsMapEdgeByEdgeWithRounding) {
    const gui::BaseUnits units{6, 12};
    // 1 unit is 1.5 pixels; each edge rounds on its own, halves away from zero.
    EXPECT_EQ(gui::DialogUnitsToPixels({1, 1, 1, 1}, units), QRect(2, 2, 1, 1));
    EXPECT_EQ(gui::DialogUnitsToPixels({7, 5, 240, 62}, units), QRect(11, 8, 360, 93));
    EXPECT_EQ(gui::DialogClientSize(res::MainDialogTemplate()), QSize(758, 675));
}

}  // namespace
