#include "app/shell/Restart.h"

#include "app/shell/CommandLine.h"
#include "platform/qt/UiLog.h"
#include "platform/session/NamedMutex.h"

#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace {

// The process-wide restart handle; null while no restart is in progress.
session::CNamedMutex g_RestartMutex;

std::string OwnProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

class SpawnSetup {
public:
    SpawnSetup() {
        m_ok = posix_spawn_file_actions_init(&m_actions) == 0;
        m_ok = posix_spawnattr_init(&m_attr) == 0 && m_ok;
        // No inherited handles: above all not our lock files, whose locks would otherwise live
        // on in the new instance.
        m_ok = m_ok && posix_spawn_file_actions_addclosefrom_np(&m_actions, 3) == 0;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        m_ok =
            m_ok && posix_spawnattr_setsigmask(&m_attr, &none) == 0 &&
            posix_spawnattr_setsigdefault(&m_attr, &all) == 0 &&
            posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Ok() const { return m_ok; }
    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
    const posix_spawnattr_t* Attr() const { return &m_attr; }

private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attr{};
    bool m_ok = false;
};

bool StartProcess(const std::string& path) {
    SpawnSetup setup;
    if (path.empty() || !setup.Ok()) {
        return false;
    }
    std::string program = path;
    std::string word = kRestartWord;
    char* argv[] = {program.data(), word.data(), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, path.c_str(), setup.Actions(), setup.Attr(), argv, environ) == 0;
}

} // namespace

bool IsRestartStart() {
    return ProcessCommandLine().Contains(kRestartWord);
}

bool WaitForPreviousInstance() {
    g_RestartMutex = session::CreateMutexA(false, kRestartMutexName);
    const std::uint32_t error = session::GetLastError();
    if (error == session::kErrorAlreadyExists || error == session::kErrorAccessDenied) {
        uilog::Append("event", {"restart-wait", std::to_string(::getpid())});
        // An abandoned mutex counts as acquired: the previous instance ended while owning it.
        session::WaitForSingleObject(g_RestartMutex, session::kInfinite);
        session::ReleaseMutex(g_RestartMutex);
        uilog::Append("event", {"restart-go", std::to_string(::getpid())});
    }
    g_RestartMutex.Close();
    return true;
}

bool LaunchRestart() {
    if (std::getenv("VELKORA_RESTART_DRY_RUN") != nullptr) {
        // Tests in one process: the launch is recorded, nothing is started and the hand-over
        // mutex is left alone, so that the next request is not taken for a running restart.
        uilog::Append("event", {"restart-launch", std::to_string(::getpid()), "dry-run"});
        return true;
    }
    g_RestartMutex = session::CreateMutexA(true, kRestartMutexName);
    const std::uint32_t error = session::GetLastError();
    if (error == session::kErrorAlreadyExists || error == session::kErrorAccessDenied) {
        // Another restart is in progress: let it finish, then drop this request.
        session::WaitForSingleObject(g_RestartMutex, session::kInfinite);
        session::ReleaseMutex(g_RestartMutex);
        g_RestartMutex.Close();
        return false;
    }
    const std::string path = OwnProgramPath();
    const bool started = StartProcess(path);
    if (!started) {
        // Nobody will wait for us: give the hand-over up, so a later restart can take it.
        session::ReleaseMutex(g_RestartMutex);
        g_RestartMutex.Close();
    }
    const std::string commandLine =
        (path.find(' ') != std::string::npos ? "\"" + path + "\"" : path) + " " + kRestartWord;
    uilog::Append("event", {started ? "restart-launch" : "restart-failed",
                            std::to_string(::getpid()), commandLine});
    return started;
}

void CloseRestartMutex() {
    g_RestartMutex.Close();
}
