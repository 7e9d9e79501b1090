// zarn60-bench-bare-dialog: the yardstick of the start-up benchmark, a bare Qt Widgets
// dialog built with the same flags as the tool. It ends as soon as its first frame is
// painted, as the tool does under ZARN60_EXIT_AFTER_FIRST_PAINT=1. With --label it shows
// one line of text, which brings up the font system that any window with text needs.
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class FirstPaintExit : public QObject {
public:
    FirstPaintExit(QWidget* window, QObject* parent) : QObject(parent), m_window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_seen && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->window() == m_window) {
                m_seen = true;
                QTimer::singleShot(0, [] {
                    std::fflush(nullptr);
                    std::_Exit(0);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
    bool m_seen = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("bare dialog"));
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0) {
        auto* label = new QLabel(QStringLiteral("Output Track 1 Data"), &dialog);
        label->move(10, 10);
    }
    app.installEventFilter(new FirstPaintExit(&dialog, &app));
    dialog.show();
    return app.exec();
}
