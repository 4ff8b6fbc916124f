#include "monitor/CertCollection.h"

#include <algorithm>
#include <utility>

CCertCollectionList g_CertCollection;
std::atomic<uint32_t> g_CollectionCount{0};
std::atomic<uint32_t> g_StoreCount{0};

bool CCertCollectionList::Exists() const {
    std::lock_guard lock(m_mutex);
    return m_exists;
}

bool CCertCollectionList::HasEntries() const {
    std::lock_guard lock(m_mutex);
    return m_exists && !m_entries.empty();
}

std::size_t CCertCollectionList::Size() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

bool CCertCollectionList::Create() {
    std::lock_guard lock(m_mutex);
    return !std::exchange(m_exists, true);
}

void CCertCollectionList::Free() {
    std::vector<CertEntry> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_entries);
        m_exists = false;
    }
    // The entries (and their certificate contexts) go here, outside the lock.
}

bool CCertCollectionList::Append(CertEntry entry) {
    if (!entry) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    if (!m_exists) {
        return false;
    }
    m_entries.push_back(std::move(entry));
    return true;
}

bool CCertCollectionList::InstallIfAbsent(std::vector<CertEntry> entries) {
    std::lock_guard lock(m_mutex);
    if (m_exists) {
        return false;
    }
    entries.erase(std::remove(entries.begin(), entries.end(), nullptr), entries.end());
    m_entries.swap(entries);
    m_exists = true;
    return true;
}

std::size_t
CCertCollectionList::RemoveIf(const std::function<bool(const CCertCollection&)>& remove) {
    std::vector<CertEntry> dropped;
    {
        std::lock_guard lock(m_mutex);
        auto keep = m_entries.begin();
        for (auto& entry : m_entries) {
            if (remove(*entry)) {
                dropped.push_back(std::move(entry));
            } else {
                *keep++ = std::move(entry);
            }
        }
        m_entries.erase(keep, m_entries.end());
    }
    return dropped.size();
}

std::vector<CertEntry> CCertCollectionList::Entries() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
}

std::vector<CertRow> CCertCollectionList::Rows() const {
    std::vector<CertRow> rows;
    for (auto& entry : Entries()) {
        CertRow row;
        row.subject = entry->GetSubjectName();
        row.issuer = entry->GetIssuerName();
        row.serial = entry->GetSerialNumber();
        row.email = entry->GetEmail();
        row.containerType = entry->GetContainerType();
        row.containerFlag = entry->GetContainerFlag();
        row.qualified = entry->IsQualified();
        row.entry = std::move(entry);
        rows.push_back(std::move(row));
    }
    return rows;
}

namespace {

std::mutex& HandlerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void()>& Handler() {
    static std::function<void()> handler;
    return handler;
}

} // namespace

void SetCollectionChangedHandler(std::function<void()> handler) {
    std::lock_guard lock(HandlerMutex());
    Handler() = std::move(handler);
}

void NotifyCollectionChanged() {
    std::lock_guard lock(HandlerMutex());
    if (Handler()) {
        Handler()();
    }
}
