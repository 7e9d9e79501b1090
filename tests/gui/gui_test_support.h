// Helpers of the window tests: a dialog that records what reaches its message map, a
// check that every widget shows its model control, and answering modal boxes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "base/clock.h"
#include "gui/qt/dialog_view.h"
#include "res/resources.h"
#include "ui/dialog.h"

// Failures show Qt's strings as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace guitest {

// The main template with a message map that records every notification.
class RecordingDialog : public ui::Dialog {
public:
    struct Event {
        int code;
        int id;
        bool operator==(const Event& o) const { return code == o.code && id == o.id; }
    };
    static constexpr int TIMER = -100, SYSCOMMAND = -101, OK = -102, CANCEL = -103;

    RecordingDialog() : ui::Dialog(res::MainDialogTemplate()) {
        for (const res::ControlTemplate& t : res::MainDialogTemplate().controls) {
            if (t.id == res::IDC_STATIC) continue;
            for (int code : {ui::BN_CLICKED, ui::BN_DOUBLECLICKED, ui::EN_CHANGE})
                OnCommand(code, t.id, [this, code, id = t.id] { Record(code, id); });
        }
        OnTimer([this] { Record(TIMER, 0); });
        OnSysCommand([this](uint32_t command) { Record(SYSCOMMAND, static_cast<int>(command)); });
    }

    std::vector<Event> events;
    // Runs inside the handler of the next notification, after it was recorded.
    std::function<void(Event)> inHandler;

    using ui::Dialog::OnCommand;  // tests add their own handlers

protected:
    void OnOK() override {
        Record(OK, 0);
        ui::Dialog::OnOK();
    }
    void OnCancel() override {
        Record(CANCEL, 0);
        ui::Dialog::OnCancel();
    }

private:
    void Record(int code, int id) {
        events.push_back({code, id});
        if (inHandler) inHandler(Event{code, id});
    }
};

inline std::ostream& operator<<(std::ostream& os, const RecordingDialog::Event& e) {
    return os << "{" << e.code << ", " << e.id << "}";
}

// The real main dialog in its window as the program starts it (USB, nothing received),
// shown and exposed; `pace`, when given, is a virtual clock the window keeps up with real
// time. Close undoes it before the members go.
void ShowMainWindow(CZARN60TOOLDlg& dlg, std::unique_ptr<gui::DialogView>& view,
                    zarn::VirtualClock* pace = nullptr);
void CloseMainWindow(CZARN60TOOLDlg& dlg, std::unique_ptr<gui::DialogView>& view);

// Every widget shows what its model control holds.
void ExpectMirrors(const gui::DialogView& view, const ui::Dialog& dialog);

// Nothing is clipped: every caption of the view's template fits its control's rectangle in
// the widget's own font and style (labels may wrap when their rectangle has room for the
// lines), and so do check and radio indicators and a line of text.
void ExpectCaptionsFit(const gui::DialogView& view, const res::DialogTemplate& tpl);

// Polls until a condition holds, processing events; false after `ms` without it.
bool WaitFor(const std::function<bool()>& condition, int ms = 3000);

// Runs `answer` on the next modal widget of type T that appears (a message box, a file
// dialog, the About box) while the code under test waits in its modal loop.
template <class T>
void AnswerNextModal(std::function<void(T*)> answer, int timeoutMs = 5000) {
    auto* poll = new QTimer(qApp);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, answer, timeoutMs] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            delete clock;
            answer(w);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
            delete clock;
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
            // Whatever is up must go, or the test would wait for ever.
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        }
    });
    poll->start(10);
}

}  // namespace guitest
