#include "gui/qt/file_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "gui/qt/template_widgets.h"

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

// The folder of the file last chosen in a file dialog: the next one opens there, as the
// platform's dialogs remember it for a program.
QString& LastFolder() {
    static QString folder;
    return folder;
}

}  // namespace

QStringList FilterNames(const std::string& filter) {
    const QStringList parts = Utf8(filter).split(u'|');
    const QStringList filters = NameFilters(filter);
    QStringList names;
    for (qsizetype i = 0; i + 1 < parts.size() && names.size() < filters.size(); i += 2) {
        // A name that shows no patterns is shown as Qt completes it.
        const QString& name = parts[i];
        names << (name.trimmed().endsWith(u')') ? name : filters[names.size()]);
    }
    return names;
}

QStringList NameFilters(const std::string& filter) {
    const QStringList parts = Utf8(filter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        if (name.isEmpty()) break;  // "||" closes the list
        const QString patterns = QtPatterns(parts[i + 1]);
        // Qt takes the patterns from the last parentheses. A name that already shows its
        // patterns there shows them once, as Qt matches them ("*.*" is every file, "*").
        const QString shown = QLatin1Char('(') + parts[i + 1].trimmed() + QLatin1Char(')');
        if (name.endsWith(shown))
            name = name.left(name.size() - shown.size()) + QLatin1Char('(') + patterns +
                   QLatin1Char(')');
        else if (!name.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            name += QStringLiteral(" (") + patterns + QLatin1Char(')');
        filters << name;
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
        dialog.selectNameFilter(dialog.nameFilters().front());
        // The list shows the names as the request writes them: Qt would show the patterns
        // it matches ("*" for "*.*") and collapse runs of blanks.
        if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            const QStringList names = FilterNames(request.filter);
            for (int i = 0; i < types->count() && i < names.size(); ++i)
                types->setItemText(i, names[i]);
        }
    }
    if (!LastFolder().isEmpty() && QDir(LastFolder()).exists()) dialog.setDirectory(LastFolder());
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
    LastFolder() = QFileInfo(files.front()).absolutePath();
    return QFile::encodeName(files.front()).toStdString();
}

}  // namespace gui
