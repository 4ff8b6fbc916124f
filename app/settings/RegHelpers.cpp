#include "app/settings/RegHelpers.h"

#include "platform/registry/RegKey.h"

#include <cstring>

namespace {

// The largest value the helpers read; longer values fail with ERROR_MORE_DATA.
constexpr DWORD kReadLimit = 500;

} // namespace

bool RegReadDword(HKEY root, const std::string& subKey, const std::string& name, uint32_t& value) {
    RegKey key;
    if (key.Create(root, subKey.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        return false;
    }
    // The type is not checked: the first four bytes are the number.
    BYTE buffer[kReadLimit] = {};
    DWORD size = kReadLimit;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::memcpy(&value, buffer, sizeof value);
    return true;
}

bool RegReadString(HKEY root, const std::string& subKey, const std::string& name,
                   std::string& value) {
    RegKey key;
    if (key.Open(root, subKey.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    // One byte more than is read, so that the text always ends in a NUL.
    BYTE buffer[kReadLimit + 1] = {};
    DWORD size = kReadLimit;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    value.assign(reinterpret_cast<const char*>(buffer));
    return true;
}

bool RegWriteString(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& value) {
    RegKey key;
    if (key.Create(root, subKey.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.data()),
                          static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}

bool RegWriteDword(HKEY root, const std::string& subKey, const std::string& name, uint32_t value) {
    RegKey key;
    if (key.Open(root, subKey.c_str(), KEY_SET_VALUE) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}
