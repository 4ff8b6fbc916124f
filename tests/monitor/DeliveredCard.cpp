#include "tests/monitor/DeliveredCard.h"

#include "card/SCard.h"
#include "monitor/CCert.h"

#include <winscard.h>

#include <vector>

namespace montest {

void RegisterReaderCertificates(const std::string& reader) {
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
        SCardGetStatusChange(context, 0, &state, 1);
        SCardReleaseContext(context);
    }
    CCert().AddReaderCertificates(&state);
}

bool BreakCardPin1NullPin(const std::string& reader, std::string_view pin) {
    const std::vector<uint8_t> nullPin(6, 0x00);
    uint8_t tries = 0;
    return SCard(reader).ChangeReferenceData("3f002f02", 0x00, nullPin,
                                             std::vector<uint8_t>(pin.begin(), pin.end()),
                                             tries) == scard::kPinOk;
}

} // namespace montest
