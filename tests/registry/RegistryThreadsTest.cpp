// Two threads on one hive, as the monitor and the user interface share the
// certificate store: large blobs written as one change and read whole.
#include "platform/registry/RegKey.h"
#include "platform/registry/RegTransaction.h"
#include "tests/registry/TempHives.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kEntry = "Software\\Microsoft\\SystemCertificates\\MY\\Certificates";
constexpr size_t kBlobSize = 30000;
constexpr int kRounds = 60;

// A blob whose every byte tells the round that wrote it: a torn write, or
// one read halfway, shows as a mix.
std::string CheckEntry(HKEY key) {
    std::vector<BYTE> blob(kBlobSize + 16);
    DWORD size = static_cast<DWORD>(blob.size());
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, "Blob", nullptr, &type, blob.data(), &size);
    if (rc == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    if (rc != ERROR_SUCCESS || size != kBlobSize || type != REG_BINARY) {
        return "blob read " + std::to_string(rc) + " size " + std::to_string(size);
    }
    for (size_t i = 0; i < kBlobSize; ++i) {
        if (blob[i] != blob[0]) {
            return "mixed blob at " + std::to_string(i);
        }
    }
    return {};
}

TEST(RegistryThreads, WriterAndReaderShareHandlesAndSeeWholeEntries) {
    TempHives hives;
    RegKey shared;
    ASSERT_EQ(shared.Create(HKEY_CURRENT_USER, kEntry, KEY_ALL_ACCESS), ERROR_SUCCESS);

    std::atomic<bool> done{false};
    std::string writerError;
    std::string readerError;
    std::thread writer([&] {
        std::vector<BYTE> blob(kBlobSize);
        for (int round = 1; round <= kRounds && writerError.empty(); ++round) {
            blob.assign(kBlobSize, static_cast<BYTE>(round));
            const uint32_t number = static_cast<uint32_t>(round);
            RegTransaction transaction(shared.get());
            LONG rc = transaction.Status();
            if (rc == ERROR_SUCCESS) {
                rc = RegSetValueExA(shared.get(), "Blob", 0, REG_BINARY, blob.data(),
                                    static_cast<DWORD>(blob.size()));
            }
            if (rc == ERROR_SUCCESS) {
                rc = RegSetValueExA(shared.get(), "Round", 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&number), sizeof number);
            }
            // Keys come and go beside it, in the same change.
            RegKey entry;
            if (rc == ERROR_SUCCESS) {
                rc = entry.Create(shared.get(), std::to_string(round % 5).c_str(), KEY_ALL_ACCESS);
            }
            if (rc == ERROR_SUCCESS && round % 3 == 0) {
                rc = RegDeleteTreeA(shared.get(), std::to_string((round + 2) % 5).c_str());
                rc = rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
            }
            if (rc == ERROR_SUCCESS) {
                rc = transaction.Commit();
            }
            if (rc != ERROR_SUCCESS) {
                writerError = "round " + std::to_string(round) + ": " + std::to_string(rc);
            }
        }
        done = true;
    });
    std::thread reader([&] {
        uint64_t lastStamp = 0;
        int reads = 0;
        while (readerError.empty() && (!done || reads == 0)) {
            uint64_t stamp = 0;
            if (RegQueryChangeStamp(HKEY_CURRENT_USER, &stamp) != ERROR_SUCCESS) {
                readerError = "stamp failed";
                break;
            }
            if (stamp == lastStamp && !done) {
                std::this_thread::yield();
                continue;
            }
            lastStamp = stamp;
            ++reads;
            // Through the shared handle and through one of its own.
            readerError = CheckEntry(shared.get());
            RegKey own;
            if (readerError.empty() && own.Open(HKEY_CURRENT_USER, kEntry, KEY_READ) == 0) {
                readerError = CheckEntry(own.get());
                char name[64];
                for (DWORD i = 0; readerError.empty(); ++i) {
                    DWORD size = sizeof name;
                    const LONG rc = RegEnumKeyExA(own.get(), i, name, &size, nullptr, nullptr,
                                                  nullptr, nullptr);
                    if (rc == ERROR_NO_MORE_ITEMS) {
                        break;
                    }
                    if (rc != ERROR_SUCCESS) {
                        readerError = "enum " + std::to_string(rc);
                    }
                }
            }
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(writerError, "");
    EXPECT_EQ(readerError, "");
    EXPECT_EQ(CheckEntry(shared.get()), "");
    uint32_t round = 0;
    DWORD size = sizeof round;
    ASSERT_EQ(RegQueryValueExA(shared.get(), "Round", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&round), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(round, static_cast<uint32_t>(kRounds));
}

} // namespace
