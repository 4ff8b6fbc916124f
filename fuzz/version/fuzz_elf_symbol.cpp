// Arbitrary bytes as a module file whose version the About dialog reads: whatever they hold,
// the reader answers without reading outside them, and a text it finds has no NUL inside.
#include "platform/version/ElfSymbolText.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees every read past the end.
    const std::vector<uint8_t> image(data, data + size);
    for (const char* symbol : {"velk_module_version", "v", ""}) {
        const auto text = ReadElfSymbolText(std::span(image.data(), image.size()), symbol);
        if (text && (text->size() >= size || text->find('\0') != std::string::npos)) {
            std::abort();
        }
    }
    return 0;
}
