// Card handle entry points of the in-process PC/SC library: connect,
// reconnect, disconnect, status, transmit and transactions.

#include "pcscsim/SimState.h"

#include <cstring>
#include <string>

using pcscsim::Call;
using pcscsim::Exchange;
using pcscsim::detail::CardHandle;
using pcscsim::detail::Reader;
using pcscsim::detail::Sim;
using pcscsim::detail::State;

namespace {

bool ValidShareMode(DWORD mode) {
    return mode == SCARD_SHARE_EXCLUSIVE || mode == SCARD_SHARE_SHARED ||
           mode == SCARD_SHARE_DIRECT;
}

// Another live connection to the same card prevents this share mode.
bool SharingViolation(const State& s, const Reader& r, DWORD mode, SCARDHANDLE self) {
    for (const auto& [handle, card] : s.cards) {
        if (handle == self || card.reader != r.name || card.events != r.events) {
            continue;
        }
        if (mode == SCARD_SHARE_EXCLUSIVE || card.shareMode == SCARD_SHARE_EXCLUSIVE) {
            return true;
        }
    }
    return false;
}

// The protocol a connection gets: the one already negotiated for the card,
// else T=1 when both sides allow it, else T=0.
LONG Negotiate(Reader& r, DWORD mode, DWORD preferred, DWORD* out) {
    if (mode == SCARD_SHARE_DIRECT) {
        *out = SCARD_PROTOCOL_UNDEFINED;
        return SCARD_S_SUCCESS;
    }
    DWORD protocol = r.protocol;
    if (protocol == SCARD_PROTOCOL_UNDEFINED) {
        if ((preferred & SCARD_PROTOCOL_T1) != 0 && r.supportsT1) {
            protocol = SCARD_PROTOCOL_T1;
        } else if ((preferred & SCARD_PROTOCOL_T0) != 0) {
            protocol = SCARD_PROTOCOL_T0;
        } else {
            return SCARD_E_PROTO_MISMATCH;
        }
    } else if ((preferred & protocol) == 0) {
        return SCARD_E_PROTO_MISMATCH;
    }
    r.protocol = protocol;
    *out = protocol;
    return SCARD_S_SUCCESS;
}

} // namespace

LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                  DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::Connect)) {
        return *failure;
    }
    if (phCard == nullptr || pdwActiveProtocol == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    *phCard = 0;
    if (szReader == nullptr) {
        return SCARD_E_INVALID_VALUE;
    }
    if (LONG rc = s.CheckContext(hContext); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    if (!ValidShareMode(dwShareMode)) {
        return SCARD_E_INVALID_VALUE;
    }
    Reader* r = s.FindReader(szReader);
    if (r == nullptr) {
        return SCARD_E_UNKNOWN_READER;
    }
    if (!r->card && dwShareMode != SCARD_SHARE_DIRECT) {
        return SCARD_E_NO_SMARTCARD;
    }
    if (SharingViolation(s, *r, dwShareMode, 0)) {
        return SCARD_E_SHARING_VIOLATION;
    }
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
    if (LONG rc = Negotiate(*r, dwShareMode, dwPreferredProtocols, &protocol);
        rc != SCARD_S_SUCCESS) {
        return rc;
    }
    const SCARDHANDLE handle = s.NewHandle();
    s.cards[handle] = CardHandle{hContext, r->name, dwShareMode, protocol, r->events, r->resets};
    *phCard = handle;
    *pdwActiveProtocol = protocol;
    s.NotifyChange();
    return SCARD_S_SUCCESS;
}

LONG SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                    DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
    auto& s = Sim();
    std::unique_lock lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::Reconnect)) {
        return *failure;
    }
    if (pdwActiveProtocol == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (!ValidShareMode(dwShareMode) || dwInitialization > SCARD_EJECT_CARD) {
        return SCARD_E_INVALID_VALUE;
    }
    CardHandle* h = nullptr;
    Reader* r = nullptr;
    const LONG rc = s.CheckCard(hCard, &h, &r);
    if (rc != SCARD_S_SUCCESS && rc != SCARD_W_REMOVED_CARD && rc != SCARD_W_RESET_CARD) {
        return rc;
    }
    if (!r->card) {
        return SCARD_E_NO_SMARTCARD;
    }
    // A card inserted after the old one went away is taken over.
    h->events = r->events;
    if (SharingViolation(s, *r, dwShareMode, hCard)) {
        return SCARD_E_SHARING_VIOLATION;
    }
    h->shareMode = dwShareMode;
    h->resets = r->resets;
    const std::string readerName = r->name;
    if (dwInitialization == SCARD_RESET_CARD || dwInitialization == SCARD_UNPOWER_CARD) {
        s.ResetCard(lock, readerName, hCard);
    }
    // The lock was possibly released: look everything up again.
    if (s.CheckCard(hCard, &h, &r) != SCARD_S_SUCCESS) {
        return SCARD_W_REMOVED_CARD;
    }
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
    if (LONG nrc = Negotiate(*r, dwShareMode, dwPreferredProtocols, &protocol);
        nrc != SCARD_S_SUCCESS) {
        return nrc;
    }
    h->protocol = protocol;
    *pdwActiveProtocol = protocol;
    return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
    auto& s = Sim();
    std::unique_lock lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::Disconnect)) {
        return *failure;
    }
    auto it = s.cards.find(hCard);
    if (it == s.cards.end()) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (dwDisposition > SCARD_EJECT_CARD) {
        return SCARD_E_INVALID_VALUE;
    }
    const LONG contextState = s.CheckContext(it->second.context);
    const std::string readerName = it->second.reader;
    const bool sameCard = [&] {
        Reader* r = s.FindReader(readerName);
        return r != nullptr && r->card && r->events == it->second.events;
    }();
    if (Reader* r = s.FindReader(readerName); r && r->transactionOwner == hCard) {
        r->transactionOwner = 0;
    }
    s.cards.erase(it);
    s.NotifyChange();
    if (contextState != SCARD_S_SUCCESS) {
        return contextState;
    }
    if (sameCard && dwDisposition != SCARD_LEAVE_CARD) {
        s.ResetCard(lock, readerName, 0);
    }
    return SCARD_S_SUCCESS;
}

LONG SCardStatus(SCARDHANDLE hCard, LPSTR mszReaderName, LPDWORD pcchReaderLen, LPDWORD pdwState,
                 LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::Status)) {
        return *failure;
    }
    CardHandle* h = nullptr;
    Reader* r = nullptr;
    if (LONG rc = s.CheckCard(hCard, &h, &r); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    if (pcchReaderLen != nullptr) {
        const std::string name = r->name + '\0';
        if (LONG rc = s.CopyOut(name.data(), static_cast<DWORD>(name.size()), mszReaderName,
                                pcchReaderLen);
            rc != SCARD_S_SUCCESS) {
            return rc;
        }
    }
    if (pdwState != nullptr) {
        *pdwState = SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC;
    }
    if (pdwProtocol != nullptr) {
        *pdwProtocol = h->protocol;
    }
    if (pcbAtrLen != nullptr) {
        return s.CopyOut(r->atr.data(), static_cast<DWORD>(r->atr.size()), pbAtr, pcbAtrLen);
    }
    return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci, LPCBYTE pbSendBuffer,
                   DWORD cbSendLength, SCARD_IO_REQUEST* pioRecvPci, LPBYTE pbRecvBuffer,
                   LPDWORD pcbRecvLength) {
    auto& s = Sim();
    std::unique_lock lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::Transmit)) {
        return *failure;
    }
    if (pioSendPci == nullptr || pbSendBuffer == nullptr || pbRecvBuffer == nullptr ||
        pcbRecvLength == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    CardHandle* h = nullptr;
    Reader* r = nullptr;
    if (LONG rc = s.CheckCard(hCard, &h, &r); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    if (cbSendLength == 0 || cbSendLength > MAX_BUFFER_SIZE_EXTENDED) {
        return SCARD_E_INVALID_PARAMETER;
    }
    // A T=0-only card cannot be spoken to with the T=1 record, nor the reverse.
    if (h->shareMode != SCARD_SHARE_DIRECT && pioSendPci->dwProtocol != h->protocol) {
        return SCARD_E_PROTO_MISMATCH;
    }
    if (r->transactionOwner != 0 && r->transactionOwner != hCard) {
        return SCARD_E_SHARING_VIOLATION;
    }
    const bool pull = r->pullCountdown > 0 && --r->pullCountdown == 0;
    const auto card = r->card;
    const auto io = r->io;
    const std::string readerName = r->name;
    const uint16_t events = r->events;
    const DWORD protocol = h->protocol;
    std::vector<uint8_t> command(pbSendBuffer, pbSendBuffer + cbSendLength);

    lock.unlock();
    std::vector<uint8_t> response;
    {
        std::lock_guard ioLock(*io);
        response = card->Transmit(command);
    }
    lock.lock();

    Reader* now = s.FindReader(readerName);
    const bool sameCard = now != nullptr && now->card == card && now->events == events;
    if (!sameCard) {
        return now == nullptr ? SCARD_E_READER_UNAVAILABLE : SCARD_W_REMOVED_CARD;
    }
    now->trace.push_back(Exchange{std::move(command), response, protocol});
    if (pull) {
        s.Pull(*now);
        return SCARD_W_REMOVED_CARD;
    }
    if (s.cards.count(hCard) == 0) {
        return SCARD_E_INVALID_HANDLE; // disconnected by another thread meanwhile
    }
    if (response.size() > *pcbRecvLength) {
        *pcbRecvLength = static_cast<DWORD>(response.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (!response.empty()) {
        std::memcpy(pbRecvBuffer, response.data(), response.size());
    }
    *pcbRecvLength = static_cast<DWORD>(response.size());
    if (pioRecvPci != nullptr) {
        pioRecvPci->dwProtocol = protocol;
        pioRecvPci->cbPciLength = sizeof(SCARD_IO_REQUEST);
    }
    return SCARD_S_SUCCESS;
}

LONG SCardBeginTransaction(SCARDHANDLE hCard) {
    auto& s = Sim();
    std::unique_lock lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::BeginTransaction)) {
        return *failure;
    }
    for (;;) {
        CardHandle* h = nullptr;
        Reader* r = nullptr;
        if (LONG rc = s.CheckCard(hCard, &h, &r); rc != SCARD_S_SUCCESS) {
            return rc;
        }
        if (r->transactionOwner == 0 || r->transactionOwner == hCard) {
            r->transactionOwner = hCard;
            return SCARD_S_SUCCESS;
        }
        // Another connection holds the card: wait until something changes.
        const uint64_t serial = s.changeSerial;
        s.changed.wait(lock, [&] { return s.changeSerial != serial; });
    }
}

LONG SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
    auto& s = Sim();
    std::unique_lock lock(s.mutex);
    if (auto failure = s.TakeFailure(Call::EndTransaction)) {
        return *failure;
    }
    if (dwDisposition > SCARD_EJECT_CARD) {
        return SCARD_E_INVALID_VALUE;
    }
    CardHandle* h = nullptr;
    Reader* r = nullptr;
    const LONG rc = s.CheckCard(hCard, &h, &r);
    if (r == nullptr) {
        return rc;
    }
    if (r->transactionOwner != hCard) {
        return rc == SCARD_S_SUCCESS ? SCARD_E_NOT_TRANSACTED : rc;
    }
    r->transactionOwner = 0;
    s.NotifyChange();
    if (rc == SCARD_S_SUCCESS && dwDisposition != SCARD_LEAVE_CARD) {
        s.ResetCard(lock, r->name, hCard);
    }
    return rc;
}
