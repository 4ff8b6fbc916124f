// Speed of the virtual card: commands in process, image writes, and APDU
// round trips through a private pcscd and vsmartcard-vpcd.

#include "tests/support/VirtualPcscd.h"
#include "vcard/VirtualCard.h"

#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void InProcess() {
    auto profile = *vcard::FindProfile("tcos30");
    profile.keyBits = 0;
    auto card = vcard::OpenCard(profile, "");
    const Bytes select = {0x00, 0xA4, 0x08, 0x04, 0x04, 0xDF, 0x01, 0xC0, 0x00, 0xFF};
    const Bytes read = {0x00, 0xB0, 0x00, 0x00, 0x80};
    const int n = 100000;
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        card->Transmit(select);
        card->Transmit(read);
    }
    std::printf("in process: %.2f us per APDU (SELECT by path, READ BINARY)\n",
                MsSince(start) * 1000.0 / (2.0 * n));

    const std::string image =
        (std::filesystem::temp_directory_path() / ("bench-vcard-" + std::to_string(getpid())))
            .string();
    auto saved = vcard::OpenCard(profile, image);
    saved->Transmit(select);
    Bytes update = {0x00, 0xD6, 0x00, 0x00, 0x80};
    update.resize(5 + 128, 0x5A);
    const int writes = 200;
    start = Clock::now();
    for (int i = 0; i < writes; ++i) {
        saved->Transmit(update);
    }
    std::printf("in process with image: %.3f ms per UPDATE BINARY (image rewritten each time)\n",
                MsSince(start) / writes);
    std::filesystem::remove(image);
}

void ThroughPcscd() {
    velktest::VirtualPcscd pcscd(1);
    if (!pcscd.Ok()) {
        std::printf("through pcscd: no private pcscd\n");
        return;
    }
    auto start = Clock::now();
    if (!pcscd.InsertCard(0, "tcos20", "")) {
        std::printf("through pcscd: card not inserted\n");
        return;
    }
    std::printf("through pcscd: insertion seen after %.0f ms\n", MsSince(start));
    SCARDCONTEXT ctx = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS ||
        SCardConnect(ctx, pcscd.ReaderName(0).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1,
                     &handle, &protocol) != SCARD_S_SUCCESS) {
        std::printf("through pcscd: connect failed\n");
        return;
    }
    const Bytes select = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0xFF};
    Bytes response(258);
    const int n = 2000;
    start = Clock::now();
    for (int i = 0; i < n; ++i) {
        DWORD len = static_cast<DWORD>(response.size());
        SCardTransmit(handle, SCARD_PCI_T1, select.data(), static_cast<DWORD>(select.size()),
                      nullptr, response.data(), &len);
    }
    std::printf("through pcscd and vpcd: %.3f ms per APDU round trip\n", MsSince(start) / n);
    SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(ctx);
    start = Clock::now();
    pcscd.RemoveCard(0);
    std::printf("through pcscd: removal seen after %.0f ms\n", MsSince(start));
}

} // namespace

int main() {
    InProcess();
    ThroughPcscd();
    return 0;
}
