#pragma once

#include "monitor/CryptOwners.h"

#include <cstdint>
#include <string>
#include <string_view>

// One registered card certificate of the certificate list: its own
// certificate context, the key container it is linked to (the path
// "\\.\reader\container") and the reader it belongs to ("STORE" for entries
// rebuilt from the store). An entry does not change after construction, so
// its operations may run on any thread; every text is a new owned string.
class CCertCollection {
public:
    // Copies the store certificate into a context of its own (null when the
    // bytes cannot be decoded: the texts are then empty).
    CCertCollection(PCCERT_CONTEXT storeCert, std::u16string_view containerName,
                    std::string readerName);
    virtual ~CCertCollection() = default;
    CCertCollection(const CCertCollection&) = delete;
    CCertCollection& operator=(const CCertCollection&) = delete;

    // All commonName values of the subject or issuer, joined with ", ".
    std::string GetSubjectName() const;
    std::string GetIssuerName() const;
    // The serial number as upper-case hexadecimal text.
    std::string GetSerialNumber() const;
    // All emailAddress values of the subject, joined with ", ".
    std::string GetEmail() const;

    // The entry keeps ownership.
    PCCERT_CONTEXT GetCertContext() const { return m_cert.Get(); }
    std::string GetContainerName() const { return m_containerName; }
    std::string GetReaderName() const { return m_readerName; }

    // The decimal digit at position 6 of the container name's tail, or -1 for
    // a name shorter than the tail.
    int32_t GetContainerType() const;
    // 1 when position 4 of the tail is '1' (an authority certificate).
    int32_t GetContainerFlag() const;
    // Whether the certificate carries the qcStatements extension.
    bool IsQualified() const;

    // The values of attribute `name` in a type=value text as the name
    // renderer writes it, joined with ", "; the whole text for no name.
    static std::string ExtractAttribute(std::string_view text, const char* name);
    // Certificate text for display, UTF-8: text that is UTF-8 stays UTF-8
    // (a broken sequence becomes U+FFFD), anything else is read as
    // Windows-1252 (Latin-1) and converted.
    static std::string ToDisplayText(std::string_view text);
    // Whether the bytes form UTF-8 sequences by their lead and continuation
    // bits (overlong forms and 5- and 6-byte sequences are let through).
    static bool IsUtf8(std::string_view text);

private:
    monitor::CertOwner m_cert;
    std::string m_containerName;
    std::string m_readerName;
};
