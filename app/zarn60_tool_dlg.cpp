// The main dialog: members and defaults, the message map, start-up, the connection mode,
// "Open", the receive poll, "Clear", "Exit" and the system menu.
#include "app/zarn60_tool_dlg.h"

#include <cctype>
#include <climits>

#include "app/operations/outcome_texts.h"
#include "link/serial_link.h"
#include "protocol/reader_serial.h"
#include "res/resources.h"

ConnectionMode g_connectionMode = CONNECTION_USB;
std::string g_strReceived;

int LeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

CZARN60TOOLDlg::CZARN60TOOLDlg()
    : ui::Dialog(res::MainDialogTemplate()),
      m_strTrack1SS(DEFAULT_START_SENTINELS[0]),
      m_strTrack2SS(DEFAULT_START_SENTINELS[1]),
      m_strTrack3SS(DEFAULT_START_SENTINELS[2]),
      m_strTrack1ES(DEFAULT_END_SENTINEL),
      m_strTrack2ES(DEFAULT_END_SENTINEL),
      m_strTrack3ES(DEFAULT_END_SENTINEL),
      m_strHiddenValue("1"),
      m_hIcon(res::IconPng()) {
    // Exchange order and limits of the member table.
    BindText(IDC_TRACK1_SS, &m_strTrack1SS, 1);
    BindText(IDC_TRACK2_SS, &m_strTrack2SS, 1);
    BindText(IDC_TRACK3_SS, &m_strTrack3SS, 1);
    BindText(IDC_TRACK1_ES, &m_strTrack1ES, 1);
    BindText(IDC_TRACK2_ES, &m_strTrack2ES, 1);
    BindText(IDC_TRACK3_ES, &m_strTrack3ES, 1);
    BindText(IDC_PREFIX, &m_strPrefix, 15);
    BindText(IDC_SUFFIX, &m_strSuffix, 15);
    BindText(IDC_TRIM_COUNT, &m_strTrimSpaces, 3);
    BindText(IDC_HIDDEN_VALUE, &m_strHiddenValue, 3);
    BindText(IDC_TRACK1_END, &m_strTrack1End, 2);
    BindText(IDC_TRACK2_END, &m_strTrack2End, 2);
    BindText(IDC_TRACK3_END, &m_strTrack3End, 3);

    using ui::BN_CLICKED;
    auto nothing = [] {};
    OnSysCommand([this](uint32_t command) { OnSysCommandAbout(command); });
    OnCommand(BN_CLICKED, IDC_DOWNLOAD, [this] { OnDownloadSetting(); });
    OnCommand(BN_CLICKED, IDC_EXIT, [this] { OnExit(); });
    OnCommand(BN_CLICKED, IDC_FACTORY, [this] { OnFactoryDefault(); });
    OnCommand(BN_CLICKED, IDC_END_PACKET, [this] { OnEndOfPacket(); });
    OnCommand(BN_CLICKED, IDC_END_TRACK1, [this] { OnEndTrack(1); });
    OnCommand(BN_CLICKED, IDC_END_TRACK2, [this] { OnEndTrack(2); });
    OnCommand(BN_CLICKED, IDC_END_TRACK3, [this] { OnEndTrack(3); });
    OnCommand(BN_CLICKED, IDC_DISABLE_SS, [this] { OnDisableSS(); });
    OnCommand(BN_CLICKED, IDC_DISABLE_ES, [this] { OnDisableES(); });
    OnCommand(BN_CLICKED, IDC_PREFIX_CHECK, nothing);
    OnCommand(BN_CLICKED, IDC_SUFFIX_CHECK, [this] { OnSuffixCheck(); });
    OnCommand(BN_CLICKED, IDC_TRIM_NO_CHANGE, [this] { OnTrimNoChange(); });
    OnCommand(BN_CLICKED, IDC_TRIM_SPACES, [this] { OnTrimSpaces(); });
    OnCommand(BN_CLICKED, IDC_BEEP_ON, nothing);
    OnCommand(ui::BN_DOUBLECLICKED, IDC_BEEP_OFF, nothing);
    OnCommand(BN_CLICKED, IDC_UPLOAD, [this] { OnUploadSetting(); });
    OnCommand(BN_CLICKED, IDC_LOAD_FILE, [this] { OnLoadSettingFromFile(); });
    OnCommand(BN_CLICKED, IDC_CLEAR, [this] { OnClear(); });
    OnCommand(BN_CLICKED, IDC_SAVE_FILE, [this] { OnSaveSettingToFile(); });
    OnCommand(BN_CLICKED, IDC_PACKET_CRLF, [this] { OnPacketRadio(); });
    OnCommand(BN_CLICKED, IDC_PACKET_CR, [this] { OnPacketRadio(); });
    OnCommand(ui::EN_SETFOCUS, IDC_TEST_BOX, nothing);
    OnCommand(ui::EN_KILLFOCUS, IDC_TEST_BOX, nothing);
    OnTimer([this] { OnReceivePoll(); });
    OnCommand(BN_CLICKED, IDC_OPEN, [this] { OnOpen(); });
    OnCommand(BN_CLICKED, IDC_STX_NO, [this] { OnStxNo(); });
    OnCommand(BN_CLICKED, IDC_STX_YES, [this] { OnStxYes(); });
    OnCommand(ui::EN_CHANGE, IDC_SUFFIX, [this] { OnSuffixChange(); });
    OnCommand(BN_CLICKED, IDC_USB, [this] { OnUsb(); });
    OnCommand(BN_CLICKED, IDC_SERIAL_PORT, [this] { OnSerialPort(); });
    OnCommand(BN_CLICKED, IDC_GET_VERSION, [this] { OnGetVersion(); });
    OnCommand(BN_CLICKED, IDC_READ_CARD, [this] { OnReadCard(); });
    OnCommand(BN_CLICKED, IDC_BUTTON12, nothing);
}

CZARN60TOOLDlg::~CZARN60TOOLDlg() = default;

bool CZARN60TOOLDlg::OnInitDialog() {
    // The base puts the member defaults into the edits and sets their limits.
    ui::Dialog::OnInitDialog();
    EnableControl(IDC_COM, false);
    ShowControl(IDC_USB_HID_MODE, false);
    ShowControl(IDC_HIDDEN_VALUE, false);
    ShowControl(IDC_STATUS_LABEL, false);
    SetCheck(IDC_STX_NO, true);
    for (const char* item : {"1", "2", "3", "4", "5", "6", "7", "8", "9"})
        ComboAddString(IDC_COM, item);
    ComboSetCurSel(IDC_COM, 0);
    // Controls are looked up by id whenever they are used: no references to keep.
    std::string about(res::LoadString(res::IDS_ABOUTBOX));
    if (!about.empty()) {
        AppendSystemMenu(0, "");
        AppendSystemMenu(IDM_ABOUTBOX, about);
    }
    SetIcon(m_hIcon);
    SetCheck(IDC_OUTPUT_TRACK1, true);
    SetCheck(IDC_OUTPUT_TRACK2, true);
    SetCheck(IDC_OUTPUT_TRACK3, true);
    SetCheck(IDC_BEEP_ON, true);
    SetCheck(IDC_TRIM_NO_CHANGE, true);
    EnableControl(IDC_TRIM_COUNT, false);
    SetCheck(IDC_END_TRACK1, true);
    SetCheck(IDC_END_TRACK2, true);
    SetCheck(IDC_END_TRACK3, true);
    SetCheck(IDC_TRACK1_CRLF, true);
    SetCheck(IDC_TRACK2_CRLF, true);
    SetCheck(IDC_TRACK3_CRLF, true);
    SliderSetRange(IDC_USB_SPEED, 0, USB_SPEED_MAX, false);
    SliderSetTicFreq(IDC_USB_SPEED, 1);
    SliderSetPos(IDC_USB_SPEED, USB_SPEED_USB);
    // Only the check: the mode stays as it started and no status text is shown.
    SetCheck(IDC_USB, true);
    EnableControl(IDC_OPEN, false);
    // The start edits have no member, so no data exchange sets their limits.
    LimitText(IDC_TRACK1_START, 2);
    LimitText(IDC_TRACK2_START, 2);
    LimitText(IDC_TRACK3_START, 3);
    return true;
}

void CZARN60TOOLDlg::ShowStatus(const std::string& text) {
    SetText(IDC_TEST_BOX, text);
}

std::string CZARN60TOOLDlg::ComText() const {
    return GetText(IDC_COM);
}

void CZARN60TOOLDlg::EnableWriteButtons(bool enabled) {
    EnableControl(IDC_DOWNLOAD, enabled);
    EnableControl(IDC_FACTORY, enabled);
}

void CZARN60TOOLDlg::OnUsb() {
    SliderSetPos(IDC_USB_SPEED, USB_SPEED_USB);
    g_connectionMode = CONNECTION_USB;
    EnableControl(IDC_USB_SPEED, true);
    SetCheck(IDC_USB, true);
    EnableControl(IDC_COM, false);
    EnableControl(IDC_OPEN, false);
    ShowStatus("You select the USB communication mode!");
}

void CZARN60TOOLDlg::OnSerialPort() {
    SliderSetPos(IDC_USB_SPEED, USB_SPEED_SERIAL);
    g_connectionMode = CONNECTION_SERIAL;
    EnableControl(IDC_USB_SPEED, false);
    SetCheck(IDC_SERIAL_PORT, true);
    EnableControl(IDC_COM, true);
    EnableControl(IDC_OPEN, true);
    ShowStatus("You select the  serial port communication mode!");
}

void CZARN60TOOLDlg::OnOpen() {
    std::string text = ComText();
    if (text.empty()) {
        ShowStatus(operations::NO_PORT_NUMBER_TEXT);
        return;
    }
    if (protocol::OpenReaderPort(LeadingNumber(text)) != 0) {
        ShowStatus(operations::PORT_OPEN_FAILED_TEXT);
        return;
    }
    ShowStatus("Port is opened now");
    SetTimer(OPEN_POLL_PERIOD_MS);
}

void CZARN60TOOLDlg::OnReceivePoll() {
    // The port named by the combo box now, whatever the connection mode.
    uint8_t byte = 0;
    if (SerialLink::ReadByte(LeadingNumber(ComText()), &byte, 1) != 0) return;
    g_strReceived.push_back(static_cast<char>(byte));
    // While the test box still shows exactly what was received before, adding the byte
    // shows the same as replacing the whole text, and costs one byte instead of all.
    const ui::Control& box = GetControl(IDC_TEST_BOX);
    if (box.textRevision == m_receivedShownRevision && box.text.size() + 1 == g_strReceived.size())
        AppendText(IDC_TEST_BOX, std::string(1, static_cast<char>(byte)));
    else
        ShowStatus(g_strReceived);
    m_receivedShownRevision = GetControl(IDC_TEST_BOX).textRevision;
}

void CZARN60TOOLDlg::OnClear() {
    ShowStatus("");
    g_strReceived.clear();
}

void CZARN60TOOLDlg::OnExit() {
    OnOK();
}

void CZARN60TOOLDlg::OnSysCommandAbout(uint32_t command) {
    if ((command & ui::SC_MASK) == IDM_ABOUTBOX) {
        GetHost().ShowAbout();
    } else {
        DefaultSysCommand(command);
    }
}

CAboutDlg::CAboutDlg() : ui::Dialog(res::AboutDialogTemplate()) {
    SetIcon(res::IconPng());
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoModal(ui::Host& host, const std::function<void(CAboutDlg&)>& run) {
    CAboutDlg about;
    about.SetHost(&host);
    about.Create();
    if (run) run(about);
}

int CZARN60TOOLApp::InitInstance(ui::Host& host, const std::function<void(CZARN60TOOLDlg&)>& run) {
    CZARN60TOOLDlg dlg;
    dlg.SetHost(&host);
    dlg.Create();
    if (run) run(dlg);
    return 0;  // FALSE: the program ends with the dialog
}
