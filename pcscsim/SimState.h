#pragma once

// Internal state of the in-process PC/SC library, shared by the C entry
// points and the control API. Not for use outside pcscsim/.

#include "pcscsim/SimControl.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pcscsim::detail {

struct Reader {
    std::string name;
    std::shared_ptr<ICardEndpoint> card;
    std::vector<uint8_t> atr;
    bool supportsT1 = true;
    // Insertions and removals; reported in the upper 16 bits of dwEventState.
    uint16_t events = 0;
    // Resets of the present card; other handles then see SCARD_W_RESET_CARD.
    uint32_t resets = 0;
    // Protocol negotiated by the first connection after insertion or reset.
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
    SCARDHANDLE transactionOwner = 0;
    int pullCountdown = 0;
    std::vector<Exchange> trace;
    // One exchange at a time per reader; held while the endpoint runs.
    std::shared_ptr<std::mutex> io = std::make_shared<std::mutex>();
};

struct Context {
    uint32_t generation = 0;
    int waiting = 0;
    bool cancelled = false;
};

struct CardHandle {
    SCARDCONTEXT context = 0;
    std::string reader;
    DWORD shareMode = 0;
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
    uint16_t events = 0;
    uint32_t resets = 0;
};

struct Failure {
    int count = 0;
    LONG code = SCARD_S_SUCCESS;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t changeSerial = 0;

    bool serviceUp = true;
    uint32_t generation = 1;

    std::vector<Reader> readers;
    std::map<SCARDCONTEXT, Context> contexts;
    std::map<SCARDHANDLE, CardHandle> cards;
    std::map<const void*, std::unique_ptr<uint8_t[]>> allocations;
    std::map<Call, Failure> failures;
    LONG nextHandle = 0x00C0FFEE;

    Reader* FindReader(const std::string& name);
    // Wake every SCardGetStatusChange and SCardBeginTransaction waiting.
    void NotifyChange();
    // An injected failure for this call, consumed.
    std::optional<LONG> TakeFailure(Call call);
    // SCARD_S_SUCCESS, SCARD_E_NO_SERVICE or SCARD_E_INVALID_HANDLE.
    LONG CheckContext(SCARDCONTEXT context) const;
    // Handle and its context valid, reader and the same card still there,
    // no reset by someone else since.
    LONG CheckCard(SCARDHANDLE handle, CardHandle** out, Reader** reader);
    LONG NewHandle();
    // Copies `size` bytes out in the pcsc-lite way: a null destination asks
    // for the length, SCARD_AUTOALLOCATE hands out memory for SCardFreeMemory.
    LONG CopyOut(const void* source, DWORD size, void* destination, LPDWORD length);
    // Takes the card out of a reader, as a user pulling it would.
    void Pull(Reader& reader);
    // Resets the card in `readerName` (the endpoint runs with `lock` released)
    // and marks every other handle on it as reset. `by` keeps working.
    void ResetCard(std::unique_lock<std::mutex>& lock, std::string readerName, SCARDHANDLE by);
};

State& Sim();

} // namespace pcscsim::detail
