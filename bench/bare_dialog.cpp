// zarn60-bench-bare-dialog: the start-up benchmark's second figure, a bare Qt Widgets
// dialog built with the same flags as the tool: no text, so no font system, and Qt's
// default size. It ends as soon as its first frame is painted, as the tool does under
// ZARN60_EXIT_AFTER_FIRST_PAINT=1.
#include <QApplication>
#include <QDialog>

#include "gui/qt/bench_hook.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("bare dialog"));
    gui::ExitAfterFirstPaint(&dialog);
    dialog.show();
    return app.exec();
}
