#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pcscsim {

// What sits in a simulated reader: the virtual TCOS card, or a scripted
// responder in a test. The in-process PC/SC library and the vpcd bridge both
// drive a card through this interface only.
class ICardEndpoint {
public:
    virtual ~ICardEndpoint() = default;

    // The answer-to-reset of the card as it is now.
    virtual std::vector<uint8_t> Atr() const = 0;

    // Cold or warm reset: the card forgets its session state (selected files,
    // PINs verified in this session) but keeps what it persists.
    virtual void Reset() = 0;

    // One command APDU in, one response APDU (data + SW1 SW2) out.
    virtual std::vector<uint8_t> Transmit(std::span<const uint8_t> command) = 0;

    // False for cards that speak T=0 only.
    virtual bool SupportsT1() const { return true; }
};

} // namespace pcscsim
