// Speed of one personalization from a trust center's P7M after the prompts, through a private
// pcscd with the delivered virtual card: opening the P7M on the card (with the PIN entry
// program's answer) and the tele-password decryption, the match of the delivered certificates
// with the card's keys, and the write with read-back of the certificate files. The APDUs of
// each phase are counted by an SCardTransmit of this program that passes every call on to
// libpcsclite, so the program itself carries no counter.

#include "card/SCard.h"
#include "dialogs/perso/DecryptP7M.h"
#include "dialogs/perso/DeliveryCipher.h"
#include "dialogs/perso/DeliveryWalk.h"
#include "dialogs/perso/P7MPersonalization.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/monitor/DeliveredCard.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/support/VirtualPcscd.h"
#include "vcard/CardImage.h"
#include "vcard/Delivery.h"

#include <dlfcn.h>
#include <winscard.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::atomic<long> g_apdus{0};

using TransmitFn = LONG (*)(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*,
                            LPBYTE, LPDWORD);

} // namespace

// Every module of this process reaches PC/SC through the executable's symbols.
extern "C" LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send,
                              DWORD sendLength, SCARD_IO_REQUEST* recvPci, LPBYTE recv,
                              LPDWORD recvLength) {
    static const auto next = reinterpret_cast<TransmitFn>(dlsym(RTLD_NEXT, "SCardTransmit"));
    ++g_apdus;
    return next(card, sendPci, send, sendLength, recvPci, recv, recvLength);
}

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPin = "123456";
constexpr const char* kTelePassword = "Tele1234";

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Phase {
    double ms = 0;
    long apdus = 0;
};

} // namespace

int main() {
    montest::MonitorEnv env{VELK_CSP_MODULE};
    velktest::VirtualPcscd pcscd(1);
    mdtest::TempDir pinDir;
    mdtest::ScriptedPinEntry pinentry(pinDir);
    const std::string image = env.Path("card.img");
    if (!pcscd.Ok() || !pcscd.InsertCard(0, "tcos30-blank", image)) {
        std::fprintf(stderr, "no private pcscd with the card\n");
        return 1;
    }
    const std::string reader = pcscd.ReaderName(0);
    montest::RegisterReaderCertificates(reader);
    if (!montest::BreakCardPin1NullPin(reader, kPin)) {
        std::fprintf(stderr, "the card's NULL-PIN could not be changed\n");
        return 1;
    }
    const auto cardState = vcard::LoadImage(image);
    const auto tc = vcard::TrustCenterFor(image);
    const auto p7m =
        cardState && tc ? vcard::MakeDeliveryP7M(*cardState, *tc, kTelePassword) : std::nullopt;
    if (!p7m) {
        std::fprintf(stderr, "no P7M for the card\n");
        return 1;
    }

    const int runs = 5;
    Phase decryption;
    Phase matching;
    Phase writing;
    for (int run = 0; run < runs; ++run) {
        pinentry.Queue({kPin});
        long apdus = g_apdus;
        auto start = Clock::now();
        const auto content = DecryptP7M(*p7m);
        const auto ciphertext =
            content ? LocateDeliveryCiphertext(content->Bytes()) : std::span<const uint8_t>{};
        std::array<uint8_t, kTelePasswordKeySize> key{};
        velk::SecureBuffer plaintext(DeliveryPlaintextSize(ciphertext.size()));
        if (ciphertext.empty() || !TelePasswordKey(kTelePassword, key) ||
            !DecryptDelivery(ciphertext, key, plaintext)) {
            std::fprintf(stderr, "the P7M did not open\n");
            return 1;
        }
        decryption.ms += MsSince(start);
        decryption.apdus += g_apdus - apdus;

        apdus = g_apdus;
        start = Clock::now();
        SCard card(reader);
        const SlotCertificates matched = MatchCardCertificates(card, plaintext.Bytes());
        matching.ms += MsSince(start);
        matching.apdus += g_apdus - apdus;

        apdus = g_apdus;
        start = Clock::now();
        const SlotWrites writes = WriteCardCertificates(card, plaintext.Bytes(), matched);
        writing.ms += MsSince(start);
        writing.apdus += g_apdus - apdus;
        for (std::size_t slot = 0; slot < 3; ++slot) {
            if (writes[slot] != SlotWrite::Written) {
                std::fprintf(stderr, "slot %zu was not written\n", slot);
                return 1;
            }
        }
    }
    std::printf("one personalization (3 certificates, mean of %d runs through pcscd + vpcd):\n",
                runs);
    for (const auto& [name, phase] :
         {std::pair{"decryption (P7M on the card, Triple-DES)", decryption},
          std::pair{"matching (4 key files)", matching},
          std::pair{"writing with read-back", writing}}) {
        std::printf("  %-42s %8.1f ms  %5ld APDUs\n", name, phase.ms / runs, phase.apdus / runs);
    }
    return 0;
}
