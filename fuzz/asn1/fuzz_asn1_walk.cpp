// Walks arbitrary bytes the way the program's callers do: Enter into
// constructed elements and BIT STRINGs, Next along each level up to the end of
// the enclosing element, every rendering on every element reached.
#include "fuzz/asn1/FuzzCheck.h"

#include <array>

using fuzzcheck::Require;
using fuzzcheck::RequireWithin;

namespace {

constexpr std::size_t kMaxDepth = 24;
constexpr std::size_t kMaxSteps = 20000;

void Inspect(const Asn1Cursor& c, std::span<const uint8_t> data) {
    (void)CASN1::TagOf(c);
    (void)CASN1::ClassOf(c);
    (void)CASN1::TagNumberOf(c);
    const auto element = CASN1::ElementBytes(c);
    const auto contents = CASN1::ContentBytes(c);
    RequireWithin(element, data);
    RequireWithin(contents, data);
    // The renderings on primitive elements only: the contents of a
    // constructed one are its children, rendered on their own.
    if (c.Readable() && (*c.pos & 0x20) == 0) {
        Require(CASN1::ContentHex(c).size() == 2 * contents.size());
        Require(CASN1::BitStringHex(c).size() == (contents.empty() ? 0 : 2 * contents.size() - 2));
        Require(CASN1::ContentText(c, c.size).size() <= element.size());
    }
    if (CASN1::TagOf(c) == CASN1::TAG_OID) {
        (void)CASN1::OidToText(c, c.size, false);
        (void)CASN1::OidToText(contents.empty() ? c : Asn1Cursor{0, contents.data(), c.end},
                               static_cast<uint32_t>(contents.size()), true);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const std::span<const uint8_t> data(bytes, size);

    // ReadLength at the first few offsets, as the card-file readers use it.
    const Asn1Cursor base = CASN1::Start(data);
    for (uint32_t at = 0; at < 16 && at < size; ++at) {
        uint32_t offset = at;
        const uint32_t length = CASN1::ReadLength(base, offset);
        Require(offset == at || offset + static_cast<uint64_t>(length) <= size);
    }

    struct Level {
        Asn1Cursor cursor;
        const uint8_t* end; // of the enclosing element
    };
    std::array<Level, kMaxDepth> stack{};
    std::size_t depth = 0;
    stack[0] = {base, bytes + size};
    for (std::size_t step = 0; step < kMaxSteps; ++step) {
        Level& level = stack[depth];
        Asn1Cursor& c = level.cursor;
        const bool inside = c.Readable() && c.pos < level.end;
        if (inside) {
            Inspect(c, data);
            const uint8_t identifier = *c.pos;
            Asn1Cursor child;
            const bool entered = (identifier & 0x20) != 0 || identifier == 0x03;
            if (entered && depth + 1 < kMaxDepth && CASN1::Enter(c, child)) {
                RequireWithin(CASN1::ElementBytes(child), data);
                stack[++depth] = {child, c.pos + c.size};
                continue;
            }
            const uint8_t* before = c.pos;
            if (CASN1::Next(c, c)) {
                Require(c.pos > before);
                RequireWithin(CASN1::ElementBytes(c), data);
                continue;
            }
        }
        // This level has ended: go on after the enclosing element.
        if (depth == 0) {
            break;
        }
        --depth;
        Asn1Cursor& parent = stack[depth].cursor;
        if (!CASN1::Next(parent, parent)) {
            parent = {};
        }
    }
    return 0;
}
