// The scans: the initial one at start, one poll of the monitor thread, and
// the reset of the Update command.

#include "app/settings/Config.h"
#include "monitor/CCert.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "monitor/events/PcscContext.h"
#include "monitor/events/ReaderEventWait.h"

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Exhausted heap, as the monitor reports it.
constexpr LONG kOutOfMemory = static_cast<LONG>(0x8007000Eu);

// Every reader as if its card had just been taken out.
void MarkEmpty(CSnapshot& snapshot) {
    for (std::size_t i = 0; i < snapshot.Size(); ++i) {
        snapshot[i].dwEventState =
            (snapshot[i].dwEventState & ~SCARD_STATE_PRESENT) | SCARD_STATE_EMPTY;
    }
}

// What the record stored for a reader whose card could not be connected:
// the reader as it was before (empty when nothing was known), so that the
// next poll sees the same change and tries the card again.
void KeepAsBefore(CSnapshot& snapshot, std::size_t i, const CSnapshot* previous) {
    SCARD_READERSTATE& record = snapshot[i];
    if (previous == nullptr || i >= previous->Size()) {
        record.dwEventState = (record.dwEventState & ~SCARD_STATE_PRESENT) | SCARD_STATE_EMPTY;
        return;
    }
    const SCARD_READERSTATE& before = (*previous)[i];
    record.dwCurrentState = before.dwCurrentState;
    record.dwEventState = before.dwEventState;
    record.pvUserData = before.pvUserData;
    record.cbAtr = before.cbAtr;
    std::memcpy(record.rgbAtr, before.rgbAtr, sizeof record.rgbAtr);
}

// Update's reset, when one is waiting; under the monitor lock.
void ApplyRescanRequest() {
    if (g_RescanRequested.exchange(0) == 0) {
        return;
    }
    g_RescanPending = 1;
    if (g_ReaderStates) {
        for (std::size_t i = 0; i < g_ReaderStates->Size(); ++i) {
            SCARD_READERSTATE& record = (*g_ReaderStates)[i];
            record.dwCurrentState = SCARD_STATE_UNAWARE;
            record.dwEventState = SCARD_STATE_EMPTY;
            record.pvUserData = nullptr;
            record.cbAtr = sizeof record.rgbAtr;
            std::memset(record.rgbAtr, 0, sizeof record.rgbAtr);
        }
    }
    g_ReaderCount = 0;
}

// The readers are gone (the last one unplugged, or pcscd away): no card can
// be reached, so their registrations go too. Once readers are back, their
// cards are taken as inserted.
void ForgetReaders(CCert& cert) {
    g_SeenStates = CSnapshot();
    g_PollSettled = true; // nothing to retry: wait for a reader to come
    if (!g_ReaderStates) {
        return;
    }
    g_ReaderStates.reset();
    g_ReaderCount = 0;
    g_ReadersGone = true;
    cert.RemoveAllPropagated();
    CCardOSEvents::ShowRestingIcon();
    g_CertDialog.With([](ICertListView& dialog) { dialog.FillList(); });
}

// After a poll that threw: try again soon, and leave no animation running.
void EndFailedPoll() {
    g_PollSettled = false;
    try {
        CCardOSEvents::StopBusyAnimation();
    } catch (...) {
        // The tray keeps its animation until the next poll stops it.
    }
}

// One poll under the monitor lock; may throw (exhausted heap).
LONG PollLocked(SCARDCONTEXT context) {
    ApplyRescanRequest();
    g_PollSettled = false;
    // The poll's CCert lists the readers on the poll's context: that listing
    // is the poll's reader list.
    CCert cert(context);
    if (const LONG rv = static_cast<LONG>(cert.LastError()); rv != SCARD_S_SUCCESS) {
        if (rv == SCARD_E_NO_READERS_AVAILABLE || IsContextLost(rv)) {
            ForgetReaders(cert);
        }
        return rv;
    }
    bool readersChanged = false;
    if (const DWORD count = cert.ReaderCount(); count != g_ReaderCount) {
        g_ReaderCount = static_cast<uint32_t>(count);
        readersChanged = true;
    }
    CSnapshot fresh;
    if (const LONG rv = CCardOSEvents::BuildSnapshot(context, cert.Readers(), fresh);
        rv != SCARD_S_SUCCESS) {
        return rv;
    }
    g_SeenStates = fresh;
    bool settled = true;

    // The list follows the store also when another process changed it.
    g_SyncValue = cert.SyncCollectionWithStore();
    if (g_SyncValue != g_LastSyncValue) {
        CCardOSEvents::StartBusyAnimation();
        CCardOSEvents::StopBusyAnimation();
        g_CertDialog.With([](ICertListView& dialog) { dialog.FillList(); });
        g_LastSyncValue = g_SyncValue.load();
    }

    if (readersChanged) {
        // A reader came or went: start over from this snapshot. Cards
        // present now count as known; after Update, or when the readers
        // come back after they were all gone, they count as inserted in the
        // next poll.
        CCardOSEvents::CopySnapshot(g_ReaderStates, fresh);
        if (g_RescanPending != 0 || g_ReadersGone) {
            MarkEmpty(*g_ReaderStates);
            settled = false; // the insertions are for the next poll
        }
        g_ReadersGone = false;
        cert.RemoveAllPropagated();
        if (g_RescanPending == 0) {
            CCardOSEvents::ShowRestingIcon(); // the list is gone
        }
    } else if (!CCardOSEvents::SnapshotsEqual(g_ReaderStates ? &*g_ReaderStates : nullptr,
                                              &fresh)) {
        CCardOSEvents::StartBusyAnimation();
        const CSnapshot* previous = g_ReaderStates ? &*g_ReaderStates : nullptr;
        std::vector<std::size_t> busy;
        for (std::size_t i = 0; i < fresh.Size(); ++i) {
            SCARD_READERSTATE& now = fresh[i];
            const SCARD_READERSTATE* before =
                previous != nullptr && i < previous->Size() ? &(*previous)[i] : nullptr;
            if (IsCardPresent(now) && !CCardOSEvents::CardConnectable(context, now)) {
                // Reset or held exclusively elsewhere: passed over in this
                // poll and tried again in the next; the other readers go on.
                busy.push_back(i);
                continue;
            }
            if (IsCardPresent(now) && before != nullptr && IsReaderEmpty(*before)) {
                if (Config::IsCertPropSvcActive()) {
                    // The system's own propagation serves the card.
                    CCardOSEvents::StartBusyAnimation();
                    cert.RemoveReaderCertificates(&now);
                } else {
                    cert.AddReaderCertificates(&now);
                }
            }
            if (before != nullptr && IsCardPresent(*before) && IsReaderEmpty(now)) {
                cert.RemoveReaderCertificates(&now);
            }
        }
        CCardOSEvents::StopBusyAnimation();
        for (const std::size_t i : busy) {
            KeepAsBefore(fresh, i, previous);
        }
        settled = busy.empty();
        CCardOSEvents::CopySnapshot(g_ReaderStates, fresh);
    }
    if (g_RescanRequested == 0) {
        g_RescanPending = 0;
    }
    g_PollSettled = settled && g_RescanRequested == 0;
    return SCARD_S_SUCCESS;
}

} // namespace

void CCardOSEvents::InitialScan() {
    CPcscContext context;
    if (context.Establish() != SCARD_S_SUCCESS) {
        return; // the monitor thread gets its own context once pcscd is there
    }
    std::lock_guard lock(MonitorMutex());
    try {
        CCert cert(context.Get());
        if (cert.LastError() != SCARD_S_SUCCESS) {
            return; // no reader, or no resource manager after all
        }
        CSnapshot fresh;
        if (BuildSnapshot(context.Get(), cert.Readers(), fresh) != SCARD_S_SUCCESS) {
            return;
        }
        std::vector<std::size_t> busy;
        for (std::size_t i = 0; i < fresh.Size(); ++i) {
            if (IsCardPresent(fresh[i]) && !CardConnectable(context.Get(), fresh[i])) {
                busy.push_back(i); // reset or held by another process just now
                continue;
            }
            // Nothing happens for an empty reader or a card of another make.
            cert.AddReaderCertificates(&fresh[i]);
        }
        StopBusyAnimation();
        // A busy card's reader is stored as empty, so that the monitor takes
        // its card for an insertion as soon as it can be connected.
        for (const std::size_t i : busy) {
            KeepAsBefore(fresh, i, nullptr);
        }
        CopySnapshot(g_ReaderStates, fresh);
        g_RescanPending = 0;
        // The monitor thread may wait for events right away, unless a busy
        // card is to be tried again.
        g_PollSettled = busy.empty();
    } catch (...) {
        // Exhausted heap or any other failure ends the scan; the monitor
        // thread takes over with its polls.
        g_ReaderStates.reset();
    }
}

LONG CCardOSEvents::PollReaders(SCARDCONTEXT context) {
    std::lock_guard lock(MonitorMutex());
    // Every failure of a poll ends that poll only: the thread goes on, and
    // the snapshot, not stored, makes the next poll see the same changes.
    try {
        return PollLocked(context);
    } catch (const std::bad_alloc&) {
        EndFailedPoll();
        return kOutOfMemory;
    } catch (...) {
        EndFailedPoll();
        return SCARD_F_UNKNOWN_ERROR;
    }
}

void CCardOSEvents::RequestRescan() {
    // Never waits for a poll: the reset is done now when no poll runs, else
    // by the next poll, which the running one does not hold up.
    g_RescanPending = 1;
    g_RescanRequested = 1;
    if (std::unique_lock lock(MonitorMutex(), std::try_to_lock); lock.owns_lock()) {
        ApplyRescanRequest();
    }
    WakeReaderWait();
}
