// The certificates of the machine's trust store (package ca-certificates):
// subject, issuer, serial number and public key as the decoder gives them,
// against what OpenSSL decodes from the same bytes.
#include "asn1/CASN1.h"
#include "asn1/CCertInfo.h"
#include "tests/asn1/TestSupport.h"

#include <gtest/gtest.h>

using namespace asn1test;

namespace {

std::string FieldText(const Bytes& cert, uint32_t id) {
    Asn1Cursor c;
    if (!CASN1::LocateCertField(cert, id, c)) {
        return "<not found>";
    }
    return id == CASN1::CERT_SERIAL ? CASN1::ContentHex(c) : CASN1::NameToText(c, c.size);
}

} // namespace

TEST(TrustStore, DecodesLikeOpenSsl) {
    const auto certs = LoadPemBundle("/etc/ssl/certs/ca-certificates.crt");
    if (certs.empty()) {
        GTEST_SKIP() << "no trust store bundle on this machine";
    }
    int keys = 0;
    for (const Bytes& cert : certs) {
        const auto x = Decode(cert);
        ASSERT_TRUE(x);
        const std::string subject = ExpectedNameText(X509_get_subject_name(x.get()));
        SCOPED_TRACE(subject);
        EXPECT_EQ(FieldText(cert, CASN1::CERT_SUBJECT), subject);
        EXPECT_EQ(FieldText(cert, CASN1::CERT_ISSUER),
                  ExpectedNameText(X509_get_issuer_name(x.get())));
        EXPECT_EQ(FieldText(cert, CASN1::CERT_SERIAL), ExpectedSerialHex(x.get()));

        const Bytes expected = ExpectedKey(x.get());
        uint32_t length = 0;
        std::vector<uint8_t> key;
        const int result = CCertInfo("dummy", cert).GetPublicKey(length, key, false);
        EXPECT_EQ(result, expected.empty() ? -1 : 0);
        if (result == 0) {
            EXPECT_EQ(key, expected);
            EXPECT_EQ(length, key.size());
            ++keys;
        }
    }
    EXPECT_GT(keys, static_cast<int>(certs.size()) / 2);
}
