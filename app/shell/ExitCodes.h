#pragma once

// Exit codes of velkora-certmgr (also listed by --help and in the README).
enum ExitCode : int {
    kExitNormal = 0,         // ran and ended (Quit, "stop" request, restart hand-over)
    kExitSecondInstance = 2, // refused: another instance runs in this session
    kExitStopStart = 3,      // a "stop" start: the instance was told to quit, or none runs
    kExitWindowFailed = 4,   // the main window or its tray icon could not be created
    kExitBadSettings = 5,    // a settings hive file is damaged or not a hive
    kExitLockUnusable = 6,   // the lock files belong to another user or are open to others
    kExitNoSessionBus = 7,   // "stop" found an instance but no session bus to reach it
};
