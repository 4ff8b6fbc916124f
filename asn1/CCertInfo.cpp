#include "asn1/CCertInfo.h"

#include "asn1/CASN1.h"

#include <algorithm>
#include <utility>

namespace {

constexpr const char* kEcPublicKey = "1.2.840.10045.2.1";
constexpr const char* kRsaEncryption = "1.2.840.113549.1.1.1";

void EnterIf(uint32_t tag, Asn1Cursor& cursor) {
    if (CASN1::TagOf(cursor) == tag) {
        (void)CASN1::Enter(cursor, cursor);
    }
}

} // namespace

CCertInfo::CCertInfo(std::string name, std::span<const uint8_t> der)
    : m_data(der.begin(), der.end()), m_name(std::move(name)) {}

// SubjectPublicKeyInfo ::= SEQUENCE {
//      algorithm         AlgorithmIdentifier,
//      subjectPublicKey  BIT STRING }
// AlgorithmIdentifier ::= SEQUENCE {
//      algorithm   OBJECT IDENTIFIER,
//      parameters  ANY OPTIONAL }   -- NULL for RSA, the named curve for EC
// RSAPublicKey ::= SEQUENCE {       -- inside the BIT STRING for RSA
//      modulus         INTEGER,
//      publicExponent  INTEGER }
// ECPoint ::= the BIT STRING's octets  -- 04 || X || Y when uncompressed
//
// The walk steps over the parameters without looking at them: an RSA
// AlgorithmIdentifier without its NULL makes the RSA branch step past the
// BIT STRING, and the key comes out empty.
int CCertInfo::GetPublicKey(uint32_t& keyLength, std::vector<uint8_t>& key, bool reverse) const {
    if (m_data.empty()) {
        return -1;
    }
    Asn1Cursor cursor;
    if (!CASN1::LocateCertField(m_data, CASN1::CERT_PUBLIC_KEY_INFO, cursor)) {
        return -1;
    }
    EnterIf(CASN1::TAG_SEQUENCE, cursor); // SubjectPublicKeyInfo
    EnterIf(CASN1::TAG_SEQUENCE, cursor); // AlgorithmIdentifier
    std::string algorithm;
    if (CASN1::TagOf(cursor) == CASN1::TAG_OID) {
        algorithm = CASN1::OidToText(cursor, cursor.size, false);
        (void)CASN1::Next(cursor, cursor); // to the parameters
    }

    std::span<const uint8_t> octets;
    if (algorithm == kEcPublicKey) {
        (void)CASN1::Next(cursor, cursor); // past the parameters, to the BIT STRING
        octets = CASN1::ContentBytes(cursor);
        if (!octets.empty()) {
            octets = octets.subspan(1); // the unused-bits octet
        }
    } else if (algorithm == kRsaEncryption) {
        (void)CASN1::Next(cursor, cursor); // over the NULL, to the BIT STRING
        if (CASN1::TagOf(cursor) == CASN1::TAG_BIT_STRING) {
            (void)CASN1::Enter(cursor, cursor);
            if (CASN1::TagOf(cursor) == CASN1::TAG_SEQUENCE) {
                (void)CASN1::Enter(cursor, cursor);
                if (CASN1::TagOf(cursor) == CASN1::TAG_INTEGER) {
                    octets = CASN1::ContentBytes(cursor);
                    if (!octets.empty() && octets.front() == 0x00) {
                        octets = octets.subspan(1); // the sign octet
                    }
                }
            }
        }
    } else {
        return -1;
    }

    keyLength = static_cast<uint32_t>(octets.size());
    key.assign(octets.begin(), octets.end());
    if (reverse) {
        std::reverse(key.begin(), key.end());
    }
    return 0;
}
