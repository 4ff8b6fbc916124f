#pragma once

#include "platform/registry/WinTypes.h"

// The last error of the calling thread, as the Win32-shaped calls leave it
// (each thread has its own). Declared the same way by every layer that sets
// it; this file holds nothing else so that one definition serves them all.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
