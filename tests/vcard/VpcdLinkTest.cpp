// vpcd's protocol, spoken over a socketpair the way the driver speaks it.

#include "vcard/VpcdLink.h"
#include "tests/vcard/CardTestUtil.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <unistd.h>

namespace vcardtest {
namespace {

// The reader's end of a socketpair, with the card's end given to the link.
struct ReaderEnd {
    explicit ReaderEnd(int end) : fd(end) {}
    void Send(const Bytes& body) { ASSERT_TRUE(SendFrame(fd.Get(), body)); }
    Bytes Receive() { return ReceiveFrame(fd.Get()); }
    void Close() { fd.Close(); }
    Fd fd;
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
