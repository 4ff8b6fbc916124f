#pragma once

#include "dialogs/common/DialogResource.h"

// Dialog resource 317, the configuration dialog.
inline constexpr unsigned IDD_CONFIG = 317;

inline constexpr int IDC_CFG_LANGUAGE = 1026;
inline constexpr int IDC_CFG_HIDEUNUSED = 1027;
inline constexpr int IDC_CFG_LSK = 1028;
inline constexpr int IDC_CFG_KEYBOARDPIN = 1029;
inline constexpr int IDC_CFG_LOGGING = 1030;
inline constexpr int IDC_CFG_LOGFILE = 1031;
inline constexpr int IDC_CFG_SETTINGS_GROUP = 1032;
inline constexpr int IDC_CFG_LOGGING_GROUP = 1033;
inline constexpr int IDC_CFG_LANGUAGE_LABEL = 1034;
inline constexpr int IDC_CFG_LOGFILE_LABEL = 1035;
inline constexpr int IDC_CFG_BALLOONINFO = 1036;
inline constexpr int IDC_CFG_LEVEL = 1037;
inline constexpr int IDC_CFG_PINPAD = 1038;
inline constexpr int IDC_CFG_OK = IDOK;
inline constexpr int IDC_CFG_CANCEL = IDCANCEL;

const DlgResource& ConfigDialogResource();
