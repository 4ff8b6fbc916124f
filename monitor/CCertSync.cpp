// Counting the registrations in "MY" and keeping the certificate list in
// step with them. The monitor asks every 100 ms, so a count is only made
// again when the store's hive changed since the last one.

#include "monitor/CCert.h"

#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "monitor/OperationLock.h"
#include "platform/certstore/WideText.h"
#include "platform/registry/Registry.h"

#include <memory>
#include <mutex>
#include <string>

namespace {

// The user-key count of "MY" and the hive (file and stamp) it was made at;
// a stamp only means something for the hive file that gave it.
struct CountCache {
    std::mutex mutex;
    bool valid = false;
    std::string hive;
    uint64_t stamp = 0;
    DWORD userKeys = 0;
};

CountCache& Cache() {
    static CountCache cache;
    return cache;
}

} // namespace

DWORD CCert::CountStoreCertificates(bool authorities, bool countOnly) {
    if (authorities && countOnly) {
        return 0; // authority certificates are never counted, only copied
    }
    // The stamp is taken before the store is read: a change that comes in
    // between makes the next count read again, never miss it.
    uint64_t stamp = 0;
    const bool stamped = VelkCertStoreChangeStamp(&stamp) != FALSE;
    const std::string hive = RegHivePath(HKEY_CURRENT_USER);
    auto& cache = Cache();
    if (countOnly && stamped) {
        std::lock_guard lock(cache.mutex);
        if (cache.valid && cache.stamp == stamp && cache.hive == hive) {
            return cache.userKeys;
        }
    }
    const DWORD count = WalkStore(authorities, countOnly);
    if (!authorities) {
        std::lock_guard lock(cache.mutex);
        cache.valid = stamped;
        cache.hive = hive;
        cache.stamp = stamp;
        cache.userKeys = count;
    }
    return count;
}

DWORD CCert::WalkStore(bool authorities, bool countOnly) {
    const monitor::StoreOwner store = monitor::OpenUserStore("MY");
    if (!store) {
        return 0;
    }
    DWORD count = 0;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store.Get(), nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(store.Get(), cert)) {
        const auto container = monitor::KeyProvContainerWide(cert);
        if (!container) {
            continue;
        }
        const std::string path = velk::WideToUtf8(*container);
        if (!monitor::HasContainerMarker(path)) {
            continue;
        }
        const bool authority = monitor::TailChar(path, 4) == '1';
        if (!authority && !authorities) {
            ++count;
            if (!countOnly) {
                g_CertCollection.Append(std::make_shared<const CCertCollection>(
                    cert, *container, monitor::kStoreSource));
            }
        } else if (authority && authorities && !countOnly) {
            const bool selfSigned =
                WTHelperCertIsSelfSigned(X509_ASN_ENCODING, cert->pCertInfo) != FALSE;
            AddToStore(selfSigned ? u"ROOT" : u"CA", cert);
        }
    }
    return count;
}

DWORD CCert::SyncCollectionWithStore() {
    std::lock_guard operation(monitor::OperationMutex());
    const DWORD total = CountStoreCertificates(false, true) + CountStoreCertificates(true, true);
    g_StoreCount = static_cast<uint32_t>(total);
    m_storeCount = total;
    m_collectionCount = g_CollectionCount;
    if (total == g_CollectionCount) {
        return 0;
    }
    FreeCollection();
    g_CertCollection.Create();
    const DWORD rebuilt =
        CountStoreCertificates(false, false) + CountStoreCertificates(true, false);
    g_CollectionCount = static_cast<uint32_t>(rebuilt);
    m_collectionCount = rebuilt;
    NotifyCollectionChanged();
    return total;
}
