#include "vcard/FreshCard.h"

#include "vcard/CardKeys.h"

#include <openssl/rand.h>

namespace vcard {

namespace {

// EF.GDO: data object 5A (ICCSN) of ten BCD bytes, beginning with the
// industry identifier 89 and the country code 49 as issued cards do.
Bytes MakeGdo() {
    uint8_t random[8] = {};
    if (RAND_bytes(random, sizeof random) != 1) {
        return {};
    }
    Bytes gdo = {0x5A, 0x0A, 0x89, 0x49};
    for (uint8_t r : random) {
        const unsigned hi = (r >> 4) % 10;
        const unsigned lo = (r & 0x0F) % 10;
        gdo.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return gdo;
}

void AddPins(const CardProfile& profile, CardState& state) {
    for (const PinSpec& pinDef : profile.pins) {
        PinRecord pin;
        pin.ref = pinDef.ref;
        pin.df = (pinDef.ref & 0x80) ? CardPath{kMasterFile, 0xDF01} : CardPath{kMasterFile};
        pin.partner = pinDef.partner;
        pin.state = pinDef.initial;
        pin.maxTries = profile.maxTries;
        pin.tries = profile.maxTries;
        switch (pinDef.initial) {
        case PinState::NullPin:
            pin.value = profile.nullPin;
            break;
        case PinState::Set:
            pin.value.assign(pinDef.initialValue.begin(), pinDef.initialValue.end());
            break;
        case PinState::NotSet:
            break;
        }
        state.pins.push_back(std::move(pin));
    }
}

bool AddSignatureFiles(const CardProfile& profile, CardState& state) {
    FileSystem& fs = state.files;
    const CardPath mf{kMasterFile};
    auto at = [](CardPath base, uint16_t fid) {
        base.push_back(fid);
        return base;
    };
    const CardPath df01 = at(mf, 0xDF01);
    const CardPath df02 = at(mf, 0xDF02);
    bool ok =
        fs.Add(at(mf, 0x4500), FileKind::Records, 0, true) && fs.Add(df01, FileKind::Dedicated) &&
        fs.Add(at(df01, 0x5049), FileKind::Transparent, 16, true) &&
        fs.Add(at(df01, 0xC000), FileKind::Transparent, 4096) &&
        fs.Add(at(df01, 0x4531), FileKind::Records, 0, true) && fs.Add(df02, FileKind::Dedicated) &&
        fs.Add(at(df02, 0x4531), FileKind::Records, 0, true) &&
        fs.Add(at(df02, 0x45B1), FileKind::Records, 0, true) &&
        fs.Add(at(df02, 0x4571), FileKind::Records, 0, true) &&
        fs.Add(at(df02, 0xC000), FileKind::Transparent, 2048) &&
        fs.Add(at(df02, 0xC200), FileKind::Transparent, 2048) &&
        fs.Add(at(df02, 0xC500), FileKind::Transparent, 2048);
    if (!ok) {
        return false;
    }
    // 4500 lists the card's key references; record 5 appears when the maker's
    // public key is installed.
    CardFile* keyList = fs.Find(at(mf, 0x4500));
    for (uint8_t ref : {0x81, 0x82, 0x83, 0x84}) {
        keyList->records.push_back({0x83, 0x01, ref});
    }
    for (std::string_view text : kKeyFiles) {
        const CardPath path = *ParseCardPath(text);
        CardKey key;
        key.keyFile = path;
        if (profile.keyBits > 0) {
            auto der = GenerateRsaKey(profile.keyBits);
            auto modulus = der ? RsaModulus(*der) : std::nullopt;
            if (!modulus) {
                return false;
            }
            key.privateKeyDer = std::move(*der);
            fs.Find(path)->records.push_back(std::move(*modulus));
            state.keys.push_back(std::move(key));
        }
    }
    return true;
}

} // namespace

std::optional<CardState> BuildFreshCard(const CardProfile& profile) {
    CardState state;
    state.profile = profile.name;
    const CardPath gdo{kMasterFile, 0x2F02};
    Bytes number = MakeGdo();
    if (number.empty() || !state.files.Add(gdo, FileKind::Transparent, number.size(), true)) {
        return std::nullopt;
    }
    state.files.Find(gdo)->content = std::move(number);
    switch (profile.layout) {
    case CardLayout::SignatureCard:
        if (!AddSignatureFiles(profile, state)) {
            return std::nullopt;
        }
        break;
    case CardLayout::CardOs:
        if (!state.files.Add({kMasterFile, 0xDF01}, FileKind::Dedicated) ||
            !state.files.Add({kMasterFile, 0xDF02}, FileKind::Dedicated)) {
            return std::nullopt;
        }
        break;
    case CardLayout::GdoOnly:
        break;
    }
    AddPins(profile, state);
    return state;
}

} // namespace vcard
