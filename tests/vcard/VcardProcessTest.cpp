// velkora-vcard as a process, against a stand-in for vpcd's listening socket:
// it waits for the reader to come up, answers it, and leaves on SIGTERM.

#include "tests/vcard/CardTestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vcardtest {
namespace {

// A free loopback port: bound by the kernel's choice, then released.
uint16_t FreePort() {
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

int Listen(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 1) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    // The stand-in listens in this network, not in that of a private pcscd started earlier.
    unsetenv("VELK_PCSCD_PID");
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return 0;
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(VcardProcess, WaitsForVpcdAnswersItAndLeavesCleanlyOnSigterm) {
    TempDir dir;
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    // The card starts before anything listens on its port.
    const pid_t card = Spawn({VELK_VCARD_BINARY, "--profile", "micardo", "--image",
                              dir.File("m.img"), "--port", std::to_string(port), "--wait", "20"});
    ASSERT_GT(card, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Fd listener(Listen(port));
    ASSERT_GE(listener.Get(), 0);
    pollfd pfd{listener.Get(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 20000), 1);
    Fd conn(::accept(listener.Get(), nullptr, nullptr));
    ASSERT_GE(conn.Get(), 0);

    ASSERT_TRUE(SendFrame(conn.Get(), {0x04}));
    EXPECT_EQ(ReceiveFrame(conn.Get()), vcard::FindProfile("micardo")->atr);
    ASSERT_TRUE(SendFrame(conn.Get(), H("00 20 00 00")));
    EXPECT_EQ(ReceiveFrame(conn.Get()), H("63 C3"));

    ::kill(card, SIGTERM);
    EXPECT_EQ(WaitExit(card), 0);
    // Its side of the connection is closed: the reader sees the card go.
    uint8_t byte = 0;
    EXPECT_EQ(::read(conn.Get(), &byte, 1), 0);
}

TEST(VcardProcess, RefusesBadArgumentsAndGivesUpWhenVpcdNeverComes) {
    EXPECT_EQ(WaitExit(Spawn({VELK_VCARD_BINARY, "--profile", "nonesuch"})), 2);
    EXPECT_EQ(WaitExit(Spawn({VELK_VCARD_BINARY, "--port", "70000", "--profile", "tcos20"})), 2);
    EXPECT_EQ(WaitExit(Spawn({VELK_VCARD_BINARY})), 2);
    EXPECT_EQ(WaitExit(Spawn({VELK_VCARD_BINARY, "--help"})), 0);
    const uint16_t port = FreePort();
    EXPECT_EQ(WaitExit(Spawn({VELK_VCARD_BINARY, "--profile", "tcos20", "--port",
                              std::to_string(port), "--wait", "0"})),
              1);
}

} // namespace
} // namespace vcardtest
