#pragma once

#include "platform/registry/WinTypes.h"

// The operating system version, Win32-shaped. This system reports 10.0, so
// the version-6-and-later branches run; VELKORA_OS_VERSION="major.minor"
// (for example 5.1) makes it report another version, for the older branches.

typedef char CHAR;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize; // set to sizeof(OSVERSIONINFOA) before the call
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// FALSE (last error ERROR_INSUFFICIENT_BUFFER) when the size field is not set.
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
// Major version in the low byte, minor in the next, build in the high word.
DWORD GetVersion();
