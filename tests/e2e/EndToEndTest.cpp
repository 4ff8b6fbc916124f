// The whole program as a user runs it: the real velkora-certmgr against a private pcscd whose
// vpcd readers get virtual cards, with the minidriver stand-in registered in a machine hive of
// the test, under a private session bus and the offscreen platform (run by with-services.sh).
// What the program did is read from the user's store with velkora-store and from the record
// that VELKORA_MSGBOX_LOG asks it to keep.
#include "platform/qt/MdMessage.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A generous bound for things that take a poll or two: the test waits for them, it does not
// time them.
constexpr int kPatienceMs = 60000;

struct Registration {
    std::string thumbprint;
    std::string reader;
};

bool WaitUntil(const std::function<bool()>& done, int limitMs = kPatienceMs) {
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

class EndToEndTest : public ::testing::Test {
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
        // A logon session of the test's own for the single-instance lock.
        ASSERT_EQ(::mkdir((root + "/run").toUtf8().constData(), 0700), 0);
        m_env.insert("XDG_RUNTIME_DIR", root + "/run");
        m_log = (root + "/ui.log").toStdString();

        // The card types and the provider, as the install step registers them.
        QProcess install;
        install.setProcessEnvironment(m_env);
        install.start(VELKORA_MD_INSTALL, {VELK_MD_MODULE_DIR});
        ASSERT_TRUE(install.waitForFinished(30000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
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

    void StartProgram() {
        m_program.setProcessEnvironment(Environment());
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.setStandardOutputFile(QProcess::nullDevice());
        m_program.start(VELKORA_CERTMGR, {});
        ASSERT_TRUE(m_program.waitForStarted(10000));
    }

    int RunTool(const QString& program, const QStringList& args, std::string* out = nullptr) {
        QProcess tool;
        tool.setProcessEnvironment(Environment());
        tool.start(program, args);
        if (!tool.waitForFinished(30000)) {
            tool.kill();
            tool.waitForFinished();
            return -1;
        }
        if (out != nullptr) {
            *out = tool.readAllStandardOutput().toStdString();
        }
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }

    // The registrations in "MY": each certificate with the reader of its key container.
    std::vector<Registration> Registrations() {
        std::string out;
        if (RunTool(VELKORA_STORE, {"-user", "-store", "MY"}, &out) != 0) {
            ADD_FAILURE() << "velkora-store failed";
            return {};
        }
        std::vector<Registration> found;
        std::string thumbprint;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            const std::string hash = "Cert Hash(sha1): ";
            const std::string container = "Key Container = \\\\.\\";
            if (const auto at = line.find(hash); at != std::string::npos) {
                thumbprint = line.substr(at + hash.size());
            } else if (const auto c = line.find(container); c != std::string::npos) {
                const std::string path = line.substr(c + container.size());
                found.push_back({thumbprint, path.substr(0, path.rfind('\\'))});
            }
        }
        return found;
    }

    std::map<std::string, int> PerReader() {
        std::map<std::string, int> counts;
        for (const Registration& r : Registrations()) {
            ++counts[r.reader];
        }
        return counts;
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream in(m_log);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

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

    std::string Card(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    std::string m_log;
    QProcess m_program;
};

TEST_F(EndToEndTest, CardsAreRegisteredAndRemovedUpdateRestoresAndStopCleansUp) {
    velktest::VirtualPcscd pcscd(2);
    ASSERT_TRUE(pcscd.Ok());
    const std::string first = pcscd.ReaderName(0);
    const std::string second = pcscd.ReaderName(1);

    // A card already in its reader is registered by the initial scan.
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", Card("card0.img")));
    StartProgram();
    const std::string pid = std::to_string(m_program.processId());
    const std::string ready = "event\tready\t" + pid;
    ASSERT_TRUE(WaitUntil([&] { return Logged(ready); })) << "the program did not come up";
    std::map<std::string, int> counts;
    ASSERT_TRUE(WaitUntil([&] { return (counts = PerReader())[first] > 0; }));
    const int perCard = counts[first];
    EXPECT_EQ(counts.size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return LastLine("icon\t") == "icon\t128"; }));

    // A second card comes in: registered beside the first.
    ASSERT_TRUE(WaitUntil([&] { return Logged("event\tmonitor\t1"); }));
    ASSERT_TRUE(pcscd.InsertCard(1, "tcos30v2", Card("card1.img")));
    ASSERT_TRUE(WaitUntil([&] { return (counts = PerReader())[second] == perCard; }));
    EXPECT_EQ(counts[first], perCard);

    // The first one goes: only its registrations go with it.
    ASSERT_TRUE(pcscd.RemoveCard(0));
    ASSERT_TRUE(WaitUntil([&] { return (counts = PerReader()).count(first) == 0; }));
    EXPECT_EQ(counts[second], perCard);
    EXPECT_EQ(LastLine("icon\t"), "icon\t128");

    // A registration lost behind the program's back stays lost until Update, which registers
    // every card in the readers again.
    const std::vector<Registration> before = Registrations();
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(RunTool(VELKORA_STORE, {"-user", "-delstore", "MY",
                                      QString::fromStdString(before.front().thumbprint)}),
              0);
    ASSERT_EQ(PerReader()[second], perCard - 1);
    ASSERT_EQ(RunTool("dbus-send", {"--session", "--type=signal", "/org/velkora/CertMgr",
                                    "org.velkora.CertMgr.DebugCommand", "uint32:32775"}),
              0);
    ASSERT_TRUE(WaitUntil([&] { return Logged("command\t32775"); }));
    ASSERT_TRUE(WaitUntil([&] { return PerReader()[second] == perCard; }));
    bool restored = false;
    for (const Registration& r : Registrations()) {
        restored = restored || r.thumbprint == before.front().thumbprint;
    }
    EXPECT_TRUE(restored);

    // The minidriver asks for a balloon text the catalogue does not have.
    ASSERT_TRUE(PostMdMessage(mdmsg::kShowBalloon, 99999));
    EXPECT_TRUE(WaitUntil([&] { return Logged("balloon\tnone\t\t----Error in Stringtable----"); }));

    // A second start with "stop": the running instance ends in order and leaves nothing.
    QProcess stop;
    stop.setProcessEnvironment(Environment());
    stop.start(VELKORA_CERTMGR, {"stop"});
    ASSERT_TRUE(stop.waitForFinished(30000));
    EXPECT_EQ(stop.exitCode(), 3);
    ASSERT_TRUE(m_program.waitForFinished(kPatienceMs)) << "the running instance did not stop";
    EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_program.exitCode(), 0);
    EXPECT_TRUE(Logged("event\texit\t" + pid));
    EXPECT_TRUE(Registrations().empty());
    // Nothing was put before the user on the way.
    EXPECT_TRUE(LastLine("msgbox").empty()) << LastLine("msgbox");
}

// Shutdown, logout, `kill` and Ctrl+C end the program as Quit does: nothing stays registered.
TEST_F(EndToEndTest, TerminationSignalsLeaveNoRegistration) {
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", Card("card0.img")));
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        StartProgram();
        const auto pid = static_cast<pid_t>(m_program.processId());
        ASSERT_TRUE(WaitUntil([&] { return !Registrations().empty(); }));
        ASSERT_EQ(::kill(pid, signal), 0);
        ASSERT_TRUE(m_program.waitForFinished(kPatienceMs));
        EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(m_program.exitCode(), 0);
        EXPECT_TRUE(Logged("event\texit\t" + std::to_string(pid)));
        EXPECT_TRUE(Registrations().empty());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
