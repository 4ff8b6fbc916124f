#include "vcard/VpcdLink.h"

#include "util/SecureBuffer.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace vcard {

std::optional<std::vector<uint8_t>> AnswerVpcdMessage(pcscsim::ICardEndpoint& card,
                                                      std::span<const uint8_t> message) {
    if (message.size() == 1) {
        switch (message[0]) {
        case vpcd::kGetAtr:
            return card.Atr();
        case vpcd::kPowerOff:
        case vpcd::kPowerOn:
        case vpcd::kReset:
            card.Reset();
            return std::nullopt;
        default:
            return std::nullopt;
        }
    }
    if (message.empty()) {
        return std::nullopt;
    }
    return card.Transmit(message);
}

VpcdSocket::~VpcdSocket() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

VpcdSocket::VpcdSocket(VpcdSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

VpcdSocket& VpcdSocket::operator=(VpcdSocket&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

VpcdSocket VpcdSocket::Adopt(int fd) {
    return VpcdSocket(fd);
}

std::optional<VpcdSocket> VpcdSocket::Connect(const std::string& host, uint16_t port,
                                              std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        error = std::string("cannot resolve ") + host + ": " + ::gai_strerror(rc);
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
    error = "no address";
    for (addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        VpcdSocket s(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
        if (s.m_fd < 0) {
            error = std::strerror(errno);
            continue;
        }
        if (::connect(s.m_fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            error = std::strerror(errno);
            continue;
        }
        const int one = 1;
        ::setsockopt(s.m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return s;
    }
    return std::nullopt;
}

namespace {

// The 2-byte length of a frame allows no more.
constexpr size_t kMaxMessage = 0xFFFF;

enum class ReadEnd { Done, Closed, Stopped, Error };

// Reads exactly `len` bytes. Waits on `stopFd` too, so a peer that sends a
// header and then nothing cannot keep a SIGTERM from ending the card.
ReadEnd ReadAll(int fd, int stopFd, uint8_t* buf, size_t len) {
    size_t done = 0;
    while (done < len) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const nfds_t count = stopFd >= 0 ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ReadEnd::Error;
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            return ReadEnd::Stopped;
        }
        // Linux clears TCP_QUICKACK on its own; setting it again before each
        // receive keeps ACKs immediate (ignored on a socketpair).
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t n = ::recv(fd, buf + done, len - done, MSG_DONTWAIT);
        if (n == 0) {
            return ReadEnd::Closed;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return errno == ECONNRESET ? ReadEnd::Closed : ReadEnd::Error;
        }
        done += static_cast<size_t>(n);
    }
    return ReadEnd::Done;
}

ServeEnd ToServeEnd(ReadEnd end) {
    switch (end) {
    case ReadEnd::Closed:
        return ServeEnd::PeerClosed;
    case ReadEnd::Stopped:
        return ServeEnd::Stopped;
    default:
        return ServeEnd::Error;
    }
}

bool WriteFrame(int fd, const std::vector<uint8_t>& body) {
    if (body.size() > 0xFFFF) {
        return false;
    }
    std::vector<uint8_t> frame;
    frame.reserve(body.size() + 2);
    frame.push_back(static_cast<uint8_t>(body.size() >> 8));
    frame.push_back(static_cast<uint8_t>(body.size() & 0xFF));
    frame.insert(frame.end(), body.begin(), body.end());
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

ServeEnd ServeVpcd(VpcdSocket& socket, int stopFd, pcscsim::ICardEndpoint& card) {
    const int fd = socket.Fd();
    // A message may be a command with PINs: it lives in secure memory, is
    // wiped as soon as it is answered, and the buffer is wiped on every return.
    velk::SecureBuffer message(kMaxMessage);
    if (!message.Ok()) {
        return ServeEnd::Error;
    }
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const nfds_t count = stopFd >= 0 ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ServeEnd::Error;
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            return ServeEnd::Stopped;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        uint8_t header[2];
        if (const ReadEnd end = ReadAll(fd, stopFd, header, sizeof header); end != ReadEnd::Done) {
            return ToServeEnd(end);
        }
        const size_t len = static_cast<size_t>(header[0]) << 8 | header[1];
        if (len > 0) {
            if (const ReadEnd end = ReadAll(fd, stopFd, message.Data(), len);
                end != ReadEnd::Done) {
                return ToServeEnd(end);
            }
        }
        const auto answer = AnswerVpcdMessage(card, std::span<const uint8_t>(message.Data(), len));
        message.Wipe(len);
        if (answer && !WriteFrame(fd, *answer)) {
            return ServeEnd::PeerClosed;
        }
    }
}

} // namespace vcard
