// The scans: the initial one at start, one poll of the monitor thread, and
// the reset of the Update command.

#include "app/settings/Config.h"
#include "monitor/CCert.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "monitor/events/PcscContext.h"

#include <cstring>

namespace {

// The readers from `first` on as if their cards had just been taken out.
void MarkEmpty(CSnapshot& snapshot, std::size_t first = 0) {
    for (std::size_t i = first; i < snapshot.Size(); ++i) {
        snapshot[i].dwEventState =
            (snapshot[i].dwEventState & ~SCARD_STATE_PRESENT) | SCARD_STATE_EMPTY;
    }
}

} // namespace

void CCardOSEvents::InitialScan() {
    CPcscContext context;
    if (context.Establish() != SCARD_S_SUCCESS) {
        return; // the monitor thread gets its own context once pcscd is there
    }
    std::lock_guard lock(MonitorMutex());
    CCert cert(context.Get());
    if (cert.LastError() != SCARD_S_SUCCESS) {
        return; // no reader, or no resource manager after all
    }
    CSnapshot fresh;
    if (BuildSnapshot(context.Get(), cert.Readers(), fresh) != SCARD_S_SUCCESS) {
        return;
    }
    std::size_t scanned = 0;
    for (; scanned < fresh.Size(); ++scanned) {
        if (IsCardPresent(fresh[scanned]) && !CardConnectable(context.Get(), fresh[scanned])) {
            break; // reset or held by another process just now
        }
        // Nothing happens for an empty reader or a card of another make.
        cert.AddReaderCertificates(&fresh[scanned]);
    }
    StopBusyAnimation();
    // The readers from a busy card on were not scanned: they are stored as
    // empty, so that the monitor takes their cards for insertions as soon as
    // they can be connected. (Without a stored snapshot it would never see
    // them inserted.)
    CopySnapshot(g_ReaderStates, fresh);
    MarkEmpty(*g_ReaderStates, scanned);
    g_RescanPending = 0;
}

LONG CCardOSEvents::PollReaders(SCARDCONTEXT context) {
    std::lock_guard lock(MonitorMutex());
    // The poll's CCert lists the readers on the poll's context: that listing
    // is the poll's reader list.
    CCert cert(context);
    if (const LONG rv = static_cast<LONG>(cert.LastError()); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    bool readersChanged = false;
    if (const DWORD count = cert.ReaderCount(); count != g_ReaderCount) {
        g_ReaderCount = static_cast<uint32_t>(count);
        readersChanged = true;
    }
    CSnapshot fresh;
    if (const LONG rv = BuildSnapshot(context, cert.Readers(), fresh); rv != SCARD_S_SUCCESS) {
        return rv;
    }

    // The list follows the store also when another process changed it.
    g_SyncValue = cert.SyncCollectionWithStore();
    if (g_SyncValue != g_LastSyncValue) {
        StartBusyAnimation();
        StopBusyAnimation();
        g_CertDialog.With([](ICertListView& dialog) { dialog.FillList(); });
        g_LastSyncValue = g_SyncValue.load();
    }

    if (readersChanged) {
        // A reader came or went: start over from this snapshot. Cards
        // present now count as known; after Update they count as inserted
        // in the next poll.
        CopySnapshot(g_ReaderStates, fresh);
        if (g_RescanPending != 0) {
            MarkEmpty(*g_ReaderStates);
        }
        cert.RemoveAllPropagated();
    } else if (!SnapshotsEqual(g_ReaderStates ? &*g_ReaderStates : nullptr, &fresh)) {
        StartBusyAnimation();
        const CSnapshot* previous = g_ReaderStates ? &*g_ReaderStates : nullptr;
        bool aborted = false;
        for (std::size_t i = 0; i < fresh.Size(); ++i) {
            SCARD_READERSTATE& now = fresh[i];
            const SCARD_READERSTATE* before =
                previous != nullptr && i < previous->Size() ? &(*previous)[i] : nullptr;
            if (IsCardPresent(now) && !CardConnectable(context, now)) {
                // Reset or held exclusively elsewhere: the snapshot is not
                // stored, so the next poll sees the same change again.
                aborted = true;
                break;
            }
            if (IsCardPresent(now) && before != nullptr && IsReaderEmpty(*before)) {
                if (Config::IsCertPropSvcActive()) {
                    // The system's own propagation serves the card.
                    StartBusyAnimation();
                    cert.RemoveReaderCertificates(&now);
                } else {
                    cert.AddReaderCertificates(&now);
                }
            }
            if (before != nullptr && IsCardPresent(*before) && IsReaderEmpty(now)) {
                cert.RemoveReaderCertificates(&now);
            }
        }
        StopBusyAnimation();
        if (!aborted) {
            CopySnapshot(g_ReaderStates, fresh);
        }
    }
    g_RescanPending = 0;
    return SCARD_S_SUCCESS;
}

void CCardOSEvents::RequestRescan() {
    std::lock_guard lock(MonitorMutex());
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
