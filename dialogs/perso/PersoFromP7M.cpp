#include "app/catalogue/Msg.h"
#include "app/shell/Restart.h"
#include "card/SCard.h"
#include "dialogs/perso/DecryptP7M.h"
#include "dialogs/perso/DeliveryCipher.h"
#include "dialogs/perso/DeliveryWalk.h"
#include "dialogs/perso/DlgPersoTCOS30.h"
#include "dialogs/perso/P7MPersonalization.h"
#include "dialogs/pin/CardOSPINDialog.h"
#include "dialogs/pin/DlgWait.h"
#include "dialogs/pin/PinDialogIds.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/OpenFileDialog.h"

#include <QCoreApplication>
#include <QFile>

#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr unsigned IDS_PERSONALIZATION = 504;
constexpr unsigned IDS_P7M_NOT_FOR_CARD = 515;

constexpr const char* kCaption = "Personalisierung";
constexpr const char* kCancelled = "Personalisierung abgebrochen.";
constexpr const char* kEmptyPath = "Personalisierung abgebrochen";
constexpr const char* kNotForCard =
    "Personalisierung abgebrochen, P7M-Datei passt nicht zu Ihre Karte";
constexpr const char* kWrongTelePassword =
    "Personalisierung abgebrochen. Das Telepasswort ist scheinbar falsch.";

constexpr const char* kTeleGroup = "Telepasswort";
constexpr const char* kTelePrompt =
    "Die Zertifike müssen vor dem Schreiben auf die Karte entschlüsselt werden. Bitte geben Sie "
    "dazu Ihr Telepasswort ein. Danach geben Sie bitte die p7m Datei an, die Sie vom "
    "Trustcenter erhalten haben.";
constexpr const char* kTeleLabel = "Telepasswort";

constexpr const char* kFilter = "P7M-Datei (*.p7m)|*.p7m||";
constexpr const char* kExtension = "p7m";
constexpr const char* kWaitText = "Bitte Warten.\r\nZertifikate werden auf die Karte geschrieben.";

void Warn(const char* text) {
    ShowMessageBox(text, kCaption, MsgIcon::Warning);
}

void PumpPendingEvents() {
    QCoreApplication::processEvents();
}

// The wait window while the certificates are decrypted and written: shown and painted at
// once, hidden and destroyed on every way out.
class WaitWindow {
public:
    WaitWindow() : m_window(std::make_unique<CDlgWait>(kWaitText)) {
        m_window->Create();
        PumpPendingEvents();
    }
    ~WaitWindow() { Close(); }
    WaitWindow(const WaitWindow&) = delete;
    WaitWindow& operator=(const WaitWindow&) = delete;

    void Close() {
        if (m_window) {
            m_window->hide();
            PumpPendingEvents();
            m_window.reset();
        }
    }

private:
    std::unique_ptr<CDlgWait> m_window;
};

std::optional<std::vector<uint8_t>> ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The texts of the report in table order, and whether any write failed.
std::string Report(const SlotWrites& writes, bool& failed) {
    std::string report;
    failed = false;
    for (std::size_t slot = 0; slot < kCertificateSlots.size(); ++slot) {
        if (writes[slot] == SlotWrite::Written) {
            report += CMsg::Get(kCertificateSlots[slot].successText);
        } else if (writes[slot] == SlotWrite::Failed) {
            report += CMsg::Get(kCertificateSlots[slot].failureText);
            failed = true;
        }
    }
    return report;
}

} // namespace

void CDlgPersoTCOS30::PersonalizeFromP7M() {
    // The Triple-DES key lives in wiped memory from the prompt on.
    velk::SecureBuffer key(kTelePasswordKeySize);
    {
        const auto prompt = std::make_unique<CCardOSPINDialog>(kTeleGroup, kTelePrompt, kTeleLabel);
        if (prompt->DoModal() != IDOK) {
            Warn(kCancelled);
            return;
        }
        if (!key.Ok() ||
            !TelePasswordKey(prompt->m_strPin, std::span<uint8_t, kTelePasswordKeySize>(
                                                   key.Data(), kTelePasswordKeySize))) {
            return;
        }
    } // the prompt wipes the tele-password with itself

    const FileChoice choice = ChooseFileToOpen(QString::fromUtf8(kFilter), kExtension);
    if (!choice.chosen) {
        Warn(kCancelled);
        return;
    }
    if (choice.path.isEmpty()) {
        Warn(kEmptyPath);
        return;
    }
    const auto file = ReadWholeFile(choice.path);
    if (!file) {
        return;
    }

    const std::unique_ptr<velk::SecureBuffer> content = DecryptP7M(*file);
    if (!content) {
        ShowMessageBox(CMsg::Get(IDS_P7M_NOT_FOR_CARD), CMsg::Get(IDS_PERSONALIZATION),
                       MsgIcon::Warning);
        return;
    }
    const auto ciphertext = LocateDeliveryCiphertext(content->Bytes());
    if (!BeginsWithSequence(content->Bytes()) || ciphertext.empty()) {
        Warn(kNotForCard);
        return;
    }

    WaitWindow wait;
    velk::SecureBuffer plaintext(DeliveryPlaintextSize(ciphertext.size()));
    const std::span<const uint8_t, kTelePasswordKeySize> desKey(key.Data(), kTelePasswordKeySize);
    const bool decrypted = DecryptDelivery(ciphertext, desKey, plaintext);
    key.Wipe();
    if (!decrypted || !BeginsWithSequence(plaintext.Bytes())) {
        wait.Close();
        Warn(kWrongTelePassword);
        return;
    }

    SlotWrites writes{};
    {
        SCard card(m_strReader);
        const SlotCertificates matched = MatchCardCertificates(card, plaintext.Bytes());
        writes = WriteCardCertificates(card, plaintext.Bytes(), matched);
    }
    plaintext.Wipe();
    wait.Close();

    bool failed = false;
    const std::string report = Report(writes, failed);
    ShowMessageBox(report.c_str(), CMsg::Get(IDS_PERSONALIZATION),
                   failed ? MsgIcon::Warning : MsgIcon::None);

    if (LaunchRestart()) {
        m_bRestartStarted = true;
        reject();
    }
}
