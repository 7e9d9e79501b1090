#include "gui/win32/dialog_window.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <stdexcept>

#include "base/win32/utf16.h"
#include "gui/win32/dialog_template.h"
#include "res/resources.h"
#include "ui/dialog_keys.h"

namespace gui::win32 {

namespace {

std::wstring WindowText(HWND w) {
    const int n = GetWindowTextLengthW(w);
    std::wstring text(static_cast<size_t>(std::max(n, 0)) + 1, L'\0');
    const int got = GetWindowTextW(w, text.data(), n + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

void SetTextIfDifferent(HWND w, const std::wstring& text) {
    if (WindowText(w) != text) SetWindowTextW(w, text.c_str());
}

// An edit (or a combo box's edit) the user types in, given the model's text: when the
// model changed what was typed, the caret goes to the end, so that the next keystroke
// adds to the text rather than landing at its start.
void SetTypedText(HWND w, const std::wstring& text, bool combo) {
    if (WindowText(w) == text) return;
    SetWindowTextW(w, text.c_str());
    HWND focus = GetFocus();
    if (focus != w && !(combo && IsChild(w, focus))) return;
    const auto end = static_cast<LPARAM>(text.size());
    if (combo)
        SendMessageW(w, CB_SETEDITSEL, 0, MAKELPARAM(end, end));
    else
        SendMessageW(w, EM_SETSEL, static_cast<WPARAM>(end), end);
}

}  // namespace

// The multi-line test box leaves Enter to the dialog, as every other edit does: it ends
// the dialog like the OK command. What the user does to it acts on all that was received:
// bytes waiting for the frame go in first (an edit would otherwise be taken for the whole
// text and lose them), whichever message loop runs.
LRESULT CALLBACK DialogWindow::TestBoxProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                           DWORD_PTR window) {
    auto* self = reinterpret_cast<DialogWindow*>(window);
    if (!self->m_waitingFrom.empty() &&
        ((msg >= WM_KEYFIRST && msg <= WM_KEYLAST) ||
         (msg > WM_MOUSEMOVE && msg <= WM_MOUSELAST) || (msg >= WM_CUT && msg <= WM_UNDO) ||
         (msg >= WM_IME_STARTCOMPOSITION && msg <= WM_IME_KEYLAST) || msg == WM_IME_CHAR ||
         msg == WM_CONTEXTMENU))
        self->ShowAppendedText();
    if (msg == WM_GETDLGCODE && lp) {
        const auto* key = reinterpret_cast<const MSG*>(lp);
        if ((key->message == WM_KEYDOWN || key->message == WM_CHAR) &&
            (key->wParam == VK_RETURN || key->wParam == '\r'))
            return DefSubclassProc(w, msg, wp, lp) & ~(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
    }
    return DefSubclassProc(w, msg, wp, lp);
}

namespace {

// Shift+F10 and the menu key in an edit (a combo box's too) open the window's menu, not
// the edit's own: the keyboard's context menu goes to the dialog.
LRESULT CALLBACK WindowMenuProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                DWORD_PTR dialog) {
    if (msg == WM_CONTEXTMENU && lp == -1)
        return SendMessageW(reinterpret_cast<HWND>(dialog), WM_CONTEXTMENU, wp, lp);
    return DefSubclassProc(w, msg, wp, lp);
}

std::wstring ComboItem(HWND combo, int item) {
    const LRESULT n = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (n == CB_ERR) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n));
    return text;
}

// The path from a file dialog as the file code takes it (base/file_io.h): UTF-8, which
// spells every name the dialog can return, at any length.
std::string PathForFileCalls(const std::wstring& path) {
    return zarn::win32::Utf16ToUtf8(path);
}

}  // namespace

DialogWindow::DialogWindow(const res::DialogTemplate& tpl, HWND owner)
    : m_template(tpl), m_owner(owner), m_driver(*this, ui::kLineBreakCrLf, {}, AnsiCharset()) {
    static const bool commonControls = [] {
        INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX),
                                 ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)commonControls;
    const std::wstring face = DialogFace(tpl);
    int points = 0;
    RECT work{};
    if (!owner && SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        points = FittingPoints(tpl, face, {work.right - work.left, work.bottom - work.top});
    m_dlgTemplate = BuildDialogTemplate(tpl, face, owner == nullptr, points);
    if (owner) return;
    m_hwnd = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(m_dlgTemplate.data()), nullptr,
        &DialogWindow::Proc, reinterpret_cast<LPARAM>(this));
    if (!m_hwnd)
        throw std::runtime_error("cannot create the dialog (error " +
                                 std::to_string(GetLastError()) + ")");
}

DialogWindow::~DialogWindow() {
    if (m_hwnd && !m_owner) DestroyWindow(m_hwnd);
    if (m_bigIcon) DestroyIcon(m_bigIcon);
    if (m_smallIcon) DestroyIcon(m_smallIcon);
    if (m_menuFont) DeleteObject(m_menuFont);
    if (m_boxFont) DeleteObject(m_boxFont);
}

// --- Messages ---------------------------------------------------------------------------

INT_PTR CALLBACK DialogWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DialogWindow*>(lp);
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        self->OnInit(hwnd);
        return FALSE;  // the focus is set from the model
    }
    auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self ? self->OnMessage(msg, wp, lp) : FALSE;
}

void DialogWindow::OnInit(HWND hwnd) {
    m_hwnd = hwnd;
    // A dialog's children are created, and listed, in template order.
    for (HWND w = GetWindow(hwnd, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        const size_t index = m_controls.size();
        if (index >= m_template.controls.size()) break;
        const int id = m_template.controls[index].id;
        if (id != res::IDC_STATIC && !m_index.count(id)) m_index[id] = index;
        if (m_template.controls[index].kind == res::Kind::Edit &&
            (m_template.controls[index].style & res::STYLE_MULTILINE)) {
            SetWindowSubclass(w, TestBoxProc, 1, reinterpret_cast<DWORD_PTR>(this));
            // The test box shows the whole received text: a multi-line edit's own limit
            // (30,000 characters) would refuse the bytes after it.
            SendMessageW(w, EM_SETLIMITTEXT, 0, 0);
            // Its symbols for line ends and control bytes in a face that has them.
            if (!m_boxFont)
                m_boxFont = TestBoxFont(
                    reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
            if (m_boxFont) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(m_boxFont), FALSE);
        }
        const res::Kind kind = m_template.controls[index].kind;
        if (kind == res::Kind::Edit)
            SetWindowSubclass(w, WindowMenuProc, 2, reinterpret_cast<DWORD_PTR>(hwnd));
        if (kind == res::Kind::Combo)
            if (HWND edit = GetWindow(w, GW_CHILD))
                SetWindowSubclass(edit, WindowMenuProc, 2, reinterpret_cast<DWORD_PTR>(hwnd));
        m_controls.push_back(w);
    }
    SetIcons();
    if (m_dialog) Attach(m_dialog);
}

INT_PTR DialogWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SETFOCUS:
            // While the model's focused control is disabled or hidden the dialog keeps the
            // focus itself; the dialog manager would hand it to a control it remembers.
            return m_dialog && m_dialog->Focus() != res::IDC_STATIC &&
                           m_dialog->ShownFocus() == res::IDC_STATIC
                       ? TRUE
                       : FALSE;
        case WM_COMMAND:
            return OnCommand(HIWORD(wp), LOWORD(wp), reinterpret_cast<HWND>(lp)) ? TRUE : FALSE;
        case WM_HSCROLL: {
            const int index = IndexOf(reinterpret_cast<HWND>(lp));
            if (index < 0 || m_mirroring || !m_dialog) return FALSE;
            const ui::Control& c = m_dialog->AllControls()[static_cast<size_t>(index)];
            const int pos =
                static_cast<int>(SendMessageW(reinterpret_cast<HWND>(lp), TBM_GETPOS, 0, 0));
            if (pos != c.pos) {
                const int id = c.id;
                m_driver.Run([&] { m_dialog->UserSetSlider(id, pos); });
            }
            return TRUE;
        }
        case WM_TIMER:
            if (wp == kTimer1Id) {
                m_frames.TickStarts();
                m_driver.TimerTick();
                if (m_frames.TickEnded()) ShowAppendedText();
            }
            if (wp == kFrameTimerId) {
                if (m_frames.FrameEnded())
                    ShowAppendedText();
                else
                    KillTimer(m_hwnd, kFrameTimerId);
            }
            return TRUE;
        case WM_SYSCOMMAND: {
            if (!m_dialog) return FALSE;
            const auto command = static_cast<uint32_t>(wp);
            bool ours = (command & ui::SC_MASK) == SC_CLOSE;
            for (const ui::Dialog::MenuItem& item : m_dialog->SystemMenu())
                ours = ours || (item.command != 0 && (command & ui::SC_MASK) == item.command);
            if (!ours) return FALSE;
            m_driver.Run([&] { m_dialog->UserSysCommand(command); }, false);
            return TRUE;
        }
        case WM_MEASUREITEM: {
            auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
            if (item->CtlType != ODT_MENU || !OwnsMenuItem(item->itemData)) return FALSE;
            const auto* text = reinterpret_cast<const std::wstring*>(item->itemData);
            HDC dc = GetDC(m_hwnd);
            HGDIOBJ old = SelectObject(dc, m_menuFont);
            RECT r{};
            DrawTextW(dc, text->c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
            SelectObject(dc, old);
            ReleaseDC(m_hwnd, dc);
            item->itemWidth = static_cast<UINT>(r.right + GetSystemMetrics(SM_CXMENUCHECK) * 2);
            item->itemHeight =
                static_cast<UINT>(std::max<LONG>(r.bottom + 4, GetSystemMetrics(SM_CYMENU)));
            return TRUE;
        }
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            if (item->CtlType != ODT_MENU || !OwnsMenuItem(item->itemData)) return FALSE;
            const auto* text = reinterpret_cast<const std::wstring*>(item->itemData);
            const bool selected = (item->itemState & ODS_SELECTED) != 0;
            FillRect(item->hDC, &item->rcItem,
                     GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
            SetBkMode(item->hDC, TRANSPARENT);
            SetTextColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
            HGDIOBJ old = SelectObject(item->hDC, m_menuFont);
            RECT r = item->rcItem;
            r.left += GetSystemMetrics(SM_CXMENUCHECK) + 2;
            DrawTextW(item->hDC, text->c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER);
            SelectObject(item->hDC, old);
            return TRUE;
        }
        case WM_MENUCHAR: {
            // The mnemonics of the items drawn here.
            HMENU menu = reinterpret_cast<HMENU>(lp);
            const wchar_t key = static_cast<wchar_t>(towlower(static_cast<wint_t>(LOWORD(wp))));
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                MENUITEMINFOW info{};
                info.cbSize = sizeof info;
                info.fMask = MIIM_DATA | MIIM_FTYPE;
                if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info) ||
                    !(info.fType & MFT_OWNERDRAW) || !OwnsMenuItem(info.dwItemData))
                    continue;
                const auto* text = reinterpret_cast<const std::wstring*>(info.dwItemData);
                const size_t amp = text->find(L'&');
                if (amp + 1 < text->size() &&
                    static_cast<wchar_t>(towlower(static_cast<wint_t>((*text)[amp + 1]))) == key) {
                    SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, MAKELRESULT(i, MNC_EXECUTE));
                    return TRUE;
                }
            }
            return FALSE;
        }
        case WM_HELP:
            // F1 runs the system menu's first item (About), as it does in the Linux window.
            if (m_dialog && !m_owner && m_dialog->HelpCommand() != 0) {
                const uint32_t command = m_dialog->HelpCommand();
                m_driver.Run([&] { m_dialog->UserSysCommand(command); }, false);
            }
            return TRUE;
        case WM_CONTEXTMENU:
            if (!m_dialog || m_owner || m_dialog->SystemMenu().empty()) return FALSE;
            ShowContextMenu(static_cast<int>(static_cast<short>(LOWORD(lp))),
                            static_cast<int>(static_cast<short>(HIWORD(lp))));
            return TRUE;
        case WM_CLOSE:
            // The close box is the model's: it ends the dialog (or not) through its handlers.
            m_driver.Run([&] { m_dialog->UserClose(); }, false);
            return TRUE;
        case WM_SETCURSOR:
            if (m_busy > m_paused) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

bool DialogWindow::OnCommand(int code, int id, HWND control) {
    if (m_mirroring || !m_dialog) return true;  // our own changes tell the model nothing
    const int index = control ? IndexOf(control) : -1;
    if (index < 0) {
        // Enter and Escape from the dialog manager, with no button of theirs.
        if (code == BN_CLICKED && id == IDOK) m_driver.Run([&] { m_dialog->UserPressEnter(); });
        if (code == BN_CLICKED && id == IDCANCEL)
            m_driver.Run([&] { m_dialog->UserPressEscape(); });
        return true;
    }
    const size_t at = static_cast<size_t>(index);
    const ui::Control& c = m_dialog->AllControls()[at];
    // The codes overlap between classes (BN_DOUBLECLICKED and CBN_EDITCHANGE are both 5):
    // what a code means depends on the control that sent it.
    switch (c.kind) {
        case res::Kind::Button:
        case res::Kind::Check:
        case res::Kind::Radio:
            if (code == BN_DOUBLECLICKED) {
                // The second press; its click follows and is the double click.
                m_doubleClicked = control;
            } else if (code == BN_CLICKED) {
                const bool second = m_doubleClicked == control;
                m_doubleClicked = nullptr;
                m_driver.UserClicked(at, second);
            }
            return true;
        case res::Kind::Edit:
            if (code != EN_CHANGE) return false;
            if (c.style & res::STYLE_MULTILINE)
                m_driver.UserEditedTestBox(at, U16(WindowText(control)));
            else
                m_driver.UserEdited(at, WideToBytes(WindowText(control)));
            return true;
        case res::Kind::Combo:
            if (code == CBN_EDITCHANGE) {
                m_driver.UserEdited(at, WideToBytes(WindowText(control)));
                return true;
            }
            if (code == CBN_SELCHANGE) {
                const auto item = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
                if (item >= 0) m_driver.UserEdited(at, WideToBytes(ComboItem(control, item)));
                return true;
            }
            return false;
        default:
            return false;
    }
}

int DialogWindow::IndexOf(HWND control) const {
    // A combo's edit is a child of the combo.
    for (; control && control != m_hwnd; control = GetParent(control)) {
        auto it = std::find(m_controls.begin(), m_controls.end(), control);
        if (it != m_controls.end()) return static_cast<int>(it - m_controls.begin());
    }
    return -1;
}

void DialogWindow::BeginUserAction(bool busy) {
    SyncFocus();
    if (!busy) return;
    ++m_busy;
    m_cursorBefore = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void DialogWindow::EndUserAction(bool busy) {
    if (busy) {
        --m_busy;
        SetCursor(m_cursorBefore ? m_cursorBefore : LoadCursorW(nullptr, IDC_ARROW));
    }
    // The controls' own reactions (an automatic radio clearing its partners, a check
    // that toggled itself) give way to what the model decided.
    MirrorAll();
}

void DialogWindow::ShowContextMenu(int x, int y) {
    // The system menu's own items, for desktops whose window manager keeps Alt+Space.
    // The separator that parts them from the system's own items there parts nothing here:
    // separators show only between items, as the Linux window's menu shows them.
    HMENU menu = CreatePopupMenu();
    bool separate = false;
    for (const ui::Dialog::MenuItem& item : m_dialog->SystemMenu()) {
        if (item.command == 0 && item.text.empty()) {
            separate = GetMenuItemCount(menu) > 0;
            continue;
        }
        if (separate) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        separate = false;
        AppendMenuText(menu, item.command, Utf8ToWide(item.text));
    }
    if (x == -1 && y == -1) {
        // From the keyboard (Shift+F10, the menu key): at the focused control.
        RECT r{};
        GetWindowRect(GetFocus() ? GetFocus() : m_hwnd, &r);
        x = r.left;
        y = r.bottom;
        // The first item active, so that a screen reader says it at once: the menu's loop
        // takes this key first.
        PostMessageW(m_hwnd, WM_KEYDOWN, VK_DOWN, 0);
    }
    const auto command = static_cast<uint32_t>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, m_hwnd, nullptr));
    DestroyMenu(menu);
    if (command != 0) m_driver.Run([&] { m_dialog->UserSysCommand(command); }, false);
    ReturnFromModal();
}

// The system's menu font, or null.
static HFONT SystemMenuFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    return CreateFontIndirectW(&metrics.lfMenuFont);
}

void DialogWindow::AppendMenuText(HMENU menu, uint32_t command, const std::wstring& text) {
    std::wstring shown = text;
    shown.erase(std::remove(shown.begin(), shown.end(), L'&'), shown.end());
    HFONT system = SystemMenuFont();
    const bool systemShows = !system || FontHasGlyphs(system, shown);
    if (system) DeleteObject(system);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE;
    info.wID = command;
    info.dwTypeData = const_cast<wchar_t*>(text.c_str());
    if (!systemShows) {
        // Drawn in the dialog's face, which has the characters the menu font lacks.
        if (!m_menuFont) {
            NONCLIENTMETRICSW metrics{};
            metrics.cbSize = sizeof metrics;
            SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
            LOGFONTW lf = metrics.lfMenuFont;
            const std::wstring face = DialogFace(m_template);
            std::fill(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), L'\0');
            face.copy(lf.lfFaceName, std::min<size_t>(face.size(), LF_FACESIZE - 1));
            lf.lfCharSet = DEFAULT_CHARSET;
            m_menuFont = CreateFontIndirectW(&lf);
        }
        m_menuTexts.push_back(std::make_unique<std::wstring>(text));
        info.fMask |= MIIM_DATA;
        info.fType = MFT_OWNERDRAW;
        info.dwItemData = reinterpret_cast<ULONG_PTR>(m_menuTexts.back().get());
    }
    InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &info);
}

bool DialogWindow::OwnsMenuItem(ULONG_PTR data) const {
    for (const auto& text : m_menuTexts)
        if (reinterpret_cast<ULONG_PTR>(text.get()) == data) return true;
    return false;
}

void DialogWindow::SyncFocus() {
    HWND focus = GetFocus();
    const int index = IndexOf(focus);
    if (index < 0 || !m_dialog) return;
    const int id = m_template.controls[static_cast<size_t>(index)].id;
    if (id != res::IDC_STATIC && id != m_dialog->Focus()) m_dialog->SetFocus(id);
}

// --- Model to controls ------------------------------------------------------------------

void DialogWindow::Attach(ui::Dialog* dialog) {
    m_dialog = dialog;
    m_driver.Attach(dialog);
    if (!m_dialog || !m_hwnd) return;
    if (!m_dialog->SystemMenu().empty() && !m_owner) {
        HMENU menu = GetSystemMenu(m_hwnd, FALSE);
        for (const ui::Dialog::MenuItem& item : m_dialog->SystemMenu()) {
            if (item.command == 0 && item.text.empty())
                AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            else
                AppendMenuText(menu, item.command, Utf8ToWide(item.text));
        }
    }
    SetIcons();
    MirrorAll();
    TimerChanged(m_dialog->TimerPeriod());
    FocusChanged(m_dialog->Focus());
}

void DialogWindow::SetIcons() {
    if (!m_hwnd) return;
    HINSTANCE self = GetModuleHandleW(nullptr);
    auto load = [&](int metricX, int metricY) -> HICON {
        const int cx = GetSystemMetrics(metricX), cy = GetSystemMetrics(metricY);
        if (auto icon = static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(res::IDR_MAINFRAME),
                                                      IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR)))
            return icon;
        // A program without the icon resource: the model's own drawing.
        if (!m_dialog || m_dialog->Icon().empty()) return nullptr;
        std::vector<BYTE> png(m_dialog->Icon().begin(), m_dialog->Icon().end());
        return CreateIconFromResourceEx(png.data(), static_cast<DWORD>(png.size()), TRUE,
                                        0x00030000, cx, cy, LR_DEFAULTCOLOR);
    };
    if (!m_bigIcon) m_bigIcon = load(SM_CXICON, SM_CYICON);
    if (!m_smallIcon) m_smallIcon = load(SM_CXSMICON, SM_CYSMICON);
    if (m_bigIcon) SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    if (m_smallIcon)
        SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    for (size_t i = 0; i < m_controls.size(); ++i) {
        if (m_template.controls[i].kind == res::Kind::Icon && m_bigIcon &&
            !SendMessageW(m_controls[i], STM_GETICON, 0, 0))
            SendMessageW(m_controls[i], STM_SETICON, reinterpret_cast<WPARAM>(m_bigIcon), 0);
    }
}

void DialogWindow::ControlChanged(int id) {
    auto it = m_index.find(id);
    if (m_dialog && it != m_index.end()) Mirror(it->second);
}

void DialogWindow::MirrorAll() {
    if (!m_dialog) return;
    for (size_t i = 0; i < m_controls.size() && i < m_dialog->AllControls().size(); ++i) Mirror(i);
}

void DialogWindow::Mirror(size_t index) {
    if (!m_dialog || index >= m_controls.size() || index >= m_dialog->AllControls().size()) return;
    const ui::Control& c = m_dialog->AllControls()[index];
    HWND w = m_controls[index];
    // The focused control a handler disables or hides leaves the focus on the dialog, not
    // on a neighbour the next key would press; it gets the focus back when it is enabled.
    const bool focused = c.id != res::IDC_STATIC && c.id == m_dialog->Focus();
    HWND focus = GetFocus();
    if (focused && m_dialog->ShownFocus() == res::IDC_STATIC && focus &&
        (focus == w || IsChild(w, focus)))
        SetFocus(m_hwnd);
    ++m_mirroring;
    const bool shown = (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != c.visible) ShowWindow(w, c.visible ? SW_SHOWNA : SW_HIDE);
    if ((IsWindowEnabled(w) != FALSE) != c.enabled) EnableWindow(w, c.enabled ? TRUE : FALSE);
    focus = GetFocus();
    if (focused && m_dialog->ShownFocus() == c.id &&
        (focus == m_hwnd || (!focus && GetActiveWindow() == m_hwnd)))
        SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(w), TRUE);
    switch (c.kind) {
        case res::Kind::Edit:
            if (c.style & res::STYLE_MULTILINE) {
                if (MirrorTestBox(index)) {
                    --m_mirroring;
                    return;  // painted with its frame
                }
            } else {
                // The platform's limit is the model's: typing stops, set texts stay whole.
                SendMessageW(w, EM_SETLIMITTEXT, static_cast<WPARAM>(std::max(c.limit, 0)), 0);
                SetTypedText(w, BytesToWide(c.text), false);
            }
            break;
        case res::Kind::Check:
        case res::Kind::Radio: {
            const bool checked = SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
            if (checked != c.checked)
                SendMessageW(w, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            if (c.kind == res::Kind::Radio) {
                // Of a group only the checked radio is a tab stop (the first one while
                // none is checked); a radio sets its own on a check, not on a clear.
                const auto [first, end] = ui::GroupBounds(m_template, index);
                bool groupChecked = false;
                for (size_t i = first; i < end; ++i) {
                    const ui::Control& other = m_dialog->AllControls()[i];
                    groupChecked =
                        groupChecked || (other.kind == res::Kind::Radio && other.checked);
                }
                const bool stop =
                    c.checked || (!groupChecked && ui::HasTabStopStyle(m_template.controls[index]));
                const LONG style = GetWindowLongW(w, GWL_STYLE);
                if (((style & WS_TABSTOP) != 0) != stop)
                    SetWindowLongW(w, GWL_STYLE,
                                   stop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
            }
            SetTextIfDifferent(w, Utf8ToWide(c.text));
            break;
        }
        case res::Kind::Button:
        case res::Kind::Group:
        case res::Kind::Label:
            SetTextIfDifferent(w, Utf8ToWide(c.text));
            break;
        case res::Kind::Combo: {
            const auto count = static_cast<int>(SendMessageW(w, CB_GETCOUNT, 0, 0));
            bool same = count == static_cast<int>(c.items.size());
            for (int i = 0; same && i < count; ++i)
                same = ComboItem(w, i) == BytesToWide(c.items[static_cast<size_t>(i)]);
            if (!same) {
                m_comboSel.erase(index);
                SendMessageW(w, CB_RESETCONTENT, 0, 0);
                // Inserted at their places: the model has sorted them already, and its
                // order of bytes is the one its indexes count in.
                for (size_t i = 0; i < c.items.size(); ++i)
                    SendMessageW(w, CB_INSERTSTRING, i,
                                 reinterpret_cast<LPARAM>(BytesToWide(c.items[i]).c_str()));
            }
            if (c.style & res::STYLE_DROPDOWN) {
                // The list's selection follows what the user types or picks; only a
                // selection the model itself makes is shown (it sets the text too).
                auto shownSel = m_comboSel.find(index);
                if (shownSel == m_comboSel.end() || shownSel->second != c.curSel)
                    SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(c.curSel), 0);
                m_comboSel[index] = c.curSel;
                SetTypedText(w, BytesToWide(c.text), true);
            } else if (static_cast<int>(SendMessageW(w, CB_GETCURSEL, 0, 0)) != c.curSel || !same) {
                SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(c.curSel), 0);
            }
            break;
        }
        case res::Kind::Slider: {
            const int max = std::max(c.rangeMin, c.rangeMax);
            if (SendMessageW(w, TBM_GETRANGEMIN, 0, 0) != c.rangeMin ||
                SendMessageW(w, TBM_GETRANGEMAX, 0, 0) != max) {
                SendMessageW(w, TBM_SETRANGEMIN, FALSE, c.rangeMin);
                SendMessageW(w, TBM_SETRANGEMAX, TRUE, max);
            }
            // Page Up and Page Down move a fifth of the range.
            SendMessageW(w, TBM_SETPAGESIZE, 0, std::max(1, (c.rangeMax - c.rangeMin) / 5));
            SendMessageW(w, TBM_SETTICFREQ, static_cast<WPARAM>(std::max(1, c.ticFreq)), 0);
            if (SendMessageW(w, TBM_GETPOS, 0, 0) != c.pos)
                SendMessageW(w, TBM_SETPOS, TRUE, c.pos);
            break;
        }
        case res::Kind::Icon:
            break;
    }
    --m_mirroring;
    // Inside a handler no message is dispatched before it returns: paint now.
    if (m_dialog->InHandler() && IsWindowVisible(w))
        RedrawWindow(w, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool DialogWindow::MirrorTestBox(size_t index) {
    HWND w = m_controls[index];
    size_t kept = 0;
    const auto change = m_driver.FollowTestBox(index, false, &kept);
    if (change == ui::ViewDriver::TestBoxChange::None) return false;
    const std::u16string& display = m_driver.ShownText(index).display;
    // The poll's bytes go in with frames (while the edit holds what came before), never
    // with the whole box redrawn at once.
    if (ui::ViewDriver::WaitsForFrame(change, m_dialog->AllControls()[index]) &&
        (m_waitingFrom.count(index) || static_cast<size_t>(GetWindowTextLengthW(w)) == kept)) {
        m_waitingFrom.emplace(index, kept);
        const auto when = m_frames.Appended();
        if (when == ui::AppendFrames::Append::NowAndFramesStart)
            SetTimer(m_hwnd, kFrameTimerId, ui::ViewDriver::kFrameMs, nullptr);
        if (when != ui::AppendFrames::Append::Waits) ShowAppendedText(index);
        return true;
    }
    ShowAppendedText(index);
    if (change == ui::ViewDriver::TestBoxChange::Appended &&
        static_cast<size_t>(GetWindowTextLengthW(w)) == kept) {
        // Added bytes: only what they add is given to the edit, never the whole text.
        m_waitingFrom.emplace(index, kept);
        ShowAppendedText(index);
        return false;
    }
    const std::wstring whole = Wide(display);
    if (WindowText(w) == whole) return false;
    DWORD caret = 0;
    SendMessageW(w, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    SetWindowTextW(w, whole.c_str());
    if (GetFocus() == w) {
        // The model changed what the user typed: the caret stays where it was.
        caret = std::min<DWORD>(caret, static_cast<DWORD>(whole.size()));
        SendMessageW(w, EM_SETSEL, caret, static_cast<LPARAM>(caret));
    }
    if (GetFocus() != w) {
        // New text is read at its end.
        const auto end = static_cast<WPARAM>(display.size());
        SendMessageW(w, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(w, EM_SCROLLCARET, 0, 0);
    }
    return false;
}

void DialogWindow::ShowAppendedText() {
    m_frames.Shown();
    while (!m_waitingFrom.empty()) ShowAppendedText(m_waitingFrom.begin()->first);
}

void DialogWindow::ShowAppendedText(size_t index) {
    const auto waiting = m_waitingFrom.find(index);
    if (waiting == m_waitingFrom.end()) return;
    const size_t from = waiting->second;
    m_waitingFrom.erase(waiting);
    HWND w = m_controls[index];
    const std::u16string& display = m_driver.ShownText(index).display;
    ++m_mirroring;
    if (static_cast<size_t>(GetWindowTextLengthW(w)) == from) {
        const std::wstring added = Wide(std::u16string_view(display).substr(from));
        const auto end = static_cast<WPARAM>(from);
        SendMessageW(w, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(w, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    } else {
        SetWindowTextW(w, Wide(display).c_str());
    }
    if (GetFocus() != w) {
        const auto end = static_cast<WPARAM>(display.size());
        SendMessageW(w, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(w, EM_SCROLLCARET, 0, 0);
    }
    --m_mirroring;
}

void DialogWindow::TimerChanged(uint32_t periodMs) {
    m_timerPeriod = periodMs;
    if (!m_hwnd) return;
    if (periodMs == 0)
        KillTimer(m_hwnd, kTimer1Id);
    else
        SetTimer(m_hwnd, kTimer1Id, periodMs, nullptr);
}

void DialogWindow::FocusChanged(int id) {
    auto it = m_index.find(id);
    if (it == m_index.end() || !m_hwnd) return;
    HWND w = m_controls[it->second];
    HWND focus = GetFocus();
    if (focus != w && !IsChild(w, focus))
        SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(w), TRUE);
}

// --- Host -------------------------------------------------------------------------------

namespace {

// The wait cursor is taken down while a modal box of a handler waits for the user.
class BusyPause {
public:
    BusyPause(int& paused, int busy) : m_paused(paused), m_old(paused) {
        m_paused = busy;
        if (busy) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
    ~BusyPause() { m_paused = m_old; }
    BusyPause(const BusyPause&) = delete;
    BusyPause& operator=(const BusyPause&) = delete;

private:
    int& m_paused;
    int m_old;
};

}  // namespace

void DialogWindow::MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) {
    const BusyPause pause(m_paused, m_busy);
    const std::wstring caption = Utf8ToWide(title.empty() ? ui::Dialog::ProgramName() : title);
    const std::wstring wide = Utf8ToWide(text);
    const bool exclamation = icon == ui::MsgIcon::Exclamation;
    // The system's box unless its font lacks characters of the text (Chinese where no font
    // is linked to it): then a box of the same parts in the dialog's own face.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    HFONT messageFont = nullptr;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        messageFont = CreateFontIndirectW(&metrics.lfMessageFont);
    const bool systemShows = !messageFont || FontHasGlyphs(messageFont, wide + caption);
    if (messageFont) DeleteObject(messageFont);
    if (systemShows)
        MessageBoxW(m_hwnd, wide.c_str(), caption.c_str(),
                    MB_OK | (exclamation ? MB_ICONEXCLAMATION : 0));
    else
        FacedMessageBox(m_hwnd, wide, caption, exclamation, DialogFace(res::MainDialogTemplate()));
    ReturnFromModal();
}

void DialogWindow::ReturnFromModal() {
    // The dialog active again and the focus where the model has it (the button that opened
    // the box), whatever the dialog manager remembered from before.
    if (!m_hwnd || m_ended || !m_dialog || !IsWindowVisible(m_hwnd)) return;
    SetActiveWindow(m_hwnd);
    auto it = m_index.find(m_dialog->ShownFocus());
    if (it == m_index.end())
        SetFocus(m_hwnd);
    else if (GetFocus() != m_controls[it->second] && !IsChild(m_controls[it->second], GetFocus()))
        SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_controls[it->second]), TRUE);
}

std::optional<std::string> DialogWindow::FileDialog(const ui::FileDialogRequest& request) {
    const BusyPause pause(m_paused, m_busy);
    // "name|pattern|...||": the platform's list has NULs for the bars.
    std::wstring filter = Utf8ToWide(request.filter);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    if (!filter.empty()) filter.push_back(L'\0');
    std::wstring ext = Utf8ToWide(request.defaultExt);
    if (!ext.empty() && ext[0] == L'.') ext.erase(0, 1);
    const std::wstring title = Utf8ToWide(request.title);

    std::vector<wchar_t> file(MAX_PATH * 4, L'\0');
    const std::wstring initial = Utf8ToWide(request.initialFile);
    std::copy_n(initial.begin(), std::min(initial.size(), file.size() - 1), file.begin());

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hwnd;
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.Flags = request.flags | OFN_EXPLORER;
    const BOOL ok = request.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    ReturnFromModal();
    if (!ok) return std::nullopt;
    return PathForFileCalls(file.data());
}

void DialogWindow::ShowAbout() {
    const BusyPause pause(m_paused, m_busy);
    DialogWindow view(res::AboutDialogTemplate(), m_hwnd);
    CAboutDlg::DoModal(view, [&view](CAboutDlg& about) {
        view.Attach(&about);
        view.RunModal();
    });
    ReturnFromModal();
}

void DialogWindow::DialogEnded(int result) {
    m_ended = true;
    m_result = result;
    if (!m_hwnd) return;
    KillTimer(m_hwnd, kTimer1Id);
    if (m_owner) {
        EndDialog(m_hwnd, result);
    } else {
        ShowWindow(m_hwnd, SW_HIDE);
        PostMessageW(m_hwnd, WM_NULL, 0, 0);  // wakes the message loop
    }
}

// --- Running ----------------------------------------------------------------------------

void DialogWindow::Show() {
    if (!m_hwnd) return;
    ShowWindow(m_hwnd, SW_SHOW);
    SetForegroundWindow(m_hwnd);
    if (m_dialog) {
        // The dialog manager gave the focus to the first tab stop; the model's goes first.
        HWND focus = GetFocus();
        const int index = IndexOf(focus);
        if (index < 0 || m_template.controls[static_cast<size_t>(index)].id != m_dialog->Focus())
            FocusChanged(m_dialog->Focus());
    }
    UpdateWindow(m_hwnd);
}

int DialogWindow::Exec() {
    if (!m_dialog) return 0;
    if (m_dialog->IsEnded()) return m_dialog->Result();
    Show();
    MSG msg;
    while (!m_ended) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the caller's loop
            break;
        }
        if (got < 0) break;
        if (!IsDialogMessageW(m_hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return m_dialog->Result();
}

int DialogWindow::RunModal() {
    if (m_dialog && m_dialog->IsEnded()) return m_dialog->Result();
    const INT_PTR r = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(m_dlgTemplate.data()), m_owner,
        &DialogWindow::Proc, reinterpret_cast<LPARAM>(this));
    m_hwnd = nullptr;
    return m_dialog ? m_dialog->Result() : static_cast<int>(r);
}

}  // namespace gui::win32
