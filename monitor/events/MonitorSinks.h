#pragma once

// What the monitor thread may call on the user interface: the tray icon and
// an open certificates dialog. The Qt side implements both by handing each
// call to the user-interface thread (queued), so a call never blocks and
// never touches a widget on the caller's thread. An implementation must not
// wait for the user-interface thread: the monitor calls it while it holds
// the lock that the Update command also takes.

#include <cstdint>
#include <mutex>

class ITrayIconSink {
public:
    virtual ~ITrayIconSink() = default;
    // Cycles the animation icons, `msPerFrame` each, for `periodSeconds`
    // (0xFFFFFFFF: until stopped).
    virtual bool StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds) = 0;
    // Stops the animation and shows the icon from before it again.
    virtual bool StopIconAnimation() = 0;
    // Shows an icon resource: 128 certificates present, 314 none.
    virtual bool ChangeIcon(uint32_t resourceId) = 0;
};

class ICertListView {
public:
    virtual ~ICertListView() = default;
    // Refills the list of registered certificates (and repaints it).
    virtual void FillList() = 0;
};

// A process-wide pointer to a sink that the user-interface thread sets and
// clears while the monitor thread calls through it. Clearing waits for a
// call in progress, so once Set(nullptr) has returned the object may be
// destroyed.
template <typename Sink> class CSinkSlot {
public:
    CSinkSlot() = default;
    CSinkSlot(const CSinkSlot&) = delete;
    CSinkSlot& operator=(const CSinkSlot&) = delete;

    void Set(Sink* sink) {
        std::lock_guard lock(m_mutex);
        m_sink = sink;
    }
    bool IsSet() const {
        std::lock_guard lock(m_mutex);
        return m_sink != nullptr;
    }
    // Calls `call(sink)` when a sink is set; false when none is.
    template <typename Call> bool With(Call call) const {
        std::lock_guard lock(m_mutex);
        if (m_sink == nullptr) {
            return false;
        }
        call(*m_sink);
        return true;
    }

private:
    mutable std::mutex m_mutex;
    Sink* m_sink = nullptr;
};
