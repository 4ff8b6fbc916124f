// Parses arbitrary bytes as a card image; whatever parses must survive a
// round trip through the writer unchanged.

#include "vcard/CardImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto state = vcard::ParseImage(text);
    if (!state) {
        return 0;
    }
    const std::string written = vcard::SerializeImage(*state);
    const auto again = vcard::ParseImage(written);
    if (!again || vcard::SerializeImage(*again) != written) {
        std::abort();
    }
    return 0;
}
