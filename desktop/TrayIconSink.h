#pragma once

#include "monitor/events/MonitorSinks.h"

class CSystemTray;

// The tray icon as the monitor thread sees it: every call is handed to the thread that owns
// the tray (the user-interface thread) and carried out there in the order of the calls. A call
// returns at once with true; the tray's own result stays on its thread. Calls still on their
// way when the tray is destroyed are dropped.
class CTrayIconSink : public ITrayIconSink {
public:
    explicit CTrayIconSink(CSystemTray& tray) : m_tray(&tray) {}

    bool StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds) override;
    bool StopIconAnimation() override;
    bool ChangeIcon(uint32_t resourceId) override;

private:
    CSystemTray* m_tray;
};
