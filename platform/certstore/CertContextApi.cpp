// Certificate contexts: creation, reference counts, properties and the
// questions asked of one certificate.

#include "platform/certstore/CertContext.h"
#include "platform/certstore/CertStore.h"
#include "platform/certstore/StoreHive.h"
#include "platform/certstore/WideText.h"
#include "platform/registry/RegTransaction.h"

#include <openssl/err.h>

#include <cstring>
#include <mutex>

using namespace velk::certstore;

namespace {

constexpr DWORD kKnownEncodings = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The bytes CertGetCertificateContextProperty hands out for the key-provider
// information: the structure, its parameter array, both strings, then the
// parameters' data, all in one buffer.
size_t KeyProvInfoSize(const KeyProvInfo& info) {
    size_t total = sizeof(CRYPT_KEY_PROV_INFO) + info.params.size() * sizeof(CRYPT_KEY_PROV_PARAM) +
                   (info.container.size() + info.provider.size() + 2) * sizeof(WCHAR);
    for (const auto& p : info.params) {
        total += p.data.size();
    }
    return total;
}

// Writes the flattened key-provider information into `buffer` (at least
// KeyProvInfoSize(info) bytes), with pointers into `buffer` itself.
void WriteKeyProvInfo(const KeyProvInfo& info, uint8_t* buffer) {
    const size_t header = sizeof(CRYPT_KEY_PROV_INFO);
    const size_t paramsSize = info.params.size() * sizeof(CRYPT_KEY_PROV_PARAM);
    const size_t containerOffset = header + paramsSize;
    const size_t providerOffset = containerOffset + (info.container.size() + 1) * sizeof(WCHAR);
    size_t dataOffset = providerOffset + (info.provider.size() + 1) * sizeof(WCHAR);

    std::memcpy(buffer + containerOffset, info.container.c_str(),
                (info.container.size() + 1) * sizeof(WCHAR));
    std::memcpy(buffer + providerOffset, info.provider.c_str(),
                (info.provider.size() + 1) * sizeof(WCHAR));
    for (size_t i = 0; i < info.params.size(); ++i) {
        const auto& p = info.params[i];
        CRYPT_KEY_PROV_PARAM param{};
        param.dwParam = p.param;
        param.dwFlags = p.flags;
        param.cbData = static_cast<DWORD>(p.data.size());
        param.pbData = p.data.empty() ? nullptr : buffer + dataOffset;
        if (!p.data.empty()) {
            std::memcpy(buffer + dataOffset, p.data.data(), p.data.size());
        }
        dataOffset += p.data.size();
        std::memcpy(buffer + header + i * sizeof param, &param, sizeof param);
    }
    CRYPT_KEY_PROV_INFO out{};
    out.pwszContainerName = reinterpret_cast<LPWSTR>(buffer + containerOffset);
    out.pwszProvName = reinterpret_cast<LPWSTR>(buffer + providerOffset);
    out.dwProvType = info.provType;
    out.dwFlags = info.flags;
    out.cProvParam = static_cast<DWORD>(info.params.size());
    out.rgProvParam =
        info.params.empty() ? nullptr : reinterpret_cast<PCRYPT_KEY_PROV_PARAM>(buffer + header);
    out.dwKeySpec = info.keySpec;
    std::memcpy(buffer, &out, sizeof out);
}

bool ReadKeyProvInfo(const CRYPT_KEY_PROV_INFO& in, KeyProvInfo& out) {
    if (in.cProvParam > kMaxKeyProvParams || (in.cProvParam > 0 && !in.rgProvParam)) {
        return false;
    }
    out.container = std::u16string(velk::WideView(in.pwszContainerName));
    out.provider = std::u16string(velk::WideView(in.pwszProvName));
    out.provType = static_cast<uint32_t>(in.dwProvType);
    out.flags = static_cast<uint32_t>(in.dwFlags);
    out.keySpec = static_cast<uint32_t>(in.dwKeySpec);
    for (DWORD i = 0; i < in.cProvParam; ++i) {
        const CRYPT_KEY_PROV_PARAM& p = in.rgProvParam[i];
        if (p.cbData > 0 && !p.pbData) {
            return false;
        }
        KeyProvParam param;
        param.param = static_cast<uint32_t>(p.dwParam);
        param.flags = static_cast<uint32_t>(p.dwFlags);
        if (p.cbData > 0) {
            param.data.assign(p.pbData, p.pbData + p.cbData);
        }
        out.params.push_back(std::move(param));
    }
    return true;
}

BOOL CopyOut(const uint8_t* data, size_t size, void* pvData, DWORD* pcbData,
             const KeyProvInfo* flatten = nullptr) {
    if (!pvData) {
        *pcbData = static_cast<DWORD>(size);
        return TRUE;
    }
    if (*pcbData < size) {
        *pcbData = static_cast<DWORD>(size);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (flatten) {
        WriteKeyProvInfo(*flatten, static_cast<uint8_t*>(pvData));
    } else if (size > 0) {
        std::memcpy(pvData, data, size);
    }
    *pcbData = static_cast<DWORD>(size);
    return TRUE;
}

} // namespace

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded) {
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 ||
        (dwCertEncodingType & ~kKnownEncodings) != 0 || !pbCertEncoded || cbCertEncoded == 0) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    try {
        DWORD error = 0;
        auto impl = CertContextImpl::Decode(std::span(pbCertEncoded, cbCertEncoded), error);
        ERR_clear_error();
        if (!impl) {
            SetLastError(error);
            return nullptr;
        }
        return RegisterContext(std::move(impl));
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY);
        return nullptr;
    }
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext) {
        return TRUE;
    }
    if (!ReleaseContext(pCertContext)) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    return TRUE;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext || !AddRefContext(pCertContext)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    return pCertContext;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData) {
    const CertContextImpl* impl = LookupContext(pCertContext);
    if (!impl || !pcbData) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (dwPropId == CERT_SHA1_HASH_PROP_ID) {
        return CopyOut(impl->Sha1().data(), impl->Sha1().size(), pvData, pcbData);
    }
    try {
        const CertProperties properties = impl->Properties();
        if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
            if (!properties.keyProvInfo) {
                SetLastError(CRYPT_E_NOT_FOUND);
                return FALSE;
            }
            const size_t size = KeyProvInfoSize(*properties.keyProvInfo);
            return CopyOut(nullptr, size, pvData, pcbData, &*properties.keyProvInfo);
        }
        const auto it = properties.other.find(static_cast<uint32_t>(dwPropId));
        if (it == properties.other.end()) {
            SetLastError(CRYPT_E_NOT_FOUND);
            return FALSE;
        }
        return CopyOut(it->second.data(), it->second.size(), pvData, pcbData);
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY);
        return FALSE;
    }
}

BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                       DWORD /*dwFlags*/, const void* pvData) {
    CertContextImpl* impl = LookupContext(pCertContext);
    if (!impl || dwPropId == 0 || dwPropId == CERT_SHA1_HASH_PROP_ID ||
        dwPropId == CERT_KEY_PROV_HANDLE_PROP_ID) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    try {
        CertProperties properties = impl->Properties();
        if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
            if (pvData) {
                KeyProvInfo info;
                if (!ReadKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData), info)) {
                    SetLastError(E_INVALIDARG);
                    return FALSE;
                }
                properties.keyProvInfo = std::move(info);
            } else {
                properties.keyProvInfo.reset();
            }
        } else if (pvData) {
            const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
            if (blob->cbData > kMaxBlobSize || (blob->cbData > 0 && !blob->pbData)) {
                SetLastError(E_INVALIDARG);
                return FALSE;
            }
            properties.other[static_cast<uint32_t>(dwPropId)].assign(blob->pbData,
                                                                     blob->pbData + blob->cbData);
        } else {
            properties.other.erase(static_cast<uint32_t>(dwPropId));
        }
        const std::lock_guard writeLock(StoreWriteMutex());
        if (const auto binding = impl->Binding()) {
            // A store's certificate: the hive gets the change at once, unless
            // the entry has been deleted meanwhile.
            RegTransaction transaction(HKEY_CURRENT_USER);
            std::optional<CertBlob> stored;
            LONG error = transaction.Status();
            if (error == ERROR_SUCCESS) {
                error = ReadEntry(binding->storeName, binding->thumbprint, stored);
            }
            if (error == ERROR_SUCCESS && stored) {
                stored->properties = properties;
                error = WriteEntry(binding->storeName, binding->thumbprint, *stored);
                if (error == ERROR_SUCCESS) {
                    error = transaction.Commit();
                }
            }
            if (error != ERROR_SUCCESS) {
                SetLastError(static_cast<DWORD>(error));
                return FALSE;
            }
        }
        impl->SetProperties(std::move(properties));
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY);
        return FALSE;
    }
}

PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions,
                                  CERT_EXTENSION rgExtensions[]) {
    if (!pszObjId || (cExtensions > 0 && !rgExtensions)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    for (DWORD i = 0; i < cExtensions; ++i) {
        if (rgExtensions[i].pszObjId && std::strcmp(rgExtensions[i].pszObjId, pszObjId) == 0) {
            return &rgExtensions[i];
        }
    }
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
}

BOOL CertComparePublicKeyInfo(DWORD /*dwCertEncodingType*/, PCERT_PUBLIC_KEY_INFO pPublicKey1,
                              PCERT_PUBLIC_KEY_INFO pPublicKey2) {
    if (!pPublicKey1 || !pPublicKey2) {
        return FALSE;
    }
    const char* oid1 = pPublicKey1->Algorithm.pszObjId ? pPublicKey1->Algorithm.pszObjId : "";
    const char* oid2 = pPublicKey2->Algorithm.pszObjId ? pPublicKey2->Algorithm.pszObjId : "";
    const CRYPT_BIT_BLOB& key1 = pPublicKey1->PublicKey;
    const CRYPT_BIT_BLOB& key2 = pPublicKey2->PublicKey;
    if (std::strcmp(oid1, oid2) != 0 || key1.cbData != key2.cbData ||
        key1.cUnusedBits != key2.cUnusedBits) {
        return FALSE;
    }
    if (key1.cbData == 0) {
        return TRUE;
    }
    return key1.pbData && key2.pbData && std::memcmp(key1.pbData, key2.pbData, key1.cbData) == 0
               ? TRUE
               : FALSE;
}

BOOL WTHelperCertIsSelfSigned(DWORD /*dwEncoding*/, PCERT_INFO pCert) {
    const CertContextImpl* impl = LookupInfo(pCert);
    if (!impl) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    X509* x = impl->Certificate();
    bool selfSigned = X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) == 0;
    if (selfSigned) {
        EVP_PKEY* key = X509_get0_pubkey(x);
        selfSigned = key && X509_verify(x, key) == 1;
    }
    ERR_clear_error();
    return selfSigned ? TRUE : FALSE;
}
