// The tray icon while the monitor works: the animation, and the resting
// icon afterwards (128 with a registered certificate, else 314). While an
// Update is pending the icon is left alone, except that a list with
// certificates always shows 128.

#include "monitor/CertCollection.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"

namespace {

constexpr uint32_t kAnimationFrameMs = 80;
constexpr uint32_t kAnimationUntilStopped = 0xFFFFFFFFu; // the period -1
constexpr uint32_t kIconCertificates = 128;
constexpr uint32_t kIconNoCertificate = 314;

} // namespace

void CCardOSEvents::StartBusyAnimation() {
    if (g_RescanPending != 0) {
        return;
    }
    g_Tray.With([](ITrayIconSink& tray) {
        tray.StartAnimation(kAnimationFrameMs, kAnimationUntilStopped);
    });
}

void CCardOSEvents::StopBusyAnimation() {
    const bool quiet = g_RescanPending != 0;
    if (!quiet) {
        g_Tray.With([](ITrayIconSink& tray) {
            tray.StopIconAnimation();
            tray.ChangeIcon(kIconCertificates);
        });
    }
    if (g_CertCollection.HasEntries()) {
        g_Tray.With([](ITrayIconSink& tray) { tray.ChangeIcon(kIconCertificates); });
    } else if (!quiet) {
        // No list at all, or an empty one.
        g_Tray.With([](ITrayIconSink& tray) { tray.ChangeIcon(kIconNoCertificate); });
    }
}

void CCardOSEvents::ShowRestingIcon() {
    const uint32_t icon = g_CertCollection.HasEntries() ? kIconCertificates : kIconNoCertificate;
    g_Tray.With([icon](ITrayIconSink& tray) { tray.ChangeIcon(icon); });
}
