#pragma once

#include "platform/registry/Registry.h"

#include <utility>

// Owns one HKEY and closes it on every way out. Predefined roots may be held
// too; closing them does nothing.
class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : m_key(key) {}
    ~RegKey() { Close(); }

    RegKey(RegKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        if (this != &other) {
            Close();
            m_key = std::exchange(other.m_key, nullptr);
        }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG Open(HKEY parent, const char* subKey, REGSAM sam) {
        Close();
        return RegOpenKeyExA(parent, subKey, 0, sam, &m_key);
    }
    LONG Create(HKEY parent, const char* subKey, REGSAM sam, DWORD* disposition = nullptr) {
        Close();
        return RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                               &m_key, disposition);
    }

    HKEY get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    // For calls that fill in an HKEY: closes the current key first.
    HKEY* put() {
        Close();
        return &m_key;
    }
    HKEY release() { return std::exchange(m_key, nullptr); }

    void Close() {
        if (m_key != nullptr) {
            RegCloseKey(m_key);
            m_key = nullptr;
        }
    }

private:
    HKEY m_key = nullptr;
};
