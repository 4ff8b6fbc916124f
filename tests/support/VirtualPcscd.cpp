#include "tests/support/VirtualPcscd.h"

#include "tests/support/RunCommand.h"

#include <winscard.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef VELK_VCARD_BINARY
#error "VELK_VCARD_BINARY must name the velkora-vcard executable"
#endif
#ifndef VELK_SOURCE_DIR
#error "VELK_SOURCE_DIR must name the source root"
#endif

namespace velktest {

namespace {

std::atomic<bool> g_instanceAlive{false};

// The process's own private folder (mkdtemp, 0700), removed when the process ends. Every
// instance keeps its pcscd folder inside it, at the same path each time: libpcsclite keeps
// the first socket path it saw, and no one else can take a name in a folder of ours.
class ProcessFolder {
public:
    ProcessFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velk-pcscd.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~ProcessFolder() {
        if (!m_path.empty()) {
            rmdir(m_path.c_str());
        }
    }
    ProcessFolder(const ProcessFolder&) = delete;
    ProcessFolder& operator=(const ProcessFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

const std::string& PcscdFolder() {
    static const ProcessFolder folder;
    static const std::string path = folder.Path().empty() ? "" : folder.Path() + "/pcscd";
    return path;
}

std::optional<std::string> GetEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// Sets or clears an environment variable as it was before.
void RestoreEnv(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

constexpr auto kCardTimeout = std::chrono::seconds(20);
constexpr auto kReadersTimeout = std::chrono::seconds(10);

// Single-quoted shell word.
std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// Lines "export NAME='value'" into a map.
std::map<std::string, std::string> ParseExports(const std::string& text) {
    std::map<std::string, std::string> vars;
    std::istringstream lines(text);
    const std::string prefix = "export ";
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (line.rfind(prefix, 0) != 0 || eq == std::string::npos) {
            continue;
        }
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
            value = value.substr(1, value.size() - 2);
        }
        vars[line.substr(prefix.size(), eq - prefix.size())] = value;
    }
    return vars;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, sep);) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

// A PC/SC context, released on every way out.
class Context {
public:
    Context() {
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_ctx) != SCARD_S_SUCCESS) {
            m_ctx = 0;
        }
    }
    ~Context() {
        if (m_ctx != 0) {
            SCardReleaseContext(m_ctx);
        }
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    bool Valid() const { return m_ctx != 0; }
    SCARDCONTEXT Get() const { return m_ctx; }

private:
    SCARDCONTEXT m_ctx = 0;
};

std::vector<std::string> ListReaders() {
    Context ctx;
    if (!ctx.Valid()) {
        return {};
    }
    DWORD len = 0;
    if (SCardListReaders(ctx.Get(), nullptr, nullptr, &len) != SCARD_S_SUCCESS || len == 0) {
        return {};
    }
    std::vector<char> buf(len);
    if (SCardListReaders(ctx.Get(), nullptr, buf.data(), &len) != SCARD_S_SUCCESS) {
        return {};
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < len && buf[i] != '\0';) {
        names.emplace_back(&buf[i]);
        i += names.back().size() + 1;
    }
    return names;
}

} // namespace

VirtualPcscd::VirtualPcscd(int readers) {
    bool expected = false;
    if (readers < 1 || readers > 16 || !g_instanceAlive.compare_exchange_strong(expected, true)) {
        return;
    }
    m_owner = true;
    m_oldSocketEnv = GetEnv("PCSCLITE_CSOCK_NAME");
    m_oldPidEnv = GetEnv("VELK_PCSCD_PID");
    m_ok = Start(readers);
}

bool VirtualPcscd::Start(int readers) {
    m_dir = PcscdFolder();
    if (m_dir.empty()) {
        std::fprintf(stderr, "VirtualPcscd: no private folder\n");
        return false;
    }
    const std::string script = std::string(VELK_SOURCE_DIR) + "/scripts/pcscd-start.sh";
    const std::string command = "bash " + Quote(script) + " --readers " + std::to_string(readers) +
                                " --dir " + Quote(m_dir) + " --owner " + std::to_string(getpid());
    const CommandRun run = RunCommand(command);
    const bool ok = run.status == 0;
    const auto vars = ParseExports(run.out);
    auto get = [&](const char* name) {
        auto it = vars.find(name);
        return it == vars.end() ? std::string() : it->second;
    };
    m_socket = get("PCSCLITE_CSOCK_NAME");
    m_pid = get("VELK_PCSCD_PID");
    m_readers = Split(get("VELK_READER_NAMES"), '|');
    for (const std::string& p : Split(get("VELK_VPCD_PORTS"), ' ')) {
        m_ports.push_back(std::atoi(p.c_str()));
    }
    if (!ok || m_socket.empty() || m_pid.empty() ||
        m_readers.size() != static_cast<size_t>(readers) ||
        m_ports.size() != static_cast<size_t>(readers)) {
        std::fprintf(stderr, "VirtualPcscd: pcscd-start.sh failed\n");
        return false;
    }
    m_cards.assign(static_cast<size_t>(readers), 0);
    setenv("PCSCLITE_CSOCK_NAME", m_socket.c_str(), 1);
    // velkora-vcard, started from here or by a test, joins pcscd's private network by it.
    setenv("VELK_PCSCD_PID", m_pid.c_str(), 1);

    // pcscd accepts clients once its readers exist; wait until it lists them all.
    const auto deadline = std::chrono::steady_clock::now() + kReadersTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto listed = ListReaders();
        size_t found = 0;
        for (const std::string& r : m_readers) {
            for (const std::string& l : listed) {
                found += l == r ? 1 : 0;
            }
        }
        if (found == m_readers.size()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "VirtualPcscd: pcscd does not list its readers\n");
    return false;
}

VirtualPcscd::~VirtualPcscd() {
    if (!m_owner) {
        return;
    }
    for (size_t slot = 0; slot < m_cards.size(); ++slot) {
        StopCard(static_cast<int>(slot));
    }
    if (!m_pid.empty()) {
        const std::string script = std::string(VELK_SOURCE_DIR) + "/scripts/pcscd-stop.sh";
        RunCommand("bash " + Quote(script) + " --pid " + Quote(m_pid) + " --dir " + Quote(m_dir));
    }
    RestoreEnv("PCSCLITE_CSOCK_NAME", m_oldSocketEnv);
    RestoreEnv("VELK_PCSCD_PID", m_oldPidEnv);
    g_instanceAlive = false;
}

bool VirtualPcscd::Ok() const {
    return m_ok;
}

std::string VirtualPcscd::ReaderName(int slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= m_readers.size()) {
        return {};
    }
    return m_readers[static_cast<size_t>(slot)];
}

std::string VirtualPcscd::SocketPath() const {
    return m_socket;
}

int VirtualPcscd::Port(int slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= m_ports.size()) {
        return 0;
    }
    return m_ports[static_cast<size_t>(slot)];
}

bool VirtualPcscd::InsertCard(int slot, const std::string& profile, const std::string& imagePath) {
    if (!m_ok || slot < 0 || static_cast<size_t>(slot) >= m_cards.size()) {
        return false;
    }
    if (m_cards[static_cast<size_t>(slot)] != 0 && !RemoveCard(slot)) {
        return false;
    }
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls until exec.
    const std::string binary = VELK_VCARD_BINARY;
    const std::string port = std::to_string(Port(slot));
    std::vector<std::string> args = {binary, "--profile", profile, "--port", port};
    if (!imagePath.empty()) {
        args.insert(args.end(), {"--image", imagePath});
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        // The card goes when the test process goes, even if it crashed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    m_cards[static_cast<size_t>(slot)] = child;
    if (!WaitForReader(slot, true)) {
        StopCard(slot);
        return false;
    }
    return true;
}

void VirtualPcscd::StopCard(int slot) {
    pid_t& pid = m_cards[static_cast<size_t>(slot)];
    if (pid == 0) {
        return;
    }
    kill(pid, SIGTERM);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = 0;
}

bool VirtualPcscd::RemoveCard(int slot) {
    if (!m_ok || slot < 0 || static_cast<size_t>(slot) >= m_cards.size()) {
        return false;
    }
    StopCard(slot);
    return WaitForReader(slot, false);
}

bool VirtualPcscd::WaitForReader(int slot, bool present) {
    const std::string reader = ReaderName(slot);
    pid_t& card = m_cards[static_cast<size_t>(slot)];
    const auto deadline = std::chrono::steady_clock::now() + kCardTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        Context ctx;
        if (!ctx.Valid()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        SCARD_READERSTATE state{};
        state.szReader = reader.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        while (std::chrono::steady_clock::now() < deadline) {
            if (present && card != 0) {
                int status = 0;
                if (waitpid(card, &status, WNOHANG) == card) {
                    card = 0; // the card gave up (bad profile, image or port)
                    return false;
                }
            }
            const LONG rv = SCardGetStatusChange(ctx.Get(), 250, &state, 1);
            if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
                break; // pcscd restarted or the context went stale: a new one
            }
            const DWORD now = state.dwEventState;
            const bool isPresent = (now & SCARD_STATE_PRESENT) && state.cbAtr > 0;
            const bool isEmpty = (now & SCARD_STATE_EMPTY) != 0;
            if (present ? isPresent : isEmpty) {
                return true;
            }
            state.dwCurrentState = now & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        }
    }
    return false;
}

} // namespace velktest
