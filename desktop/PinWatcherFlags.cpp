#include "desktop/PinWatcherFlags.h"

std::atomic<uint32_t> g_StopPinWatcher{1};
std::atomic<uint32_t> g_PinWatcherRunning{0};
