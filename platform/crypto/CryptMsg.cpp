// CryptDecryptMessage: OpenSSL parses the message and matches its recipients
// against the stores' certificates; the provider of the matching certificate
// unwraps the content key, so a card key never leaves its card; OpenSSL's EVP
// interface decrypts the content.

#include "platform/crypto/CryptMsg.h"

#include "platform/crypto/CmsEnvelope.h"
#include "platform/crypto/CryptProv.h"

#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

using velk::crypto::CmsEnvelopeParts;
using velk::crypto::CmsRecipientPart;

template <auto Free> struct OpenSslDeleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSslDeleter<CMS_ContentInfo_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslDeleter<ASN1_OBJECT_free>>;
using OctetsPtr = std::unique_ptr<ASN1_OCTET_STRING, OpenSslDeleter<ASN1_OCTET_STRING_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX_free>>;

// Key material and plaintext: the whole buffer is wiped when it ends.
class CWipedBytes {
public:
    CWipedBytes() = default;
    ~CWipedBytes() { OPENSSL_cleanse(m_bytes.data(), m_bytes.size()); }
    CWipedBytes(const CWipedBytes&) = delete;
    CWipedBytes& operator=(const CWipedBytes&) = delete;

    void Allocate(std::size_t size) {
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
        m_bytes.assign(size, 0);
        m_length = size;
    }
    uint8_t* Data() { return m_bytes.data(); }
    std::span<const uint8_t> View() const { return {m_bytes.data(), m_length}; }
    void SetLength(std::size_t length) { m_length = std::min(length, m_bytes.size()); }

private:
    std::vector<uint8_t> m_bytes;
    std::size_t m_length = 0;
};

class CCertOwner {
public:
    explicit CCertOwner(PCCERT_CONTEXT cert = nullptr) : m_cert(cert) {}
    ~CCertOwner() { CertFreeCertificateContext(m_cert); }
    CCertOwner(CCertOwner&& other) noexcept : m_cert(std::exchange(other.m_cert, nullptr)) {}
    CCertOwner& operator=(CCertOwner&& other) noexcept {
        std::swap(m_cert, other.m_cert);
        return *this;
    }
    PCCERT_CONTEXT Get() const { return m_cert; }
    PCCERT_CONTEXT Release() { return std::exchange(m_cert, nullptr); }

private:
    PCCERT_CONTEXT m_cert;
};

class CProvOwner {
public:
    explicit CProvOwner(HCRYPTPROV handle) : m_handle(handle) {}
    ~CProvOwner() {
        if (m_handle != 0) {
            CryptReleaseContext(m_handle, 0);
        }
    }
    CProvOwner(const CProvOwner&) = delete;
    CProvOwner& operator=(const CProvOwner&) = delete;
    HCRYPTPROV Get() const { return m_handle; }

private:
    HCRYPTPROV m_handle;
};

class CKeyOwner {
public:
    CKeyOwner() = default;
    ~CKeyOwner() {
        if (m_handle != 0) {
            CryptDestroyKey(m_handle);
        }
    }
    CKeyOwner(const CKeyOwner&) = delete;
    CKeyOwner& operator=(const CKeyOwner&) = delete;
    HCRYPTKEY* Put() { return &m_handle; }
    HCRYPTKEY Get() const { return m_handle; }

private:
    HCRYPTKEY m_handle = 0;
};

template <typename T, typename Decode>
auto DecodeElement(std::span<const uint8_t> der, Decode decode) {
    const unsigned char* p = der.data();
    return T(der.size() <= static_cast<std::size_t>(LONG_MAX)
                 ? decode(nullptr, &p, static_cast<long>(der.size()))
                 : nullptr);
}

int NidOf(std::span<const uint8_t> oidElement) {
    const auto oid = DecodeElement<ObjectPtr>(oidElement, d2i_ASN1_OBJECT);
    return oid ? OBJ_obj2nid(oid.get()) : NID_undef;
}

// The content cipher the message names, and its IV.
DWORD ContentCipher(const CmsEnvelopeParts& parts, const EVP_CIPHER*& cipher,
                    std::vector<uint8_t>& iv) {
    switch (NidOf(parts.contentAlgorithmOid)) {
    case NID_aes_128_cbc:
        cipher = EVP_aes_128_cbc();
        break;
    case NID_aes_192_cbc:
        cipher = EVP_aes_192_cbc();
        break;
    case NID_aes_256_cbc:
        cipher = EVP_aes_256_cbc();
        break;
    case NID_des_ede3_cbc:
        cipher = EVP_des_ede3_cbc();
        break;
    default:
        return CRYPT_E_UNKNOWN_ALGO;
    }
    if (cipher == nullptr) {
        return CRYPT_E_UNKNOWN_ALGO;
    }
    const auto octets =
        DecodeElement<OctetsPtr>(parts.contentAlgorithmParams, d2i_ASN1_OCTET_STRING);
    if (!octets || ASN1_STRING_length(octets.get()) != EVP_CIPHER_get_iv_length(cipher)) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    const uint8_t* bytes = ASN1_STRING_get0_data(octets.get());
    iv.assign(bytes, bytes + ASN1_STRING_length(octets.get()));
    const auto block = static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher));
    if (parts.ciphertext.empty() || parts.ciphertext.size() % block != 0 ||
        parts.ciphertext.size() > static_cast<std::size_t>(INT_MAX) - block) {
        return NTE_BAD_DATA;
    }
    return 0;
}

bool HasKeyProvInfo(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    return CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) !=
           FALSE;
}

// The first key-transport recipient (in message order) whose certificate,
// with a key-provider information, lies in one of the stores.
DWORD FindRecipient(const CRYPT_DECRYPT_MESSAGE_PARA& para, CMS_ContentInfo* cms,
                    const CmsEnvelopeParts& parts, std::size_t& index, CCertOwner& recipient) {
    STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(cms);
    if (infos == nullptr ||
        static_cast<std::size_t>(sk_CMS_RecipientInfo_num(infos)) != parts.recipients.size()) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    std::vector<std::pair<CCertOwner, X509Ptr>> candidates;
    for (DWORD s = 0; s < para.cCertStore; ++s) {
        const HCERTSTORE store = para.rghCertStore != nullptr ? para.rghCertStore[s] : nullptr;
        if (store == nullptr) {
            continue;
        }
        PCCERT_CONTEXT cert = nullptr;
        while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
            if (!HasKeyProvInfo(cert)) {
                continue;
            }
            const std::span<const uint8_t> der(cert->pbCertEncoded, cert->cbCertEncoded);
            auto x509 = DecodeElement<X509Ptr>(der, d2i_X509);
            if (x509) {
                candidates.emplace_back(CCertOwner(CertDuplicateCertificateContext(cert)),
                                        std::move(x509));
            }
        }
    }
    for (std::size_t i = 0; i < parts.recipients.size(); ++i) {
        CMS_RecipientInfo* info = sk_CMS_RecipientInfo_value(infos, static_cast<int>(i));
        if (!parts.recipients[i].keyTransport ||
            CMS_RecipientInfo_type(info) != CMS_RECIPINFO_TRANS) {
            continue;
        }
        for (auto& [cert, x509] : candidates) {
            if (CMS_RecipientInfo_ktri_cert_cmp(info, x509.get()) == 0) {
                index = i;
                recipient = std::move(cert);
                return 0;
            }
        }
    }
    return CRYPT_E_NO_DECRYPT_CERT;
}

// The provider of the certificate's key unwraps the content key (RSA PKCS #1
// v1.5); CryptDecrypt takes the cryptogram least significant byte first.
DWORD UnwrapContentKey(PCCERT_CONTEXT cert, std::span<const uint8_t> encryptedKey,
                       CWipedBytes& contentKey) {
    if (encryptedKey.empty() || encryptedKey.size() > 0xFFFFu) {
        return NTE_BAD_DATA;
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &handle, &keySpec, &callerFrees)) {
        return GetLastError();
    }
    const CProvOwner provider(handle);
    CKeyOwner key;
    if (!CryptGetUserKey(provider.Get(), keySpec, key.Put())) {
        return GetLastError();
    }
    contentKey.Allocate(encryptedKey.size());
    std::reverse_copy(encryptedKey.begin(), encryptedKey.end(), contentKey.Data());
    auto length = static_cast<DWORD>(encryptedKey.size());
    if (!CryptDecrypt(key.Get(), 0, TRUE, 0, contentKey.Data(), &length)) {
        return GetLastError();
    }
    contentKey.SetLength(length);
    return 0;
}

DWORD DecryptContent(const EVP_CIPHER* cipher, std::span<const uint8_t> key,
                     std::span<const uint8_t> iv, std::span<const uint8_t> ciphertext,
                     CWipedBytes& plain) {
    if (key.size() != static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher))) {
        return NTE_BAD_KEY;
    }
    const CipherCtxPtr context(EVP_CIPHER_CTX_new());
    if (!context) {
        return NTE_NO_MEMORY;
    }
    plain.Allocate(ciphertext.size() + static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher)));
    int updated = 0;
    int finished = 0;
    if (EVP_DecryptInit_ex(context.get(), cipher, nullptr, key.data(), iv.data()) != 1 ||
        EVP_DecryptUpdate(context.get(), plain.Data(), &updated, ciphertext.data(),
                          static_cast<int>(ciphertext.size())) != 1) {
        return NTE_FAIL;
    }
    // A wrong key shows here, as padding that does not check out.
    if (EVP_DecryptFinal_ex(context.get(), plain.Data() + updated, &finished) != 1) {
        return NTE_BAD_DATA;
    }
    plain.SetLength(static_cast<std::size_t>(updated) + static_cast<std::size_t>(finished));
    return 0;
}

CmsPtr ParseCms(std::span<const uint8_t> der) {
    return DecodeElement<CmsPtr>(der, d2i_CMS_ContentInfo);
}

// OpenSSL's view of the message and the walk's. A message in BER (indefinite
// lengths, as streaming tools write it) is walked in OpenSSL's DER of it,
// parsed once more, so that both views list the recipients in one order.
DWORD ParseMessage(std::span<const uint8_t> message, CmsEnvelopeParts& parts,
                   std::vector<uint8_t>& canonical, CmsPtr& cms) {
    const DWORD walked = velk::crypto::WalkEnvelopedMessage(message, parts);
    cms = ParseCms(message);
    if (walked == CRYPT_E_UNEXPECTED_MSG_TYPE || !cms) {
        return walked != 0 ? walked : CRYPT_E_ASN1_CORRUPT;
    }
    if (walked == 0) {
        return 0;
    }
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    if (length > 0) {
        canonical.assign(der, der + length);
    }
    OPENSSL_free(der);
    cms = ParseCms(canonical);
    if (!cms || velk::crypto::WalkEnvelopedMessage(canonical, parts) != 0) {
        return walked;
    }
    return 0;
}

DWORD DecryptMessage(const CRYPT_DECRYPT_MESSAGE_PARA* para, std::span<const uint8_t> message,
                     BYTE* pbDecrypted, DWORD* pcbDecrypted, PCCERT_CONTEXT* ppXchgCert) {
    if (para == nullptr || para->cbSize < sizeof(CRYPT_DECRYPT_MESSAGE_PARA) ||
        pcbDecrypted == nullptr || (para->dwMsgAndCertEncodingType & PKCS_7_ASN_ENCODING) == 0) {
        return E_INVALIDARG;
    }
    CmsEnvelopeParts parts;
    std::vector<uint8_t> canonical;
    CmsPtr cms;
    if (const DWORD error = ParseMessage(message, parts, canonical, cms)) {
        return error;
    }
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped) {
        return CRYPT_E_UNEXPECTED_MSG_TYPE;
    }
    const EVP_CIPHER* cipher = nullptr;
    std::vector<uint8_t> iv;
    if (const DWORD error = ContentCipher(parts, cipher, iv)) {
        return error;
    }
    std::size_t index = 0;
    CCertOwner recipient;
    if (const DWORD error = FindRecipient(*para, cms.get(), parts, index, recipient)) {
        return error;
    }
    const CmsRecipientPart& part = parts.recipients[index];
    if (NidOf(part.keyEncryptionOid) != NID_rsaEncryption) {
        return CRYPT_E_UNKNOWN_ALGO;
    }
    // The ciphertext's length bounds the plaintext's. Reporting it, rather
    // than the exact size, spares the size call the card's PIN prompt: the
    // user is asked once per message, on the call with the buffer.
    const auto bound = static_cast<DWORD>(parts.ciphertext.size());
    if (pbDecrypted == nullptr || *pcbDecrypted < bound) {
        const bool sizeOnly = pbDecrypted == nullptr;
        *pcbDecrypted = bound;
        if (!sizeOnly) {
            return ERROR_MORE_DATA;
        }
    } else {
        CWipedBytes contentKey;
        if (const DWORD error = UnwrapContentKey(recipient.Get(), part.encryptedKey, contentKey)) {
            return error;
        }
        CWipedBytes plain;
        if (const DWORD error =
                DecryptContent(cipher, contentKey.View(), iv, parts.ciphertext, plain)) {
            return error;
        }
        if (!plain.View().empty()) {
            std::memcpy(pbDecrypted, plain.View().data(), plain.View().size());
        }
        *pcbDecrypted = static_cast<DWORD>(plain.View().size());
    }
    if (ppXchgCert != nullptr) {
        *ppXchgCert = recipient.Release();
    }
    return 0;
}

} // namespace

BOOL CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara, const BYTE* pbEncryptedBlob,
                         DWORD cbEncryptedBlob, BYTE* pbDecrypted, DWORD* pcbDecrypted,
                         PCCERT_CONTEXT* ppXchgCert) {
    if (ppXchgCert != nullptr) {
        *ppXchgCert = nullptr;
    }
    DWORD error = 0;
    if (pbEncryptedBlob == nullptr && cbEncryptedBlob != 0) {
        error = E_INVALIDARG;
    } else {
        try {
            const std::span<const uint8_t> message(
                pbEncryptedBlob != nullptr ? pbEncryptedBlob : reinterpret_cast<const BYTE*>(""),
                cbEncryptedBlob);
            error = DecryptMessage(pDecryptPara, message, pbDecrypted, pcbDecrypted, ppXchgCert);
        } catch (const std::bad_alloc&) {
            error = E_OUTOFMEMORY;
        }
    }
    ERR_clear_error();
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
