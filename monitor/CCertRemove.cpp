// Removal of registrations: of one reader's card, and of everything this
// system registered.

#include "monitor/CCert.h"

#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "monitor/OperationLock.h"

#include <cstring>
#include <set>
#include <string>

namespace {

// Container names of the software provider fit in this buffer.
constexpr DWORD kContainerNameSize = 260;

// Walks "MY" from its first certificate and deletes each one that `remove`
// picks, starting the walk over after every deletion. A certificate whose
// deletion failed (a hive that cannot be written, a full disk) is passed over
// for the rest of the walk: otherwise the walk would restart forever while
// its caller holds the operation lock.
template <typename Pick> void DeleteFromStore(HCERTSTORE store, Pick remove) {
    const auto encoding = [](PCCERT_CONTEXT c) {
        return std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded);
    };
    std::set<std::string> undeletable; // the encodings whose deletion failed
    PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr);
    while (cert != nullptr) {
        const auto container = monitor::KeyProvContainer(cert);
        // Only a failed deletion needs the encoding kept; the others never copy it.
        if (container && (undeletable.empty() || !undeletable.count(encoding(cert))) &&
            remove(*container)) {
            std::string encoded = encoding(cert);
            if (!CertDeleteCertificateFromStore(cert)) { // frees cert either way
                undeletable.insert(std::move(encoded));
            }
            cert = CertEnumCertificatesInStore(store, nullptr);
        } else {
            cert = CertEnumCertificatesInStore(store, cert); // frees the previous one
        }
    }
}

// The next helper container of the software provider that carries the
// marker and was not tried before; empty when there is none.
std::string NextHelperContainer(HCRYPTPROV enumeration, const std::set<std::string>& tried) {
    char name[kContainerNameSize];
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        std::memset(name, 0, sizeof name);
        DWORD length = sizeof name - 1;
        if (!CryptGetProvParam(enumeration, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name),
                               &length, flags)) {
            return {};
        }
        std::string container(name, strnlen(name, sizeof name));
        if (monitor::HasContainerMarker(container) && !tried.count(container)) {
            return container;
        }
    }
}

} // namespace

LONG CCert::RemoveReaderCertificates(const SCARD_READERSTATE* record) {
    if (record == nullptr || record->szReader == nullptr) {
        return -1;
    }
    std::lock_guard operation(monitor::OperationMutex());
    RemoveReaderFromCollection(record);
    const std::string reader = record->szReader;
    const int32_t index = ReaderIndex(reader);

    const monitor::StoreOwner store = monitor::OpenUserStore("MY");
    if (!store) {
        return -1;
    }
    DeleteFromStore(store.Get(), [&](const std::string& path) {
        if (!monitor::HasContainerMarker(path)) {
            return false;
        }
        if (ReaderIndexFromContainer(path) != index && path.find(reader) == std::string::npos) {
            return false;
        }
        // A helper container of the same name may exist in the default
        // provider; it goes with the registration (nothing to do if not).
        HCRYPTPROV none = 0;
        CryptAcquireContextA(&none, path.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        return true;
    });
    return 0;
}

LONG CCert::RemoveAllPropagated() {
    std::lock_guard operation(monitor::OperationMutex());

    // Helper containers that the minidriver left in the software provider.
    // A container that cannot be deleted is passed over, so the walk ends.
    std::set<std::string> tried;
    for (;;) {
        monitor::ProvOwner enumeration;
        if (!CryptAcquireContextA(enumeration.Put(), nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT)) {
            break;
        }
        const std::string container = NextHelperContainer(enumeration.Get(), tried);
        if (container.empty()) {
            break;
        }
        enumeration.Reset();
        tried.insert(container);
        HCRYPTPROV none = 0;
        if (!CryptAcquireContextA(&none, container.c_str(), nullptr, PROV_RSA_FULL,
                                  CRYPT_DELETEKEYSET)) {
            m_lastError = GetLastError();
        }
    }

    {
        const monitor::StoreOwner store = monitor::OpenUserStore("MY");
        if (!store) {
            return -1;
        }
        DeleteFromStore(store.Get(),
                        [](const std::string& path) { return monitor::HasContainerMarker(path); });
    }
    FreeCollection();
    return 0;
}
