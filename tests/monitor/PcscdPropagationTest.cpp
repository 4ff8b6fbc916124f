// Propagation through the real stack: a private pcscd with vpcd readers,
// the virtual card with its certificates, the minidriver's provider loaded
// by name, libpcsclite in this process.

#include "card/SCard.h"
#include "monitor/CCert.h"
#include "monitor/CardUtils.h"
#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace montest;

namespace {

// The reader's state as the monitor's snapshot holds it.
class LiveRecord {
public:
    explicit LiveRecord(const std::string& reader) : m_name(reader) {
        m_state.szReader = m_name.c_str();
        SCARDCONTEXT context = 0;
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) ==
            SCARD_S_SUCCESS) {
            SCardGetStatusChange(context, 0, &m_state, 1);
            SCardReleaseContext(context);
        }
    }
    const SCARD_READERSTATE* Get() const { return &m_state; }
    bool Present() const { return (m_state.dwEventState & SCARD_STATE_PRESENT) != 0; }

private:
    std::string m_name;
    SCARD_READERSTATE m_state{};
};

std::vector<StoredCert> Marked(const std::vector<StoredCert>& certs) {
    std::vector<StoredCert> marked;
    std::copy_if(certs.begin(), certs.end(), std::back_inserter(marked), [](const StoredCert& c) {
        return c.container && monitor::HasContainerMarker(*c.container);
    });
    return marked;
}

bool AllOfReader(const std::vector<StoredCert>& certs, const std::string& reader) {
    return std::all_of(certs.begin(), certs.end(), [&](const StoredCert& c) {
        return c.container && c.container->rfind(monitor::ReaderPrefix(reader), 0) == 0;
    });
}

class PcscdPropagationTest : public ::testing::Test {
protected:
    MonitorEnv m_env{VELK_CSP_MODULE};
    velktest::VirtualPcscd m_pcscd{2};
};

TEST_F(PcscdPropagationTest, CardsComeAndGoWithTheirRegistrations) {
    ASSERT_TRUE(m_pcscd.Ok());
    const std::string reader0 = m_pcscd.ReaderName(0);
    const std::string reader1 = m_pcscd.ReaderName(1);
    ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30", m_env.Path("card0.img")));

    {
        LiveRecord card0(reader0);
        ASSERT_TRUE(card0.Present());
        CCert cert;
        EXPECT_EQ(cert.AddReaderCertificates(card0.Get()), SCARD_S_SUCCESS);
    }
    // The card's four user keys in MY, linked to their containers; its two
    // authority certificates in ROOT and CA without a link.
    const auto my = MonitorEnv::Store("MY");
    ASSERT_EQ(my.size(), 4u);
    EXPECT_TRUE(AllOfReader(my, reader0));
    for (const auto& c : my) {
        EXPECT_EQ(monitor::TailChar(*c.container, 4), '0') << *c.container;
    }
    const auto root = MonitorEnv::Store("ROOT");
    const auto ca = MonitorEnv::Store("CA");
    ASSERT_EQ(root.size(), 1u);
    ASSERT_EQ(ca.size(), 1u);
    EXPECT_FALSE(root[0].container || ca[0].container);
    ASSERT_EQ(g_CertCollection.Size(), 4u);
    for (const auto& row : g_CertCollection.Rows()) {
        EXPECT_EQ(row.entry->GetReaderName(), reader0);
        EXPECT_FALSE(row.subject.empty());
        std::string listed;
        ReaderForContainer(row.entry->GetContainerName(), listed);
        EXPECT_EQ(listed, reader0);
        // The minidriver's reader digit brings the dialog back to the reader.
        const std::string name = row.entry->GetContainerName();
        EXPECT_EQ(ReaderNameFromContainer(std::u16string(name.begin(), name.end()).c_str()),
                  reader0);
    }

    // A second card in the other reader; then the first one is taken out.
    ASSERT_TRUE(m_pcscd.InsertCard(1, "tcos30", m_env.Path("card1.img")));
    {
        LiveRecord card1(reader1);
        CCert cert;
        cert.AddReaderCertificates(card1.Get());
    }
    EXPECT_EQ(Marked(MonitorEnv::Store("MY")).size(), 8u);
    ASSERT_TRUE(m_pcscd.RemoveCard(0));
    {
        LiveRecord gone(reader0);
        EXPECT_FALSE(gone.Present());
        CCert cert;
        EXPECT_EQ(cert.RemoveReaderCertificates(gone.Get()), 0);
        // Eight were added since the last rebuild, four are left: rebuilt.
        EXPECT_EQ(cert.SyncCollectionWithStore(), 4u);
        EXPECT_EQ(cert.SyncCollectionWithStore(), 0u);
    }
    const auto left = MonitorEnv::Store("MY");
    EXPECT_EQ(left.size(), 4u);
    EXPECT_TRUE(AllOfReader(left, reader1));
    EXPECT_EQ(g_CertCollection.Size(), 4u);

    // At the end nothing of the system is left in MY, nor a helper container.
    {
        CCert cert;
        EXPECT_EQ(cert.RemoveAllPropagated(), 0);
    }
    EXPECT_TRUE(Marked(MonitorEnv::Store("MY")).empty());
    EXPECT_FALSE(g_CertCollection.Exists());
    for (const std::string& name : MonitorEnv::SoftwareContainers()) {
        EXPECT_FALSE(monitor::HasContainerMarker(name)) << name;
    }
}

TEST_F(PcscdPropagationTest, CardsOfAnotherMakeAreLeftAlone) {
    ASSERT_TRUE(m_pcscd.Ok());
    ASSERT_TRUE(m_pcscd.InsertCard(0, "cardos4", m_env.Path("cardos.img")));
    LiveRecord card(m_pcscd.ReaderName(0));
    ASSERT_TRUE(card.Present());
    CCert cert;
    EXPECT_EQ(cert.AddReaderCertificates(card.Get()), SCARD_S_SUCCESS);
    EXPECT_TRUE(MonitorEnv::Store("MY").empty());
    EXPECT_TRUE(MonitorEnv::Store("ROOT").empty());
    EXPECT_FALSE(g_CertCollection.HasEntries());
}

TEST_F(PcscdPropagationTest, ChangePinThroughTheProviderReachesTheCard) {
    ASSERT_TRUE(m_pcscd.Ok());
    const std::string reader = m_pcscd.ReaderName(0);
    ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30", m_env.Path("card.img")));
    {
        CCert cert;
        cert.AddReaderCertificates(LiveRecord(reader).Get());
    }
    // An entry whose commands act on the card PIN (selector 1).
    CertEntry entry;
    for (const auto& e : g_CertCollection.Entries()) {
        if (e->GetContainerType() == 7 && monitor::TailChar(e->GetContainerName(), 7) == '1') {
            entry = e;
        }
    }
    ASSERT_NE(entry, nullptr);

    const mdtest::TempDir pinDir;
    mdtest::ScriptedPinEntry pinentry(pinDir);
    // The fresh card's PIN1 is its NULL-PIN: only the new PIN is asked, twice.
    pinentry.Queue({"2468", "2468"});
    EXPECT_TRUE(CspChangePin(entry->GetCertContext()));
    EXPECT_EQ(pinentry.Unanswered(), 0u);

    SCard card(reader);
    uint8_t tries = 0;
    EXPECT_EQ(card.Verify("3f002f02", 0x00, "2468", tries), 0);
}

} // namespace
