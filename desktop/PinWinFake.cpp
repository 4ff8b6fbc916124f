#include "desktop/PinWinFake.h"

#include "platform/system/SysInfo.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSearchPeriod{100};
// The lowest priority a thread can have without rights.
constexpr int kLowestNice = 19;

// German, English and Swedish title of the system's PIN dialog, tried in this order.
constexpr const char* kPinDialogTitles[] = {"Smartcard-PIN", "Smart Card PIN",
                                            "Smartkortets PIN-kod", ""};

// The PIN field answered last; only the watcher thread uses it.
std::string g_lastPinField;

bool IsVersion5() {
    static const bool version5 = [] {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;
        return GetVersionExA(&info) && info.dwMajorVersion == 5 && info.dwMinorVersion <= 2;
    }();
    return version5;
}

class CPinWatcherHolder {
public:
    ~CPinWatcherHolder() { Stop(); }

    bool Start(PinDesktopFactory openDesktop) {
        const std::lock_guard lock(m_mutex);
        if (m_thread.joinable()) {
            return false;
        }
        g_PinWatcherRunning = 1;
        m_thread = std::thread([openDesktop = std::move(openDesktop)] {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLowestNice);
            std::unique_ptr<CPinDesktop> desktop = openDesktop ? openDesktop() : nullptr;
            if (desktop) {
                PinWatcherThread(*desktop);
            }
            g_PinWatcherRunning = 0;
        });
        return true;
    }

    void Stop() {
        g_StopPinWatcher = 1;
        while (g_PinWatcherRunning != 0) {
            std::this_thread::sleep_for(kSearchPeriod);
        }
        const std::lock_guard lock(m_mutex);
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::mutex m_mutex;
    std::thread m_thread;
};

CPinWatcherHolder& Holder() {
    static CPinWatcherHolder holder;
    return holder;
}

} // namespace

bool StartPinWatcher(bool settingOn, PinDesktopFactory openDesktop) {
    const DWORD major = GetVersion() & 0xFF;
    if (!settingOn || major >= 6) {
        g_StopPinWatcher = 1;
        return false;
    }
    g_StopPinWatcher = 0;
    return Holder().Start(std::move(openDesktop));
}

void StopPinWatcher() {
    Holder().Stop();
}

void ResetLastPinField() {
    g_lastPinField.clear();
}

unsigned PinWatcherThread(CPinDesktop& desktop) {
    g_PinWatcherRunning = 1;
    while (g_StopPinWatcher == 0) {
        std::this_thread::sleep_for(kSearchPeriod);
        desktop.DispatchPending();
        const CPinDesktop::Item dialog = FindPinDialog(desktop);
        if (!dialog.id.empty()) {
            AnswerPinDialog(desktop, dialog);
        }
    }
    g_PinWatcherRunning = 0;
    return 0;
}

CPinDesktop::Item FindPinDialog(CPinDesktop& desktop) {
    if (!IsVersion5()) {
        return {};
    }
    const std::vector<CPinDesktop::Item> windows = desktop.TopLevelWindows();
    for (const char* title : kPinDialogTitles) {
        if (*title == '\0') {
            break;
        }
        for (const CPinDesktop::Item& window : windows) {
            if (window.title == title) {
                return window;
            }
        }
    }
    return {};
}

void AnswerPinDialog(CPinDesktop& desktop, const CPinDesktop::Item& dialog) {
    const CPinDesktop::Item field = desktop.FirstTextField(dialog);
    if (field.id.empty() || field.id == g_lastPinField) {
        return;
    }
    const CPinDesktop::Item previous = desktop.FocusedWindow();
    desktop.SetForegroundWindow(dialog);
    desktop.SetFocus(field);
    desktop.DispatchPending();
    desktop.TypeKey(kPinPlaceholder);
    desktop.DispatchPending();
    desktop.SetForegroundWindow(dialog);
    desktop.TypeKey('\r');
    desktop.DispatchPending();
    if (!previous.id.empty()) {
        desktop.RestoreFocus(previous);
    }
    g_lastPinField = field.id;
}
