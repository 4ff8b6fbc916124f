#include "platform/system/SysInfo.h"

#include "platform/system/LastError.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr DWORD kMajor = 10;
constexpr DWORD kMinor = 0;
constexpr DWORD kBuild = 19045;

// "5.1" or "6" to numbers; anything else leaves the defaults.
void VersionFromEnvironment(DWORD& major, DWORD& minor) {
    const char* text = std::getenv("VELKORA_OS_VERSION");
    if (text == nullptr) {
        return;
    }
    const std::string_view all(text);
    unsigned long newMajor = 0;
    unsigned long newMinor = 0;
    auto [end, error] = std::from_chars(all.data(), all.data() + all.size(), newMajor);
    if (error != std::errc() || end == all.data() || newMajor > 255) {
        return;
    }
    if (end != all.data() + all.size()) {
        if (*end != '.') {
            return;
        }
        const char* minorStart = end + 1;
        auto [minorEnd, minorError] =
            std::from_chars(minorStart, all.data() + all.size(), newMinor);
        if (minorError != std::errc() || minorEnd == minorStart ||
            minorEnd != all.data() + all.size() || newMinor > 255) {
            return;
        }
    }
    major = newMajor;
    minor = newMinor;
}

} // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (lpVersionInformation == nullptr ||
        lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD major = kMajor;
    DWORD minor = kMinor;
    VersionFromEnvironment(major, minor);
    lpVersionInformation->dwMajorVersion = major;
    lpVersionInformation->dwMinorVersion = minor;
    lpVersionInformation->dwBuildNumber = kBuild;
    lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    return TRUE;
}

DWORD GetVersion() {
    DWORD major = kMajor;
    DWORD minor = kMinor;
    VersionFromEnvironment(major, minor);
    return major | (minor << 8) | (kBuild << 16);
}
