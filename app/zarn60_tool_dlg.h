// The main dialog of the tool. Its handlers are members of this class: the dialog's own in
// app/zarn60_tool_dlg.cpp, the option interlocks in app/interlocks.cpp, and each operation
// in its own file under app/operations/ (which calls the reader exchanges of protocol/
// and the .cfg file code of settings_file/).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/reader_config.h"
#include "res/control_ids.h"
#include "ui/dialog.h"

enum ConnectionMode { CONNECTION_USB = 0, CONNECTION_SERIAL = 1 };

extern ConnectionMode g_connectionMode;
extern std::string g_strReceived;

// Control ids of dialog template 102 (res/control_ids.h), by their names alone.
using enum res::ControlId;

constexpr uint32_t IDM_ABOUTBOX = 0x0010;
constexpr uint32_t OPEN_POLL_PERIOD_MS = 50;
constexpr uint32_t POLL_PERIOD_MS = 10;

// The USB speed trackbar: 0 to USB_SPEED_MAX; "usb" (and start-up) puts it at
// USB_SPEED_USB, " serial port" at USB_SPEED_SERIAL.
using protocol::USB_SPEED_MAX;
using protocol::USB_SPEED_SERIAL;
using protocol::USB_SPEED_USB;

// The sentinel edits' texts at start-up, after "Back to Default Factory Setting" and when
// "Disable SS"/"Disable ES" is cleared: a start sentinel per track, one end sentinel for all.
inline constexpr const char* DEFAULT_START_SENTINELS[3] = {"%", ";", "+"};
inline constexpr const char* DEFAULT_END_SENTINEL = "?";

// Leading decimal number of a text: blanks skipped, optional sign, digits up to the
// first other character; 0 when there are none. Saturates instead of overflowing.
int LeadingNumber(const std::string& text);

class CZARN60TOOLDlg : public ui::Dialog {
public:
    CZARN60TOOLDlg();
    ~CZARN60TOOLDlg() override;

    // Bound members, in exchange order.
    std::string m_strTrack1SS, m_strTrack2SS, m_strTrack3SS;
    std::string m_strTrack1ES, m_strTrack2ES, m_strTrack3ES;
    std::string m_strPrefix, m_strSuffix, m_strTrimSpaces, m_strHiddenValue;
    std::string m_strTrack1End, m_strTrack2End, m_strTrack3End;
    std::vector<uint8_t> m_hIcon;  // icon 128 (PNG)
    // The test box's text revision when the receive poll last showed g_strReceived in it.
    uint64_t m_receivedShownRevision = UINT64_MAX;

    // Shows a status text: replaces the whole text of the test box.
    void ShowStatus(const std::string& text);
    // The text of the COM combo box.
    std::string ComText() const;
    // Enables or disables the two buttons that write a configuration (Download, Factory).
    void EnableWriteButtons(bool enabled);

    // --- Handlers (message map) ------------------------------------------------------
    // The dialog itself (app/zarn60_tool_dlg.cpp)
    void OnUsb();
    void OnSerialPort();
    void OnOpen();
    void OnClear();
    void OnExit();
    void OnReceivePoll();
    void OnSysCommandAbout(uint32_t command);
    // Option interlocks (app/interlocks.cpp)
    void OnEndOfPacket();
    void OnEndTrack(int track);  // 1, 2, 3
    void OnPacketRadio();
    void OnDisableSS();
    void OnDisableES();
    void OnTrimNoChange();
    void OnTrimSpaces();
    void OnSuffixCheck();
    void OnStxNo();
    void OnStxYes();
    void OnSuffixChange();
    // Operations with the reader (app/operations/: download, factory, upload, version, card)
    void OnDownloadSetting();
    void OnFactoryDefault();
    void OnUploadSetting();
    void OnGetVersion();
    void OnReadCard();
    // Settings files (app/operations/settings_ops.cpp)
    void OnSaveSettingToFile();
    void OnLoadSettingFromFile();

protected:
    bool OnInitDialog() override;
};

// The About box, template 100: its button (id 1) ends it through the OK processing.
class CAboutDlg : public ui::Dialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    // Shows the About box on `host`, a view made from AboutDialogTemplate() over the main
    // dialog's: constructs it, creates its controls there and lets `run` drive it modally
    // until it has ended (the view attaches to it and runs its own loop).
    static void DoModal(ui::Host& host, const std::function<void(CAboutDlg&)>& run);
};

class CZARN60TOOLApp {
public:
    CZARN60TOOLApp() = default;
    // Constructs the main dialog, runs it with the given host and returns FALSE (0) when
    // it ends. `run` drives the dialog until it has ended (a view's event loop, or the
    // headless runner).
    int InitInstance(ui::Host& host, const std::function<void(CZARN60TOOLDlg&)>& run);
};
