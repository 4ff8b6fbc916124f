#include "minidriver/md/MdNotify.h"

#include "minidriver/md/MdBus.h"
#include "platform/qt/MdMessage.h"

namespace velkmd {

void Notify(uint32_t wParam, int64_t lParam) {
    CMdBus::Instance().Broadcast(wParam, lParam);
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
