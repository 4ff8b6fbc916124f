#pragma once

// Owns one open registry key for the layers built on the registry.

#include "platform/registry/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velk {

class CHiveKey {
public:
    CHiveKey() = default;
    ~CHiveKey() { Close(); }
    CHiveKey(const CHiveKey&) = delete;
    CHiveKey& operator=(const CHiveKey&) = delete;

    LONG Open(HKEY root, const std::string& path, REGSAM access) {
        Close();
        return RegOpenKeyExA(root, path.c_str(), 0, access, &m_key);
    }
    LONG Create(HKEY root, const std::string& path) {
        Close();
        return RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
    }
    void Close() {
        if (m_key) {
            RegCloseKey(m_key);
            m_key = nullptr;
        }
    }
    HKEY Get() const { return m_key; }

    // The value's bytes; ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, or the registry's error.
    LONG QueryBytes(const char* name, std::vector<uint8_t>& out, DWORD* type = nullptr) const {
        DWORD size = 0;
        DWORD valueType = 0;
        LONG error = RegQueryValueExA(m_key, name, nullptr, &valueType, nullptr, &size);
        for (int attempt = 0; attempt < 4 && error == ERROR_SUCCESS; ++attempt) {
            out.resize(size);
            DWORD got = size;
            error = RegQueryValueExA(m_key, name, nullptr, &valueType, out.data(), &got);
            if (error == ERROR_MORE_DATA) { // grew in between
                size = got;
                error = ERROR_SUCCESS;
                continue;
            }
            if (error == ERROR_SUCCESS) {
                out.resize(got);
                if (type) {
                    *type = valueType;
                }
                return ERROR_SUCCESS;
            }
        }
        return error == ERROR_SUCCESS ? ERROR_MORE_DATA : error;
    }
    // A REG_SZ value without its NUL.
    LONG QueryString(const char* name, std::string& out) const {
        std::vector<uint8_t> bytes;
        DWORD type = 0;
        if (const LONG error = QueryBytes(name, bytes, &type)) {
            return error;
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            return ERROR_FILE_NOT_FOUND;
        }
        out.assign(bytes.begin(), bytes.end());
        while (!out.empty() && out.back() == '\0') {
            out.pop_back();
        }
        if (const auto nul = out.find('\0'); nul != std::string::npos) {
            out.resize(nul);
        }
        return ERROR_SUCCESS;
    }
    LONG QueryDword(const char* name, uint32_t& out) const {
        std::vector<uint8_t> bytes;
        DWORD type = 0;
        if (const LONG error = QueryBytes(name, bytes, &type)) {
            return error;
        }
        if (type != REG_DWORD || bytes.size() != 4) {
            return ERROR_FILE_NOT_FOUND;
        }
        out = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
              static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        return ERROR_SUCCESS;
    }
    LONG SetBytes(const char* name, DWORD type, const uint8_t* data, size_t size) const {
        return RegSetValueExA(m_key, name, 0, type, data, static_cast<DWORD>(size));
    }
    LONG SetString(const char* name, const std::string& value) const {
        return SetBytes(name, REG_SZ, reinterpret_cast<const uint8_t*>(value.c_str()),
                        value.size() + 1);
    }
    LONG SetDword(const char* name, uint32_t value) const {
        const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                  static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 24)};
        return SetBytes(name, REG_DWORD, bytes, sizeof bytes);
    }
    // The names of all subkeys, in the registry's order.
    LONG SubkeyNames(std::vector<std::string>& out) const {
        out.clear();
        for (DWORD index = 0;; ++index) {
            char name[REG_MAX_KEY_NAME + 1];
            DWORD length = sizeof name;
            const LONG error =
                RegEnumKeyExA(m_key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (error == ERROR_NO_MORE_ITEMS) {
                return ERROR_SUCCESS;
            }
            if (error != ERROR_SUCCESS) {
                return error;
            }
            out.emplace_back(name, length);
        }
    }

private:
    HKEY m_key = nullptr;
};

} // namespace velk
