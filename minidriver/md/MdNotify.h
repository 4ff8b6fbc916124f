#pragma once

#include <cstdint>

namespace velkmd {

// Catalogue ids of the balloon texts that the certificate manager shows for
// the minidriver.
inline constexpr int64_t kTextPreparingKey = 8000;
inline constexpr int64_t kTextWritingCertificate = 8001;
inline constexpr int64_t kTextReadingCard = 8002;
inline constexpr int64_t kTextSigning = 8003;
inline constexpr int64_t kTextDecrypting = 8004;

// Broadcasts "UWM_MD_MESSAGE" on the session bus. Without a session bus
// nothing is sent and nothing fails: the card work goes on without a tray.
void Notify(uint32_t wParam, int64_t lParam);

// The busy animation of the tray icon for the life of the object, with an
// optional balloon text (0: none) at the start.
class BusyIndicator {
public:
    explicit BusyIndicator(int64_t balloonText = 0);
    ~BusyIndicator();
    BusyIndicator(const BusyIndicator&) = delete;
    BusyIndicator& operator=(const BusyIndicator&) = delete;
};

} // namespace velkmd
