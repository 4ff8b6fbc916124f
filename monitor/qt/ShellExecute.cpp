#include "monitor/qt/ShellExecute.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstring>

namespace {

constexpr intptr_t kFileNotFound = 2;
constexpr intptr_t kNoAssociation = 31;
constexpr intptr_t kOpened = 42;

} // namespace

intptr_t ShellExecuteA(void* /*window*/, const char* operation, const char* file,
                       const char* /*parameters*/, const char* directory, int /*showCommand*/) {
    if (file == nullptr || *file == '\0' ||
        (operation != nullptr && std::strcmp(operation, "open") != 0)) {
        return 0;
    }
    // A relative name is taken from the working directory given.
    const QString base = directory != nullptr && *directory != '\0' ? QString::fromUtf8(directory)
                                                                    : QDir::currentPath();
    const QFileInfo info(QDir(base), QString::fromUtf8(file));
    if (!info.exists()) {
        return kFileNotFound;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? kOpened
                                                                                   : kNoAssociation;
}
