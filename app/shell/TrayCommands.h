#pragma once

#include "res/Resource.h"

// The tray menu is menu resource 130 (res/MenuResource.h); its command ids are in Resource.h.

// The entry run by a double click on the tray icon: "Show Certificates", by position.
inline constexpr unsigned kDefaultMenuPosition = 1;

// The tray icon's callback message (WM_APP + 10), kept with the icon's record.
inline constexpr unsigned kTrayCallbackMessage = 0x800A;

// Catalogue ids used by the main window.
inline constexpr unsigned IDS_APP_TITLE = 20;
