// Registration and removal of card certificates, in process: simulated
// readers, the tests' provider module serving the containers, real hive
// files for the stores and the card database.

#include "monitor/CCert.h"
#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/KeyProvInfo.h"
#include "pcscsim/SimControl.h"
#include "tests/monitor/MonitorEnv.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace montest;

namespace {

class PropagationTest : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        pcscsim::AddReader(kReader0);
        pcscsim::AddReader(kReader1);
    }

    // A user key's container on the card in reader `index` of two, with a certificate for `cn`.
    std::string PutUser(int index, char type, char selector, const char* tail, const char* cn,
                        uint8_t serial) {
        const std::string name = ContainerName('0', ReaderDigit(index, 2), type, selector, tail);
        m_env.PutContainer(index == 0 ? kReader0 : kReader1, name,
                           m_ca.Issue({{{"CN", cn}}, {serial}}));
        return name;
    }
    static Record Card(const char* reader) { return {reader, AtrOf("Velkora MD - TCOS 3.0")}; }

    std::vector<std::string> ListedReaders() const {
        std::vector<std::string> readers;
        for (const auto& entry : g_CertCollection.Entries()) {
            readers.push_back(entry->GetReaderName());
        }
        return readers;
    }

    MonitorEnv m_env;
    TestCa m_ca;
};

// Makes a file unwritable for this process while it lives: by its mode, or,
// for root, whom modes do not stop, by the immutable attribute.
class CUnwritableFile {
public:
    explicit CUnwritableFile(std::string path) : m_path(std::move(path)), m_ok(Lock(true)) {}
    ~CUnwritableFile() {
        if (m_ok) {
            Lock(false);
        }
    }
    CUnwritableFile(const CUnwritableFile&) = delete;
    CUnwritableFile& operator=(const CUnwritableFile&) = delete;
    bool Ok() const { return m_ok; }

private:
    bool Lock(bool on) const {
        if (geteuid() != 0) {
            return chmod(m_path.c_str(), on ? 0444 : 0644) == 0;
        }
        const int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        close(fd);
        return done;
    }

    std::string m_path;
    bool m_ok;
};

std::vector<std::string> Containers(const std::vector<StoredCert>& certs) {
    std::vector<std::string> paths;
    for (const auto& c : certs) {
        paths.push_back(c.container.value_or("(none)"));
    }
    return paths;
}

TEST_F(PropagationTest, CardsRegisterPerReaderAndLeaveOnlyWithTheirReader) {
    const std::string user0 = PutUser(0, '2', '1', "aaaa", "Erika Mustermann", 0x01);
    const std::string user0b = PutUser(0, '7', '2', "bbbb", "Erika Encryption", 0x02);
    m_env.PutContainer(kReader0, ContainerName('1', ReaderDigit(0, 2), '7', '1', "cccc"),
                       m_ca.Der());
    const std::string user1 = PutUser(1, '7', '1', "dddd", "John Doe", 0x03);
    const Record card0 = Card(kReader0);
    const Record card1 = Card(kReader1);

    CCert cert;
    EXPECT_EQ(cert.ReaderCount(), 2u);
    EXPECT_EQ(cert.AddReaderCertificates(card0.Get()), SCARD_S_SUCCESS);
    EXPECT_EQ(cert.AddReaderCertificates(card1.Get()), SCARD_S_SUCCESS);

    // User keys in MY with the link to their container and provider; the
    // authority certificate in ROOT without one.
    const auto my = MonitorEnv::Store("MY");
    EXPECT_EQ(Containers(my), (std::vector<std::string>{ContainerPath(kReader0, user0),
                                                        ContainerPath(kReader0, user0b),
                                                        ContainerPath(kReader1, user1)}));
    const auto root = MonitorEnv::Store("ROOT");
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0].der, m_ca.Der());
    EXPECT_FALSE(root[0].container.has_value());
    EXPECT_TRUE(MonitorEnv::Store("CA").empty());
    {
        const monitor::StoreOwner store = monitor::OpenUserStore("MY");
        PCCERT_CONTEXT first = CertEnumCertificatesInStore(store.Get(), nullptr);
        ASSERT_NE(first, nullptr);
        DWORD size = 0;
        ASSERT_TRUE(
            CertGetCertificateContextProperty(first, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
        std::vector<uint64_t> buffer(size / 8 + 1);
        ASSERT_TRUE(CertGetCertificateContextProperty(first, CERT_KEY_PROV_INFO_PROP_ID,
                                                      buffer.data(), &size));
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        EXPECT_EQ(std::u16string(info->pwszProvName), u"Velkora Base Smart Card Crypto Provider");
        EXPECT_EQ(info->dwProvType, PROV_RSA_FULL);
        EXPECT_EQ(info->dwKeySpec, AT_KEYEXCHANGE);
        EXPECT_EQ(info->dwFlags, 0u);
        EXPECT_EQ(info->cProvParam, 0u);
        CertFreeCertificateContext(first);
    }

    // The list holds the user keys only, by reader.
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{kReader0, kReader0, kReader1}));
    EXPECT_EQ(g_CollectionCount, 3u);
    EXPECT_EQ(cert.SyncCollectionWithStore(), 0u);

    // The same card again is not registered twice.
    EXPECT_EQ(cert.AddReaderCertificates(card0.Get()), SCARD_S_SUCCESS);
    EXPECT_EQ(MonitorEnv::Store("MY").size(), 3u);
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{kReader1, kReader0, kReader0}));

    // Taking card 0 out leaves card 1's registrations alone; the authority
    // certificate stays where it is.
    const Record empty0(kReader0, {});
    EXPECT_EQ(cert.RemoveReaderCertificates(empty0.Get()), 0);
    EXPECT_EQ(Containers(MonitorEnv::Store("MY")),
              (std::vector<std::string>{ContainerPath(kReader1, user1)}));
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{kReader1}));
    EXPECT_EQ(MonitorEnv::Store("ROOT").size(), 1u);
}

TEST_F(PropagationTest, CardsThatAreNotOursAreLeftAloneAndOnlyMicardoCardsAreTriedTwice) {
    const std::string user = ContainerName('0', ReaderDigit(0, 2), '7', '1');
    m_env.PutContainer(kReader0, user, m_ca.Issue({}));
    CCert watcher;

    EXPECT_EQ(watcher.AddReaderCertificates(nullptr), -1);
    EXPECT_EQ(watcher.RemoveReaderCertificates(nullptr), -1);
    SCARD_READERSTATE nameless{};
    EXPECT_EQ(watcher.AddReaderCertificates(&nameless), -1);

    // A card type of another maker, an ATR the database does not know, an
    // empty reader: nothing is asked of the provider, nothing registered.
    for (const Bytes& atr : {AtrOf("Other Card"), Bytes{0x3B, 0x02, 0x14, 0x50}, Bytes{}}) {
        const Record record(kReader0, atr);
        EXPECT_EQ(watcher.AddReaderCertificates(record.Get()), SCARD_S_SUCCESS);
    }
    EXPECT_TRUE(m_env.AcquireLog().empty());
    EXPECT_TRUE(MonitorEnv::Store("MY").empty());
    // The list exists now, empty: the tray shows the icon without certificates.
    EXPECT_TRUE(g_CertCollection.Exists());
    EXPECT_FALSE(g_CertCollection.HasEntries());

    // Only Micardo cards get a second acquisition.
    const std::string prefix = "\\\\.\\" + std::string(kReader0) + "\\";
    const Record micardo(kReader0, AtrOf("Velkora MD - Micardo"));
    const Record tcos = Card(kReader0);

    { // Micardo, first acquisition fails: tried exactly once more, registered.
        m_env.FailNextAcquisitions(1);
        CCert cert;
        cert.AddReaderCertificates(micardo.Get());
        const auto log = m_env.AcquireLog();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::count(log.begin(), log.end(), prefix), 2);
        EXPECT_EQ(MonitorEnv::Store("MY").size(), 1u);
        EXPECT_EQ(cert.LastError(), 0x8010000Bu);
    }
    std::filesystem::remove(m_env.Path("prov/acquire.log"));
    { // Micardo failing twice: no third try.
        m_env.FailNextAcquisitions(2);
        CCert cert;
        cert.RemoveAllPropagated();
        cert.AddReaderCertificates(micardo.Get());
        EXPECT_EQ(m_env.AcquireLog(), std::vector<std::string>({prefix, prefix}));
        EXPECT_TRUE(MonitorEnv::Store("MY").empty());
    }
    std::filesystem::remove(m_env.Path("prov/acquire.log"));
    { // Any other card: one attempt only.
        m_env.FailNextAcquisitions(1);
        CCert cert;
        cert.AddReaderCertificates(tcos.Get());
        EXPECT_EQ(m_env.AcquireLog(), std::vector<std::string>({prefix}));
        EXPECT_TRUE(MonitorEnv::Store("MY").empty());
    }
}

TEST_F(PropagationTest, AContainerWithoutCertificateEndsTheCard) {
    const std::string first = PutUser(0, '7', '1', "aaaa", "First", 0x01);
    m_env.PutContainer(kReader0, ContainerName('0', ReaderDigit(0, 2), '7', '2', "bbbb"), {});
    PutUser(0, '7', '3', "cccc", "Last", 0x03);
    CCert cert;
    cert.AddReaderCertificates(Card(kReader0).Get());
    EXPECT_EQ(Containers(MonitorEnv::Store("MY")),
              (std::vector<std::string>{ContainerPath(kReader0, first)}));
    EXPECT_EQ(g_CollectionCount, 1u);
}

TEST_F(PropagationTest, RemoveAllPropagatedLeavesOnlyForeignEntries) {
    PutUser(0, '7', '1', "aaaa", "A", 0x01);
    PutUser(1, '7', '1', "bbbb", "B", 0x02);
    CCert cert;
    cert.AddReaderCertificates(Card(kReader0).Get());
    cert.AddReaderCertificates(Card(kReader1).Get());

    // A certificate of another application with a key link, and one without.
    ASSERT_TRUE(MonitorEnv::AddToMy(m_ca.Issue({{{"CN", "Foreign"}}, {0x09}}), "other-app-key",
                                    "Some Provider"));
    ASSERT_TRUE(MonitorEnv::AddToMy(m_ca.Issue({{{"CN", "Plain"}}, {0x0A}})));
    // Helper containers of the software provider: the marked ones go.
    const std::string helper = "helper-" + ContainerName('0', '2', '7', '1');
    for (const std::string& name : {helper, std::string("someone-elses-key")}) {
        HCRYPTPROV prov = 0;
        ASSERT_TRUE(CryptAcquireContextA(&prov, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                         CRYPT_NEWKEYSET));
        CryptReleaseContext(prov, 0);
    }

    EXPECT_EQ(cert.RemoveAllPropagated(), 0);
    EXPECT_EQ(Containers(MonitorEnv::Store("MY")),
              (std::vector<std::string>{"other-app-key", "(none)"}));
    EXPECT_FALSE(g_CertCollection.Exists());
    const auto left = MonitorEnv::SoftwareContainers();
    EXPECT_EQ(std::count(left.begin(), left.end(), helper), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), "someone-elses-key"), 1);
}

TEST_F(PropagationTest, RemovalsEndWhenTheStoreCannotBeWritten) {
    PutUser(0, '7', '1', "aaaa", "A", 0x01);
    PutUser(0, '7', '2', "bbbb", "B", 0x02);
    const Record card0 = Card(kReader0);
    CCert cert;
    cert.AddReaderCertificates(card0.Get());
    ASSERT_EQ(MonitorEnv::Store("MY").size(), 2u);

    // Every deletion fails: each walk tries each registration once and ends.
    {
        const CUnwritableFile hive(m_env.Path("user.hive"));
        if (!hive.Ok()) {
            GTEST_SKIP() << "cannot make the hive unwritable here";
        }
        cert.RemoveAllPropagated();
        cert.RemoveReaderCertificates(card0.Get());
    }
    EXPECT_EQ(MonitorEnv::Store("MY").size(), 2u);
    // Writable again: the next walk removes them.
    EXPECT_EQ(cert.RemoveAllPropagated(), 0);
    EXPECT_TRUE(MonitorEnv::Store("MY").empty());
}

TEST_F(PropagationTest, TheListFollowsTheStore) {
    PutUser(0, '7', '1', "aaaa", "Card User", 0x01);
    CCert cert;
    cert.AddReaderCertificates(Card(kReader0).Get());
    EXPECT_EQ(cert.SyncCollectionWithStore(), 0u);
    EXPECT_EQ(cert.SyncCollectionWithStore(), 0u); // unchanged store: same answer

    // Registrations that another run (or process) left in MY: a user key and
    // an authority certificate whose container tail says so.
    const Bytes left = m_ca.Issue({{{"CN", "Left Behind"}}, {0x05}});
    const std::string leftPath =
        ContainerPath("Gone Reader", ContainerName('0', ReaderDigit(1, 2), '7', '1', "eeee"));
    const std::string authorityPath =
        ContainerPath(kReader0, ContainerName('1', ReaderDigit(0, 2), '7', '1', "ffff"));
    for (const auto& [der, path] :
         {std::pair{left, leftPath}, std::pair{m_ca.Der(), authorityPath}}) {
        ASSERT_TRUE(MonitorEnv::AddToMy(der, path, "Velkora Base Smart Card Crypto Provider"));
    }
    EXPECT_TRUE(MonitorEnv::Store("ROOT").empty());

    // The counts differ: the store count is returned and the list is rebuilt
    // from the store, every entry marked as coming from it.
    EXPECT_EQ(cert.SyncCollectionWithStore(), 2u);
    EXPECT_EQ(cert.StoreCount(), 2u);
    EXPECT_EQ(g_CollectionCount, 2u);
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{"STORE", "STORE"}));
    // The authority registration was copied to ROOT on the way.
    EXPECT_EQ(MonitorEnv::Store("ROOT").size(), 1u);
    EXPECT_EQ(cert.SyncCollectionWithStore(), 0u);

    // Removing the card finds its rebuilt entry by the container tail; the
    // one whose tail names reader 1 stays, in the list and in the store.
    cert.RemoveReaderCertificates(Record(kReader0, {}).Get());
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{"STORE"}));
    EXPECT_EQ(Containers(MonitorEnv::Store("MY")), (std::vector<std::string>{leftPath}));
    // Two were counted, one is left: rebuilt once more.
    EXPECT_EQ(cert.SyncCollectionWithStore(), 1u);
    EXPECT_EQ(g_CertCollection.Size(), 1u);
    EXPECT_EQ(cert.SyncCollectionWithStore(), 0u);
}

TEST_F(PropagationTest, ReaderIndexRules) {
    CCert two;
    ASSERT_EQ(two.ReaderCount(), 2u);
    EXPECT_EQ(two.ReaderIndex(kReader1), 1);
    EXPECT_EQ(two.ReaderIndex("Sim Reader"), -1);
    EXPECT_EQ(two.ReaderIndexFromContainer(ContainerName('0', '0', '7', '1')), 0);
    EXPECT_EQ(two.ReaderIndexFromContainer(ContainerName('0', '4', '7', '1')), 0);
    EXPECT_EQ(two.ReaderIndexFromContainer(ContainerName('0', '5', '7', '1')), 1);
    EXPECT_EQ(two.ReaderIndexFromContainer(ContainerName('0', '1', '7', '1')), -3);
    EXPECT_EQ(two.ReaderIndexFromContainer("c0de"), -1);
    // The tail is the last 36 characters of the whole path.
    EXPECT_EQ(
        two.ReaderIndexFromContainer(ContainerPath(kReader1, ContainerName('0', '5', '7', '1'))),
        1);

    pcscsim::RemoveReader(kReader1);
    CCert one;
    EXPECT_EQ(one.ReaderIndexFromContainer(ContainerName('0', '2', '7', '1')), 0);
    EXPECT_EQ(one.ReaderIndexFromContainer(ContainerName('0', '3', '7', '1')), 1);
}

TEST_F(PropagationTest, ReaderEntriesGoByNameStoreEntriesByTail) {
    CCert cert;
    g_CertCollection.Create();
    const Bytes der = m_ca.Issue({});
    const monitor::CertOwner ctx = ContextOf(der);
    const auto add = [&](char digit, const std::string& source) {
        const std::string path = ContainerPath(source, ContainerName('0', digit, '7', '1'));
        g_CertCollection.Append(std::make_shared<const CCertCollection>(
            ctx.Get(), std::u16string(path.begin(), path.end()), source));
    };
    add(ReaderDigit(0, 2), kReader0); // gone: reader 0's own
    add(ReaderDigit(1, 2), kReader1); // stays
    add(ReaderDigit(0, 2), "STORE");  // gone: its tail says reader 0
    add(ReaderDigit(1, 2), "store");  // stays: tail says reader 1
    add('9', "Unplugged Reader");     // gone: its reader is not listed any more
    cert.RemoveReaderFromCollection(Record(kReader0, {}).Get());
    EXPECT_EQ(ListedReaders(), (std::vector<std::string>{kReader1, "store"}));

    // A reader that is not in the list changes nothing.
    cert.RemoveReaderFromCollection(Record("Not There", {}).Get());
    EXPECT_EQ(g_CertCollection.Size(), 2u);
}

} // namespace
