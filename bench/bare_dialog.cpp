// zarn60-bench-bare-dialog: the start-up benchmark's second figure, a bare Qt Widgets
// dialog built with the same flags as the tool: no text, so no font system, and Qt's
// default size. Like every program of the benchmark it ends at its first frame through
// the preloaded first_paint_exit.cpp.
#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("bare dialog"));
    dialog.show();
    return app.exec();
}
