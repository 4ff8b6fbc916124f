#pragma once

// The reader and card event monitor. A worker thread takes a snapshot of
// every PC/SC reader, compares it with the previous one and turns
// insertions and removals into certificate registrations and removals
// (CCert). Between two such polls it waits for PC/SC to report a change
// (ReaderEventWait.h) rather than polling every 100 ms, which an idle
// desktop would pay for; a poll that left work to retry (a card held by
// another program, an error) is followed by the next one after 100 ms. It keeps the tray icon and
// an open certificates dialog up to date through the sinks of MonitorSinks.h, never touching a
// widget itself.
//
// The class holds no data: all monitor state is process-wide (MonitorState.h).
// Unlike a monitor that ends when it finds no resource manager, this one
// keeps trying: pcscd starts on demand and comes back after a restart, and a
// context that outlived its daemon is replaced by a new one.

#include "monitor/events/ReaderSnapshot.h"

#include <winscard.h>

#include <optional>
#include <string>
#include <vector>

class CCardOSEvents {
public:
    virtual ~CCardOSEvents() = default;

    // The start at the main window's creation: PrepareMonitor, a pause of
    // 2 seconds, StartMonitorThread. Blocks for the pause.
    static void StartMonitor();
    // Removes what an earlier run registered, takes the reader count and
    // runs the initial scan. A caller with other work in between does the
    // same itself: RemoveAllPropagated and ReaderCount of a temporary CCert,
    // later g_ReaderCount = that count and InitialScan.
    static void PrepareMonitor();
    // Clears g_StopMonitor and starts MonitorThread at a low priority; false
    // when a monitor thread is already running.
    static bool StartMonitorThread();
    // Sets g_StopMonitor and waits until the thread has ended (no-op when
    // none runs). Called by Exit before the registrations are removed; the
    // thread may be in a poll, so this can take as long as one poll.
    static void StopMonitor();

    // Thread entry: polls until g_StopMonitor is set; returns 0.
    static unsigned MonitorThread();
    // One comparison pass on `context`: SCARD_S_SUCCESS when the poll
    // completed, else the PC/SC result that ended it (0x8007000E for an
    // exhausted heap). Never throws. A card that cannot be connected is
    // passed over for this poll; readers that are all gone take their
    // registrations with them.
    static LONG PollReaders(SCARDCONTEXT context);
    // The first registration pass at start, on a context of its own.
    static void InitialScan();
    // Update: forget the snapshot, so that the next poll removes every
    // registration and the one after registers every present card again.
    // Returns at once: while a poll runs, that poll's successor does the reset.
    static void RequestRescan();

    // Records for the first g_ReaderCount names of `readers`, filled by
    // SCardGetStatusChange; its result.
    static LONG BuildSnapshot(SCARDCONTEXT context, const std::vector<std::string>& readers,
                              CSnapshot& snapshot);
    // Replaces `target` by a copy of the first g_ReaderCount records of `source`.
    static void CopySnapshot(std::optional<CSnapshot>& target, const CSnapshot& source);
    // False when either is absent or a reader differs in presence, current
    // state, user data or ATR length (the ATR bytes are not compared).
    static bool SnapshotsEqual(const CSnapshot* a, const CSnapshot* b);
    // The card in the record's reader can be connected in shared mode.
    static bool CardConnectable(SCARDCONTEXT context, const SCARD_READERSTATE& record);

    static void StartBusyAnimation();
    static void StopBusyAnimation();
    // The resting icon for the list as it is now (128 with a certificate,
    // else 314), without the animation's steps.
    static void ShowRestingIcon();
};
