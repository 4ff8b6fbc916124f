#include "app/shell/VelkMDCertApp.h"

#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "app/shell/ExitCodes.h"
#include "app/shell/InstanceMutex.h"
#include "app/shell/Restart.h"
#include "app/shell/TrayCommands.h"
#include "app/shell/VelkMDCertDlg.h"
#include "dialogs/perso/PersonalizeRunner.h"
#include "platform/qt/MdMessage.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/UiLog.h"
#include "platform/registry/Registry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <string>

namespace {

constexpr unsigned IDS_ALREADY_RUNNING = 100;
constexpr unsigned IDS_CERTPROPSVC_ACTIVE = 31;

void LogEvent(const char* what) {
    uilog::Append("event", {what, std::to_string(::getpid())});
}

// The hive file that is damaged or foreign, if either is.
bool FindBadHive(std::string& path) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (RegCheckHive(root) == ERROR_BADDB) {
            path = RegHivePath(root);
            return true;
        }
    }
    return false;
}

} // namespace

CVelkMDCertApp::CVelkMDCertApp(int& argc, char** argv, const CInstanceMutex& instance)
    : m_argc(argc), m_argv(argv), m_commandLine(argc, argv), m_instance(instance) {
    SetProcessCommandLine(m_commandLine);
}

CVelkMDCertApp::~CVelkMDCertApp() {
    m_mainWnd.reset();
    m_exitSignals.reset(); // its notifier belongs to the application's event dispatcher
    m_qtApp.reset();
}

bool CVelkMDCertApp::InitInstance() {
    // Machine-wide settings, the user's over them, and the merged set back to the user.
    g_Config.LoadMachine();
    g_Config.LoadUser();
    g_Config.Save();
    CMsg::SetLanguage(static_cast<int>(g_Config.GetLanguage()));

    if (m_commandLine.ArgumentsContain("stop")) {
        m_exitCode = StopRunningInstance() ? kExitStopStart : kExitNoSessionBus;
        return false;
    }

    // From here on the start may have something to show.
    CreateQtApplication();

    if (!SettingsHivesUsable()) {
        m_exitCode = kExitBadSettings;
        return false;
    }
    if (!LockFilesUsable()) {
        m_exitCode = kExitLockUnusable;
        return false;
    }
    if (!m_commandLine.ArgumentsContain("-ts") && !IsRestartStart() &&
        m_instance.AnotherInstanceRuns()) {
        ShowMessageBox(CMsg::Get(IDS_ALREADY_RUNNING), CMsg::Get(IDS_APP_TITLE), MsgIcon::Error);
        m_exitCode = kExitSecondInstance;
        return false;
    }
    if (IsRestartStart()) {
        WaitForPreviousInstance();
    }
    if (Config::IsCertPropSvcActive()) {
        ShowMessageBox(CMsg::Get(IDS_CERTPROPSVC_ACTIVE), CMsg::Get(IDS_APP_TITLE),
                       MsgIcon::Warning);
    }
    if (!CreateMainWindow()) {
        m_exitCode = kExitWindowFailed;
        return false;
    }
    return true;
}

// Loading never fails on a bad hive, it just keeps the defaults; a damaged or foreign hive file
// is left untouched, and the user has to hear about it before running on defaults for ever.
bool CVelkMDCertApp::SettingsHivesUsable() {
    std::string path;
    if (!FindBadHive(path)) {
        return true;
    }
    // The registry layer words the problem with the file's path; this is its fallback.
    std::string text = RegGetHiveErrorText();
    if (text.empty()) {
        text = "The settings file " + path +
               " cannot be used: it is damaged or is not a settings file. It has been left "
               "unchanged; move it away to start with empty settings.";
    }
    ShowMessageBox(text.c_str(), CMsg::Get(IDS_APP_TITLE), MsgIcon::Error);
    return false;
}

// A lock that cannot be made reads as "no other instance" to the single-instance check, and
// the restart hand-over would not wait: starting anyway could run two instances side by side.
bool CVelkMDCertApp::LockFilesUsable() {
    if (m_instance.LastError() != session::kErrorAccessDenied) {
        return true;
    }
    std::string problem;
    if (session::LockDirectory(&problem).empty() && problem.empty()) {
        problem = "no folder for them";
    }
    const std::string text =
        "The lock files that keep Velkora certificate manager to one instance cannot be used: " +
        problem + ". The program does not start.";
    ShowMessageBox(text.c_str(), CMsg::Get(IDS_APP_TITLE), MsgIcon::Error);
    return false;
}

bool CVelkMDCertApp::StopRunningInstance() {
    if (!m_instance.AnotherInstanceRuns()) {
        return true;
    }
    if (PostMdMessage(mdmsg::kExit, 0)) {
        return true;
    }
    std::fputs("velkora-certmgr: no session bus can be reached; the running instance was not told "
               "to stop\n",
               stderr);
    return false;
}

void CVelkMDCertApp::CreateQtApplication() {
    // Qt gives up with a fatal message when it finds no display: that is a window that cannot
    // be created, and ends with that exit code instead of an abort.
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) {
            std::fprintf(stderr, "velkora-certmgr: %s\n", message.toLocal8Bit().constData());
            if (type == QtFatalMsg) {
                std::_Exit(kExitWindowFailed);
            }
        });
    m_qtApp = std::make_unique<QApplication>(m_argc, m_argv);
    qInstallMessageHandler(previous);
    // The only window is hidden; the program ends when it closes, not when a box closes.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("velkora-certmgr"));
    QApplication::setApplicationDisplayName(QString::fromUtf8(CMsg::Get(IDS_APP_TITLE)));
}

bool CVelkMDCertApp::CreateMainWindow() {
    // From the window's creation on, the certificates it registers have to be removed again:
    // a termination signal runs the same orderly exit as Quit (once the loop runs).
    m_exitSignals = std::make_unique<CExitSignals>();
    if (!m_exitSignals->Install()) {
        std::fputs("velkora-certmgr: termination signals cannot be caught; they will leave the "
                   "card's certificates registered\n",
                   stderr);
    }
    QObject::connect(m_exitSignals.get(), &CExitSignals::ExitRequested, m_qtApp.get(), [this] {
        if (m_mainWnd && !m_windowClosed) {
            m_mainWnd->Exit();
        }
    });
    InstallPersonalizeRunner();
    auto window = std::make_unique<CVelkMDCertDlg>();
    if (!window->Create()) {
        return false;
    }
    window->hide();
    QObject::connect(window.get(), &CVelkMDCertDlg::Closed, m_qtApp.get(),
                     [this] { m_windowClosed = true; });
    QObject::connect(window.get(), &CVelkMDCertDlg::Closed, m_qtApp.get(), &QApplication::quit,
                     Qt::QueuedConnection);
    m_mainWnd = std::move(window);
    LogEvent("ready");
    return true;
}

int CVelkMDCertApp::Run() {
    if (InitInstance()) {
        QApplication::exec();
        // The loop can end without the window closing: the session manager ends the session by
        // quitting the application. The registrations go all the same.
        if (m_mainWnd && !m_windowClosed) {
            m_mainWnd->Exit();
        }
    }
    return ExitInstance();
}

int CVelkMDCertApp::ExitInstance() {
    CloseRestartMutex();
    if (m_mainWnd) {
        m_mainWnd.reset();
        LogEvent("exit");
    }
    return m_exitCode;
}
