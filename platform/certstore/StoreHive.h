#pragma once

// The certificate stores as they lie in the user hive:
//   Software\Microsoft\SystemCertificates\<store>\Certificates\<SHA-1>  "Blob"
// Reading skips (and reports once) entries that are damaged: a Blob that does
// not parse, or whose certificate does not hash to its key's name.

#include "platform/certstore/CertBlob.h"
#include "platform/certstore/WinCryptTypes.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velk::certstore {

struct StoredEntry {
    std::string thumbprint; // upper-case hex
    CertBlob blob;
};

struct StoreContent {
    std::vector<StoredEntry> entries; // in store order
    DWORD skipped = 0;
};

std::string CertificatesKeyPath(const std::string& storeName);

// ERROR_SUCCESS (an absent store or hive is empty) or the registry's error.
LONG ReadStore(const std::string& storeName, StoreContent& out);
// One entry; `out` stays empty when it is absent or damaged.
LONG ReadEntry(const std::string& storeName, const std::string& thumbprint,
               std::optional<CertBlob>& out);
// One sequence number above every entry's in the hive.
LONG NextSequence(const std::string& storeName, uint64_t& out);
LONG WriteEntry(const std::string& storeName, const std::string& thumbprint, const CertBlob& blob);
// ERROR_SUCCESS also when the entry was already gone.
LONG DeleteEntry(const std::string& storeName, const std::string& thumbprint);
// Whether the store's key exists.
bool StoreExists(const std::string& storeName);

// Serialises this process's read-check-write sequences on the stores.
std::mutex& StoreWriteMutex();

// Reports a damaged entry on stderr, once per store and thumbprint.
void ReportDamagedEntry(const std::string& storeName, const std::string& keyName, const char* why);

} // namespace velk::certstore
