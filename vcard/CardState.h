#pragma once

#include "vcard/FileSystem.h"
#include "vcard/Profile.h"

#include <string>
#include <vector>

namespace vcard {

struct PinRecord {
    uint8_t ref = 0;
    CardPath df{kMasterFile}; // where the PIN lives: the MF for global PINs
    uint8_t partner = 0;      // reference of the PIN that unblocks this one
    PinState state = PinState::Set;
    Bytes value;       // Set: the PIN; NullPin: the transport value; NotSet: empty
    uint8_t tries = 3; // 0: blocked
    uint8_t maxTries = 3;

    PinRecord() = default;
    PinRecord(const PinRecord&) = default;
    PinRecord& operator=(const PinRecord&) = default;
    ~PinRecord();
};

// A private key of the card, kept with the key file whose record 1 shows its
// public modulus.
struct CardKey {
    CardPath keyFile;
    Bytes privateKeyDer; // RSAPrivateKey, DER

    CardKey() = default;
    CardKey(const CardKey&) = default;
    CardKey& operator=(const CardKey&) = default;
    ~CardKey();
};

// Everything a card keeps across sessions and power cycles; what the image
// file holds.
struct CardState {
    std::string profile;
    FileSystem files;
    std::vector<PinRecord> pins;
    std::vector<CardKey> keys;
};

} // namespace vcard
