// The Win32 window against the in-process simulated reader: the layout against the
// templates, the model mirrored both ways, the reader's operations, timer 1, the system
// menu's About box, a message box, and the save and open dialogs answered; then what a
// user does, as real keystrokes and mouse clicks (SendInput): typing into every edit and
// the COM box, picking from its list, arrows, Tab, Enter, Escape, F1, the right-click
// menu, and the bytes typed characters become in the system's code page. Runs under Wine
// on a display (Xvfb). With --bench it instead prints how long the first painted main
// window takes against a bare dialog.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gui/win32/dialog_template.h"
#include "gui/win32/dialog_window.h"
#include "gui/win32/text16.h"
#include "sim/inprocess.h"
#include "ui/dialog_keys.h"

namespace {

using gui::win32::DialogWindow;

int g_failures = 0;
int g_checks = 0;

void Check(bool ok, const std::string& what) {
    ++g_checks;
    if (!ok) {
        ++g_failures;
        std::printf("FAIL %s\n", what.c_str());
        std::fflush(stdout);
    }
}

std::string Narrow(const std::wstring& w) {
    return gui::win32::WideToUtf8(w);
}

std::wstring Text(HWND w) {
    // WM_GETTEXT works across threads, where GetWindowText does not for other processes.
    const auto length = static_cast<size_t>(SendMessageW(w, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto got =
        SendMessageW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
    return text;
}

std::wstring ClassName(HWND w) {
    wchar_t name[128] = {};
    GetClassNameW(w, name, 128);
    return name;
}

// Runs the messages of this thread for a while, as the program's loop does.
void Pump(HWND dialog, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
}

// Answers the next dialog box a window owns from another thread, while this thread runs
// the box's modal loop.
class Answer {
public:
    Answer(HWND owner, std::function<void(HWND)> action)
        : m_thread([this, owner, action] {
              for (int i = 0; i < 500 && !m_found; ++i) {
                  Sleep(20);
                  HWND box = Find(owner);
                  if (!box) continue;
                  Sleep(100);  // let it finish opening
                  m_found = true;
                  action(box);
              }
          }) {}
    ~Answer() { m_thread.join(); }
    bool Found() const { return m_found; }

private:
    static HWND Find(HWND owner) {
        struct Search {
            HWND owner, found;
        } s{owner, nullptr};
        EnumWindows(
            [](HWND w, LPARAM p) -> BOOL {
                auto* search = reinterpret_cast<Search*>(p);
                if (GetWindow(w, GW_OWNER) == search->owner && IsWindowVisible(w) &&
                    ClassName(w) == L"#32770") {
                    search->found = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&s));
        return s.found;
    }
    std::atomic<bool> m_found{false};
    std::thread m_thread;
};

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND ChildById(HWND parent, int id) {
    for (HWND w : Children(parent))
        if (GetDlgCtrlID(w) == id) return w;
    return nullptr;
}

void ClickOk(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

// --- Real input -------------------------------------------------------------------------

// Keys and clicks go through the system's input queue, as a user's do; the messages they
// become are then run by Pump.
bool IsExtendedKey(WORD vk) {
    switch (vk) {
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_HOME:
        case VK_END:
        case VK_PRIOR:
        case VK_NEXT:
        case VK_INSERT:
        case VK_DELETE:
        case VK_APPS:
            return true;
        default:
            return false;
    }
}

INPUT KeyInput(WORD vk, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (IsExtendedKey(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    return in;
}

// The key with its modifiers held, from any thread.
void SendKeys(WORD vk, std::initializer_list<WORD> modifiers = {}) {
    std::vector<INPUT> in;
    for (WORD m : modifiers) in.push_back(KeyInput(m, true));
    in.push_back(KeyInput(vk, true));
    in.push_back(KeyInput(vk, false));
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it)
        in.push_back(KeyInput(*it, false));
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// A character as the keyboard types it: its key when the layout has one, else the
// character itself (as an input method gives it).
void SendChar(wchar_t ch) {
    const SHORT scan = ch < 0x80 ? VkKeyScanW(ch) : -1;
    if (scan != -1) {
        const auto vk = static_cast<WORD>(LOBYTE(scan));
        if (HIBYTE(scan) & 1)
            SendKeys(vk, {VK_SHIFT});
        else
            SendKeys(vk);
        return;
    }
    INPUT in[2] = {};
    for (int i = 0; i < 2; ++i) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wScan = ch;
        in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, in, sizeof(INPUT));
}

// A left (or right) click at a point of the screen.
void SendClick(POINT at, bool right = false) {
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in[3] = {};
    for (INPUT& i : in) {
        i.type = INPUT_MOUSE;
        i.mi.dx = static_cast<LONG>((at.x * 65535 + cx / 2) / std::max(cx - 1, 1));
        i.mi.dy = static_cast<LONG>((at.y * 65535 + cy / 2) / std::max(cy - 1, 1));
    }
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags =
        MOUSEEVENTF_ABSOLUTE | (right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    in[2].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | (right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    SendInput(3, in, sizeof(INPUT));
}

// A point inside a window, `fx` and `fy` its fractions of the width and height.
POINT PointIn(HWND w, double fx = 0.5, double fy = 0.5) {
    RECT r{};
    GetWindowRect(w, &r);
    return {r.left + static_cast<LONG>((r.right - r.left) * fx),
            r.top + static_cast<LONG>((r.bottom - r.top) * fy)};
}

// The first visible window of a class this process shows, or null.
HWND FindShown(const wchar_t* className) {
    struct Search {
        const wchar_t* name;
        HWND found;
    } s{className, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* search = reinterpret_cast<Search*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == GetCurrentProcessId() && IsWindowVisible(w) &&
                ClassName(w) == search->name) {
                search->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// --- Text -----------------------------------------------------------------------------

void CheckTexts() {
    using namespace gui::win32;
    // Texts that are not UTF-8 are in the code page.
    struct Utf8Case {
        const char* bytes;
        std::wstring wide;
    } utf8[] = {
        {"\xE7\xA1\xAE\xE5\xAE\x9A", L"\u786E\u5B9A"},  // the About box's button
        {"caf\xE9", BytesToWide("caf\xE9")},            // not UTF-8
        {"\xC0\xAF", BytesToWide("\xC0\xAF")},          // overlong: not UTF-8 either
        {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},          // beyond the BMP: a surrogate pair
        // Forms UTF-8 forbids are the code page's too: an encoded surrogate, a value past
        // U+10FFFF, a sequence cut short, a continuation byte alone.
        {"\xED\xA0\x80", BytesToWide("\xED\xA0\x80")},
        {"\xF4\x90\x80\x80", BytesToWide("\xF4\x90\x80\x80")},
        {"a\xE7\xA1", BytesToWide("a\xE7\xA1")},
        {"\x80z", BytesToWide("\x80z")},
        {"", L""},
    };
    const std::wstring loneSurrogate{L'a', wchar_t(0xD800), L'b'};
    Check(WideToUtf8(loneSurrogate) == std::string("a\xEF\xBF\xBD") + 'b',
          "a lone surrogate becomes U+FFFD");
    Check(BytesToWide("\x80") == L"\u20AC" && WideToBytes(L"\u20AC") == "\x80",
          "the euro sign is 0x80");
    if (GetACP() == 936) {
        Check(BytesToWide("\xB6\xC1") == L"\u8BFB" && WideToBytes(L"\u8BFB") == "\xB6\xC1",
              "a Chinese character is two bytes");
        std::u16string shown;
        Check(AnsiCharset().Decode("\xB6", 0, shown) == 0, "a lead byte waits for its trail");
    } else {
        Check(WideToBytes(L"\u8BFB") == "?", "a character the code page lacks is ?");
    }
    for (const auto& c : utf8) {
        Check(Utf8ToWide(c.bytes) == c.wide, std::string("UTF-8 to UTF-16: ") + c.bytes);
        if (Utf8ToWide(c.bytes) == c.wide && c.wide != BytesToWide(c.bytes))
            Check(WideToUtf8(c.wide) == c.bytes, std::string("UTF-16 to UTF-8: ") + c.bytes);
    }
}

// --- The main window --------------------------------------------------------------------

class WindowChecks {
public:
    WindowChecks(DialogWindow& view, CZARN60TOOLDlg& dlg, sim::InProcessSimulation& simulation)
        : m_view(view), m_dlg(dlg), m_sim(simulation), m_hwnd(view.Handle()) {}

    void Run() {
        Layout();
        Mirrored("at start");
        Interlocks();
        Notifications();
        TypingIntoEveryEdit();
        ComPortBox();
        TabStopsAndRadioGroups();
        SuffixWithStxEtx();
        CodePageBytes();
        HelpAndContextMenu();
        FocusByKeys();
        PasteKeepsWhatFits();
        TrackErrorMessageBox();
        ReaderOperations();
        About();
        Files();
        SerialTimer();
        Exit();
    }

private:
    HWND Ctl(int id) { return GetDlgItem(m_hwnd, id); }
    // Real input, then the messages it became.
    void Key(WORD vk, std::initializer_list<WORD> modifiers = {}) {
        SendKeys(vk, modifiers);
        Pump(m_hwnd, 60);
    }
    void Type(const std::wstring& text) {
        for (wchar_t ch : text) {
            SendChar(ch);
            Pump(m_hwnd, 30);
        }
        Pump(m_hwnd, 60);
    }
    void MouseClick(HWND w, double fx = 0.5, double fy = 0.5) {
        SendClick(PointIn(w, fx, fy));
        Pump(m_hwnd, 120);
    }
    // Clicks into an edit (or the COM box's text), selects its text and types over it.
    void TypeOver(HWND w, const std::wstring& text, double fx = 0.3) {
        MouseClick(w, fx);
        Key(VK_END);
        Key(VK_HOME, {VK_SHIFT});
        if (text.empty())
            Key(VK_DELETE);
        else
            Type(text);
    }
    int FocusId() {
        HWND focus = GetFocus();
        for (HWND w = focus; w && w != m_hwnd; w = GetParent(w))
            if (GetParent(w) == m_hwnd) return GetDlgCtrlID(w);
        return 0;
    }
    void Click(int id) { SendMessageW(Ctl(id), BM_CLICK, 0, 0); }
    void SetText(int id, const wchar_t* text) {
        SendMessageW(Ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    std::wstring TestBox() { return Text(Ctl(1052)); }

    void Layout() {
        const auto& tpl = res::MainDialogTemplate();
        RECT client{};
        GetClientRect(m_hwnd, &client);
        RECT whole{0, 0, tpl.width, tpl.height};
        MapDialogRect(m_hwnd, &whole);
        Check(client.right == whole.right && client.bottom == whole.bottom,
              "client area is the template's size");
        std::printf("main dialog: %ldx%ld px for %dx%d dialog units, face %s\n", client.right,
                    client.bottom, tpl.width, tpl.height,
                    Narrow(gui::win32::DialogFace(tpl)).c_str());
        const LONG style = GetWindowLongW(m_hwnd, GWL_STYLE);
        Check(!(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)), "no minimise or maximise box");
        Check(Narrow(Text(m_hwnd)) == std::string(tpl.caption), "caption");

        size_t index = 0;
        for (HWND w = GetWindow(m_hwnd, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT), ++index) {
            if (index >= tpl.controls.size()) break;
            const res::ControlTemplate& t = tpl.controls[index];
            const auto cls = gui::win32::ClassOf(t);
            const std::string name = "control #" + std::to_string(index) + " (" +
                                     std::to_string(t.id) + " " + std::string(t.caption) + ")";
            Check(lstrcmpiW(ClassName(w).c_str(), cls.className) == 0, name + " class");
            const DWORD actual = static_cast<DWORD>(GetWindowLongW(w, GWL_STYLE));
            const DWORD kinds = 0xFFFF;  // the class's own style bits
            Check((actual & cls.style & kinds) == (cls.style & kinds), name + " style bits");
            if (t.kind == res::Kind::Button || t.kind == res::Kind::Check ||
                t.kind == res::Kind::Radio || t.kind == res::Kind::Group)
                Check((actual & BS_TYPEMASK) == (cls.style & BS_TYPEMASK), name + " button type");
            Check((actual & WS_GROUP) == (cls.style & WS_GROUP), name + " WS_GROUP");
            // A radio's tab stop follows its check (the platform moves it): not compared.
            if (t.kind != res::Kind::Radio)
                Check((actual & WS_TABSTOP) == (cls.style & WS_TABSTOP), name + " WS_TABSTOP");
            Check(t.id == res::IDC_STATIC || GetDlgCtrlID(w) == t.id, name + " id");
            // The dialog manager maps the position and the size each on its own.
            RECT units{t.rect.x, t.rect.y, t.rect.w, t.rect.h};
            MapDialogRect(m_hwnd, &units);
            const RECT want{units.left, units.top, units.left + units.right,
                            units.top + units.bottom};
            RECT got{};
            GetWindowRect(w, &got);
            MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&got), 2);
            const bool combo = t.kind == res::Kind::Combo;
            Check(got.left == want.left && got.top == want.top && got.right == want.right &&
                      (combo || got.bottom == want.bottom),
                  name + " pixel rectangle");
            if (combo) {
                RECT dropped{};
                SendMessageW(w, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
                Check(dropped.bottom - dropped.top > 3 * (want.bottom - want.top),
                      name + " has room for its list");
            }
        }
        Check(index == tpl.controls.size(), "one window per control of the template");
    }

    // Every control shows what the model holds.
    void Mirrored(const std::string& when) {
        const auto& controls = m_dlg.AllControls();
        size_t index = 0;
        int wrong = 0;
        std::string first;
        for (HWND w = GetWindow(m_hwnd, GW_CHILD); w && index < controls.size();
             w = GetWindow(w, GW_HWNDNEXT), ++index) {
            const ui::Control& c = controls[index];
            bool ok = (IsWindowVisible(w) != FALSE) == c.visible &&
                      (IsWindowEnabled(w) != FALSE) == c.enabled;
            switch (c.kind) {
                case res::Kind::Check:
                case res::Kind::Radio:
                    ok = ok && (SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED) == c.checked;
                    break;
                case res::Kind::Edit:
                    if (c.style & res::STYLE_MULTILINE) {
                        ok = ok && Text(w) == gui::win32::Wide(
                                                  ui::RenderTestBox(c.text, ui::kLineBreakCrLf,
                                                                    gui::win32::AnsiCharset())
                                                      .display);
                    } else {
                        ok = ok && Text(w) == gui::win32::BytesToWide(c.text);
                        if (c.limit > 0)
                            ok = ok && SendMessageW(w, EM_GETLIMITTEXT, 0, 0) == c.limit;
                    }
                    break;
                case res::Kind::Combo:
                    ok = ok &&
                         SendMessageW(w, CB_GETCOUNT, 0, 0) ==
                             static_cast<LRESULT>(c.items.size()) &&
                         Text(w) == gui::win32::BytesToWide(c.text);
                    break;
                case res::Kind::Slider:
                    ok = ok && SendMessageW(w, TBM_GETPOS, 0, 0) == c.pos;
                    break;
                default:
                    break;
            }
            if (!ok && wrong++ == 0) first = std::to_string(c.id);
        }
        Check(wrong == 0, "window equals the model " + when + " (first wrong: " + first + ")");
    }

    void Interlocks() {
        // The serial radio opens the COM choice; the usb radio closes it again.
        Click(1061);
        Check(IsWindowEnabled(Ctl(1050)) && IsWindowEnabled(Ctl(1055)),
              "serial port enables COM and Open");
        Check(SendMessageW(Ctl(1062), BM_GETCHECK, 0, 0) == BST_UNCHECKED, "usb unchecked");
        Mirrored("after serial port");
        Click(1062);
        Check(!IsWindowEnabled(Ctl(1050)) && !IsWindowEnabled(Ctl(1055)),
              "usb disables COM and Open");
        Mirrored("after usb");
        // Trimming spaces opens the count; no change closes it.
        Click(1034);
        Check(IsWindowEnabled(Ctl(1035)) != FALSE, "trim enables the space count");
        Click(1033);
        Check(!IsWindowEnabled(Ctl(1035)), "no change disables the space count");
        // Disable SS clears the start sentinels through the model.
        Click(1018);
        Mirrored("after Disable SS");
        Click(1018);
        Mirrored("after Disable SS again");
        // A check the model owns: clicking End Track 1 twice leaves it as it was.
        const bool before = m_dlg.IsChecked(1009);
        Click(1009);
        Click(1009);
        Check(m_dlg.IsChecked(1009) == before, "two clicks on a check");
        Mirrored("after End Track 1");
    }

    void Notifications() {
        // Typing reaches the model, one change per edit; the limit is the model's.
        SetText(1023, L"PRE");
        Check(m_dlg.GetText(1023) == "PRE", "typed prefix reaches the model");
        SetText(1023, L"");
        // Code 5 is a double click for a radio, an edit change for a combo.
        const int beforeClicks = m_dlg.IsChecked(1037);
        SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(1037, BN_DOUBLECLICKED),
                     reinterpret_cast<LPARAM>(Ctl(1037)));
        SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(1037, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Ctl(1037)));
        Check(m_dlg.IsChecked(1037) && !m_dlg.IsChecked(1036),
              "double click on Beep OFF checks it");
        (void)beforeClicks;
        Click(1036);
        Click(1061);
        HWND combo = Ctl(1050);
        SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7"));
        SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(1050, CBN_EDITCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        Check(m_dlg.GetText(1050) == "7", "CBN_EDITCHANGE is the combo's text");
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
        SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(1050, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        Check(!m_dlg.GetText(1050).empty() && m_dlg.GetText(1050) != "7",
              "CBN_SELCHANGE takes the picked item");
        Click(1062);
        // The trackbar.
        HWND slider = Ctl(1017);
        const int pos = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
        const int to = pos > m_dlg.GetControl(1017).rangeMin ? pos - 1 : pos + 1;
        SendMessageW(slider, TBM_SETPOS, TRUE, to);
        SendMessageW(m_hwnd, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                     reinterpret_cast<LPARAM>(slider));
        Check(m_dlg.SliderGetPos(1017) == to, "the trackbar's position reaches the model");
        Mirrored("after the notifications");
    }

    // Every edit the user can reach takes what is typed, as the model has it.
    void TypingIntoEveryEdit() {
        for (const ui::Control& c : m_dlg.AllControls()) {
            if (c.kind != res::Kind::Edit || (c.style & res::STYLE_MULTILINE) || !c.visible ||
                !c.enabled)
                continue;
            const std::string before = c.text;
            const std::string name = "typing into edit " + std::to_string(c.id);
            TypeOver(Ctl(c.id), L"7");
            Check(m_dlg.GetText(c.id) == "7", name + " reaches the model: " + m_dlg.GetText(c.id));
            Check(Text(Ctl(c.id)) == L"7", name + " shows it");
            Key(VK_BACK);
            Type(L"12");
            const std::string want = c.limit == 1 ? "1" : "12";
            Check(m_dlg.GetText(c.id) == want,
                  name + " keeps the keys' order: " + m_dlg.GetText(c.id));
            TypeOver(Ctl(c.id), gui::win32::BytesToWide(before));
            Check(m_dlg.GetText(c.id) == before, name + " back to its text");
        }
        Mirrored("after typing into the edits");
    }

    // The COM box with the keyboard and the mouse, as the poll and Open read it.
    void ComPortBox() {
        MouseClick(Ctl(1061));
        Check(m_dlg.IsChecked(1061), "a click on serial port checks it");
        HWND combo = Ctl(1050);
        const struct {
            const wchar_t* typed;
            const char* text;
        } typing[] = {{L"12", "12"}, {L"abc", "abc"}, {L"1x", "1x"}, {L"200", "200"}};
        for (const auto& t : typing) {
            TypeOver(combo, t.typed);
            Check(m_dlg.GetText(1050) == t.text,
                  "typed into the COM box: " + Narrow(t.typed) + " -> " + m_dlg.GetText(1050));
            Check(Text(combo) == gui::win32::BytesToWide(t.text),
                  "the COM box shows what was typed: " + Narrow(Text(combo)));
        }
        TypeOver(combo, L"1x");
        MouseClick(Ctl(1055));
        Check(TestBox() == L"Port is opened now", "Open with 1x opens COM1: " + Narrow(TestBox()));
        // Picked from the list with the mouse.
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        GetComboBoxInfo(combo, &info);
        {
            POINT button{(info.rcButton.left + info.rcButton.right) / 2,
                         (info.rcButton.top + info.rcButton.bottom) / 2};
            ClientToScreen(combo, &button);
            SendClick(button);
        }
        Pump(m_hwnd, 300);
        Check(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0, "a click opens the COM list");
        const auto item = static_cast<int>(SendMessageW(
            combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"3")));
        RECT itemRect{};
        SendMessageW(info.hwndList, LB_GETITEMRECT, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(&itemRect));
        POINT at{itemRect.left + 10, (itemRect.top + itemRect.bottom) / 2};
        ClientToScreen(info.hwndList, &at);
        SendClick(at);
        Pump(m_hwnd, 300);
        Check(m_dlg.GetText(1050) == "3", "picking 3 from the list: " + m_dlg.GetText(1050));
        Check(Text(combo) == L"3", "the COM box shows the picked 3: " + Narrow(Text(combo)));
        // The arrows go through the list from where the text is.
        Key(VK_DOWN);
        Check(m_dlg.GetText(1050) == "4" && Text(combo) == L"4",
              "Down moves to 4: " + m_dlg.GetText(1050) + " " + Narrow(Text(combo)));
        Key(VK_UP);
        Key(VK_UP);
        Check(m_dlg.GetText(1050) == "2" && Text(combo) == L"2",
              "Up twice moves to 2: " + m_dlg.GetText(1050));
        TypeOver(combo, L"1");
        Mirrored("after the COM box");
        MouseClick(Ctl(1053));
        MouseClick(Ctl(1062));
        Check(m_dlg.IsChecked(1062) && m_dlg.TimerPeriod() > 0, "usb again, the poll running");
    }

    // Tab goes through the model's tab stops in order; of a radio group only the checked
    // radio is one, and the arrows move and choose inside the group.
    void TabStopsAndRadioGroups() {
        const std::vector<int> stops = ui::TabStops(m_dlg);
        for (size_t i = 0; i < m_dlg.AllControls().size(); ++i) {
            const ui::Control& c = m_dlg.AllControls()[i];
            if (c.kind != res::Kind::Radio || !c.visible || !c.enabled) continue;
            const bool stop = std::find(stops.begin(), stops.end(), c.id) != stops.end();
            const bool styled = (GetWindowLongW(Ctl(c.id), GWL_STYLE) & WS_TABSTOP) != 0;
            Check(stop == styled,
                  "radio " + std::to_string(c.id) + " is a tab stop: " + (styled ? "yes" : "no"));
        }
        MouseClick(Ctl(stops.front()), 0.3);
        std::vector<int> went{FocusId()};
        for (size_t i = 1; i < stops.size() + 1; ++i) {
            Key(VK_TAB);
            went.push_back(FocusId());
        }
        std::vector<int> want(stops);
        want.push_back(stops.front());
        Check(went == want, "Tab walks the tab stops in order");
        Key(VK_TAB, {VK_SHIFT});
        Check(FocusId() == stops.back(), "Shift+Tab goes back");
        // The arrows in each radio group with a choice, from its checked radio.
        int groups = 0;
        for (const ui::Control& c : m_dlg.AllControls()) {
            if (c.kind != res::Kind::Radio || !c.checked || !c.visible || !c.enabled) continue;
            const ui::KeyMove move = ui::WhereKeyGoes(m_dlg, c.id, ui::DialogKey::Down);
            if (move.focus == c.id || move.focus == res::IDC_STATIC) continue;
            const int from = c.id;
            MouseClick(Ctl(from));
            Key(VK_DOWN);
            const std::string name = "Down from radio " + std::to_string(from);
            Check(FocusId() == move.focus, name + " moves to " + std::to_string(move.focus));
            Check(m_dlg.IsChecked(move.focus) && !m_dlg.IsChecked(from), name + " chooses it");
            Key(VK_UP);
            Check(FocusId() == from && m_dlg.IsChecked(from),
                  "Up goes back to " + std::to_string(from));
            ++groups;
        }
        Check(groups >= 3, "radio groups tried: " + std::to_string(groups));
        Mirrored("after the arrows");
    }

    void SuffixWithStxEtx() {
        MouseClick(Ctl(1057));
        Check(m_dlg.IsChecked(1057), "STX/ETX YES");
        if (!m_dlg.IsEnabled(1024)) MouseClick(Ctl(1022));
        TypeOver(Ctl(1024), L"abcdefghijklmnXY");
        Check(m_dlg.GetText(1024) == "abcdefghijklmn",
              "suffix with STX/ETX YES: " + m_dlg.GetText(1024));
        Check(Text(Ctl(1024)) == L"abcdefghijklmn", "the suffix shows it");
        TypeOver(Ctl(1024), L"");
        MouseClick(Ctl(1056));
    }

    // Typed characters are bytes in the system's code page: on the line and in the file.
    void CodePageBytes() {
        const UINT cp = GetACP();
        const std::wstring typed = cp == 936 ? L"Z\u20AC\u8BFBZ" : L"Z\u20AC\u00E9Z";
        const std::string bytes = cp == 936 ? "Z\x80\xB6\xC1Z" : "Z\x80\xE9Z";
        std::printf("code page %u\n", cp);
        Check(cp == 1252 || cp == 936, "a code page this test knows: " + std::to_string(cp));
        if (!m_dlg.IsChecked(1021)) MouseClick(Ctl(1021));
        if (!m_dlg.IsEnabled(1023)) MouseClick(Ctl(1021));
        TypeOver(Ctl(1023), typed);
        Check(m_dlg.GetText(1023) == bytes, "typed prefix in code page " + std::to_string(cp));
        Check(Text(Ctl(1023)) == typed, "the prefix shows what was typed");
        auto hex = [](const std::string& b) {
            std::string out;
            char two[3];
            for (unsigned char ch : b) {
                std::snprintf(two, sizeof two, "%02x", ch);
                out += two;
            }
            return out;
        };
        std::ostringstream out;
        std::string error;
        MouseClick(Ctl(1013));
        Check(TestBox() == L"Setup ok", "download with the prefix: " + Narrow(TestBox()));
        m_sim.Command("config", out, &error);
        std::string config = out.str();
        config.erase(std::remove(config.begin(), config.end(), ' '), config.end());
        std::transform(config.begin(), config.end(), config.begin(),
                       [](char ch) { return static_cast<char>(std::tolower(ch)); });
        Check(config.find(hex(bytes)) != std::string::npos,
              "the reader got the prefix " + hex(bytes) + ": " + config);
        // The same bytes in a settings file.
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring path = std::wstring(temp) + L"zarn60-codepage.cfg";
        DeleteFileW(path.c_str());
        {
            Answer a(m_hwnd, [&](HWND box) {
                HWND name = ChildById(box, 0x47C);
                if (!name) name = ChildById(box, 0x480);
                SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
                ClickOk(box);
            });
            MouseClick(Ctl(1051));
            Pump(m_hwnd, 200);
        }
        std::string file;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            char buffer[256];
            DWORD got = 0;
            ReadFile(h, buffer, sizeof buffer, &got, nullptr);
            file.assign(buffer, got);
            CloseHandle(h);
        }
        Check(file.size() == 56 && file.find(bytes) != std::string::npos,
              "the settings file holds the prefix " + hex(bytes) + ": " + hex(file));
        DeleteFileW(path.c_str());
        TypeOver(Ctl(1023), L"");
        MouseClick(Ctl(1021));
        Mirrored("after the code page");
    }

    // By keys alone: Space on a button an operation disables while it runs leaves the
    // focus on that button, not on a neighbour a second Space would press; Shift+F10 and
    // the menu key open the window's menu with About active (Enter opens it), from an edit
    // too, and the focus comes back where it was.
    void FocusByKeys() {
        const struct {
            const char* what;
            int focus;
            WORD key;
            std::initializer_list<WORD> modifiers;
            bool menu;  // the window's menu, else the operation's result "Setup ok"
        } cases[] = {
            {"Space on Download", 1013, VK_SPACE, {}, false},
            {"Space on Factory", 1014, VK_SPACE, {}, false},
            {"Shift+F10 in the prefix edit", 1023, VK_F10, {VK_SHIFT}, true},
            {"the menu key in a track edit", 1069, VK_APPS, {}, true},
            {"the menu key in the COM box", 1050, VK_APPS, {}, true},
            {"Shift+F10 on Read Card", 1059, VK_F10, {VK_SHIFT}, true},
        };
        for (const auto& c : cases) {
            if (!IsWindowEnabled(Ctl(c.focus))) continue;  // the COM box with USB chosen
            SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Ctl(c.focus)), TRUE);
            Pump(m_hwnd, 60);
            Check(FocusId() == c.focus, std::string(c.what) + ": the focus is put there");
            if (c.menu) {
                // Enter runs the active item: About, only when the first item is active.
                Answer about(m_hwnd,
                             [](HWND box) { SendMessageW(GetDlgItem(box, 1), BM_CLICK, 0, 0); });
                std::thread menu([] {
                    for (int i = 0; i < 100 && !FindShown(L"#32768"); ++i) Sleep(20);
                    Sleep(150);
                    SendKeys(VK_RETURN);
                    Sleep(500);
                    if (FindShown(L"#32768")) SendKeys(VK_ESCAPE);  // nothing was active
                });
                SendKeys(c.key, c.modifiers);
                Pump(m_hwnd, 1500);
                menu.join();
                Check(about.Found(), std::string(c.what) +
                                         ": the window's menu opens with About "
                                         "active, and Enter runs it");
            } else {
                for (int press = 1; press <= 2; ++press) {
                    SetWindowTextW(Ctl(1052), L"");
                    Key(c.key);
                    Pump(m_hwnd, 300);
                    Check(TestBox() == L"Setup ok", std::string(c.what) + " " +
                                                        std::to_string(press) + ": " +
                                                        Narrow(TestBox()));
                }
            }
            Check(FocusId() == c.focus,
                  std::string(c.what) + ": the focus stays, on " + std::to_string(FocusId()));
        }
        Mirrored("after the keys");
    }

    // A paste longer in bytes than an edit's limit keeps the characters that fit, whole:
    // in code page 936 the 9 characters of "AB" and seven Chinese ones are 16 bytes.
    void PasteKeepsWhatFits() {
        if (GetACP() != 936) return;
        const std::wstring pasted = L"AB\u4E00\u4E8C\u4E09\u56DB\u4E94\u516D\u4E03";
        if (!IsWindowEnabled(Ctl(1024))) MouseClick(Ctl(1022));
        const std::string before = m_dlg.GetText(1024);
        if (OpenClipboard(m_hwnd)) {
            EmptyClipboard();
            HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
            std::memcpy(GlobalLock(mem), pasted.c_str(), (pasted.size() + 1) * sizeof(wchar_t));
            GlobalUnlock(mem);
            SetClipboardData(CF_UNICODETEXT, mem);
            CloseClipboard();
        }
        MouseClick(Ctl(1024));
        Key(VK_END);
        Key(VK_HOME, {VK_SHIFT});
        Key('V', {VK_CONTROL});
        Pump(m_hwnd, 300);
        const std::string kept = "AB\xD2\xBB\xB6\xFE\xC8\xFD\xCB\xC4\xCE\xE5\xC1\xF9";
        Check(m_dlg.GetText(1024) == kept, "a 16-byte paste into a 15-byte edit keeps 14 bytes");
        Mirrored("after the paste");
        m_dlg.SetText(1024, before);
        Pump(m_hwnd, 100);
    }

    // F1 and the right-click menu open About, as the system menu does.
    void HelpAndContextMenu() {
        auto closeAbout = [](HWND box) { SendMessageW(GetDlgItem(box, 1), BM_CLICK, 0, 0); };
        {
            Answer answer(m_hwnd, closeAbout);
            MouseClick(Ctl(1023));
            SendKeys(VK_F1);
            Pump(m_hwnd, 1500);
            Check(answer.Found(), "F1 opens About");
        }
        {
            Answer answer(m_hwnd, closeAbout);
            std::thread menu([] {
                for (int i = 0; i < 100 && !FindShown(L"#32768"); ++i) Sleep(20);
                Sleep(150);
                SendKeys('A');  // the item's mnemonic
            });
            SendClick(PointIn(m_hwnd, 0.99, 0.5), true);
            Pump(m_hwnd, 1500);
            menu.join();
            Check(answer.Found(), "the right-click menu opens About");
        }
        {
            Answer answer(m_hwnd, closeAbout);
            std::thread menu([] {
                for (int i = 0; i < 100 && !FindShown(L"#32768"); ++i) Sleep(20);
                Sleep(150);
                SendKeys('A');
            });
            SendKeys(VK_SPACE, {VK_MENU});
            Pump(m_hwnd, 1500);
            menu.join();
            Check(answer.Found(), "Alt+Space, A opens About");
        }
        // Where the menu font lacks the About item's characters, the item is drawn in the
        // dialog's face.
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        HFONT menuFont = CreateFontIndirectW(&metrics.lfMenuFont);
        const bool lacks = !gui::win32::FontHasGlyphs(menuFont, L"\u5173\u4E8E ZARN TOOLS");
        DeleteObject(menuFont);
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(GetSystemMenu(m_hwnd, FALSE), IDM_ABOUTBOX, FALSE, &info);
        std::printf("menu font %s the About item's characters\n", lacks ? "lacks" : "has");
        Check(!lacks || (info.fType & MFT_OWNERDRAW), "the About item is drawn in the dialog face");
        Pump(m_hwnd, 200);
    }

    // The data exchange's length check: its Chinese text is shown in a font that has the
    // characters, also where no font is linked to the system's message font.
    void LengthCheckBox() {
        const std::string prefix = m_dlg.GetText(1023);
        m_dlg.SetText(1023, std::string(16, 'x'));  // the program may set it past the limit
        std::wstring text;
        bool readable = false, icon = false;
        {
            Answer answer(m_hwnd, [&](HWND box) {
                for (HWND w : Children(box)) {
                    if (ClassName(w) != L"Static" || !IsWindowVisible(w)) continue;
                    if (GetWindowLongW(w, GWL_STYLE) & SS_ICON) {
                        icon = icon || SendMessageW(w, STM_GETICON, 0, 0) != 0;
                    } else if (!Text(w).empty()) {
                        text = Text(w);
                        auto font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
                        if (!font) font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
                        readable = gui::win32::FontHasGlyphs(font, text);
                    }
                }
                ClickOk(box);
            });
            MouseClick(Ctl(1015));
            Pump(m_hwnd, 200);
        }
        Check(text ==
                  L"\u8F93\u5165\u7684\u5B57\u7B26\u8BF7\u4E0D\u8981\u591A\u4E8E 15 "
                  L"\u4E2A\u3002",
              "length check text: " + Narrow(text));
        Check(readable, "the length check's characters are in its font");
        Check(icon, "the length check has its icon");
        Check(!m_view.Ended(), "a failed length check keeps the dialog");
        m_dlg.SetText(1023, prefix);
    }

    void TrackErrorMessageBox() {
        SetText(1071, L"9");
        SetText(1064, L"3");
        std::wstring text, title;
        bool icon = false;
        {
            Answer answer(m_hwnd, [&](HWND box) {
                title = Text(box);
                for (HWND w : Children(box)) {
                    if (ClassName(w) != L"Static") continue;
                    if (GetWindowLongW(w, GWL_STYLE) & SS_ICON)
                        icon = icon || SendMessageW(w, STM_GETICON, 0, 0) != 0;
                    else if (!Text(w).empty())
                        text = Text(w);
                }
                ClickOk(box);
            });
            Click(1013);
        }
        Check(text == L"Track 2 Err start end", "track error text: " + Narrow(text));
        LengthCheckBox();
        Check(title == L"zarn60-tool", "message box title is the program's name");
        Check(!icon, "track error box has no icon");
        SetText(1071, L"");
        SetText(1064, L"");
    }

    void ReaderOperations() {
        Click(1013);
        Check(TestBox() == L"Setup ok", "download: " + Narrow(TestBox()));
        Click(1053);
        Click(1040);
        Check(!TestBox().empty(), "upload fills the test box");
        Mirrored("after upload");
        Click(1053);
        Click(1060);
        Check(!TestBox().empty(), "get version fills the test box");
        Mirrored("after get version");
        std::ostringstream out;
        std::string error;
        m_sim.Command("card B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|", out,
                      &error);
        Click(1053);
        Click(1059);
        Pump(m_hwnd, 300);
        // The card's data in hex: "4111" is 34 31 31 31.
        Check(TestBox().find(L"34313131") != std::wstring::npos,
              "read card shows the card: " + Narrow(TestBox()));
        Mirrored("after read card");
    }

    void About() {
        HMENU menu = GetSystemMenu(m_hwnd, FALSE);
        wchar_t item[128] = {};
        GetMenuStringW(menu, IDM_ABOUTBOX, item, 128, MF_BYCOMMAND);
        Check(Narrow(item) == std::string(res::LoadString(res::IDS_ABOUTBOX)),
              "system menu About item");
        std::wstring caption, button, line;
        bool icon = false;
        {
            Answer answer(m_hwnd, [&](HWND box) {
                caption = Text(box);
                button = Text(GetDlgItem(box, 1));
                for (HWND w : Children(box)) {
                    if (ClassName(w) != L"Static") continue;
                    if (GetWindowLongW(w, GWL_STYLE) & SS_ICON)
                        icon = SendMessageW(w, STM_GETICON, 0, 0) != 0;
                    else
                        line = Text(w);
                }
                SendMessageW(GetDlgItem(box, 1), BM_CLICK, 0, 0);
            });
            SendMessageW(m_hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            Check(answer.Found(), "About box opened");
        }
        const auto& about = res::AboutDialogTemplate();
        Check(Narrow(caption) == std::string(about.caption), "About caption");
        Check(button == L"\u786E\u5B9A", "About button");
        Check(line == L"ZARN TOOLS 2.7", "About line");
        Check(icon, "About icon");
    }

    void Files() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring path = std::wstring(temp) + L"zarn60-window-test.cfg";
        DeleteFileW(path.c_str());
        std::wstring title, firstType;
        auto answer = [&](HWND box) {
            title = Text(box);
            if (HWND types = ChildById(box, 0x470)) {  // the file type list
                wchar_t t[256] = {};
                SendMessageW(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(t));
                firstType = t;
            }
            HWND name = ChildById(box, 0x47C);  // the file name box
            if (!name) name = ChildById(box, 0x480);
            SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
            ClickOk(box);
        };
        {
            Answer a(m_hwnd, answer);
            Click(1051);
        }
        Check(title == L"\u6570\u636E\u4FDD\u5B58\u4E3Acfg\u6587\u4EF6", "save dialog title");
        Check(firstType == L"Configuration file   (*.cfg)",
              "first file type: " + Narrow(firstType));
        WIN32_FILE_ATTRIBUTE_DATA data{};
        Check(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
                  data.nFileSizeLow == 56,
              "save wrote a 56-byte file");
        Check(Narrow(TestBox()).find("Ok") != std::string::npos, "save: " + Narrow(TestBox()));
        {
            Answer a(m_hwnd, answer);
            Click(1041);
        }
        Check(TestBox() == L"Load setting ok!", "load: " + Narrow(TestBox()));
        Mirrored("after load");
        DeleteFileW(path.c_str());
    }

    void SerialTimer() {
        Click(1061);
        HWND combo = Ctl(1050);
        const auto count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
        Check(count >= 1, "the simulated COM1 is listed");
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
        SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(1050, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        Click(1053);
        Click(1055);
        Check(m_dlg.TimerPeriod() > 0, "Open starts timer 1");
        std::ostringstream out;
        std::string error;
        m_sim.Command("send 0d 0a 02 e9 81", out, &error);
        Pump(m_hwnd, 600);
        // 0xE9 is "\u00E9" in code page 1252 and 0x81 no character (its value is shown);
        // in 936 they are one character.
        const std::wstring shown = gui::win32::Wide(
            ui::RenderTestBox("\r\n\x02\xE9\x81", ui::kLineBreakCrLf, gui::win32::AnsiCharset())
                .display);
        Check(TestBox() == shown &&
                  (GetACP() != 1252 || shown == L"\u240D\u240A\r\n\u2402\u00E9\u27E881\u27E9"),
              "timer 1 shows received bytes: " + Narrow(TestBox()));
        m_sim.Command("send 41", out, &error);
        Pump(m_hwnd, 300);
        Check(TestBox() ==
                  gui::win32::Wide(ui::RenderTestBox("\r\n\x02\xE9\x81\x41", ui::kLineBreakCrLf,
                                                     gui::win32::AnsiCharset())
                                       .display),
              "the next byte arrives: " + Narrow(TestBox()));
        // The box's font draws every character it shows, the line-end and value forms
        // included, rather than empty boxes. In a two-byte code page no face here has both
        // the forms and the Chinese characters: the box keeps the dialog's face.
        const auto boxFont = reinterpret_cast<HFONT>(SendMessageW(Ctl(1052), WM_GETFONT, 0, 0));
        const bool drawn = gui::win32::FontHasGlyphs(boxFont, TestBox());
        if (GetACP() == 1252)
            Check(drawn, "the test box's font draws what it shows: " + Narrow(TestBox()));
        else
            std::printf("test box font %s what it shows\n", drawn ? "draws" : "lacks some of");
        // Bytes the poll appended wait for the next frame; a key the user types meanwhile
        // acts on all of them: none is lost to the typed text.
        MouseClick(Ctl(1052), 0.5, 0.9);
        Key(VK_END, {VK_CONTROL});
        const std::string before = m_dlg.GetText(1052);
        // A burst longer than an answer: its last bytes wait for the frame.
        const std::string burst = "BCDEFGHIJKLM";
        for (char b : burst) m_dlg.AppendText(1052, std::string(1, b));
        Type(L"x");
        Check(m_dlg.GetText(1052) == before + burst + "x",
              "a key typed while received bytes wait keeps them: " + m_dlg.GetText(1052));
        Mirrored("after the serial poll");
        // The box keeps growing past a multi-line edit's default limit of 30,000.
        const std::string line(99, 'C');
        for (int i = 0; i < 320; ++i) m_dlg.AppendText(1052, line + "\r\n");
        Pump(m_hwnd, 50);
        Check(TestBox().size() > 32000,
              "the test box grows past 30,000 characters: " + std::to_string(TestBox().size()));
        Mirrored("past 30,000 characters");
        // The poll goes on while a handler waits in a modal box of its own (About here).
        MouseClick(Ctl(1053));
        m_sim.Command("send 58 59 5a", out, &error);
        std::wstring whileUp;
        {
            Answer answer(m_hwnd, [&](HWND box) {
                Sleep(600);
                whileUp = TestBox();
                SendMessageW(GetDlgItem(box, 1), BM_CLICK, 0, 0);
            });
            SendMessageW(m_hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        }
        Check(whileUp == L"XYZ", "the poll runs while About is up: " + Narrow(whileUp));
    }

    void Exit() {
        Click(1015);
        Check(m_view.Ended(), "Exit ends the dialog");
        Check(!IsWindowVisible(m_hwnd), "the ended dialog is hidden");
    }

    DialogWindow& m_view;
    CZARN60TOOLDlg& m_dlg;
    sim::InProcessSimulation& m_sim;
    HWND m_hwnd;
};

// --- Resources --------------------------------------------------------------------------

// The version block names the project, and the icon has a 256-pixel image.
void CheckResources() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(self, &ignored));
    const bool read =
        !block.empty() &&
        GetFileVersionInfoW(self, 0, static_cast<DWORD>(block.size()), block.data()) != FALSE;
    Check(read, "the program has a version block");
    auto value = [&](const wchar_t* name) -> std::wstring {
        void* text = nullptr;
        UINT size = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!read || !VerQueryValueW(block.data(), key.c_str(), &text, &size) || size == 0)
            return {};
        return static_cast<const wchar_t*>(text);
    };
    Check(value(L"CompanyName") == L"ZARN60 tools",
          "CompanyName: " + Narrow(value(L"CompanyName")));
    Check(value(L"LegalCopyright").find(L"ZARN60 tools") != std::wstring::npos,
          "LegalCopyright: " + Narrow(value(L"LegalCopyright")));
    auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                              MAKEINTRESOURCEW(res::IDR_MAINFRAME), IMAGE_ICON, 256,
                                              256, LR_DEFAULTCOLOR));
    ICONINFO info{};
    BITMAP bm{};
    if (icon && GetIconInfo(icon, &info)) {
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
    }
    if (icon) DestroyIcon(icon);
    // The directory entry is chosen by its size: a 256-pixel load of a file without one
    // would stretch the 48-pixel image, so the entry itself is looked up.
    HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(res::IDR_MAINFRAME), RT_GROUP_ICON);
    bool has256 = false;
    if (group) {
        const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
        const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
        for (WORD i = 0; i < count; ++i) has256 = has256 || dir[6 + 14 * i] == 0;  // 0 is 256
    }
    Check(has256 && bm.bmWidth == 256, "the icon has a 256-pixel image");
}

// --- Fitting the screen -----------------------------------------------------------------

INT_PTR CALLBACK BareProc(HWND, UINT msg, WPARAM, LPARAM);

// Work areas of common screens (a 40-pixel task bar off): the dialog shown at the face
// size chosen for each fits it, and every caption fits its control at that size.
void CheckFitsScreens() {
    using namespace gui::win32;
    const auto& tpl = res::MainDialogTemplate();
    const std::wstring face = DialogFace(tpl);
    const SIZE areas[] = {{1366, 728}, {1280, 680}, {1024, 728}, {1920, 1040}};
    for (const SIZE area : areas) {
        const int points = FittingPoints(tpl, face, area);
        const auto data = BuildDialogTemplate(tpl, face, true, points);
        HWND w = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                            reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), nullptr,
                                            BareProc, 0);
        RECT r{};
        GetWindowRect(w, &r);
        const std::string name = std::to_string(area.cx) + "x" + std::to_string(area.cy);
        std::printf("work area %s: %d pt, window %ldx%ld\n", name.c_str(), points, r.right - r.left,
                    r.bottom - r.top);
        Check(r.right - r.left <= area.cx && r.bottom - r.top <= area.cy,
              "the dialog fits a work area of " + name);
        if (area.cx >= 1900)
            Check(points == tpl.fontPoints, "a large screen keeps the face's size");
        HDC dc = GetDC(w);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(w, WM_GETFONT, 0, 0)));
        size_t index = 0;
        int clipped = 0;
        std::string first;
        for (HWND c = GetWindow(w, GW_CHILD); c && index < tpl.controls.size();
             c = GetWindow(c, GW_HWNDNEXT), ++index) {
            const res::ControlTemplate& t = tpl.controls[index];
            if (t.kind != res::Kind::Label && t.kind != res::Kind::Button &&
                t.kind != res::Kind::Check && t.kind != res::Kind::Radio)
                continue;
            const std::wstring text = Text(c);
            SIZE extent{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            RECT cr{};
            GetClientRect(c, &cr);
            int room = cr.right;
            if (t.kind == res::Kind::Check || t.kind == res::Kind::Radio)
                room -= GetSystemMetrics(SM_CXMENUCHECK) + 2;
            if (extent.cx > room && clipped++ == 0) first = Narrow(text);
        }
        SelectObject(dc, old);
        ReleaseDC(w, dc);
        DestroyWindow(w);
        Check(clipped == 0, "no caption clipped at " + name + " (" + std::to_string(clipped) +
                                ", first: " + first + ")");
    }
}

// --- Bench ------------------------------------------------------------------------------

double MsSince(LARGE_INTEGER t0) {
    LARGE_INTEGER now, f;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(now.QuadPart - t0.QuadPart) /
           static_cast<double>(f.QuadPart);
}

INT_PTR CALLBACK BareProc(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

// One dialog of `tpl` without a model, shown and painted; its time in ms.
double ShowBare(const res::DialogTemplate& tpl) {
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    const auto data = gui::win32::BuildDialogTemplate(tpl, gui::win32::DialogFace(tpl), true);
    HWND w = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                        reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), nullptr,
                                        BareProc, 0);
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    GdiFlush();
    const double ms = MsSince(t0);
    DestroyWindow(w);
    return ms;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int Bench(int rounds, bool simulated) {
    std::unique_ptr<sim::InProcessSimulation> simulation;
    if (simulated) simulation = std::make_unique<sim::InProcessSimulation>();
    // Yardsticks: a bare dialog of the same size with one label, and the main template's
    // controls shown by the dialog manager alone (no model, no mirroring).
    res::DialogTemplate bare;
    bare.id = 1;
    bare.caption = "bare";
    bare.width = res::MainDialogTemplate().width;
    bare.height = res::MainDialogTemplate().height;
    bare.fontName = res::MainDialogTemplate().fontName;
    bare.fontPoints = res::MainDialogTemplate().fontPoints;
    bare.controls = {{res::IDC_STATIC, res::Kind::Label, "bare", {7, 7, 40, 8}, 0}};
    std::vector<double> window, empty, controls;
    for (int i = 0; i < rounds; ++i) {
        empty.push_back(ShowBare(bare));
        controls.push_back(ShowBare(res::MainDialogTemplate()));
        LARGE_INTEGER t0;
        QueryPerformanceCounter(&t0);
        DialogWindow view(res::MainDialogTemplate(), nullptr);
        CZARN60TOOLApp app;
        app.InitInstance(view, [&](CZARN60TOOLDlg& dlg) {
            view.Attach(&dlg);
            view.Show();
            GdiFlush();
            window.push_back(MsSince(t0));
        });
    }
    const double w = Median(window), e = Median(empty), c = Median(controls);
    std::printf(
        "first painted window (median of %d%s): main dialog %.1f ms, its template "
        "alone %.1f ms, bare dialog %.1f ms\n",
        rounds, simulated ? ", simulated reader" : "", w, c, e);
    std::printf("ratio main/bare: %.2f  main/template alone: %.2f\n", w / e, w / c);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ui::Dialog::SetProgramName("zarn60-tool");
    // --bench [ROUNDS] [--simulate]: the simulated reader leaves the system's device
    // enumeration out of the main dialog's start-up.
    if (argc > 1 && std::string(argv[1]) == "--bench")
        return Bench(argc > 2 ? std::atoi(argv[2]) : 7,
                     argc > 3 && std::string(argv[3]) == "--simulate");

    CheckTexts();
    CheckFitsScreens();
    CheckResources();
    sim::InProcessSimulation simulation;
    DialogWindow view(res::MainDialogTemplate(), nullptr);
    view.PaceVirtualClock(&simulation.Clock());
    CZARN60TOOLApp app;
    app.InitInstance(view, [&](CZARN60TOOLDlg& dlg) {
        view.Attach(&dlg);
        view.Show();
        Pump(view.Handle(), 200);
        WindowChecks(view, dlg, simulation).Run();
    });
    // Enter in any edit, the test box and the COM box included, ends the dialog as OK;
    // Escape as Cancel. Each on a new main dialog, as real keys.
    struct Ending {
        const char* what;
        int clickFirst;  // a control clicked before, 0 for none
        int focus;       // where the key is pressed
        WORD key;
        int result;
    } endings[] = {
        {"Enter in the test box", 0, 1052, VK_RETURN, 1},
        {"Enter in the prefix", 1021, 1023, VK_RETURN, 1},
        {"Enter in the COM box", 1061, 1050, VK_RETURN, 1},
        {"Enter on a check box", 0, 1009, VK_RETURN, 1},
        {"Escape in the test box", 0, 1052, VK_ESCAPE, 2},
    };
    for (const Ending& e : endings) {
        DialogWindow again(res::MainDialogTemplate(), nullptr);
        again.PaceVirtualClock(&simulation.Clock());
        CZARN60TOOLApp secondApp;
        std::wstring boxBefore, boxAfter;
        secondApp.InitInstance(again, [&](CZARN60TOOLDlg& dlg) {
            again.Attach(&dlg);
            again.Show();
            Pump(again.Handle(), 200);
            auto click = [&](int id) {
                SendClick(PointIn(GetDlgItem(again.Handle(), id), 0.3));
                Pump(again.Handle(), 150);
            };
            if (e.clickFirst) click(e.clickFirst);
            click(e.focus);
            boxBefore = Text(GetDlgItem(again.Handle(), 1052));
            SendKeys(e.key);
            Pump(again.Handle(), 300);
            boxAfter = Text(GetDlgItem(again.Handle(), 1052));
            Check(again.Ended(), std::string(e.what) + " ends the dialog");
            Check(dlg.Result() == e.result,
                  std::string(e.what) + " gives " + std::to_string(dlg.Result()));
            Check(boxAfter == boxBefore, std::string(e.what) + " adds no line to the test box");
            if (!again.Ended()) {
                dlg.EndDialog(2);
                Pump(again.Handle(), 50);
            }
        });
    }

    std::printf("%d checks, %d failed\n", g_checks, g_failures);
    return g_failures == 0 ? 0 : 1;
}
