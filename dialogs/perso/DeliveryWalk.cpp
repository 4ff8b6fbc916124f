#include "dialogs/perso/DeliveryWalk.h"

#include "asn1/CASN1.h"

bool BeginsWithSequence(std::span<const uint8_t> bytes) {
    return !bytes.empty() && bytes.front() == 0x30;
}

std::span<const uint8_t> LocateDeliveryCiphertext(std::span<const uint8_t> content) {
    Asn1Cursor cursor = CASN1::Start(content);
    const bool reached = CASN1::Enter(cursor, cursor)    // EncryptedData
                         && CASN1::Enter(cursor, cursor) // version
                         && CASN1::Next(cursor, cursor)  // encryptedContentInfo
                         && CASN1::Enter(cursor, cursor) // contentType
                         && CASN1::Next(cursor, cursor)  // contentEncryptionAlgorithm
                         && CASN1::Enter(cursor, cursor) // algorithm
                         && CASN1::Next(cursor, cursor); // iv
    if (!reached) {
        return {};
    }
    if (CASN1::TagOf(cursor) == CASN1::TAG_OCTET_STRING && !CASN1::Next(cursor, cursor)) {
        return {};
    }
    // A CBC ciphertext is whole blocks of eight; anything else is not the delivery.
    const auto ciphertext = CASN1::ContentBytes(cursor);
    return ciphertext.size() % 8 == 0 ? ciphertext : std::span<const uint8_t>{};
}
