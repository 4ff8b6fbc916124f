#pragma once

// Exit codes of velkora-certmgr (also listed by --help and in the README).
enum ExitCode : int {
    kExitNormal = 0,         // ran and ended (Quit, "stop" request, restart hand-over)
    kExitSecondInstance = 2, // refused: another instance runs in this session
    kExitStopStart = 3,      // a "stop" start, whether or not an instance was found
    kExitWindowFailed = 4,   // the main window or its tray icon could not be created
    kExitBadSettings = 5,    // a settings hive file is damaged or not a hive
    kExitLockUnusable = 6,   // the lock files belong to another user or are open to others
};
