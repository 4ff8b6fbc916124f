#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Reads the text a shared object keeps in an exported, initialised character array, from the
// bytes of its file: found through the symbol tables of the section headers, without loading
// or running anything of the module. Only 64-bit little-endian ELF files are understood.
// Nothing when the bytes are no such file, the symbol is absent or undefined, its bytes lie
// outside the file, or they hold no terminating NUL within the symbol's size.
std::optional<std::string> ReadElfSymbolText(std::span<const uint8_t> image,
                                             std::string_view symbol);
