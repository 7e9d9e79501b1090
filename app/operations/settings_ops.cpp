// "Save setting to File" stores the reader's configuration (not the dialog's)
// as it arrived; "Load Setting from File" shows a stored one exactly as an
// upload would.
#include "app/operations/config_dialog.h"
#include "app/operations/dialog_exchanges.h"
#include "app/zarn60_tool_dlg.h"
#include "protocol/read_exchange.h"
#include "settings_file/settings_file.h"

namespace {

constexpr const char* SETTINGS_FILTER =
    "Configuration file   (*.cfg)|*.cfg|All   Files   (*.*)|*.*||";
using ui::OFN_FILEMUSTEXIST;
using ui::OFN_HIDEREADONLY;
using ui::OFN_OVERWRITEPROMPT;
// "数据保存为cfg文件" ("save the data as a cfg file"), in UTF-8.
constexpr const char* SAVE_DIALOG_TITLE =
    "\xE6\x95\xB0\xE6\x8D\xAE\xE4\xBF\x9D\xE5\xAD\x98\xE4\xB8\xBA"
    "cfg"
    "\xE6\x96\x87\xE4\xBB\xB6";

ui::FileDialogRequest SaveDialogRequest() {
    ui::FileDialogRequest request;
    request.save = true;
    request.title = SAVE_DIALOG_TITLE;
    request.initialFile = settings_file::SETTINGS_FILE_DEFAULT_NAME;
    request.defaultExt = "cfg";
    request.filter = SETTINGS_FILTER;
    request.flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    return request;
}

ui::FileDialogRequest OpenDialogRequest() {
    ui::FileDialogRequest request;
    request.save = false;
    request.defaultExt = ".cfg";
    request.filter = SETTINGS_FILTER;
    request.flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    return request;
}

}  // namespace

void CZARN60TOOLDlg::OnSaveSettingToFile() {
    // Over USB the poll may keep running: it reads only the serial port.
    if (g_connectionMode == CONNECTION_SERIAL) KillTimer();
    g_strReceived.clear();
    protocol::ConfigReadImage image{};
    if (!operations::ReadConfigOverCurrentLink(*this, protocol::SAVE_REPORT_PAUSE_MS, image))
        return;
    if (g_connectionMode == CONNECTION_SERIAL) UpdateData(false);

    // A cancelled dialog leaves the path empty, which the write refuses like any
    // other.
    const std::string path = GetHost().FileDialog(SaveDialogRequest()).value_or(std::string());
    if (!settings_file::WriteSettingsFile(path, image)) {
        ShowStatus("Open File Error");
        return;
    }
    ShowStatus("Save CFG file Setup.cfg Ok");
    SetTimer(POLL_PERIOD_MS);
}

void CZARN60TOOLDlg::OnLoadSettingFromFile() {
    KillTimer();
    g_strReceived.clear();
    UpdateData(true);  // a failed length check has shown its message; go on
    if (ComText().empty()) {
        ShowStatus(operations::NO_PORT_NUMBER_TEXT);
        return;
    }
    protocol::ConfigReadImage image{};
    const auto chosen = GetHost().FileDialog(OpenDialogRequest());
    if (!chosen || chosen->empty()) return;
    if (!settings_file::ReadSettingsFile(*chosen, image)) {
        ShowStatus("Open Setup.cfg File Error");
        return;
    }
    operations::ShowReaderConfig(*this, image);
    ShowStatus("Load setting ok!");
}
