// Card insertion to registration and removal to deregistration, through the whole program:
// velkora-certmgr (offscreen) against a private pcscd, a virtual T-COS 3.0 card put into a
// vpcd reader and taken out again, the user's "MY" store read in this process.
//   bench_monitor_latency [ROUNDS]      (default 10)
// Each round times, for the insertion, the card's start to PC/SC reporting it present and
// that moment to the last of its certificates being registered; for the removal, the card's
// end to PC/SC reporting the reader empty and that moment to the last registration gone.
#include "minidriver/install/MdInstall.h"
#include "platform/certstore/CertStore.h"
#include "platform/registry/Registry.h"
#include "tests/support/VirtualPcscd.h"

#include <winscard.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr auto kLimit = std::chrono::seconds(60);
constexpr auto kStorePoll = std::chrono::milliseconds(5);

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t& pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
}

int CountMy() {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    if (store == nullptr) {
        return -1;
    }
    int count = 0;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(store, cert)) {
        ++count;
    }
    CertCloseStore(store, 0);
    return count;
}

bool WaitForStore(int wanted) {
    const auto end = Clock::now() + kLimit;
    while (CountMy() != wanted) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(kStorePoll);
    }
    return true;
}

// Blocks in PC/SC until the reader shows the card present (or empty).
bool WaitForReader(const std::string& reader, bool present) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return false;
    }
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto end = Clock::now() + kLimit;
    bool reached = false;
    while (!reached && Clock::now() < end) {
        if (SCardGetStatusChange(context, 1000, &state, 1) == SCARD_S_SUCCESS) {
            reached = ((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present;
            state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        }
    }
    SCardReleaseContext(context);
    return reached;
}

bool Logged(const std::string& path, const std::string& wanted) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(wanted, 0) == 0) {
            return true;
        }
    }
    return false;
}

struct Figures {
    std::vector<double> values;
    void Add(Clock::time_point from, Clock::time_point to) {
        values.push_back(Ms(to - from).count());
    }
    double Median() const {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double Worst() const {
        return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    }
};

void Print(const char* what, const Figures& f) {
    std::printf("  %-44s median %7.1f ms   worst %7.1f ms\n", what, f.Median(), f.Worst());
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char pattern[] = "/tmp/velk-bench-lat.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string dir = pattern;
    setenv("VELKORA_MACHINE_HIVE", (dir + "/machine.hive").c_str(), 1);
    setenv("VELKORA_USER_HIVE", (dir + "/user.hive").c_str(), 1);
    setenv("VELKORA_MSGBOX_LOG", (dir + "/ui.log").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    mkdir((dir + "/run").c_str(), 0700);
    RegResetForTests();
    if (velkmd::InstallMinidriver(VELK_MD_MODULE_DIR) != 0) {
        std::fprintf(stderr, "bench: cannot register the provider\n");
        return 1;
    }

    int status = 1;
    {
        velktest::VirtualPcscd pcscd(1);
        if (!pcscd.Ok()) {
            std::fprintf(stderr, "bench: pcscd did not come up\n");
            return 1;
        }
        const std::string reader = pcscd.ReaderName(0);
        const std::vector<std::string> card = {VELK_VCARD_BINARY,
                                               "--profile",
                                               "tcos30",
                                               "--image",
                                               dir + "/card.img",
                                               "--port",
                                               std::to_string(pcscd.Port(0))};
        pid_t program = Spawn({VELKORA_CERTMGR});
        pid_t cardPid = -1;
        const auto started = Clock::now();
        while (!Logged(dir + "/ui.log", "event\tmonitor\t1") && Clock::now() - started < kLimit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }

        // A first insertion makes the card's keys and certificates and tells how many
        // registrations a card brings.
        cardPid = Spawn(card);
        int perCard = 0;
        const auto warmEnd = Clock::now() + kLimit;
        while ((perCard = CountMy()) <= 0 && Clock::now() < warmEnd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        perCard = CountMy();
        Stop(cardPid);
        bool ok = perCard > 0 && WaitForReader(reader, false) && WaitForStore(0);

        Figures detect, insert, total, undetect, remove, totalRemove;
        for (int round = 0; ok && round < rounds; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            const auto t0 = Clock::now();
            cardPid = Spawn(card);
            ok = WaitForReader(reader, true);
            const auto t1 = Clock::now();
            ok = ok && WaitForStore(perCard);
            const auto t2 = Clock::now();
            detect.Add(t0, t1);
            insert.Add(t1, t2);
            total.Add(t0, t2);

            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            const auto t3 = Clock::now();
            Stop(cardPid);
            ok = ok && WaitForReader(reader, false);
            const auto t4 = Clock::now();
            ok = ok && WaitForStore(0);
            const auto t5 = Clock::now();
            undetect.Add(t3, t4);
            remove.Add(t4, t5);
            totalRemove.Add(t3, t5);
        }
        Stop(cardPid);
        Stop(program);
        if (ok) {
            std::printf("velkora-certmgr through pcscd + vpcd, %d insertions and removals of a "
                        "T-COS 3.0 card (%d registrations each):\n",
                        rounds, perCard);
            Print("card start -> PC/SC reports it present", detect);
            Print("PC/SC present -> all registered in MY", insert);
            Print("card start -> all registered", total);
            Print("card end -> PC/SC reports the reader empty", undetect);
            Print("PC/SC empty -> all registrations gone", remove);
            Print("card end -> all registrations gone", totalRemove);
            status = 0;
        } else {
            std::fprintf(stderr, "bench: a round did not complete\n");
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
