#pragma once

#include "vcard/Apdu.h"
#include "vcard/CardPath.h"
#include "vcard/CardState.h"

#include <optional>

namespace vcard {

// What MSE SET put into the current security environment, and the first
// parts of a chained command. Forgotten at a reset, with the session.
struct KeySession {
    enum class Use : uint8_t { None, Sign, Decipher };
    Use use = Use::None;
    std::optional<CardPath> keyFile; // the key MSE SET named
    Bytes chained;                   // data of the chained parts so far
    uint8_t chainedIns = 0;
    uint8_t chainedP1 = 0;
    uint8_t chainedP2 = 0;

    // Forgets the parts of a chain, wiping them.
    void EndChain();

    KeySession() = default;
    KeySession(const KeySession&) = default;
    KeySession& operator=(const KeySession&) = default;
    ~KeySession();
};

// The private-key commands of the card operating system (ISO/IEC 7816-8):
// MSE SET for signing (41 B6) and deciphering (41 B8) with 84 01 <key
// reference>, the reference naming key file 45<ref> of the current DF;
// PSO COMPUTE DIGITAL SIGNATURE (2A 9E 9A), which pads the DigestInfo it gets
// by PKCS #1 v1.5 and signs it; PSO DECIPHER (2A 80 86), whose data is the
// padding indicator 00 and the cryptogram and whose answer is the message
// without its PKCS #1 v1.5 padding. A cryptogram of 256 bytes does not fit a
// short APDU, so the card takes command chaining (CLA 10 on every part but the
// last).
//
// The key of the signature application (DF01) signs only, and only once per
// verification of its PIN 81: the card forgets the verification after each
// signature. The keys of DF02 sign and decipher after Card PIN1 (00).
class KeyCommands {
public:
    KeyCommands(CardState& state, KeySession& keys, std::vector<bool>& verified,
                const CardPath& currentDf);

    // nullopt when the command is none of these, so that the command table
    // goes on with it.
    std::optional<Response> Process(const CommandApdu& cmd);

private:
    Response ManageSecurityEnvironment(const CommandApdu& cmd);
    Response PerformSecurityOperation(const CommandApdu& cmd, std::span<const uint8_t> data);
    Response Sign(const CardKey& key, std::span<const uint8_t> data);
    Response Decipher(const CardKey& key, std::span<const uint8_t> data);
    // 90 00 when the key's PIN was verified in this session, else its refusal.
    uint16_t PinCondition(const CardPath& keyFile, int& pinIndex) const;
    const CardKey* SelectedKey() const;

    CardState& m_state;
    KeySession& m_keys;
    std::vector<bool>& m_verified;
    const CardPath& m_currentDf;
};

} // namespace vcard
