// The real velkora-certmgr started by a test: private hives with the minidriver stand-in
// installed, a logon session of the test's own, the record that VELKORA_MSGBOX_LOG asks the
// program to keep, and the user's store read back with velkora-store. The test binary defines
// VELKORA_CERTMGR, VELKORA_STORE, VELKORA_MD_INSTALL and VELK_MD_MODULE_DIR; it runs under
// scripts/with-services.sh, whose pcscd the programs started here use.
#pragma once

#include "tests/support/RecordLines.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace velktest {

// A generous bound for things that take a poll or two: the tests wait for them, they do not
// time them.
constexpr int kPatienceMs = 60000;

inline bool WaitUntil(const std::function<bool()>& done, int limitMs = kPatienceMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

inline std::string ReadAll(const QString& path) {
    std::ifstream in(path.toStdString());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Registration {
    std::string thumbprint; // SHA-1, hex as velkora-store prints it
    std::string reader;
};

class ProgramUnderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            << "run under scripts/with-services.sh";
        const QString root = m_dir.path();
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("VELKORA_MACHINE_HIVE", root + "/machine.hive");
        m_env.insert("VELKORA_USER_HIVE", root + "/user.hive");
        m_env.insert("VELKORA_MSGBOX_LOG", root + "/ui.log");
        m_env.insert("VELKORA_DEBUG_COMMANDS", "1");
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        ASSERT_EQ(::mkdir((root + "/run").toUtf8().constData(), 0700), 0);
        m_env.insert("XDG_RUNTIME_DIR", root + "/run");
        // The card types and the provider, as the install step registers them.
        ASSERT_EQ(Run(VELKORA_MD_INSTALL, {VELK_MD_MODULE_DIR}), 0);
    }

    void TearDown() override {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished(10000);
        }
    }

    // The environment of the programs started from here, with the private pcscd's socket.
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = m_env;
        env.insert("PCSCLITE_CSOCK_NAME", qEnvironmentVariable("PCSCLITE_CSOCK_NAME"));
        return env;
    }

    std::string Path(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }

    // Starts the program and waits until it reports that it is up.
    void StartProgram() {
        m_program.setProcessEnvironment(Environment());
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.setStandardOutputFile(QProcess::nullDevice());
        m_program.start(VELKORA_CERTMGR, {});
        ASSERT_TRUE(m_program.waitForStarted(10000));
        ASSERT_TRUE(WaitUntil([&] { return Logged("event\tready\t" + Pid()); }))
            << "the program did not come up";
    }

    std::string Pid() const { return std::to_string(m_program.processId()); }

    // The exit status of a tool run to its end, -1 when it crashed or hung.
    int Run(const QString& program, const QStringList& args, std::string* out = nullptr,
            int limitMs = 30000) {
        QProcess tool;
        tool.setProcessEnvironment(Environment());
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(program, args);
        if (!tool.waitForFinished(limitMs)) {
            tool.kill();
            tool.waitForFinished();
            return -1;
        }
        if (out != nullptr) {
            *out = tool.readAllStandardOutput().toStdString();
        }
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }

    // A tray command, sent on the session bus as the tray host sends it.
    int Command(int id) {
        return Run("dbus-send", {"--session", "--type=signal", "/org/velkora/CertMgr",
                                 "org.velkora.CertMgr.DebugCommand", QString("uint32:%1").arg(id)});
    }

    // The registrations in "MY": each certificate with the reader of its key container.
    std::vector<Registration> Registrations() {
        std::string out;
        if (Run(VELKORA_STORE, {"-user", "-store", "MY"}, &out) != 0) {
            ADD_FAILURE() << "velkora-store failed";
            return {};
        }
        std::vector<Registration> found;
        std::string thumbprint;
        std::istringstream lines(out);
        const std::string hash = "Cert Hash(sha1): ";
        const std::string container = "Key Container = \\\\.\\";
        for (std::string line; std::getline(lines, line);) {
            if (const auto at = line.find(hash); at != std::string::npos) {
                thumbprint = line.substr(at + hash.size());
            } else if (const auto c = line.find(container); c != std::string::npos) {
                const std::string path = line.substr(c + container.size());
                found.push_back({thumbprint, path.substr(0, path.rfind('\\'))});
            }
        }
        return found;
    }

    std::vector<std::string> LogLines() const { return RecordLines(Path("ui.log")); }

    bool Logged(const std::string& wanted) const {
        for (const std::string& line : LogLines()) {
            if (line == wanted) {
                return true;
            }
        }
        return false;
    }

    std::string LastLine(const std::string& prefix) const {
        std::string last;
        for (const std::string& line : LogLines()) {
            if (line.rfind(prefix, 0) == 0) {
                last = line;
            }
        }
        return last;
    }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QProcess m_program;
};

} // namespace velktest
