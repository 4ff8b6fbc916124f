// What the certificate list shows of an entry: the column texts, the values
// read from the container name, and the text rules underneath.

#include "monitor/CCertCollection.h"
#include "monitor/CCertDetails.h"
#include "tests/monitor/TestCerts.h"

#include <gtest/gtest.h>

using namespace montest;

namespace {

const TestCa& Ca() {
    static const TestCa ca;
    return ca;
}

// An entry over a certificate with that subject, made from a context as the
// store hands it out.
std::unique_ptr<CCertCollection> Entry(const Bytes& der, std::u16string container = u"") {
    const monitor::CertOwner ctx(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                              static_cast<DWORD>(der.size())));
    return std::make_unique<CCertCollection>(ctx.Get(), container, "Reader");
}

std::string SubjectOf(std::vector<NameEntry> subject) {
    return Entry(Ca().Issue({std::move(subject)}))->GetSubjectName();
}

TEST(CollectionText, NameColumnsJoinEveryCommonName) {
    EXPECT_EQ(SubjectOf({{"CN", "Erika Mustermann"}, {"serialNumber", "123"}, {"CN", "PN"}}),
              "Erika Mustermann, PN");
    // A comma inside the value survives, whether another attribute follows
    // or not.
    EXPECT_EQ(SubjectOf({{"C", "DE"}, {"CN", "Doe, John"}}), "Doe, John");
    EXPECT_EQ(SubjectOf({{"CN", "Doe, John"}, {"C", "DE"}}), "Doe, John");
    EXPECT_EQ(SubjectOf({{"O", "No Name Inc"}}), "");

    // The issuer column: a CA without commonName gives an empty column.
    const TestCa nameless(std::vector<NameEntry>{{"O", "Beispiel AG"}, {"C", "DE"}});
    const auto entry = Entry(nameless.Issue({}));
    EXPECT_EQ(entry->GetIssuerName(), "");
    EXPECT_EQ(Entry(Ca().Issue({}))->GetIssuerName(), "Velkora Test CA");
}

TEST(CollectionText, EmailAndSerialColumns) {
    const auto entry = Entry(Ca().Issue(
        {{{"CN", "Erika"}, {"emailAddress", "erika@example.org"}, {"emailAddress", "e@x.de"}},
         {0x00, 0xB1, 0x2C}}));
    EXPECT_EQ(entry->GetEmail(), "erika@example.org, e@x.de");
    // The INTEGER 02 03 00 B1 2C: its content octets, leading 00 kept.
    EXPECT_EQ(entry->GetSerialNumber(), "00B12C");
    EXPECT_EQ(Entry(Ca().Issue({{{"CN", "x"}}, {0x7F, 0x01}}))->GetSerialNumber(), "7F01");
}

TEST(CollectionText, Utf8AndLatin1SubjectsBothShowTheLetter) {
    EXPECT_EQ(SubjectOf({{"CN", "J\xC3\xB6rg"}}), "J\xC3\xB6rg");
    // A T61String holding Latin-1 0xF6: not UTF-8, so read as Latin-1.
    EXPECT_EQ(SubjectOf({{"CN", "J\xF6rg", V_ASN1_T61STRING}}), "J\xC3\xB6rg");
    // BMPString: the renderer gives Latin-1 for U+00F6 as well.
    EXPECT_EQ(SubjectOf({{"CN", std::string("\0J\0\xF6\0r\0g", 8), V_ASN1_BMPSTRING}}),
              "J\xC3\xB6rg");
}

TEST(CollectionText, ContainerNameValues) {
    const Bytes der = Ca().Issue({});
    EXPECT_EQ(Entry(der, u"short")->GetContainerType(), -1);
    EXPECT_EQ(Entry(der, u"short")->GetContainerFlag(), 0);
    // Exactly 36 characters, and the same at the end of a whole path.
    const std::u16string name = u"c0de0427-1234-5678-9abc-0800200c9a66";
    EXPECT_EQ(Entry(der, name)->GetContainerType(), 2);
    EXPECT_EQ(Entry(der, name)->GetContainerFlag(), 0);
    const auto path = Entry(der, u"\\\\.\\Reader 1\\c0de1571-1234-5678-9abc-0800200c9a66");
    EXPECT_EQ(path->GetContainerType(), 7);
    EXPECT_EQ(path->GetContainerFlag(), 1);
    EXPECT_EQ(path->GetContainerName(), "\\\\.\\Reader 1\\c0de1571-1234-5678-9abc-0800200c9a66");
    EXPECT_EQ(path->GetReaderName(), "Reader");
}

TEST(CollectionText, QualifiedAndUndecodable) {
    EXPECT_TRUE(Entry(Ca().Issue({{{"CN", "Q"}}, {0x01}, true}))->IsQualified());
    EXPECT_FALSE(Entry(Ca().Issue({}))->IsQualified());

    // A context that cannot be copied leaves a null certificate: empty texts.
    const CCertCollection empty(nullptr, u"x", "Reader");
    EXPECT_EQ(empty.GetCertContext(), nullptr);
    EXPECT_EQ(empty.GetSubjectName(), "");
    EXPECT_EQ(empty.GetSerialNumber(), "");
    EXPECT_FALSE(empty.IsQualified());

    const uint8_t junk[] = {0x30, 0x82, 0xFF, 0xFF, 0x02};
    EXPECT_EQ(CCertDetails::GetSubjectText(junk, sizeof junk), "");
    EXPECT_EQ(CCertDetails::GetSerialText(junk, sizeof junk), "");
    EXPECT_FALSE(CCertDetails::HasQcStatements(junk, sizeof junk));
    EXPECT_EQ(CCertDetails::GetIssuerText(nullptr, 10), "");
    EXPECT_EQ(CCertDetails::GetSubjectText(junk, 0), "");
}

TEST(CollectionText, ExtractAttributeRules) {
    const std::string text = "commonName=A, B, organizationName=X, commonName=C";
    EXPECT_EQ(CCertCollection::ExtractAttribute(text, "commonName"), "A, B, C");
    EXPECT_EQ(CCertCollection::ExtractAttribute(text, nullptr), text);
    EXPECT_EQ(CCertCollection::ExtractAttribute(text, ""), text);
    EXPECT_EQ(CCertCollection::ExtractAttribute(text, "emailAddress"), "");
    EXPECT_EQ(CCertCollection::ExtractAttribute("commonName=", "commonName"), "");
    // Without a comma before the next '=' the whole stretch is the value.
    EXPECT_EQ(CCertCollection::ExtractAttribute("commonName=a=b", "commonName"), "a");
    EXPECT_EQ(CCertCollection::ExtractAttribute("commonName=x,commonName=y", "commonName"), "x, y");
}

TEST(CollectionText, Utf8DetectionAndDisplay) {
    EXPECT_TRUE(CCertCollection::IsUtf8(""));
    EXPECT_TRUE(CCertCollection::IsUtf8("plain ascii"));
    EXPECT_TRUE(CCertCollection::IsUtf8("\xE2\x82\xAC"));
    EXPECT_FALSE(CCertCollection::IsUtf8("\x80"));                // stray continuation
    EXPECT_FALSE(CCertCollection::IsUtf8("\xC3"));                // cut short
    EXPECT_FALSE(CCertCollection::IsUtf8("\xC3\x41"));            // no continuation
    EXPECT_TRUE(CCertCollection::IsUtf8("\xC0\x80"));             // overlong, let through
    EXPECT_TRUE(CCertCollection::IsUtf8("\xF8\x88\x80\x80\x80")); // five bytes, let through

    // What passes the test but is no real UTF-8 is shown as U+FFFD.
    EXPECT_EQ(CCertCollection::ToDisplayText("a\xC0\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(CCertCollection::ToDisplayText("\xED\xA0\x80"), "\xEF\xBF\xBD"); // surrogate
    // Windows-1252 where it differs from Latin-1, and its unassigned bytes.
    EXPECT_EQ(CCertCollection::ToDisplayText("\x80 \x9F \x81 \xE9"),
              "\xE2\x82\xAC \xC5\xB8 \xC2\x81 \xC3\xA9");
    // Long text is shown whole.
    const std::string longText(3000, 'x');
    EXPECT_EQ(CCertCollection::ToDisplayText(longText), longText);
}

} // namespace
