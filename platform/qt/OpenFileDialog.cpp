#include "platform/qt/OpenFileDialog.h"

#include "platform/qt/UiLog.h"

#include <QFileDialog>
#include <QStringList>

#include <cstdlib>

namespace {

// "Name (*.a)|*.a|Other (*.b)|*.b||" -> the names, which carry their patterns for Qt.
QStringList QtFilters(const QString& filter) {
    QStringList names;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (!parts[i].isEmpty()) {
            names << parts[i];
        }
    }
    return names;
}

} // namespace

FileChoice ChooseFileToOpen(const QString& filter, const QString& defaultExtension) {
    if (const char* scripted = std::getenv("VELKORA_OPENFILE_ANSWER")) {
        const QString answer = QString::fromUtf8(scripted);
        uilog::Append("openfile", {filter.toStdString(), answer.toStdString()});
        if (answer == QLatin1String("cancel")) {
            return {};
        }
        return {true, answer};
    }
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtFilters(filter));
    dialog.setDefaultSuffix(defaultExtension);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    return {true, files.isEmpty() ? QString() : files.front()};
}
