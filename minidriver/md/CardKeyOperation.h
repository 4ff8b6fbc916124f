#pragma once

// The private-key operations of a card key, on a connection the caller holds
// open (the card keeps a verified PIN only while it is not reset): MSE SET
// names the key of the container's key file, then PSO COMPUTE DIGITAL
// SIGNATURE or PSO DECIPHER runs on the card. The key never leaves the card.

#include "minidriver/md/CardLayout.h"

#include "card/StatusWords.h"

#include <cstdint>
#include <span>
#include <vector>

class SCard;

namespace velkmd {

// What a key operation came to.
enum class KeyResult {
    Ok,
    NotLoggedIn,  // the card wants the key's PIN verified first (69 82)
    BadInput,     // the card refused the data: length, padding (67 00, 6A 80)
    NotSupported, // the key cannot do this (decipher with the signature key: 69 85)
    CardGone,     // the exchange itself failed: card pulled, reset or reader gone
    Failed,       // any other answer of the card
};

// The PIN that opens the container's key (CardLayout.h's selector).
const PinTarget* KeyPinOf(const CardSlot& slot);

// VERIFY of the key's PIN; PinResult as SCard::Verify gives it, `triesLeft`
// set when the card told it.
PinResult VerifyKeyPin(SCard& card, const CardSlot& slot, std::span<const uint8_t> pin,
                       uint8_t& triesLeft);

// Signs a DigestInfo (or any data up to the key size less 11 bytes); the card
// adds the PKCS #1 v1.5 padding.
KeyResult SignOnCard(SCard& card, const CardSlot& slot, std::span<const uint8_t> digestInfo,
                     std::vector<uint8_t>& signature);

// Deciphers a PKCS #1 v1.5 cryptogram as long as the key; the card removes
// the padding. `plain` is the caller's to wipe.
KeyResult DecipherOnCard(SCard& card, const CardSlot& slot, std::span<const uint8_t> cryptogram,
                         std::vector<uint8_t>& plain);

} // namespace velkmd
