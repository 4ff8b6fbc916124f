// libFuzzer target: whatever a P7M's enveloped content or a decrypted delivery holds, the walk
// to the ciphertext and the walk to the certificates stay inside the bytes, and every
// certificate handed out lies within them and starts with a SEQUENCE tag (0x30, or 0x10 as the
// reader also takes it).

#include "dialogs/perso/DeliveryWalk.h"
#include "dialogs/perso/P7Certificates.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

bool Within(std::span<const uint8_t> part, const std::vector<uint8_t>& whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy of exactly `size` bytes, so that any read past the end is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    if (BeginsWithSequence(bytes) != (size > 0 && data[0] == 0x30)) {
        __builtin_trap();
    }
    const auto ciphertext = LocateDeliveryCiphertext(bytes);
    if (!Within(ciphertext, bytes) || ciphertext.size() % 8 != 0) {
        __builtin_trap();
    }
    const uint32_t count = CountP7Certificates(bytes);
    for (uint32_t index = 0; index <= count; ++index) {
        const auto certificate = GetP7Certificate(bytes, index);
        if (!Within(certificate, bytes) || (index < count) == certificate.empty() ||
            (!certificate.empty() && (certificate.front() & 0xDF) != 0x10)) {
            __builtin_trap();
        }
    }
    return 0;
}
