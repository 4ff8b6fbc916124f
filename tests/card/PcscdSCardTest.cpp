// SCard through the real stack: libpcsclite, a private pcscd, a vsmartcard
// vpcd reader and the virtual card process in it.

#include "tests/card/CardScenarios.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace cardtest;

namespace {

class ThroughPcscd : public ::testing::Test {
protected:
    void SetUp() override {
        m_pcscd = std::make_unique<velktest::VirtualPcscd>(1);
        ASSERT_TRUE(m_pcscd->Ok()) << "private pcscd did not come up";
        m_reader = m_pcscd->ReaderName(0);
    }
    void TearDown() override { m_pcscd.reset(); }
    void Insert(const std::string& profile) {
        ASSERT_TRUE(m_pcscd->InsertCard(0, profile, m_dir.File(profile + ".img")));
    }

    velktest::TempDir m_dir;
    std::unique_ptr<velktest::VirtualPcscd> m_pcscd;
    std::string m_reader;
};

} // namespace

TEST_F(ThroughPcscd, CardNumberAndPins) {
    Insert("tcos30");
    ReadsTheCardNumber(m_reader);
    ManagesTheCardPins(m_reader);
    BreaksTheSignatureNullPin(m_reader);
}

TEST_F(ThroughPcscd, MakerKeyAndCertificateFile) {
    Insert("tcos30");
    InstallsAndChecksTheMakerKey(m_reader);
    WritesAndReadsBackACertificateFile(m_reader);
}

TEST_F(ThroughPcscd, CardRemovedMidWrite) {
    Insert("tcos30");
    FailsCleanlyWhenTheCardGoesMidWrite(m_reader, [this] { m_pcscd->RemoveCard(0); });
}

TEST_F(ThroughPcscd, MicardoOverT0) {
    Insert("micardo");
    MicardoChangesPinsWithPaddedFields(m_reader);
}
