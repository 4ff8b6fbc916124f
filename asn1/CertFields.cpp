#include "asn1/CASN1.h"

#include <array>

namespace {

// A field is handed back only when its header can be read and its whole
// encoding lies within the data.
bool HandBack(const Asn1Cursor& cursor, Asn1Cursor& out) {
    uint32_t offset = 0;
    (void)CASN1::ReadLength(cursor, offset);
    if (offset == 0 || CASN1::ElementBytes(cursor).empty()) {
        return false;
    }
    out = cursor;
    return true;
}

} // namespace

// Certificate  ::=  SEQUENCE  {
//      tbsCertificate       TBSCertificate,
//      signatureAlgorithm   AlgorithmIdentifier,
//      signatureValue       BIT STRING  }
//
// TBSCertificate  ::=  SEQUENCE  {
//      version         [0]  EXPLICIT Version DEFAULT v1,         -- 100
//      serialNumber         CertificateSerialNumber,             -- 105
//      signature            AlgorithmIdentifier,                 -- 104
//      issuer               Name,                                -- 103
//      validity             Validity,                            -- 106
//      subject              Name,                                -- 101
//      subjectPublicKeyInfo SubjectPublicKeyInfo,                -- 112
//      issuerUniqueID  [1]  IMPLICIT UniqueIdentifier OPTIONAL,  -- 113
//      subjectUniqueID [2]  IMPLICIT UniqueIdentifier OPTIONAL,  -- 114
//      extensions      [3]  EXPLICIT Extensions OPTIONAL  }      -- 111
//
// The walk follows the lengths it finds and does not check the tags of the
// mandatory fields. Of the optional fields, a requested one that is absent
// clears `out`; a version 1 certificate (no [0], the TBSCertificate starts with
// the serial INTEGER) has no version field, and then `out` is left alone.
bool CASN1::LocateCertField(std::span<const uint8_t> cert, uint32_t id, Asn1Cursor& out) {
    if (cert.empty()) {
        return false;
    }
    Asn1Cursor cursor = Start(cert);
    uint32_t offset = 0;
    cursor.size = ReadLength(cursor, offset); // the certificate's content length
    if (!Enter(cursor, cursor) || !Enter(cursor, cursor)) {
        return false;
    }

    if (TagOf(cursor) != TAG_INTEGER) {
        if (id == CERT_VERSION) {
            return HandBack(cursor, out);
        }
        if (!Next(cursor, cursor)) {
            return false;
        }
    } else if (id == CERT_VERSION) {
        return false;
    }

    static constexpr std::array kMandatory{CERT_SERIAL,   CERT_SIGNATURE, CERT_ISSUER,
                                           CERT_VALIDITY, CERT_SUBJECT,   CERT_PUBLIC_KEY_INFO};
    for (const uint32_t field : kMandatory) {
        if (id == field) {
            return HandBack(cursor, out);
        }
        if (!Next(cursor, cursor) && field != CERT_PUBLIC_KEY_INFO) {
            return false;
        }
    }

    struct Optional {
        uint32_t tagNumber;
        uint32_t field;
    };
    static constexpr std::array kOptional{
        Optional{1, CERT_ISSUER_UID}, Optional{2, CERT_SUBJECT_UID}, Optional{3, CERT_EXTENSIONS}};
    for (const auto& optional : kOptional) {
        if (ClassOf(cursor) == CLASS_CONTEXT && TagNumberOf(cursor) == optional.tagNumber) {
            if (id == optional.field) {
                return HandBack(cursor, out);
            }
            (void)Next(cursor, cursor);
        } else if (id == optional.field) {
            out = {};
            return false;
        }
    }
    return false;
}
