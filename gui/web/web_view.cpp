// The page's view of the dialog: the third view beside the Qt and Win32 windows. The page's
// script (gui/web/page.js) builds native HTML controls from the templates and hands every
// user action to the exported zw_* functions below; this adapter forwards them to a
// ui::ViewDriver over the same dialog model, and mirrors each control the model changes
// back into the page (gui/web/page_lib.js). Message boxes, file dialogs and the About box
// are modal in the page: the handler waits in them (ASYNCIFY) while timer ticks still
// reach the model.
#include <emscripten.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "app/zarn60_tool_dlg.h"
#include "base/clock.h"
#include "base/web/page_wait.h"
#include "gui/web/bridge.h"
#include "link/web/web_links.h"
#include "res/resources.h"
#include "sim/inprocess.h"
#include "ui/dialog_keys.h"
#include "ui/view_driver.h"

extern "C" {
// gui/web/page_lib.js
void zarn_page_mirror(int page, int index, const char* json);
void zarn_page_timer(int page, int periodMs);
void zarn_page_focus(int page, int index);
void zarn_page_busy(int page, int busy);
void zarn_page_ended(int page, int result);
void zarn_page_message(const char* text, const char* title, int warning);
char* zarn_page_file_dialog(const char* requestJson);  // malloc'd path, or null
void zarn_page_open_about(const char* templateJson);
void zarn_page_wait_about();
}

namespace gui::web {

namespace {

enum Page { kMain = 0, kAbout = 1 };

class PageView final : public ui::Host, private ui::ViewAdapter {
public:
    PageView(Page page, const res::DialogTemplate& tpl)
        : m_page(page), m_template(tpl), m_driver(*this, ui::kLineBreakLf) {}

    void Attach(ui::Dialog* dialog) {
        m_dialog = dialog;
        m_driver.Attach(dialog);
        if (!dialog) return;
        for (size_t i = 0; i < dialog->AllControls().size(); ++i) Mirror(i);
        zarn_page_timer(m_page, static_cast<int>(dialog->TimerPeriod()));
        FocusChanged(dialog->Focus());
    }
    ui::ViewDriver& Driver() { return m_driver; }
    ui::Dialog* Model() const { return m_dialog; }
    int IdAt(int index) const {
        return index >= 0 && static_cast<size_t>(index) < m_template.controls.size()
                   ? m_template.controls[static_cast<size_t>(index)].id
                   : res::IDC_STATIC;
    }

    // ui::Host
    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override {
        if (zarn::web::WaitInFlight()) return;  // nothing can show it inside another wait
        const zarn::web::PageWait wait;
        zarn_page_message(text.c_str(), (title.empty() ? ui::Dialog::ProgramName() : title).c_str(),
                          icon == ui::MsgIcon::Exclamation);
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest& request) override {
        if (zarn::web::WaitInFlight()) return std::nullopt;
        char* path;
        {
            const zarn::web::PageWait wait;
            path = zarn_page_file_dialog(FileRequestJson(request).c_str());
        }
        if (!path) return std::nullopt;
        std::string chosen(path);
        std::free(path);
        return chosen;
    }
    void ShowAbout() override;
    void DialogEnded(int result) override { zarn_page_ended(m_page, result); }
    void ControlChanged(int id) override {
        if (!m_dialog) return;
        const auto& all = m_dialog->AllControls();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].id == id) Mirror(i);
    }
    void TimerChanged(uint32_t periodMs) override {
        zarn_page_timer(m_page, static_cast<int>(periodMs));
    }
    void FocusChanged(int id) override {
        for (size_t i = 0; i < m_template.controls.size(); ++i)
            if (m_template.controls[i].id == id && id != res::IDC_STATIC) {
                zarn_page_focus(m_page, static_cast<int>(i));
                return;
            }
    }

private:
    void BeginUserAction(bool busy) override {
        if (busy) zarn_page_busy(m_page, 1);
    }
    void EndUserAction(bool busy) override {
        if (busy) zarn_page_busy(m_page, 0);
    }
    void Mirror(size_t index) override {
        if (!m_dialog || index >= m_dialog->AllControls().size()) return;
        const ui::Control& c = m_dialog->AllControls()[index];
        std::string json;
        if (c.kind == res::Kind::Edit && (c.style & res::STYLE_MULTILINE)) {
            // The test box: control bytes shown as symbols, as in the desktop views; what
            // is new is what a screen reader hears.
            size_t kept = 0;
            const auto change = m_driver.FollowTestBox(index, false, &kept);
            const std::u16string& shown = m_driver.ShownText(index).display;
            std::u16string_view announce;
            if (change == ui::ViewDriver::TestBoxChange::Replaced) announce = shown;
            if (change == ui::ViewDriver::TestBoxChange::Appended)
                announce = std::u16string_view(shown).substr(kept);
            // The poll's bytes: only what they add, which waits for the page's next frame
            // (the whole text for each byte would cost as much as the text).
            json = ui::ViewDriver::WaitsForFrame(change, c) ? TestBoxAppendJson(c, announce, kept)
                                                            : TestBoxJson(c, shown, announce);
        } else {
            json = ControlJson(c);
        }
        zarn_page_mirror(m_page, static_cast<int>(index), json.c_str());
    }

    Page m_page;
    const res::DialogTemplate& m_template;
    ui::ViewDriver m_driver;
    ui::Dialog* m_dialog = nullptr;
};

struct PageState {
    std::unique_ptr<sim::InProcessSimulation> simulation;
    std::unique_ptr<PageView> main;
    std::unique_ptr<CZARN60TOOLDlg> dialog;
    PageView* about = nullptr;  // while the About box is up
    std::string text;           // the last text handed to the page
};

PageState& State() {
    static PageState state;
    return state;
}

void PageView::ShowAbout() {
    if (zarn::web::WaitInFlight() || State().about) return;
    PageView view(kAbout, res::AboutDialogTemplate());
    CAboutDlg::DoModal(view, [&view](CAboutDlg& about) {
        zarn_page_open_about(TemplateJson(about.Template(), about).c_str());
        view.Attach(&about);
        State().about = &view;
        if (!about.IsEnded()) {
            const zarn::web::PageWait wait;
            zarn_page_wait_about();
        }
        State().about = nullptr;
    });
}

PageView* ViewOf(int page) {
    return page == kAbout ? State().about : State().main.get();
}

const char* Hand(std::string text) {
    State().text = std::move(text);
    return State().text.c_str();
}

// A few cards for the simulated reader's slot (its own card first).
constexpr const char* kTestCards[] = {
    "B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|",
    "B5500000000000004^ROE/JANE^3012101|5500000000000004=3012101|0112  3456  7890",
    "|6011000000000004=2812101|",
};

}  // namespace

}  // namespace gui::web

using gui::web::State;
using gui::web::ViewOf;

extern "C" {

// Makes the dialog, with the in-process simulated reader when `simulate`; the page builds
// its controls from zw_template() and then calls zw_attach().
EMSCRIPTEN_KEEPALIVE void zw_start(int simulate) {
    auto& s = State();
    if (s.dialog) return;
    ui::Dialog::SetProgramName("zarn60-tool");
    if (simulate) s.simulation = std::make_unique<sim::InProcessSimulation>();
    s.main = std::make_unique<gui::web::PageView>(gui::web::kMain, res::MainDialogTemplate());
    if (s.simulation) s.main->Driver().PaceVirtualClock(&s.simulation->Clock());
    s.dialog = std::make_unique<CZARN60TOOLDlg>();
    s.dialog->SetHost(s.main.get());
    s.dialog->Create();
}

// The main dialog's template, with its radio groups as the dialog made them, as JSON.
EMSCRIPTEN_KEEPALIVE const char* zw_template() {
    if (!State().dialog) return gui::web::Hand("null");
    return gui::web::Hand(gui::web::TemplateJson(res::MainDialogTemplate(), *State().dialog));
}

// The page has its controls: every control is shown as the dialog has it, from now on.
EMSCRIPTEN_KEEPALIVE void zw_attach() {
    if (State().dialog) State().main->Attach(State().dialog.get());
}

// The system menu's items (the About box), as JSON.
EMSCRIPTEN_KEEPALIVE const char* zw_menu() {
    return gui::web::Hand(State().dialog ? gui::web::MenuJson(*State().dialog) : "[]");
}

EMSCRIPTEN_KEEPALIVE void zw_sys_command(int command) {
    if (auto* v = ViewOf(0))
        v->Driver().Run([&] { v->Model()->UserSysCommand(static_cast<uint32_t>(command)); });
}

EMSCRIPTEN_KEEPALIVE void zw_click(int page, int index, int second) {
    if (auto* v = ViewOf(page)) v->Driver().UserClicked(static_cast<size_t>(index), second != 0);
}

// The user edited control `index` into `text` (UTF-8) in one step.
EMSCRIPTEN_KEEPALIVE void zw_edit(int page, int index, const char* text) {
    auto* v = ViewOf(page);
    if (!v || !v->Model()) return;
    const size_t i = static_cast<size_t>(index);
    if (i >= v->Model()->AllControls().size()) return;
    const ui::Control& c = v->Model()->AllControls()[i];
    if (c.kind == res::Kind::Edit && (c.style & res::STYLE_MULTILINE))
        v->Driver().UserEditedTestBox(i, gui::web::Utf8ToU16(text));
    else
        v->Driver().UserEdited(i, gui::web::TypedToBytes(text));
}

EMSCRIPTEN_KEEPALIVE void zw_slider(int page, int index, int pos) {
    auto* v = ViewOf(page);
    if (!v) return;
    const int id = v->IdAt(index);
    v->Driver().Run([&] { v->Model()->UserSetSlider(id, pos); });
    v->ControlChanged(id);
}

// Enter with the focus on control `index` (-1: none): a push button's click, else the
// dialog's default processing.
EMSCRIPTEN_KEEPALIVE void zw_enter(int page, int index) {
    auto* v = ViewOf(page);
    if (!v || !v->Model()) return;
    const int id = v->IdAt(index);
    if (id != res::IDC_STATIC && v->Model()->HasControl(id) &&
        v->Model()->GetControl(id).kind == res::Kind::Button)
        v->Driver().Run([&] { v->Model()->UserClick(id); });
    else
        v->Driver().Run([&] { v->Model()->UserPressEnter(); });
}

EMSCRIPTEN_KEEPALIVE void zw_escape(int page) {
    if (auto* v = ViewOf(page)) v->Driver().Run([&] { v->Model()->UserPressEscape(); });
}

// The dialog manager's keys: 0 Tab, 1 Shift+Tab, 2 Left, 3 Right, 4 Up, 5 Down. 1 when used.
EMSCRIPTEN_KEEPALIVE int zw_key(int page, int key) {
    auto* v = ViewOf(page);
    if (!v) return 0;
    static constexpr ui::DialogKey kKeys[] = {ui::DialogKey::Tab,  ui::DialogKey::BackTab,
                                              ui::DialogKey::Left, ui::DialogKey::Right,
                                              ui::DialogKey::Up,   ui::DialogKey::Down};
    if (key < 0 || key > 5) return 0;
    bool used = false;
    v->Driver().Run([&] { used = ui::UserKey(*v->Model(), kKeys[key]); }, false);
    return used ? 1 : 0;
}

// The user moved the focus to control `index`.
EMSCRIPTEN_KEEPALIVE void zw_focus(int page, int index) {
    auto* v = ViewOf(page);
    if (!v || !v->Model()) return;
    const int id = v->IdAt(index);
    if (id != res::IDC_STATIC && id != v->Model()->Focus())
        v->Driver().Run([&] { v->Model()->SetFocus(id); }, false);
}

EMSCRIPTEN_KEEPALIVE void zw_tick(int page) {
    if (auto* v = ViewOf(page)) v->Driver().TimerTick();
}

// Which COM number is which granted port, one per line.
EMSCRIPTEN_KEEPALIVE const char* zw_port_names() {
    return gui::web::Hand(State().simulation ? "COM1  the simulated reader\n"
                                             : zarn::web::SerialPortNames());
}

EMSCRIPTEN_KEEPALIVE int zw_test_card_count() {
    return State().simulation ? static_cast<int>(std::size(gui::web::kTestCards)) : 0;
}

// Passes test card `n` through the simulated reader's slot; "" or why it could not.
EMSCRIPTEN_KEEPALIVE const char* zw_swipe(int n) {
    auto& s = State();
    if (!s.simulation || n < 0 || n >= zw_test_card_count()) return gui::web::Hand("no simulated reader");
    s.main->Driver().PaceClock();
    std::ostringstream out;
    std::string error;
    if (!s.simulation->Command(std::string("card ") + gui::web::kTestCards[n], out, &error) ||
        !s.simulation->Command("swipe", out, &error))
        return gui::web::Hand(error.empty() ? "the card could not be swiped" : error);
    return gui::web::Hand("");
}

}  // extern "C"
