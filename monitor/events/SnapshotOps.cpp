// Taking, copying and comparing snapshots, and the shared-connect check.

#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"

#include <algorithm>

LONG CCardOSEvents::BuildSnapshot(SCARDCONTEXT context, const std::vector<std::string>& readers,
                                  CSnapshot& snapshot) {
    snapshot = CSnapshot(readers, g_ReaderCount);
    if (snapshot.Empty()) {
        return SCARD_S_SUCCESS; // nothing to ask; pcsc-lite would wait for a reader
    }
    // Every current state is SCARD_STATE_UNAWARE, so the call returns at once
    // with the readers' present states.
    return SCardGetStatusChange(context, INFINITE, snapshot.Data(),
                                static_cast<DWORD>(snapshot.Size()));
}

void CCardOSEvents::CopySnapshot(std::optional<CSnapshot>& target, const CSnapshot& source) {
    target = source.Prefix(g_ReaderCount);
}

bool CCardOSEvents::SnapshotsEqual(const CSnapshot* a, const CSnapshot* b) {
    if (a == nullptr || b == nullptr || a->Size() != b->Size()) {
        return false;
    }
    const std::size_t count = std::min<std::size_t>(g_ReaderCount, a->Size());
    for (std::size_t i = 0; i < count; ++i) {
        const SCARD_READERSTATE& x = (*a)[i];
        const SCARD_READERSTATE& y = (*b)[i];
        if (x.dwCurrentState != y.dwCurrentState || x.pvUserData != y.pvUserData ||
            x.cbAtr != y.cbAtr) {
            return false;
        }
        if ((IsCardPresent(x) && IsReaderEmpty(y)) || (IsCardPresent(y) && IsReaderEmpty(x))) {
            return false;
        }
    }
    return true;
}

bool CCardOSEvents::CardConnectable(SCARDCONTEXT context, const SCARD_READERSTATE& record) {
    if (record.szReader == nullptr) {
        return false;
    }
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardConnect(context, record.szReader, SCARD_SHARE_SHARED,
                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
        return false;
    }
    return SCardDisconnect(card, SCARD_LEAVE_CARD) == SCARD_S_SUCCESS;
}
