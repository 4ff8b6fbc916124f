#pragma once

// The RSA mechanisms of the card keys: PKCS #1 v1.5 signatures over data the
// application hands in (CKM_RSA_PKCS: a DigestInfo it made itself) or over a
// hash made here, and PKCS #1 v1.5 decryption.

#include "minidriver/pkcs11/Cryptoki.h"
#include "minidriver/pkcs11/P11Object.h"

#include <optional>
#include <span>

namespace velkp11 {

struct MechanismUse {
    CK_MECHANISM_TYPE type;
    CK_FLAGS flags; // CKF_SIGN, CKF_DECRYPT
};

std::span<const MechanismUse> Mechanisms();
const MechanismUse* FindMechanism(CK_MECHANISM_TYPE type);

// What goes to the card for a signature: the DigestInfo of the data's hash,
// or the data itself for CKM_RSA_PKCS. nullopt if hashing failed.
std::optional<Bytes> SignatureInput(CK_MECHANISM_TYPE type, std::span<const uint8_t> data);

} // namespace velkp11
