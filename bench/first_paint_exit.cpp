// libzarn60-bench-first-paint: loaded by zarn60-bench-start into every program it starts
// (LD_PRELOAD), the tool included, so that none of them carries a hook of its own. When
// the program makes its QApplication, a filter on it waits for the first paint of any
// widget; a zero timer fires once that paint pass, the whole first frame, is done, and
// the process ends with _Exit, which keeps teardown out of the measured time.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {

class FirstPaintExit : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_seen && event->type() == QEvent::Paint && qobject_cast<QWidget*>(watched)) {
            m_seen = true;
            QTimer::singleShot(0, [] {
                std::fflush(nullptr);
                std::_Exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

// Runs inside QCoreApplication's constructor: the filter sees every event of the program.
void InstallFirstPaintExit() {
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new FirstPaintExit(app));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallFirstPaintExit)
