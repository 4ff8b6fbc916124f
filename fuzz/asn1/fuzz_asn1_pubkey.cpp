// CCertInfo::GetPublicKey over arbitrary bytes, in both octet orders.
#include "asn1/CCertInfo.h"
#include "fuzz/asn1/FuzzCheck.h"

#include <algorithm>

using fuzzcheck::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const CCertInfo info("dummy", std::span<const uint8_t>(bytes, size));
    uint32_t length = 0, reversedLength = 0;
    std::vector<uint8_t> key, reversed;
    const int result = info.GetPublicKey(length, key, false);
    Require(info.GetPublicKey(reversedLength, reversed, true) == result);
    if (result == 0) {
        Require(length == key.size() && reversedLength == length && key.size() < size);
        Require(std::equal(key.rbegin(), key.rend(), reversed.begin(), reversed.end()));
    } else {
        Require(result == -1 && key.empty());
    }
    return 0;
}
