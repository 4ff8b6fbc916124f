#pragma once

// The pause of the monitor thread between two polls when the last poll left
// nothing to try again: instead of a poll every 100 ms, the thread waits in
// SCardGetStatusChange for a reader to differ from what that poll saw, for
// a reader to come or go (pcsc-lite's "\\?PnP?\Notification"), or for the
// user's store to change (checked now and then by its change stamp). Update
// and the stop request wake it at once.

#include <winscard.h>

// Returns when a poll is due: SCARD_S_SUCCESS for a change of the readers,
// SCARD_E_CANCELLED when woken, SCARD_E_TIMEOUT when the store changed, or
// the PC/SC error that ended the wait (the poll then sees it too).
LONG WaitForReaderEvent(SCARDCONTEXT context);

// Wakes a wait in progress, or makes the next one return at once.
void WakeReaderWait();
