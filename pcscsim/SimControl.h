#pragma once

// Control side of the in-process PC/SC library. Tests and fuzz targets that
// link velk_pcscsim instead of libpcsclite set up readers and cards here; the
// code under test only ever sees the ordinary <winscard.h> calls.
//
// Everything is process-wide and guarded by one mutex, so a monitor thread can
// poll with SCardGetStatusChange while a test inserts and removes cards.
// Card endpoints are driven without that mutex held (one exchange at a time
// per reader, as a real reader does), so an endpoint may call back into this
// API from its Transmit, for instance to pull its own card.

#include "pcscsim/CardEndpoint.h"

#include <winscard.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pcscsim {

// The entry points whose next calls a test can make fail.
enum class Call {
    EstablishContext,
    ReleaseContext,
    IsValidContext,
    ListReaders,
    FreeMemory,
    GetStatusChange,
    Cancel,
    Connect,
    Reconnect,
    Disconnect,
    Status,
    Transmit,
    BeginTransaction,
    EndTransaction,
};

// One command APDU as it reached a card, with what the card answered (data
// and status word), even when the answer never reached the caller because
// its buffer was too small or the card was pulled.
struct Exchange {
    std::vector<uint8_t> command;
    std::vector<uint8_t> response;
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
};

// Forget every reader, card, context, handle, trace and injected failure,
// and start the service. Memory handed out with SCARD_AUTOALLOCATE and not
// yet freed is dropped as well.
void ResetAll();

// Readers appear in SCardListReaders in the order they were added. At most
// PCSCLITE_MAX_READERS_CONTEXTS readers; a duplicate name is refused.
bool AddReader(const std::string& name);
bool RemoveReader(const std::string& name);

// Put a card into an empty reader; false when the reader is unknown or full.
bool InsertCard(const std::string& reader, std::shared_ptr<ICardEndpoint> card);
// Take the card out; open handles on it report SCARD_W_REMOVED_CARD from now on.
bool RemoveCard(const std::string& reader);
// The nth SCardTransmit from now on this reader (1 = the next one) reaches the
// card, and then the card is pulled before the answer gets back: the caller
// sees SCARD_W_REMOVED_CARD.
void PullCardDuringTransmit(const std::string& reader, int nth);

// The exchanges with the card in a reader, oldest first.
std::vector<Exchange> Trace(const std::string& reader);
void ClearTrace(const std::string& reader);

// The next `count` calls of `call` return `code` without doing anything.
void FailNext(Call call, int count, LONG code);

// pcscd going away and coming back. While stopped every call answers
// SCARD_E_NO_SERVICE; contexts established before the stop stay dead after
// the restart, as their socket to the old daemon is gone.
void StopService();
void StartService();

// Bookkeeping for leak checks in tests.
std::size_t OpenContexts();
std::size_t OpenCardHandles();
std::size_t OutstandingAllocations();

} // namespace pcscsim
