#pragma once

// The object behind an HCERTSTORE: a snapshot of one system store, in store
// order, holding one reference on each of its certificate contexts.

#include "platform/certstore/WinCryptTypes.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velk::certstore {

class CStoreHandle {
public:
    CStoreHandle(std::string name, bool readOnly) : m_name(std::move(name)), m_readOnly(readOnly) {}
    ~CStoreHandle();
    CStoreHandle(const CStoreHandle&) = delete;
    CStoreHandle& operator=(const CStoreHandle&) = delete;

    const std::string& Name() const { return m_name; }
    bool ReadOnly() const { return m_readOnly; }
    HCERTSTORE Handle() { return this; }

    std::mutex m_mutex; // guards the members below
    std::vector<PCCERT_CONTEXT> m_entries;
    DWORD m_skipped = 0;

private:
    const std::string m_name;
    const bool m_readOnly;
};

// The table of open stores: a handle is valid while it is in it.
HCERTSTORE RegisterStore(std::shared_ptr<CStoreHandle> store);
std::shared_ptr<CStoreHandle> LookupStore(HCERTSTORE handle);
bool UnregisterStore(HCERTSTORE handle);

} // namespace velk::certstore
