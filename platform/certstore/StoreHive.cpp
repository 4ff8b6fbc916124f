#include "platform/certstore/StoreHive.h"

#include "platform/certstore/CertContext.h"
#include "platform/certstore/HiveKey.h"
#include "platform/registry/RegTransaction.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>

namespace velk::certstore {

namespace {

constexpr const char* kBlobValue = "Blob";

// A key that vanished while we read (another thread or process deleted the
// entry, or the whole store's last entry) reads as absent, not as a failure.
bool IsGone(LONG error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_KEY_DELETED;
}

bool SameHex(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// The parsed Blob of one key, checked against the key's name.
std::optional<CertBlob> LoadEntry(HKEY certificates, const std::string& storeName,
                                  const std::string& keyName, LONG& error, bool& damaged) {
    error = ERROR_SUCCESS;
    damaged = false;
    CHiveKey key;
    if (const LONG e = key.Open(certificates, keyName, KEY_READ)) {
        error = IsGone(e) ? ERROR_SUCCESS : e;
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    DWORD type = 0;
    if (const LONG e = key.QueryBytes(kBlobValue, bytes, &type)) {
        // A key without its Blob is an entry that never got written or is
        // being deleted: not there, and not worth a report.
        error = IsGone(e) ? ERROR_SUCCESS : e;
        return std::nullopt;
    }
    auto blob = ParseCertBlob(bytes);
    if (!blob) {
        ReportDamagedEntry(storeName, keyName, "its data cannot be read");
        damaged = true;
        return std::nullopt;
    }
    uint8_t sha1[SHA_DIGEST_LENGTH];
    SHA1(blob->der.data(), blob->der.size(), sha1);
    if (!SameHex(HexUpper(sha1), keyName)) {
        ReportDamagedEntry(storeName, keyName, "its certificate does not match its name");
        damaged = true;
        return std::nullopt;
    }
    return blob;
}

} // namespace

std::mutex& StoreWriteMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string CertificatesKeyPath(const std::string& storeName) {
    return "Software\\Microsoft\\SystemCertificates\\" + storeName + "\\Certificates";
}

void ReportDamagedEntry(const std::string& storeName, const std::string& keyName, const char* why) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard lock(mutex);
    if (reported.insert(storeName + "\\" + keyName).second) {
        std::fprintf(stderr, "velkora: certificate store %s: entry %s is skipped because %s\n",
                     storeName.c_str(), keyName.c_str(), why);
    }
}

LONG ReadStore(const std::string& storeName, StoreContent& out) {
    out = StoreContent{};
    CHiveKey certificates;
    if (const LONG error =
            certificates.Open(HKEY_CURRENT_USER, CertificatesKeyPath(storeName), KEY_READ)) {
        return IsGone(error) ? ERROR_SUCCESS : error;
    }
    std::vector<std::string> names;
    if (const LONG error = certificates.SubkeyNames(names)) {
        return IsGone(error) ? ERROR_SUCCESS : error;
    }
    for (const auto& name : names) {
        LONG error = ERROR_SUCCESS;
        bool damaged = false;
        auto blob = LoadEntry(certificates.Get(), storeName, name, error, damaged);
        if (error != ERROR_SUCCESS) {
            return error;
        }
        if (blob) {
            std::string thumbprint = name;
            std::transform(thumbprint.begin(), thumbprint.end(), thumbprint.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            out.entries.push_back(StoredEntry{std::move(thumbprint), std::move(*blob)});
        } else if (damaged) {
            ++out.skipped;
        }
    }
    std::stable_sort(out.entries.begin(), out.entries.end(),
                     [](const StoredEntry& a, const StoredEntry& b) {
                         if (a.blob.sequence != b.blob.sequence) {
                             return a.blob.sequence < b.blob.sequence;
                         }
                         return a.thumbprint < b.thumbprint;
                     });
    return ERROR_SUCCESS;
}

LONG ReadEntry(const std::string& storeName, const std::string& thumbprint,
               std::optional<CertBlob>& out) {
    out.reset();
    CHiveKey certificates;
    if (const LONG error =
            certificates.Open(HKEY_CURRENT_USER, CertificatesKeyPath(storeName), KEY_READ)) {
        return IsGone(error) ? ERROR_SUCCESS : error;
    }
    LONG error = ERROR_SUCCESS;
    bool damaged = false;
    out = LoadEntry(certificates.Get(), storeName, thumbprint, error, damaged);
    return error;
}

LONG NextSequence(const std::string& storeName, uint64_t& out) {
    StoreContent content;
    if (const LONG error = ReadStore(storeName, content)) {
        return error;
    }
    out = content.entries.empty() ? 1 : content.entries.back().blob.sequence + 1;
    return ERROR_SUCCESS;
}

LONG WriteEntry(const std::string& storeName, const std::string& thumbprint, const CertBlob& blob) {
    const auto bytes = SerializeCertBlob(blob);
    // The key and its Blob appear together or not at all.
    RegTransaction transaction(HKEY_CURRENT_USER);
    if (const LONG error = transaction.Status()) {
        return error;
    }
    CHiveKey key;
    if (const LONG error =
            key.Create(HKEY_CURRENT_USER, CertificatesKeyPath(storeName) + "\\" + thumbprint)) {
        return error;
    }
    if (const LONG error = key.SetBytes(kBlobValue, REG_BINARY, bytes.data(), bytes.size())) {
        return error;
    }
    key.Close();
    return transaction.Commit();
}

LONG DeleteEntry(const std::string& storeName, const std::string& thumbprint) {
    // One call, so the entry goes with its Blob at once.
    const LONG error = RegDeleteTreeA(HKEY_CURRENT_USER,
                                      (CertificatesKeyPath(storeName) + "\\" + thumbprint).c_str());
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool StoreExists(const std::string& storeName) {
    CHiveKey key;
    return key.Open(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates\\" + storeName,
                    KEY_READ) == ERROR_SUCCESS;
}

} // namespace velk::certstore
