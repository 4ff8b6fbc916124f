// The session's named mutexes across real processes: existence, hand-over, abandonment,
// isolation between sessions, and no leaking of locks into started programs.
#include "platform/session/NamedMutex.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

extern char** environ;

namespace {

using namespace session;
namespace fs = std::filesystem;

const std::string kName = "Local\\{2e0caa01-0efd-11dc-8314-0800200c9a66}";

// A forked child running `body`, talking over two pipes.
class Child {
public:
    explicit Child(const std::function<int(Child&)>& body) {
        int toChild[2];
        int fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) {
            std::abort();
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(toChild[1]);
            ::close(fromChild[0]);
            m_in = toChild[0];
            m_out = fromChild[1];
            ::_exit(body(*this));
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_out = toChild[1];
        m_in = fromChild[0];
    }
    ~Child() {
        ::close(m_in);
        ::close(m_out);
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void Send(std::uint32_t value) const {
        [[maybe_unused]] auto n = ::write(m_out, &value, sizeof value);
    }
    std::optional<std::uint32_t> Receive() const {
        std::uint32_t value = 0;
        if (::read(m_in, &value, sizeof value) != sizeof value) {
            return std::nullopt;
        }
        return value;
    }
    int Wait() {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    bool m_reaped = false;
};

// An environment variable set (or, with nullopt, removed) while this lives, then restored.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value ? (void)::setenv(name, value->c_str(), 1) : (void)::unsetenv(name);
    }
    ~ScopedEnv() { m_old ? (void)::setenv(m_name, m_old->c_str(), 1) : (void)::unsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// What another process sees at once: CreateMutexA's error, then, asking to own the mutex,
// whether it does, else what a zero wait gives; in the session of `runtime` if one is given.
std::pair<std::uint32_t, std::uint32_t> FromChild(bool own,
                                                  const std::optional<std::string>& runtime = {}) {
    Child probe([&](Child& self) {
        if (runtime) {
            ::setenv("XDG_RUNTIME_DIR", runtime->c_str(), 1);
        }
        CNamedMutex m = CreateMutexA(own, kName);
        self.Send(GetLastError());
        self.Send(own ? (m.IsOwned() ? 1u : 0u) : WaitForSingleObject(m, 0));
        return 0;
    });
    return {probe.Receive().value_or(999), probe.Receive().value_or(999)};
}

class SessionMutexTest : public ::testing::Test {
protected:
    velktest::TempDir m_tmp;
    const std::string m_runtime = m_tmp.Path();
    const ScopedEnv m_runtimeEnv{"XDG_RUNTIME_DIR", m_runtime};
};

TEST_F(SessionMutexTest, ExistenceFollowsOpenHandlesPerSession) {
    CNamedMutex first = CreateMutexA(false, kName);
    ASSERT_TRUE(first.IsValid());
    EXPECT_EQ(GetLastError(), kErrorSuccess);
    EXPECT_FALSE(first.IsOwned());

    // Another process of the same session finds it, and does not get it by asking to own it.
    EXPECT_EQ(FromChild(true), std::make_pair(kErrorAlreadyExists, 0u));

    // A second handle in this process counts too.
    {
        CNamedMutex second = CreateMutexA(false, kName);
        EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    }

    // Another logon session has its own runtime directory and its own mutex.
    const std::string otherSession = m_runtime + "/other";
    ASSERT_EQ(::mkdir(otherSession.c_str(), 0700), 0);
    EXPECT_EQ(FromChild(true, otherSession), std::make_pair(kErrorSuccess, 1u));

    // Once the last handle is closed the mutex is gone.
    first.Close();
    EXPECT_FALSE(first.IsValid());
    EXPECT_EQ(FromChild(true), std::make_pair(kErrorSuccess, 1u));
}

TEST_F(SessionMutexTest, WaiterGetsTheMutexOnlyAfterRelease) {
    CNamedMutex owner = CreateMutexA(true, kName);
    ASSERT_TRUE(owner.IsOwned());
    const std::string marker = m_runtime + "/released";

    Child waiter([&marker](Child& self) {
        CNamedMutex m = CreateMutexA(false, kName);
        self.Send(GetLastError());
        self.Send(WaitForSingleObject(m, 0));
        const std::uint32_t result = WaitForSingleObject(m, kInfinite);
        // The owner writes the marker before it releases: seeing it proves the order.
        self.Send(fs::exists(marker) ? 1 : 0);
        self.Send(result);
        ReleaseMutex(m);
        return 0;
    });
    EXPECT_EQ(waiter.Receive(), kErrorAlreadyExists);
    EXPECT_EQ(waiter.Receive(), kWaitTimeout);

    std::ofstream(marker) << "x";
    // Ownership nests: a second wait of the owner succeeds, and needs a second release.
    EXPECT_EQ(WaitForSingleObject(owner, kInfinite), kWaitObject0);
    EXPECT_TRUE(ReleaseMutex(owner));
    EXPECT_TRUE(ReleaseMutex(owner));
    EXPECT_FALSE(ReleaseMutex(owner));
    EXPECT_EQ(GetLastError(), kErrorNotOwner);

    EXPECT_EQ(waiter.Receive(), 1u);
    EXPECT_EQ(waiter.Receive(), kWaitObject0);
    EXPECT_EQ(waiter.Wait(), 0);
}

TEST_F(SessionMutexTest, OwnerThatDiesOrClosesItsHandleAbandonsTheMutex) {
    CNamedMutex mine = CreateMutexA(false, kName);
    ASSERT_EQ(GetLastError(), kErrorSuccess);

    // The owner closes its handle while owning: the mutex lives on until its process ends.
    Child owner([](Child& self) {
        CNamedMutex m = CreateMutexA(false, kName);
        WaitForSingleObject(m, kInfinite);
        self.Send(static_cast<std::uint32_t>(::getpid()));
        m.Close();
        self.Send(1);
        self.Receive(); // until told to end
        return 0;
    });
    const auto ownerPid = owner.Receive();
    ASSERT_TRUE(owner.Receive().has_value());
    EXPECT_EQ(WaitForSingleObject(mine, 0), kWaitTimeout);
    std::ifstream pidFile(OwnerFilePath(kName));
    std::uint32_t recorded = 0;
    pidFile >> recorded;
    EXPECT_EQ(recorded, ownerPid);

    owner.Send(0);
    EXPECT_EQ(owner.Wait(), 0);
    EXPECT_EQ(WaitForSingleObject(mine, kInfinite), kWaitAbandoned);
    EXPECT_TRUE(ReleaseMutex(mine));
    EXPECT_EQ(WaitForSingleObject(mine, kInfinite), kWaitObject0);
    EXPECT_TRUE(ReleaseMutex(mine));

    // An owner killed outright abandons it the same way.
    Child killed([](Child& self) {
        CNamedMutex m = CreateMutexA(false, kName);
        WaitForSingleObject(m, kInfinite);
        self.Send(1);
        ::pause();
        return 0;
    });
    ASSERT_TRUE(killed.Receive().has_value());
    ::kill(killed.Pid(), SIGKILL);
    killed.Wait();
    EXPECT_EQ(WaitForSingleObject(mine, kInfinite), kWaitAbandoned);
}

TEST_F(SessionMutexTest, StartedProgramsDoNotInheritTheLocks) {
    CNamedMutex owner = CreateMutexA(true, kName);
    ASSERT_TRUE(owner.IsOwned());
    // A program started while we own the mutex, running on after we let go.
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "60";
    char* argv[] = {sleepPath, seconds, nullptr};
    pid_t sleeper = 0;
    ASSERT_EQ(::posix_spawn(&sleeper, sleepPath, nullptr, nullptr, argv, environ), 0);
    ReleaseMutex(owner);
    owner.Close();

    EXPECT_EQ(FromChild(false), std::make_pair(kErrorSuccess, kWaitObject0));
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

TEST_F(SessionMutexTest, LockDirectoryMustBePrivate) {
    const std::string dir = LockDirectory();
    EXPECT_EQ(dir, m_runtime + "/velkora");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Opened up to others: not trusted, so no mutex, and waiting on the null handle fails.
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    EXPECT_EQ(LockDirectory(), "");
    CNamedMutex refused = CreateMutexA(true, kName);
    EXPECT_FALSE(refused.IsValid());
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    EXPECT_EQ(WaitForSingleObject(refused, kInfinite), kWaitFailed);

    // Without a runtime directory: a private folder in the user's home, never one in /tmp,
    // and none at all in a home that another user controls.
    const std::string home = m_runtime + "/home";
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    const ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    const ScopedEnv noState("XDG_STATE_HOME", std::nullopt);
    const ScopedEnv ownHome("HOME", home);
    const std::string fallback = LockDirectory();
    EXPECT_EQ(fallback.rfind(home + "/.local/state/velkora/run-", 0), 0u) << fallback;
    ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    if (::geteuid() == 0) {
        const std::string foreign = m_runtime + "/foreign";
        ASSERT_EQ(::mkdir(foreign.c_str(), 0755), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        ::setenv("HOME", foreign.c_str(), 1);
        std::string problem;
        EXPECT_EQ(LockDirectory(&problem), "");
        EXPECT_NE(problem.find(foreign), std::string::npos) << problem;
        CNamedMutex blocked = CreateMutexA(false, kName);
        EXPECT_FALSE(blocked.IsValid());
        EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    }
}

} // namespace
