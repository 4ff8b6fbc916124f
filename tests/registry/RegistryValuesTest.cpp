// Keys and values through the Win32-shaped calls, on real hive files.
#include "platform/registry/RegKey.h"
#include "tests/registry/TempHives.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Bytes(const std::string& text) {
    return std::vector<BYTE>(text.begin(), text.end());
}

LONG Set(HKEY key, const char* name, DWORD type, const std::vector<BYTE>& data) {
    return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

// The whole value, or the error.
LONG Get(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& data) {
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    data.assign(size, 0xEE);
    rc = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    data.resize(size);
    return rc;
}

// What RegQueryInfoKeyA tells of `key`: subkeys, longest subkey name, values, longest value
// name, largest data; empty when it fails.
std::vector<DWORD> Info(HKEY key) {
    std::vector<DWORD> info(5, 0xEEEE);
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &info[0], &info[1], nullptr, &info[2],
                         &info[3], &info[4], nullptr, nullptr) != ERROR_SUCCESS) {
        info.clear();
    }
    return info;
}

class RegistryValues : public ::testing::Test {
protected:
    TempHives m_hives;
};

TEST_F(RegistryValues, EachTypeRoundTripsAcrossReopen) {
    std::vector<BYTE> blob(40000);
    for (size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<BYTE>(i * 7 + 3);
    }
    const uint32_t number = 0xA1B2C3D4;
    const std::vector<BYTE> dword(reinterpret_cast<const BYTE*>(&number),
                                  reinterpret_cast<const BYTE*>(&number) + 4);
    const std::vector<BYTE> text = Bytes(std::string("C:\\x\xc3\xa4y", 8) + '\0');
    const std::vector<BYTE> withNul = Bytes(std::string("a\0b\0\0", 5));
    // Written under `name`, read back under `readAs` (the default value is both null and "").
    const struct {
        const char* name;
        const char* readAs;
        DWORD type;
        std::vector<BYTE> data;
    } values[] = {{"dword", "dword", REG_DWORD, dword}, {"sz", "sz", REG_SZ, text},
                  {"blob", "blob", REG_BINARY, blob},   {"multi", "multi", REG_MULTI_SZ, withNul},
                  {"empty", "empty", REG_BINARY, {}},   {nullptr, "", REG_SZ, Bytes("default")}};
    {
        RegKey key;
        DWORD disposition = 0;
        ASSERT_EQ(
            key.Create(HKEY_CURRENT_USER, "Software\\Velkora\\Types", KEY_ALL_ACCESS, &disposition),
            ERROR_SUCCESS);
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
        for (const auto& value : values) {
            EXPECT_EQ(Set(key.get(), value.name, value.type, value.data), ERROR_SUCCESS);
        }
    }
    RegResetForTests(); // a fresh connection reads what is on disk
    RegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Velkora\\Types", KEY_READ, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    DWORD type = 0;
    std::vector<BYTE> data;
    for (const auto& value : values) {
        ASSERT_EQ(Get(key.get(), value.readAs, type, data), ERROR_SUCCESS) << value.readAs;
        EXPECT_EQ(type, value.type) << value.readAs;
        EXPECT_EQ(data, value.data) << value.readAs;
    }
    EXPECT_EQ(Get(key.get(), "missing", type, data), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, SizesInAndOutAndMoreData) {
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Sizes", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(Set(key.get(), "v", REG_BINARY, Bytes("0123456789")), ERROR_SUCCESS);

    // Size only.
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, REG_BINARY);

    // Too small: the needed size and the type come back, the buffer is untouched.
    BYTE small[4] = {9, 9, 9, 9};
    size = sizeof small;
    type = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(small[0], 9);

    // Larger than needed: the real size comes back.
    BYTE big[64] = {};
    size = sizeof big;
    EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, nullptr, big, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::memcmp(big, "0123456789", 10), 0);

    // A buffer without a size is refused; null data with a size is refused too.
    EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, nullptr, big, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key.get(), "w", 0, REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);

    // Enumeration: a name buffer too small, then a data buffer too small.
    char name[2];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "v");
    EXPECT_EQ(nameSize, 1u);
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Sizes\\LongerName", KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Sizes", KEY_ALL_ACCESS), ERROR_SUCCESS);
    char keyName[10];
    nameSize = sizeof keyName;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, keyName, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    char exact[11];
    nameSize = sizeof exact;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, exact, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(exact, "LongerName");
    EXPECT_EQ(nameSize, 10u);
    nameSize = sizeof name;
    size = 2;
    EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, &type, small, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
}

TEST_F(RegistryValues, NamesAreCaseInsensitiveAndKeepTheirSpelling) {
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Velkora\\Minidriver", KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    ASSERT_EQ(Set(key.get(), "KeyboardPIN", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    // Written again under another spelling: same value, first spelling kept.
    ASSERT_EQ(Set(key.get(), "keyboardpin", REG_DWORD, {2, 0, 0, 0}), ERROR_SUCCESS);

    RegKey other;
    DWORD disposition = 0;
    ASSERT_EQ(other.Create(HKEY_CURRENT_USER, "SOFTWARE\\velkora\\MINIDRIVER\\", KEY_ALL_ACCESS,
                           &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Get(other.get(), "KEYBOARDpin", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (std::vector<BYTE>{2, 0, 0, 0}));

    char name[64];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumValueA(other.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "KeyboardPIN");
    RegKey software;
    ASSERT_EQ(software.Open(HKEY_CURRENT_USER, "software", KEY_READ), ERROR_SUCCESS);
    size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(software.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Velkora");
    // Only ASCII letters fold.
    ASSERT_EQ(Set(key.get(), "\xc3\xa4", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(Get(key.get(), "\xc3\x84", type, data), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, EnumerationOrderAndInfo) {
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Enum", KEY_ALL_ACCESS), ERROR_SUCCESS);
    for (const char* sub : {"beta", "Alpha", "gamma"}) {
        RegKey child;
        ASSERT_EQ(child.Create(key.get(), sub, KEY_ALL_ACCESS), ERROR_SUCCESS);
    }
    for (const char* value : {"zeta", "Eta", "theta"}) {
        ASSERT_EQ(Set(key.get(), value, REG_SZ, Bytes(value)), ERROR_SUCCESS);
    }
    ASSERT_EQ(Set(key.get(), "zeta", REG_BINARY, Bytes("longer value")), ERROR_SUCCESS);

    // Every name for index 0, 1, ... until ERROR_NO_MORE_ITEMS.
    const auto names = [&key](bool subKeys) {
        std::vector<std::string> out;
        char name[300];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            const LONG rc =
                subKeys
                    ? RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumValueA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
                return out;
            }
            out.emplace_back(name, size);
        }
    };
    // Subkeys by name without case; values where they were first set.
    EXPECT_EQ(names(true), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(names(false), (std::vector<std::string>{"zeta", "Eta", "theta"}));

    EXPECT_EQ(Info(key.get()), (std::vector<DWORD>{3, 5, 3, 5, 12}));
}

TEST_F(RegistryValues, DeletingValuesKeysAndTrees) {
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Tree\\A\\B\\C", KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    ASSERT_EQ(Set(key.get(), "deep", REG_SZ, Bytes("x")), ERROR_SUCCESS);
    RegKey tree;
    ASSERT_EQ(tree.Open(HKEY_CURRENT_USER, "Software\\Tree", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(Set(tree.get(), "top", REG_SZ, Bytes("y")), ERROR_SUCCESS);
    RegKey sibling;
    ASSERT_EQ(sibling.Create(tree.get(), "Sibling", KEY_ALL_ACCESS), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValueA(tree.get(), "TOP"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(tree.get(), "top"), ERROR_FILE_NOT_FOUND);
    // A key with subkeys is not deleted by RegDeleteKeyA.
    EXPECT_EQ(RegDeleteKeyA(tree.get(), "A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(tree.get(), "A\\B\\C"), ERROR_SUCCESS);
    // The open handle of a deleted key reports it.
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(Get(key.get(), "deep", type, data), ERROR_KEY_DELETED);
    EXPECT_EQ(Set(key.get(), "deep", REG_SZ, Bytes("z")), ERROR_KEY_DELETED);

    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Tree\\A\\B\\C2", KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "software\\tree\\a"), ERROR_SUCCESS);
    RegKey gone;
    EXPECT_EQ(gone.Open(HKEY_CURRENT_USER, "Software\\Tree\\A\\B", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone.Open(HKEY_CURRENT_USER, "Software\\Tree\\Sibling", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Tree\\A"), ERROR_FILE_NOT_FOUND);

    // A null subkey empties the key but keeps it.
    ASSERT_EQ(Set(tree.get(), "again", REG_SZ, Bytes("y")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(tree.get(), nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Info(tree.get()), (std::vector<DWORD>{0, 0, 0, 0, 0}));
}

TEST_F(RegistryValues, BadHandlesPathsAndRights) {
    RegKey key;
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "\\Software", KEY_READ), ERROR_BAD_PATHNAME);
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\\\Velkora", KEY_ALL_ACCESS),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), KEY_ALL_ACCESS),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, std::string(255, 'k').c_str(), KEY_ALL_ACCESS),
              ERROR_SUCCESS);

    // Made-up and closed handles are refused, not followed.
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345678));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(bogus, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    HKEY raw = key.release();
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(raw, "x", 0, REG_SZ, nullptr, 0), ERROR_INVALID_HANDLE);

    // A handle opened for reading cannot write or create below it.
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key.get(), "x", 0, REG_SZ, nullptr, 0), ERROR_ACCESS_DENIED);
    RegKey child;
    EXPECT_EQ(child.Create(key.get(), "New", KEY_ALL_ACCESS), ERROR_ACCESS_DENIED);
    // A handle opened for setting values only cannot read them.
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "", KEY_SET_VALUE), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key.get(), "x", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
}

} // namespace
