#include "minidriver/md/MdNotify.h"

#include "platform/qt/MdMessage.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace velkmd {

namespace {

// Only a bus that is there: libdbus would otherwise try to launch one.
bool SessionBusKnown() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return false;
    }
    struct stat info {};
    const std::string socket = std::string(runtime) + "/bus";
    return stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace

void Notify(uint32_t wParam, int64_t lParam) {
    if (SessionBusKnown()) {
        PostMdMessage(wParam, lParam);
    }
}

BusyIndicator::BusyIndicator(int64_t balloonText) {
    Notify(mdmsg::kStartAnimation, 0);
    if (balloonText != 0) {
        Notify(mdmsg::kShowBalloon, balloonText);
    }
}

BusyIndicator::~BusyIndicator() {
    Notify(mdmsg::kStopAnimation, 0);
}

} // namespace velkmd
