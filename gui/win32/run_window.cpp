#include "gui/win32/run_window.h"

#include <cstdio>
#include <exception>

#include "gui/win32/dialog_window.h"

namespace gui::win32 {

int RunWindow(bool simulated) {
    try {
        DialogWindow view(res::MainDialogTemplate(), nullptr);
        if (simulated) view.PaceVirtualClock(dynamic_cast<zarn::VirtualClock*>(&zarn::GetClock()));
        CZARN60TOOLApp theApp;
        return theApp.InitInstance(view, [&view](CZARN60TOOLDlg& dialog) {
            view.Attach(&dialog);
            view.Exec();
        });
    } catch (const std::exception& e) {
        MessageBoxW(nullptr, Utf8ToWide(e.what()).c_str(),
                    Utf8ToWide(ui::Dialog::ProgramName()).c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
}

}  // namespace gui::win32

namespace gui::win32 {

void AttachParentConsole() {
    auto redirected = [](DWORD which) {
        HANDLE h = GetStdHandle(which);
        return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
    };
    const bool out = redirected(STD_OUTPUT_HANDLE), err = redirected(STD_ERROR_HANDLE);
    const bool in = redirected(STD_INPUT_HANDLE);
    if ((out && err && in) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    FILE* stream = nullptr;
    if (!out) freopen_s(&stream, "CONOUT$", "w", stdout);
    if (!err) freopen_s(&stream, "CONOUT$", "w", stderr);
    if (!in) freopen_s(&stream, "CONIN$", "r", stdin);
}

}  // namespace gui::win32
