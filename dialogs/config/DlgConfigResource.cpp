#include "dialogs/config/DlgConfigResource.h"

namespace {

using K = DlgControlKind;

// In tab order: the settings, the logging, the buttons. The LSK box is hidden but still
// carries its setting.
constexpr DlgControlResource kControls[] = {
    {IDC_CFG_SETTINGS_GROUP, K::GroupBox, 7, 5, 181, 86, "Settings", 801},
    {IDC_CFG_LANGUAGE_LABEL, K::Static, 14, 19, 60, 8, "Language", 803},
    {IDC_CFG_LANGUAGE, K::ComboBox, 80, 16, 100, 13, "", 0},
    {IDC_CFG_HIDEUNUSED, K::CheckBox, 14, 34, 168, 10, "Hide unused certificates", 804},
    {IDC_CFG_KEYBOARDPIN, K::CheckBox, 14, 47, 168, 10, "Use computer keyboard", 806},
    {IDC_CFG_BALLOONINFO, K::CheckBox, 14, 60, 168, 10, "Show icontray infos", 809},
    {IDC_CFG_PINPAD, K::CheckBox, 14, 73, 168, 10, "Use pinpad dialog ", 810},
    {IDC_CFG_LOGGING_GROUP, K::GroupBox, 7, 95, 181, 56, "Logging", 802},
    {IDC_CFG_LOGGING, K::CheckBox, 14, 108, 90, 10, "Logging aktive", 807},
    {IDC_STATIC, K::Static, 112, 109, 22, 8, "Level", 0},
    {IDC_CFG_LEVEL, K::ComboBox, 136, 106, 44, 13, "", 0, kDlgSorted},
    {IDC_CFG_LOGFILE_LABEL, K::Static, 14, 123, 60, 8, "Logfile", 808},
    {IDC_CFG_LOGFILE, K::Edit, 14, 133, 166, 12, "", 0, kDlgBorder},
    {IDC_CFG_LSK, K::CheckBox, 14, 155, 100, 10, "Use TCOS 3.0 LSK-Profile", 805, kDlgHidden},
    {IDC_CFG_OK, K::PushButton, 84, 155, 50, 14, "OK", 10, kDlgDefault},
    {IDC_CFG_CANCEL, K::PushButton, 138, 155, 50, 14, "Abbrechen", 11},
};

constexpr DlgResource kResource{IDD_CONFIG, "Configuration", 800, "MS Shell Dlg", 8, 195, 175,
                                true,       kControls};

} // namespace

const DlgResource& ConfigDialogResource() {
    return kResource;
}
