// The decoder keeps no state between calls: several threads decoding the same
// certificates at once get the results of a single thread.
#include "asn1/CASN1.h"
#include "asn1/CCertInfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string Decoded(const Bytes& cert) {
    std::string all;
    Asn1Cursor c;
    for (const uint32_t id : {CASN1::CERT_SUBJECT, CASN1::CERT_ISSUER}) {
        if (CASN1::LocateCertField(cert, id, c)) {
            all += CASN1::NameToText(c, c.size) + "|";
        }
    }
    if (CASN1::LocateCertField(cert, CASN1::CERT_SERIAL, c)) {
        all += CASN1::ContentHex(c) + "|";
    }
    uint32_t length = 0;
    std::vector<uint8_t> key;
    if (CCertInfo("dummy", cert).GetPublicKey(length, key, true) == 0) {
        all.append(key.begin(), key.end());
    }
    return all;
}

} // namespace

TEST(Threaded, ConcurrentDecodingGivesTheSameTexts) {
    std::vector<Bytes> certs;
    for (const char* name : {"v1_rsa1024.der", "v3_rsa2048.der", "v3_rsa4096.der", "v3_ec_p256.der",
                             "v3_dsa2048.der"}) {
        std::ifstream in(std::string(VELK_ASN1_TEST_DATA) + "/" + name, std::ios::binary);
        certs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_FALSE(certs.back().empty()) << name;
    }
    std::vector<std::string> expected;
    for (const auto& cert : certs) {
        expected.push_back(Decoded(cert));
    }

    constexpr int kThreads = 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                for (std::size_t i = 0; i < certs.size(); ++i) {
                    const std::size_t k = (i + static_cast<std::size_t>(t)) % certs.size();
                    mismatches[static_cast<std::size_t>(t)] += Decoded(certs[k]) != expected[k];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const int m : mismatches) {
        EXPECT_EQ(m, 0);
    }
}
