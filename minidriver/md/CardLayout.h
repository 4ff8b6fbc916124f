#pragma once

// Which key containers a card offers: one per key whose certificate file
// holds a certificate, and one per CA certificate stored on the card.

#include <cstdint>
#include <span>
#include <string_view>

namespace velkmd {

// Container types (character 6 of a container name).
inline constexpr char kTypeNone = '0';        // authority certificates: no PIN, no personalization
inline constexpr char kTypePersonalize = '2'; // T-COS 3.0: the certificates dialog offers the
                                              // personalization for this container
inline constexpr char kTypePinButtons = '7';  // the certificates dialog enables the PIN buttons

// PIN selectors (character 7): which PIN "md@cp@0" / "md@up@0" act on.
inline constexpr char kSelectorNone = '0';
inline constexpr char kSelectorCardPin1 = '1';
inline constexpr char kSelectorCardPin2 = '2';
inline constexpr char kSelectorSigPin1 = '3';
inline constexpr char kSelectorSigPin2 = '4';

struct CardSlot {
    uint16_t df = 0;               // DF01 or DF02
    uint16_t certFid = 0;          // certificate file inside the DF
    uint16_t keyFid = 0;           // key file inside the DF; 0 for a CA certificate
    std::string_view certPath;     // the same as a card path from the MF
    bool authority = false;        // a CA certificate, no key of the holder
    char type = kTypeNone;         // container type
    char selector = kSelectorNone; // PIN of the key
};

// The slots of a card type (card ids of card/CardType.h); empty for the card
// types this provider does not serve (CardOS belongs to another provider) or
// whose cards carry no certificate files (T-COS 2.0, Micardo).
std::span<const CardSlot> SlotsOf(uint32_t cardType);

// What a PIN selector stands for on a signature card.
struct PinTarget {
    char selector = kSelectorNone;
    std::string_view name;       // as the prompts name it
    std::string_view path;       // selected for change and unblock
    std::string_view statusPath; // selected for the state query
    uint8_t reference = 0;
    char partner = kSelectorNone; // the PIN that unblocks this one
};

// Null for an unknown selector.
const PinTarget* PinTargetOf(char selector);

} // namespace velkmd
