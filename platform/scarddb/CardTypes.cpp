#include "platform/scarddb/SCardDb.h"

namespace velk {

namespace {

constexpr const char* kMakerProvider = "Velkora Base Smart Card Crypto Provider";
constexpr const char* kOtherProvider = "Other Card Crypto Provider";

std::vector<uint8_t> FullMask(size_t length) {
    return std::vector<uint8_t>(length, 0xFF);
}

std::vector<CardType> BuildKnownCardTypes() {
    std::vector<CardType> types;
    types.push_back({"Velkora MD - TCOS 3.0",
                     {0x3B, 0xBF, 0x96, 0x00, 0x81, 0x31, 0xFE, 0x5D, 0x00, 0x64, 0x04, 0x11,
                      0x03, 0x01, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x7D},
                     {},
                     kMakerProvider});
    types.push_back({"Velkora MD - TCOS 3.0 V2",
                     {0x3B, 0x9F, 0x96, 0x81, 0x31, 0xFE, 0x9D, 0x00, 0x64, 0x05, 0xA0, 0x03,
                      0x04, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x28},
                     {},
                     kMakerProvider});
    // The TCOS 2.0 cards differ in one historical byte and so in the check byte.
    CardType tcos20{"Velkora MD - TCOS 2.0",
                    {0x3B, 0xBA, 0x96, 0x00, 0x81, 0x31, 0x86, 0x5D, 0x00, 0x64, 0x05, 0x60, 0x02,
                     0x03, 0x31, 0x80, 0x90, 0x00, 0x66},
                    {},
                    kMakerProvider};
    tcos20.mask = FullMask(tcos20.atr.size());
    tcos20.mask[11] = 0x00;
    tcos20.mask[18] = 0x00;
    types.push_back(std::move(tcos20));
    types.push_back({"Velkora MD - Micardo",
                     {0x3B, 0x6F, 0x00, 0xFF, 0x00, 0x68, 0xD2, 0x76, 0x00, 0x00, 0x28, 0xFF, 0x05,
                      0x1E, 0x31, 0x80, 0x00, 0x90, 0x00},
                     {},
                     kMakerProvider});
    // The maker's CardOS card, whose provider the About dialog names.
    types.push_back({"Velkora MD - CardOS",
                     {0x3B, 0xF2, 0x18, 0x00, 0x02, 0xC1, 0x0A, 0x31, 0xFE, 0x58, 0xC8, 0x08, 0x74},
                     {},
                     kMakerProvider});
    // A card of another make, served by its own provider.
    types.push_back({"Other Card",
                     {0x3B, 0xBB, 0x18, 0x00, 0xC0, 0x10, 0x31, 0xFE, 0x45, 0x80, 0x67,
                      0x04, 0x12, 0xB0, 0x03, 0x04, 0x00, 0x10, 0x81, 0x05, 0x2B},
                     {},
                     kOtherProvider});
    for (auto& type : types) {
        if (type.mask.empty()) {
            type.mask = FullMask(type.atr.size());
        }
    }
    return types;
}

} // namespace

const std::vector<CardType>& KnownCardTypes() {
    static const std::vector<CardType> types = BuildKnownCardTypes();
    return types;
}

LONG InstallCardTypes() {
    for (const auto& type : KnownCardTypes()) {
        LONG result =
            SCardIntroduceCardTypeA(0, type.name.c_str(), nullptr, nullptr, 0, type.atr.data(),
                                    type.mask.data(), static_cast<DWORD>(type.atr.size()));
        if (result == SCARD_S_SUCCESS) {
            result = SCardSetCardTypeProviderNameA(0, type.name.c_str(), SCARD_PROVIDER_CSP,
                                                   type.provider.c_str());
        }
        if (result != SCARD_S_SUCCESS) {
            return result;
        }
    }
    return SCARD_S_SUCCESS;
}

} // namespace velk
