#pragma once

#include <QDialog>

#include <array>
#include <string>

class QLabel;
class QPushButton;

// The personalization of a TCOS 3.0 signature card in one reader: its card number, whether the
// maker's public key is on it, the state of its four PINs with one button each (change,
// unblock with the partner PIN, or break the NULL-PIN), the maker's key, and the user's
// certificates that the trust center delivers as a P7M file. A button's caption is the only
// carrier of its mode: RefreshCardState writes it and the button's operation reads it back.
class CDlgPersoTCOS30 : public QDialog {
    Q_OBJECT
public:
    explicit CDlgPersoTCOS30(std::string readerName, QWidget* parent = nullptr);
    ~CDlgPersoTCOS30() override;

    // Initializes the dialog and runs it modally: IDOK (Back) or IDCANCEL.
    int DoModal();
    // The dialog's initialization; DoModal runs it (tests that show the dialog without a modal
    // loop call it themselves).
    void OnInitDialog();

    void SetDialogTexts();
    // Reads the card number, the maker key's presence and the four PIN states into the member
    // texts and the button captions; UpdateControls then shows the texts.
    void RefreshCardState();
    // The member texts into their statics.
    void UpdateControls();

    // The command handlers: 1009, 1010 to 1013, 1015.
    void OnWriteMakerKey();
    void OnCardPin1();
    void OnCardPin2();
    void OnSigPin1();
    void OnSigPin2();
    void PersonalizeFromP7M();

    std::string m_strReader;
    std::string m_strCardNumber; // static 1016
    std::string m_strKeyState;   // static 1017
    // Statics 1018 to 1021: Card PIN1, Card PIN2, SigG PIN1, SigG PIN2.
    std::array<std::string, 4> m_strPinState;
    // A personalization from a P7M file has launched a restarted instance of the program.
    bool m_bRestartStarted = false;

private:
    // The operation of PIN button `index` (0 Card PIN1 ... 3 SigG PIN2).
    void RunPinOperation(int index);

    std::array<QPushButton*, 4> m_pinButtons{};
    QPushButton* m_makerKeyButton = nullptr;
    QPushButton* m_certificatesButton = nullptr;
    QLabel* m_cardNumber = nullptr;
    QLabel* m_keyState = nullptr;
    std::array<QLabel*, 4> m_pinStates{};
};
