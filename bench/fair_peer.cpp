// zarn60-bench-fair-peer: the start-up benchmark's yardstick, the least a window like the
// tool's must do: a 758 x 675 window with one line of text in the font the tool asks for,
// so that it brings up the font system, loads the same face and fills a backing store of
// the same size. Like every program of the benchmark it ends at its first frame through
// the preloaded first_paint_exit.cpp.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "gui/qt/template_widgets.h"
#include "res/resources.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setFont(gui::DialogFont(res::MainDialogTemplate()));
    QWidget window;
    window.setWindowTitle(QStringLiteral("fair peer"));
    window.setFixedSize(758, 675);
    auto* label = new QLabel(QStringLiteral("Output Track 1 Data"), &window);
    label->move(10, 10);
    window.show();
    return app.exec();
}
