#pragma once

#include <atomic>
#include <cstdint>

// The flags of the worker that answers the system's own smart-card PIN dialog on the old
// systems that have one: set g_StopPinWatcher to end it; g_PinWatcherRunning is 1 while it
// loops. The main window's Exit waits for it as for the monitor.
extern std::atomic<uint32_t> g_StopPinWatcher;
extern std::atomic<uint32_t> g_PinWatcherRunning;
