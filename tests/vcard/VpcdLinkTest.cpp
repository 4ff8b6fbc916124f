// vpcd's protocol, spoken over a socketpair the way the driver speaks it.

#include "vcard/VpcdLink.h"
#include "tests/vcard/CardTestUtil.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <unistd.h>

namespace vcardtest {
namespace {

// The reader's end: length and body in two writes, as the driver does.
class ReaderEnd {
public:
    explicit ReaderEnd(int fd) : m_fd(fd) {}
    ~ReaderEnd() { Close(); }
    ReaderEnd(const ReaderEnd&) = delete;
    ReaderEnd& operator=(const ReaderEnd&) = delete;
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    void Send(const Bytes& body) {
        const uint8_t len[2] = {static_cast<uint8_t>(body.size() >> 8),
                                static_cast<uint8_t>(body.size())};
        ASSERT_EQ(::write(m_fd, len, 2), 2);
        if (!body.empty()) {
            ASSERT_EQ(::write(m_fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
        }
    }
    Bytes Receive() {
        uint8_t len[2];
        if (!ReadAll(len, 2)) {
            return {};
        }
        Bytes body(static_cast<size_t>(len[0] << 8 | len[1]));
        if (!ReadAll(body.data(), body.size())) {
            return {};
        }
        return body;
    }

private:
    bool ReadAll(uint8_t* p, size_t n) {
        while (n > 0) {
            const ssize_t r = ::read(m_fd, p, n);
            if (r <= 0) {
                return false;
            }
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    int m_fd;
};

TEST(VpcdLink, AnswersAtrAndApdusAndEndsWhenTheReaderCloses) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    auto socket = vcard::VpcdSocket::Adopt(fds[1]);
    ReaderEnd reader(fds[0]);
    Card card = Fresh("tcos20");
    auto served =
        std::async(std::launch::async, [&] { return vcard::ServeVpcd(socket, -1, *card); });

    reader.Send({vcard::vpcd::kPowerOn}); // no answer to power and reset
    reader.Send({vcard::vpcd::kGetAtr});
    EXPECT_EQ(reader.Receive(), card->Atr());
    reader.Send(H("00 A4 02 00 02 2F 02 FF"));
    EXPECT_EQ(SwOf(reader.Receive()), 0x9000);
    // A reset forgets the selection: READ BINARY has no EF any more.
    reader.Send({vcard::vpcd::kReset});
    reader.Send(H("00 B0 00 00 02"));
    EXPECT_EQ(reader.Receive(), H("69 86"));
    reader.Send(H("00 B0")); // too short for an APDU, answered all the same
    EXPECT_EQ(reader.Receive(), H("67 00"));

    reader.Close();
    EXPECT_EQ(served.get(), vcard::ServeEnd::PeerClosed);
}

TEST(VpcdLink, StopsWhenTheStopDescriptorFires) {
    int fds[2];
    int stop[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    ASSERT_EQ(::pipe(stop), 0);
    auto socket = vcard::VpcdSocket::Adopt(fds[1]);
    ReaderEnd reader(fds[0]);
    Card card = Fresh("micardo");
    auto served =
        std::async(std::launch::async, [&] { return vcard::ServeVpcd(socket, stop[0], *card); });
    reader.Send({vcard::vpcd::kGetAtr});
    EXPECT_EQ(reader.Receive(), card->Atr());
    // A frame header announcing five bytes that never come must not keep the
    // stop request from ending the card.
    const uint8_t header[2] = {0x00, 0x05};
    ASSERT_EQ(::write(fds[0], header, sizeof header), 2);
    ASSERT_EQ(::write(stop[1], "x", 1), 1);
    EXPECT_EQ(served.get(), vcard::ServeEnd::Stopped);
    ::close(stop[0]);
    ::close(stop[1]);
}

TEST(VpcdLink, ConnectFailsCleanlyWhereNothingListens) {
    std::string error;
    EXPECT_FALSE(vcard::VpcdSocket::Connect("127.0.0.1", 1, error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(vcard::VpcdSocket::Connect("no-such-host.invalid", 35963, error).has_value());
}

} // namespace
} // namespace vcardtest
