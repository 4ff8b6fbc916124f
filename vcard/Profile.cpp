#include "vcard/Profile.h"

namespace vcard {

// PIN pairs: each PIN of a pair unblocks the other one (Card PIN1 and Card
// PIN2, SigG PIN1 and SigG PIN2), which is what the personalization's unblock
// buttons offer in both directions.
namespace {

std::vector<PinSpec> SignatureCardPins() {
    return {
        {0x00, 0x01, PinState::NullPin, {}},
        {0x01, 0x00, PinState::NotSet, {}},
        {0x81, 0x83, PinState::NullPin, {}},
        {0x83, 0x81, PinState::NotSet, {}},
    };
}

CardProfile Tcos30() {
    CardProfile p;
    p.name = "tcos30";
    p.description = "T-COS 3.0 signature card (PIN2 not set answers 6A 88)";
    p.atr = {0x3B, 0xBF, 0x96, 0x00, 0x81, 0x31, 0xFE, 0x5D, 0x00, 0x64, 0x04, 0x11,
             0x03, 0x01, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x7D};
    p.fci = FciStyle::Tcos3;
    p.layout = CardLayout::SignatureCard;
    p.makerKeyInstall = true;
    p.notSetStatus = 0x6A88;
    p.nullPin = Bytes(6, 0x00);
    p.keyBits = 2048;
    p.pins = SignatureCardPins();
    p.certificates = CardCertificates::Holder;
    p.holderName = "Erika Mustermann";
    p.holderEmail = "erika.mustermann@example.org";
    return p;
}

// A T-COS 3.0 card that still waits for the trust center's certificates, so
// that only its own card certificate shows until it is personalized.
CardProfile Tcos30Blank() {
    CardProfile p = Tcos30();
    p.name = "tcos30-blank";
    p.description = "T-COS 3.0 signature card awaiting its trust-center certificates";
    p.certificates = CardCertificates::CardOnly;
    return p;
}

CardProfile Tcos30V2() {
    CardProfile p = Tcos30();
    p.name = "tcos30v2";
    p.description = "T-COS 3.0 V2 signature card (PIN2 not set answers 63 C0)";
    p.atr = {0x3B, 0x9F, 0x96, 0x81, 0x31, 0xFE, 0x9D, 0x00, 0x64, 0x05, 0xA0, 0x03,
             0x04, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x28};
    p.notSetStatus = 0x63C0;
    return p;
}

CardProfile Tcos20() {
    CardProfile p;
    p.name = "tcos20";
    p.description = "T-COS 2.0 card: EF.GDO, Card PIN1 and PIN2";
    p.atr = {0x3B, 0xBA, 0x96, 0x00, 0x81, 0x31, 0x86, 0x5D, 0x00, 0x64,
             0x05, 0x60, 0x02, 0x03, 0x31, 0x80, 0x90, 0x00, 0x66};
    p.fci = FciStyle::Tcos2;
    p.layout = CardLayout::GdoOnly;
    p.notSetStatus = 0x6A88;
    p.nullPin = Bytes(6, 0x00);
    p.pins = {{0x00, 0x01, PinState::NullPin, {}}, {0x01, 0x00, PinState::NotSet, {}}};
    return p;
}

CardProfile Micardo() {
    CardProfile p;
    p.name = "micardo";
    p.description = "Micardo card, T=0 only, PINs in 8+8 padded fields";
    p.atr = {0x3B, 0x6F, 0x00, 0xFF, 0x00, 0x68, 0xD2, 0x76, 0x00, 0x00,
             0x28, 0xFF, 0x05, 0x1E, 0x31, 0x80, 0x00, 0x90, 0x00};
    p.t1 = false;
    p.fci = FciStyle::Micardo;
    p.layout = CardLayout::GdoOnly;
    p.paddedPinPairs = true;
    p.maxPinLength = 8;
    p.nullPin = Bytes(6, 0x00);
    p.pins = {{0x00, 0x01, PinState::Set, std::string(kInitialPin1)},
              {0x01, 0x00, PinState::Set, std::string(kInitialPin2)}};
    return p;
}

CardProfile CardOs(std::string name, Bytes atr) {
    CardProfile p;
    p.name = std::move(name);
    p.description = "CardOS card";
    p.atr = std::move(atr);
    p.fci = FciStyle::Tcos3;
    p.layout = CardLayout::CardOs;
    p.nullPin = Bytes(6, 0x00);
    p.pins = {{0x00, 0x01, PinState::Set, std::string(kInitialPin1)},
              {0x01, 0x00, PinState::Set, std::string(kInitialPin2)},
              {0x81, 0x83, PinState::Set, std::string(kInitialPin1)},
              {0x83, 0x81, PinState::Set, std::string(kInitialPin2)}};
    return p;
}

std::vector<CardProfile> AllProfiles() {
    std::vector<CardProfile> all;
    all.push_back(Tcos30());
    all.push_back(Tcos30V2());
    all.push_back(Tcos30Blank());
    all.push_back(Tcos20());
    all.push_back(Micardo());
    all.push_back(CardOs(
        "cardos8", {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x04, 0x12}));
    all.back().description = "CardOS card (type 8)";
    all.push_back(CardOs(
        "cardos4", {0x3B, 0xF2, 0x18, 0x00, 0x02, 0xC1, 0x0A, 0x31, 0xFE, 0x58, 0xC8, 0x08, 0x74}));
    all.back().description = "CardOS card (type 4)";
    return all;
}

} // namespace

std::vector<std::string> ProfileNames() {
    std::vector<std::string> names;
    for (const CardProfile& p : AllProfiles()) {
        names.push_back(p.name);
    }
    return names;
}

std::optional<CardProfile> FindProfile(std::string_view name) {
    for (CardProfile& p : AllProfiles()) {
        if (p.name == name) {
            return std::move(p);
        }
    }
    return std::nullopt;
}

} // namespace vcard
