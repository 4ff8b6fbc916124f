#include "platform/scarddb/SCardDb.h"

namespace velk {

// TS T0 {TA TB TC TD}... historical bytes [TCK]. Each TD announces the next
// group of interface bytes; a protocol other than T=0 in any TD means a check
// byte follows the historical bytes.
size_t AtrLength(const uint8_t* atr, size_t available) {
    if (!atr || available < 2 || (atr[0] != 0x3B && atr[0] != 0x3F)) {
        return 0;
    }
    const size_t historical = atr[1] & 0x0F;
    unsigned indicator = atr[1] >> 4;
    size_t pos = 2;
    bool checkByte = false;
    while (indicator != 0) {
        pos += (indicator & 0x1) + ((indicator >> 1) & 0x1) + ((indicator >> 2) & 0x1);
        if ((indicator & 0x8) == 0) {
            break;
        }
        if (pos >= available) {
            return 0;
        }
        const uint8_t td = atr[pos++];
        if ((td & 0x0F) != 0) {
            checkByte = true;
        }
        indicator = td >> 4;
    }
    pos += historical + (checkByte ? 1 : 0);
    return pos <= available ? pos : 0;
}

} // namespace velk
