#pragma once

#include "vcard/Apdu.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

// How a card answers a SELECT with file control information.
enum class FciStyle : uint8_t {
    Tcos3,   // template 62, size in tag 80 (also the CardOS cards)
    Tcos2,   // template 6F, size in tag 81
    Micardo, // template 6F, size in tag 85
};

// Which files a fresh card gets.
enum class CardLayout : uint8_t {
    SignatureCard, // MF, EF.GDO 2F02, 4500, DF01 and DF02 with key and certificate files
    GdoOnly,       // MF and EF.GDO 2F02
    CardOs,        // MF, EF.GDO 2F02, DF01 and DF02 without content
};

enum class PinState : uint8_t {
    Set,     // holds a value chosen by its owner
    NullPin, // still holds the transport value; must be changed before use
    NotSet,  // has no value yet (a PIN2 before its first unblock)
};

struct PinSpec {
    uint8_t ref = 0;     // references with bit 8 set are local to DF01
    uint8_t partner = 0; // the PIN that unblocks this one
    PinState initial = PinState::Set;
    std::string initialValue; // for PinState::Set
};

// Which certificates the demo trust center puts on a fresh card.
enum class CardCertificates : uint8_t {
    None,     // the card leaves the factory without certificates
    Holder,   // signature, authentication, encryption and card certificates, CA certificates
    CardOnly, // awaiting the holder's certificates: the card certificate and CA certificates
};

struct CardProfile {
    std::string name;
    std::string description;
    Bytes atr;
    bool t1 = true; // false: T=0 only
    FciStyle fci = FciStyle::Tcos3;
    CardLayout layout = CardLayout::SignatureCard;
    bool makerKeyInstall = false; // accepts 00 22 81 A4 (the maker's public key)
    // Change and unblock data as two 8-byte fields, each value padded with 00
    // (Lc 16), instead of the two values one after the other.
    bool paddedPinPairs = false;
    // What a status query (VERIFY without data) of a PIN that is not set
    // answers; cards differ: 6A 88 or 63 C0.
    uint16_t notSetStatus = 0x6A88;
    Bytes nullPin;           // the transport value of a NULL-PIN
    size_t minPinLength = 4; // shorter or longer new PINs answer 6A 80
    size_t maxPinLength = 16;
    uint8_t maxTries = 3;
    int keyBits = 0; // RSA keys of the key files; 0: none
    std::vector<PinSpec> pins;
    CardCertificates certificates = CardCertificates::None;
    std::string holderName; // commonName of the holder's certificates
    std::string holderEmail;
};

// The values that Set PINs of a fresh card hold.
inline constexpr std::string_view kInitialPin1 = "123456";
inline constexpr std::string_view kInitialPin2 = "12345678";

// Key files whose record 1 holds the public modulus of a card key.
inline constexpr std::string_view kKeyFiles[] = {"3f00df014531", "3f00df024531", "3f00df0245b1",
                                                 "3f00df024571"};

std::vector<std::string> ProfileNames();
std::optional<CardProfile> FindProfile(std::string_view name);

} // namespace vcard
