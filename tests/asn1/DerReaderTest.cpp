#include "asn1/CASN1.h"
#include "tests/asn1/TestSupport.h"

#include <gtest/gtest.h>

using namespace asn1test;

namespace {

Bytes Filled(Bytes head, std::size_t count, uint8_t octet = 0x5A) {
    head.insert(head.end(), count, octet);
    return head;
}

} // namespace

TEST(DerReader, LengthForms) {
    uint32_t offset = 0;
    const Bytes longForm = Filled({0x30, 0x82, 0x01, 0x0A}, 266);
    EXPECT_EQ(CASN1::ReadLength(Over(longForm), offset), 266u);
    EXPECT_EQ(offset, 4u);

    // Indefinite lengths count the contents together with the end-of-contents.
    offset = 0;
    const Bytes indefinite{0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00};
    EXPECT_EQ(CASN1::ReadLength(Over(indefinite), offset), 5u);
    EXPECT_EQ(offset, 2u);
    offset = 0;
    const Bytes nested{0x30, 0x80, 0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(CASN1::ReadLength(Over(nested), offset), 9u);
    // The offset addresses an element inside the buffer.
    offset = 2;
    EXPECT_EQ(CASN1::ReadLength(Over(nested), offset), 5u);
    EXPECT_EQ(offset, 4u);
    // Nesting up to the limit is still read.
    Bytes deep;
    for (uint32_t i = 0; i < CASN1::kMaxIndefiniteDepth; ++i) {
        deep.insert(deep.end(), {0x30, 0x80});
    }
    deep.insert(deep.end(), 2 * CASN1::kMaxIndefiniteDepth, 0x00);
    offset = 0;
    EXPECT_EQ(CASN1::ReadLength(Over(deep), offset), deep.size() - 2);
}

TEST(DerReader, TagsAndClasses) {
    const Bytes a3{0xA3, 0x00}, seq{0x30, 0x00}, app{0x61, 0x00};
    EXPECT_EQ(CASN1::TagOf(Over(seq)), 16u);
    EXPECT_EQ(CASN1::TagOf(Over(a3)), 0xA3u);
    EXPECT_EQ(CASN1::TagNumberOf(Over(a3)), 3u);
    EXPECT_EQ(CASN1::ClassOf(Over(a3)), 0x80u);
    EXPECT_EQ(CASN1::TagOf(Over(app)), 0x61u);
    EXPECT_EQ(CASN1::TagOf(Asn1Cursor{}), 0u);
}

TEST(DerReader, EnterAndNext) {
    // A BIT STRING that wraps an RSAPublicKey is entered past its unused-bits octet.
    const Bytes key = Filled({0x03, 0x82, 0x01, 0x0F, 0x00, 0x30, 0x82, 0x01, 0x0A}, 266);
    Asn1Cursor c;
    ASSERT_TRUE(CASN1::Enter(Over(key), c));
    EXPECT_EQ(c.pos, key.data() + 5);
    EXPECT_EQ(c.size, 270u);

    // An empty SEQUENCE: size 0, positioned just after it.
    const Bytes empty{0x30, 0x00, 0x05, 0x00};
    ASSERT_TRUE(CASN1::Enter(Over(empty), c));
    EXPECT_EQ(c.pos, empty.data() + 2);
    EXPECT_EQ(c.size, 0u);
    // ...and Next refuses to step over an element larger than the size.
    EXPECT_FALSE(CASN1::Next(c, c));
    EXPECT_EQ(c.pos, empty.data() + 2);

    // Next steps on past the end of the enclosing element.
    const Bytes two{0x30, 0x03, 0x02, 0x01, 0x07, 0x04, 0x01, 0xAA};
    ASSERT_TRUE(CASN1::Enter(Over(two), c));
    EXPECT_EQ(CASN1::TagOf(c), CASN1::TAG_INTEGER);
    ASSERT_TRUE(CASN1::Next(c, c));
    EXPECT_EQ(CASN1::TagOf(c), CASN1::TAG_OCTET_STRING);
    EXPECT_EQ(c.size, 3u);
    // The data ends: false, the cursor just past the last element.
    EXPECT_FALSE(CASN1::Next(c, c));
    EXPECT_EQ(c.pos, two.data() + two.size());
    EXPECT_EQ(CASN1::TagOf(c), 0u);

    // A card file padded with 00 or FF: the padding ends the elements, size kept.
    for (const uint8_t pad : {0x00, 0xFF}) {
        const Bytes file{0x04, 0x01, 0x11, pad, pad, pad};
        c = Over(file);
        EXPECT_FALSE(CASN1::Next(c, c));
        EXPECT_EQ(c.pos, file.data() + 3);
        EXPECT_EQ(c.size, 3u);
    }

    // A null element clears the cursor.
    c = Over(two);
    EXPECT_FALSE(CASN1::Enter(Asn1Cursor{}, c));
    EXPECT_EQ(c.pos, nullptr);
    c = Over(two);
    EXPECT_FALSE(CASN1::Next(Asn1Cursor{}, c));
    EXPECT_EQ(c.size, 0u);
}

TEST(DerReader, OidText) {
    struct Case {
        Bytes der;
        const char* text;
    };
    const Case cases[] = {
        {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, "1.2.840.10045.3.1.7"},
        {{0x06, 0x05, 0x2B, 0x24, 0x08, 0x03, 0x01}, "1.3.36.8.3.1"},
        {{0x06, 0x03, 0x55, 0x1D, 0x0F}, "2.5.29.15"},
        {{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01},
         "1.2.840.113549.1.1.1"},
        {{0x06, 0x01, 0x55}, "2.5"},
        {{0x06, 0x02, 0x88, 0x37}, "2.999"}, // first subidentifier above 79
        {{0x06, 0x06, 0x2A, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, "1.2.4294967295"},
    };
    for (const auto& [der, text] : cases) {
        EXPECT_EQ(CASN1::OidToText(Over(der), static_cast<uint32_t>(der.size()), false), text);
        // The same contents addressed directly.
        const Asn1Cursor contents{0, der.data() + 2, der.data() + der.size()};
        EXPECT_EQ(CASN1::OidToText(contents, static_cast<uint32_t>(der.size() - 2), true), text);
    }
    EXPECT_EQ(CASN1::OidToText(Asn1Cursor{}, 3, false), "");
}

TEST(DerReader, ContentRenderings) {
    const Bytes bits{0x03, 0x03, 0x00, 0x0A, 0xBC}, small{0x02, 0x01, 0x7F},
        exponent{0x02, 0x03, 0x01, 0x00, 0x01}, serial{0x02, 0x03, 0x00, 0xB1, 0x2C};
    EXPECT_EQ(CASN1::BitStringHex(Over(bits)), "0ABC");
    EXPECT_EQ(CASN1::ContentHex(Over(small)), "7F");
    EXPECT_EQ(CASN1::ContentHex(Over(exponent)), "010001");
    EXPECT_EQ(CASN1::ContentHex(Over(serial)), "00B12C");
    EXPECT_EQ(CASN1::BitStringHex(Over(serial)), "B12C");

    const Bytes text{0x0C, 0x05, 'J', 0xC3, 0xB6, 'r', 'g'};
    EXPECT_EQ(CASN1::ContentText(Over(text), 7), "J\xC3\xB6rg");
    const Bytes withNul{0x13, 0x03, 'A', 0x00, 'B'};
    EXPECT_EQ(CASN1::ContentText(Over(withNul), 5), "A");

    // Results beyond the old 5000-octet buffers come back whole.
    const Bytes big = Filled({0x04, 0x82, 0x0B, 0xB8}, 3000, 0xAB);
    EXPECT_EQ(CASN1::ContentHex(Over(big)).size(), 6000u);
    const Bytes longText = Filled({0x0C, 0x82, 0x17, 0x70}, 6000, 'x');
    EXPECT_EQ(CASN1::ContentText(Over(longText), 6004), std::string(6000, 'x'));
}
