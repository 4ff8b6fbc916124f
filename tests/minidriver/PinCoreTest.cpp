// Core files taken while PINs are in use hold none: the process running a PIN
// command (the provider in a probe that knows no PIN itself) at the new-PIN
// prompt, and velkora-vcard after it refused a change. gdb's gcore leaves out
// what the processes marked as not to be dumped, as the kernel does.

#include "tests/minidriver/MdTestEnv.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

// A sanitizer's shadow and allocator regions make cores of tens of gigabytes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELK_CORES_TOO_LARGE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELK_CORES_TOO_LARGE 1
#endif
#endif

namespace {

// Distinct enough not to turn up in a core by chance.
constexpr const char* kFirstPin = "80412379";
constexpr const char* kSecondPin = "61530894";
constexpr const char* kWrongPin = "47296158";
constexpr const char* kRefusedNewPin = "93857162";

pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 1200 && !std::filesystem::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::filesystem::exists(path);
}

// Which of `texts` the core of `pid` holds; nullopt when gcore failed. Only
// the data extents of the file are read: a sanitizer's reservations make a
// core of terabytes that are almost all hole.
std::optional<std::set<std::string>> SearchCore(const mdtest::TempDir& dir, pid_t pid,
                                                const std::vector<std::string>& texts) {
    const std::string prefix = dir.File("core");
    if (Wait(Spawn({"gcore", "-o", prefix, std::to_string(pid)})) != 0) {
        return std::nullopt;
    }
    const std::string file = prefix + "." + std::to_string(pid);
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::set<std::string> found;
    std::string window; // the chunk read, after the tail of the one before
    std::vector<char> chunk(1 << 20);
    for (off_t at = 0;;) {
        const off_t data = lseek(fd, at, SEEK_DATA);
        const off_t hole = data < 0 ? -1 : lseek(fd, data, SEEK_HOLE);
        if (hole <= data) {
            break;
        }
        for (at = data; at < hole;) {
            const auto want = static_cast<std::size_t>(std::min<off_t>(hole - at, 1 << 20));
            const ssize_t n = pread(fd, chunk.data(), want, at);
            if (n <= 0) {
                at = hole;
                break;
            }
            window.append(chunk.data(), static_cast<std::size_t>(n));
            for (const std::string& text : texts) {
                if (window.find(text) != std::string::npos) {
                    found.insert(text);
                }
            }
            window.erase(0, window.size() > 64 ? window.size() - 64 : 0);
            at += n;
        }
        window.clear();
    }
    close(fd);
    std::filesystem::remove(file);
    return found;
}

// The velkora-vcard child of this process.
pid_t CardProcess() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        pid_t pid = 0;
        std::string name;
        char state = 0;
        pid_t parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == getpid() &&
            name == "(velkora-vcard)") {
            return pid;
        }
    }
    return -1;
}

// Yama's ptrace scope 1 and above keeps gdb from attaching to a sibling.
bool SiblingsTraceable() {
    std::ifstream scope("/proc/sys/kernel/yama/ptrace_scope");
    int value = 0;
    return !(scope >> value) || value == 0;
}

TEST(PinCore, NoPinInTheCoresOfThePinCommandAndTheCard) {
#ifdef VELK_CORES_TOO_LARGE
    GTEST_SKIP() << "no cores of sanitized processes";
#endif
    mdtest::TempDir dir;
    mdtest::RegisteredProvider provider(dir);
    ASSERT_EQ(provider.Result(), 0);
    velktest::VirtualPcscd pcscd;
    ASSERT_TRUE(pcscd.Ok());
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", dir.File("card.img")));
    const std::string reader = pcscd.ReaderName(0);
    const std::string container = mdtest::UserContainer(reader, '1');
    ASSERT_FALSE(container.empty());
    const mdtest::ScriptedPinEntry pinEntry(dir);
    const auto run = [&] { return Spawn({VELK_PIN_COMMAND_PROBE, container, "md@cp@01"}); };

    // Card PIN1 leaves its NULL-PIN state without a prompt for the old one.
    pinEntry.Queue({kFirstPin, kFirstPin});
    ASSERT_EQ(Wait(run()), 0);

    // The change stops at the new-PIN prompt with the old PIN read.
    pinEntry.Queue({kFirstPin, kSecondPin, kSecondPin});
    std::ofstream(dir.File("hold")).close();
    const pid_t probe = run();
    ASSERT_GT(probe, 0);
    const bool atPrompt = WaitForFile(dir.File("at-prompt"));
    const auto core =
        atPrompt ? SearchCore(dir, probe, {reader, kFirstPin}) : std::set<std::string>();
    std::ofstream(dir.File("go")).close();
    EXPECT_EQ(Wait(probe), 0);
    ASSERT_TRUE(atPrompt);
    ASSERT_TRUE(core && core->count(reader)) << "no usable core of the PIN command";
    EXPECT_FALSE(core->count(kFirstPin)) << "the old PIN is in the core";

    // A change the card refuses: the card process keeps none of it.
    std::filesystem::remove(dir.File("hold"));
    pinEntry.Queue({kWrongPin, kRefusedNewPin, kRefusedNewPin});
    EXPECT_EQ(Wait(run()), 1);
    if (!SiblingsTraceable()) {
        GTEST_SKIP() << "ptrace is limited to ancestors: no core of velkora-vcard";
    }
    const auto cardCore =
        SearchCore(dir, CardProcess(), {kSecondPin, kFirstPin, kWrongPin, kRefusedNewPin});
    ASSERT_TRUE(cardCore && cardCore->count(kSecondPin))
        << "no usable core of the card (its PIN is missing)";
    for (const char* pin : {kFirstPin, kWrongPin, kRefusedNewPin}) {
        EXPECT_FALSE(cardCore->count(pin)) << pin << " is in the card's core";
    }
}

} // namespace
