#pragma once

// The personalization dialog, resource 315, and its controls.
inline constexpr unsigned IDD_PERSO_TCOS30 = 315;

inline constexpr int IDC_PERSO_BACK = 1;
inline constexpr int IDC_PERSO_WRITE_MAKER_KEY = 1009;
inline constexpr int IDC_PERSO_CARD_PIN1 = 1010;
inline constexpr int IDC_PERSO_CARD_PIN2 = 1011;
inline constexpr int IDC_PERSO_SIG_PIN1 = 1012;
inline constexpr int IDC_PERSO_SIG_PIN2 = 1013;
inline constexpr int IDC_PERSO_WRITE_CERTIFICATES = 1015;
inline constexpr int IDC_PERSO_CARD_NUMBER = 1016;
inline constexpr int IDC_PERSO_KEY_STATE = 1017;
// Statics 1018 to 1021: the states of Card PIN1, Card PIN2, SigG PIN1, SigG PIN2.
inline constexpr int IDC_PERSO_PIN_STATE = 1018;
// Group boxes 1040 to 1046: card number, maker key, the four PINs, certificates.
inline constexpr int IDC_PERSO_CARD_NUMBER_GROUP = 1040;
inline constexpr int IDC_PERSO_KEY_GROUP = 1041;
inline constexpr int IDC_PERSO_PIN_GROUP = 1042;
inline constexpr int IDC_PERSO_CERTIFICATES_GROUP = 1046;
