#pragma once

// The token of one slot: the card in one PC/SC reader, its objects, the
// connection that keeps a verified PIN, and who is logged in. A different
// card (or none) in the reader ends everything known about the last one.

#include "minidriver/pkcs11/Cryptoki.h"
#include "minidriver/pkcs11/P11Object.h"

#include "card/PcscOwners.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

class SCard;

namespace velkp11 {

// What PC/SC says about a reader now.
struct ReaderState {
    bool known = false; // the reader exists
    bool present = false;
    uint32_t events = 0; // pcsc-lite's card event counter of the reader
    bool operator==(const ReaderState&) const = default;
};

ReaderState QueryReader(SCARDCONTEXT context, const std::string& reader);

class P11Token {
public:
    explicit P11Token(std::string reader);
    ~P11Token();
    P11Token(const P11Token&) = delete;
    P11Token& operator=(const P11Token&) = delete;

    const std::string& Reader() const { return m_reader; }

    // Looks at the reader; a change of card drops what was known and counts
    // up Generation(). Supported cards are read (number, objects) once.
    void Refresh(SCARDCONTEXT context);
    bool Present() const { return m_state.present; }
    bool Recognized() const { return m_recognized; }
    uint64_t Generation() const { return m_generation; }

    const std::string& CardNumber() const { return m_cardNumber; }
    const std::vector<P11Object>& Objects() const { return m_objects; }
    const P11Object* Find(CK_OBJECT_HANDLE handle) const;

    bool LoggedIn() const { return m_loggedIn; }
    // CKU_USER: Card PIN1; CKU_CONTEXT_SPECIFIC: the PIN of `key`.
    CK_RV Login(CK_USER_TYPE user, std::span<const uint8_t> pin, const P11Object* key);
    // Forgets the login, and resets the card so that it forgets the PINs too.
    void Logout();

    CK_RV Sign(const P11Object& key, std::span<const uint8_t> input, Bytes& signature);
    CK_RV Decipher(const P11Object& key, std::span<const uint8_t> cryptogram, Bytes& plain);

    static CK_OBJECT_HANDLE s_nextHandle;

private:
    void Drop();
    void Load();
    SCard* Connection();
    CK_RV ConnectionLost();

    std::string m_reader;
    ReaderState m_state;
    bool m_recognized = false;
    bool m_loggedIn = false;
    bool m_pinPresented = false; // a PIN went to the card on m_card
    uint64_t m_generation = 0;
    std::string m_cardNumber;
    std::vector<P11Object> m_objects;
    std::unique_ptr<SCard> m_card;
};

} // namespace velkp11
