#pragma once

// The monitor's process-wide state. The flags are atomic words that one
// thread writes and another polls. The snapshot and the reader count belong
// to the monitor lock: a whole poll runs under it, and so does the Update
// command's reset from the user-interface thread, so the two never overlap.

#include "monitor/events/MonitorSinks.h"
#include "monitor/events/ReaderSnapshot.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

// The lock of g_ReaderStates and g_ReaderCount (and of a whole poll).
std::mutex& MonitorMutex();

// The previous snapshot; absent until a scan has stored one. Under MonitorMutex.
extern std::optional<CSnapshot> g_ReaderStates;
// Readers in g_ReaderStates; also the count the next snapshot is built with.
// Written under MonitorMutex; atomic so that it may be read without it.
extern std::atomic<uint32_t> g_ReaderCount;

// What the last poll saw of the readers (their event states, counters
// included), which the pause before the next poll waits to change; absent
// until a poll has seen them. Under MonitorMutex.
extern std::optional<CSnapshot> g_SeenStates;
// The last poll left nothing to try again (no busy card passed over, no
// error): the next one may wait for an event. Under MonitorMutex.
extern bool g_PollSettled;
// The readers went away (the last one unplugged, or pcscd gone) and their
// registrations with them: when readers are back, their cards count as
// inserted. Under MonitorMutex.
extern bool g_ReadersGone;

// Set by Update when a poll held the lock: the next poll does the reset.
extern std::atomic<uint32_t> g_RescanRequested;
// Set to end the monitor thread.
extern std::atomic<uint32_t> g_StopMonitor;
// 1 from the thread's start until it has left its loop.
extern std::atomic<uint32_t> g_MonitorRunning;
// Set by Update: no tray animation or balloons until a poll completes.
extern std::atomic<uint32_t> g_RescanPending;
// The store synchronisation's result in the previous and the current poll.
extern std::atomic<uint32_t> g_LastSyncValue;
extern std::atomic<uint32_t> g_SyncValue;

// The tray icon of the main window and the open certificates dialog.
extern CSinkSlot<ITrayIconSink> g_Tray;
extern CSinkSlot<ICertListView> g_CertDialog;
