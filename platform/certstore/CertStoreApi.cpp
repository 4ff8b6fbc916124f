// CertOpenStore and the calls that work on an open store.

#include "platform/certstore/CertContext.h"
#include "platform/certstore/CertStore.h"
#include "platform/certstore/StoreHandle.h"
#include "platform/certstore/StoreHive.h"
#include "platform/certstore/WideText.h"
#include "platform/registry/RegTransaction.h"
#include "platform/registry/Registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

using namespace velk::certstore;

namespace {

#ifndef E_ACCESSDENIED
#define E_ACCESSDENIED 0x80070005UL
#endif

// A store as read from the hive, with its certificates decoded (null where
// a certificate does not decode).
struct LoadedStore {
    StoreContent content;
    std::vector<std::shared_ptr<const CDecodedCert>> decoded;
};

// What a store looked like when the hive last had this stamp, so that a
// store that did not change is neither read nor decoded again.
struct CachedStore {
    uint64_t stamp = 0;
    std::shared_ptr<const LoadedStore> store;
};

std::mutex g_cacheMutex;
std::map<std::string, CachedStore> g_cache; // by upper-case store name

std::string UpperName(const std::string& name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

LONG LoadStore(const std::string& name, std::shared_ptr<const LoadedStore>& out) {
    uint64_t stamp = 0;
    const bool haveStamp = RegQueryChangeStamp(HKEY_CURRENT_USER, &stamp) == ERROR_SUCCESS;
    const std::string key = UpperName(name);
    if (haveStamp) {
        const std::lock_guard lock(g_cacheMutex);
        const auto it = g_cache.find(key);
        if (it != g_cache.end() && it->second.stamp == stamp) {
            out = it->second.store;
            return ERROR_SUCCESS;
        }
    }
    auto loaded = std::make_shared<LoadedStore>();
    if (const LONG error = ReadStore(name, loaded->content)) {
        return error;
    }
    for (const auto& entry : loaded->content.entries) {
        DWORD error = 0;
        auto decoded = CDecodedCert::Decode(entry.blob.der, error);
        if (decoded && decoded->Der().size() != entry.blob.der.size()) {
            decoded.reset(); // trailing bytes: not what the store wrote
        }
        if (!decoded) {
            ReportDamagedEntry(name, entry.thumbprint, "its certificate cannot be decoded");
        }
        loaded->decoded.push_back(std::move(decoded));
    }
    out = loaded;
    if (haveStamp) {
        const std::lock_guard lock(g_cacheMutex);
        g_cache[key] = CachedStore{stamp, std::move(loaded)};
    }
    return ERROR_SUCCESS;
}

// A context of the open store for one stored entry.
PCCERT_CONTEXT MakeStoreContext(CStoreHandle& store, std::shared_ptr<const CDecodedCert> decoded,
                                const std::string& thumbprint, const CertBlob& blob) {
    auto impl = std::make_unique<CertContextImpl>(std::move(decoded));
    impl->SetProperties(blob.properties);
    impl->Bind(StoreBinding{store.Name(), thumbprint, blob.sequence}, store.Handle());
    return RegisterContext(std::move(impl));
}

bool ValidStoreName(const std::string& name) {
    return !name.empty() && name.size() <= REG_MAX_KEY_NAME && name.find('\\') == std::string::npos;
}

size_t IndexAfter(const CStoreHandle& store, PCCERT_CONTEXT previous) {
    if (!previous) {
        return 0;
    }
    const auto it = std::find(store.m_entries.begin(), store.m_entries.end(), previous);
    if (it != store.m_entries.end()) {
        return static_cast<size_t>(it - store.m_entries.begin()) + 1;
    }
    // The previous certificate left the store meanwhile: go on after its place.
    const CertContextImpl* impl = LookupContext(previous);
    const auto sequence = impl ? impl->Sequence() : std::nullopt;
    if (!sequence) {
        return store.m_entries.size();
    }
    size_t index = 0;
    while (index < store.m_entries.size()) {
        const auto other = LookupContext(store.m_entries[index])->Sequence();
        if (other && *other > *sequence) {
            break;
        }
        ++index;
    }
    return index;
}

bool Matches(PCCERT_CONTEXT candidate, DWORD findType, const void* para) {
    switch (findType) {
    case CERT_FIND_ANY:
        return true;
    case CERT_FIND_SHA1_HASH: {
        const auto* hash = static_cast<const CRYPT_HASH_BLOB*>(para);
        const CertContextImpl* impl = LookupContext(candidate);
        return hash->cbData == impl->Sha1().size() && hash->pbData &&
               std::memcmp(hash->pbData, impl->Sha1().data(), impl->Sha1().size()) == 0;
    }
    case CERT_FIND_PUBLIC_KEY:
        return CertComparePublicKeyInfo(
                   X509_ASN_ENCODING, &candidate->pCertInfo->SubjectPublicKeyInfo,
                   const_cast<PCERT_PUBLIC_KEY_INFO>(
                       static_cast<const CERT_PUBLIC_KEY_INFO*>(para))) != FALSE;
    case CERT_FIND_EXISTING: {
        const auto other = static_cast<PCCERT_CONTEXT>(para);
        return other->cbCertEncoded == candidate->cbCertEncoded &&
               std::memcmp(other->pbCertEncoded, candidate->pbCertEncoded,
                           candidate->cbCertEncoded) == 0;
    }
    default:
        return false;
    }
}

CertProperties MergeProperties(const CertProperties& base, const CertProperties& overlay) {
    CertProperties merged = base;
    if (overlay.keyProvInfo) {
        merged.keyProvInfo = overlay.keyProvInfo;
    }
    for (const auto& [id, bytes] : overlay.other) {
        merged.other[id] = bytes;
    }
    return merged;
}

// Puts the store's context for `thumbprint` in place (replacing one that is
// there) and returns it with a reference for the caller when `out` is set.
void UpdateSnapshot(CStoreHandle& store, PCCERT_CONTEXT fresh, PCCERT_CONTEXT* out) {
    const std::string& thumbprint = LookupContext(fresh)->Thumbprint();
    const std::lock_guard lock(store.m_mutex);
    auto it = std::find_if(store.m_entries.begin(), store.m_entries.end(), [&](PCCERT_CONTEXT c) {
        return LookupContext(c)->Thumbprint() == thumbprint;
    });
    if (it != store.m_entries.end()) {
        ReleaseContext(*it);
        *it = fresh;
    } else {
        store.m_entries.push_back(fresh);
    }
    if (out) {
        AddRefContext(fresh);
        *out = fresh;
    }
}

} // namespace

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD /*dwEncodingType*/,
                         HCRYPTPROV_LEGACY /*hCryptProv*/, DWORD dwFlags, const void* pvPara) {
    const bool wide = lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W;
    if ((!wide && lpszStoreProvider != CERT_STORE_PROV_SYSTEM_A) || !pvPara) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    const DWORD location = dwFlags & CERT_SYSTEM_STORE_LOCATION_MASK;
    if (location != CERT_SYSTEM_STORE_CURRENT_USER && location != 0) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    if (dwFlags & CERT_STORE_DELETE_FLAG) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    const std::string name = wide ? velk::WideToUtf8(velk::WideView(static_cast<LPCWSTR>(pvPara)))
                                  : std::string(static_cast<const char*>(pvPara));
    if (!ValidStoreName(name)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    try {
        if ((dwFlags & CERT_STORE_OPEN_EXISTING_FLAG) && !StoreExists(name)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        std::shared_ptr<const LoadedStore> loaded;
        if (const LONG error = LoadStore(name, loaded)) {
            SetLastError(static_cast<DWORD>(error));
            return nullptr;
        }
        auto store =
            std::make_shared<CStoreHandle>(name, (dwFlags & CERT_STORE_READONLY_FLAG) != 0);
        store->m_skipped = loaded->content.skipped;
        for (size_t i = 0; i < loaded->content.entries.size(); ++i) {
            const auto& entry = loaded->content.entries[i];
            if (loaded->decoded[i]) {
                store->m_entries.push_back(
                    MakeStoreContext(*store, loaded->decoded[i], entry.thumbprint, entry.blob));
            } else {
                ++store->m_skipped;
            }
        }
        return RegisterStore(std::move(store));
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY);
        return nullptr;
    }
}

HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, hProv,
                         CERT_SYSTEM_STORE_CURRENT_USER, szSubsystemProtocol);
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD /*dwFlags*/) {
    if (!hCertStore) {
        return TRUE;
    }
    if (!UnregisterStore(hCertStore)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD /*dwCertEncodingType*/,
                                          DWORD /*dwFindFlags*/, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext) {
    const auto store = LookupStore(hCertStore);
    const bool knownType = dwFindType == CERT_FIND_ANY || dwFindType == CERT_FIND_SHA1_HASH ||
                           dwFindType == CERT_FIND_PUBLIC_KEY || dwFindType == CERT_FIND_EXISTING;
    if (!store || !knownType || (dwFindType != CERT_FIND_ANY && !pvFindPara) ||
        (dwFindType == CERT_FIND_EXISTING &&
         !LookupContext(static_cast<PCCERT_CONTEXT>(pvFindPara)))) {
        CertFreeCertificateContext(pPrevCertContext);
        SetLastError(store ? E_INVALIDARG : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    PCCERT_CONTEXT found = nullptr;
    {
        const std::lock_guard lock(store->m_mutex);
        for (size_t i = IndexAfter(*store, pPrevCertContext); i < store->m_entries.size(); ++i) {
            if (Matches(store->m_entries[i], dwFindType, pvFindPara)) {
                found = store->m_entries[i];
                AddRefContext(found);
                break;
            }
        }
    }
    CertFreeCertificateContext(pPrevCertContext);
    if (!found) {
        SetLastError(CRYPT_E_NOT_FOUND);
    }
    return found;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
    return CertFindCertificateInStore(hCertStore, X509_ASN_ENCODING, 0, CERT_FIND_ANY, nullptr,
                                      pPrevCertContext);
}

BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
    if (ppStoreContext) {
        *ppStoreContext = nullptr;
    }
    const auto store = LookupStore(hCertStore);
    const CertContextImpl* source = LookupContext(pCertContext);
    if (!store || !source || dwAddDisposition < CERT_STORE_ADD_NEW ||
        dwAddDisposition > CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
        SetLastError(store ? E_INVALIDARG : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (store->ReadOnly()) {
        SetLastError(E_ACCESSDENIED);
        return FALSE;
    }
    try {
        const std::lock_guard writeLock(StoreWriteMutex());
        // Look and write in one transaction, so that another process cannot
        // add the same certificate in between.
        RegTransaction transaction(HKEY_CURRENT_USER);
        if (const LONG error = transaction.Status()) {
            SetLastError(static_cast<DWORD>(error));
            return FALSE;
        }
        const std::string& thumbprint = source->Thumbprint();
        std::optional<CertBlob> existing;
        if (const LONG error = ReadEntry(store->Name(), thumbprint, existing)) {
            SetLastError(static_cast<DWORD>(error));
            return FALSE;
        }
        CertBlob blob;
        blob.der.assign(source->Der().begin(), source->Der().end());
        const CertProperties incoming = source->Properties();
        bool write = true;
        if (existing) {
            blob.sequence = existing->sequence;
            switch (dwAddDisposition) {
            case CERT_STORE_ADD_NEW:
                SetLastError(CRYPT_E_EXISTS);
                return FALSE;
            case CERT_STORE_ADD_USE_EXISTING:
                // The stored properties win; the new certificate only adds
                // what the stored one lacks.
                blob.properties = MergeProperties(incoming, existing->properties);
                write = blob.properties != existing->properties;
                break;
            case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES:
                blob.properties = MergeProperties(existing->properties, incoming);
                break;
            default:
                blob.properties = incoming;
                break;
            }
        } else {
            blob.properties = incoming;
            if (const LONG error = NextSequence(store->Name(), blob.sequence)) {
                SetLastError(static_cast<DWORD>(error));
                return FALSE;
            }
        }
        if (write) {
            LONG error = WriteEntry(store->Name(), thumbprint, blob);
            if (error == ERROR_SUCCESS) {
                error = transaction.Commit();
            }
            if (error != ERROR_SUCCESS) {
                SetLastError(static_cast<DWORD>(error));
                return FALSE;
            }
        }
        PCCERT_CONTEXT fresh = MakeStoreContext(*store, source->Decoded(), thumbprint, blob);
        UpdateSnapshot(*store, fresh, ppStoreContext);
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY);
        return FALSE;
    }
}

BOOL CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                      const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext) {
    if (ppCertContext) {
        *ppCertContext = nullptr;
    }
    PCCERT_CONTEXT created =
        CertCreateCertificateContext(dwCertEncodingType, pbCertEncoded, cbCertEncoded);
    if (!created) {
        return FALSE;
    }
    const BOOL added =
        CertAddCertificateContextToStore(hCertStore, created, dwAddDisposition, ppCertContext);
    const DWORD error = GetLastError();
    CertFreeCertificateContext(created);
    SetLastError(error);
    return added;
}

BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
    CertContextImpl* impl = LookupContext(pCertContext);
    if (!impl) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    const auto binding = impl->Binding();
    if (binding) {
        const auto store = LookupStore(pCertContext->hCertStore);
        if (store && store->ReadOnly()) {
            CertFreeCertificateContext(pCertContext);
            SetLastError(E_ACCESSDENIED);
            return FALSE;
        }
        {
            const std::lock_guard writeLock(StoreWriteMutex());
            if (const LONG error = DeleteEntry(binding->storeName, binding->thumbprint)) {
                CertFreeCertificateContext(pCertContext);
                SetLastError(static_cast<DWORD>(error));
                return FALSE;
            }
        }
        impl->Unbind();
        if (store && store->Name() == binding->storeName) {
            const std::lock_guard lock(store->m_mutex);
            const auto it =
                std::find(store->m_entries.begin(), store->m_entries.end(), pCertContext);
            if (it != store->m_entries.end()) {
                store->m_entries.erase(it);
                ReleaseContext(pCertContext); // the store's reference
            }
        }
    }
    CertFreeCertificateContext(pCertContext);
    return TRUE;
}

BOOL VelkCertStoreChangeStamp(uint64_t* pStamp) {
    if (!pStamp) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (const LONG error = RegQueryChangeStamp(HKEY_CURRENT_USER, pStamp)) {
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    return TRUE;
}

DWORD VelkCertStoreSkippedCount(HCERTSTORE hCertStore) {
    const auto store = LookupStore(hCertStore);
    if (!store) {
        return 0;
    }
    const std::lock_guard lock(store->m_mutex);
    return store->m_skipped;
}
