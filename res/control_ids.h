// The control ids of the main dialog (template 102), each name with its number once: the
// templates, the dialog's code, the runner's control names and the tests all take them
// from here. The list is in id order; ZARN60_CONTROL_IDS(X) calls X(name, id) for each
// control, for code that needs the names as text.
#pragma once

#define ZARN60_CONTROL_IDS(X)        \
    X(IDC_TRACK1_SS, 1000)           \
    X(IDC_TRACK2_SS, 1001)           \
    X(IDC_TRACK3_SS, 1002)           \
    X(IDC_TRACK1_ES, 1003)           \
    X(IDC_TRACK2_ES, 1004)           \
    X(IDC_TRACK3_ES, 1005)           \
    X(IDC_OUTPUT_TRACK1, 1006)       \
    X(IDC_OUTPUT_TRACK2, 1007)       \
    X(IDC_OUTPUT_TRACK3, 1008)       \
    X(IDC_END_TRACK1, 1009)          \
    X(IDC_END_TRACK2, 1010)          \
    X(IDC_END_TRACK3, 1011)          \
    X(IDC_END_PACKET, 1012)          \
    X(IDC_DOWNLOAD, 1013)            \
    X(IDC_FACTORY, 1014)             \
    X(IDC_EXIT, 1015)                \
    X(IDC_STATUS_LABEL, 1016)        \
    X(IDC_USB_SPEED, 1017)           \
    X(IDC_DISABLE_SS, 1018)          \
    X(IDC_DISABLE_ES, 1019)          \
    X(IDC_USB_HID_MODE, 1020)        \
    X(IDC_PREFIX_CHECK, 1021)        \
    X(IDC_SUFFIX_CHECK, 1022)        \
    X(IDC_PREFIX, 1023)              \
    X(IDC_SUFFIX, 1024)              \
    X(IDC_DISABLE_AUTO_OUTPUT, 1025) \
    X(IDC_TRIM_NO_CHANGE, 1033)      \
    X(IDC_TRIM_SPACES, 1034)         \
    X(IDC_TRIM_COUNT, 1035)          \
    X(IDC_BEEP_ON, 1036)             \
    X(IDC_BEEP_OFF, 1037)            \
    X(IDC_HIDDEN_VALUE, 1038)        \
    X(IDC_UPLOAD, 1040)              \
    X(IDC_LOAD_FILE, 1041)           \
    X(IDC_TRACK1_CRLF, 1042)         \
    X(IDC_TRACK1_CR, 1043)           \
    X(IDC_TRACK2_CRLF, 1044)         \
    X(IDC_TRACK2_CR, 1045)           \
    X(IDC_TRACK3_CRLF, 1046)         \
    X(IDC_TRACK3_CR, 1047)           \
    X(IDC_PACKET_CRLF, 1048)         \
    X(IDC_PACKET_CR, 1049)           \
    X(IDC_COM, 1050)                 \
    X(IDC_SAVE_FILE, 1051)           \
    X(IDC_TEST_BOX, 1052)            \
    X(IDC_CLEAR, 1053)               \
    X(IDC_OPEN, 1055)                \
    X(IDC_STX_NO, 1056)              \
    X(IDC_STX_YES, 1057)             \
    X(IDC_READ_CARD, 1059)           \
    X(IDC_GET_VERSION, 1060)         \
    X(IDC_SERIAL_PORT, 1061)         \
    X(IDC_USB, 1062)                 \
    X(IDC_TRACK1_END, 1063)          \
    X(IDC_TRACK2_END, 1064)          \
    X(IDC_TRACK3_END, 1065)          \
    X(IDC_BUTTON12, 1067)            \
    X(IDC_TRACK1_START, 1069)        \
    X(IDC_TRACK2_START, 1071)        \
    X(IDC_TRACK3_START, 1072)

namespace res {

enum ControlId : int {
#define ZARN60_CONTROL_ID_ENUM(name, id) name = id,
    ZARN60_CONTROL_IDS(ZARN60_CONTROL_ID_ENUM)
#undef ZARN60_CONTROL_ID_ENUM
};

}  // namespace res
