#include "ui/view_driver.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace ui {

namespace {

uint64_t SteadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

ViewDriver::ViewDriver(ViewAdapter& view, std::u16string_view lineBreak, RealTime realTime,
                       const ByteCharset& charset)
    : m_view(view),
      m_lineBreak(lineBreak),
      m_realTime(realTime ? std::move(realTime) : RealTime(SteadyMs)),
      m_charset(charset),
      m_realBase(m_realTime()) {}

void ViewDriver::Attach(Dialog* dialog) {
    m_dialog = dialog;
    for (auto& entry : m_shown) entry.second.revision = ShownTestBox::kUnknown;  // another's
}

void ViewDriver::PaceVirtualClock(zarn::VirtualClock* clock) {
    m_clock = clock;
    if (m_clock) m_clockBase = m_clock->NowMs();
    m_realBase = m_realTime();
}

void ViewDriver::PaceClock() {
    if (m_clock) m_clock->AdvanceTo(m_clockBase + static_cast<uint32_t>(m_realTime() - m_realBase));
}

bool ViewDriver::Run(const std::function<void()>& action, bool busy) {
    if (!m_dialog || m_dialog->IsEnded() || m_dialog->InHandler()) return false;
    PaceClock();
    struct Action {
        ViewAdapter& view;
        bool busy;
        ~Action() { view.EndUserAction(busy); }
    } scope{m_view, busy};
    m_view.BeginUserAction(busy);
    action();
    return true;
}

void ViewDriver::TimerTick() {
    if (!m_dialog || !m_dialog->TickCanRun()) return;
    PaceClock();
    m_dialog->TimerTick();
}

void ViewDriver::UserClicked(size_t index, bool second) {
    if (!m_dialog || index >= m_dialog->AllControls().size()) return;
    const int id = m_dialog->AllControls()[index].id;
    Run([&] {
        if (second)
            m_dialog->UserDoubleClick(id);
        else
            m_dialog->UserClick(id);
    });
}

void ViewDriver::UserEdited(size_t index, const std::string& bytes) {
    if (!m_dialog || index >= m_dialog->AllControls().size()) return;
    const Control& c = m_dialog->AllControls()[index];
    // A view may count its edit's limit in characters: what it let through past the
    // limit in bytes is cut to the characters that fit, as an edit of bytes would.
    const std::string kept =
        c.limit > 0 ? FitEditToLimit(c.text, bytes, static_cast<size_t>(c.limit), m_charset)
                    : bytes;
    // A keystroke refused at the limit changes nothing, and tells nobody.
    if (kept != c.text) {
        const int id = c.id;
        Run([&] { m_dialog->UserEdit(id, kept); });
    }
    m_view.Mirror(index);
}

void ViewDriver::UserEditedTestBox(size_t index, std::u16string_view shown) {
    if (!m_dialog || index >= m_dialog->AllControls().size()) return;
    const Control& c = m_dialog->AllControls()[index];
    const std::string bytes = ApplyTestBoxEdit(c.text, m_shown[index].text, shown, m_charset);
    const bool tooLong = c.limit > 0 && bytes.size() > std::max<size_t>(c.limit, c.text.size());
    m_userEditing = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{m_userEditing};
    if (!tooLong) UserEdited(index, bytes);
    m_view.Mirror(index);
}

ViewDriver::TestBoxChange ViewDriver::FollowTestBox(size_t index, bool renderAll,
                                                    size_t* keptChars) {
    *keptChars = 0;
    if (!m_dialog || index >= m_dialog->AllControls().size()) return TestBoxChange::None;
    const Control& c = m_dialog->AllControls()[index];
    ShownTestBox& shown = m_shown[index];
    renderAll = renderAll || m_userEditing;
    if (!renderAll && shown.revision == c.textRevision) return TestBoxChange::None;
    // What is shown ends where the kept bytes end, or before a character whose bytes had
    // not all arrived.
    const bool added = shown.revision != ShownTestBox::kUnknown &&
                       c.textRevision == shown.revision + 1 &&
                       shown.text.byteAt.back() <= c.keptBytes && c.keptBytes <= c.text.size();
    shown.revision = c.textRevision;
    if (!renderAll && added) {
        // Bytes added to what is shown (the receive poll): only they are rendered.
        *keptChars = shown.text.display.size();
        AppendTestBox(shown.text, c.text, shown.text.byteAt.back(), m_lineBreak, m_charset);
        return TestBoxChange::Appended;
    }
    shown.text = RenderTestBox(c.text, m_lineBreak, m_charset);
    return TestBoxChange::Replaced;
}

}  // namespace ui
