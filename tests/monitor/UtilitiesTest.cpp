// The card and provider utilities of the certificates dialog, in process:
// real hive files, simulated readers, the tests' provider module.

#include "monitor/BuildCertificateList.h"
#include "monitor/CCert.h"
#include "monitor/CardUtils.h"
#include "monitor/CertCollection.h"
#include "monitor/KeyProvInfo.h"
#include "pcscsim/SimControl.h"
#include "platform/crypto/ProviderInstall.h"
#include "platform/registry/Registry.h"
#include "tests/monitor/MonitorEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace montest;
namespace fs = std::filesystem;

namespace {

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    ~EnvGuard() {
        for (const auto& [name, value] : m_saved) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const char* value) {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

class UtilitiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        pcscsim::AddReader(kReader0);
        pcscsim::AddReader(kReader1);
    }

    // Registers one card in reader 0 and returns its list entry.
    CertEntry RegisterCard(char selector = '1') {
        m_env.PutContainer(kReader0, ContainerName('0', ReaderDigit(0, 2), '7', selector),
                           m_ca.Issue({}));
        CCert cert;
        cert.AddReaderCertificates(Record(kReader0, AtrOf("Velkora MD - TCOS 3.0")).Get());
        const auto entries = g_CertCollection.Entries();
        return entries.empty() ? nullptr : entries.front();
    }

    MonitorEnv m_env;
    TestCa m_ca;
};

TEST_F(UtilitiesTest, ExportFolderOrder) {
    EnvGuard env;
    const std::string xdgConfig = m_env.Path("config");
    fs::create_directories(xdgConfig);
    fs::create_directories(m_env.Path("Dokumente"));
    env.Set("XDG_CONFIG_HOME", xdgConfig.c_str());
    env.Set("XDG_DOCUMENTS_DIR", nullptr);
    env.Set("TEMP", nullptr);
    env.Set("TMP", nullptr);
    env.Set("TMPDIR", nullptr);
    env.Set("XDG_STATE_HOME", nullptr);
    env.Set("HOME", m_env.Path("home").c_str());

    // Nothing set: a private folder of this user, made if need be, never one in /tmp.
    const std::string fallback = GetExportFolder();
    EXPECT_EQ(fallback.rfind(m_env.Path("home") + "/.local/state/velkora/export-", 0), 0u)
        << fallback;
    struct stat st {};
    ASSERT_EQ(stat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    env.Set("TMPDIR", "/tmpdir");
    EXPECT_EQ(GetExportFolder(), "/tmpdir");
    env.Set("TMP", "/tmp-b");
    EXPECT_EQ(GetExportFolder(), "/tmp-b");
    env.Set("TEMP", "/tmp-a");
    EXPECT_EQ(GetExportFolder(), "/tmp-a");

    // The documents folder of user-dirs.dirs, when it exists.
    std::ofstream(xdgConfig + "/user-dirs.dirs")
        << "# written by a test\nXDG_DOCUMENTS_DIR=\"" << m_env.Path("Dokumente") << "\"\n";
    EXPECT_EQ(GetExportFolder(), m_env.Path("Dokumente"));
    env.Set("XDG_DOCUMENTS_DIR", m_env.Path("missing").c_str());
    EXPECT_EQ(GetExportFolder(), "/tmp-a");
    env.Set("XDG_DOCUMENTS_DIR", m_env.Dir().c_str());
    EXPECT_EQ(GetExportFolder(), m_env.Dir());

    // The user hive's "Personal" shell folder comes first.
    SetPersonalFolder("/home/someone/Personal");
    EXPECT_EQ(GetExportFolder(), "/home/someone/Personal");
}

TEST_F(UtilitiesTest, SavedCertificateReplacesDeletableFilesOnly) {
    EnvGuard env;
    env.Set("XDG_DOCUMENTS_DIR", nullptr);
    SetPersonalFolder(m_env.Dir());
    const Bytes der = m_ca.Issue({{{"CN", "Saved"}}, {0x21}});
    const monitor::CertOwner cert = ContextOf(der);

    EXPECT_EQ(SaveCertificateFile(nullptr), "");
    // An old file under the first name is replaced.
    std::ofstream(m_env.Path("msign0000.cer")) << "old contents, much longer than nothing";
    EXPECT_EQ(SaveCertificateFile(cert.Get()), m_env.Path("msign0000.cer"));
    std::ifstream in(m_env.Path("msign0000.cer"), std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(written, der);
    EXPECT_EQ(Reencode(written), der); // OpenSSL reads it back identical

    // A name that cannot be deleted (here a folder with something inside) is
    // passed over.
    fs::remove(m_env.Path("msign0000.cer"));
    fs::create_directories(m_env.Path("msign0000.cer/inside"));
    EXPECT_EQ(SaveCertificateFile(cert.Get()), m_env.Path("msign0001.cer"));

    // No name left there (someone took them all in a shared folder): the user's private
    // folder takes the file.
    fs::remove(m_env.Path("msign0001.cer"));
    for (int n = 1; n < 1000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "msign%04d.cer/x", n);
        fs::create_directories(m_env.Path(name));
    }
    env.Set("XDG_STATE_HOME", m_env.Path("state").c_str());
    const std::string saved = SaveCertificateFile(cert.Get());
    EXPECT_EQ(saved.rfind(m_env.Path("state") + "/velkora/export-", 0), 0u) << saved;
    EXPECT_TRUE(saved.ends_with("/msign0000.cer")) << saved;
}

TEST_F(UtilitiesTest, PinCommandsGoThroughTheProvider) {
    const CertEntry entry = RegisterCard('3');
    ASSERT_NE(entry, nullptr);
    const std::string container = ContainerName('0', ReaderDigit(0, 2), '7', '3');

    EXPECT_TRUE(CspChangePin(entry->GetCertContext()));
    EXPECT_EQ(m_env.ParamLog(), (std::vector<std::string>{"32 " + container + " md@cp@03",
                                                          "32 " + container + " md@cls@@"}));
    std::filesystem::remove(m_env.Path("prov/params.log"));

    // A command the provider keeps refusing is tried three times; the end of
    // the sequence is sent all the same.
    m_env.FailNextParamSets(5);
    EXPECT_TRUE(CspUnblockPin(entry->GetCertContext()));
    std::vector<std::string> expected(3, "32 " + container + " md@up@03");
    expected.push_back("32 " + container + " md@cls@@");
    EXPECT_EQ(m_env.ParamLog(), expected);
}

TEST_F(UtilitiesTest, PinCommandsNeedTheMinidriversKeyInMy) {
    const Bytes der = m_ca.Issue({{{"CN", "Not Registered"}}, {0x31}});
    const monitor::CertOwner loose = ContextOf(der);
    EXPECT_FALSE(CspChangePin(nullptr));
    EXPECT_FALSE(CspChangePin(loose.Get())); // not in MY

    // In MY with a key of the software provider, without the marker: the key
    // is reached, no command is sent.
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, "plain-key", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    CryptReleaseContext(prov, 0);
    ASSERT_TRUE(MonitorEnv::AddToMy(der, "plain-key", MS_ENHANCED_PROV_A));
    EXPECT_TRUE(CspChangePin(loose.Get()));
    EXPECT_TRUE(m_env.ParamLog().empty());
}

TEST_F(UtilitiesTest, ReaderLookups) {
    std::string reader = "stale";
    EXPECT_FALSE(ReaderForContainer("anything", reader));
    EXPECT_EQ(reader, "");

    const CertEntry entry = RegisterCard();
    ASSERT_NE(entry, nullptr);
    std::string upper = entry->GetContainerName();
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_FALSE(ReaderForContainer(upper, reader));
    EXPECT_EQ(reader, kReader0);
    // The last match wins.
    g_CertCollection.Append(std::make_shared<const CCertCollection>(
        entry->GetCertContext(), std::u16string(upper.begin(), upper.end()), "STORE"));
    ReaderForContainer(entry->GetContainerName(), reader);
    EXPECT_EQ(reader, "STORE");

    // The reader from a container name: digit - '0' - 2n, '0' not special.
    const auto name = [](char digit) {
        const std::string n = ContainerName('0', digit, '7', '1');
        return std::u16string(n.begin(), n.end());
    };
    EXPECT_EQ(ReaderNameFromContainer(name('4').c_str()), kReader0);
    EXPECT_EQ(ReaderNameFromContainer(name('5').c_str()), kReader1);
    EXPECT_EQ(ReaderNameFromContainer(name('6').c_str()), "");
    EXPECT_EQ(ReaderNameFromContainer(name('0').c_str()), "");
    EXPECT_EQ(ReaderNameFromContainer(u"x"), "");
    EXPECT_EQ(ReaderNameFromContainer(nullptr), "");
    pcscsim::RemoveReader(kReader1);
    EXPECT_EQ(ReaderNameFromContainer(name('2').c_str()), kReader0);
    EXPECT_EQ(ReaderNameFromContainer(name('3').c_str()), "");
}

TEST_F(UtilitiesTest, ProviderByAtrIndex) {
    const std::string unknown = "Unknown Cryptographic Service Provider";
    EXPECT_EQ(ProviderNameByAtrIndex(0), unknown);
    EXPECT_EQ(ProviderNameByAtrIndex(10), unknown);
    EXPECT_EQ(ProviderNameByAtrIndex(-1), unknown);
    EXPECT_EQ(ProviderNameByAtrIndex(8), unknown); // the empty entry
    EXPECT_EQ(ProviderNameByAtrIndex(2), "Velkora Base Smart Card Crypto Provider");
    EXPECT_EQ(ProviderNameByAtrIndex(1), "Velkora Base Smart Card Crypto Provider");
    // Without a resource manager the database still answers.
    pcscsim::StopService();
    EXPECT_EQ(ProviderNameByAtrIndex(2), "Velkora Base Smart Card Crypto Provider");
    pcscsim::StartService();
}

TEST_F(UtilitiesTest, BuildListFromTheStore) {
    ASSERT_NE(RegisterCard(), nullptr);
    g_CertCollection.Free();
    std::string error = "stale";
    BuildCertificateListCore(error);
    EXPECT_EQ(error, "");
    const auto entries = g_CertCollection.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->GetReaderName(), kReader0);

    // An existing list is left as it is.
    g_CertCollection.Free();
    g_CertCollection.Create();
    BuildCertificateListCore(error);
    EXPECT_EQ(g_CertCollection.Size(), 0u);

    // No default provider: the list is made empty, with the error text.
    g_CertCollection.Free();
    ASSERT_EQ(velk::SetDefaultProvider(PROV_RSA_FULL, "No Such Provider"), ERROR_SUCCESS);
    BuildCertificateListCore(error);
    EXPECT_EQ(error.rfind("CryptAcquireContext failed(", 0), 0u) << error;
    EXPECT_EQ(error.back(), ')');
    EXPECT_TRUE(g_CertCollection.Exists());
    EXPECT_EQ(g_CertCollection.Size(), 0u);
}

TEST_F(UtilitiesTest, BuildListReportsAnUnusableStore) {
    // A user hive that is no database: the store cannot be opened.
    RegResetForTests();
    std::ofstream(m_env.Path("user.hive"), std::ios::trunc) << "this is not a hive file at all";
    std::string error;
    BuildCertificateListCore(error);
    EXPECT_EQ(error.rfind("CertOpenStore failed (", 0), 0u) << error;
    EXPECT_TRUE(g_CertCollection.Exists());
}

} // namespace
