#pragma once

// Owners of PC/SC handles: the context is released and the card disconnected
// (leaving it as it is) on every way out. Move-only.

#include <winscard.h>

#include <utility>

namespace scard {

template <typename Handle, LONG (*Release)(Handle)> class PcscOwner {
public:
    PcscOwner() = default;
    explicit PcscOwner(Handle handle) : m_handle(handle), m_owned(true) {}
    ~PcscOwner() { Close(); }

    PcscOwner(const PcscOwner&) = delete;
    PcscOwner& operator=(const PcscOwner&) = delete;
    PcscOwner(PcscOwner&& other) noexcept
        : m_handle(std::exchange(other.m_handle, Handle{})),
          m_owned(std::exchange(other.m_owned, false)) {}
    PcscOwner& operator=(PcscOwner&& other) noexcept {
        if (this != &other) {
            Close();
            m_handle = std::exchange(other.m_handle, Handle{});
            m_owned = std::exchange(other.m_owned, false);
        }
        return *this;
    }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_owned; }

    // Closes now; the PC/SC result, or SCARD_S_SUCCESS when nothing was owned.
    LONG Close() {
        if (!m_owned) {
            return SCARD_S_SUCCESS;
        }
        m_owned = false;
        return Release(std::exchange(m_handle, Handle{}));
    }

private:
    Handle m_handle{};
    bool m_owned = false;
};

inline LONG DisconnectLeavingCard(SCARDHANDLE card) {
    return SCardDisconnect(card, SCARD_LEAVE_CARD);
}

using ContextOwner = PcscOwner<SCARDCONTEXT, &SCardReleaseContext>;
using CardOwner = PcscOwner<SCARDHANDLE, &DisconnectLeavingCard>;

} // namespace scard
