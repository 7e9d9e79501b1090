#include "app/operations/outcome_texts.h"

namespace operations {

namespace {

// The texts more than one operation shows.
constexpr const char* DEVICE_NOT_FOUND_TEXT = "Open USB Device Failure!!!";
constexpr const char* REQUEST_FAILED_TEXT = "USB WRITE ERROR1";
constexpr const char* NO_RESPONSE_TEXT = "ZARN60 NO RESPONSE1";

}  // namespace

std::string ReadOutcomeText(DialogReadOutcome outcome) {
    if (!outcome) return NO_PORT_NUMBER_TEXT;
    switch (*outcome) {
        case protocol::READ_OK:
            return {};
        case protocol::READ_DEVICE_NOT_FOUND:
            return DEVICE_NOT_FOUND_TEXT;
        case protocol::READ_REQUEST_FAILED:
            return REQUEST_FAILED_TEXT;
        case protocol::READ_NO_RESPONSE:
            return NO_RESPONSE_TEXT;
        case protocol::READ_PORT_OPEN_FAILED:
            return PORT_OPEN_FAILED_TEXT;
        case protocol::READ_INCOMPLETE:
            return "Get Configuration Error";
    }
    return {};
}

std::string DownloadOutcomeText(const DialogWriteOutcome& outcome) {
    if (!outcome) return NO_PORT_NUMBER_TEXT;
    switch (outcome->result) {
        case protocol::WRITE_DEVICE_NOT_FOUND:
            return DEVICE_NOT_FOUND_TEXT;
        case protocol::WRITE_REPORT_FAILED:
            if (outcome->report == 1) return REQUEST_FAILED_TEXT;
            if (outcome->report == 2) return "USB WRITE ERROR2";
            return "USB WRITE ERROR 3";
        case protocol::WRITE_NO_REPLY:
            return "ZARN60 NO RESPONSE3";
        case protocol::WRITE_ACCEPTED:
        case protocol::WRITE_SENT:
            return "Setup ok";
        case protocol::WRITE_REJECTED:
            return "Setup Error";
        case protocol::WRITE_PORT_OPEN_FAILED:
            return PORT_OPEN_FAILED_TEXT;
        case protocol::WRITE_BYTE_FAILED:
            return "COM WRITE ERROR";
    }
    return {};
}

std::string FactoryOutcomeText(const DialogWriteOutcome& outcome) {
    if (outcome && outcome->result == protocol::WRITE_REPORT_FAILED) {
        if (outcome->report == 1) return "USB WRITE ERROR1 !!!";
        if (outcome->report == 2) return "USB WRITE ERROR2 !!!";
        if (outcome->report == 3) return "USB WRITE ERROR3 !!!";
        return "USB WRITE ERROR 3";
    }
    // The remaining texts are the download's; the verdict outcomes never occur here,
    // since the factory reset does not wait for one.
    return DownloadOutcomeText(outcome);
}

std::string SpecialOutcomeText(DialogSpecialOutcome outcome) {
    if (!outcome) return NO_PORT_NUMBER_TEXT;
    switch (*outcome) {
        case protocol::SPECIAL_DEVICE_NOT_FOUND:
            return DEVICE_NOT_FOUND_TEXT;
        case protocol::SPECIAL_REQUEST_FAILED:
            return REQUEST_FAILED_TEXT;
        case protocol::SPECIAL_NO_RESPONSE:
            return NO_RESPONSE_TEXT;
        case protocol::SPECIAL_PORT_OPEN_FAILED:
            return PORT_OPEN_FAILED_TEXT;
        case protocol::SPECIAL_OK:
        case protocol::SPECIAL_TOO_MANY:
            break;
    }
    return {};
}

}  // namespace operations
