// The serialisation of a store entry: what the hive holds must parse back
// exactly, and anything else must be refused without reading out of bounds.

#include "platform/certstore/CertBlob.h"

#include <gtest/gtest.h>

using namespace velk::certstore;

namespace {

CertBlob SampleBlob() {
    CertBlob blob;
    blob.der = {0x30, 0x03, 0x02, 0x01, 0x05};
    blob.sequence = 0x0102030405060708ULL;
    KeyProvInfo info;
    info.container = u"\\\\.\\Reader ä\\c0000000-0efd-11dc-8314-0800200c9a66";
    info.provider = u"Velkora Base Smart Card Crypto Provider";
    info.provType = 1;
    info.flags = 0x40;
    info.keySpec = 1;
    info.params.push_back({7, 0, {9, 8, 7}});
    info.params.push_back({8, 1, {}});
    blob.properties.keyProvInfo = info;
    blob.properties.other[11] = {'n', 0, 'a', 0};
    return blob;
}

TEST(CertBlobTest, RoundTripsEveryField) {
    const CertBlob blob = SampleBlob();
    const auto bytes = SerializeCertBlob(blob);
    const auto parsed = ParseCertBlob(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->der, blob.der);
    EXPECT_EQ(parsed->sequence, blob.sequence);
    EXPECT_EQ(parsed->properties, blob.properties);
    EXPECT_EQ(SerializeCertBlob(*parsed), bytes);

    CertBlob bare;
    bare.der = {0x30, 0x00};
    const auto bareParsed = ParseCertBlob(SerializeCertBlob(bare));
    ASSERT_TRUE(bareParsed);
    EXPECT_FALSE(bareParsed->properties.keyProvInfo);
}

TEST(CertBlobTest, EveryTruncationIsRefused) {
    const auto bytes = SerializeCertBlob(SampleBlob());
    for (size_t length = 0; length < bytes.size(); ++length) {
        // A fresh copy of exactly `length` bytes, so ASan sees any overread.
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
        EXPECT_FALSE(ParseCertBlob(cut)) << "accepted " << length << " of " << bytes.size();
    }
}

TEST(CertBlobTest, MalformedRecordsAreRefused) {
    const std::vector<uint8_t> header{'V', 'K', 'C', 'B', 1, 0, 0, 0};
    auto record = [](uint32_t id, std::vector<uint8_t> data, uint32_t length) {
        std::vector<uint8_t> out;
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(id >> (8 * i)));
        }
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(length >> (8 * i)));
        }
        out.insert(out.end(), data.begin(), data.end());
        return out;
    };
    const auto sequence = record(0x8001, {1, 0, 0, 0, 0, 0, 0, 0}, 8);
    const auto cert = record(0x20, {0x30, 0x00}, 2);
    auto join = [&](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out = header;
        for (const auto& part : parts) {
            out.insert(out.end(), part.begin(), part.end());
        }
        return out;
    };
    EXPECT_TRUE(ParseCertBlob(join({sequence, cert})));
    EXPECT_FALSE(ParseCertBlob(join({cert})));                          // no sequence
    EXPECT_FALSE(ParseCertBlob(join({sequence})));                      // no certificate
    EXPECT_FALSE(ParseCertBlob(join({sequence, cert, cert})));          // two certificates
    EXPECT_FALSE(ParseCertBlob(join({sequence, record(0x20, {}, 0)}))); // empty certificate
    EXPECT_FALSE(ParseCertBlob(join({sequence, record(0x20, {0x30}, 0xFFFFFFF0u)})));
    EXPECT_FALSE(ParseCertBlob(join({record(0x8001, {1, 0, 0, 0}, 4), cert})));

    auto wrongVersion = join({sequence, cert});
    wrongVersion[4] = 2;
    EXPECT_FALSE(ParseCertBlob(wrongVersion));
    auto wrongMagic = join({sequence, cert});
    wrongMagic[0] = 'X';
    EXPECT_FALSE(ParseCertBlob(wrongMagic));

    // Key-provider information: too many parameters, a name longer than what is left.
    const std::vector<uint8_t> tooManyParams{1,    0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                                             0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(ParseCertBlob(join({sequence, record(2, tooManyParams, 24), cert})));
    const std::vector<uint8_t> longName{1, 0, 0, 0, 0, 0,    0,    0, 1, 0,   0,
                                        0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 'a', 0};
    EXPECT_FALSE(ParseCertBlob(join({sequence, record(2, longName, 22), cert})));
    std::vector<uint8_t> huge(kMaxBlobSize + 1, 0);
    EXPECT_FALSE(ParseCertBlob(huge));
}

} // namespace
