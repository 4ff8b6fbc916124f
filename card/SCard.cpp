// Connection, identification and the APDU transport of SCard.

#include "card/SCard.h"

#include "card/CardType.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// What the transport offers the reader: the response capacity plus the
// status word, never more than a short APDU's 256 + 2 bytes.
constexpr std::size_t kReceiveBufferSize = 65540;
constexpr DWORD kMaxReceive = 258;

std::size_t CommandLength(uint32_t form, uint16_t lc) {
    switch (form) {
    case SCard::Case1:
        return 4;
    case SCard::Case2:
        return 5;
    case SCard::Case3:
        return static_cast<std::size_t>(lc & 0xFF) + 5;
    case SCard::Case4:
        return static_cast<std::size_t>(lc & 0xFF) + 6;
    default:
        return 0;
    }
}

} // namespace

SCard::SCard(const std::string& readerName) : m_readerName(readerName) {
    SelectedPathIsMF();
    if (readerName.empty()) {
        return;
    }
    SCARDCONTEXT context = 0;
    LONG rc = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (rc != SCARD_S_SUCCESS) {
        m_lastError = rc;
        return;
    }
    m_context = scard::ContextOwner(context);

    SCARDHANDLE card = 0;
    DWORD protocol = SCARD_PROTOCOL_UNDEFINED;
    rc = SCardConnect(context, readerName.c_str(), SCARD_SHARE_SHARED,
                      SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rc != SCARD_S_SUCCESS) {
        m_lastError = rc;
        m_context.Close();
        return;
    }
    m_card = scard::CardOwner(card);
    m_activeProtocol = protocol;

    // With the state unknown to us the call returns at once with the ATR.
    m_readerStateName = readerName;
    m_readerState = SCARD_READERSTATE{};
    m_readerState.szReader = m_readerStateName.c_str();
    m_readerState.dwCurrentState = SCARD_STATE_UNAWARE;
    rc = SCardGetStatusChange(context, INFINITE, &m_readerState, 1);
    if (rc != SCARD_S_SUCCESS) {
        m_lastError = rc;
        m_readerState.cbAtr = 0;
        return;
    }
    m_cardType = scard::CardTypeFromAtr(Atr());
    SelectedPathIsMF();
    SelectMF();
}

SCard::~SCard() {
    m_readerState = SCARD_READERSTATE{};
    m_readerStateName.clear();
    if (m_card) {
        if (LONG rc = m_card.Close(); rc != SCARD_S_SUCCESS) {
            m_lastError = rc;
        }
    }
    m_response.clear();
    m_context.Close();
}

std::span<const uint8_t> SCard::Atr() const {
    const std::size_t length = std::min<std::size_t>(m_readerState.cbAtr, MAX_ATR_SIZE);
    return {m_readerState.rgbAtr, length};
}

std::span<const uint8_t> SCard::Response() const {
    return {m_response.data(), std::min<std::size_t>(m_responseLength, m_response.size())};
}

void SCard::SetCommand(uint32_t form, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t lc,
                       uint16_t le, const uint8_t* data, uint16_t dataLength) {
    m_form = form;
    m_cla = cla;
    m_ins = ins;
    m_p1 = p1;
    m_p2 = p2;
    m_lc = lc;
    m_le = le;
    m_data = data;
    m_dataLength = dataLength;
    m_responseLength = kResponseCapacity;
    m_response.assign(kResponseCapacity, 0);
}

bool SCard::Transmit() {
    // Micardo cards are always spoken to with T=0, from the first exchange on.
    if (m_cardType == scard::kMicardo) {
        m_useT1 = 0;
    }
    const SCARD_IO_REQUEST* sendPci = m_useT1 != 0 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    SCARD_IO_REQUEST receivePci = *sendPci;

    if (m_form == Case2) {
        m_lc = m_le;
    }
    const std::size_t length = CommandLength(m_form, m_lc);
    if (length == 0) {
        m_sw1 = 0;
        m_sw2 = 0;
        return false;
    }
    // The receive buffer comes first: once the command holds a PIN, nothing
    // may fail between the copy and the wipe.
    std::vector<uint8_t> receive;
    try {
        receive.assign(kReceiveBufferSize, 0);
    } catch (const std::bad_alloc&) {
        m_sw1 = 0;
        m_sw2 = 0;
        return false;
    }
    if (!m_command.Ok() || length > m_command.Size()) {
        m_sw1 = 0;
        m_sw2 = 0;
        return false;
    }
    uint8_t* const command = m_command.Data();
    command[0] = m_cla;
    command[1] = m_ins;
    command[2] = m_p1;
    command[3] = m_p2;
    if (m_form == Case2) {
        command[4] = static_cast<uint8_t>(m_le & 0xFF);
    } else if (m_form == Case3 || m_form == Case4) {
        const std::size_t lc = m_lc & 0xFF;
        command[4] = static_cast<uint8_t>(lc);
        // Never more than the caller said its data holds; the rest stays 00.
        std::memset(command + 5, 0, lc);
        if (m_data != nullptr) {
            std::memcpy(command + 5, m_data, std::min<std::size_t>(lc, m_dataLength));
        }
        if (m_form == Case4) {
            command[5 + lc] = static_cast<uint8_t>(m_le & 0xFF);
        }
    }

    const DWORD offered = std::min<DWORD>(static_cast<DWORD>(m_response.size()) + 2, kMaxReceive);
    DWORD received = offered;
    const LONG rc = SCardTransmit(m_card.Get(), sendPci, command, static_cast<DWORD>(length),
                                  &receivePci, receive.data(), &received);
    // The command may hold a PIN.
    m_command.Wipe(length);

    if (rc != SCARD_S_SUCCESS || received > offered) {
        // A failed exchange must not leave the status word of an earlier one.
        m_sw1 = 0;
        m_sw2 = 0;
        return false;
    }
    if (received < 2) {
        m_responseLength = 0;
        m_sw1 = 0;
        m_sw2 = 0;
        return true;
    }
    const std::size_t data = received - 2;
    m_responseLength = static_cast<uint16_t>(data);
    if (!m_response.empty()) {
        std::memcpy(m_response.data(), receive.data(), std::min(data, m_response.size()));
    }
    m_sw1 = receive[data];
    m_sw2 = receive[data + 1];
    return true;
}

bool SCard::Exchange(uint32_t form, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t lc, uint16_t le,
                     const uint8_t* data) {
    SetCommand(form, 0x00, ins, p1, p2, lc, le, data, data == nullptr ? 0 : lc);
    const bool ok = Transmit();
    m_data = nullptr;
    m_dataLength = 0;
    return ok;
}

uint8_t SCard::NoFormResult(bool readOrWrite) const {
    return scard::FileResult(m_sw1, m_sw2, readOrWrite);
}

bool SCard::TakeResponse(std::span<uint8_t> out, uint16_t& outLength) const {
    const auto response = Response();
    if (response.size() > out.size()) {
        outLength = 0;
        return false;
    }
    std::copy(response.begin(), response.end(), out.begin());
    outLength = static_cast<uint16_t>(response.size());
    return true;
}

void SCard::SelectedPathIsMF() {
    m_selectedPath.fill(0);
    m_selectedPath[0] = 0x3F;
    m_selectedPath[1] = 0x00;
    m_selectedPathLength = 2;
}
