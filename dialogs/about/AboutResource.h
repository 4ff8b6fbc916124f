#pragma once

#include "dialogs/common/DialogResource.h"

// Dialog resource 132, the About dialog, and its banner, bitmap resource 133.
inline constexpr unsigned IDD_ABOUTBOX = 132;
inline constexpr unsigned IDB_BANNER = 133;

inline constexpr int IDC_ABOUT_MINIDRIVER = 1002;
inline constexpr int IDC_ABOUT_PKCS11 = 1003;
inline constexpr int IDC_ABOUT_VERSION = 1004;
inline constexpr int IDC_ABOUT_CSPTEXT = 1011;
inline constexpr int IDC_ABOUT_CSPDLL = 1012;
inline constexpr int IDC_ABOUT_LINKS = 1023;
inline constexpr int IDC_ABOUT_WEBLABEL = 1025;
inline constexpr int IDC_ABOUT_BANNER = 1038;
inline constexpr int IDC_ABOUT_PRODUCT = 1039;
inline constexpr int IDC_ABOUT_WEBLINK = 1054;
inline constexpr int IDC_ABOUT_MAILLINK = 1055;
inline constexpr int IDC_ABOUT_SUPPORTLABEL = 1056;
inline constexpr int IDC_ABOUT_BACK = IDOK;

const DlgResource& AboutDialogResource();
