// zarn60-bench-widgets-alone: a second figure of the start-up benchmark, the tool's window
// without the tool: the main template's controls made by the same code as the tool's view
// (CreateControlWidget, the dialog font, the dialog's size), with no dialog model, no
// handlers and no view behind them. Against the fair peer it is what Qt's widgets for this
// window cost by themselves; the tool over it is what the tool adds. Like every program
// of the benchmark it ends at its first frame through the preloaded first_paint_exit.cpp.
#include <QApplication>
#include <QWidget>

#include "gui/qt/template_widgets.h"
#include "res/resources.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const res::DialogTemplate& tpl = res::MainDialogTemplate();
    QApplication::setFont(gui::DialogFont(tpl));
    QWidget window;
    window.setWindowTitle(QStringLiteral("widgets alone"));
    window.setFont(gui::DialogFont(tpl));
    window.setFixedSize(gui::DialogClientSize(tpl));
    const gui::BaseUnits units = gui::DialogBaseUnits(tpl);
    for (const res::ControlTemplate& control : tpl.controls)
        gui::CreateControlWidget(control, units, &window);
    window.show();
    return app.exec();
}
