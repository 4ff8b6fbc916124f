// Provider contexts on temp hives: the built-in software container store,
// a provider module loaded by name, and the ways loading can fail.

#include "platform/certstore/WideText.h"
#include "platform/crypto/ProviderInstall.h"
#include "platform/crypto/WinCrypt.h"
#include "tests/certstore/TestCerts.h"
#include "tests/registry/TempHives.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace velktest;

namespace {

constexpr const char* kCardProvider = "Velkora Base Smart Card Crypto Provider";
constexpr const char* kFakeReader = "\\\\.\\Fake Reader 0\\";

// Owns an HCRYPTPROV.
struct Prov {
    HCRYPTPROV handle = 0;
    ~Prov() {
        if (handle) {
            CryptReleaseContext(handle, 0);
        }
    }
};

std::string ProvString(HCRYPTPROV prov, DWORD param, DWORD flags = 0) {
    DWORD size = 0;
    std::vector<BYTE> buffer;
    if (!CryptGetProvParam(prov, param, nullptr, &size, flags) ||
        (buffer.resize(size), !CryptGetProvParam(prov, param, buffer.data(), &size, flags))) {
        return "<error " + std::to_string(GetLastError()) + ">";
    }
    return std::string(reinterpret_cast<const char*>(buffer.data()));
}

// All container names, with one buffer sized by the first call as callers do.
std::vector<std::string> EnumerateContainers(HCRYPTPROV prov) {
    std::vector<std::string> names;
    DWORD longest = 0;
    if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &longest, CRYPT_FIRST)) {
        return names;
    }
    std::vector<BYTE> buffer(longest);
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        DWORD size = longest;
        if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, buffer.data(), &size, flags)) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
            break;
        }
        names.emplace_back(reinterpret_cast<const char*>(buffer.data()));
        flags = CRYPT_NEXT;
    }
    return names;
}

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(velk::InstallSoftwareProvider(), ERROR_SUCCESS); }
    TempHives m_hives;
};

TEST_F(ProviderTest, SoftwareStoreCreatesListsAndDeletesHelperContainers) {
    const std::vector<std::string> created{"aaaa0000-0efd-11dc-8314-0800200c9a66",
                                           "\\\\.\\Reader 1\\bbbb0000-0efd-11dc-8314-0800200c9a66",
                                           "kept container",
                                           "cccc0000-0efd-11dc-8314-0800200c9a66"};
    for (const auto& name : created) {
        Prov prov;
        ASSERT_TRUE(CryptAcquireContextA(&prov.handle, name.c_str(), MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL, CRYPT_NEWKEYSET))
            << name;
        EXPECT_EQ(ProvString(prov.handle, PP_CONTAINER), name);
    }
    HCRYPTPROV again = 0;
    EXPECT_FALSE(CryptAcquireContextA(&again, created[0].c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                      CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), NTE_EXISTS);
    EXPECT_FALSE(CryptAcquireContextA(&again, "missing", nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
    EXPECT_EQ(again, 0u);

    {
        Prov verify;
        ASSERT_TRUE(CryptAcquireContextA(&verify.handle, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                         CRYPT_VERIFYCONTEXT));
        const auto names = EnumerateContainers(verify.handle);
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
                  std::set<std::string>(created.begin(), created.end()));
        EXPECT_EQ(ProvString(verify.handle, PP_NAME), MS_ENHANCED_PROV_A);
        char tiny[4];
        DWORD size = sizeof tiny;
        EXPECT_FALSE(
            CryptGetProvParam(verify.handle, PP_NAME, reinterpret_cast<BYTE*>(tiny), &size, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(size, std::string(MS_ENHANCED_PROV_A).size() + 1);
    }

    // Deleted through the default provider: the handle comes back zeroed, the container leaves
    // the listing, and a second deletion finds nothing. (The program's walk that deletes its
    // helper containers runs in PropagationTest.RemoveAllPropagatedLeavesOnlyForeignEntries.)
    for (const std::size_t i : {0u, 1u, 3u}) {
        HCRYPTPROV gone = 1;
        EXPECT_TRUE(CryptAcquireContextA(&gone, created[i].c_str(), nullptr, PROV_RSA_FULL,
                                         CRYPT_DELETEKEYSET));
        EXPECT_EQ(gone, 0u);
    }
    Prov verify;
    ASSERT_TRUE(CryptAcquireContextA(&verify.handle, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(EnumerateContainers(verify.handle), std::vector<std::string>{"kept container"});
    HCRYPTPROV gone = 0;
    EXPECT_FALSE(CryptAcquireContextA(&gone, created[0].c_str(), nullptr, PROV_RSA_FULL,
                                      CRYPT_DELETEKEYSET));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
}

TEST_F(ProviderTest, DefaultContainerIsCreatedOnDemandAndHoldsNoKeys) {
    HCRYPTPROV prov = 0;
    ASSERT_FALSE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, 0));
    ASSERT_EQ(GetLastError(), NTE_BAD_KEYSET);
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_FALSE(ProvString(prov, PP_CONTAINER).empty()); // named after the user
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    const BYTE pin[] = "1234";
    EXPECT_FALSE(CryptSetProvParam(prov, PP_KEYEXCHANGE_PIN, pin, 0));
    // A system store opens on such a context, as the PIN commands do it.
    HCERTSTORE store = CertOpenSystemStoreA(prov, "MY");
    EXPECT_NE(store, nullptr);
    CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    EXPECT_FALSE(CryptReleaseContext(prov, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

class ModuleProviderTest : public ProviderTest {
protected:
    void SetUp() override {
        ProviderTest::SetUp();
        ASSERT_EQ(velk::RegisterProvider(kCardProvider, VELK_FAKE_PROVIDER), ERROR_SUCCESS);
        m_key = NewRsaKey(2048);
        m_cert = MakeCert(Cert("Card Holder").Key(m_key));
        m_certPath = m_hives.Dir() + "/card.der";
        WriteFileBytes(m_certPath, std::string(m_cert.der.begin(), m_cert.der.end()));
        m_keyPath = m_hives.Dir() + "/card.pem";
        FILE* file = std::fopen(m_keyPath.c_str(), "w");
        ASSERT_NE(file, nullptr);
        PEM_write_PrivateKey(file, m_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(file);
        m_logPath = m_hives.Dir() + "/params.log";
        setenv("VELK_FAKE_CERT", m_certPath.c_str(), 1);
        setenv("VELK_FAKE_KEY", m_keyPath.c_str(), 1);
        setenv("VELK_FAKE_LOG", m_logPath.c_str(), 1);
    }
    KeyPtr m_key;
    TestCert m_cert;
    std::string m_certPath;
    std::string m_keyPath;
    std::string m_logPath;
};

TEST_F(ModuleProviderTest, CardContainersGiveCertificatesAndTakeCommands) {
    Prov reader;
    ASSERT_TRUE(CryptAcquireContextA(&reader.handle, kFakeReader, kCardProvider, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT))
        << velk::LastProviderLoadError();
    const auto names = EnumerateContainers(reader.handle);
    ASSERT_EQ(names.size(), 2u);

    // The user key's container: certificate by size query, then data.
    Prov container;
    const std::string path = kFakeReader + names[0];
    ASSERT_TRUE(CryptAcquireContextA(&container.handle, path.c_str(), kCardProvider, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGetUserKey(container.handle, AT_KEYEXCHANGE, &key));
    DWORD size = 0;
    ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(size, m_cert.der.size());
    std::vector<BYTE> bytes(size);
    DWORD small = 10;
    EXPECT_FALSE(CryptGetKeyParam(key, KP_CERTIFICATE, bytes.data(), &small, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, bytes.data(), &size, 0));
    EXPECT_EQ(bytes, m_cert.der);
    // The key keeps its context alive after the context is released.
    CryptReleaseContext(container.handle, 0);
    container.handle = 0;
    EXPECT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptDestroyKey(key));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);

    // The authority container has no exchange key.
    Prov authority;
    ASSERT_TRUE(CryptAcquireContextA(&authority.handle, (kFakeReader + names[1]).c_str(),
                                     kCardProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_FALSE(CryptGetUserKey(authority.handle, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);

    HCRYPTPROV missing = 0;
    EXPECT_FALSE(CryptAcquireContextA(&missing, (kFakeReader + std::string("nope")).c_str(),
                                      kCardProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);

    // Registered with its key link, the certificate leads back to the
    // container, which takes the PIN commands.
    Context context = CreateContext(bytes);
    ASSERT_TRUE(SetKeyLink(context.get(), velk::Utf8ToWide(path), velk::Utf8ToWide(kCardProvider)));
    Store my = OpenUserStore("MY");
    ASSERT_TRUE(CertAddCertificateContextToStore(my.get(), context.get(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    PCCERT_CONTEXT stored =
        CertFindCertificateInStore(my.get(), X509_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY,
                                   &context->pCertInfo->SubjectPublicKeyInfo, nullptr);
    ASSERT_NE(stored, nullptr);
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE linked = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    ASSERT_TRUE(
        CryptAcquireCertificatePrivateKey(stored, 0, nullptr, &linked, &keySpec, &callerFrees));
    CertFreeCertificateContext(stored);
    EXPECT_EQ(keySpec, AT_KEYEXCHANGE);
    EXPECT_TRUE(callerFrees);
    const std::string containerName = ProvString(linked, PP_CONTAINER);
    EXPECT_EQ(containerName, names[0]);
    const std::string command =
        "md@cp@0" + std::string(1, containerName[containerName.size() - 36 + 7]);
    EXPECT_TRUE(CryptSetProvParam(linked, PP_KEYEXCHANGE_PIN,
                                  reinterpret_cast<const BYTE*>(command.c_str()), 0));
    EXPECT_TRUE(CryptSetProvParam(linked, PP_KEYEXCHANGE_PIN,
                                  reinterpret_cast<const BYTE*>("md@cls@@"), 0));
    EXPECT_EQ(ReadFileBytes(m_logPath), "32:md@cp@01\n32:md@cls@@\n");

    // Decryption of a wrapped key, ciphertext given least significant byte first.
    HCRYPTKEY exchange = 0;
    ASSERT_TRUE(CryptGetUserKey(linked, AT_KEYEXCHANGE, &exchange));
    const std::vector<BYTE> secret{1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                   13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> encrypt(
        EVP_PKEY_CTX_new(m_key.get(), nullptr), EVP_PKEY_CTX_free);
    ASSERT_GT(EVP_PKEY_encrypt_init(encrypt.get()), 0);
    ASSERT_GT(EVP_PKEY_CTX_set_rsa_padding(encrypt.get(), RSA_PKCS1_PADDING), 0);
    std::vector<BYTE> cipher(256);
    size_t cipherLength = cipher.size();
    ASSERT_GT(
        EVP_PKEY_encrypt(encrypt.get(), cipher.data(), &cipherLength, secret.data(), secret.size()),
        0);
    std::reverse(cipher.begin(), cipher.end());
    DWORD length = static_cast<DWORD>(cipherLength);
    ASSERT_TRUE(CryptDecrypt(exchange, 0, TRUE, 0, cipher.data(), &length));
    EXPECT_EQ(std::vector<BYTE>(cipher.begin(), cipher.begin() + static_cast<long>(length)),
              secret);
    CryptDestroyKey(exchange);
    CryptReleaseContext(linked, 0);
}

TEST_F(ProviderTest, MissingModulesNamesAndHandlesFailCleanly) {
    // Missing, or a copy of a working module that is relative, writable by others or in
    // another user's folder: none is loaded.
    const std::string dir = m_hives.Dir();
    std::filesystem::copy_file(VELK_FAKE_PROVIDER, dir + "/librel.so");
    std::filesystem::copy_file(VELK_FAKE_PROVIDER, dir + "/libopen.so");
    ASSERT_EQ(chmod((dir + "/libopen.so").c_str(), 0666), 0);
    std::vector<std::pair<std::string, std::string>> refused = {
        {"Gone Provider", "/nonexistent/libgone.so"},
        {"Relative", "librel.so"},
        {"Open", dir + "/libopen.so"}};
    if (geteuid() == 0) {
        ASSERT_EQ(mkdir((dir + "/foreign").c_str(), 0755), 0);
        std::filesystem::copy_file(VELK_FAKE_PROVIDER, dir + "/foreign/libforeign.so");
        ASSERT_EQ(chown((dir + "/foreign").c_str(), kNobody, kNobody), 0);
        refused.emplace_back("Foreign", dir + "/foreign/libforeign.so");
    }
    // The relative name is refused though the current folder holds it.
    const std::filesystem::path oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    HCRYPTPROV prov = 0;
    testing::internal::CaptureStderr();
    for (const auto& [name, image] : refused) {
        ASSERT_EQ(velk::RegisterProvider(name, image), ERROR_SUCCESS);
        EXPECT_FALSE(
            CryptAcquireContextA(&prov, nullptr, name.c_str(), PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
            << name;
        EXPECT_EQ(GetLastError(), NTE_PROV_DLL_NOT_FOUND) << name;
        EXPECT_NE(velk::LastProviderLoadError().find(image + ": not loaded"), std::string::npos)
            << velk::LastProviderLoadError();
    }
    std::filesystem::current_path(oldCwd);
    ASSERT_EQ(velk::RegisterProvider("Not A Provider", VELK_NO_ENTRY_MODULE), ERROR_SUCCESS);
    ASSERT_EQ(velk::RegisterProvider("Other Type", VELK_FAKE_PROVIDER, 24), ERROR_SUCCESS);
    const struct {
        const char* name;
        DWORD type;
        DWORD flags;
        DWORD error;
    } failures[] = {{"Not A Provider", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_PROVIDER_DLL_FAIL},
                    {"No Such Provider", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_KEYSET_NOT_DEF},
                    {"Other Type", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NO_MATCH},
                    {nullptr, 24, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NOT_DEF},
                    {nullptr, PROV_RSA_FULL, 0x4000, NTE_BAD_FLAGS}};
    for (const auto& failure : failures) {
        EXPECT_FALSE(
            CryptAcquireContextA(&prov, nullptr, failure.name, failure.type, failure.flags));
        EXPECT_EQ(GetLastError(), failure.error) << (failure.name ? failure.name : "default");
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("entry point"), std::string::npos);
    EXPECT_FALSE(CryptAcquireContextA(nullptr, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(prov, 0u);

    // Handles that are not (or no longer) handles.
    DWORD size = 0;
    EXPECT_FALSE(CryptGetProvParam(0x12345, PP_NAME, nullptr, &size, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(0, AT_KEYEXCHANGE, &key));
    EXPECT_FALSE(CryptGetKeyParam(0x12345, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
    // A certificate without a key link has no private key to acquire.
    Context context = CreateContext(MakeCert(Cert("No Link")).der);
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE linked = 0;
    EXPECT_FALSE(
        CryptAcquireCertificatePrivateKey(context.get(), 0, nullptr, &linked, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), CRYPT_E_NO_KEY_PROPERTY);
}

TEST(ProviderWithoutInstallTest, BuiltInProviderServesTheDefaultType) {
    TempHives hives; // nothing registered, no machine hive at all
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(ProvString(prov, PP_NAME), MS_ENHANCED_PROV_A);
    EXPECT_TRUE(EnumerateContainers(prov).empty());
    CryptReleaseContext(prov, 0);
    EXPECT_FALSE(
        CryptAcquireContextA(&prov, nullptr, kCardProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_KEYSET_NOT_DEF);
}

} // namespace
