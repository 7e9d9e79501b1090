#include "gui/run_window.h"

#include <QApplication>

#include "app/zarn60_tool_dlg.h"
#include "gui/bench_hook.h"
#include "gui/dialog_view.h"
#include "gui/template_widgets.h"
#include "link/clock.h"

namespace gui {

int RunWindow(int argc, char** argv, bool simulated) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("zarn60-tool"));
    // Message boxes and file dialogs use the dialog's face too, so Chinese texts show.
    QApplication::setFont(DialogFont(res::MainDialogTemplate()));

    DialogView view(res::MainDialogTemplate());
    ExitAfterFirstPaintIfAsked(&view);
    if (simulated) view.PaceVirtualClock(dynamic_cast<zarn::VirtualClock*>(&zarn::GetClock()));

    CZARN60TOOLApp theApp;
    return theApp.InitInstance(view, [&view](CZARN60TOOLDlg& dialog) {
        view.Attach(&dialog);
        view.Exec();
    });
}

}  // namespace gui
