// Certificate contexts made from bytes: decoding, reference counts and the
// questions the propagation asks of one certificate.

#include "tests/certstore/TestCerts.h"

#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace velktest;

namespace {

TEST(CertContextTest, BadBytesAreRefusedAndCardPaddingIsIgnored) {
    const TestCert cert = MakeCert(Cert("Padded"));
    const BYTE garbage[] = {0x04, 0x03, 0x01, 0x02, 0x03};
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, garbage, sizeof garbage), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, cert.der.data(),
                                           static_cast<DWORD>(cert.der.size() - 1)),
              nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_CORRUPT);
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, nullptr, 10), nullptr);
    EXPECT_EQ(CertCreateCertificateContext(PKCS_7_ASN_ENCODING, cert.der.data(),
                                           static_cast<DWORD>(cert.der.size())),
              nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);

    // Certificate files on cards are padded with zero bytes up to their size.
    std::vector<uint8_t> padded = cert.der;
    padded.resize(padded.size() + 100, 0x00);
    Context context = CreateContext(padded);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->cbCertEncoded, cert.der.size());
    EXPECT_EQ(Thumbprint(context.get()), Thumbprint(cert.der));
    EXPECT_EQ(context->dwCertEncodingType, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING);
}

TEST(CertContextTest, CertInfoPointsIntoTheDecodedCertificate) {
    const TestCert cert = MakeCert(Cert("Fields").Serial(0xB12C));
    Context context = CreateContext(cert.der);
    ASSERT_TRUE(context);
    const CERT_INFO* info = context->pCertInfo;
    EXPECT_EQ(info->dwVersion, 2u);
    // Serial 00 B1 2C as CryptoAPI keeps it: least significant byte first.
    ASSERT_EQ(info->SerialNumber.cbData, 3u);
    EXPECT_EQ(info->SerialNumber.pbData[0], 0x2C);
    EXPECT_EQ(info->SerialNumber.pbData[1], 0xB1);
    EXPECT_EQ(info->SerialNumber.pbData[2], 0x00);
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.10045.2.1");
    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, "1.2.840.10045.4.3.2");
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cbData, 65u); // uncompressed P-256 point
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.pbData[0], 0x04);
    // The name blobs are the encoded Names: self-signed, so both the same.
    ASSERT_EQ(info->Subject.cbData, info->Issuer.cbData);
    EXPECT_EQ(std::memcmp(info->Subject.pbData, info->Issuer.pbData, info->Subject.cbData), 0);
    EXPECT_EQ(info->Subject.pbData[0], 0x30);
    const uint64_t notBefore = (static_cast<uint64_t>(info->NotBefore.dwHighDateTime) << 32) |
                               info->NotBefore.dwLowDateTime;
    const uint64_t notAfter =
        (static_cast<uint64_t>(info->NotAfter.dwHighDateTime) << 32) | info->NotAfter.dwLowDateTime;
    EXPECT_GT(notBefore, 116444736000000000ULL); // after 1970 in 100 ns since 1601
    EXPECT_GT(notAfter, notBefore);
}

TEST(CertContextTest, ContextsAreReferenceCounted) {
    const TestCert cert = MakeCert(Cert("Counted"));
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, cert.der.data(),
                                                          static_cast<DWORD>(cert.der.size()));
    ASSERT_NE(context, nullptr);
    PCCERT_CONTEXT copy = CertDuplicateCertificateContext(context);
    EXPECT_EQ(copy, context);
    EXPECT_TRUE(CertFreeCertificateContext(context));
    EXPECT_EQ(copy->cbCertEncoded, cert.der.size()); // still alive through the copy
    EXPECT_TRUE(CertFreeCertificateContext(copy));
    EXPECT_TRUE(CertFreeCertificateContext(nullptr));
    EXPECT_EQ(CertDuplicateCertificateContext(nullptr), nullptr);
}

TEST(CertContextTest, SelfSignedNeedsTheSameNameAndItsOwnSignature) {
    const TestCert root = MakeCert(Cert("Root CA"));
    const TestCert user = MakeCert(Cert("User").Issuer(root));
    // Issuer name equal to the subject, but signed by the root's key.
    const TestCert lookalike = MakeCert(Cert("Lookalike").Issuer(root).IssuerNameIsSubject());
    Context rootContext = CreateContext(root.der);
    Context userContext = CreateContext(user.der);
    Context lookalikeContext = CreateContext(lookalike.der);
    EXPECT_TRUE(WTHelperCertIsSelfSigned(X509_ASN_ENCODING, rootContext->pCertInfo));
    EXPECT_FALSE(WTHelperCertIsSelfSigned(X509_ASN_ENCODING, userContext->pCertInfo));
    EXPECT_FALSE(WTHelperCertIsSelfSigned(X509_ASN_ENCODING, lookalikeContext->pCertInfo));
    CERT_INFO foreign{};
    EXPECT_FALSE(WTHelperCertIsSelfSigned(X509_ASN_ENCODING, &foreign));
    EXPECT_FALSE(WTHelperCertIsSelfSigned(X509_ASN_ENCODING, nullptr));
}

TEST(CertContextTest, ExtensionsAreFoundByOid) {
    const TestCert root = MakeCert(Cert("Root CA"));
    const TestCert qualified = MakeCert(Cert("Qualified").Issuer(root).QcStatements());
    Context rootContext = CreateContext(root.der);
    Context qualifiedContext = CreateContext(qualified.der);

    const CERT_INFO* info = qualifiedContext->pCertInfo;
    PCERT_EXTENSION qc =
        CertFindExtension("1.3.6.1.5.5.7.1.3", info->cExtension, info->rgExtension);
    ASSERT_NE(qc, nullptr);
    EXPECT_FALSE(qc->fCritical);
    const std::vector<uint8_t> expected{0x30, 0x0A, 0x30, 0x08, 0x06, 0x06,
                                        0x04, 0x00, 0x8E, 0x46, 0x01, 0x01};
    EXPECT_EQ(std::vector<uint8_t>(qc->Value.pbData, qc->Value.pbData + qc->Value.cbData),
              expected);
    EXPECT_NE(CertFindExtension("2.5.29.14", info->cExtension, info->rgExtension), nullptr);

    const CERT_INFO* rootInfo = rootContext->pCertInfo;
    EXPECT_EQ(CertFindExtension("1.3.6.1.5.5.7.1.3", rootInfo->cExtension, rootInfo->rgExtension),
              nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    PCERT_EXTENSION basic =
        CertFindExtension("2.5.29.19", rootInfo->cExtension, rootInfo->rgExtension);
    ASSERT_NE(basic, nullptr);
    EXPECT_TRUE(basic->fCritical);
    // A prefix of an OID is not the OID.
    EXPECT_EQ(CertFindExtension("1.3.6.1.5.5.7.1", info->cExtension, info->rgExtension), nullptr);
    EXPECT_EQ(CertFindExtension("1.3.6.1.5.5.7.1.3", 0, nullptr), nullptr);
}

TEST(CertContextTest, PublicKeysCompareByAlgorithmAndKeyBits) {
    const KeyPtr key = NewEcKey();
    Context a = CreateContext(MakeCert(Cert("A").Key(key)).der);
    Context b = CreateContext(MakeCert(Cert("B").Key(key)).der);
    Context c = CreateContext(MakeCert(Cert("C")).der);
    Context rsa = CreateContext(MakeCert(Cert("RSA").Key(NewRsaKey(1024))).der);
    auto spki = [](const Context& context) { return &context->pCertInfo->SubjectPublicKeyInfo; };
    EXPECT_TRUE(CertComparePublicKeyInfo(X509_ASN_ENCODING, spki(a), spki(b)));
    EXPECT_FALSE(CertComparePublicKeyInfo(X509_ASN_ENCODING, spki(a), spki(c)));
    EXPECT_FALSE(CertComparePublicKeyInfo(X509_ASN_ENCODING, spki(a), spki(rsa)));
    EXPECT_STREQ(spki(rsa)->Algorithm.pszObjId, "1.2.840.113549.1.1.1");
    EXPECT_FALSE(CertComparePublicKeyInfo(X509_ASN_ENCODING, spki(a), nullptr));
}

} // namespace
