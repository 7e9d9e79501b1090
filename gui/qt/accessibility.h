// What a screen reader needs beyond the widgets' own accessibility: the windows' roles and
// results announced without moving the focus. (What each control is called comes from
// ui/accessible_names.h, as for the page.)
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>


namespace gui {

// Tells a screen reader about new text of a region that does not have the focus: a
// notification object, never shown, takes the text and says it is shown, which screen
// readers speak without moving their focus. Text that comes in pieces (bytes of a serial
// reader) is gathered until none has come for `quietMs`, or for at most kLongestWaitMs
// while it keeps coming, and said once: at most its last kLongestSaid characters, from
// the first card or line that starts in them (the latest, when they come faster than
// speech).
class Announcer : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLongestSaid = 300;
    static constexpr int kLongestWaitMs = 2000;
    explicit Announcer(QWidget* parent, int quietMs = 250);

    // The text replaces what the region showed: said as a whole.
    void Replaced(const QString& text);
    // The text was added to what the region showed: said with what was added before it.
    void Added(const QString& text);
    // Says what is gathered now (the region will not change for a while).
    void Flush();

    QString Text() const { return m_said; }  // the last text said
    int Count() const { return m_count; }    // how many texts were said

private:
    static QString Latest(const QString& text);
    void Due();  // the quiet time ran out, or the longest wait
    QTimer m_quiet;
    QElapsedTimer m_gathering;
    QString m_pending;
    QString m_said;
    int m_count = 0;
};

// The receive poll adds a byte at a time to a text widget, and the widget would raise two
// accessibility events for each (text inserted, caret moved): a screen reader's queue
// floods. Appends made through Add raise none of their own; what they added is told in one
// text-inserted and one caret event every `everyMs` at most.
class CoalescedTextEvents : public QObject {
    Q_OBJECT

public:
    CoalescedTextEvents(QWidget* widget, int everyMs = 250);
    // `append` adds `text` at character `position` of the widget (its end).
    void Add(int position, const QString& text, const std::function<void()>& append);
    // Tells what is gathered now.
    void Flush();

private:
    QWidget* m_widget;
    QTimer m_timer;
    int m_position = -1;
    QString m_text;
};

// Windows and dialogs, the announcer and the COM box get their roles and names from here.
void InstallAccessibility();

}  // namespace gui
