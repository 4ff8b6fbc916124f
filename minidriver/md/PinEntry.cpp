#include "minidriver/md/PinEntry.h"

#include "util/HexDigit.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velkmd {

namespace {

bool StartsWith(std::string_view line, std::string_view word) {
    return line.substr(0, word.size()) == word &&
           (line.size() == word.size() || line[word.size()] == ' ');
}

} // namespace

std::string AssuanEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool AssuanDecodeInto(std::string_view data, Secret& out) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        uint8_t byte = static_cast<uint8_t>(data[i]);
        if (data[i] == '%') {
            if (i + 2 >= data.size()) {
                return false;
            }
            const int hi = velk::HexDigitValue(data[i + 1]);
            const int lo = velk::HexDigitValue(data[i + 2]);
            if (hi < 0 || lo < 0) {
                return false;
            }
            byte = static_cast<uint8_t>(hi << 4 | lo);
            i += 2;
        }
        if (!out.Append(byte)) {
            return false;
        }
    }
    return true;
}

PinEntry::PinEntry(Limits limits) : m_limits(limits) {
    if (!m_buffer.Ok() || !m_line.Ok()) {
        return;
    }
    const char* program = std::getenv(kPinEntryVariable);
    if (program == nullptr || *program == '\0') {
        program = kDefaultPinEntry;
    }
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::string name = program;
    char* argv[] = {name.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return;
    }
    m_fd = fds[0];
    m_pid = pid;
    bool err = false;
    if (!Await(m_limits.program, nullptr, err)) {
        Stop();
    }
}

PinEntry::~PinEntry() {
    if (m_fd >= 0) {
        Send("BYE");
        bool err = false;
        Await(m_limits.program, nullptr, err);
    }
    Stop();
}

void PinEntry::Stop() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (m_pid > 0) {
        // A program that ignores the closed connection is ended.
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 50 && (done = waitpid(m_pid, &status, WNOHANG)) == 0; ++i) {
            usleep(20 * 1000);
        }
        if (done == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
}

bool PinEntry::Send(std::string_view line) {
    std::string out(line);
    out += '\n';
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = send(m_fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool PinEntry::ReadLine(Deadline deadline) {
    char* const buffer = reinterpret_cast<char*>(m_buffer.Data());
    for (;;) {
        if (void* end = std::memchr(buffer, '\n', m_buffered)) {
            const std::size_t length = static_cast<std::size_t>(static_cast<char*>(end) - buffer);
            if (length >= m_line.Size()) {
                return false;
            }
            std::memcpy(m_line.Data(), buffer, length);
            m_lineLength = length;
            std::memmove(buffer, buffer + length + 1, m_buffered - length - 1);
            m_buffered -= length + 1;
            OPENSSL_cleanse(buffer + m_buffered, m_buffer.Size() - m_buffered);
            return true;
        }
        if (m_buffered >= m_buffer.Size()) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t n = recv(m_fd, buffer + m_buffered, m_buffer.Size() - m_buffered, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        m_buffered += static_cast<std::size_t>(n);
    }
}

bool PinEntry::Await(std::chrono::milliseconds limit, Secret* data, bool& err) {
    err = false;
    if (m_fd < 0) {
        return false;
    }
    const Deadline deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (!ReadLine(deadline)) {
            return false;
        }
        const std::string_view line(reinterpret_cast<const char*>(m_line.Data()), m_lineLength);
        bool ok = true;
        bool done = false;
        if (StartsWith(line, "OK")) {
            done = true;
        } else if (StartsWith(line, "ERR")) {
            err = true;
            ok = false;
            done = true;
        } else if (StartsWith(line, "D")) {
            ok = data != nullptr && AssuanDecodeInto(line.substr(line.size() > 1 ? 2 : 1), *data);
        } else if (StartsWith(line, "INQUIRE")) {
            ok = Send("CAN"); // nothing of ours to give
        }
        // "S" status lines and "#" comments are skipped.
        m_line.Wipe(m_lineLength);
        m_lineLength = 0;
        if (!ok && !err) {
            return false;
        }
        if (done) {
            return !err;
        }
    }
}

bool PinEntry::Command(std::string_view verb, std::string_view argument) {
    if (m_fd < 0) {
        return false;
    }
    std::string line(verb);
    line += ' ';
    line += AssuanEscape(argument);
    bool err = false;
    if (Send(line) && Await(m_limits.program, nullptr, err)) {
        return true;
    }
    if (!err) {
        Stop(); // silent or out of step: no BYE that would wait once more
    }
    return false;
}

PinEntry::Result PinEntry::GetPin(Secret& pin) {
    pin.Clear();
    if (m_fd < 0 || !Send("GETPIN")) {
        return Result::Failed;
    }
    bool err = false;
    if (Await(m_limits.user, &pin, err)) {
        return Result::Ok;
    }
    pin.Clear();
    if (err) {
        return Result::Cancelled;
    }
    Stop(); // out of step with the program: no further commands
    return Result::Failed;
}

} // namespace velkmd
