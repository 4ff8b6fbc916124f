#include "dialogs/perso/CardKeyMatch.h"

#include "asn1/CCertInfo.h"

#include <algorithm>
#include <vector>

bool CertMatchesCardKey(std::span<const uint8_t> certificate, std::span<const uint8_t> cardKey) {
    if (cardKey.size() < kCardKeyLength) {
        return false;
    }
    const CCertInfo info("", certificate);
    uint32_t keyLength = 0;
    std::vector<uint8_t> key;
    if (info.GetPublicKey(keyLength, key, false) != 0 || key.size() < kCardKeyLength) {
        return false;
    }
    return std::equal(key.begin(), key.begin() + kCardKeyLength, cardKey.begin());
}
