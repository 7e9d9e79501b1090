// The common file dialogs on Qt: a request of the dialog framework becomes a QFileDialog.
#pragma once

#include <QStringList>
#include <optional>
#include <string>

#include "ui/host.h"

class QFileDialog;
class QWidget;

namespace gui {

using ui::OFN_FILEMUSTEXIST;
using ui::OFN_OVERWRITEPROMPT;

// "name|pattern|name|pattern||" as Qt's name filters, in order. A pattern list may be
// separated by ';'. "*.*" means every file, also one without a dot, as it did where the
// filter comes from.
// A name that shows its patterns shows them once, as Qt matches them.
QStringList NameFilters(const std::string& filter);
// The filters' names as the dialog shows them: as the request writes them, blanks and
// patterns ("All   Files   (*.*)"); a name without patterns as NameFilters completes it.
QStringList FilterNames(const std::string& filter);

// Kind, title, filters (shown by FilterNames), default suffix, initial name and prompts
// of the request; the folder of the file last chosen in a file dialog, if any.
void ConfigureFileDialog(QFileDialog& dialog, const ui::FileDialogRequest& request);

// Runs the dialog modally: the chosen path in the file system's encoding, or nullopt.
std::optional<std::string> RunFileDialog(QWidget* parent, const ui::FileDialogRequest& request);

}  // namespace gui
