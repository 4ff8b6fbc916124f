#include "vcard/Apdu.h"

namespace vcard {

std::optional<CommandApdu> ParseCommand(std::span<const uint8_t> apdu) {
    if (apdu.size() < 4) {
        return std::nullopt;
    }
    CommandApdu cmd;
    cmd.cla = apdu[0];
    cmd.ins = apdu[1];
    cmd.p1 = apdu[2];
    cmd.p2 = apdu[3];
    const size_t rest = apdu.size() - 4;
    if (rest == 0) {
        cmd.apduCase = kCase1;
        return cmd;
    }
    if (rest == 1) {
        cmd.apduCase = kCase2;
        cmd.le = apdu[4] == 0 ? 256 : apdu[4];
        return cmd;
    }
    const size_t lc = apdu[4];
    if (lc == 0) {
        return std::nullopt; // extended length: not spoken here
    }
    if (rest == 1 + lc) {
        cmd.apduCase = kCase3;
        cmd.data = apdu.subspan(5, lc);
        return cmd;
    }
    if (rest == 2 + lc) {
        cmd.apduCase = kCase4;
        cmd.data = apdu.subspan(5, lc);
        const uint8_t le = apdu[5 + lc];
        cmd.le = le == 0 ? 256 : le;
        return cmd;
    }
    return std::nullopt;
}

Bytes Response::Encode() const {
    Bytes out;
    out.reserve(data.size() + 2);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(static_cast<uint8_t>(sw >> 8));
    out.push_back(static_cast<uint8_t>(sw & 0xFF));
    return out;
}

} // namespace vcard
