#pragma once

#include "platform/system/ServiceControl.h"

#include <utility>

// Owns one SC_HANDLE (manager or service) and closes it on every way out.
class ScHandle {
public:
    ScHandle() = default;
    explicit ScHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ScHandle() { Close(); }

    ScHandle(ScHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    ScHandle& operator=(ScHandle&& other) noexcept {
        if (this != &other) {
            Close();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;

    SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    void Close() {
        if (m_handle != nullptr) {
            CloseServiceHandle(m_handle);
            m_handle = nullptr;
        }
    }

private:
    SC_HANDLE m_handle = nullptr;
};
