#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace velkmd {

// The whole length of the DER certificate at the start of a certificate file,
// from its header (SEQUENCE tag 30, a short or a one- or two-byte long
// length), or 0 when the file holds none: an erased file (00 or FF), another
// tag, an indefinite or longer length form, or a length beyond `fileLimit`.
std::size_t CertificateLength(std::span<const uint8_t> head, std::size_t fileLimit);

} // namespace velkmd
