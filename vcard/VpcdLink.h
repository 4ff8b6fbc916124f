#pragma once

#include "pcscsim/CardEndpoint.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vcard {

// The virtual-card side of vsmartcard-vpcd, the pcscd reader driver that takes
// a card over TCP. Every message in either direction is a 2-byte big-endian
// length and that many bytes. A 1-byte message from the reader is a control
// message (below); anything longer is a command APDU, answered with the
// response APDU. Only "get ATR" and APDUs are answered.
namespace vpcd {
inline constexpr uint8_t kPowerOff = 0x00;
inline constexpr uint8_t kPowerOn = 0x01;
inline constexpr uint8_t kReset = 0x02;
inline constexpr uint8_t kGetAtr = 0x04;
inline constexpr uint16_t kFirstPort = 35963; // slot 0 of the driver's default reader
} // namespace vpcd

// What the card answers to one message from the reader; nullopt: no answer.
std::optional<std::vector<uint8_t>> AnswerVpcdMessage(pcscsim::ICardEndpoint& card,
                                                      std::span<const uint8_t> message);

// An owned, connected TCP socket to vpcd, with Nagle off: vpcd writes a
// message's length and body separately, and with Nagle and delayed ACK each
// APDU would wait tens of milliseconds.
class VpcdSocket {
public:
    VpcdSocket() = default;
    ~VpcdSocket();
    VpcdSocket(VpcdSocket&& other) noexcept;
    VpcdSocket& operator=(VpcdSocket&& other) noexcept;
    VpcdSocket(const VpcdSocket&) = delete;
    VpcdSocket& operator=(const VpcdSocket&) = delete;

    // One attempt; on failure `error` says why.
    static std::optional<VpcdSocket> Connect(const std::string& host, uint16_t port,
                                             std::string& error);
    // Takes over a connected stream socket (tests use a socketpair).
    static VpcdSocket Adopt(int fd);

    int Fd() const { return m_fd; }

private:
    explicit VpcdSocket(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

enum class ServeEnd {
    PeerClosed, // vpcd closed the connection (pcscd stopped)
    Stopped,    // stopFd became readable (a termination signal)
    Error,      // a malformed frame or a socket error
};

// Serves the card on the socket until one of the ServeEnd reasons. `stopFd`
// (may be -1) is polled together with the socket.
ServeEnd ServeVpcd(VpcdSocket& socket, int stopFd, pcscsim::ICardEndpoint& card);

} // namespace vcard
