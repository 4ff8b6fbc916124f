#include "dialogs/perso/EnteredPin.h"

#include <openssl/crypto.h>

#include <cstring>

bool CEnteredPin::Take(const std::string& entry) {
    m_bytes.reset();
    if (entry.empty()) {
        return false;
    }
    m_bytes.emplace(entry.size());
    if (!m_bytes->Ok()) {
        m_bytes.reset();
        return false;
    }
    std::memcpy(m_bytes->Data(), entry.data(), entry.size());
    return true;
}

std::span<const uint8_t> CEnteredPin::Bytes() const {
    return m_bytes ? m_bytes->Bytes() : std::span<const uint8_t>{};
}

bool CEnteredPin::SameAs(const CEnteredPin& other) const {
    const std::span<const uint8_t> a = Bytes();
    const std::span<const uint8_t> b = other.Bytes();
    return a.size() == b.size() && (a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0);
}
