#include "res/ResourceIcon.h"

#include "res/IconPainter.h"

#include <QPixmap>

#include <map>
#include <mutex>

QIcon LoadIconResource(unsigned id) {
    if (!IsIconResource(id)) {
        return {};
    }
    static std::mutex lock;
    static std::map<unsigned, QIcon> loaded;
    const std::lock_guard guard(lock);
    if (const auto found = loaded.find(id); found != loaded.end()) {
        return found->second;
    }
    QIcon icon;
    for (const int size : kIconResourceSizes) {
        icon.addPixmap(QPixmap::fromImage(RenderIconResource(id, size)));
    }
    loaded.emplace(id, icon);
    return icon;
}
