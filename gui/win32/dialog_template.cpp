#include "gui/win32/dialog_template.h"

#include <algorithm>
#include <iterator>

#include "gui/win32/text16.h"
#include "ui/dialog_keys.h"
#include "ui/test_box_text.h"

namespace gui::win32 {

namespace {

void PutString(std::vector<WORD>& out, const std::wstring& s) {
    for (wchar_t ch : s) out.push_back(static_cast<WORD>(ch));
    out.push_back(0);
}

void PutDword(std::vector<WORD>& out, DWORD v) {
    out.push_back(LOWORD(v));
    out.push_back(HIWORD(v));
}

void AlignDword(std::vector<WORD>& out) {
    if (out.size() % 2) out.push_back(0);
}

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FaceInstalled(const std::wstring& face) {
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    face.copy(lf.lfFaceName, face.size());
    HDC dc = GetDC(nullptr);
    bool found = false;
    EnumFontFamiliesExW(dc, &lf, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

}  // namespace

ControlClass ClassOf(const res::ControlTemplate& c) {
    DWORD style = WS_CHILD;
    if (!(c.style & res::STYLE_HIDDEN)) style |= WS_VISIBLE;
    if (c.style & res::STYLE_DISABLED) style |= WS_DISABLED;
    if (c.style & res::STYLE_GROUP) style |= WS_GROUP;
    // The same tab stops as the other views (of a radio group the first radio; the
    // checked one takes it over at run time).
    if (ui::HasTabStopStyle(c)) style |= WS_TABSTOP;
    switch (c.kind) {
        case res::Kind::Edit:
            if (c.style & res::STYLE_MULTILINE)
                return {L"EDIT", style | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL,
                        WS_EX_CLIENTEDGE};
            return {L"EDIT", style | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case res::Kind::Check:
            return {L"BUTTON", style | BS_AUTOCHECKBOX, 0};
        case res::Kind::Radio:
            return {L"BUTTON", style | BS_AUTORADIOBUTTON, 0};
        case res::Kind::Button:
            return {L"BUTTON",
                    style | ((c.style & res::STYLE_DEFAULT) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0};
        case res::Kind::Combo: {
            DWORD s = style | WS_VSCROLL;
            s |=
                (c.style & res::STYLE_DROPDOWN) ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST;
            if (c.style & res::STYLE_SORTED) s |= CBS_SORT;
            return {WC_COMBOBOXW, s, 0};
        }
        case res::Kind::Slider:
            return {TRACKBAR_CLASSW,
                    style | TBS_HORZ | TBS_BOTH |
                        ((c.style & res::STYLE_NOTICKS) ? TBS_NOTICKS : TBS_AUTOTICKS),
                    0};
        case res::Kind::Label:
            return {L"STATIC", style | SS_LEFT, 0};
        case res::Kind::Group:
            return {L"BUTTON", style | BS_GROUPBOX, 0};
        case res::Kind::Icon:
            return {L"STATIC", style | SS_ICON, 0};
    }
    return {L"STATIC", style, 0};
}

std::vector<WORD> BuildDialogTemplate(const res::DialogTemplate& tpl, const std::wstring& face,
                                      bool mainWindow, int points) {
    std::vector<WORD> out;
    out.push_back(1);       // dlgVer
    out.push_back(0xFFFF);  // signature: the extended form
    PutDword(out, 0);       // helpID
    PutDword(out, mainWindow ? WS_EX_APPWINDOW : 0);
    // No minimise or maximise box: the window keeps its size.
    PutDword(out, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
    out.push_back(static_cast<WORD>(tpl.controls.size()));
    out.push_back(0);  // x, y: DS_CENTER places it
    out.push_back(0);
    out.push_back(static_cast<WORD>(tpl.width));
    out.push_back(static_cast<WORD>(tpl.height));
    out.push_back(0);  // no menu
    out.push_back(0);  // the dialog class
    PutString(out, Utf8ToWide(tpl.caption));
    out.push_back(static_cast<WORD>(points > 0 ? points : tpl.fontPoints));
    out.push_back(FW_NORMAL);
    out.push_back(static_cast<WORD>(DEFAULT_CHARSET << 8));  // italic 0, then the charset
    PutString(out, face.empty() ? Utf8ToWide(tpl.fontName) : face);

    for (const res::ControlTemplate& c : tpl.controls) {
        AlignDword(out);
        const ControlClass cls = ClassOf(c);
        PutDword(out, 0);  // helpID
        PutDword(out, cls.exStyle);
        PutDword(out, cls.style);
        int height = c.rect.h;
        if (c.kind == res::Kind::Combo) height += kComboListHeight;
        out.push_back(static_cast<WORD>(c.rect.x));
        out.push_back(static_cast<WORD>(c.rect.y));
        out.push_back(static_cast<WORD>(c.rect.w));
        out.push_back(static_cast<WORD>(height));
        PutDword(out, static_cast<DWORD>(c.id == res::IDC_STATIC ? 0xFFFF : c.id));
        PutString(out, cls.className);
        if (c.kind == res::Kind::Icon) {
            out.push_back(0xFFFF);  // the caption is the icon's resource number
            out.push_back(static_cast<WORD>(res::IDR_MAINFRAME));
        } else if (c.kind == res::Kind::Edit || c.kind == res::Kind::Combo ||
                   c.kind == res::Kind::Slider) {
            out.push_back(0);  // texts of edits come from the model
        } else {
            PutString(out, Utf8ToWide(c.caption));
        }
        out.push_back(0);  // no creation data
    }
    return out;
}

SIZE DialogPixels(const res::DialogTemplate& tpl, const std::wstring& face, int points) {
    HDC dc = GetDC(nullptr);
    const std::wstring name = face.empty() ? Utf8ToWide(tpl.fontName) : face;
    HFONT font = CreateFontW(-MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL,
                             FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, name.c_str());
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    GetTextExtentPoint32W(dc, kAlphabet, 52, &extent);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    const int unitX = (extent.cx / 26 + 1) / 2;
    const int unitY = tm.tmHeight;
    RECT r{0, 0, MulDiv(tpl.width, unitX, 4), MulDiv(tpl.height, unitY, 8)};
    AdjustWindowRectEx(&r, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, FALSE,
                       WS_EX_DLGMODALFRAME);
    return {r.right - r.left, r.bottom - r.top};
}

int FittingPoints(const res::DialogTemplate& tpl, const std::wstring& face, SIZE area) {
    constexpr int kSmallest = 6;
    for (int points = tpl.fontPoints; points > kSmallest; --points) {
        const SIZE size = DialogPixels(tpl, face, points);
        if (size.cx <= area.cx && size.cy <= area.cy) return points;
    }
    return kSmallest;
}

bool FontHasGlyphs(HFONT font, const std::wstring& text) {
    if (text.empty()) return true;
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    const DWORD n = GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                                     GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    if (n == GDI_ERROR) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (glyphs[i] == 0xFFFF && text[i] != L'\r' && text[i] != L'\n') return false;
    return true;
}

HFONT TestBoxFont(HFONT dialogFont) {
    LOGFONTW lf{};
    if (!dialogFont || !GetObjectW(dialogFont, sizeof lf, &lf)) return nullptr;
    std::string bytes(256, '\0');
    for (int b = 0; b < 256; ++b) bytes[static_cast<size_t>(b)] = static_cast<char>(b);
    std::wstring shown;
    for (char16_t ch : ui::RenderTestBox(bytes, ui::kLineBreakCrLf, AnsiCharset()).display)
        if (ch != u'\r' && ch != u'\n') shown.push_back(static_cast<wchar_t>(ch));
    if (FontHasGlyphs(dialogFont, shown)) return nullptr;
    // Faces with the control pictures and the angle brackets: on Windows, then as a Linux
    // host gives them to Wine.
    static const wchar_t* const kFaces[] = {
        L"Segoe UI Symbol", L"Lucida Sans Unicode", L"Arial Unicode MS",
        L"FreeSans",        L"FreeSerif",           L"FreeMono",
    };
    for (const wchar_t* face : kFaces) {
        const std::wstring name = face;
        if (!FaceInstalled(name)) continue;
        std::fill(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), L'\0');
        name.copy(lf.lfFaceName, name.size());
        HFONT font = CreateFontIndirectW(&lf);
        if (font && FontHasGlyphs(font, shown)) return font;
        if (font) DeleteObject(font);
    }
    return nullptr;
}

namespace {

constexpr int kBoxIconId = 20, kBoxTextId = 21;

struct FacedBox {
    const std::wstring* text;
    bool exclamation;
};

INT_PTR CALLBACK FacedBoxProc(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        const auto* data = reinterpret_cast<const FacedBox*>(lp);
        HWND icon = GetDlgItem(box, kBoxIconId), label = GetDlgItem(box, kBoxTextId);
        HWND ok = GetDlgItem(box, IDOK);
        SetWindowTextW(label, data->text->c_str());
        // Laid out as the system's box: the icon at the left, the text beside it, the
        // button centred below; in pixels of this face.
        RECT margin{7, 7, 50, 14};
        MapDialogRect(box, &margin);
        HDC dc = GetDC(label);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)));
        RECT textRect{0, 0, 480, 0};
        DrawTextW(dc, data->text->c_str(), -1, &textRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(label, dc);
        const int iconSize = data->exclamation ? GetSystemMetrics(SM_CXICON) : 0;
        int x = margin.left;
        if (data->exclamation) {
            SendMessageW(icon, STM_SETICON,
                         reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_EXCLAMATION)), 0);
            MoveWindow(icon, x, margin.top, iconSize, iconSize, FALSE);
            x += iconSize + margin.left;
        } else {
            SendMessageW(icon, STM_SETICON, 0, 0);
            ShowWindow(icon, SW_HIDE);
        }
        MoveWindow(label, x, margin.top, textRect.right, textRect.bottom, FALSE);
        const int width =
            std::max<int>(x + textRect.right + margin.left, margin.right + 2 * margin.left);
        const int top = margin.top + std::max<int>(iconSize, textRect.bottom) + margin.top;
        MoveWindow(ok, (width - margin.right) / 2, top, margin.right, margin.bottom, FALSE);
        RECT frame{0, 0, width, top + margin.bottom + margin.top};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(box, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongW(box, GWL_EXSTYLE)));
        RECT owner{};
        HWND parent = GetWindow(box, GW_OWNER);
        if (!parent || !GetWindowRect(parent, &owner))
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &owner, 0);
        const int w = frame.right - frame.left, h = frame.bottom - frame.top;
        SetWindowPos(box, nullptr, (owner.left + owner.right - w) / 2,
                     (owner.top + owner.bottom - h) / 2, w, h, SWP_NOZORDER);
        if (data->exclamation) MessageBeep(MB_ICONEXCLAMATION);
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(box, IDOK);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void FacedMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                     bool exclamation, const std::wstring& face) {
    const std::string title = WideToUtf8(caption);
    res::DialogTemplate tpl;
    tpl.id = 0;
    tpl.caption = title;
    tpl.width = 100;
    tpl.height = 50;
    tpl.fontName = "";
    tpl.fontPoints = 9;
    // Places and sizes are set when the box opens.
    tpl.controls = {
        {kBoxIconId, res::Kind::Icon, "", {0, 0, 10, 10}, 0},
        {kBoxTextId, res::Kind::Label, "", {0, 0, 10, 10}, 0},
        {IDOK, res::Kind::Button, "OK", {0, 0, 50, 14}, res::STYLE_DEFAULT},
    };
    std::vector<WORD> data = BuildDialogTemplate(tpl, face, false);
    const FacedBox box{&text, exclamation};
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                            reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), owner, FacedBoxProc,
                            reinterpret_cast<LPARAM>(&box));
}

std::wstring DialogFace(const res::DialogTemplate& tpl) {
    const std::wstring own = Utf8ToWide(tpl.fontName);
    if (FaceInstalled(own)) return own;
    // The template face's Latin name and other faces with the Chinese characters, the
    // first two on Windows, the others as a Linux host gives them to Wine.
    static const wchar_t* const kFaces[] = {
        L"SimSun",           L"NSimSun",
        L"Microsoft YaHei",  L"WenQuanYi Micro Hei",
        L"Noto Sans CJK SC", L"Droid Sans Fallback",
        L"AR PL UMing CN",
    };
    for (const wchar_t* face : kFaces)
        if (FaceInstalled(face)) return face;
    return own;
}

}  // namespace gui::win32
