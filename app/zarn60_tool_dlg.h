// The main dialog of the tool. Its handlers are members of this class: the dialog's own in
// app/zarn60_tool_dlg.cpp, the option interlocks in app/interlocks.cpp, and each operation
// in its own file under app/operations/ (which calls the reader exchanges of protocol/
// and the .cfg file code of settings_file/).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/dialog.h"

enum ConnectionMode { CONNECTION_USB = 0, CONNECTION_SERIAL = 1 };

extern ConnectionMode g_connectionMode;
extern std::string g_strReceived;

// Control ids of dialog template 102.
enum : int {
    IDC_TRACK1_SS = 1000, IDC_TRACK2_SS = 1001, IDC_TRACK3_SS = 1002,
    IDC_TRACK1_ES = 1003, IDC_TRACK2_ES = 1004, IDC_TRACK3_ES = 1005,
    IDC_OUTPUT_TRACK1 = 1006, IDC_OUTPUT_TRACK2 = 1007, IDC_OUTPUT_TRACK3 = 1008,
    IDC_END_TRACK1 = 1009, IDC_END_TRACK2 = 1010, IDC_END_TRACK3 = 1011,
    IDC_END_PACKET = 1012,
    IDC_DOWNLOAD = 1013, IDC_FACTORY = 1014, IDC_EXIT = 1015,
    IDC_STATUS_LABEL = 1016, IDC_USB_SPEED = 1017,
    IDC_DISABLE_SS = 1018, IDC_DISABLE_ES = 1019, IDC_USB_HID_MODE = 1020,
    IDC_PREFIX_CHECK = 1021, IDC_SUFFIX_CHECK = 1022, IDC_PREFIX = 1023, IDC_SUFFIX = 1024,
    IDC_DISABLE_AUTO_OUTPUT = 1025,
    IDC_TRIM_NO_CHANGE = 1033, IDC_TRIM_SPACES = 1034, IDC_TRIM_COUNT = 1035,
    IDC_BEEP_ON = 1036, IDC_BEEP_OFF = 1037, IDC_HIDDEN_VALUE = 1038,
    IDC_UPLOAD = 1040, IDC_LOAD_FILE = 1041,
    IDC_TRACK1_CRLF = 1042, IDC_TRACK1_CR = 1043,
    IDC_TRACK2_CRLF = 1044, IDC_TRACK2_CR = 1045,
    IDC_TRACK3_CRLF = 1046, IDC_TRACK3_CR = 1047,
    IDC_PACKET_CRLF = 1048, IDC_PACKET_CR = 1049,
    IDC_COM = 1050, IDC_SAVE_FILE = 1051, IDC_TEST_BOX = 1052, IDC_CLEAR = 1053,
    IDC_OPEN = 1055, IDC_STX_NO = 1056, IDC_STX_YES = 1057,
    IDC_READ_CARD = 1059, IDC_GET_VERSION = 1060,
    IDC_SERIAL_PORT = 1061, IDC_USB = 1062,
    IDC_TRACK1_END = 1063, IDC_TRACK2_END = 1064, IDC_TRACK3_END = 1065,
    IDC_BUTTON12 = 1067,
    IDC_TRACK1_START = 1069, IDC_TRACK2_START = 1071, IDC_TRACK3_START = 1072,
};

constexpr uint32_t IDM_ABOUTBOX = 0x0010;
constexpr uint32_t OPEN_POLL_PERIOD_MS = 50;
constexpr uint32_t POLL_PERIOD_MS = 10;

// The USB speed trackbar: 0 to USB_SPEED_MAX; "usb" (and start-up) puts it at
// USB_SPEED_USB, " serial port" at USB_SPEED_SERIAL.
constexpr int USB_SPEED_MAX = 7;
constexpr int USB_SPEED_USB = 6;
constexpr int USB_SPEED_SERIAL = 7;

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
};

class CZARN60TOOLApp {
public:
    CZARN60TOOLApp() = default;
    // Constructs the main dialog, runs it with the given host and returns FALSE (0) when
    // it ends. `run` drives the dialog until it has ended (a view's event loop, or the
    // headless runner).
    int InitInstance(ui::Host& host, const std::function<void(CZARN60TOOLDlg&)>& run);
};
