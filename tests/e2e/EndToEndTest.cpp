// The whole program as a user runs it: the real velkora-certmgr against a private pcscd whose
// vpcd readers get virtual cards, with the minidriver stand-in registered in a machine hive of
// the test, under a private session bus and the offscreen platform (run by with-services.sh).
// What the program did is read from the user's store with velkora-store and from the record
// that VELKORA_MSGBOX_LOG asks it to keep.
#include "tests/support/ProgramUnderTest.h"
#include "tests/support/VirtualPcscd.h"

#include <QCoreApplication>

#include <signal.h>

#include <map>

namespace {

using namespace velktest;

class EndToEndTest : public ProgramUnderTest {
protected:
    std::map<std::string, int> PerReader() {
        std::map<std::string, int> counts;
        for (const Registration& r : Registrations()) {
            ++counts[r.reader];
        }
        return counts;
    }
};

TEST_F(EndToEndTest, CardsAreRegisteredAndRemovedUpdateRestoresAndStopCleansUp) {
    velktest::VirtualPcscd pcscd(2);
    ASSERT_TRUE(pcscd.Ok());
    const std::string first = pcscd.ReaderName(0);
    const std::string second = pcscd.ReaderName(1);

    // A card already in its reader is registered by the initial scan.
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", Path("card0.img")));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const std::string pid = Pid();
    std::map<std::string, int> counts;
    ASSERT_TRUE(WaitUntil([&] { return (counts = PerReader())[first] > 0; }));
    const int perCard = counts[first];
    EXPECT_EQ(counts.size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return LastLine("icon\t") == "icon\t128"; }));

    // A second card comes in: registered beside the first.
    ASSERT_TRUE(WaitUntil([&] { return Logged("event\tmonitor\t1"); }));
    ASSERT_TRUE(pcscd.InsertCard(1, "tcos30v2", Path("card1.img")));
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
    ASSERT_EQ(Run(VELKORA_STORE,
                  {"-user", "-delstore", "MY", QString::fromStdString(before.front().thumbprint)}),
              0);
    ASSERT_EQ(PerReader()[second], perCard - 1);
    ASSERT_EQ(Command(32775), 0);
    ASSERT_TRUE(WaitUntil([&] { return Logged("command\t32775"); }));
    ASSERT_TRUE(WaitUntil([&] { return PerReader()[second] == perCard; }));
    bool restored = false;
    for (const Registration& r : Registrations()) {
        restored = restored || r.thumbprint == before.front().thumbprint;
    }
    EXPECT_TRUE(restored);

    // A second start with "stop": the running instance ends in order and leaves nothing.
    EXPECT_EQ(Run(VELKORA_CERTMGR, {"stop"}), 3);
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
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", Path("card0.img")));
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        ASSERT_NO_FATAL_FAILURE(StartProgram());
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
