#pragma once

// Resource numbers of the program: icons, the frame and its tray menu.

// Main icon of the program and resting tray icon while certificates are registered.
inline constexpr unsigned IDR_MAINFRAME = 128;
// Frame and tray menu; also the tray icon's id.
inline constexpr unsigned IDR_TRAYMENU = 130;
// Resting tray icon while no certificate is registered.
inline constexpr unsigned IDI_NOCERT = 314;
// The eight frames of the busy animation, shown in this order.
inline constexpr unsigned IDI_ANIM_FIRST = 301;
inline constexpr unsigned IDI_ANIM_LAST = 308;
inline constexpr unsigned kAnimationFrames = IDI_ANIM_LAST - IDI_ANIM_FIRST + 1;

// Commands of the tray menu.
inline constexpr int ID_APP_UPDATE = 32775;
inline constexpr int ID_APP_SHOWCERTS = 32783;
inline constexpr int ID_APP_CONFIG = 32786;
inline constexpr int ID_APP_RESTART = 32787;
inline constexpr int ID_APP_ABOUT = 32774;
inline constexpr int ID_APP_EXIT = 32773;
