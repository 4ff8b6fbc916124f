#pragma once

#include "dialogs/common/DialogResource.h"

// The certificates dialog, resource 309, and its controls.
inline constexpr unsigned IDD_CERTPAGE = 309;

inline constexpr int IDC_CERT_GROUP = 1022;
inline constexpr int IDC_CERT_LIST = 1004;
inline constexpr int IDC_CERT_SHOW = 1003;
inline constexpr int IDC_CERT_CHANGEPIN = 1005;
inline constexpr int IDC_CERT_CHANGEPIN2 = 1009;
inline constexpr int IDC_CERT_UNBLOCKPIN = 1008;
inline constexpr int IDC_CERT_UNBLOCKPIN2 = 1010;
inline constexpr int IDC_CERT_TMP = 1007;
inline constexpr int IDC_CERT_PERSONALIZE = 1011;
inline constexpr int IDC_CERT_BACK = IDOK;
