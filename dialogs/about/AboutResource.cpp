#include "dialogs/about/AboutResource.h"

namespace {

using K = DlgControlKind;

// The two links are custom controls: the dialog makes them hyperlinks.
constexpr DlgControlResource kControls[] = {
    {IDC_ABOUT_BANNER, K::Bitmap, 7, 7, 400, 46, "", 0},
    {IDC_ABOUT_PRODUCT, K::Static, 17, 68, 141, 8, "", 20},
    {IDC_ABOUT_VERSION, K::Static, 202, 69, 156, 8, "", 0, kDlgNoPrefix},
    {IDC_STATIC, K::Static, 17, 78, 143, 8, "Velkora Base CSP", 0},
    {IDC_ABOUT_CSPDLL, K::Static, 202, 79, 167, 8, "", 0, kDlgNoPrefix},
    {IDC_STATIC, K::Static, 17, 88, 50, 8, "Minidriver DLL", 0},
    {IDC_ABOUT_MINIDRIVER, K::Static, 88, 88, 88, 8, "", 0, kDlgNoPrefix},
    {IDC_ABOUT_CSPTEXT, K::Static, 201, 89, 205, 8, "", 0, kDlgNoPrefix},
    {IDC_STATIC, K::Static, 17, 98, 50, 8, "PKCS#11 DLL", 0},
    {IDC_ABOUT_PKCS11, K::Static, 88, 98, 88, 8, "", 0, kDlgNoPrefix},
    {IDC_ABOUT_LINKS, K::GroupBox, 7, 131, 198, 45, "Links", 402},
    {IDC_ABOUT_WEBLABEL, K::Static, 20, 149, 82, 8, "", 21},
    {IDC_ABOUT_WEBLINK, K::Custom, 108, 149, 90, 8, "", 0},
    {IDC_ABOUT_SUPPORTLABEL, K::Static, 20, 157, 81, 8, "Support", 405},
    {IDC_ABOUT_MAILLINK, K::Custom, 108, 157, 89, 8, "", 0},
    {IDC_ABOUT_BACK, K::PushButton, 157, 180, 88, 17, "Back", 406, kDlgDefault},
};

constexpr DlgResource kResource{IDD_ABOUTBOX, "About", 400,  "MS Shell Dlg", 8,
                                414,          209,     true, kControls};

} // namespace

const DlgResource& AboutDialogResource() {
    return kResource;
}
