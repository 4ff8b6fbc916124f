#include "app/shell/ExitCodes.h"
#include "app/shell/InstanceMutex.h"
#include "app/shell/VelkMDCertApp.h"

#include <cstdio>
#include <cstring>

namespace {

// Created before anything else of the program, and held until the process ends.
CInstanceMutex g_InstanceMutex;

const char kHelp[] =
    "Usage: velkora-certmgr [stop] [-ts]\n"
    "\n"
    "Velkora certificate manager: a tray program that registers the certificates of the\n"
    "signature cards in the PC/SC readers in the user's certificate stores. One instance\n"
    "runs per logon session. SIGTERM, SIGINT and SIGHUP end it like Quit.\n"
    "\n"
    "Words (found anywhere in the arguments, also inside a longer word; case matters):\n"
    "  stop       tell the running instance to quit, then end this start\n"
    "  -ts        start even though another instance runs\n"
    "  --Restart  (used by the program itself) wait until the previous instance has ended\n"
    "\n"
    "Exit codes:\n"
    "  0  the program ran and ended (Quit, a stop request, or a restart)\n"
    "  2  refused: another instance runs in this session\n"
    "  3  a \"stop\" start: the running instance was told to quit, or none was running\n"
    "  4  the main window or its tray icon could not be created (also: no display)\n"
    "  5  a settings hive file is damaged or is not a settings file, or its folder can be\n"
    "     changed by another user\n"
    "  6  the lock files cannot be used (their folder is another user's or open to others)\n"
    "  7  a \"stop\" start found an instance running but no session bus to reach it\n"
    "\n"
    "Environment:\n"
    "  VELKORA_MACHINE_HIVE, VELKORA_USER_HIVE  other settings hive files\n"
    "  VELKORA_MSGBOX_LOG    record message boxes and balloons as lines in this file\n"
    "                        instead of showing boxes (for tests and scripted runs)\n"
    "  VELKORA_MSGBOX_ANSWER comma-separated answers for those boxes: ok,cancel,yes,no\n"
    "  XDG_RUNTIME_DIR       the logon session's runtime directory (its lock files; without\n"
    "                        it: ~/.local/state/velkora/run-<host>)\n";

} // namespace

int main(int argc, char** argv) {
    static_assert(kExitSecondInstance == 2 && kExitStopStart == 3 && kExitWindowFailed == 4 &&
                      kExitBadSettings == 5 && kExitLockUnusable == 6 && kExitNoSessionBus == 7,
                  "keep the --help text in step");
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return kExitNormal;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("velkora-certmgr %s (%s)\n", VELK_VERSION, VELK_REVISION);
        return kExitNormal;
    }
    CVelkMDCertApp app(argc, argv, g_InstanceMutex);
    return app.Run();
}
