// Temporary: the reader and settings-file operations are defined in protocol/ and
// settings_file/. Until they land, their handlers do nothing so that the dialog links;
// this file is deleted when the operations replace these definitions.
#include "app/zarn60_tool_dlg.h"

void CZARN60TOOLDlg::OnDownloadSetting() {}
void CZARN60TOOLDlg::OnFactoryDefault() {}
void CZARN60TOOLDlg::OnUploadSetting() {}
void CZARN60TOOLDlg::OnGetVersion() {}
void CZARN60TOOLDlg::OnReadCard() {}
void CZARN60TOOLDlg::OnSaveSettingToFile() {}
void CZARN60TOOLDlg::OnLoadSettingFromFile() {}
