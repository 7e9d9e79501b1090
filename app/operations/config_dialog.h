// Between the dialog's option controls and a reader configuration: gathering a record
// from the dialog (download), the stored factory configurations, and showing a read image
// in the dialog (upload and settings-file load).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "protocol/factory_images.h"
#include "protocol/reader_config.h"

class CZARN60TOOLDlg;

namespace operations {

// The first track (1, 2 or 3) whose end position lies below its start position.
struct TrackPositionError {
    int track = 0;
    bool operator==(const TrackPositionError&) const = default;
};

// Reads every option of the dialog into a record. Each bound member is read right after a
// data exchange from the controls and followed by one back to them, so a text longer than
// its limit shows the length message once and the members' earlier texts are put back.
std::variant<protocol::ReaderConfig, TrackPositionError> CollectReaderConfig(CZARN60TOOLDlg& dlg);

// The message box text of a track position error.
std::string TrackPositionErrorText(const TrackPositionError& error);

// A start position text: an optionally signed decimal integer, blanks around it allowed,
// and nothing else; anything that does not read as one (or does not fit an int) gives 0.
int StartPositionNumber(const std::string& text);

// Puts the option controls back to their factory values (the controls only: no handler of
// the interlocks runs, and the bound members catch up at the next data exchange).
void SetFactoryControls(CZARN60TOOLDlg& dlg);

// Shows a read image in the option controls. Never fails; every byte value is accepted.
void ShowReaderConfig(CZARN60TOOLDlg& dlg, const protocol::ConfigReadImage& image);

}  // namespace operations
