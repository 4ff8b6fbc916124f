#include "platform/certstore/StoreHandle.h"

#include "platform/certstore/CertContext.h"

#include <unordered_map>

namespace velk::certstore {

CStoreHandle::~CStoreHandle() {
    for (PCCERT_CONTEXT context : m_entries) {
        ReleaseContext(context);
    }
}

namespace {

struct StoreTable {
    std::mutex mutex;
    std::unordered_map<HCERTSTORE, std::shared_ptr<CStoreHandle>> stores;
};

StoreTable& Table() {
    static StoreTable table;
    return table;
}

} // namespace

HCERTSTORE RegisterStore(std::shared_ptr<CStoreHandle> store) {
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const HCERTSTORE handle = store->Handle();
    table.stores[handle] = std::move(store);
    return handle;
}

std::shared_ptr<CStoreHandle> LookupStore(HCERTSTORE handle) {
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto it = table.stores.find(handle);
    return it == table.stores.end() ? nullptr : it->second;
}

bool UnregisterStore(HCERTSTORE handle) {
    std::shared_ptr<CStoreHandle> doomed;
    auto& table = Table();
    const std::lock_guard lock(table.mutex);
    const auto it = table.stores.find(handle);
    if (it == table.stores.end()) {
        return false;
    }
    doomed = std::move(it->second);
    table.stores.erase(it);
    return true;
}

} // namespace velk::certstore
