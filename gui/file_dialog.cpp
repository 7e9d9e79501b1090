#include "gui/file_dialog.h"

#include <QFile>
#include <QFileDialog>

#include "gui/template_widgets.h"

namespace gui {

namespace {

QString QtPatterns(const QString& pattern) {
    QStringList patterns;
    for (QString p : pattern.split(u';', Qt::SkipEmptyParts)) {
        p = p.trimmed();
        if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        if (!p.isEmpty()) patterns << p;
    }
    return patterns.join(u' ');
}

}  // namespace

QStringList NameFilters(const std::string& filter) {
    const QStringList parts = Utf8(filter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& name = parts[i];
        if (name.isEmpty()) break;  // "||" closes the list
        const QString patterns = QtPatterns(parts[i + 1]);
        // Qt takes the patterns from the last parentheses; a name that already shows
        // exactly these patterns is kept as it reads.
        if (name.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            filters << name;
        else
            filters << name + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

void ConfigureFileDialog(QFileDialog& dialog, const ui::FileDialogRequest& request) {
    // Qt's own dialog everywhere: the default suffix and the overwrite prompt then
    // behave the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(!request.save && (request.flags & OFN_FILEMUSTEXIST)
                           ? QFileDialog::ExistingFile
                           : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.flags & OFN_OVERWRITEPROMPT));
    if (!request.title.empty()) dialog.setWindowTitle(Utf8(request.title));
    const QStringList filters = NameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.front());
    }
    QString suffix = Utf8(request.defaultExt);
    if (suffix.startsWith(u'.')) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (!request.initialFile.empty()) dialog.selectFile(Utf8(request.initialFile));
}

std::optional<std::string> RunFileDialog(QWidget* parent, const ui::FileDialogRequest& request) {
    QFileDialog dialog(parent);
    ConfigureFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return QFile::encodeName(files.front()).toStdString();
}

}  // namespace gui
