#pragma once

#include <cstdint>

// Opening a document with the desktop's handler for it, in the shape of the
// shell call the program was written against: only the verb "open" is
// known. The result is greater than 32 on success; 31 (no association)
// when the desktop could not open it, 2 (file not found) for a missing file
// and 0 for bad arguments. The window and show arguments are accepted and
// not used: the desktop decides.
inline constexpr int SW_SHOWNORMAL = 1;

intptr_t ShellExecuteA(void* window, const char* operation, const char* file,
                       const char* parameters, const char* directory, int showCommand);
