#pragma once

// The object behind a PCCERT_CONTEXT: the decoded certificate with the
// CERT_INFO that points into its own buffers, its properties, and, for a
// context of a store, where it lives in the hive. Contexts are kept in one
// process-wide table: that table is what makes a handle valid, and it holds
// the reference counts.

#include "platform/certstore/CertBlob.h"
#include "platform/certstore/WinCryptTypes.h"

#include <openssl/x509.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velk::certstore {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// Where a store context's certificate is kept.
struct StoreBinding {
    std::string storeName;
    std::string thumbprint; // upper-case hex, the hive key name
    uint64_t sequence = 0;
};

// One decoded certificate: the DER, OpenSSL's view of it and a CERT_INFO
// that points into its own buffers. Immutable once made, so every context of
// the certificate (and every reopening of an unchanged store) shares it.
class CDecodedCert {
public:
    // Decodes the DER certificate at the start of `bytes`; null with
    // `error` set (CRYPT_E_ASN1_...) when it is not one.
    static std::shared_ptr<const CDecodedCert> Decode(std::span<const uint8_t> bytes, DWORD& error);

    CDecodedCert() = default; // empty; Decode makes usable ones
    CDecodedCert(const CDecodedCert&) = delete;
    CDecodedCert& operator=(const CDecodedCert&) = delete;

    const CERT_INFO& Info() const { return m_info; }
    std::span<const uint8_t> Der() const { return m_der; }
    X509* Certificate() const { return m_x509.get(); }
    const std::array<uint8_t, 20>& Sha1() const { return m_sha1; }
    const std::string& Thumbprint() const { return m_thumbprint; }

private:
    bool Fill(DWORD& error);

    CERT_INFO m_info{};
    std::vector<uint8_t> m_der;
    X509Ptr m_x509;
    std::array<uint8_t, 20> m_sha1{};
    std::string m_thumbprint;

    // Buffers that m_info points into; filled once, never resized after.
    std::vector<uint8_t> m_serial;
    std::string m_signatureOid;
    std::vector<uint8_t> m_signatureParams;
    std::vector<uint8_t> m_issuer;
    std::vector<uint8_t> m_subject;
    std::string m_keyOid;
    std::vector<uint8_t> m_keyParams;
    std::vector<uint8_t> m_publicKey;
    std::vector<uint8_t> m_issuerUid;
    std::vector<uint8_t> m_subjectUid;
    std::vector<std::string> m_extensionOids;
    std::vector<std::vector<uint8_t>> m_extensionValues;
    std::vector<CERT_EXTENSION> m_extensions;
};

class CertContextImpl {
public:
    // A new context of the certificate at the start of `bytes`; null with
    // `error` set when it is not one.
    static std::unique_ptr<CertContextImpl> Decode(std::span<const uint8_t> bytes, DWORD& error);

    explicit CertContextImpl(std::shared_ptr<const CDecodedCert> decoded);
    CertContextImpl(const CertContextImpl&) = delete;
    CertContextImpl& operator=(const CertContextImpl&) = delete;

    const CERT_CONTEXT* Context() const { return &m_context; }
    const CERT_INFO* Info() const { return &m_info; }
    const std::shared_ptr<const CDecodedCert>& Decoded() const { return m_decoded; }
    std::span<const uint8_t> Der() const { return m_decoded->Der(); }
    X509* Certificate() const { return m_decoded->Certificate(); }
    const std::array<uint8_t, 20>& Sha1() const { return m_decoded->Sha1(); }
    const std::string& Thumbprint() const { return m_decoded->Thumbprint(); }

    CertProperties Properties() const;
    void SetProperties(CertProperties properties);

    // Where the certificate is stored; empty once it was deleted.
    std::optional<StoreBinding> Binding() const;
    // Its place in the store order, kept after a deletion so that a walk
    // standing on it can go on.
    std::optional<uint64_t> Sequence() const;
    void Bind(StoreBinding binding, HCERTSTORE store);
    void Unbind();

private:
    const std::shared_ptr<const CDecodedCert> m_decoded;
    // The caller's view: its own structures, pointing into the shared buffers.
    CERT_CONTEXT m_context{};
    CERT_INFO m_info{};

    mutable std::mutex m_mutex; // guards what follows
    CertProperties m_properties;
    std::optional<StoreBinding> m_binding;
    bool m_deleted = false;
};

// The table of live contexts.
// Takes ownership; the context starts with one reference.
PCCERT_CONTEXT RegisterContext(std::unique_ptr<CertContextImpl> impl);
// The object of a live context, or null. Valid while the caller holds a reference.
CertContextImpl* LookupContext(PCCERT_CONTEXT context);
// The object whose pCertInfo this is, or null.
CertContextImpl* LookupInfo(const CERT_INFO* info);
bool AddRefContext(PCCERT_CONTEXT context);
// Drops one reference; the last one destroys the object. False for an
// unknown context.
bool ReleaseContext(PCCERT_CONTEXT context);

std::string HexUpper(std::span<const uint8_t> bytes);

} // namespace velk::certstore
