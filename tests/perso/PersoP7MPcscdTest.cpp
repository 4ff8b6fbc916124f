// The personalization dialog through the real stack (libpcsclite, a private pcscd, a vpcd reader
// and the virtual card process) with a delivered T-COS 3.0 card, its authentication certificate
// registered in "MY" and its Card PIN1 no longer the NULL-PIN: the PIN buttons on a PIN the card
// blocks, and the P7M from the trust center opened on the card after the PIN entry program's
// answer, with the dialog's boxes and the card's certificate files looked at afterwards.

#include "app/catalogue/Msg.h"
#include "card/SCard.h"
#include "dialogs/perso/DeliveryCipher.h"
#include "dialogs/perso/DeliveryWalk.h"
#include "dialogs/perso/DlgPersoTCOS30.h"
#include "dialogs/perso/PersoIds.h"
#include "tests/dialogs/PersoAnswers.h"
#include "tests/dialogs/PromptAnswers.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/monitor/DeliveredCard.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/support/RecordLines.h"
#include "tests/support/VirtualPcscd.h"
#include "vcard/CardImage.h"
#include "vcard/CardPath.h"
#include "vcard/CertIssuance.h"
#include "vcard/Delivery.h"
#include "vcard/FreshCard.h"
#include "vcard/Profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kTelePassword = "Tele1234";
constexpr const char* kCardPin = "123456";
constexpr const char* kCertFiles[] = {"3f00df01c000", "3f00df02c000", "3f00df02c200",
                                      "3f00df02c500"};

// Everything the cases share: one pcscd, one delivered card, one registration.
struct World {
    montest::MonitorEnv env{VELK_CSP_MODULE};
    velktest::VirtualPcscd pcscd{1};
    mdtest::TempDir pinDir;
    mdtest::ScriptedPinEntry pinentry{pinDir};
    std::string reader;
    std::string image;
};

Bytes ImageFile(const vcard::CardState& card, const char* path) {
    const vcard::CardFile* file = card.files.Find(*vcard::ParseCardPath(path));
    return file != nullptr ? file->content : Bytes();
}

class PersoP7MPcscdTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_world = std::make_unique<World>();
        World& w = *s_world;
        ASSERT_TRUE(w.pcscd.Ok());
        w.reader = w.pcscd.ReaderName(0);
        w.image = w.env.Path("card.img");
        ASSERT_TRUE(w.pcscd.InsertCard(0, "tcos30-blank", w.image));
        montest::RegisterReaderCertificates(w.reader);
        ASSERT_EQ(montest::MonitorEnv::Store("MY").size(), 1u);
        ASSERT_TRUE(montest::BreakCardPin1NullPin(w.reader, kCardPin));
    }
    static void TearDownTestSuite() { s_world.reset(); }

    void SetUp() override {
        ASSERT_NE(s_world, nullptr);
        CMsg::SetLanguage(0);
        m_log = m_dir.File("boxes.log");
        ::setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
        ::setenv("VELKORA_RESTART_DRY_RUN", "1", 1);
    }
    void TearDown() override {
        ::unsetenv("VELKORA_MSGBOX_LOG");
        ::unsetenv("VELKORA_RESTART_DRY_RUN");
        ::unsetenv("VELKORA_OPENFILE_ANSWER");
    }

    static vcard::CardState Card() {
        auto card = vcard::LoadImage(s_world->image);
        EXPECT_TRUE(card.has_value());
        return card ? std::move(*card) : vcard::CardState{};
    }
    static std::vector<Bytes> CertFiles() {
        const vcard::CardState card = Card();
        std::vector<Bytes> files;
        for (const char* path : kCertFiles) {
            files.push_back(ImageFile(card, path));
        }
        return files;
    }
    // The trust center's certificates for the card's SigG, signature and encoding keys.
    static std::vector<Bytes> Issued() {
        const auto tc = vcard::TrustCenterFor(s_world->image);
        const auto certs = tc ? vcard::IssueDeliveryCertificates(Card(), *tc) : std::nullopt;
        EXPECT_TRUE(certs.has_value());
        return certs.value_or(std::vector<Bytes>{});
    }
    static Bytes P7M(const std::vector<Bytes>& certificates) {
        const auto p7m = vcard::MakeDeliveryP7M(Card(), certificates, kTelePassword);
        EXPECT_TRUE(p7m.has_value());
        return p7m.value_or(Bytes{});
    }
    std::string Save(const Bytes& bytes, const std::string& name) {
        const std::string path = m_dir.File(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return path;
    }

    std::string LastBox() const {
        const auto boxes = dlgtest::Boxes(m_log);
        return boxes.empty() ? std::string() : dlgtest::BoxText(boxes.back());
    }

    // Runs the certificate button with these answers; the boxes as "icon|caption|text", and in
    // m_restarted whether a restart was launched.
    std::vector<std::string> Personalize(const char* telePassword, const std::string& file) {
        std::ofstream(m_log, std::ios::trunc).close();
        ::setenv("VELKORA_OPENFILE_ANSWER", file.c_str(), 1);
        dlgtest::AnswerPrompts({telePassword});
        CDlgPersoTCOS30 dialog(s_world->reader);
        dialog.PersonalizeFromP7M();
        std::vector<std::string> boxes;
        for (std::string box : velktest::RecordLines(m_log, "msgbox\t")) {
            box = box.substr(7, box.rfind('\t') - 7); // icon, caption, text; not the answer
            std::replace(box.begin(), box.end(), '\t', '|');
            boxes.push_back(box);
        }
        m_restarted = !velktest::RecordLines(m_log, "event\trestart-launch").empty();
        EXPECT_EQ(m_restarted, dialog.m_bRestartStarted);
        return boxes;
    }

    static inline std::unique_ptr<World> s_world;
    mdtest::TempDir m_dir;
    std::string m_log;
    bool m_restarted = false;
};

using Boxes = std::vector<std::string>;
const std::string kAborted = "warning|Personalisierung|Personalisierung abgebrochen.";
const std::string kNotForCard = "warning|Personalization|Personalization failed. P7M-file does "
                                "not belong to the card.";

TEST_F(PersoP7MPcscdTest, BadInputEndsWithItsMessageAndWritesNothing) {
    const std::vector<Bytes> before = CertFiles();
    const auto auth = vcard::CardAuthenticationCertificate(Card());
    ASSERT_TRUE(auth.has_value());
    const auto delivery =
        vcard::EncryptDelivery(vcard::BuildCertsOnlySignedData(Issued()), kTelePassword);
    ASSERT_TRUE(delivery.has_value());
    const auto good = vcard::EnvelopForRecipient(*auth, *delivery);
    ASSERT_TRUE(good.has_value());
    const std::string goodPath = Save(*good, "good.p7m");
    // One wrong password in 256 gives a plaintext that starts like a SEQUENCE; take one that
    // does not.
    const auto ciphertext = LocateDeliveryCiphertext(*delivery);
    const char* const candidates[] = {"Falsch99", "Anders77", "Fremd555"};
    const char* const* wrong =
        std::find_if(std::begin(candidates), std::end(candidates), [&](auto c) {
            std::array<uint8_t, kTelePasswordKeySize> key{};
            velk::SecureBuffer plaintext(DeliveryPlaintextSize(ciphertext.size()));
            return TelePasswordKey(c, key) && DecryptDelivery(ciphertext, key, plaintext) &&
                   !BeginsWithSequence(plaintext.Bytes());
        });
    ASSERT_NE(wrong, std::end(candidates));

    EXPECT_EQ(Personalize("", goodPath), Boxes{kAborted});
    EXPECT_EQ(Personalize(kTelePassword, "cancel"), Boxes{kAborted});
    EXPECT_EQ(Personalize(kTelePassword, ""),
              Boxes{"warning|Personalisierung|Personalisierung abgebrochen"});
    EXPECT_EQ(Personalize(kTelePassword, m_dir.File("missing.p7m")), Boxes{});

    // Garbage, a truncated P7M and one made for another card's certificate fail before the
    // card is asked.
    EXPECT_EQ(Personalize(kTelePassword, Save(Bytes(300, 0xA5), "garbage.p7m")),
              Boxes{kNotForCard});
    const Bytes half(good->begin(), good->begin() + static_cast<long>(good->size() / 2));
    EXPECT_EQ(Personalize(kTelePassword, Save(half, "half.p7m")), Boxes{kNotForCard});
    const auto profile = vcard::FindProfile("tcos30-blank");
    auto other = vcard::BuildFreshCard(*profile);
    ASSERT_TRUE(other && vcard::IssueCardCertificates(*profile, *other,
                                                      *vcard::TrustCenterFor(s_world->image)));
    const auto foreign = vcard::MakeDeliveryP7M(*other, Issued(), kTelePassword);
    ASSERT_TRUE(foreign.has_value());
    EXPECT_EQ(Personalize(kTelePassword, Save(*foreign, "foreign.p7m")), Boxes{kNotForCard});
    EXPECT_EQ(s_world->pinentry.Starts(), 0);

    // The card opens these two: the certificates without their tele-password encryption, and
    // the right delivery under a wrong tele-password.
    const auto bare = vcard::EnvelopForRecipient(*auth, vcard::BuildCertsOnlySignedData(Issued()));
    ASSERT_TRUE(bare.has_value());
    s_world->pinentry.Queue({kCardPin, kCardPin});
    EXPECT_EQ(Personalize(kTelePassword, Save(*bare, "bare.p7m")),
              Boxes{"warning|Personalisierung|Personalisierung abgebrochen, P7M-Datei passt "
                    "nicht zu Ihre Karte"});
    // (A password that differs only in the low bits of its characters would be the same key:
    // DES ignores them.)
    EXPECT_EQ(Personalize(*wrong, goodPath),
              Boxes{"warning|Personalisierung|Personalisierung abgebrochen. Das Telepasswort ist "
                    "scheinbar falsch."});
    EXPECT_FALSE(m_restarted);
    EXPECT_EQ(s_world->pinentry.Starts(), 2);
    EXPECT_EQ(CertFiles(), before);
}

TEST_F(PersoP7MPcscdTest, MatchingCertificatesAreWrittenAndReadBackAndTheProgramRestarts) {
    const vcard::CardState card = Card();
    const std::vector<Bytes> issued = Issued();
    ASSERT_EQ(issued.size(), 3u);
    const std::vector<Bytes> before = CertFiles();
    // A certificate whose key is on no card: the trust center's issuing authority's.
    const auto tc = vcard::TrustCenterFor(s_world->image);
    ASSERT_TRUE(tc != nullptr);
    const Bytes stranger = tc->IssuingCertificate();

    // No certificate for a key of the card: an empty report, and the restart all the same.
    s_world->pinentry.Queue({kCardPin});
    EXPECT_EQ(Personalize(kTelePassword, Save(P7M({stranger}), "none.p7m")),
              Boxes{"none|Personalization|"});
    EXPECT_TRUE(m_restarted);
    EXPECT_EQ(CertFiles(), before);

    // Only the SigG certificate, behind a stranger's: only its file, zero-filled to 4096.
    s_world->pinentry.Queue({kCardPin});
    EXPECT_EQ(Personalize(kTelePassword, Save(P7M({stranger, issued[0]}), "sigg.p7m")),
              Boxes{"none|Personalization|SigG Certificate successfully written.\\r\\n"});
    EXPECT_TRUE(m_restarted);
    std::vector<Bytes> expected = before;
    expected[0] = issued[0];
    expected[0].resize(4096, 0x00);
    EXPECT_EQ(CertFiles(), expected);

    // An encoding certificate too large for its file is refused; the others are written.
    vcard::CertRequest request;
    request.kind = vcard::CertKind::Encryption;
    request.commonName = "Encoding";
    request.fillerBytes = 2100;
    const Bytes oversized =
        vcard::IssueSlotCertificate(card, *vcard::SlotOfKeyFile("3f00df0245b1"), request, *tc)
            .value_or(Bytes{});
    ASSERT_GT(oversized.size(), 2048u);
    s_world->pinentry.Queue({kCardPin});
    EXPECT_EQ(Personalize(kTelePassword,
                          Save(P7M({issued[2], issued[1], issued[0], oversized}), "big.p7m")),
              Boxes{"warning|Personalization|SigG Certificate successfully written.\\r\\n"
                    "Signature Certificate successfully written.\\r\\nError while writing "
                    "Encoding certificate.\\r\\n"});
    EXPECT_TRUE(m_restarted);
    expected[1] = issued[1];
    expected[1].resize(2048, 0x00);
    EXPECT_EQ(CertFiles(), expected);
}

TEST_F(PersoP7MPcscdTest, ACardPulledDuringTheWriteGivesFailureTextsAndNoCrash) {
    const std::vector<Bytes> issued = Issued();
    const Bytes p7m = P7M({issued[0], issued[1]});
    const std::string path = Save(p7m, "pulled.p7m");
    const vcard::CardState before = Card();
    const Bytes sigBefore = ImageFile(before, "3f00df02c000");
    // Pull the card as soon as the first piece of the SigG file changed.
    std::atomic<bool> done{false};
    std::thread puller([&] {
        const Bytes sigg = ImageFile(before, "3f00df01c000");
        while (!done) {
            const auto now = vcard::LoadImage(s_world->image);
            if (now && ImageFile(*now, "3f00df01c000") != sigg) {
                s_world->pcscd.RemoveCard(0);
                return;
            }
            std::this_thread::yield();
        }
    });
    s_world->pinentry.Queue({kCardPin});
    const Boxes boxes = Personalize(kTelePassword, path);
    done = true;
    puller.join();
    EXPECT_EQ(boxes, Boxes{"warning|Personalization|Error while writing SigG certificate.\\r\\n"
                           "Error while writing Signature certificate.\\r\\n"});
    EXPECT_TRUE(m_restarted);
    const vcard::CardState after = Card();
    EXPECT_EQ(ImageFile(after, "3f00df02c000"), sigBefore);
    EXPECT_EQ(ImageFile(after, "3f00df02c500"), ImageFile(before, "3f00df02c500"));
}

// Three wrong old PINs: the card blocks Card PIN1 and answers its state query as a blocked
// authentication method; PIN2 unblocks it. Then the maker's key, shown at once as there.
TEST_F(PersoP7MPcscdTest, ABlockedPinIsUnblockedWithPin2AndTheMakersKeyIsWritten) {
    using namespace dlgtest;
    const std::string& reader = s_world->reader;
    CDlgPersoTCOS30 dialog(reader);
    dialog.OnInitDialog();
    AnswerPrompts({kCardPin, "87654321", "87654321"});
    dialog.OnCardPin2();
    EXPECT_EQ(LastBox(), "PIN2 Entsperren erfolgreich");
    EXPECT_EQ(States(dialog),
              "OK (3 retries left)|OK (3 retries left)|NULL-PIN|SigG PIN2 not set yet");

    for (const char* left : {"OK (2 retries left)", "OK (1 retries left)", "PIN1 blocked"}) {
        AnswerPrompts({"999999", "111111", "111111"});
        dialog.OnCardPin1();
        EXPECT_EQ(LastBox(), "PIN1 Änderung fehlgeschlagen");
        EXPECT_EQ(ItemText(dialog, IDC_PERSO_PIN_STATE), left);
    }
    EXPECT_EQ(SCard(reader).CardPin1Status(), scard::kPinMethodBlocked);
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_CARD_PIN1), "PIN entsperren");

    std::vector<std::string> groups;
    AnswerPrompts({"87654321", kCardPin, kCardPin}, &groups);
    dialog.OnCardPin1();
    EXPECT_EQ(groups, (std::vector<std::string>{"PIN2", "neue PIN1", "neue PIN1"}));
    EXPECT_EQ(LastBox(), "PIN1 Entsperren erfolgreich");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_PIN_STATE), "OK (3 retries left)");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_CARD_PIN1), "PIN ändern");

    AnswerPrompts({kCardPin});
    dialog.OnWriteMakerKey();
    EXPECT_EQ(LastBox(), "Velkora Publickey successfully written.");
    EXPECT_TRUE(SCard(reader).HasMakerKey());
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_KEY_STATE), "is already available on the card");
}

} // namespace
