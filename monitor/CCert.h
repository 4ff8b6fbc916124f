#pragma once

// The registration of card certificates in the current user's stores, and
// the upkeep of the certificate list (CertCollection.h). One CCert serves one
// operation: it opens a PC/SC context (or borrows the caller's) and reads the
// reader list when it is constructed, and releases both when it is destroyed.
//
// Registrations are recognised by the marker "-0800200c9a66" in the
// container name of their key-provider information; the tail of a container
// path also tells which reader the container belongs to.
//
// Operations that change the stores or the list are serialised process-wide,
// so that the monitor thread and a clean-up on the user-interface thread do
// not interleave; readers of the list never wait for them.

#include "monitor/PcscReaders.h"
#include "platform/crypto/WinCrypt.h"

#include <winscard.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CCert {
public:
    CCert();
    // Works on the caller's context, which must outlive this CCert (the
    // monitor's poll shares its thread's context this way); 0: a context of
    // its own, as the default constructor.
    explicit CCert(SCARDCONTEXT context);
    virtual ~CCert();
    CCert(const CCert&) = delete;
    CCert& operator=(const CCert&) = delete;

    // Registers the certificates of the card in the record's reader: user
    // keys in "MY" with a link to their container, authority certificates in
    // "ROOT" (self-signed) or "CA". The result of the provider lookup, or -1
    // for a null record or reader name.
    LONG AddReaderCertificates(const SCARD_READERSTATE* record);
    // Removes the registrations of the record's reader; 0, or -1 for a null
    // record or name or when "MY" cannot be opened.
    LONG RemoveReaderCertificates(const SCARD_READERSTATE* record);
    // Removes every registration and helper container of this system and
    // frees the list; 0, or -1 when "MY" cannot be opened.
    LONG RemoveAllPropagated();
    // Rebuilds the list from the store when their counts differ: 0 when they
    // agree, else the store's count. An unchanged store is not read again.
    DWORD SyncCollectionWithStore();

    // Adds to a system store of the current user: replacing in "MY", only
    // when absent elsewhere.
    bool AddToStore(const WCHAR* storeName, PCCERT_CONTEXT cert);
    // Registrations in "MY": user keys (authorities false, counted and, unless
    // countOnly, appended to the list) or authority certificates (authorities
    // true, copied to "ROOT"/"CA" unless countOnly; the count is then 0).
    DWORD CountStoreCertificates(bool authorities, bool countOnly);

    // The reader index that a container path's tail encodes: c - '0', less
    // twice the reader count when c is not '0' (c: position 5 of the tail).
    int32_t ReaderIndexFromContainer(std::string_view path) const;
    // Position of the reader in the reader list, or -1.
    int32_t ReaderIndex(std::string_view reader) const;
    DWORD ReaderCount() const { return static_cast<DWORD>(m_pcsc.Readers().size()); }
    // Drops the record's reader's entries from the list.
    void RemoveReaderFromCollection(const SCARD_READERSTATE* record);
    // Frees the list (absent afterwards).
    void FreeCollection();

    DWORD LastError() const { return m_lastError; }
    DWORD CollectionCount() const { return m_collectionCount; }
    DWORD StoreCount() const { return m_storeCount; }
    const std::vector<std::string>& Readers() const { return m_pcsc.Readers(); }

private:
    LONG AddCardContainers(const std::string& reader, const std::string& cardName,
                           const std::string& provider);
    DWORD WalkStore(bool authorities, bool countOnly);

    DWORD m_lastError = 0;
    monitor::CPcscReaders m_pcsc;
    DWORD m_collectionCount = 0;
    DWORD m_storeCount = 0;
};
