// Start-up of velkora-certmgr as real processes: each test has its own session (runtime
// directory, session bus), its own hive files, and reads what the program showed from the
// VELKORA_MSGBOX_LOG record.
#include "PrivateBus.h"
#include "app/shell/Restart.h"
#include "platform/qt/MdMessage.h"
#include "platform/registry/Registry.h"
#include "platform/session/NamedMutex.h"
#include "tests/registry/TempHives.h"
#include "tests/support/RecordLines.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kRefusal = "msgbox\terror\tVelkora certificate manager\tAn instance of Velkora "
                             "certificate manager is already running.\tok";
const std::string kServiceWarning =
    "msgbox\twarning\tVelkora certificate manager\tCertificate propagiation service "
    "(CertPropSvc) is activ, please deactivate this service.\tok";

std::string Event(const char* what, qint64 pid) {
    return std::string("event\t") + what + "\t" + std::to_string(pid);
}

// A process that is gone or only waits to be reaped by someone else.
bool ProcessEnded(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return true;
    }
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

class ShellProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_bus.Ok());
        const std::string root = m_dir.path().toStdString();
        m_runtime = root + "/run";
        ASSERT_EQ(::mkdir(m_runtime.c_str(), 0700), 0);
        m_log = root + "/ui.log";
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        ::setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // English texts, so the records can be compared with the catalogue's English table.
        Put(HKEY_CURRENT_USER, "Software\\Velkora\\Minidriver", "Language", 0);
        RegResetForTests();
    }

    void TearDown() override {
        if (HasFailure()) {
            for (const std::string& line : Lines()) {
                std::fprintf(stderr, "  record: %s\n", line.c_str());
            }
        }
        for (auto& process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        for (const qint64 pid : m_foreign) {
            if (!ProcessEnded(pid)) {
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            }
        }
    }

    QProcess&
    Start(const QStringList& arguments, const QString& program = QStringLiteral(VELKORA_CERTMGR),
          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess& process = *m_processes.back();
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForStarted(10000));
        m_pids[&process] = process.processId();
        return process;
    }

    // A process started with `arguments` that reported itself ready.
    QProcess& StartReady(const QStringList& arguments = {},
                         const QString& program = QStringLiteral(VELKORA_CERTMGR)) {
        QProcess& process = Start(arguments, program);
        EXPECT_TRUE(WaitFor(Event("ready", Pid(process)))) << "did not come up";
        return process;
    }

    // Exit code 3 of "stop": the request went out.
    void Stop() { EXPECT_EQ(Finish(Start({QStringLiteral("stop")})), 3); }

    // A start that fails with `code` and an error box that names `path`.
    void RefusedNaming(int code, const std::string& path) {
        EXPECT_EQ(Finish(Start({})), code);
        const auto boxes = velktest::RecordLines(m_log, "msgbox\terror\t");
        ASSERT_FALSE(boxes.empty());
        EXPECT_NE(boxes.back().find(path), std::string::npos);
    }

    // The pid a started process had (QProcess forgets it once the process has ended).
    qint64 Pid(const QProcess& process) const {
        const auto it = m_pids.find(&process);
        return it == m_pids.end() ? -1 : it->second;
    }

    // Every line is recorded, in this order.
    bool InOrder(std::initializer_list<std::string> prefixes) const {
        long previous = -1;
        for (const std::string& prefix : prefixes) {
            const long at = Find(prefix);
            if (at <= previous) {
                return false;
            }
            previous = at;
        }
        return true;
    }

    static int Finish(QProcess& process) {
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process.exitCode();
    }

    std::vector<std::string> Lines() const { return velktest::RecordLines(m_log); }

    // Index of the first line that starts with `prefix`, or -1.
    long Find(const std::string& prefix) const {
        const auto lines = Lines();
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.compare(0, prefix.size(), prefix) == 0;
        });
        return it == lines.end() ? -1 : static_cast<long>(it - lines.begin());
    }

    long Count(const std::string& line) const {
        const auto lines = Lines();
        return static_cast<long>(std::count(lines.begin(), lines.end(), line));
    }

    // Whether `done` came true within 30 s.
    static bool Within30s(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QThread::msleep(20);
        }
        return true;
    }

    // Waits until a line starting with `prefix` is recorded.
    bool WaitFor(const std::string& prefix) const {
        return Within30s([&] { return Find(prefix) >= 0; });
    }

    // The pid of an instance that became ready, other than `pid`; 0 after 30 s.
    qint64 WaitForReadyOtherThan(qint64 pid) const {
        const std::string ready = "event\tready\t";
        qint64 other = 0;
        Within30s([&] {
            for (const std::string& line : velktest::RecordLines(m_log, ready)) {
                if (line != Event("ready", pid)) {
                    other = std::stoll(line.substr(ready.size()));
                }
            }
            return other != 0;
        });
        return other;
    }

    bool WaitForEnd(qint64 pid) {
        m_foreign.push_back(pid);
        return Within30s([&] { return ProcessEnded(pid); });
    }

    void Note(const std::string& line) const {
        std::ofstream(m_log, std::ios::app) << line << "\n";
    }

    QTemporaryDir m_dir;
    PrivateBus m_bus;
    std::string m_runtime;
    std::string m_log;
    TempHives m_hives;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    std::vector<qint64> m_foreign;
    std::map<const QProcess*, qint64> m_pids;
};

TEST_F(ShellProcessTest, SecondStartIsRefusedUnlessTsAndStopEndsEveryInstanceItCanReach) {
    QProcess& first = StartReady();

    // "Stop" is not "stop": the words are case-sensitive, so this is a refused second start.
    QProcess& refused = Start({QStringLiteral("Stop")});
    EXPECT_EQ(Finish(refused), 2);
    EXPECT_EQ(Count(kRefusal), 1);
    EXPECT_EQ(Find(Event("ready", Pid(refused))), -1);

    QProcess& admitted = StartReady({QStringLiteral("-ts")});
    EXPECT_EQ(first.state(), QProcess::Running);

    // Without a session bus "stop" cannot reach them and says so instead of claiming success.
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_dir.path() + "/no-bus");
    EXPECT_EQ(Finish(Start({QStringLiteral("stop")}, QStringLiteral(VELKORA_CERTMGR), noBus)), 7);
    EXPECT_EQ(first.state(), QProcess::Running);

    // "stop" inside a longer word still counts; the request reaches both instances.
    QProcess& stop = Start({QStringLiteral("--nonstop")});
    EXPECT_EQ(Finish(stop), 3);
    EXPECT_EQ(Finish(first), 0);
    EXPECT_EQ(Finish(admitted), 0);
    EXPECT_GE(Find(Event("exit", Pid(first))), 0);
    EXPECT_GE(Find(Event("exit", Pid(admitted))), 0);

    // With nobody left, "stop" ends silently.
    Stop();
    const auto lines = Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("msgbox", 0) == 0; }),
              1);
}

TEST_F(ShellProcessTest, RestartedInstanceWaitsForThePreviousOne) {
    // This test plays the previous instance: it owns the restart mutex.
    session::CNamedMutex previous = session::CreateMutexA(true, kRestartMutexName);
    ASSERT_TRUE(previous.IsOwned());

    QProcess& restarted = Start({QStringLiteral("--Restart")});
    ASSERT_TRUE(WaitFor(Event("restart-wait", Pid(restarted))));
    Note("test\treleasing");
    session::ReleaseMutex(previous);
    previous.Close();
    ASSERT_TRUE(WaitFor(Event("ready", Pid(restarted))));
    // Its window came up only after the previous instance let go.
    EXPECT_TRUE(InOrder({Event("restart-wait", Pid(restarted)), "test\treleasing",
                         Event("restart-go", Pid(restarted)), Event("ready", Pid(restarted))}));

    // Now a real hand-over, asked for the way the minidriver asks.
    ASSERT_TRUE(PostMdMessage(mdmsg::kRestart, 0));
    ASSERT_TRUE(WaitFor(Event("restart-launch", Pid(restarted))));
    EXPECT_EQ(Finish(restarted), 0);
    const qint64 successor = WaitForReadyOtherThan(Pid(restarted));
    ASSERT_NE(successor, 0);
    EXPECT_TRUE(InOrder({Event("restart-launch", Pid(restarted)), Event("exit", Pid(restarted)),
                         Event("ready", successor)}));

    // The successor is the one instance of the session now.
    Stop();
    EXPECT_TRUE(WaitFor(Event("exit", successor)));
    EXPECT_TRUE(WaitForEnd(successor));
}

TEST_F(ShellProcessTest, RestartWordInProgramPathSkipsTheRefusal) {
    QProcess& first = StartReady();

    const fs::path dir = fs::path(m_dir.path().toStdString()) / "--Restart";
    fs::create_directory(dir);
    const fs::path link = dir / "velkora-certmgr";
    fs::create_symlink(VELKORA_CERTMGR, link);
    QProcess& second = StartReady({}, QString::fromStdString(link.string()));
    EXPECT_EQ(Count(kRefusal), 0);
    // No restart was under way, so there was nothing to wait for.
    EXPECT_EQ(Find(Event("restart-wait", Pid(second))), -1);

    Stop();
    EXPECT_EQ(Finish(first), 0);
    EXPECT_EQ(Finish(second), 0);
}

TEST_F(ShellProcessTest, WarnsWhenThePropagationServiceRuns) {
    // Stopped (1): no warning; running (4): one, and the program starts all the same.
    for (const uint32_t state : {1u, 4u}) {
        Put(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\CertPropSvc", "CurrentState",
            state);
        RegResetForTests();
        QProcess& instance = StartReady();
        EXPECT_EQ(Count(kServiceWarning), state == 4 ? 1 : 0);
        EXPECT_EQ(InOrder({kServiceWarning, Event("ready", Pid(instance))}), state == 4);
        ASSERT_TRUE(PostMdMessage(mdmsg::kExit, 0));
        EXPECT_EQ(Finish(instance), 0);
    }
}

TEST_F(ShellProcessTest, StartsThatCannotWorkEndWithTheirCodes) {
    // A lock folder others can use: another user could hold or remove the locks in it, so no
    // single-instance guarantee and no start (rather than a second "only" instance).
    const std::string locks = m_runtime + "/velkora";
    ASSERT_EQ(::mkdir(locks.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(locks.c_str(), 0777), 0);
    RefusedNaming(6, locks);
    ASSERT_EQ(::chmod(locks.c_str(), 0700), 0);

    // No display: a failed window, never ready.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QProcess& instance = Start({}, QStringLiteral(VELKORA_CERTMGR), environment);
    EXPECT_EQ(Finish(instance), 4);
    EXPECT_EQ(Find(Event("ready", Pid(instance))), -1);

    // A damaged settings file: reported, and kept as it is.
    const std::string garbage = "this is not a settings hive\n";
    std::ofstream(m_hives.UserPath(), std::ios::trunc) << garbage;
    RefusedNaming(5, m_hives.UserPath());
    std::ifstream in(m_hives.UserPath());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
