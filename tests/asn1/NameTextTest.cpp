#include "asn1/CASN1.h"
#include "tests/asn1/TestSupport.h"

#include <gtest/gtest.h>

using namespace asn1test;

namespace {

struct NameFree {
    void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};
using NamePtr = std::unique_ptr<X509_NAME, NameFree>;

struct Entry {
    const char* type;
    int stringType;
    Bytes value;
    bool sameRdn = false; // joins the previous RDN (a multi-valued RDN)
};

Bytes Text(const char* s) {
    return Bytes(s, s + std::char_traits<char>::length(s));
}

// A self-signed EC certificate whose subject and issuer hold `entries` with
// exactly the string types given.
Bytes MakeCert(const std::vector<Entry>& entries) {
    NamePtr name(X509_NAME_new());
    for (const auto& e : entries) {
        X509_NAME_add_entry_by_txt(name.get(), e.type, e.stringType, e.value.data(),
                                   static_cast<int>(e.value.size()), -1, e.sameRdn ? -1 : 0);
    }
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    X509Ptr x(X509_new());
    X509_set_version(x.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), 1);
    X509_set_subject_name(x.get(), name.get());
    X509_set_issuer_name(x.get(), name.get());
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 3600);
    X509_set_pubkey(x.get(), key.get());
    X509_sign(x.get(), key.get(), EVP_sha256());
    return Encode(x.get());
}

std::string SubjectText(const Bytes& cert, uint32_t field = CASN1::CERT_SUBJECT) {
    Asn1Cursor c;
    if (!CASN1::LocateCertField(cert, field, c)) {
        return "<not found>";
    }
    return CASN1::NameToText(c, c.size);
}

} // namespace

TEST(NameText, CertificateNamesOfEveryStringType) {
    const Bytes cert = MakeCert({
        {"C", V_ASN1_PRINTABLESTRING, Text("DE")},
        {"O", V_ASN1_UTF8STRING, Text("Beispiel AG")},
        {"OU", V_ASN1_T61STRING, Text("Entw\xFC")},
        {"CN", V_ASN1_BMPSTRING, {0, 'M', 0, 0xFC, 0, 'l', 0, 'l', 0, 'e', 0, 'r'}},
        {"CN", V_ASN1_BMPSTRING, {0x01, 0x41, 0, 0xF3, 0, 'd', 0x01, 0x7A}},
        {"CN", V_ASN1_UTF8STRING, Text("J\xC3\xB6rg")},
        {"2.5.4.97", V_ASN1_UTF8STRING, Text("VATDE-123456789")},
        {"SN", V_ASN1_PRINTABLESTRING, Text("Mustermann")},
        {"GN", V_ASN1_PRINTABLESTRING, Text("Erika"), true},
        {"emailAddress", V_ASN1_IA5STRING, Text("erika@beispiel.example")},
    });
    const auto x = Decode(cert);
    ASSERT_TRUE(x);
    const std::string expected =
        "countryName=DE, organizationName=Beispiel AG, organizationalUnitName=Entw\xFC, "
        "commonName=M\xFCller, commonName=?\xF3"
        "d?, commonName=J\xC3\xB6rg, 2.5.4.97=VATDE-123456789, givenname=Erika, "
        "surname=Mustermann, emailAddress=erika@beispiel.example";
    EXPECT_EQ(SubjectText(cert), expected);
    EXPECT_EQ(SubjectText(cert, CASN1::CERT_ISSUER), expected);
    EXPECT_EQ(ExpectedNameText(X509_get_subject_name(x.get())), expected);
}

TEST(NameText, UnsupportedStringTypeEndsTheText) {
    const Bytes cert = MakeCert({
        {"CN", V_ASN1_PRINTABLESTRING, Text("A")},
        {"serialNumber", V_ASN1_NUMERICSTRING, Text("123")},
        {"CN", V_ASN1_PRINTABLESTRING, Text("B")},
    });
    EXPECT_EQ(SubjectText(cert), "commonName=A, serialNumber=");
}

TEST(NameText, HandMadeShapes) {
    const Bytes cn = Tlv(0x06, {0x55, 0x04, 0x03});
    const auto rdn = [&](const Bytes& value) { return Tlv(0x31, Tlv(0x30, Cat({cn, value}))); };
    const auto text = [](const Bytes& name, std::size_t size) {
        return CASN1::NameToText(Over(name), static_cast<uint32_t>(size));
    };

    // Several values under one type: a SEQUENCE of strings.
    const Bytes many = Tlv(0x30, rdn(Tlv(0x30, Cat({Tlv(0x13, Text("a")), Tlv(0x0C, Text("b"))}))));
    EXPECT_EQ(text(many, many.size()), "commonName=a, b");

    // The walk stops at the size given, although the encoding goes on.
    const Bytes first = Tlv(0x30, rdn(Tlv(0x13, Text("first"))));
    const Bytes two = Cat({first, rdn(Tlv(0x13, Text("second")))});
    EXPECT_EQ(text(two, first.size()), "commonName=first");
    EXPECT_EQ(text(two, two.size()), "commonName=first, commonName=second");

    // A name given without its SEQUENCE, as a bare SET.
    EXPECT_EQ(text(rdn(Tlv(0x16, Text("x@y"))), 16), "commonName=x@y");

    // BMPString: Latin-1 kept, a surrogate pair becomes one '?', U+0000 ends it.
    const Bytes bmp = rdn(Tlv(0x1E, {0, 'A', 0xD8, 0x3D, 0xDE, 0x00, 0, 0xE9, 0, 0, 0, 'Z'}));
    EXPECT_EQ(text(bmp, bmp.size()), "commonName=A?\xE9");

    // An empty attribute SEQUENCE leaves a cursor of size 0 on the string
    // behind it, which cannot be stepped over: the text ends there.
    const Bytes empty = Tlv(0x31, Cat({Tlv(0x30, {}), Tlv(0x13, Text("z"))}));
    EXPECT_EQ(text(empty, empty.size()), "");

    // Unknown attribute types keep their dotted text; the table matches whole OIDs.
    EXPECT_STREQ(CASN1::OidName("1.3.36.8.3.1"), "id-isismtt-at-dateOfCertGen");
    EXPECT_STREQ(CASN1::OidName("1.3.36.8.3.10"), "id-isismtt-at-requestedCertificate");
    EXPECT_STREQ(CASN1::OidName("2.5.4.2"), "knowldgeinformation");
    EXPECT_STREQ(CASN1::OidName("0.2.262.1.10.7.20"), "nameDistinguisher");
    EXPECT_EQ(CASN1::OidName("2.5.4"), nullptr);
    EXPECT_EQ(CASN1::OidName("2.5.4.3.1"), nullptr);
    EXPECT_EQ(CASN1::OidName(""), nullptr);
}
