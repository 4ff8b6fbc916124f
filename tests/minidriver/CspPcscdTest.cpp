// The provider through the real stack: a private pcscd with vpcd readers and
// velkora-vcard in the second reader; libpcsclite in this process.

#include "card/SCard.h"
#include "platform/crypto/WinCrypt.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>
#include <winscard.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> PcscReaders() {
    std::vector<std::string> readers;
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return readers;
    }
    char names[4096] = {};
    DWORD length = sizeof names;
    if (SCardListReaders(context, nullptr, names, &length) == SCARD_S_SUCCESS) {
        for (const char* p = names; *p != '\0'; p += std::strlen(p) + 1) {
            readers.emplace_back(p);
        }
    }
    SCardReleaseContext(context);
    return readers;
}

Bytes KeyModulus(const std::string& reader, const std::string& keyFile) {
    SCard card(reader);
    Bytes record(256);
    uint16_t length = 0;
    if (card.SelectPath(keyFile, true) != 0 || card.ReadRecord(1, record, length) != 0) {
        return {};
    }
    record.resize(length);
    return record;
}

class CspPcscdTest : public ::testing::Test {
protected:
    mdtest::TempDir m_dir;
    mdtest::RegisteredProvider m_provider{m_dir};
    velktest::VirtualPcscd m_pcscd{2};
};

TEST_F(CspPcscdTest, ContainersAndCertificatesOfACardInTheSecondReader) {
    ASSERT_EQ(m_provider.Result(), 0);
    ASSERT_TRUE(m_pcscd.Ok());
    ASSERT_TRUE(m_pcscd.InsertCard(1, "tcos30", m_dir.File("card.img")));
    const std::string reader = m_pcscd.ReaderName(1);
    const auto readers = PcscReaders();
    const auto at = std::find(readers.begin(), readers.end(), reader);
    ASSERT_NE(at, readers.end());
    const int index = static_cast<int>(at - readers.begin());
    const int count = static_cast<int>(readers.size());

    unsigned long end = 0;
    const auto names = mdtest::EnumerateContainers(reader, end);
    EXPECT_EQ(end, static_cast<unsigned long>(ERROR_NO_MORE_ITEMS));
    ASSERT_EQ(names.size(), 6u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(mdtest::ReaderIndexFromContainer(mdtest::ContainerPath(reader, name), count),
                  index);
        EXPECT_EQ(mdtest::ReaderNameIndexFromContainer(name, static_cast<unsigned>(count)),
                  static_cast<unsigned>(index));
        const Bytes der = mdtest::ContainerCertificate(reader, name);
        ASSERT_FALSE(der.empty());
        const Bytes modulus = mdtest::CertificateModulus(der);
        ASSERT_FALSE(modulus.empty());
        if (name[4] == '0') {
            const std::string keyFile = "3f00" + name.substr(9, 4) + name.substr(14, 4);
            EXPECT_EQ(modulus, KeyModulus(reader, keyFile));
        }
    }
    // The trust center's state lies beside the image, made once for the folder.
    EXPECT_TRUE(std::ifstream(m_dir.File("velkora-demo-tc.pem")).good());
}

TEST_F(CspPcscdTest, ChangePinThroughTheProvider) {
    ASSERT_EQ(m_provider.Result(), 0);
    ASSERT_TRUE(m_pcscd.Ok());
    ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30", m_dir.File("card.img")));
    const std::string reader = m_pcscd.ReaderName(0);
    mdtest::ScriptedPinEntry pinentry(m_dir);

    const std::string path = mdtest::UserContainer(reader, '1');
    ASSERT_FALSE(path.empty());
    HCRYPTPROV prov = 0;
    ASSERT_EQ(mdtest::Acquire(path, prov), 0u);
    const auto send = [&](const char* command) { return mdtest::SendPinCommand(prov, command); };
    // Card PIN1 of a fresh card is the NULL-PIN: only the new PIN is asked.
    pinentry.Queue({"CANCEL"});
    EXPECT_EQ(send("md@cp@01"), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    EXPECT_EQ(send("md@cls@@"), 0u);
    {
        SCard card(reader);
        EXPECT_EQ(card.CardPin1Status(), 4) << "a cancel leaves the NULL-PIN";
    }
    pinentry.Queue({"2468", "2468"});
    EXPECT_EQ(send("md@cp@01"), 0u);
    EXPECT_EQ(send("md@cls@@"), 0u);
    CryptReleaseContext(prov, 0);

    SCard card(reader);
    uint8_t tries = 0;
    EXPECT_EQ(card.Verify("3f002f02", 0x00, "2468", tries), 0);
}

} // namespace
