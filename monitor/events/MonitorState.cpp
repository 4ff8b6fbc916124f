#include "monitor/events/MonitorState.h"

std::mutex& MonitorMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<CSnapshot> g_ReaderStates;
std::atomic<uint32_t> g_ReaderCount{0};
std::optional<CSnapshot> g_SeenStates;
bool g_PollSettled = false;
bool g_ReadersGone = false;
std::atomic<uint32_t> g_RescanRequested{0};
std::atomic<uint32_t> g_StopMonitor{0};
std::atomic<uint32_t> g_MonitorRunning{0};
std::atomic<uint32_t> g_RescanPending{0};
std::atomic<uint32_t> g_LastSyncValue{0};
std::atomic<uint32_t> g_SyncValue{0};
CSinkSlot<ITrayIconSink> g_Tray;
CSinkSlot<ICertListView> g_CertDialog;
