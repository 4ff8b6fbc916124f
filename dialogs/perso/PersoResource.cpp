#include "dialogs/perso/PersoResource.h"

#include "dialogs/perso/PersoIds.h"

namespace {

using K = DlgControlKind;

// Resource order is tab order: Back first, then the maker key, the four PIN buttons and the
// certificates.
constexpr DlgControlResource kControls[] = {
    {IDC_PERSO_BACK, K::PushButton, 205, 172, 57, 14, "Zurück", 0, kDlgDefault},
    {IDC_PERSO_CARD_NUMBER_GROUP, K::GroupBox, 7, 4, 255, 27, "Kartennummer", 1401},
    {IDC_PERSO_CARD_NUMBER, K::Static, 14, 16, 241, 10, "1234567890123456789", 0, kDlgCentre},
    {IDC_PERSO_KEY_GROUP, K::GroupBox, 7, 34, 255, 40, "Velkora PublicKey", 1402},
    {IDC_PERSO_KEY_STATE, K::Static, 14, 45, 241, 10, "ist noch nicht auf der Karte vorhanden", 0,
     kDlgCentre},
    {IDC_PERSO_WRITE_MAKER_KEY, K::PushButton, 79, 56, 110, 14, "Velkora PublicKey schreiben", 0},
    {IDC_PERSO_PIN_GROUP, K::GroupBox, 7, 77, 126, 40, "Karten PIN1", 1403},
    {IDC_PERSO_PIN_GROUP + 1, K::GroupBox, 136, 77, 126, 40, "Karten PIN2", 1404},
    {IDC_PERSO_PIN_GROUP + 2, K::GroupBox, 7, 120, 126, 40, "SigG PIN1", 1405},
    {IDC_PERSO_PIN_GROUP + 3, K::GroupBox, 136, 120, 126, 40, "SigG PIN2", 1406},
    {IDC_PERSO_PIN_STATE, K::Static, 14, 88, 112, 10, "OK (noch 3 Versuche)", 0, kDlgCentre},
    {IDC_PERSO_PIN_STATE + 1, K::Static, 143, 88, 112, 10, "OK (noch 3 Versuche)", 0, kDlgCentre},
    {IDC_PERSO_PIN_STATE + 2, K::Static, 14, 131, 112, 10, "OK (noch 3 Versuche)", 0, kDlgCentre},
    {IDC_PERSO_PIN_STATE + 3, K::Static, 143, 131, 112, 10, "OK (noch 3 Versuche)", 0, kDlgCentre},
    {IDC_PERSO_CARD_PIN1, K::PushButton, 25, 99, 90, 14, "Karten Pin ändern", 0},
    {IDC_PERSO_CARD_PIN2, K::PushButton, 154, 99, 90, 14, "Karten PIN2 ändern", 0},
    {IDC_PERSO_SIG_PIN1, K::PushButton, 25, 142, 90, 14, "SigG Pin ändern", 0},
    {IDC_PERSO_SIG_PIN2, K::PushButton, 154, 142, 90, 14, "SigG PIN2 ändern", 0},
    {IDC_PERSO_CERTIFICATES_GROUP, K::GroupBox, 7, 163, 190, 27, "Zertifikate", 1407},
    {IDC_PERSO_WRITE_CERTIFICATES, K::PushButton, 14, 173, 120, 14, "PKS Zertifikate schreiben", 0},
};

constexpr DlgResource kResource{
    IDD_PERSO_TCOS30, "TCOS 3.0 Personalisieren", 1400, "Tahoma", 8, 269, 194, true, kControls};

} // namespace

const DlgResource& PersoTcos30Resource() {
    return kResource;
}
