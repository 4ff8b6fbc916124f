// Malformed encodings: each one must give the neutral result of every
// operation without reading outside its buffer (the buffers have exactly the
// octets listed, so the address sanitizer catches any overread).
#include "asn1/CASN1.h"
#include "tests/asn1/TestSupport.h"

#include <gtest/gtest.h>

using namespace asn1test;

namespace {

struct Malformed {
    const char* name;
    Bytes der;
    const char* reason;
};

Bytes DeepIndefinite(uint32_t depth) {
    Bytes der;
    for (uint32_t i = 0; i < depth; ++i) {
        der.insert(der.end(), {0x30, 0x80});
    }
    der.insert(der.end(), 2 * depth, 0x00);
    return der;
}

const Malformed kBadHeaders[] = {
    {"empty", {}, "no identifier octet"},
    {"identifier_only", {0x30}, "no length octet"},
    {"short_past_data", {0x30, 0x05, 0x02, 0x01}, "length 5, two octets follow"},
    {"long_form_cut", {0x30, 0x82, 0x01}, "two length octets announced, one present"},
    {"long_form_past_data", {0x04, 0x81, 0x80, 0x00}, "length 128, one octet follows"},
    {"five_length_octets", {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAA}, "over four"},
    {"length_near_4g", {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, "32-bit length past data"},
    {"length_127_octets", {0x04, 0xFF, 0x01}, "0xFF: 127 length octets"},
    {"indefinite_no_eoc", {0x30, 0x80, 0x02, 0x01, 0x05}, "data ends before 00 00"},
    {"indefinite_half_eoc", {0x30, 0x80, 0x02, 0x01, 0x05, 0x00}, "a lone 00 at the end"},
    {"indefinite_outer_open",
     {0x30, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00},
     "inner element closed, outer one not"},
    {"indefinite_child_past_data", {0x30, 0x80, 0x04, 0x10, 0x00, 0x00}, "child runs past data"},
    {"indefinite_too_deep", DeepIndefinite(CASN1::kMaxIndefiniteDepth + 1), "nested too deep"},
    {"indefinite_very_deep", DeepIndefinite(4000), "thousands of levels"},
};

} // namespace

TEST(Malformed, HeadersGiveNeutralResults) {
    for (const auto& [name, der, reason] : kBadHeaders) {
        SCOPED_TRACE(std::string(name) + ": " + reason);
        const Asn1Cursor element = Over(der);
        EXPECT_EQ(element.size, 0u);
        uint32_t offset = 0;
        EXPECT_EQ(CASN1::ReadLength(element, offset), 0u);
        EXPECT_EQ(offset, 0u);
        Asn1Cursor c{7, der.data(), der.data() + der.size()};
        EXPECT_FALSE(CASN1::Enter(element, c));
        EXPECT_EQ(c.pos, nullptr);
        c = {0xFFFFFFFF, der.data(), der.data() + der.size()};
        EXPECT_FALSE(CASN1::Next(element, c));
        EXPECT_EQ(c.pos, nullptr);
        EXPECT_EQ(CASN1::ContentHex(element), "");
        EXPECT_EQ(CASN1::BitStringHex(element), "");
        EXPECT_EQ(CASN1::ContentText(element, static_cast<uint32_t>(der.size())), "");
        EXPECT_TRUE(CASN1::ContentBytes(element).empty());
        EXPECT_EQ(CASN1::NameToText(element, static_cast<uint32_t>(der.size())), "");
        Asn1Cursor out;
        EXPECT_FALSE(CASN1::LocateCertField(der, CASN1::CERT_SUBJECT, out));
    }
}

TEST(Malformed, WalksStopAtBadElements) {
    // The element reached by Enter or Next cannot be read: false, size 0.
    const Bytes innerPastData{0x30, 0x02, 0x04, 0x05};
    Asn1Cursor c;
    EXPECT_FALSE(CASN1::Enter(Over(innerPastData), c));
    EXPECT_EQ(c.pos, innerPastData.data() + 2);
    EXPECT_EQ(c.size, 0u);
    EXPECT_EQ(CASN1::TagOf(c), CASN1::TAG_OCTET_STRING);

    const Bytes nextPastData{0x05, 0x00, 0x04, 0x09, 0x01};
    c = Over(nextPastData);
    EXPECT_FALSE(CASN1::Next(c, c));
    EXPECT_EQ(c.pos, nextPastData.data() + 2);
    EXPECT_EQ(c.size, 0u);

    // "BIT STRING without its unused-bits octet" cannot be entered.
    const Bytes emptyBits{0x03, 0x00};
    EXPECT_FALSE(CASN1::Enter(Over(emptyBits), c));
    EXPECT_EQ(c.pos, nullptr);

    // A size handed to ContentText beyond the data.
    const Bytes text{0x0C, 0x02, 'a', 'b'};
    EXPECT_EQ(CASN1::ContentText(Over(text), 40), "");
    EXPECT_EQ(CASN1::ContentText(Over(text), 1), "");
}

TEST(Malformed, ObjectIdentifiers) {
    const Malformed cases[] = {
        {"last_octet_continues", {0x06, 0x02, 0x2A, 0x86}, "subidentifier never ends"},
        {"first_unterminated", {0x06, 0x01, 0x86}, "first subidentifier never ends"},
        {"no_contents", {0x06, 0x00}, "an OID needs one octet"},
        {"over_64_bits",
         {0x06, 0x0C, 0x2A, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
         "subidentifier of 71 bits"},
    };
    for (const auto& [name, der, reason] : cases) {
        SCOPED_TRACE(std::string(name) + ": " + reason);
        EXPECT_EQ(CASN1::OidToText(Over(der), static_cast<uint32_t>(der.size()), false), "");
    }
    const Bytes cut{0x06, 0x03, 0x55, 0x1D};
    EXPECT_EQ(CASN1::OidToText(Over(cut), 5, false), "") << "length beyond the data";
}
