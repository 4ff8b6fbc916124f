// Context, reader list and status entry points of the in-process PC/SC
// library, with pcsc-lite's semantics: 8-byte DWORD, 33-byte ATR field, the
// reader's event counter in the upper 16 bits of dwEventState, the reader
// count in the upper 16 bits for the "\\?PnP?\Notification" pseudo reader.

#include "pcscsim/SimState.h"

#include <chrono>
#include <cstring>
#include <string>

using pcscsim::Call;
using pcscsim::detail::Reader;
using pcscsim::detail::Sim;
using pcscsim::detail::State;

namespace {

constexpr const char* kPnpReader = "\\\\?PnP?\\Notification";

// The bits of a reader's state whose difference from the caller's view
// counts as a change.
constexpr DWORD kStateBits = SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE | SCARD_STATE_EMPTY |
                             SCARD_STATE_PRESENT | SCARD_STATE_EXCLUSIVE | SCARD_STATE_INUSE |
                             SCARD_STATE_MUTE;

DWORD CurrentStateOf(State& s, const Reader& r) {
    if (!r.card) {
        return SCARD_STATE_EMPTY;
    }
    DWORD state = SCARD_STATE_PRESENT;
    for (const auto& [handle, card] : s.cards) {
        if (card.reader == r.name && card.events == r.events) {
            state |=
                card.shareMode == SCARD_SHARE_EXCLUSIVE ? SCARD_STATE_EXCLUSIVE : SCARD_STATE_INUSE;
        }
    }
    return state;
}

// Fills dwEventState (and the ATR) of one record; true when it differs from
// what the caller said it knew.
bool Evaluate(State& s, SCARD_READERSTATE& rs) {
    const DWORD current = rs.dwCurrentState;
    if ((current & SCARD_STATE_IGNORE) != 0) {
        rs.dwEventState = SCARD_STATE_IGNORE;
        return false;
    }
    if (rs.szReader != nullptr && std::strcmp(rs.szReader, kPnpReader) == 0) {
        const DWORD count = static_cast<DWORD>(s.readers.size());
        rs.dwEventState = count << 16;
        if ((current >> 16) != count) {
            rs.dwEventState |= SCARD_STATE_CHANGED;
            return true;
        }
        return false;
    }
    const Reader* r = rs.szReader == nullptr ? nullptr : s.FindReader(rs.szReader);
    if (r == nullptr) {
        rs.dwEventState = SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE;
        rs.cbAtr = 0;
        if ((current & SCARD_STATE_UNKNOWN) == 0) {
            rs.dwEventState |= SCARD_STATE_CHANGED;
            return true;
        }
        return false;
    }
    const DWORD state = CurrentStateOf(s, *r);
    rs.dwEventState = state | (static_cast<DWORD>(r->events) << 16);
    rs.cbAtr = r->card ? std::min<DWORD>(r->atr.size(), MAX_ATR_SIZE) : 0;
    std::memset(rs.rgbAtr, 0, MAX_ATR_SIZE);
    if (rs.cbAtr != 0) {
        std::memcpy(rs.rgbAtr, r->atr.data(), rs.cbAtr);
    }
    bool changed = current == SCARD_STATE_UNAWARE || ((current ^ state) & kStateBits) != 0;
    // Like pcsc-lite, the counter is compared only when the caller gave one.
    if ((current & 0xFFFF0000) != 0 && ((current >> 16) & 0xFFFF) != r->events) {
        changed = true;
    }
    if (changed) {
        rs.dwEventState |= SCARD_STATE_CHANGED;
    }
    return changed;
}

} // namespace

LONG SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID, LPSCARDCONTEXT phContext) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::EstablishContext)) {
        return *failure;
    }
    if (phContext == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (dwScope > SCARD_SCOPE_SYSTEM) {
        return SCARD_E_INVALID_VALUE;
    }
    if (!s.serviceUp) {
        return SCARD_E_NO_SERVICE;
    }
    const SCARDCONTEXT context = s.NewHandle();
    s.contexts[context].generation = s.generation;
    *phContext = context;
    return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT hContext) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::ReleaseContext)) {
        return *failure;
    }
    const LONG rc = s.CheckContext(hContext);
    if (rc == SCARD_E_INVALID_HANDLE) {
        return rc;
    }
    // Its card handles go with it; a transaction they hold ends.
    for (auto it = s.cards.begin(); it != s.cards.end();) {
        if (it->second.context == hContext) {
            if (Reader* r = s.FindReader(it->second.reader);
                r && r->transactionOwner == it->first) {
                r->transactionOwner = 0;
            }
            it = s.cards.erase(it);
        } else {
            ++it;
        }
    }
    s.contexts.erase(hContext);
    s.NotifyChange();
    return rc;
}

LONG SCardIsValidContext(SCARDCONTEXT hContext) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::IsValidContext)) {
        return *failure;
    }
    return s.CheckContext(hContext) == SCARD_S_SUCCESS ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR, LPSTR mszReaders, LPDWORD pcchReaders) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::ListReaders)) {
        return *failure;
    }
    if (pcchReaders == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (LONG rc = s.CheckContext(hContext); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    if (s.readers.empty()) {
        return SCARD_E_NO_READERS_AVAILABLE;
    }
    std::string multi;
    for (const Reader& r : s.readers) {
        multi += r.name;
        multi += '\0';
    }
    multi += '\0';
    return s.CopyOut(multi.data(), static_cast<DWORD>(multi.size()), mszReaders, pcchReaders);
}

LONG SCardListReaderGroups(SCARDCONTEXT hContext, LPSTR mszGroups, LPDWORD pcchGroups) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (LONG rc = s.CheckContext(hContext); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    static const char kGroups[] = "SCard$DefaultReaders\0";
    return s.CopyOut(kGroups, sizeof kGroups, mszGroups, pcchGroups);
}

LONG SCardFreeMemory(SCARDCONTEXT, LPCVOID pvMem) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::FreeMemory)) {
        return *failure;
    }
    if (pvMem == nullptr) {
        return SCARD_S_SUCCESS;
    }
    // Only what this library handed out can be freed; anything else would be
    // heap corruption in the real library, here it is an error the test sees.
    return s.allocations.erase(pvMem) == 1 ? SCARD_S_SUCCESS : SCARD_E_INVALID_VALUE;
}

LONG SCardGetStatusChange(SCARDCONTEXT hContext, DWORD dwTimeout, SCARD_READERSTATE* rgReaderStates,
                          DWORD cReaders) {
    auto& s = Sim();
    std::unique_lock lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::GetStatusChange)) {
        return *failure;
    }
    if (rgReaderStates == nullptr && cReaders > 0) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (cReaders > PCSCLITE_MAX_READERS_CONTEXTS + 1) {
        return SCARD_E_INVALID_VALUE;
    }
    if (LONG rc = s.CheckContext(hContext); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeout);
    s.contexts[hContext].waiting++;
    LONG result = SCARD_S_SUCCESS;
    for (;;) {
        bool changed = false;
        for (DWORD i = 0; i < cReaders; ++i) {
            changed = Evaluate(s, rgReaderStates[i]) || changed;
        }
        if (changed || cReaders == 0) {
            break;
        }
        if (dwTimeout == 0) {
            result = SCARD_E_TIMEOUT;
            break;
        }
        const uint64_t serial = s.changeSerial;
        auto wake = [&] { return s.changeSerial != serial; };
        if (dwTimeout == INFINITE) {
            s.changed.wait(lock, wake);
        } else if (!s.changed.wait_until(lock, deadline, wake)) {
            result = SCARD_E_TIMEOUT;
            break;
        }
        if (LONG rc = s.CheckContext(hContext); rc != SCARD_S_SUCCESS) {
            result = rc; // released or the service went away while waiting
            break;
        }
        if (auto& ctx = s.contexts[hContext]; ctx.cancelled) {
            ctx.cancelled = false;
            result = SCARD_E_CANCELLED;
            break;
        }
    }
    if (auto it = s.contexts.find(hContext); it != s.contexts.end()) {
        it->second.waiting--;
    }
    return result;
}

LONG SCardCancel(SCARDCONTEXT hContext) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::Cancel)) {
        return *failure;
    }
    if (LONG rc = s.CheckContext(hContext); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    auto& ctx = s.contexts[hContext];
    if (ctx.waiting > 0) {
        ctx.cancelled = true;
        s.NotifyChange();
    }
    return SCARD_S_SUCCESS;
}
