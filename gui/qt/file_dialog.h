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
// Runs of blanks in a name are kept (Qt would collapse them), and a name that shows its
// patterns shows them once.
QStringList NameFilters(const std::string& filter);
// A name filter as the user reads it.
QString FilterDisplayName(const QString& nameFilter);

// Kind, title, filters, default suffix, initial name and prompts of the request.
void ConfigureFileDialog(QFileDialog& dialog, const ui::FileDialogRequest& request);

// Runs the dialog modally: the chosen path in the file system's encoding, or nullopt.
std::optional<std::string> RunFileDialog(QWidget* parent, const ui::FileDialogRequest& request);

}  // namespace gui
