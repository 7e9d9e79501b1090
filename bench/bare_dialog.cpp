// zarn60-bench-bare-dialog: the yardstick of the start-up benchmark, a bare Qt Widgets
// dialog built with the same flags as the tool. It ends as soon as its first frame is
// painted, as the tool does under ZARN60_EXIT_AFTER_FIRST_PAINT=1. With --label it shows
// one line of text, which brings up the font system that any window with text needs.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <cstring>

#include "gui/bench_hook.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("bare dialog"));
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0) {
        auto* label = new QLabel(QStringLiteral("Output Track 1 Data"), &dialog);
        label->move(10, 10);
    }
    gui::ExitAfterFirstPaint(&dialog);
    dialog.show();
    return app.exec();
}
