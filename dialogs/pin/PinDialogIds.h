#pragma once

#include "dialogs/common/DialogResource.h"

// Resource numbers of the PIN prompt and the wait window.
inline constexpr unsigned IDD_CARDOS_PIN = 207;
inline constexpr unsigned IDD_WAIT = 142;

inline constexpr int IDC_PIN_GROUP = 1020;
inline constexpr int IDC_PIN_PROMPT = 1019;
inline constexpr int IDC_PIN_LABEL = 1021;
inline constexpr int IDC_PIN_EDIT = 1158;
inline constexpr int IDC_WAIT_TEXT = 1019;
