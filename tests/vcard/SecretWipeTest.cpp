// Refused PINs leave no copy in freed memory: neither the card operating
// system's split of a change or unblock nor the vpcd link's message buffer.

#include "tests/support/FreedSecretWatch.h"
#include "tests/vcard/CardTestUtil.h"
#include "vcard/VpcdLink.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <unistd.h>

namespace vcardtest {
namespace {

Bytes PinCommand(uint8_t ins, uint8_t ref, std::string_view first, std::string_view second) {
    const Bytes data = Cat(Ascii(first), Ascii(second));
    return Cat({0x00, ins, 0x00, ref, static_cast<uint8_t>(data.size())}, data);
}

Bytes Frame(const Bytes& body) {
    return Cat({static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())}, body);
}

TEST(SecretWipe, RefusedChangeAndUnblockAndTheVpcdMessageBuffer) {
    const Bytes fresh = Ascii("27182818");
    const Bytes overlong = Ascii("27182818284590452");
    // Card PIN1 is 2468 and PIN2 13579; the old values sent are wrong.
    const Bytes change = PinCommand(0x24, 0x00, "1357", "27182818");
    const Bytes unblock = PinCommand(0x2C, 0x01, "9753", "27182818");
    const Bytes tooLong = PinCommand(0x24, 0x00, "2468", "27182818284590452");
    {
        Card card = Fresh("tcos30");
        ASSERT_TRUE(card->SetPin(0x00, Ascii("2468")));
        ASSERT_TRUE(card->SetPin(0x01, Ascii("13579")));
        velktest::FreedSecretWatch watch(fresh);
        EXPECT_EQ(card.Sw(change), 0x63C2);
        EXPECT_EQ(card.Sw(unblock), 0x63C1);
        EXPECT_EQ(watch.Hits(), 0);
    }
    {
        // The right old PIN with a new one the card refuses for its length.
        Card card = Fresh("tcos30");
        ASSERT_TRUE(card->SetPin(0x00, Ascii("2468")));
        velktest::FreedSecretWatch watch(overlong);
        EXPECT_EQ(card.Sw(tooLong), 0x6A80);
        EXPECT_EQ(watch.Hits(), 0);
    }

    // Through the link: the change, a one-byte power-off that would reuse a
    // longer buffer, and the reader going away.
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    auto socket = vcard::VpcdSocket::Adopt(fds[1]);
    Card card = Fresh("tcos30");
    ASSERT_TRUE(card->SetPin(0x00, Ascii("2468")));
    const Bytes frames = Cat(Frame(change), Frame({vcard::vpcd::kPowerOff}));
    uint8_t answer[4] = {};
    vcard::ServeEnd end = vcard::ServeEnd::Error;
    {
        velktest::FreedSecretWatch watch(fresh);
        auto served =
            std::async(std::launch::async, [&] { return vcard::ServeVpcd(socket, -1, *card); });
        ASSERT_EQ(::write(fds[0], frames.data(), frames.size()),
                  static_cast<ssize_t>(frames.size()));
        ASSERT_EQ(::recv(fds[0], answer, sizeof answer, MSG_WAITALL), 4);
        ::close(fds[0]);
        end = served.get();
        EXPECT_EQ(watch.Hits(), 0);
    }
    EXPECT_EQ(end, vcard::ServeEnd::PeerClosed);
    EXPECT_EQ(Bytes(answer, answer + 4), H("00 02 63 C2"));
}

} // namespace
} // namespace vcardtest
