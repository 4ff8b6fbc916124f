#pragma once

// The objects a token shows for one key container: the certificate, its
// public key and the private key on the card, sharing CKA_ID and CKA_LABEL.

#include "minidriver/md/CardLayout.h"
#include "minidriver/pkcs11/Cryptoki.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace velkp11 {

using Bytes = std::vector<uint8_t>;

struct P11Object {
    CK_OBJECT_HANDLE handle = 0;
    CK_OBJECT_CLASS objectClass = CKO_DATA;
    velkmd::CardSlot slot;     // the container's key on the card
    CK_ULONG modulusBytes = 0; // length of a signature or cryptogram
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attributes;

    bool Flag(CK_ATTRIBUTE_TYPE type) const;
};

// The three objects of a container with certificate `der`; nullopt when the
// certificate does not parse or holds no RSA key. Handles from `nextHandle`.
std::optional<std::vector<P11Object>> ObjectsOfContainer(const velkmd::CardSlot& slot,
                                                         std::span<const uint8_t> der,
                                                         CK_OBJECT_HANDLE& nextHandle);

} // namespace velkp11
