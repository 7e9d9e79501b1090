#include "gui/qt/run_window.h"

#include <QApplication>
#include <sstream>

#include "app/zarn60_tool_dlg.h"
#include "base/clock.h"
#include "gui/qt/dialog_view.h"
#include "gui/qt/template_widgets.h"

namespace gui {

int RunWindow(int argc, char** argv, const SimulatorCommand& simulator) {
    // On X11 the window's images go to the server over its socket, not in shared memory:
    // a shared image must be waited for (a round trip to the server) before a region the
    // server may still be reading is painted again, and a streaming test box repaints its
    // last line every frame. A dialog this size gains nothing from sharing. Other
    // platforms ignore the variable.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
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
