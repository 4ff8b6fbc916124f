// Helper for the crash test: writes generation after generation into the
// user hive (named by VELKORA_USER_HIVE) until it is killed. Each generation
// sets sixteen numbers and a blob as one change, then one more number on its
// own; after each generation it prints the number and flushes.
#include "platform/registry/RegKey.h"
#include "platform/registry/RegTransaction.h"

#include <cstdio>
#include <string>
#include <vector>

int main() {
    std::vector<BYTE> blob(20000);
    for (uint32_t generation = 1;; ++generation) {
        {
            RegTransaction transaction(HKEY_CURRENT_USER);
            RegKey key;
            if (key.Create(HKEY_CURRENT_USER, "Software\\Crash\\Batch", KEY_ALL_ACCESS) != 0) {
                return 2;
            }
            for (int i = 0; i < 16; ++i) {
                const std::string name = "v" + std::to_string(i);
                RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&generation), sizeof generation);
            }
            blob.assign(blob.size(), static_cast<BYTE>(generation));
            RegSetValueExA(key.get(), "blob", 0, REG_BINARY, blob.data(),
                           static_cast<DWORD>(blob.size()));
            if (transaction.Commit() != ERROR_SUCCESS) {
                return 3;
            }
        }
        RegKey single;
        if (single.Create(HKEY_CURRENT_USER, "Software\\Crash", KEY_ALL_ACCESS) != 0 ||
            RegSetValueExA(single.get(), "tail", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&generation),
                           sizeof generation) != ERROR_SUCCESS) {
            return 4;
        }
        std::printf("%u\n", generation);
        std::fflush(stdout);
    }
}
