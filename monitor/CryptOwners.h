#pragma once

// Owners of the CryptoAPI-shaped handles: each is released on every way out.
// Move-only; Release() hands the handle back without releasing it (a call
// that frees its argument itself, such as CertDeleteCertificateFromStore).

#include "platform/crypto/WinCrypt.h"

#include <utility>

namespace monitor {

template <typename Handle, void (*Free)(Handle)> class CryptOwner {
public:
    CryptOwner() = default;
    explicit CryptOwner(Handle handle) : m_handle(handle) {}
    ~CryptOwner() { Reset(); }

    CryptOwner(const CryptOwner&) = delete;
    CryptOwner& operator=(const CryptOwner&) = delete;
    CryptOwner(CryptOwner&& other) noexcept : m_handle(std::exchange(other.m_handle, Handle{})) {}
    CryptOwner& operator=(CryptOwner&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_handle, Handle{}));
        }
        return *this;
    }

    Handle Get() const { return m_handle; }
    // For the out-parameter of an acquiring call; releases what was held.
    Handle* Put() {
        Reset();
        return &m_handle;
    }
    Handle Release() { return std::exchange(m_handle, Handle{}); }
    void Reset(Handle handle = Handle{}) {
        if (m_handle) {
            Free(m_handle);
        }
        m_handle = handle;
    }
    explicit operator bool() const { return m_handle != Handle{}; }

private:
    Handle m_handle{};
};

namespace detail {
inline void ReleaseProv(HCRYPTPROV prov) {
    CryptReleaseContext(prov, 0);
}
inline void DestroyKey(HCRYPTKEY key) {
    CryptDestroyKey(key);
}
inline void CloseStore(HCERTSTORE store) {
    CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
}
inline void FreeCert(PCCERT_CONTEXT cert) {
    CertFreeCertificateContext(cert);
}
} // namespace detail

using ProvOwner = CryptOwner<HCRYPTPROV, &detail::ReleaseProv>;
using KeyOwner = CryptOwner<HCRYPTKEY, &detail::DestroyKey>;
using StoreOwner = CryptOwner<HCERTSTORE, &detail::CloseStore>;
using CertOwner = CryptOwner<PCCERT_CONTEXT, &detail::FreeCert>;

// The current user's system store of that name.
inline StoreOwner OpenUserStore(const char* name, HCRYPTPROV_LEGACY prov = 0,
                                DWORD extraFlags = 0) {
    return StoreOwner(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, prov,
                                    CERT_SYSTEM_STORE_CURRENT_USER | extraFlags, name));
}

} // namespace monitor
