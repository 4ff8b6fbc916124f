#include "dialogs/perso/DlgPersoTCOS30.h"

#include "app/catalogue/Msg.h"
#include "card/SCard.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/perso/PersoIds.h"
#include "dialogs/perso/PersoResource.h"
#include "dialogs/perso/PinStateTexts.h"
#include "dialogs/pin/WritePublicKeyWithPin.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr unsigned IDS_KEY_MISSING = 1430;
constexpr unsigned IDS_KEY_PRESENT = 1431;

// What SCard reads as the card number of a card that has none it can read.
constexpr const char* kNoCardNumber = "0000000000000000000";

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CDlgPersoTCOS30::CDlgPersoTCOS30(std::string readerName, QWidget* parent)
    : QDialog(parent), m_strReader(std::move(readerName)) {
    BuildDialog(*this, PersoTcos30Resource());
    m_makerKeyButton = DlgItem<QPushButton>(*this, IDC_PERSO_WRITE_MAKER_KEY);
    m_certificatesButton = DlgItem<QPushButton>(*this, IDC_PERSO_WRITE_CERTIFICATES);
    m_cardNumber = DlgItem<QLabel>(*this, IDC_PERSO_CARD_NUMBER);
    m_keyState = DlgItem<QLabel>(*this, IDC_PERSO_KEY_STATE);
    for (int i = 0; i < static_cast<int>(m_pinButtons.size()); ++i) {
        m_pinButtons[i] = DlgItem<QPushButton>(*this, IDC_PERSO_CARD_PIN1 + i);
        m_pinStates[i] = DlgItem<QLabel>(*this, IDC_PERSO_PIN_STATE + i);
    }

    connect(DlgItem<QPushButton>(*this, IDC_PERSO_BACK), &QPushButton::clicked, this,
            &QDialog::accept);
    connect(m_makerKeyButton, &QPushButton::clicked, this, &CDlgPersoTCOS30::OnWriteMakerKey);
    connect(m_pinButtons[0], &QPushButton::clicked, this, &CDlgPersoTCOS30::OnCardPin1);
    connect(m_pinButtons[1], &QPushButton::clicked, this, &CDlgPersoTCOS30::OnCardPin2);
    connect(m_pinButtons[2], &QPushButton::clicked, this, &CDlgPersoTCOS30::OnSigPin1);
    connect(m_pinButtons[3], &QPushButton::clicked, this, &CDlgPersoTCOS30::OnSigPin2);
    connect(m_certificatesButton, &QPushButton::clicked, this,
            &CDlgPersoTCOS30::PersonalizeFromP7M);
}

CDlgPersoTCOS30::~CDlgPersoTCOS30() = default;

int CDlgPersoTCOS30::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CDlgPersoTCOS30::OnInitDialog() {
    RefreshCardState();
    UpdateControls();
}

void CDlgPersoTCOS30::SetDialogTexts() {
    SetCatalogueTexts(*this, PersoTcos30Resource());
    // Card PIN1 and SigG PIN1 show the same state texts and captions: a screen reader tells
    // them apart by the frame each sits in.
    const auto frameTitle = [this](int id) { return DlgItem<QGroupBox>(*this, id)->title(); };
    m_cardNumber->setAccessibleDescription(frameTitle(IDC_PERSO_CARD_NUMBER_GROUP));
    m_keyState->setAccessibleDescription(frameTitle(IDC_PERSO_KEY_GROUP));
    m_makerKeyButton->setAccessibleDescription(frameTitle(IDC_PERSO_KEY_GROUP));
    m_certificatesButton->setAccessibleDescription(frameTitle(IDC_PERSO_CERTIFICATES_GROUP));
    for (int i = 0; i < static_cast<int>(m_pinButtons.size()); ++i) {
        const QString pin = frameTitle(IDC_PERSO_PIN_GROUP + i);
        m_pinButtons[i]->setAccessibleDescription(pin);
        m_pinStates[i]->setAccessibleDescription(pin);
    }
}

void CDlgPersoTCOS30::RefreshCardState() {
    SCard card(m_strReader);
    m_strCardNumber = card.ReadCardNumber();
    SetDialogTexts();
    // A card without a readable T-COS number is no card to read PIN states from: what the dialog
    // shows stays as it was.
    if (QString::fromStdString(m_strCardNumber).compare(kNoCardNumber, Qt::CaseInsensitive) == 0) {
        return;
    }
    m_strKeyState = CMsg::Get(card.HasMakerKey() ? IDS_KEY_PRESENT : IDS_KEY_MISSING);
    const std::array<PinResult, 4> status = {card.CardPin1Status(), card.CardPin2Status(),
                                             card.SigPin1Status(), card.SigPin2Status()};
    for (int i = 0; i < static_cast<int>(status.size()); ++i) {
        m_strPinState[i] = PinStateText(i, status[i]);
    }
    for (int i = 0; i < static_cast<int>(status.size()); ++i) {
        m_pinButtons[i]->setText(QString::fromUtf8(PinButtonCaption(i, status[i])));
    }
}

void CDlgPersoTCOS30::UpdateControls() {
    m_cardNumber->setText(Text(m_strCardNumber));
    m_keyState->setText(Text(m_strKeyState));
    for (int i = 0; i < static_cast<int>(m_pinStates.size()); ++i) {
        m_pinStates[i]->setText(Text(m_strPinState[i]));
    }
}

void CDlgPersoTCOS30::OnWriteMakerKey() {
    WritePublicKeyWithPin(m_strReader);
    // The write tells its outcome in its own box; the key state would otherwise go on saying
    // the key is missing, and a refused PIN has cost a try the Card PIN1 state has to show.
    RefreshCardState();
    UpdateControls();
}

void CDlgPersoTCOS30::OnCardPin1() {
    RunPinOperation(0);
}

void CDlgPersoTCOS30::OnCardPin2() {
    RunPinOperation(1);
}

void CDlgPersoTCOS30::OnSigPin1() {
    RunPinOperation(2);
}

void CDlgPersoTCOS30::OnSigPin2() {
    RunPinOperation(3);
}
