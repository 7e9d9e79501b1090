#include "gui/qt/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>
#include <utility>

#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"

namespace gui {

namespace {

class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer* announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return static_cast<Announcer*>(widget())->Text();
        return QAccessibleWidget::text(t);
    }
};

// A window of its own is a frame, one over another window a dialog.
class WindowAccessible : public QAccessibleWidget {
public:
    explicit WindowAccessible(QWidget* window)
        : QAccessibleWidget(window,
                            window->parentWidget() ? QAccessible::Dialog : QAccessible::Window) {}

    // The title without the blanks that pad it in the title bar.
    QString text(QAccessible::Text t) const override {
        const QString text = QAccessibleWidget::text(t);
        return t == QAccessible::Name ? text.trimmed() : text;
    }
};

// Qt names a combo box on Linux by its text, so the text would be heard twice and the
// label never: here the name is the label's and the value the text.
class ComboAccessible : public QAccessibleWidget {
public:
    explicit ComboAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {
        addControllingSignal(QStringLiteral("activated(int)"));
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return Combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction())
            Combo()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
    if (auto* announcer = qobject_cast<Announcer*>(object))
        return new AnnouncerAccessible(announcer);
    if (auto* view = qobject_cast<DialogView*>(object)) return new WindowAccessible(view);
    // Only the dialogs' own combo boxes: file dialogs keep Qt's.
    if (auto* combo = qobject_cast<QComboBox*>(object);
        combo && qobject_cast<DialogView*>(combo->window()))
        return new ComboAccessible(combo);
    return nullptr;
}

}  // namespace

Announcer::Announcer(QWidget* parent, int quietMs) : QWidget(parent) {
    hide();
    setAttribute(Qt::WA_DontShowOnScreen);
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietMs);
    connect(&m_quiet, &QTimer::timeout, this, &Announcer::Due);
}

void Announcer::Replaced(const QString& text) {
    m_pending = text;
    m_gathering.invalidate();
    m_quiet.start();
}

void Announcer::Added(const QString& text) {
    m_pending += text;
    // Only the end of a long burst is ever said: what is gathered stays small.
    if (m_pending.size() > 4 * kLongestSaid) m_pending = m_pending.right(2 * kLongestSaid);
    if (!m_gathering.isValid()) m_gathering.start();
    // A reader that never pauses is still heard: after kLongestWaitMs of gathering the
    // quiet time is no longer restarted.
    if (!m_quiet.isActive() || m_gathering.elapsed() < kLongestWaitMs) m_quiet.start();
}

QString Announcer::Latest(const QString& text) {
    if (text.size() <= kLongestSaid) return text;
    // The end of the text, from the first card or line that starts in it.
    const QString tail = text.right(kLongestSaid);
    for (qsizetype i = 1; i < tail.size(); ++i) {
        if (tail[i] == QChar(0x2402)) return tail.mid(i).trimmed();
        if (tail[i - 1] == QLatin1Char('\n') && !tail.mid(i).trimmed().isEmpty())
            return tail.mid(i).trimmed();
    }
    return tail.trimmed();
}

void Announcer::Due() {
    // Still coming after kLongestWaitMs: what is said ends with the last whole line, and the
    // line being received waits for its end (or for the quiet after it), so that no card is
    // said in two halves.
    if (m_gathering.isValid() && m_gathering.elapsed() >= kLongestWaitMs) {
        const qsizetype end = m_pending.lastIndexOf(QLatin1Char('\n'));
        if (end >= 0 && end + 1 < m_pending.size()) {
            QString rest = m_pending.mid(end + 1);
            m_pending.truncate(end + 1);
            Flush();
            m_pending = std::move(rest);
            m_quiet.start();
            return;
        }
    }
    Flush();
}

void Announcer::Flush() {
    m_quiet.stop();
    m_gathering.invalidate();
    const QString text = Latest(m_pending.trimmed());
    m_pending.clear();
    if (text.isEmpty()) return;
    m_said = text;
    ++m_count;
    if (!QAccessible::isActive()) return;
    QAccessibleEvent named(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

namespace {
void Swallow(QAccessibleEvent*) {}
}  // namespace

CoalescedTextEvents::CoalescedTextEvents(QWidget* widget, int everyMs)
    : QObject(widget), m_widget(widget) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(everyMs);
    connect(&m_timer, &QTimer::timeout, this, &CoalescedTextEvents::Flush);
}

void CoalescedTextEvents::Add(int position, const QString& text,
                              const std::function<void()>& append) {
    if (!QAccessible::isActive()) {
        append();
        return;
    }
    const QAccessible::UpdateHandler before = QAccessible::installUpdateHandler(Swallow);
    append();
    QAccessible::installUpdateHandler(before);
    if (m_position < 0 || m_position + m_text.size() != position) {
        Flush();
        m_position = position;
    }
    m_text += text;
    // Started once, not again with each append: a steady stream is told every interval.
    if (!m_timer.isActive()) m_timer.start();
}

void CoalescedTextEvents::Flush() {
    m_timer.stop();
    if (m_position < 0) return;
    const int position = m_position;
    const QString text = m_text;
    m_position = -1;
    m_text.clear();
    if (text.isEmpty() || !QAccessible::isActive()) return;
    QAccessibleTextInsertEvent inserted(m_widget, position, text);
    QAccessible::updateAccessibility(&inserted);
    QAccessibleTextCursorEvent caret(m_widget, position + static_cast<int>(text.size()));
    QAccessible::updateAccessibility(&caret);
}

void InstallAccessibility() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(Factory);
}

}  // namespace gui
