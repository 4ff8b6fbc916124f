// libFuzzer target: arbitrary bytes as the user's hive file, then everything a
// reader does with it: check, open keys, enumerate the tree, query values and
// key information, poll the change stamp. Whatever the bytes, the calls must
// answer with a code, and a file they call damaged must be left as it was.
#include "platform/registry/RegKey.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxDepth = 6;
constexpr int kMaxKeys = 64;

// The folder of the hive file under test, removed again when the run ends.
class CWorkDir {
public:
    CWorkDir() {
        char pattern[] = "/tmp/velk-fuzz-hive-XXXXXX";
        const char* dir = mkdtemp(pattern);
        m_path = dir != nullptr ? dir : "";
    }
    ~CWorkDir() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    CWorkDir(const CWorkDir&) = delete;
    CWorkDir& operator=(const CWorkDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void Walk(HKEY key, int depth, int& budget) {
    DWORD subKeys = 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    for (DWORD i = 0; i < 32; ++i) {
        char name[REG_MAX_VALUE_NAME + 1];
        DWORD nameSize = 8; // small first, to take the ERROR_MORE_DATA path
        BYTE data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        LONG rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize);
        if (rc == ERROR_MORE_DATA) {
            nameSize = sizeof name;
            dataSize = 0;
            rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize);
        }
        if (rc != ERROR_SUCCESS) {
            break;
        }
        std::vector<BYTE> whole(dataSize);
        DWORD wholeSize = dataSize;
        RegQueryValueExA(key, name, nullptr, &type, whole.data(), &wholeSize);
    }
    if (depth >= kMaxDepth) {
        return;
    }
    for (DWORD i = 0; budget > 0; ++i) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        --budget;
        RegKey child;
        if (child.Open(key, name, KEY_READ) == ERROR_SUCCESS) {
            Walk(child.get(), depth + 1, budget);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const CWorkDir work;
    static const std::string dir = work.Path().empty() ? std::string("/tmp") : work.Path();
    static const std::string path = dir + "/user.hive";
    static const bool configured = [] {
        setenv("VELKORA_USER_HIVE", path.c_str(), 1);
        setenv("VELKORA_MACHINE_HIVE", (dir + "/machine.hive").c_str(), 1);
        return true;
    }();
    (void)configured;

    RegResetForTests();
    unlink((path + "-journal").c_str());
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    const LONG check = RegCheckHive(HKEY_CURRENT_USER);
    uint64_t stamp = 0;
    RegQueryChangeStamp(HKEY_CURRENT_USER, &stamp);
    RegKey root;
    if (root.Open(HKEY_CURRENT_USER, nullptr, KEY_READ) == ERROR_SUCCESS) {
        int budget = kMaxKeys;
        Walk(root.get(), 0, budget);
    }
    RegKey settings;
    if (settings.Open(HKEY_CURRENT_USER, "Software\\Velkora\\Minidriver", KEY_READ) ==
        ERROR_SUCCESS) {
        uint32_t number = 0;
        DWORD numberSize = sizeof number;
        RegQueryValueExA(settings.get(), "Language", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&number), &numberSize);
    }
    root.Close();
    settings.Close();
    RegResetForTests();

    if (check == ERROR_BADDB) {
        std::ifstream in(path, std::ios::binary);
        const std::string after((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        if (after != bytes) {
            __builtin_trap(); // a file called damaged was changed
        }
    }
    return 0;
}
