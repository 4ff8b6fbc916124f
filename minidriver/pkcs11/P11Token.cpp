#include "minidriver/pkcs11/P11Token.h"

#include "minidriver/md/CardKeyOperation.h"
#include "minidriver/md/Minidriver.h"

#include "card/CardType.h"
#include "card/SCard.h"

#include <openssl/crypto.h>

#include <utility>

namespace velkp11 {

CK_OBJECT_HANDLE P11Token::s_nextHandle = 1;

ReaderState QueryReader(SCARDCONTEXT context, const std::string& reader) {
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    ReaderState out;
    if (SCardGetStatusChange(context, 0, &state, 1) != SCARD_S_SUCCESS ||
        (state.dwEventState & SCARD_STATE_UNKNOWN) != 0) {
        return out;
    }
    out.known = true;
    out.present = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    out.events = static_cast<uint32_t>(state.dwEventState >> 16 & 0xFFFF);
    return out;
}

P11Token::P11Token(std::string reader) : m_reader(std::move(reader)) {}

P11Token::~P11Token() {
    Logout();
}

const P11Object* P11Token::Find(CK_OBJECT_HANDLE handle) const {
    for (const P11Object& o : m_objects) {
        if (o.handle == handle) {
            return &o;
        }
    }
    return nullptr;
}

void P11Token::Drop() {
    m_card.reset();
    m_loggedIn = false;
    m_pinPresented = false;
    m_recognized = false;
    m_objects.clear();
    m_cardNumber.clear();
    ++m_generation;
}

void P11Token::Refresh(SCARDCONTEXT context) {
    const ReaderState now = QueryReader(context, m_reader);
    if (now == m_state) {
        return;
    }
    const bool wasPresent = m_state.present;
    m_state = now;
    if (wasPresent || !m_objects.empty() || m_recognized) {
        Drop();
    }
    if (now.present) {
        Load();
    }
}

void P11Token::Load() {
    SCard card(m_reader);
    if (!card.Connected() || velkmd::SlotsOf(card.CardType()).empty()) {
        return;
    }
    m_recognized = true;
    m_cardNumber = card.ReadCardNumber();
    std::vector<velkmd::Container> containers;
    if (velkmd::ListContainers(m_reader, containers) != 0) {
        return;
    }
    for (const velkmd::Container& container : containers) {
        if (container.slot.authority) {
            continue;
        }
        std::vector<uint8_t> der;
        if (velkmd::ReadCertificate(m_reader, container, der) != 0) {
            continue;
        }
        if (auto objects = ObjectsOfContainer(container.slot, der, s_nextHandle)) {
            for (P11Object& o : *objects) {
                m_objects.push_back(std::move(o));
            }
        }
    }
}

SCard* P11Token::Connection() {
    if (!m_card) {
        m_card = std::make_unique<SCard>(m_reader);
    }
    if (!m_card->Connected()) {
        m_card.reset();
        return nullptr;
    }
    return m_card.get();
}

// The card answers no more on this connection although PC/SC still sees it:
// reset by someone, or pulled just now. A new connection starts without PINs.
CK_RV P11Token::ConnectionLost() {
    m_card.reset();
    m_loggedIn = false;
    return CKR_DEVICE_REMOVED;
}

CK_RV P11Token::Login(CK_USER_TYPE user, std::span<const uint8_t> pin, const P11Object* key) {
    const velkmd::PinTarget* target = nullptr;
    if (user == CKU_CONTEXT_SPECIFIC && key != nullptr) {
        target = velkmd::KeyPinOf(key->slot);
    } else if (user == CKU_USER) {
        target = velkmd::PinTargetOf(velkmd::kSelectorCardPin1);
    }
    if (target == nullptr) {
        return CKR_USER_TYPE_INVALID;
    }
    SCard* card = Connection();
    if (card == nullptr) {
        return CKR_DEVICE_REMOVED;
    }
    uint8_t triesLeft = 0;
    m_pinPresented = true;
    const std::string_view text(reinterpret_cast<const char*>(pin.data()), pin.size());
    const PinResult result = card->Verify(target->path, target->reference, text, triesLeft);
    switch (result) {
    case scard::kPinOk:
        if (user == CKU_USER) {
            m_loggedIn = true;
        }
        return CKR_OK;
    case scard::kPinNullPin:
        return CKR_PIN_EXPIRED;
    case scard::kPinBlocked:
    case scard::kPinMethodBlocked:
        return CKR_PIN_LOCKED;
    default:
        break;
    }
    if (card->Sw1() == 0x63) {
        return CKR_PIN_INCORRECT;
    }
    if (card->Sw1() == 0 && card->Sw2() == 0) {
        return ConnectionLost();
    }
    return CKR_DEVICE_ERROR;
}

void P11Token::Logout() {
    m_loggedIn = false;
    m_card.reset();
    if (!m_pinPresented) {
        return;
    }
    m_pinPresented = false;
    // Only a reset makes the card forget a verified PIN.
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return;
    }
    scard::ContextOwner owner(context);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    if (SCardConnect(context, m_reader.c_str(), SCARD_SHARE_SHARED,
                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle,
                     &protocol) == SCARD_S_SUCCESS) {
        SCardDisconnect(handle, SCARD_RESET_CARD);
    }
}

namespace {

CK_RV ResultOf(velkmd::KeyResult result) {
    switch (result) {
    case velkmd::KeyResult::Ok:
        return CKR_OK;
    case velkmd::KeyResult::NotLoggedIn:
        return CKR_USER_NOT_LOGGED_IN;
    case velkmd::KeyResult::BadInput:
        return CKR_DATA_LEN_RANGE;
    case velkmd::KeyResult::NotSupported:
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    case velkmd::KeyResult::CardGone:
        return CKR_DEVICE_REMOVED;
    case velkmd::KeyResult::Failed:
        break;
    }
    return CKR_DEVICE_ERROR;
}

} // namespace

CK_RV P11Token::Sign(const P11Object& key, std::span<const uint8_t> input, Bytes& signature) {
    SCard* card = Connection();
    if (card == nullptr) {
        return CKR_DEVICE_REMOVED;
    }
    const CK_RV rv = ResultOf(velkmd::SignOnCard(*card, key.slot, input, signature));
    return rv == CKR_DEVICE_REMOVED ? ConnectionLost() : rv;
}

CK_RV P11Token::Decipher(const P11Object& key, std::span<const uint8_t> cryptogram, Bytes& plain) {
    SCard* card = Connection();
    if (card == nullptr) {
        return CKR_DEVICE_REMOVED;
    }
    CK_RV rv = ResultOf(velkmd::DecipherOnCard(*card, key.slot, cryptogram, plain));
    if (rv == CKR_DATA_LEN_RANGE) {
        rv = CKR_ENCRYPTED_DATA_INVALID;
    }
    return rv == CKR_DEVICE_REMOVED ? ConnectionLost() : rv;
}

} // namespace velkp11
