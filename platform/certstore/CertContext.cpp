#include "platform/certstore/CertContext.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/sha.h>

#include <climits>
#include <ctime>
#include <unordered_map>

namespace velk::certstore {

namespace {

struct Asn1TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};

std::string OidText(const ASN1_OBJECT* object) {
    char buffer[128];
    const int n = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    if (n <= 0) {
        return {};
    }
    if (static_cast<size_t>(n) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(n));
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    OBJ_obj2txt(text.data(), static_cast<int>(text.size()), object, 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

// The DER of an algorithm's parameters (empty when there are none).
std::vector<uint8_t> AlgorithmParams(const X509_ALGOR* algorithm) {
    const ASN1_OBJECT* object = nullptr;
    int type = V_ASN1_UNDEF;
    const void* value = nullptr;
    X509_ALGOR_get0(&object, &type, &value, algorithm);
    if (type == V_ASN1_UNDEF) {
        return {};
    }
    std::unique_ptr<ASN1_TYPE, Asn1TypeFree> holder(ASN1_TYPE_new());
    if (!holder || !ASN1_TYPE_set1(holder.get(), type, value)) {
        return {};
    }
    const int length = i2d_ASN1_TYPE(holder.get(), nullptr);
    if (length <= 0) {
        return {};
    }
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    i2d_ASN1_TYPE(holder.get(), &out);
    return der;
}

template <typename T, typename EncodeFn>
std::vector<uint8_t> Encode(const T* object, EncodeFn encode) {
    const int length = encode(object, nullptr);
    if (length <= 0) {
        return {};
    }
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    encode(object, &out);
    return der;
}

// The content octets of a DER INTEGER, leading 00 kept, reversed into the
// little-endian order CryptoAPI uses for serial numbers.
std::vector<uint8_t> SerialLittleEndian(const ASN1_INTEGER* serial) {
    auto der = Encode(serial, [](const ASN1_INTEGER* s, unsigned char** out) {
        return i2d_ASN1_INTEGER(s, out);
    });
    if (der.size() < 2) {
        return {};
    }
    size_t header = 2;
    if (der[1] & 0x80) {
        header += der[1] & 0x7F;
    }
    if (header > der.size()) {
        return {};
    }
    return std::vector<uint8_t>(der.rbegin(), der.rend() - static_cast<std::ptrdiff_t>(header));
}

FILETIME ToFileTime(const ASN1_TIME* time) {
    FILETIME out{};
    struct tm tm {};
    if (!time || !ASN1_TIME_to_tm(time, &tm)) {
        return out;
    }
    const time_t seconds = timegm(&tm);
    constexpr int64_t kUnixEpochIn1601 = 11644473600LL;
    const int64_t ticks = (static_cast<int64_t>(seconds) + kUnixEpochIn1601) * 10000000LL;
    const auto value = static_cast<uint64_t>(ticks < 0 ? 0 : ticks);
    out.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    out.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return out;
}

void SetBlob(CRYPT_INTEGER_BLOB& blob, std::vector<uint8_t>& bytes) {
    blob.cbData = static_cast<DWORD>(bytes.size());
    blob.pbData = bytes.empty() ? nullptr : bytes.data();
}

void SetBitBlob(CRYPT_BIT_BLOB& blob, std::vector<uint8_t>& bytes, const ASN1_BIT_STRING* bits) {
    if (!bits) {
        return;
    }
    const unsigned char* data = ASN1_STRING_get0_data(bits);
    const int length = ASN1_STRING_length(bits);
    bytes.assign(data, data + (length > 0 ? length : 0));
    blob.cbData = static_cast<DWORD>(bytes.size());
    blob.pbData = bytes.empty() ? nullptr : bytes.data();
    // OpenSSL keeps the unused-bit count in the string's flags.
    blob.cUnusedBits = (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) ? (bits->flags & 0x07) : 0;
}

} // namespace

std::string HexUpper(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::shared_ptr<const CDecodedCert> CDecodedCert::Decode(std::span<const uint8_t> bytes,
                                                         DWORD& error) {
    error = CRYPT_E_ASN1_BADTAG;
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) {
        return nullptr;
    }
    if (bytes[0] != 0x30) {
        return nullptr;
    }
    const unsigned char* cursor = bytes.data();
    X509Ptr x509(d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())));
    if (!x509) {
        error = CRYPT_E_ASN1_CORRUPT;
        return nullptr;
    }
    auto decoded = std::make_shared<CDecodedCert>();
    const auto consumed = static_cast<size_t>(cursor - bytes.data());
    decoded->m_der.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(consumed));
    decoded->m_x509 = std::move(x509);
    if (!decoded->Fill(error)) {
        return nullptr;
    }
    return decoded;
}

std::unique_ptr<CertContextImpl> CertContextImpl::Decode(std::span<const uint8_t> bytes,
                                                         DWORD& error) {
    auto decoded = CDecodedCert::Decode(bytes, error);
    return decoded ? std::make_unique<CertContextImpl>(std::move(decoded)) : nullptr;
}

CertContextImpl::CertContextImpl(std::shared_ptr<const CDecodedCert> decoded)
    : m_decoded(std::move(decoded)), m_info(m_decoded->Info()) {
    m_context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    // CryptoAPI hands out non-const pointers; the bytes are never written.
    m_context.pbCertEncoded = const_cast<BYTE*>(m_decoded->Der().data());
    m_context.cbCertEncoded = static_cast<DWORD>(m_decoded->Der().size());
    m_context.pCertInfo = &m_info;
    m_context.hCertStore = nullptr;
}

bool CDecodedCert::Fill(DWORD& error) {
    X509* x = m_x509.get();
    SHA1(m_der.data(), m_der.size(), m_sha1.data());
    m_thumbprint = HexUpper(m_sha1);

    m_info.dwVersion = static_cast<DWORD>(X509_get_version(x));
    m_serial = SerialLittleEndian(X509_get0_serialNumber(x));
    SetBlob(m_info.SerialNumber, m_serial);

    const X509_ALGOR* signature = X509_get0_tbs_sigalg(x);
    const ASN1_OBJECT* signatureOid = nullptr;
    X509_ALGOR_get0(&signatureOid, nullptr, nullptr, signature);
    m_signatureOid = OidText(signatureOid);
    m_info.SignatureAlgorithm.pszObjId = m_signatureOid.data();
    m_signatureParams = AlgorithmParams(signature);
    SetBlob(m_info.SignatureAlgorithm.Parameters, m_signatureParams);

    m_issuer = Encode(X509_get_issuer_name(x), [](const X509_NAME* n, unsigned char** out) {
        return i2d_X509_NAME(n, out);
    });
    SetBlob(m_info.Issuer, m_issuer);
    m_subject = Encode(X509_get_subject_name(x), [](const X509_NAME* n, unsigned char** out) {
        return i2d_X509_NAME(n, out);
    });
    SetBlob(m_info.Subject, m_subject);
    m_info.NotBefore = ToFileTime(X509_get0_notBefore(x));
    m_info.NotAfter = ToFileTime(X509_get0_notAfter(x));

    ASN1_OBJECT* keyOid = nullptr;
    const unsigned char* key = nullptr;
    int keyLength = 0;
    X509_ALGOR* keyAlgorithm = nullptr;
    if (!X509_PUBKEY_get0_param(&keyOid, &key, &keyLength, &keyAlgorithm,
                                X509_get_X509_PUBKEY(x))) {
        error = CRYPT_E_ASN1_CORRUPT;
        return false;
    }
    m_keyOid = OidText(keyOid);
    m_info.SubjectPublicKeyInfo.Algorithm.pszObjId = m_keyOid.data();
    m_keyParams = AlgorithmParams(keyAlgorithm);
    SetBlob(m_info.SubjectPublicKeyInfo.Algorithm.Parameters, m_keyParams);
    m_publicKey.assign(key, key + (keyLength > 0 ? keyLength : 0));
    m_info.SubjectPublicKeyInfo.PublicKey.cbData = static_cast<DWORD>(m_publicKey.size());
    m_info.SubjectPublicKeyInfo.PublicKey.pbData =
        m_publicKey.empty() ? nullptr : m_publicKey.data();
    m_info.SubjectPublicKeyInfo.PublicKey.cUnusedBits = 0;

    const ASN1_BIT_STRING* issuerUid = nullptr;
    const ASN1_BIT_STRING* subjectUid = nullptr;
    X509_get0_uids(x, &issuerUid, &subjectUid);
    SetBitBlob(m_info.IssuerUniqueId, m_issuerUid, issuerUid);
    SetBitBlob(m_info.SubjectUniqueId, m_subjectUid, subjectUid);

    const int count = X509_get_ext_count(x);
    const auto extensionCount = static_cast<size_t>(count > 0 ? count : 0);
    m_extensionOids.reserve(extensionCount);
    m_extensionValues.reserve(extensionCount);
    for (size_t i = 0; i < extensionCount; ++i) {
        X509_EXTENSION* extension = X509_get_ext(x, static_cast<int>(i));
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        m_extensionOids.push_back(OidText(X509_EXTENSION_get_object(extension)));
        const unsigned char* data = ASN1_STRING_get0_data(value);
        const int length = ASN1_STRING_length(value);
        m_extensionValues.emplace_back(data, data + (length > 0 ? length : 0));
    }
    m_extensions.resize(extensionCount);
    for (size_t i = 0; i < extensionCount; ++i) {
        CERT_EXTENSION& e = m_extensions[i];
        e.pszObjId = m_extensionOids[i].data();
        e.fCritical =
            X509_EXTENSION_get_critical(X509_get_ext(x, static_cast<int>(i))) ? TRUE : FALSE;
        SetBlob(e.Value, m_extensionValues[i]);
    }
    m_info.cExtension = static_cast<DWORD>(extensionCount);
    m_info.rgExtension = m_extensions.empty() ? nullptr : m_extensions.data();
    return true;
}

CertProperties CertContextImpl::Properties() const {
    const std::lock_guard lock(m_mutex);
    return m_properties;
}

void CertContextImpl::SetProperties(CertProperties properties) {
    const std::lock_guard lock(m_mutex);
    m_properties = std::move(properties);
}

std::optional<StoreBinding> CertContextImpl::Binding() const {
    const std::lock_guard lock(m_mutex);
    return m_deleted ? std::nullopt : m_binding;
}

std::optional<uint64_t> CertContextImpl::Sequence() const {
    const std::lock_guard lock(m_mutex);
    return m_binding ? std::optional<uint64_t>(m_binding->sequence) : std::nullopt;
}

void CertContextImpl::Bind(StoreBinding binding, HCERTSTORE store) {
    const std::lock_guard lock(m_mutex);
    m_binding = std::move(binding);
    m_deleted = false;
    m_context.hCertStore = store;
}

void CertContextImpl::Unbind() {
    const std::lock_guard lock(m_mutex);
    m_deleted = true;
}

namespace {

struct Entry {
    std::unique_ptr<CertContextImpl> impl;
    long references = 1;
};

struct ContextTable {
    std::mutex mutex;
    std::unordered_map<const CERT_CONTEXT*, Entry> byContext;
    std::unordered_map<const CERT_INFO*, CertContextImpl*> byInfo;
};

ContextTable& Table() {
    static ContextTable table;
    return table;
}

} // namespace

PCCERT_CONTEXT RegisterContext(std::unique_ptr<CertContextImpl> impl) {
    if (!impl) {
        return nullptr;
    }
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const CERT_CONTEXT* context = impl->Context();
    table.byInfo[impl->Info()] = impl.get();
    table.byContext[context] = Entry{std::move(impl), 1};
    return context;
}

CertContextImpl* LookupContext(PCCERT_CONTEXT context) {
    if (!context) {
        return nullptr;
    }
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto it = table.byContext.find(context);
    return it == table.byContext.end() ? nullptr : it->second.impl.get();
}

CertContextImpl* LookupInfo(const CERT_INFO* info) {
    if (!info) {
        return nullptr;
    }
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto it = table.byInfo.find(info);
    return it == table.byInfo.end() ? nullptr : it->second;
}

bool AddRefContext(PCCERT_CONTEXT context) {
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto it = table.byContext.find(context);
    if (it == table.byContext.end()) {
        return false;
    }
    ++it->second.references;
    return true;
}

bool ReleaseContext(PCCERT_CONTEXT context) {
    std::unique_ptr<CertContextImpl> doomed;
    {
        auto& table = Table();
        const std::lock_guard lock(table.mutex);
        const auto it = table.byContext.find(context);
        if (it == table.byContext.end()) {
            return false;
        }
        if (--it->second.references > 0) {
            return true;
        }
        doomed = std::move(it->second.impl);
        table.byInfo.erase(doomed->Info());
        table.byContext.erase(it);
    }
    return true; // `doomed` is destroyed outside the lock
}

} // namespace velk::certstore
