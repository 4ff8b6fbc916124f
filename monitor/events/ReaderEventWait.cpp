#include "monitor/events/ReaderEventWait.h"

#include "monitor/PcscReaders.h"
#include "monitor/events/MonitorClock.h"
#include "monitor/events/MonitorState.h"
#include "monitor/events/StoreWatch.h"
#include "platform/certstore/CertStore.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

// How often a quiet wait looks at the store's change stamp, so that a
// registration changed by another process reaches the list and the icon:
// often without a watch on the hive, else only as a safety net.
constexpr milliseconds kStoreCheck{2000};
constexpr milliseconds kStoreCheckWatched{60000};

constexpr const char* kPnpReader = "\\\\?PnP?\\Notification";

// pcsc-lite counts a reader's card events in the upper 16 bits; the lower
// ones are states. Another program opening or closing the card only moves
// the in-use bits, which is no reason to poll.
constexpr DWORD kInUseBits = SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE;
constexpr DWORD kIgnoredBits = kInUseBits | SCARD_STATE_CHANGED;

// The context that waits now, for WakeReaderWait to cancel.
struct CWaitRegistry {
    std::mutex mutex;
    bool waiting = false;
    SCARDCONTEXT context = 0;
};

// Constant-initialised, so that a stop at the process's end (the monitor's
// holder is destroyed then) still finds it.
constinit CWaitRegistry g_Registry;

CWaitRegistry& Registry() {
    return g_Registry;
}

std::atomic<bool> g_WakeRequested{false};

// Registers the wait for the time it lives.
class CWaitScope {
public:
    explicit CWaitScope(SCARDCONTEXT context) {
        std::lock_guard lock(Registry().mutex);
        Registry().waiting = true;
        Registry().context = context;
    }
    ~CWaitScope() {
        std::lock_guard lock(Registry().mutex);
        Registry().waiting = false;
        Registry().context = 0;
    }
    CWaitScope(const CWaitScope&) = delete;
    CWaitScope& operator=(const CWaitScope&) = delete;
};

bool StoreStamp(uint64_t& stamp) {
    return VelkCertStoreChangeStamp(&stamp) != FALSE;
}

// A change that a poll has to look at: a reader's presence, card counter,
// ATR or availability, or the reader list.
bool NeedsPoll(const std::vector<SCARD_READERSTATE>& records) {
    for (const SCARD_READERSTATE& record : records) {
        if ((record.dwEventState & SCARD_STATE_CHANGED) == 0) {
            continue;
        }
        if ((record.dwEventState & ~kIgnoredBits) != (record.dwCurrentState & ~kIgnoredBits)) {
            return true;
        }
    }
    return false;
}

} // namespace

LONG WaitForReaderEvent(SCARDCONTEXT context) {
    // The readers as the last poll saw them, with their own name copies.
    std::vector<std::string> names;
    std::vector<DWORD> states;
    {
        std::lock_guard lock(MonitorMutex());
        if (!g_SeenStates) {
            return SCARD_S_SUCCESS; // no poll has seen the readers yet
        }
        for (std::size_t i = 0; i < g_SeenStates->Size(); ++i) {
            const SCARD_READERSTATE& seen = (*g_SeenStates)[i];
            names.emplace_back(seen.szReader != nullptr ? seen.szReader : "");
            states.push_back(seen.dwEventState & ~SCARD_STATE_CHANGED);
        }
    }
    std::vector<SCARD_READERSTATE> records(names.size() + 1);
    for (std::size_t i = 0; i < names.size(); ++i) {
        records[i].szReader = names[i].c_str();
        records[i].dwCurrentState = states[i];
    }
    SCARD_READERSTATE& pnp = records.back();
    pnp.szReader = kPnpReader;
    pnp.dwCurrentState = static_cast<DWORD>(names.size()) << 16;

    // pcsc-lite reports the reader changes that happen during a wait only:
    // a reader that came or went since the poll has to be seen here.
    {
        const monitor::CPcscReaders listed(context);
        const bool none = listed.Result() == SCARD_E_NO_READERS_AVAILABLE;
        if ((listed.Result() != SCARD_S_SUCCESS && !none) || listed.Readers() != names) {
            return listed.Result() == SCARD_S_SUCCESS || none ? SCARD_S_SUCCESS : listed.Result();
        }
    }

    uint64_t stamp = 0;
    const bool stamped = StoreStamp(stamp);
    const CWaitScope scope(context);
    if (g_WakeRequested.exchange(false)) {
        return SCARD_E_CANCELLED;
    }
    for (;;) {
        const LONG rv = MonitorClock().WaitForReaders(
            context, records.data(), static_cast<DWORD>(records.size()),
            CStoreWatch::Active() ? kStoreCheckWatched : kStoreCheck);
        if (g_WakeRequested.exchange(false) || g_StopMonitor != 0) {
            return SCARD_E_CANCELLED;
        }
        if (rv == SCARD_E_TIMEOUT) {
            uint64_t now = 0;
            if (!stamped || !StoreStamp(now) || now != stamp) {
                return SCARD_E_TIMEOUT;
            }
            continue;
        }
        if (rv != SCARD_S_SUCCESS || NeedsPoll(records)) {
            return rv;
        }
        // Only the in-use bits moved: take them as known and wait on.
        for (SCARD_READERSTATE& record : records) {
            record.dwCurrentState = record.dwEventState & ~SCARD_STATE_CHANGED;
        }
    }
}

void WakeReaderWait() {
    g_WakeRequested = true;
    std::lock_guard lock(Registry().mutex);
    if (Registry().waiting) {
        SCardCancel(Registry().context);
    }
}
