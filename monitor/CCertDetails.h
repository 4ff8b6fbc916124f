#pragma once

#include <cstdint>
#include <string>

// Readers of one certificate's DER bytes for the certificate list. Each
// returns an owned text (empty, or false, for null or empty input and for
// bytes that are no certificate), so they may run on any thread at once.
class CCertDetails {
public:
    virtual ~CCertDetails() = default;

    // The subject and issuer as one line of type=value pairs.
    static std::string GetSubjectText(const uint8_t* der, std::size_t length);
    static std::string GetIssuerText(const uint8_t* der, std::size_t length);
    // The serialNumber's content octets as upper-case hex, a leading 00 kept.
    static std::string GetSerialText(const uint8_t* der, std::size_t length);
    // Whether an extension has the OID of qcStatements (1.3.6.1.5.5.7.1.3).
    static bool HasQcStatements(const uint8_t* der, std::size_t length);
};
