#include "dialogs/perso/P7Certificates.h"

#include "asn1/CASN1.h"

namespace {

// Puts `cursor` on the first element of the certificates field.
bool WalkToCertificates(std::span<const uint8_t> plaintext, Asn1Cursor& cursor) {
    cursor = CASN1::Start(plaintext);
    if (CASN1::TagOf(cursor) != CASN1::TAG_SEQUENCE) {
        return false;
    }
    return CASN1::Enter(cursor, cursor)     // contentType
           && CASN1::Next(cursor, cursor)   // [0]
           && CASN1::Enter(cursor, cursor)  // SignedData
           && CASN1::Enter(cursor, cursor)  // version
           && CASN1::Next(cursor, cursor)   // digestAlgorithms
           && CASN1::Next(cursor, cursor)   // contentInfo
           && CASN1::Next(cursor, cursor)   // certificates [0]
           && CASN1::Enter(cursor, cursor); // the first certificate
}

bool IsCertificate(const Asn1Cursor& cursor) {
    return cursor.size != 0 && CASN1::TagOf(cursor) == CASN1::TAG_SEQUENCE;
}

} // namespace

uint32_t CountP7Certificates(std::span<const uint8_t> plaintext) {
    Asn1Cursor cursor;
    if (!WalkToCertificates(plaintext, cursor)) {
        return 0;
    }
    uint32_t count = 0;
    while (IsCertificate(cursor)) {
        ++count;
        if (!CASN1::Next(cursor, cursor)) {
            break;
        }
    }
    return count;
}

std::span<const uint8_t> GetP7Certificate(std::span<const uint8_t> plaintext, uint32_t index) {
    Asn1Cursor cursor;
    if (!WalkToCertificates(plaintext, cursor)) {
        return {};
    }
    for (uint32_t at = 0; IsCertificate(cursor); ++at) {
        if (at == index) {
            return CASN1::ElementBytes(cursor);
        }
        if (!CASN1::Next(cursor, cursor)) {
            break;
        }
    }
    return {};
}
