#include "tests/events/MonitorProbe.h"

#include "monitor/ContainerName.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "platform/registry/RegKey.h"
#include "platform/system/ServiceControl.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/registry/TempHives.h"
#include "vcard/VirtualCard.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace evtest {

bool CRecordingTray::StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds) {
    Record("animate " + std::to_string(msPerFrame) + " " + std::to_string(periodSeconds));
    return true;
}

bool CRecordingTray::StopIconAnimation() {
    Record("stop");
    return true;
}

bool CRecordingTray::ChangeIcon(uint32_t resourceId) {
    std::lock_guard lock(m_mutex);
    m_icon = resourceId;
    m_calls.push_back("icon " + std::to_string(resourceId));
    return true;
}

void CRecordingTray::Record(std::string call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

std::vector<std::string> CRecordingTray::Take() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_calls, {});
}

uint32_t CRecordingTray::Icon() const {
    std::lock_guard lock(m_mutex);
    return m_icon;
}

CMonitorSeams::CMonitorSeams() {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("XDG_RUNTIME_DIR");
    ResetMonitorState();
    g_Tray.Set(&tray);
    g_CertDialog.Set(&list);
    SetMonitorClock(&clock);
}

CMonitorSeams::~CMonitorSeams() {
    StopThread();
    SetMonitorClock(nullptr);
    ResetMonitorState();
}

void CMonitorSeams::StopThread() {
    g_StopMonitor = 1;
    clock.Free();
    CCardOSEvents::StopMonitor();
}

void ResetMonitorState() {
    std::lock_guard lock(MonitorMutex());
    g_ReaderStates.reset();
    g_ReaderCount = 0;
    g_SeenStates.reset();
    g_PollSettled = false;
    g_ReadersGone = false;
    g_RescanRequested = 0;
    g_StopMonitor = 0;
    g_RescanPending = 0;
    g_LastSyncValue = 0;
    g_SyncValue = 0;
    g_Tray.Set(nullptr);
    g_CertDialog.Set(nullptr);
}

std::vector<std::string> Registrations() {
    std::vector<std::string> paths;
    for (const auto& cert : montest::MonitorEnv::Store("MY")) {
        if (cert.container && monitor::HasContainerMarker(*cert.container)) {
            paths.push_back(*cert.container);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::size_t RegisteredIn(const std::string& reader) {
    const auto paths = Registrations();
    const std::string prefix = "\\\\.\\" + reader + "\\";
    return static_cast<std::size_t>(std::count_if(
        paths.begin(), paths.end(), [&](const std::string& p) { return p.starts_with(prefix); }));
}

std::string CardImageCopy(const std::string& profile, const std::string& tag,
                          const std::string& dir) {
    namespace fs = std::filesystem;
    const fs::path cache = fs::path(VELK_EVTEST_CARD_CACHE) / (profile + "-" + tag + ".img");
    std::error_code ec;
    if (!fs::exists(cache, ec)) {
        fs::create_directories(cache.parent_path(), ec);
        // Made under a name of its own and renamed into place in one step,
        // so that tests running in parallel never see half an image.
        std::string made = cache.string() + ".XXXXXX";
        const int fd = mkstemp(made.data());
        if (fd < 0) {
            return {};
        }
        close(fd);
        if (!vcard::OpenCard(profile, made)) {
            fs::remove(made, ec);
            return {};
        }
        fs::rename(made, cache, ec);
    }
    const fs::path copy = fs::path(dir) / (profile + "-" + tag + ".img");
    fs::copy_file(cache, copy, fs::copy_options::overwrite_existing, ec);
    return ec ? std::string() : copy.string();
}

bool InAnotherProcess(const std::function<bool()>& work) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(work() ? 0 : 1);
    }
    int status = -1;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void SetPropagationService(bool running) {
    SetDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\CertPropSvc", "CurrentState",
             running ? SERVICE_RUNNING : SERVICE_STOPPED);
}

} // namespace evtest
