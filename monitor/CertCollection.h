#pragma once

// The program-wide certificate list `g_CertCollection`: the registered card
// certificates that the certificates dialog shows and that decide the tray
// icon. The propagation changes it on the monitor thread while the dialog
// reads it on the user-interface thread, so it lives behind one mutex that
// only this module touches: every access is one short locked call, entries
// are shared (a row the dialog holds stays valid when the monitor drops the
// entry from the list), and readers take copies.
//
// The list is absent (as a null list) or present, possibly empty.

#include "monitor/CCertCollection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using CertEntry = std::shared_ptr<const CCertCollection>;

// What the certificates dialog shows of one entry, taken at one moment.
struct CertRow {
    CertEntry entry;
    std::string subject;
    std::string issuer;
    std::string serial;
    std::string email;
    int32_t containerType = -1;
    int32_t containerFlag = 0;
    bool qualified = false;
};

class CCertCollectionList {
public:
    CCertCollectionList() = default;
    CCertCollectionList(const CCertCollectionList&) = delete;
    CCertCollectionList& operator=(const CCertCollectionList&) = delete;

    bool Exists() const;
    // Present and holding at least one entry (the tray's choice of icon).
    bool HasEntries() const;
    std::size_t Size() const;

    // Creates an empty list when there is none; true when it created one.
    bool Create();
    // Drops every entry and makes the list absent again.
    void Free();
    // Appends at the end; false (entry dropped) when the list is absent.
    bool Append(CertEntry entry);
    // Installs `entries` as the list when there is none (one step, so a list
    // that another thread made in the meantime wins); true when installed.
    bool InstallIfAbsent(std::vector<CertEntry> entries);
    // Removes the entries for which `remove` is true, in list order; the
    // predicate runs with the list locked and must not call back into it.
    std::size_t RemoveIf(const std::function<bool(const CCertCollection&)>& remove);

    // Copies of the entries in list order (empty when absent).
    std::vector<CertEntry> Entries() const;
    // The display rows in list order; the texts are made outside the lock.
    std::vector<CertRow> Rows() const;

private:
    mutable std::mutex m_mutex;
    bool m_exists = false;
    std::vector<CertEntry> m_entries;
};

extern CCertCollectionList g_CertCollection;
// Entries added since the list was last rebuilt from the store.
extern std::atomic<uint32_t> g_CollectionCount;
// The store count of the last synchronisation.
extern std::atomic<uint32_t> g_StoreCount;

// The open certificates dialog refreshes its list through this handler, which
// the propagation calls whenever it changed the list (on whatever thread made
// the change). The handler must not block on the user-interface thread: post
// the refresh to it. An empty function removes the handler; removal waits
// for a call in progress.
void SetCollectionChangedHandler(std::function<void()> handler);
void NotifyCollectionChanged();
