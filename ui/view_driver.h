// What every view of a dialog does between its toolkit and the model, written once: user
// actions run one at a time with the clock paced, edits become the model's UserEdit, the
// test box's shown text follows the model's at the cost of the new bytes, timer ticks
// reach the model. A view keeps only the toolkit glue: its widgets, the busy cursor and
// how it shows a text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "ui/dialog.h"
#include "ui/test_box_text.h"

namespace ui {

// What the driver asks of its view.
class ViewAdapter {
public:
    virtual ~ViewAdapter() = default;
    // Around one user action on the model: the busy cursor (when `busy`), and whatever the
    // toolkit must settle first or after (the focus, the controls' own reactions).
    virtual void BeginUserAction(bool busy) = 0;
    virtual void EndUserAction(bool busy) = 0;
    // Shows control `index` (template order) as the model has it.
    virtual void Mirror(size_t index) = 0;
};

// When a view puts the receive poll's appended bytes into its test box. The first bytes
// of a burst go in as they come (an answer of a few bytes, a version, is shown in the
// tick each byte arrives); a burst that goes on is a stream, and its bytes go in at most
// once a frame (ViewDriver::kFrameMs), what waits going in as soon as a tick brings
// nothing. The view runs the frame timer and says what happened.
class AppendFrames {
public:
    static constexpr int kAtOnce = 8;  // bytes of a burst that go in as they come
    enum class Append { Now, NowAndFramesStart, Waits };
    // The poll appended bytes: in now, in now with the view's frame timer started, or
    // waiting for the running frame's end.
    Append Appended() {
        m_appendedInTick = true;
        if (++m_burst <= kAtOnce && !m_running) return Append::Now;
        if (m_running) {
            m_waiting = true;
            return Append::Waits;
        }
        m_running = true;
        return Append::NowAndFramesStart;
    }
    // The frame timer fired: true when bytes wait (they go in now, and another frame
    // runs), false when none came (the view stops its frame timer).
    bool FrameEnded() {
        m_running = m_waiting;
        m_waiting = false;
        return m_running;
    }
    // Around each tick of the dialog's timer: a tick that brings nothing ends the burst,
    // and TickEnded is then true when bytes wait (they go in now).
    void TickStarts() { m_appendedInTick = false; }
    bool TickEnded() {
        if (m_appendedInTick) return false;
        m_burst = 0;
        const bool waiting = m_waiting;
        m_waiting = false;
        return waiting;
    }
    // The view put what waited in before its time (a new text, the user's input).
    void Shown() { m_waiting = false; }
    bool Running() const { return m_running; }

private:
    int m_burst = 0;
    bool m_running = false;
    bool m_waiting = false;
    bool m_appendedInTick = false;
};

class ViewDriver {
public:
    // Milliseconds of real time from any fixed start; the steady clock by default.
    using RealTime = std::function<uint64_t()>;
    // `charset` spells the test box's bytes (it must outlive the driver).
    ViewDriver(ViewAdapter& view, std::u16string_view lineBreak, RealTime realTime = {},
               const ByteCharset& charset = Latin1Charset());

    // The dialog the view mirrors; what the test boxes showed is forgotten.
    void Attach(Dialog* dialog);
    Dialog* Model() const { return m_dialog; }
    std::u16string_view LineBreak() const { return m_lineBreak; }
    const ByteCharset& Charset() const { return m_charset; }

    // With the in-process simulation the clock is virtual: it is moved up to the real time
    // that has passed before each model call, so simulated answers arrive.
    void PaceVirtualClock(zarn::VirtualClock* clock);
    void PaceClock();

    // Runs one user action on the model, paced and between the view's Begin/EndUserAction;
    // nothing while there is no model, it has ended or a handler is already running (its
    // modal boxes are up). False when the action did not run.
    bool Run(const std::function<void()>& action, bool busy = true);
    // One tick of timer 1, when the model takes it now (also while a handler waits in a
    // modal box of its own).
    void TimerTick();
    // A click on control `index`; `second` when it is the second click of a double click.
    void UserClicked(size_t index, bool second);
    // The user edited control `index` into `bytes` in one step (a keystroke, cut or paste):
    // one UserEdit when the text changed; the control is mirrored either way, so that a
    // refused keystroke is undone.
    void UserEdited(size_t index, const std::string& bytes);
    // The user changed what test box `index` shows into `shown`: the bytes it now stands
    // for go to the model unless they grow past the limit; the box is mirrored either way.
    void UserEditedTestBox(size_t index, std::u16string_view shown);
    // True while UserEditedTestBox mirrors the box the user is typing in.
    bool UserEditing() const { return m_userEditing; }

    // What test box `index` shows, and which change of the model's text it shows.
    struct ShownTestBox {
        TestBoxText text;
        static constexpr uint64_t kUnknown = UINT64_MAX;
        uint64_t revision = kUnknown;
    };
    enum class TestBoxChange { None, Appended, Replaced };
    // Brings test box `index`'s shown text up to the model's. Appended: only bytes were
    // added, display[0, *keptChars) is as it was and only the new bytes were rendered.
    // Replaced: the whole text was rendered. None: the text shows the model's already.
    // `renderAll` renders the whole text whatever changed (the view lost what it showed).
    TestBoxChange FollowTestBox(size_t index, bool renderAll, size_t* keptChars);
    const TestBoxText& ShownText(size_t index) { return m_shown[index].text; }
    // Bytes appended to a test box's text (the receive poll's: `keptBytes` of the model's
    // control) go in with frames (AppendFrames): a reader streaming at the poll's rate
    // would otherwise have the box changed, laid out and painted for each byte, 100 times
    // a second, at many times the byte's cost. A new text (a handler's status) is shown at
    // once.
    static constexpr int kFrameMs = 40;
    static bool WaitsForFrame(TestBoxChange change, const Control& c) {
        return change == TestBoxChange::Appended && c.keptBytes > 0;
    }

private:
    ViewAdapter& m_view;
    std::u16string m_lineBreak;
    RealTime m_realTime;
    const ByteCharset& m_charset;
    Dialog* m_dialog = nullptr;
    zarn::VirtualClock* m_clock = nullptr;
    uint32_t m_clockBase = 0;
    uint64_t m_realBase = 0;
    bool m_userEditing = false;
    std::map<size_t, ShownTestBox> m_shown;  // multi-line edits, by template position
};

}  // namespace ui
