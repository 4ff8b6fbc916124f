// Feeds sequences of command APDUs to a fresh virtual card.
// Input: one byte choosing the profile, then records of a length byte and
// that many APDU bytes (a record cut short by the end of the input is sent
// as it is). A 0xFF length resets the card instead.

#include "vcard/VirtualCard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

std::vector<vcard::CardProfile> KeylessProfiles() {
    std::vector<vcard::CardProfile> profiles;
    for (const std::string& name : vcard::ProfileNames()) {
        vcard::CardProfile p = *vcard::FindProfile(name);
        p.keyBits = 0; // keys are not what the parser is about, and they are slow to make
        profiles.push_back(std::move(p));
    }
    return profiles;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<vcard::CardProfile> profiles = KeylessProfiles();
    if (size == 0) {
        return 0;
    }
    auto card = vcard::OpenCard(profiles[data[0] % profiles.size()], "");
    if (!card) {
        std::abort();
    }
    std::span<const uint8_t> rest(data + 1, size - 1);
    while (!rest.empty()) {
        const size_t len = rest[0];
        rest = rest.subspan(1);
        if (len == 0xFF) {
            card->Reset();
            continue;
        }
        const auto apdu = rest.first(len < rest.size() ? len : rest.size());
        rest = rest.subspan(apdu.size());
        const std::vector<uint8_t> response = card->Transmit(apdu);
        // Every answer ends in a status word and fits a short response.
        if (response.size() < 2 || response.size() > 258) {
            std::abort();
        }
    }
    return 0;
}
