// Registration of a card's certificates when it is inserted.

#include "monitor/CCert.h"

#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "monitor/OperationLock.h"
#include "platform/certstore/WideText.h"
#include "platform/scarddb/SCardDb.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Container names of the minidriver fit in 99 characters.
constexpr DWORD kContainerNameSize = 100;

// The first card name that the database gives for the ATR ("" when none).
// The database hands out memory of its own, not the resource manager's, so
// the names come into a buffer of ours (size first, then the names).
LONG FirstCardName(SCARDCONTEXT context, const BYTE* atr, std::string& name) {
    name.clear();
    DWORD length = 0;
    LONG rv = SCardListCardsA(context, atr, nullptr, 0, nullptr, &length);
    if (rv != SCARD_S_SUCCESS || length == 0) {
        return rv;
    }
    std::vector<char> names(length + 1, '\0');
    rv = SCardListCardsA(context, atr, nullptr, 0, names.data(), &length);
    if (rv == SCARD_S_SUCCESS) {
        name = names.data(); // the list is NUL-separated: its first name
    }
    return rv;
}

LONG CardProvider(SCARDCONTEXT context, const std::string& cardName, std::string& provider) {
    provider.clear();
    DWORD length = 0;
    LONG rv = SCardGetCardTypeProviderNameA(context, cardName.c_str(), SCARD_PROVIDER_CSP, nullptr,
                                            &length);
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    std::vector<char> buffer(length + 1, '\0');
    rv = SCardGetCardTypeProviderNameA(context, cardName.c_str(), SCARD_PROVIDER_CSP, buffer.data(),
                                       &length);
    if (rv == SCARD_S_SUCCESS) {
        provider = buffer.data();
    }
    return rv;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The DER certificate of a container's exchange key; empty when the
// container has no such key or certificate.
std::vector<BYTE> ExchangeCertificate(HCRYPTPROV container) {
    monitor::KeyOwner key;
    if (!CryptGetUserKey(container, AT_KEYEXCHANGE, key.Put())) {
        return {};
    }
    DWORD length = 0;
    if (!CryptGetKeyParam(key.Get(), KP_CERTIFICATE, nullptr, &length, 0) || length == 0) {
        return {};
    }
    std::vector<BYTE> der(length);
    if (!CryptGetKeyParam(key.Get(), KP_CERTIFICATE, der.data(), &length, 0)) {
        return {};
    }
    der.resize(length);
    return der;
}

} // namespace

LONG CCert::AddReaderCertificates(const SCARD_READERSTATE* record) {
    if (record == nullptr || record->szReader == nullptr) {
        return -1;
    }
    std::lock_guard operation(monitor::OperationMutex());
    if (!g_CertCollection.Create()) {
        // A card is never registered twice.
        RemoveReaderCertificates(record);
    }
    const std::string reader = record->szReader;
    const SCARDCONTEXT context = m_pcsc.Context();

    std::string cardName;
    LONG status = FirstCardName(context, record->rgbAtr, cardName);
    if (status != SCARD_S_SUCCESS || !StartsWith(cardName, monitor::kCardNamePrefix)) {
        return status; // a card of another make, or none that the database knows
    }
    std::string provider;
    status = CardProvider(context, cardName, provider);
    if (status != SCARD_S_SUCCESS || provider.empty() ||
        (provider != monitor::kBaseProvider && provider != monitor::kMakerProvider)) {
        return status;
    }
    AddCardContainers(reader, cardName, provider);
    return status;
}

LONG CCert::AddCardContainers(const std::string& reader, const std::string& cardName,
                              const std::string& provider) {
    const std::string prefix = monitor::ReaderPrefix(reader);
    monitor::ProvOwner card;
    if (!CryptAcquireContextA(card.Put(), prefix.c_str(), provider.c_str(), PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
        m_lastError = GetLastError();
        // A Micardo card may still be busy from its reset: one more try.
        if (!StartsWith(cardName, monitor::kMicardoPrefix) ||
            !CryptAcquireContextA(card.Put(), prefix.c_str(), provider.c_str(), PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT)) {
            m_lastError = GetLastError();
            return -1;
        }
    }

    char name[kContainerNameSize];
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        std::memset(name, 0, sizeof name);
        DWORD length = sizeof name - 1;
        if (!CryptGetProvParam(card.Get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name),
                               &length, flags)) {
            break; // the end of the list, or a failure: both end the operation
        }
        const std::string containerName(name, strnlen(name, sizeof name));
        const std::string path = prefix + containerName;

        // Any failure from here to the store ends the registration of this
        // card; the containers before it stay registered.
        monitor::ProvOwner container;
        if (!CryptAcquireContextA(container.Put(), path.c_str(), provider.c_str(), PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT)) {
            break;
        }
        const std::vector<BYTE> der = ExchangeCertificate(container.Get());
        if (der.empty()) {
            break;
        }
        const monitor::CertOwner cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                   static_cast<DWORD>(der.size())));
        if (!cert) {
            break;
        }
        const bool selfSigned =
            WTHelperCertIsSelfSigned(X509_ASN_ENCODING, cert.Get()->pCertInfo) != FALSE;
        const bool userKey = containerName.size() > 4 && containerName[4] == '0';
        if (userKey) {
            if (!monitor::SetKeyProvInfo(cert.Get(), path, provider) ||
                !AddToStore(u"MY", cert.Get())) {
                break;
            }
        } else {
            AddToStore(selfSigned ? u"ROOT" : u"CA", cert.Get());
        }
        if (userKey && g_CertCollection.Append(std::make_shared<const CCertCollection>(
                           cert.Get(), velk::Utf8ToWide(path), reader))) {
            ++g_CollectionCount;
        }
        NotifyCollectionChanged();
    }
    return 0;
}

bool CCert::AddToStore(const WCHAR* storeName, PCCERT_CONTEXT cert) {
    if (storeName == nullptr || cert == nullptr) {
        return false;
    }
    const monitor::StoreOwner store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, storeName));
    if (!store) {
        return false;
    }
    const DWORD disposition =
        velk::WideView(storeName) == u"MY" ? CERT_STORE_ADD_REPLACE_EXISTING : CERT_STORE_ADD_NEW;
    return CertAddCertificateContextToStore(store.Get(), cert, disposition, nullptr) != FALSE;
}
