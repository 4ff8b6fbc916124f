#pragma once

// Commands of the tray menu (menu resource 130) and their catalogue texts, in menu order.
inline constexpr int ID_APP_UPDATE = 32775;
inline constexpr int ID_APP_SHOWCERTS = 32783;
inline constexpr int ID_APP_CONFIG = 32786;
inline constexpr int ID_APP_RESTART = 32787;
inline constexpr int ID_APP_ABOUT = 32774;
inline constexpr int ID_APP_EXIT = 32773;

struct TrayCommand {
    int id;        // 0: separator
    unsigned text; // catalogue id
};

inline constexpr TrayCommand kTrayMenu[] = {
    {ID_APP_UPDATE, 203},  {ID_APP_SHOWCERTS, 202}, {ID_APP_CONFIG, 204},
    {ID_APP_RESTART, 205}, {ID_APP_ABOUT, 201},     {0, 0},
    {ID_APP_EXIT, 200},
};

// The entry run by a double click on the tray icon: "Show Certificates", by position.
inline constexpr int kDefaultMenuPosition = 1;

// Catalogue ids used by the main window.
inline constexpr unsigned IDS_APP_TITLE = 20;
