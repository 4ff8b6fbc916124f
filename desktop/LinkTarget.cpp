#include "desktop/LinkTarget.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

bool OpenLinkTarget(const QString& target) {
    if (target.trimmed().isEmpty()) {
        return false;
    }
    const QUrl url(target, QUrl::StrictMode);
    // A scheme of one letter is a drive, not a protocol; a scheme needs something after it.
    if (url.isValid() && url.scheme().size() > 1 && !url.isRelative() &&
        target.size() > url.scheme().size() + 1) {
        return QDesktopServices::openUrl(url);
    }
    const QFileInfo file(target);
    if (file.exists()) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
    }
    return false;
}
