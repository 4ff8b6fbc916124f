// velkora-vcard: puts a virtual card into a vsmartcard-vpcd reader of pcscd.
// The card is inserted when the program connects and removed when it exits.

#include "vcard/PcscdNetwork.h"
#include "vcard/VirtualCard.h"
#include "vcard/VpcdLink.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void PrintUsage(FILE* to) {
    std::fprintf(to, "usage: velkora-vcard --profile NAME [--image FILE] [--port N] [--host H]\n"
                     "                     [--wait SECONDS] [--pcscd PID]\n"
                     "Connects a virtual card to vsmartcard-vpcd, the pcscd reader driver.\n"
                     "  --profile NAME  card type, one of:\n");
    for (const std::string& name : vcard::ProfileNames()) {
        const auto p = vcard::FindProfile(name);
        std::fprintf(to, "                    %-12s %s\n", name.c_str(),
                     p ? p->description.c_str() : "");
    }
    std::fprintf(
        to,
        "  --image FILE    the card's state (files, PINs, keys); created if missing.\n"
        "                  Without it the card lives in memory only.\n"
        "  --port N        vpcd slot port (default %u, the first slot)\n"
        "  --host H        where pcscd runs (default 127.0.0.1)\n"
        "  --wait SECONDS  how long to retry while vpcd is not up (default 10)\n"
        "  --pcscd PID     join the network of this private pcscd first (default:\n"
        "                  $VELK_PCSCD_PID, as scripts/pcscd-start.sh exports it)\n"
        "Removed from the reader on exit, SIGTERM or SIGINT.\n"
        "A new card's certificates come from the demo trust center kept in\n"
        "velkora-demo-tc.pem beside the image (or the file $VELKORA_TRUST_CENTER names).\n",
        static_cast<unsigned>(vcard::vpcd::kFirstPort));
}

struct Options {
    std::string profile;
    std::string image;
    std::string host = "127.0.0.1";
    unsigned long port = vcard::vpcd::kFirstPort;
    double waitSeconds = 10;
    unsigned long pcscd = 0; // 0: stay in this process's network
};

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v > max) {
        return false;
    }
    out = v;
    return true;
}

// 0: parsed; 1: exit with success (help); 2: usage error.
int ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            PrintUsage(stdout);
            return 1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "velkora-vcard: %s needs a value\n", a.c_str());
            return 2;
        }
        const char* v = argv[++i];
        unsigned long n = 0;
        if (a == "--profile") {
            o.profile = v;
        } else if (a == "--image") {
            o.image = v;
        } else if (a == "--host") {
            o.host = v;
        } else if (a == "--port" && ParseNumber(v, 65535, n) && n > 0) {
            o.port = n;
        } else if (a == "--wait" && ParseNumber(v, 3600, n)) {
            o.waitSeconds = static_cast<double>(n);
        } else if (a == "--pcscd" && ParseNumber(v, 4194304, n) && n > 0) {
            o.pcscd = n;
        } else {
            std::fprintf(stderr, "velkora-vcard: bad option %s %s\n", a.c_str(), v);
            return 2;
        }
    }
    if (o.profile.empty()) {
        std::fprintf(stderr, "velkora-vcard: --profile is required\n");
        return 2;
    }
    return 0;
}

// Owned signalfd for SIGTERM and SIGINT, which are blocked for the process so
// that they only arrive through it.
class SignalFd {
public:
    SignalFd() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGHUP);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        m_fd = signalfd(-1, &set, SFD_CLOEXEC);
    }
    ~SignalFd() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    SignalFd(const SignalFd&) = delete;
    SignalFd& operator=(const SignalFd&) = delete;
    int Fd() const { return m_fd; }
    // Waits up to `ms` for a signal; true if one came.
    bool WaitMs(int ms) const {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
    }

private:
    int m_fd = -1;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const char* pid = std::getenv("VELK_PCSCD_PID"); pid != nullptr && *pid != '\0') {
        unsigned long n = 0;
        if (ParseNumber(pid, 4194304, n)) {
            o.pcscd = n;
        }
    }
    if (const int rc = ParseArgs(argc, argv, o); rc != 0) {
        if (rc == 2) {
            PrintUsage(stderr);
        }
        return rc == 1 ? 0 : 2;
    }
    if (!vcard::FindProfile(o.profile)) {
        std::fprintf(stderr, "velkora-vcard: unknown profile '%s' (see --help)\n",
                     o.profile.c_str());
        return 2;
    }
    if (o.pcscd != 0) {
        std::string error;
        // Before anything else: joining a user namespace needs a single-threaded process.
        if (!vcard::EnterPcscdNetwork(static_cast<pid_t>(o.pcscd), error)) {
            std::fprintf(stderr, "velkora-vcard: %s\n", error.c_str());
            return 1;
        }
    }
    SignalFd signals;
    if (signals.Fd() < 0) {
        std::perror("velkora-vcard: signalfd");
        return 1;
    }
    auto card = vcard::OpenCard(o.profile, o.image);
    if (!card) {
        std::fprintf(stderr, "velkora-vcard: cannot open a %s card in '%s'\n", o.profile.c_str(),
                     o.image.c_str());
        return 1;
    }
    const auto port = static_cast<uint16_t>(o.port);
    for (;;) {
        // vpcd may not listen yet (pcscd starting) or any more (restarting):
        // retry politely for a while.
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<long>(o.waitSeconds * 1000));
        std::optional<vcard::VpcdSocket> socket;
        std::string error;
        for (;;) {
            socket = vcard::VpcdSocket::Connect(o.host, port, error);
            if (socket || std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            if (signals.WaitMs(100)) {
                return 0;
            }
        }
        if (!socket) {
            std::fprintf(stderr, "velkora-vcard: cannot reach vpcd at %s:%u: %s\n", o.host.c_str(),
                         static_cast<unsigned>(port), error.c_str());
            return 1;
        }
        switch (vcard::ServeVpcd(*socket, signals.Fd(), *card)) {
        case vcard::ServeEnd::Stopped:
            return 0; // closing the socket removes the card
        case vcard::ServeEnd::PeerClosed:
            continue;
        case vcard::ServeEnd::Error:
            std::fprintf(stderr, "velkora-vcard: connection to vpcd failed\n");
            return 1;
        }
    }
}
