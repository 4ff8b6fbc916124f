#pragma once

#include "util/SecureBuffer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// A PIN taken from a prompt before the prompt goes: its bytes in secure memory, wiped when the
// object ends.
class CEnteredPin {
public:
    CEnteredPin() = default;
    CEnteredPin(const CEnteredPin&) = delete;
    CEnteredPin& operator=(const CEnteredPin&) = delete;

    // Copies `entry` (the prompt wipes its own). False when no secure memory could be had.
    bool Take(const std::string& entry);
    std::span<const uint8_t> Bytes() const;
    // Byte for byte, letter case and blanks included.
    bool SameAs(const CEnteredPin& other) const;

private:
    std::optional<velk::SecureBuffer> m_bytes;
};
