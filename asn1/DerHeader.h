#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Internal to velk_asn1: the identifier and length octets of one element.
namespace velk::asn1 {

struct DerHeader {
    uint32_t headerSize = 0;    // identifier octet + length octets
    uint32_t contentLength = 0; // for the indefinite form: contents + end-of-contents
    [[nodiscard]] uint32_t Total() const { return headerSize + contentLength; }
};

// Reads the header of the element at `p`, of which `avail` octets may be read.
// Fails (nullopt) unless the whole element, contents included, lies within
// those `avail` octets, so Total() never overflows and never leaves the data.
[[nodiscard]] std::optional<DerHeader> ReadHeader(const uint8_t* p, std::size_t avail);

// Appends two upper-case hexadecimal digits per octet.
void AppendHex(std::span<const uint8_t> octets, std::string& out);

} // namespace velk::asn1
