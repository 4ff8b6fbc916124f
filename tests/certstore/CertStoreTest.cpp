// The user's system stores on real hive files in a temp dir.

#include "platform/certstore/CertBlob.h"
#include "platform/certstore/WideText.h"
#include "tests/certstore/TestCerts.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace velktest;

namespace {

const std::u16string kCardProvider = u"Velkora Base Smart Card Crypto Provider";

class CertStoreTest : public ::testing::Test {
protected:
    TempHives m_hives;
};

PCCERT_CONTEXT FindByThumbprint(void* store, const std::string& thumbprint) {
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        if (Thumbprint(context) == thumbprint) {
            return context;
        }
    }
    return nullptr;
}

TEST_F(CertStoreTest, ReplaceExistingInMyAndAddNewRefusedElsewhere) {
    const TestCert cert = MakeCert(Cert("User"));

    Context first = CreateContext(cert.der);
    ASSERT_TRUE(SetKeyLink(first.get(), u"first", kCardProvider));
    {
        Store my = OpenUserStore("MY");
        ASSERT_TRUE(my);
        PCCERT_CONTEXT stored = nullptr;
        ASSERT_TRUE(CertAddCertificateContextToStore(my.get(), first.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, &stored));
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->hCertStore, my.get());
        EXPECT_EQ(KeyLinkContainer(stored), u"first");
        CertFreeCertificateContext(stored);

        Context second = CreateContext(cert.der);
        ASSERT_TRUE(SetKeyLink(second.get(), u"second", kCardProvider));
        EXPECT_TRUE(CertAddCertificateContextToStore(my.get(), second.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }
    {
        Store my = OpenUserStore("my"); // store names are case-insensitive
        PCCERT_CONTEXT only = CertEnumCertificatesInStore(my.get(), nullptr);
        ASSERT_NE(only, nullptr);
        EXPECT_EQ(KeyLinkContainer(only), u"second");
        EXPECT_EQ(CertEnumCertificatesInStore(my.get(), only), nullptr);
        EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    }

    for (const char* name : {"ROOT", "CA"}) {
        Store store = OpenUserStore(name);
        ASSERT_TRUE(SetKeyLink(first.get(), u"kept", kCardProvider));
        EXPECT_TRUE(CertAddCertificateContextToStore(store.get(), first.get(), CERT_STORE_ADD_NEW,
                                                     nullptr));
        ASSERT_TRUE(SetKeyLink(first.get(), u"refused", kCardProvider));
        SetLastError(0);
        PCCERT_CONTEXT out = reinterpret_cast<PCCERT_CONTEXT>(&store); // must be cleared
        EXPECT_FALSE(
            CertAddCertificateContextToStore(store.get(), first.get(), CERT_STORE_ADD_NEW, &out));
        EXPECT_EQ(GetLastError(), CRYPT_E_EXISTS) << name;
        EXPECT_EQ(out, nullptr);
        Store reopened = OpenUserStore(name);
        PCCERT_CONTEXT only = CertEnumCertificatesInStore(reopened.get(), nullptr);
        ASSERT_NE(only, nullptr);
        EXPECT_EQ(KeyLinkContainer(only), u"kept") << name;
        CertFreeCertificateContext(only);
    }
    EXPECT_EQ(StoreThumbprints("MY").size(), 1u); // the other stores are apart
}

TEST_F(CertStoreTest, EnumerationFollowsStoreOrderThroughDeletesAndReAdds) {
    std::vector<TestCert> certs;
    for (int i = 0; i < 5; ++i) {
        certs.push_back(MakeCert(Cert("Cert " + std::to_string(i))));
    }
    auto thumb = [&](int i) { return Thumbprint(certs[static_cast<size_t>(i)].der); };
    Store ca = OpenUserStore("CA");
    for (const auto& cert : certs) {
        ASSERT_TRUE(CertAddEncodedCertificateToStore(ca.get(), X509_ASN_ENCODING, cert.der.data(),
                                                     static_cast<DWORD>(cert.der.size()),
                                                     CERT_STORE_ADD_NEW, nullptr));
    }
    EXPECT_EQ(StoreThumbprints("CA"),
              (std::vector<std::string>{thumb(0), thumb(1), thumb(2), thumb(3), thumb(4)}));

    ASSERT_TRUE(CertDeleteCertificateFromStore(FindByThumbprint(ca.get(), thumb(1))));
    ASSERT_TRUE(CertDeleteCertificateFromStore(FindByThumbprint(ca.get(), thumb(3))));
    ASSERT_TRUE(AddToUserStore("CA", certs[1], CERT_STORE_ADD_NEW));
    // Replacing keeps a certificate's place; deleting and adding moves it last.
    ASSERT_TRUE(AddToUserStore("CA", certs[0], CERT_STORE_ADD_REPLACE_EXISTING));
    const std::vector<std::string> expected{thumb(0), thumb(2), thumb(4), thumb(1)};
    EXPECT_EQ(StoreThumbprints("CA"), expected);

    // The handle that deleted sees its own deletions at once, in order.
    std::vector<std::string> seen;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(ca.get(), context)) != nullptr) {
        seen.push_back(Thumbprint(context));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{thumb(0), thumb(2), thumb(4)}));

    // Deleting the certificate the walk stands on: the walk goes on after it.
    PCCERT_CONTEXT at = FindByThumbprint(ca.get(), thumb(2));
    PCCERT_CONTEXT kept = CertDuplicateCertificateContext(at);
    ASSERT_TRUE(CertDeleteCertificateFromStore(at));
    PCCERT_CONTEXT next = CertEnumCertificatesInStore(ca.get(), kept);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(Thumbprint(next), thumb(4));
    CertFreeCertificateContext(next);
}

TEST_F(CertStoreTest, FindsByPublicKeyInStoreOrder) {
    const KeyPtr shared = NewEcKey();
    const TestCert one = MakeCert(Cert("One").Key(shared));
    const TestCert other = MakeCert(Cert("Other"));
    const TestCert three = MakeCert(Cert("Three").Key(shared).Serial(3));
    for (const auto* cert : {&one, &other, &three}) {
        ASSERT_TRUE(AddToUserStore("MY", *cert, CERT_STORE_ADD_REPLACE_EXISTING));
    }
    Context probe = CreateContext(three.der); // not a store context
    Context otherProbe = CreateContext(other.der);
    Store my = OpenUserStore("MY");
    // Every match of a key, in store order.
    const auto byKey = [&my](const Context& of) {
        std::vector<std::string> hits;
        PCCERT_CONTEXT hit = nullptr;
        while (
            (hit = CertFindCertificateInStore(my.get(), X509_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY,
                                              &of->pCertInfo->SubjectPublicKeyInfo, hit))) {
            hits.push_back(Thumbprint(hit));
        }
        EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
        return hits;
    };
    EXPECT_EQ(byKey(probe), (std::vector<std::string>{Thumbprint(one.der), Thumbprint(three.der)}));
    EXPECT_EQ(byKey(otherProbe), std::vector<std::string>{Thumbprint(other.der)});
    PCCERT_CONTEXT hit = nullptr;

    // By hash, and CERT_FIND_ANY walks everything.
    BYTE hash[20];
    DWORD size = sizeof hash;
    ASSERT_TRUE(
        CertGetCertificateContextProperty(probe.get(), CERT_SHA1_HASH_PROP_ID, hash, &size));
    CRYPT_HASH_BLOB blob{size, hash};
    hit = CertFindCertificateInStore(my.get(), 0, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(Thumbprint(hit), Thumbprint(three.der));
    CertFreeCertificateContext(hit);
    EXPECT_EQ(CertFindCertificateInStore(my.get(), 0, 0, CERT_FIND_PUBLIC_KEY, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

TEST_F(CertStoreTest, KeyProviderInformationRoundTripsThroughTheHive) {
    const TestCert cert = MakeCert(Cert("Link"));
    const std::u16string container =
        u"\\\\.\\Lesegerät \U0001F511 1\\ab0c7000-0efd-11dc-8314-0800200c9a66";
    std::u16string c = container;
    std::u16string p = kCardProvider;
    BYTE paramData[] = {1, 2, 3};
    CRYPT_KEY_PROV_PARAM param{5, paramData, sizeof paramData, 0};
    CRYPT_KEY_PROV_INFO info{c.data(), p.data(), PROV_RSA_FULL, CRYPT_SILENT,
                             1,        &param,   AT_SIGNATURE};
    Context created = CreateContext(cert.der);
    ASSERT_TRUE(
        CertSetCertificateContextProperty(created.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));

    auto check = [&](PCCERT_CONTEXT context) {
        DWORD size = 0;
        ASSERT_TRUE(
            CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
        DWORD tooSmall = size - 1;
        std::vector<uint64_t> buffer(size / 8 + 1);
        EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID,
                                                       buffer.data(), &tooSmall));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(tooSmall, size);
        ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID,
                                                      buffer.data(), &size));
        const auto* got = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        EXPECT_EQ(std::u16string(got->pwszContainerName), container);
        EXPECT_EQ(velk::WideToUtf8(got->pwszContainerName),
                  "\\\\.\\Lesegerät 🔑 1\\ab0c7000-0efd-11dc-8314-0800200c9a66");
        EXPECT_EQ(std::u16string(got->pwszProvName), kCardProvider);
        EXPECT_EQ(got->dwProvType, PROV_RSA_FULL);
        EXPECT_EQ(got->dwFlags, CRYPT_SILENT);
        EXPECT_EQ(got->dwKeySpec, AT_SIGNATURE);
        ASSERT_EQ(got->cProvParam, 1u);
        EXPECT_EQ(got->rgProvParam[0].dwParam, 5u);
        ASSERT_EQ(got->rgProvParam[0].cbData, 3u);
        EXPECT_EQ(got->rgProvParam[0].pbData[2], 3);
    };
    check(created.get());
    Store my = OpenUserStore("MY");
    ASSERT_TRUE(CertAddCertificateContextToStore(my.get(), created.get(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    my.reset();
    {
        Store reopened = OpenUserStore("MY");
        PCCERT_CONTEXT stored = CertEnumCertificatesInStore(reopened.get(), nullptr);
        ASSERT_NE(stored, nullptr);
        check(stored);
        // Removing the property from a store certificate reaches the hive too.
        EXPECT_TRUE(
            CertSetCertificateContextProperty(stored, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
        CertFreeCertificateContext(stored);
    }
    Store again = OpenUserStore("MY");
    PCCERT_CONTEXT stored = CertEnumCertificatesInStore(again.get(), nullptr);
    DWORD size = 0;
    EXPECT_FALSE(
        CertGetCertificateContextProperty(stored, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    BYTE hash[20];
    size = sizeof hash;
    ASSERT_TRUE(CertGetCertificateContextProperty(stored, CERT_SHA1_HASH_PROP_ID, hash, &size));
    EXPECT_EQ(Thumbprint(stored), Thumbprint(cert.der));
    CertFreeCertificateContext(stored);
}

TEST_F(CertStoreTest, DamagedEntriesAreReportedAndSkipped) {
    const TestCert good = MakeCert(Cert("Good"));
    const TestCert other = MakeCert(Cert("Other"));
    ASSERT_TRUE(AddToUserStore("MY", good, CERT_STORE_ADD_NEW));

    auto writeBlob = [](const std::string& keyName, const std::vector<uint8_t>& bytes) {
        const std::string path =
            "Software\\Microsoft\\SystemCertificates\\MY\\Certificates\\" + keyName;
        RegKey key; // an empty `bytes`: the key without a blob
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
        if (!bytes.empty()) {
            EXPECT_EQ(SetValue(HKEY_CURRENT_USER, path.c_str(), "Blob", REG_BINARY, bytes.data(),
                               static_cast<DWORD>(bytes.size())),
                      ERROR_SUCCESS);
        }
    };
    velk::certstore::CertBlob blob;
    blob.der = other.der;
    blob.sequence = 7;
    const auto valid = velk::certstore::SerializeCertBlob(blob);
    writeBlob(std::string(40, 'A'), {0xDE, 0xAD, 0xBE, 0xEF}); // not a blob
    writeBlob(Thumbprint(MakeCert(Cert("Test")).der), valid);  // wrong name
    writeBlob(Thumbprint(other.der), std::vector<uint8_t>(valid.begin(), valid.end() - 5));
    writeBlob(std::string(40, 'B'), {}); // no Blob at all: an unfinished entry, not damage

    testing::internal::CaptureStderr();
    Store my = OpenUserStore("MY");
    const std::string report = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(my);
    EXPECT_EQ(VelkCertStoreSkippedCount(my.get()), 3u);
    EXPECT_NE(report.find("skipped"), std::string::npos);
    EXPECT_NE(report.find(std::string(40, 'A')), std::string::npos);
    EXPECT_EQ(StoreThumbprints("MY"), std::vector<std::string>{Thumbprint(good.der)});

    // The store stays usable: the damaged entry of `other` is replaced whole.
    EXPECT_TRUE(AddToUserStore("MY", other, CERT_STORE_ADD_REPLACE_EXISTING));
    EXPECT_EQ(StoreThumbprints("MY").size(), 2u);
}

TEST_F(CertStoreTest, ChangeStampStaysWhenNothingChangesAndMovesOnAnotherProcessWrite) {
    const TestCert first = MakeCert(Cert("First"));
    ASSERT_TRUE(AddToUserStore("MY", first, CERT_STORE_ADD_NEW));
    uint64_t before = 0;
    ASSERT_TRUE(VelkCertStoreChangeStamp(&before));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(StoreThumbprints("MY").size(), 1u);
        uint64_t now = 0;
        ASSERT_TRUE(VelkCertStoreChangeStamp(&now));
        EXPECT_EQ(now, before);
    }

    const TestCert second = MakeCert(Cert("From elsewhere"));
    const std::string file = m_hives.Dir() + "/second.der";
    WriteFileBytes(file, std::string(second.der.begin(), second.der.end()));
    const std::string command =
        std::string("'") + VELK_STORE_TOOL + "' -user -addstore MY '" + file + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);

    uint64_t after = 0;
    ASSERT_TRUE(VelkCertStoreChangeStamp(&after));
    EXPECT_NE(after, before);
    EXPECT_EQ(StoreThumbprints("MY"),
              (std::vector<std::string>{Thumbprint(first.der), Thumbprint(second.der)}));
    uint64_t settled = 0;
    ASSERT_TRUE(VelkCertStoreChangeStamp(&settled));
    EXPECT_EQ(settled, after);
}

TEST_F(CertStoreTest, OpenArgumentsHandlesAndContextsThatOutliveTheirStore) {
    const TestCert cert = MakeCert(Cert("Handles"));
    ASSERT_TRUE(AddToUserStore("MY", cert, CERT_STORE_ADD_NEW));

    HCERTSTORE wide =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_NO_CRYPT_RELEASE_FLAG, u"MY");
    ASSERT_NE(wide, nullptr);
    PCCERT_CONTEXT context = CertEnumCertificatesInStore(wide, nullptr);
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(CertCloseStore(wide, CERT_CLOSE_STORE_FORCE_FLAG));
    // Still usable after a forced close.
    EXPECT_EQ(Thumbprint(context), Thumbprint(cert.der));
    EXPECT_GT(context->pCertInfo->SubjectPublicKeyInfo.PublicKey.cbData, 0u);
    EXPECT_FALSE(CertCloseStore(wide, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(CertEnumCertificatesInStore(wide, nullptr), nullptr);
    CertFreeCertificateContext(context);

    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "MY"),
              nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    EXPECT_EQ(CertOpenSystemStoreA(0, "A\\B"), nullptr);
    EXPECT_EQ(CertOpenSystemStoreA(0, ""), nullptr);
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                            CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG,
                            "NEVER"),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Store empty = OpenUserStore("NEVER"); // an absent store opens empty
    ASSERT_TRUE(empty);
    EXPECT_EQ(CertEnumCertificatesInStore(empty.get(), nullptr), nullptr);

    HCERTSTORE readOnly =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, "ROOT");
    Context created = CreateContext(cert.der);
    EXPECT_FALSE(
        CertAddCertificateContextToStore(readOnly, created.get(), CERT_STORE_ADD_NEW, nullptr));
    CertCloseStore(readOnly, 0);
    EXPECT_TRUE(StoreThumbprints("ROOT").empty());
}

} // namespace
