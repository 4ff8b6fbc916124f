// The PIN commands through the provider, as the certificates dialog sends
// them: the minidriver asks a scripted PIN entry program for the PINs and
// changes or unblocks the PIN on the virtual card.

#include "card/SCard.h"
#include "pcscsim/SimControl.h"
#include "platform/crypto/WinCrypt.h"
#include "tests/minidriver/MdTestEnv.h"
#include "vcard/VirtualCard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Requests = std::vector<std::pair<uint32_t, int64_t>>;

const std::string kReader = "Sim Reader 00 00";

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class CspPinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_provider.Result(), 0);
        pcscsim::ResetAll();
        pcscsim::AddReader(kReader);
        m_card = vcard::OpenCard(mdtest::QuickProfile("tcos30"), "");
        ASSERT_TRUE(m_card);
        ASSERT_TRUE(pcscsim::InsertCard(kReader, m_card));
    }
    void TearDown() override {
        if (m_prov != 0) {
            CryptReleaseContext(m_prov, 0);
        }
        EXPECT_EQ(pcscsim::OpenContexts(), 0u);
        EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
        pcscsim::ResetAll();
    }

    // A context on the first user container whose PIN selector is `selector`.
    void OpenContainerOf(char selector) {
        const std::string path = mdtest::UserContainer(kReader, selector);
        ASSERT_FALSE(path.empty()) << "no container with selector " << selector;
        ASSERT_EQ(mdtest::Acquire(path, m_prov), 0u);
    }

    DWORD Send(const std::string& command) { return mdtest::SendPinCommand(m_prov, command); }

    PinResult VerifyOnCard(const std::string& path, uint8_t reference, const std::string& pin) {
        SCard card(kReader);
        uint8_t tries = 0;
        return card.Verify(path, reference, pin, tries);
    }

    mdtest::TempDir m_dir;
    mdtest::RegisteredProvider m_provider{m_dir};
    mdtest::ScriptedPinEntry m_pinentry{m_dir};
    std::shared_ptr<vcard::VirtualCard> m_card;
    HCRYPTPROV m_prov = 0;
};

TEST_F(CspPinTest, ChangeTakesOldAndNewPinAndAnnouncesTheWork) {
    mdtest::RecordingBus bus;
    ASSERT_TRUE(bus.Ok()) << "dbus-daemon is needed for this test";
    ASSERT_TRUE(m_card->SetPin(0x00, Text("123456")));
    OpenContainerOf('1');
    m_pinentry.Queue({"123456", "654321", "654321"});

    EXPECT_EQ(Send("md@cp@01"), 0u);
    EXPECT_EQ(Send("md@cls@@"), 0u);

    EXPECT_EQ(m_pinentry.Starts(), 1);
    EXPECT_EQ(m_pinentry.Unanswered(), 0u);
    const auto asked = m_pinentry.Descriptions();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_NE(asked[0].find("alte Karten-PIN1"), std::string::npos) << asked[0];
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "654321"), 0);
    EXPECT_NE(VerifyOnCard("3f002f02", 0x00, "123456"), 0);

    const Requests expected = {{0x2002, 0}, {0x2001, 8002}, {0x2003, 0}};
    EXPECT_EQ(bus.Received(expected.size()), expected);
}

TEST_F(CspPinTest, NullPinIsReplacedWithoutAskingForIt) {
    OpenContainerOf('3'); // the signature key: SigG PIN1, still the NULL-PIN
    m_pinentry.Queue({"13579", "13579"});
    EXPECT_EQ(Send("md@cp@03"), 0u);
    EXPECT_EQ(Send("md@cls@@"), 0u);
    const auto asked = m_pinentry.Descriptions();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("Null-PIN"), std::string::npos) << asked[0];
    EXPECT_EQ(VerifyOnCard("3f00df01c000", 0x81, "13579"), 0);
}

TEST_F(CspPinTest, WrongOldPinOrDifferingRepeatLeavesThePin) {
    ASSERT_TRUE(m_card->SetPin(0x00, Text("123456")));
    OpenContainerOf('1');

    m_pinentry.Queue({"999999", "111111", "111111"});
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_WRONG_CHV));
    EXPECT_EQ(m_card->PinTries(0x00), 2);

    // The caller may try again; a repeat that differs never reaches the card.
    m_pinentry.Queue({"123456", "111111", "111112"});
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_E_INVALID_CHV));
    EXPECT_EQ(m_card->PinTries(0x00), 2);

    // A new PIN the card refuses (too short).
    m_pinentry.Queue({"123456", "12", "12"});
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_E_INVALID_CHV));
    EXPECT_EQ(Send("md@cls@@"), 0u);
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "123456"), 0);
}

TEST_F(CspPinTest, CancelChangesNothingAndEndsTheSequence) {
    ASSERT_TRUE(m_card->SetPin(0x00, Text("123456")));
    OpenContainerOf('1');
    m_pinentry.Queue({"CANCEL"});
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    // The caller's retries of the same sequence do not ask the user again.
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    EXPECT_EQ(m_pinentry.Starts(), 1);
    EXPECT_EQ(Send("md@cls@@"), 0u);
    EXPECT_EQ(m_card->PinTries(0x00), 3);
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "123456"), 0);

    // A cancel at the repeat prompt, after the old and new PIN were given.
    m_pinentry.Queue({"123456", "2468", "CANCEL"});
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    EXPECT_EQ(Send("md@cls@@"), 0u);
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "123456"), 0);

    // A new sequence asks again.
    m_pinentry.Queue({"123456", "2468", "2468"});
    EXPECT_EQ(Send("md@cp@01"), 0u);
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "2468"), 0);
}

TEST_F(CspPinTest, UnblockSetsANewPinWithThePartnerPin) {
    ASSERT_TRUE(m_card->SetPin(0x00, Text("123456")));
    ASSERT_TRUE(m_card->SetPin(0x01, Text("12345678")));
    for (int i = 0; i < 3; ++i) {
        VerifyOnCard("3f002f02", 0x00, "000000");
    }
    ASSERT_EQ(m_card->PinTries(0x00), 0);
    OpenContainerOf('1');

    // A blocked PIN cannot be changed; the caller is not asked again.
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_CHV_BLOCKED));
    EXPECT_EQ(Send("md@cp@01"), static_cast<DWORD>(SCARD_W_CHV_BLOCKED));
    EXPECT_EQ(m_pinentry.Starts(), 0);
    EXPECT_EQ(Send("md@cls@@"), 0u);

    m_pinentry.Queue({"12345678", "4321", "4321"});
    EXPECT_EQ(Send("md@up@01"), 0u);
    EXPECT_EQ(Send("md@cls@@"), 0u);
    const auto asked = m_pinentry.Descriptions();
    ASSERT_FALSE(asked.empty());
    EXPECT_NE(asked[0].find("Karten-PIN2"), std::string::npos) << asked[0];
    EXPECT_EQ(m_card->PinTries(0x00), 3);
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "4321"), 0);
}

TEST_F(CspPinTest, OtherValuesAreNoCommandsAndNoPinEntryProgramTouchesNoCard) {
    ASSERT_TRUE(m_card->SetPin(0x00, Text("123456")));
    OpenContainerOf('1');
    EXPECT_EQ(Send("md@cp@09"), NTE_BAD_DATA); // no such PIN
    EXPECT_EQ(Send("123456"), 0u);             // a PIN for key operations: kept, not run
    EXPECT_EQ(Send(std::string(100, '1')), NTE_BAD_DATA);
    EXPECT_EQ(m_pinentry.Starts(), 0);

    setenv("VELKORA_PINENTRY", m_dir.File("no-such-program").c_str(), 1);
    EXPECT_NE(Send("md@cp@01"), 0u);
    EXPECT_EQ(m_card->PinTries(0x00), 3);
    EXPECT_EQ(VerifyOnCard("3f002f02", 0x00, "123456"), 0);
}

} // namespace
