#include "ui/dialog.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

namespace ui {

namespace {

std::string g_programName = "zarn60-tool";

// Sorted combo boxes order their items without regard to case, as the platform does.
bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

// Every text change but an append replaces the whole text as far as a view knows.
void Rewritten(Control& c) {
    ++c.textRevision;
    c.keptBytes = 0;
}

bool IsTextKind(res::Kind k) {
    return k == res::Kind::Edit || k == res::Kind::Combo;
}
bool IsClickable(res::Kind k) {
    return k == res::Kind::Button || k == res::Kind::Check || k == res::Kind::Radio;
}

// Keeps the handler depth right whatever a handler throws.
class DepthGuard {
public:
    explicit DepthGuard(int& depth) : m_depth(depth) { ++m_depth; }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& m_depth;
};

}  // namespace

Dialog::Dialog(const res::DialogTemplate& tpl) : m_template(tpl) {}

Dialog::~Dialog() = default;

void Dialog::SetHost(Host* host) {
    m_host = host ? host : &m_nullHost;
}

void Dialog::Create() {
    if (!m_controls.empty()) throw std::logic_error("dialog created twice");
    // A group runs from a control with STYLE_GROUP to the next one; the radios in it are
    // partners, whatever else lies between them.
    int groupLeader = res::IDC_STATIC;
    for (const res::ControlTemplate& t : m_template.controls) {
        Control c;
        c.id = t.id;
        c.kind = t.kind;
        c.style = t.style;
        c.rect = t.rect;
        c.visible = !(t.style & res::STYLE_HIDDEN);
        c.enabled = !(t.style & res::STYLE_DISABLED);
        if (!IsTextKind(t.kind)) c.text = std::string(t.caption);
        if (t.style & res::STYLE_GROUP) groupLeader = res::IDC_STATIC;
        if (t.kind == res::Kind::Radio) {
            if (groupLeader == res::IDC_STATIC) groupLeader = t.id;
            c.groupLeader = groupLeader;
        }
        if (t.id != res::IDC_STATIC && !m_index.count(t.id)) m_index[t.id] = m_controls.size();
        m_controls.push_back(std::move(c));
    }
    {
        DepthGuard guard(m_handlerDepth);
        OnInitDialog();
    }
    // The platform gives the focus to the first control that takes it when
    // OnInitDialog has not placed it.
    if (m_focus == res::IDC_STATIC) {
        for (const Control& c : m_controls) {
            if (c.id != res::IDC_STATIC && c.visible && c.enabled &&
                (IsTextKind(c.kind) || IsClickable(c.kind))) {
                SetFocus(c.id);
                break;
            }
        }
    }
}

void Dialog::EndDialog(int result) {
    if (m_ended) return;
    m_ended = true;
    m_result = result;
    if (m_timerPeriod != 0) {
        m_timerPeriod = 0;
        m_host->TimerChanged(0);
    }
    m_host->DialogEnded(result);
}

std::vector<int> Dialog::ControlIds() const {
    std::vector<int> ids;
    ids.reserve(m_index.size());
    for (const auto& entry : m_index) ids.push_back(entry.first);
    return ids;
}

bool Dialog::HasControl(int id) const {
    return m_index.count(id) != 0;
}

const Control& Dialog::GetControl(int id) const {
    return Ctl(id);
}

Control& Dialog::Ctl(int id) {
    auto it = m_index.find(id);
    if (it == m_index.end()) throw std::out_of_range("no control " + std::to_string(id));
    return m_controls[it->second];
}

const Control& Dialog::Ctl(int id) const {
    auto it = m_index.find(id);
    if (it == m_index.end()) throw std::out_of_range("no control " + std::to_string(id));
    return m_controls[it->second];
}

void Dialog::Changed(int id) {
    m_host->ControlChanged(id);
}

// --- Operations on controls ---------------------------------------------------------

bool Dialog::IsChecked(int id) const {
    return Ctl(id).checked;
}

void Dialog::SetCheck(int id, bool checked) {
    Ctl(id).checked = checked;
    Changed(id);
}

bool Dialog::IsEnabled(int id) const {
    return Ctl(id).enabled;
}

void Dialog::EnableControl(int id, bool enable) {
    Ctl(id).enabled = enable;
    Changed(id);
}

bool Dialog::IsVisible(int id) const {
    return Ctl(id).visible;
}

void Dialog::ShowControl(int id, bool show) {
    Ctl(id).visible = show;
    Changed(id);
}

std::string Dialog::GetText(int id) const {
    return Ctl(id).text;
}

void Dialog::SetText(int id, const std::string& text) {
    Control& c = Ctl(id);
    c.text = text;
    Rewritten(c);
    Changed(id);
    // Edits report every change of their text, also one the program makes.
    if (c.kind == res::Kind::Edit) Notify(EN_CHANGE, id);
}

void Dialog::AppendText(int id, const std::string& bytes) {
    Control& c = Ctl(id);
    const size_t kept = c.text.size();
    c.text += bytes;
    ++c.textRevision;
    c.keptBytes = kept;
    Changed(id);
    if (c.kind == res::Kind::Edit) Notify(EN_CHANGE, id);
}

void Dialog::LimitText(int id, int limit) {
    Ctl(id).limit = limit < 0 ? 0 : limit;
    Changed(id);
}

void Dialog::ComboAddString(int id, const std::string& item) {
    Control& c = Ctl(id);
    auto at = c.items.end();
    if (c.style & res::STYLE_SORTED)
        at = std::upper_bound(c.items.begin(), c.items.end(), item, LessNoCase);
    int index = static_cast<int>(at - c.items.begin());
    c.items.insert(at, item);
    if (c.curSel >= index) ++c.curSel;
    Changed(id);
}

void Dialog::ComboSetCurSel(int id, int index) {
    Control& c = Ctl(id);
    if (index >= 0 && index < static_cast<int>(c.items.size())) {
        c.curSel = index;
        c.text = c.items[static_cast<size_t>(index)];
    } else {
        c.curSel = -1;
        c.text.clear();
    }
    Rewritten(c);
    Changed(id);
}

void Dialog::SliderSetRange(int id, int min, int max, bool /*redraw*/) {
    Control& c = Ctl(id);
    c.rangeMin = min;
    c.rangeMax = max;
    c.pos = std::clamp(c.pos, c.rangeMin, std::max(c.rangeMin, c.rangeMax));
    Changed(id);
}

void Dialog::SliderSetTicFreq(int id, int freq) {
    Ctl(id).ticFreq = freq;
    Changed(id);
}

void Dialog::SliderSetPos(int id, int pos) {
    Control& c = Ctl(id);
    c.pos = std::clamp(pos, c.rangeMin, std::max(c.rangeMin, c.rangeMax));
    Changed(id);
}

int Dialog::SliderGetPos(int id) const {
    return Ctl(id).pos;
}

void Dialog::SetFocus(int id) {
    if (id != res::IDC_STATIC) Ctl(id);  // unknown ids throw before anything changes
    if (id == m_focus) return;
    int old = m_focus;
    m_focus = id;
    if (old != res::IDC_STATIC && Ctl(old).kind == res::Kind::Edit) Notify(EN_KILLFOCUS, old);
    m_host->FocusChanged(id);
    if (id != res::IDC_STATIC && Ctl(id).kind == res::Kind::Edit) Notify(EN_SETFOCUS, id);
}

int Dialog::ShownFocus() const {
    if (m_focus == res::IDC_STATIC) return res::IDC_STATIC;
    const Control& c = Ctl(m_focus);
    return c.visible && c.enabled ? m_focus : res::IDC_STATIC;
}

void Dialog::SetTimer(uint32_t periodMs) {
    if (periodMs < 10) periodMs = 10;  // the platform never runs a timer faster
    m_timerPeriod = periodMs;
    m_host->TimerChanged(periodMs);
}

void Dialog::KillTimer() {
    if (m_timerPeriod == 0) return;
    m_timerPeriod = 0;
    m_host->TimerChanged(0);
}

void Dialog::MessageBox(const std::string& text, MsgIcon icon) {
    m_gate.MessageBox(text, ProgramName(), icon);
}

void Dialog::ModalGate::MessageBox(const std::string& text, const std::string& title,
                                   MsgIcon icon) {
    DepthGuard wait(m_dialog.m_modalWaits);
    m_dialog.m_host->MessageBox(text, title, icon);
}

std::optional<std::string> Dialog::ModalGate::FileDialog(const FileDialogRequest& request) {
    DepthGuard wait(m_dialog.m_modalWaits);
    return m_dialog.m_host->FileDialog(request);
}

void Dialog::ModalGate::ShowAbout() {
    DepthGuard wait(m_dialog.m_modalWaits);
    m_dialog.m_host->ShowAbout();
}

void Dialog::AppendSystemMenu(uint32_t command, const std::string& text) {
    m_systemMenu.push_back(MenuItem{command, text});
}

uint32_t Dialog::HelpCommand() const {
    for (const MenuItem& item : m_systemMenu) {
        if (item.command != 0) return item.command;
    }
    return 0;
}

// --- Data exchange --------------------------------------------------------------------

bool Dialog::UpdateData(bool save) {
    for (const Binding& b : m_bindings) {
        if (save) {
            std::string text = GetText(b.id);
            // A text over its limit stops the exchange before its member takes it, so
            // the member keeps what it had and later reads do not trip over it again.
            if (b.limit > 0 && text.size() > static_cast<size_t>(b.limit)) {
                std::string message(res::LoadString(res::AFX_IDP_PARSE_STRING_SIZE));
                size_t at = message.find("%1");
                if (at != std::string::npos) message.replace(at, 2, std::to_string(b.limit));
                MessageBox(message, MsgIcon::Exclamation);
                SetFocus(b.id);
                return false;
            }
            *b.member = text;
        } else {
            SetText(b.id, *b.member);
        }
        LimitText(b.id, b.limit);
    }
    return true;
}

void Dialog::BindText(int id, std::string* member, int limit) {
    m_bindings.push_back(Binding{id, member, limit});
}

// --- Message map --------------------------------------------------------------------

void Dialog::OnCommand(int code, int id, Handler handler) {
    m_commands[{code, id}] = std::move(handler);
}

void Dialog::OnTimer(Handler handler) {
    m_onTimer = std::move(handler);
}

void Dialog::OnSysCommand(std::function<void(uint32_t)> handler) {
    m_onSysCommand = std::move(handler);
}

void Dialog::RunHandler(const Handler& h) {
    DepthGuard guard(m_handlerDepth);
    h();
}

void Dialog::Notify(int code, int id) {
    auto it = m_commands.find({code, id});
    if (it != m_commands.end()) {
        Handler h = it->second;  // a handler may remap itself
        RunHandler(h);
        return;
    }
    // The base map: the OK and Cancel commands.
    if (code == BN_CLICKED && id == IDOK) {
        RunHandler([this] { OnOK(); });
    } else if (code == BN_CLICKED && id == IDCANCEL) {
        RunHandler([this] { OnCancel(); });
    }
}

bool Dialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void Dialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void Dialog::DefaultSysCommand(uint32_t command) {
    if ((command & SC_MASK) == SC_CLOSE) RunHandler([this] { OnCancel(); });
}

// --- What a user does -------------------------------------------------------------------

bool Dialog::UserClick(int id) {
    if (m_ended || !HasControl(id)) return false;
    Control& c = Ctl(id);
    if (!c.visible || !c.enabled || !IsClickable(c.kind)) return false;
    if (c.kind == res::Kind::Check) {
        c.checked = !c.checked;
        Changed(id);
    } else if (c.kind == res::Kind::Radio) {
        // A user's choice checks this radio and clears its partners.
        for (Control& other : m_controls) {
            if (other.kind == res::Kind::Radio && other.groupLeader == c.groupLeader &&
                other.id != id && other.checked) {
                other.checked = false;
                Changed(other.id);
            }
        }
        c.checked = true;
        Changed(id);
    }
    Notify(BN_CLICKED, id);
    return true;
}

bool Dialog::UserDoubleClick(int id) {
    if (!UserClick(id)) return false;
    if (m_ended) return true;
    const Control& c = Ctl(id);
    if (c.visible && c.enabled) Notify(BN_DOUBLECLICKED, id);
    return true;
}

bool Dialog::UserType(int id, const std::string& bytes) {
    if (m_ended || !HasControl(id)) return false;
    Control& c = Ctl(id);
    if (!c.visible || !c.enabled || !IsTextKind(c.kind)) return false;
    SetFocus(id);
    if (bytes.empty()) {
        // Delete on the whole selection.
        c.text.clear();
        Rewritten(c);
        Changed(id);
        Notify(EN_CHANGE, id);
        return true;
    }
    bool selectionPending = true;  // the first byte replaces the whole text
    for (char b : bytes) {
        if (m_ended) break;
        Control& cur = Ctl(id);  // a handler may have changed it
        size_t base = selectionPending ? 0 : cur.text.size();
        if (cur.limit > 0 && base + 1 > static_cast<size_t>(cur.limit)) break;
        if (selectionPending) cur.text.clear();
        selectionPending = false;
        cur.text.push_back(b);
        Rewritten(cur);
        Changed(id);
        Notify(EN_CHANGE, id);
    }
    return true;
}

bool Dialog::UserPaste(int id, const std::string& bytes) {
    if (m_ended || !HasControl(id)) return false;
    Control& c = Ctl(id);
    if (!c.visible || !c.enabled || !IsTextKind(c.kind)) return false;
    SetFocus(id);
    std::string text = bytes;
    if (c.limit > 0 && text.size() > static_cast<size_t>(c.limit))
        text.resize(static_cast<size_t>(c.limit));
    c.text = text;
    Rewritten(c);
    Changed(id);
    Notify(EN_CHANGE, id);
    return true;
}

bool Dialog::UserEdit(int id, const std::string& bytes) {
    if (m_ended || !HasControl(id)) return false;
    Control& c = Ctl(id);
    if (!c.visible || !c.enabled || !IsTextKind(c.kind)) return false;
    if (c.limit > 0 && bytes.size() > static_cast<size_t>(c.limit) && bytes.size() >= c.text.size())
        return false;
    SetFocus(id);
    c.text = bytes;
    Rewritten(c);
    Changed(id);
    Notify(EN_CHANGE, id);
    return true;
}

bool Dialog::UserSetSlider(int id, int pos) {
    if (m_ended || !HasControl(id)) return false;
    Control& c = Ctl(id);
    if (!c.visible || !c.enabled || c.kind != res::Kind::Slider) return false;
    SliderSetPos(id, pos);
    return true;
}

void Dialog::UserPressEnter() {
    if (m_ended) return;
    Notify(BN_CLICKED, IDOK);
}

void Dialog::UserPressEscape() {
    if (m_ended) return;
    Notify(BN_CLICKED, IDCANCEL);
}

void Dialog::UserClose() {
    if (m_ended) return;
    UserSysCommand(SC_CLOSE);
}

void Dialog::UserSysCommand(uint32_t command) {
    if (m_ended) return;
    if (m_onSysCommand) {
        auto h = m_onSysCommand;
        RunHandler([&] { h(command); });
    } else {
        DefaultSysCommand(command);
    }
}

bool Dialog::TickCanRun() const {
    // A handler at work holds ticks back; one waiting in its own modal box lets them in,
    // and the tick's handler is then at work itself.
    return !m_ended && m_timerPeriod != 0 && m_onTimer && m_handlerDepth <= m_modalWaits;
}

void Dialog::TimerTick() {
    if (!TickCanRun()) return;
    RunHandler(m_onTimer);
}

void Dialog::SetProgramName(const std::string& name) {
    g_programName = name;
}

const std::string& Dialog::ProgramName() {
    return g_programName;
}

}  // namespace ui
