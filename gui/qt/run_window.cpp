#include "gui/qt/run_window.h"

#include <QApplication>
#include <sstream>

#include "app/zarn60_tool_dlg.h"
#include "base/clock.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"

namespace gui {

int RunWindow(int argc, char** argv, const SimulatorCommand& simulator) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("zarn60-tool"));
    // Message boxes and file dialogs use the dialog's face too, so Chinese texts show.
    // At the window's own scale, they are as large as the dialog.
    const res::DialogTemplate& tpl = res::MainDialogTemplate();
    QApplication::setFont(DialogFont(tpl, ScaledFontPixels(tpl, ScaleFromEnvironment())));

    DialogView view(res::MainDialogTemplate());
    if (simulator) {
        view.PaceVirtualClock(dynamic_cast<zarn::VirtualClock*>(&zarn::GetClock()));
        view.OfferTestCards([&simulator](const std::string& command, std::string* error) {
            std::ostringstream out;
            return simulator(command, out, error);
        });
    }

    CZARN60TOOLApp theApp;
    return theApp.InitInstance(view, [&view](CZARN60TOOLDlg& dialog) {
        view.Attach(&dialog);
        view.Exec();
    });
}

}  // namespace gui
