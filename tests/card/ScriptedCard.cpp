#include "tests/card/ScriptedCard.h"

#include <stdexcept>

namespace cardtest {

std::vector<uint8_t> Hex(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else if (c == ' ') {
            continue;
        } else {
            throw std::invalid_argument("not hex");
        }
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd number of digits");
    }
    return bytes;
}

const std::vector<uint8_t> kAtrTcos20 =
    Hex("3B BA 96 00 81 31 86 5D 00 64 05 60 02 03 31 80 90 00 66");
const std::vector<uint8_t> kAtrTcos30 =
    Hex("3B BF 96 00 81 31 FE 5D 00 64 04 11 03 01 31 C0 73 F7 01 D0 00 90 00 7D");
const std::vector<uint8_t> kAtrMicardo =
    Hex("3B 6F 00 FF 00 68 D2 76 00 00 28 FF 05 1E 31 80 00 90 00");
const std::vector<uint8_t> kAtrCardOs8 = Hex("3B F2 98 00 FF C1 10 31 FE 55 C8 04 12");
const std::vector<uint8_t> kAtrCardOs4 = Hex("3B F2 18 00 02 C1 0A 31 FE 58 C8 08 74");
const std::vector<uint8_t> kAtrTcos30V2 =
    Hex("3B 9F 96 81 31 FE 9D 00 64 05 A0 03 04 31 C0 73 F7 01 D0 00 90 00 28");

} // namespace cardtest
