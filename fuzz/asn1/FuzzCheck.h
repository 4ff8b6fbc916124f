#pragma once

#include "asn1/CASN1.h"

#include <cstdint>
#include <cstdlib>
#include <span>

// Invariants the fuzz targets hold the decoder to; a broken one aborts, which
// the fuzzer reports as a crash with the input that caused it.
namespace fuzzcheck {

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// `inner` lies within `outer`.
inline void RequireWithin(std::span<const uint8_t> inner, std::span<const uint8_t> outer) {
    if (!inner.empty()) {
        Require(inner.data() >= outer.data() &&
                inner.data() + inner.size() <= outer.data() + outer.size());
    }
}

} // namespace fuzzcheck
