// SCard against the project's virtual card behind the in-process PC/SC library.

#include "vcard/VirtualCard.h"
#include "pcscsim/SimControl.h"
#include "tests/card/CardScenarios.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace cardtest;

namespace {

const std::string kReader = "Virtual Reader 00 00";

class InProcessCard : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        pcscsim::AddReader(kReader);
    }
    void TearDown() override {
        EXPECT_EQ(pcscsim::OpenContexts(), 0u);
        EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
        pcscsim::ResetAll();
    }
    void Insert(const std::string& profile) {
        std::shared_ptr<vcard::VirtualCard> card = vcard::OpenCard(profile, "");
        ASSERT_TRUE(card);
        ASSERT_TRUE(pcscsim::InsertCard(kReader, card));
    }
};

} // namespace

TEST_F(InProcessCard, CardNumberPinsAndCertificateFile) {
    Insert("tcos30");
    ReadsTheCardNumber(kReader);
    ManagesTheCardPins(kReader);
    BreaksTheSignatureNullPin(kReader);
    WritesAndReadsBackACertificateFile(kReader);
}

TEST_F(InProcessCard, MakerKey) {
    Insert("tcos30v2");
    InstallsAndChecksTheMakerKey(kReader);
}

TEST_F(InProcessCard, CardPulledMidWrite) {
    Insert("tcos30");
    FailsCleanlyWhenTheCardGoesMidWrite(kReader,
                                        [] { pcscsim::PullCardDuringTransmit(kReader, 10); });
}

TEST_F(InProcessCard, OtherCardTypes) {
    Insert("micardo");
    MicardoChangesPinsWithPaddedFields(kReader);
    for (const char* profile : {"cardos4", "cardos8"}) {
        pcscsim::RemoveCard(kReader);
        Insert(profile);
        CardOsAnswersWithoutTcosCommands(kReader);
    }
    pcscsim::RemoveCard(kReader);
    Insert("tcos20");
    Tcos20ReadsTheCardNumber(kReader);
}
