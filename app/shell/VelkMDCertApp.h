#pragma once

#include "app/shell/CommandLine.h"
#include "app/shell/ExitSignals.h"

#include <QApplication>

#include <memory>

class CInstanceMutex;
class CVelkMDCertDlg;

// The program: start-up, message loop, exit. One per process, created by main().
class CVelkMDCertApp {
public:
    // argc must outlive the object (the Qt application keeps a reference to it).
    CVelkMDCertApp(int& argc, char** argv, const CInstanceMutex& instance);
    ~CVelkMDCertApp();
    CVelkMDCertApp(const CVelkMDCertApp&) = delete;
    CVelkMDCertApp& operator=(const CVelkMDCertApp&) = delete;

    // Start-up; false when the process is to end at once with ExitCode().
    bool InitInstance();
    // InitInstance, the message loop while the main window lives, then ExitInstance.
    int Run();
    int ExitInstance();

    int ExitCode() const { return m_exitCode; }
    CVelkMDCertDlg* MainWindow() const { return m_mainWnd.get(); }

private:
    bool SettingsHivesUsable();
    bool LockFilesUsable();
    // False when an instance runs but the request cannot reach it.
    bool StopRunningInstance();
    void CreateQtApplication();
    bool CreateMainWindow();

    int& m_argc;
    char** m_argv;
    CCommandLine m_commandLine;
    const CInstanceMutex& m_instance;
    std::unique_ptr<QApplication> m_qtApp;
    std::unique_ptr<CVelkMDCertDlg> m_mainWnd;
    std::unique_ptr<CExitSignals> m_exitSignals;
    bool m_windowClosed = false;
    int m_exitCode = 0;
};
