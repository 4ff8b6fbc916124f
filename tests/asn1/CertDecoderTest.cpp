// The X.509 decoder over certificates made with OpenSSL: the committed ones of
// data/ (make-certs.sh) and some built here, compared with what OpenSSL decodes.
#include "asn1/CASN1.h"
#include "asn1/CCertInfo.h"
#include "tests/asn1/TestSupport.h"

#include <openssl/ec.h>
#include <openssl/objects.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace asn1test;

namespace {

Bytes Field(const Bytes& cert, uint32_t id) {
    Asn1Cursor c;
    if (!CASN1::LocateCertField(cert, id, c)) {
        return {};
    }
    const auto bytes = CASN1::ElementBytes(c);
    return Bytes(bytes.begin(), bytes.end());
}

template <typename T, typename F> Bytes I2d(const T* object, F i2d) {
    unsigned char* out = nullptr;
    const int n = i2d(object, &out);
    Bytes der(out, out + std::max(n, 0));
    OPENSSL_free(out);
    return der;
}

// The TBSCertificate fields as OpenSSL encodes them from its decoded certificate.
struct Parts {
    Bytes serial, signature, issuer, validity, subject, spki, extensions;
};
Parts PartsOf(const X509* x) {
    Parts p;
    p.serial = I2d(X509_get0_serialNumber(x), i2d_ASN1_INTEGER);
    p.signature = I2d(X509_get0_tbs_sigalg(x), i2d_X509_ALGOR);
    p.issuer = EncodeName(X509_get_issuer_name(x));
    p.subject = EncodeName(X509_get_subject_name(x));
    p.validity = Tlv(0x30, Cat({I2d(X509_get0_notBefore(x), i2d_ASN1_TIME),
                                I2d(X509_get0_notAfter(x), i2d_ASN1_TIME)}));
    p.spki = I2d(X509_get_X509_PUBKEY(x), i2d_X509_PUBKEY);
    if (X509_get_ext_count(x) > 0) {
        p.extensions = Tlv(0xA3, I2d(X509_get0_extensions(x), i2d_X509_EXTENSIONS));
    }
    return p;
}

// A certificate assembled from the parts of `base`, with optional unique IDs
// and a replaced SubjectPublicKeyInfo; OpenSSL must accept it.
Bytes Assemble(const Bytes& base, const Bytes& version, const Bytes& issuerUid,
               const Bytes& subjectUid, bool extensions, const Bytes& spki = {}) {
    const auto x = Decode(base);
    const Parts p = PartsOf(x.get());
    const Bytes tbs = Tlv(0x30, Cat({version, p.serial, p.signature, p.issuer, p.validity,
                                     p.subject, spki.empty() ? p.spki : spki, issuerUid, subjectUid,
                                     extensions ? p.extensions : Bytes{}}));
    return Tlv(0x30, Cat({tbs, p.signature, Tlv(0x03, {0x00, 0x01, 0x02, 0x03})}));
}

const Bytes kV3{0xA0, 0x03, 0x02, 0x01, 0x02};
const Bytes kIssuerUid{0x81, 0x03, 0x00, 0x12, 0x34};
const Bytes kSubjectUid{0x82, 0x02, 0x00, 0x56};

} // namespace

TEST(CertFields, MatchOpenSslOnMadeCertificates) {
    for (const char* file : {"v1_rsa1024.der", "v3_rsa2048.der", "v3_rsa4096.der", "v3_ec_p256.der",
                             "v3_dsa2048.der"}) {
        SCOPED_TRACE(file);
        const Bytes cert = LoadData(file);
        const auto x = Decode(cert);
        ASSERT_TRUE(x);
        const Parts p = PartsOf(x.get());
        const bool v1 = X509_get_version(x.get()) == X509_VERSION_1;
        EXPECT_EQ(Field(cert, CASN1::CERT_VERSION), v1 ? Bytes{} : kV3);
        EXPECT_EQ(Field(cert, CASN1::CERT_SERIAL), p.serial);
        EXPECT_EQ(Field(cert, CASN1::CERT_SIGNATURE), p.signature);
        EXPECT_EQ(Field(cert, CASN1::CERT_ISSUER), p.issuer);
        EXPECT_EQ(Field(cert, CASN1::CERT_VALIDITY), p.validity);
        EXPECT_EQ(Field(cert, CASN1::CERT_SUBJECT), p.subject);
        EXPECT_EQ(Field(cert, CASN1::CERT_PUBLIC_KEY_INFO), p.spki);
        EXPECT_EQ(Field(cert, CASN1::CERT_EXTENSIONS), p.extensions);
        EXPECT_EQ(p.extensions.empty(), v1);
        // Absent optional fields clear the cursor; a v1 version leaves it alone.
        Asn1Cursor c = Over(cert);
        EXPECT_FALSE(CASN1::LocateCertField(cert, CASN1::CERT_ISSUER_UID, c));
        EXPECT_EQ(c.pos, nullptr);
        c = Over(cert);
        EXPECT_EQ(CASN1::LocateCertField(cert, CASN1::CERT_VERSION, c), !v1);
        EXPECT_EQ(c.pos == cert.data(), v1);
        for (const uint32_t unknown : {0u, 102u, 107u, 115u}) {
            EXPECT_FALSE(CASN1::LocateCertField(cert, unknown, c));
        }
    }
}

TEST(CertFields, UniqueIdentifiers) {
    const Bytes base = LoadData("v3_rsa2048.der");
    struct Case {
        Bytes issuerUid, subjectUid;
        bool extensions;
    };
    const Case cases[] = {{kIssuerUid, kSubjectUid, true},
                          {kIssuerUid, {}, true},
                          {{}, kSubjectUid, false},
                          {kIssuerUid, kSubjectUid, false}};
    for (const auto& [issuerUid, subjectUid, extensions] : cases) {
        const Bytes cert = Assemble(base, kV3, issuerUid, subjectUid, extensions);
        const auto x = Decode(cert);
        ASSERT_TRUE(x) << "OpenSSL refuses the assembled certificate";
        const ASN1_BIT_STRING *iuid = nullptr, *suid = nullptr;
        X509_get0_uids(x.get(), &iuid, &suid);
        EXPECT_EQ(iuid != nullptr, !issuerUid.empty());
        EXPECT_EQ(suid != nullptr, !subjectUid.empty());
        EXPECT_EQ(Field(cert, CASN1::CERT_ISSUER_UID), issuerUid);
        EXPECT_EQ(Field(cert, CASN1::CERT_SUBJECT_UID), subjectUid);
        EXPECT_EQ(Field(cert, CASN1::CERT_EXTENSIONS), PartsOf(x.get()).extensions);
        EXPECT_EQ(Field(cert, CASN1::CERT_SUBJECT), EncodeName(X509_get_subject_name(x.get())));
    }
}

TEST(CertFields, TruncatedCertificates) {
    const Bytes whole = LoadData("v3_rsa2048.der");
    const auto x = Decode(whole);
    const Parts p = PartsOf(x.get());
    const std::pair<uint32_t, const Bytes*> fields[] = {{CASN1::CERT_VERSION, &kV3},
                                                        {CASN1::CERT_SERIAL, &p.serial},
                                                        {CASN1::CERT_SIGNATURE, &p.signature},
                                                        {CASN1::CERT_ISSUER, &p.issuer},
                                                        {CASN1::CERT_VALIDITY, &p.validity},
                                                        {CASN1::CERT_SUBJECT, &p.subject},
                                                        {CASN1::CERT_PUBLIC_KEY_INFO, &p.spki},
                                                        {CASN1::CERT_EXTENSIONS, &p.extensions}};
    Bytes tbs;
    for (const auto& field : fields) {
        tbs.insert(tbs.end(), field.second->begin(), field.second->end());
    }
    // The certificate and TBSCertificate headers fit the cut; the fields that
    // end before it are found, the one cut through and all later ones are not.
    for (std::size_t cut = 0; cut <= tbs.size(); cut += 5) {
        const Bytes cert = Tlv(0x30, Tlv(0x30, Bytes(tbs.begin(), tbs.begin() + cut)));
        std::size_t fieldEnd = 0;
        bool complete = true;
        for (const auto& [id, bytes] : fields) {
            fieldEnd += bytes->size();
            complete = complete && fieldEnd <= cut;
            EXPECT_EQ(Field(cert, id), complete ? *bytes : Bytes{}) << cut << " octets, " << id;
            if (id == CASN1::CERT_PUBLIC_KEY_INFO) {
                uint32_t length = 0;
                std::vector<uint8_t> key;
                EXPECT_EQ(CCertInfo("dummy", cert).GetPublicKey(length, key, false),
                          complete ? 0 : -1);
                EXPECT_EQ(key, complete ? ExpectedKey(x.get()) : Bytes{});
            }
        }
    }
    // A certificate read from a card file keeps the file's FF padding behind it.
    Bytes padded = whole;
    padded.insert(padded.end(), 64, 0xFF);
    EXPECT_EQ(Field(padded, CASN1::CERT_EXTENSIONS), p.extensions);
}

TEST(PublicKey, RsaAndEcKeysMatchOpenSsl) {
    const std::pair<const char*, uint32_t> cases[] = {{"v1_rsa1024.der", 128},
                                                      {"v3_rsa2048.der", 256},
                                                      {"v3_rsa4096.der", 512},
                                                      {"v3_ec_p256.der", 65}};
    for (const auto& [file, length] : cases) {
        SCOPED_TRACE(file);
        const Bytes cert = LoadData(file);
        const CCertInfo info("dummy", cert);
        EXPECT_EQ(info.GetIndex(), -1);
        uint32_t keyLength = 0;
        std::vector<uint8_t> key, reversed;
        ASSERT_EQ(info.GetPublicKey(keyLength, key, false), 0);
        EXPECT_EQ(keyLength, length);
        EXPECT_EQ(key, ExpectedKey(Decode(cert).get()));
        ASSERT_EQ(info.GetPublicKey(keyLength, reversed, true), 0);
        EXPECT_TRUE(std::equal(key.rbegin(), key.rend(), reversed.begin(), reversed.end()));
    }
}

TEST(PublicKey, UnknownAlgorithmsAndOddShapes) {
    uint32_t keyLength = 77;
    std::vector<uint8_t> key{1, 2, 3};
    EXPECT_EQ(CCertInfo("dummy", LoadData("v3_dsa2048.der")).GetPublicKey(keyLength, key, false),
              -1);
    EXPECT_EQ(CCertInfo("dummy", {}).GetPublicKey(keyLength, key, false), -1);
    EXPECT_EQ(keyLength, 77u);
    EXPECT_EQ(key, (std::vector<uint8_t>{1, 2, 3}));

    // rsaEncryption without its NULL parameters: the walk steps past the key.
    const Bytes base = LoadData("v3_rsa2048.der");
    const auto x = Decode(base);
    const Bytes rsaKey = I2d(X509_get0_pubkey(x.get()), i2d_PublicKey);
    const Bytes rsaOid = I2d(OBJ_nid2obj(NID_rsaEncryption), i2d_ASN1_OBJECT);
    const Bytes noNull = Tlv(0x30, Cat({Tlv(0x30, rsaOid), Tlv(0x03, Cat({{0x00}, rsaKey}))}));
    for (const bool extensions : {true, false}) {
        const Bytes cert = Assemble(base, kV3, {}, {}, extensions, noNull);
        ASSERT_TRUE(Decode(cert));
        ASSERT_EQ(Field(cert, CASN1::CERT_PUBLIC_KEY_INFO), noNull);
        EXPECT_EQ(CCertInfo("dummy", cert).GetPublicKey(keyLength, key, false), 0);
        EXPECT_EQ(keyLength, 0u);
        EXPECT_TRUE(key.empty());
    }
}
