// Hostile card answers: SCard's commands against a card whose every response
// the fuzzer chooses, including answers of 0 or 1 bytes, answers longer than
// the buffer, PC/SC failures and a card pulled in the middle.
//
// Input layout:
//   byte 0: card type (ATR row, or an ATR matching no row) and T=1 support
//   byte 1: the exchange at which the card is pulled (0: never)
//   then responses, each a length byte L and L bytes, except for
//     L = FF: an answer of 300 bytes, more than any buffer offered;
//     L = FE: the card is pulled while it answers;
//     L = FD: an empty answer, and the next SCardTransmit fails;
//     L = FC: an empty answer, and pcscd goes away.
//   After the last one the card answers nothing at all.

#include "card/SCard.h"
#include "pcscsim/SimControl.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

const std::string kReader = "Fuzz Reader";

const std::vector<uint8_t> kAtrs[] = {
    {0x3B, 0xBA, 0x96, 0x00, 0x81, 0x31, 0x86, 0x5D, 0x00, 0x64, 0x05, 0x60, 0x02, 0x03, 0x31, 0x80,
     0x90, 0x00, 0x66},
    {0x3B, 0xBF, 0x96, 0x00, 0x81, 0x31, 0xFE, 0x5D, 0x00, 0x64, 0x04, 0x11,
     0x03, 0x01, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x7D},
    {0x3B, 0x6F, 0x00, 0xFF, 0x00, 0x68, 0xD2, 0x76, 0x00, 0x00, 0x28, 0xFF, 0x05, 0x1E, 0x31, 0x80,
     0x00, 0x90, 0x00},
    {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x04, 0x12},
    {0x3B, 0xF2, 0x18, 0x00, 0x02, 0xC1, 0x0A, 0x31, 0xFE, 0x58, 0xC8, 0x08, 0x74},
    {0x3B, 0x9F, 0x96, 0x81, 0x31, 0xFE, 0x9D, 0x00, 0x64, 0x05, 0xA0, 0x03,
     0x04, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x28},
    {0x3B, 0x00},
};

class FuzzCard : public pcscsim::ICardEndpoint {
public:
    FuzzCard(std::vector<uint8_t> atr, bool t1, std::span<const uint8_t> script)
        : m_atr(std::move(atr)), m_t1(t1), m_script(script.begin(), script.end()) {}

    std::vector<uint8_t> Atr() const override { return m_atr; }
    void Reset() override {}
    bool SupportsT1() const override { return m_t1; }
    std::vector<uint8_t> Transmit(std::span<const uint8_t>) override {
        if (m_pos >= m_script.size()) {
            return {};
        }
        const std::size_t length = m_script[m_pos++];
        switch (length) {
        case 0xFF:
            return std::vector<uint8_t>(300, 0x90);
        case 0xFE:
            pcscsim::RemoveCard(kReader);
            return {0x90, 0x00};
        case 0xFD:
            pcscsim::FailNext(pcscsim::Call::Transmit, 1, SCARD_F_COMM_ERROR);
            return {};
        case 0xFC:
            pcscsim::StopService();
            return {};
        default:
            break;
        }
        const std::size_t n = std::min(length, m_script.size() - m_pos);
        std::vector<uint8_t> response(m_script.begin() + static_cast<long>(m_pos),
                                      m_script.begin() + static_cast<long>(m_pos + n));
        m_pos += n;
        return response;
    }

private:
    std::vector<uint8_t> m_atr;
    bool m_t1;
    std::vector<uint8_t> m_script;
    std::size_t m_pos = 0;
};

void RunCommands(SCard& card) {
    uint8_t tries = 0;
    const std::vector<uint8_t> six(6, 0x31);
    const std::vector<uint8_t> eight(8, 0x32);
    std::vector<uint8_t> file(4096);
    std::array<uint8_t, 256> record{};
    uint16_t length = 0;

    (void)card.ReadCardNumber();
    (void)card.CardPin1Status();
    (void)card.CardPin2Status();
    (void)card.SigPin1Status();
    (void)card.SigPin2Status();
    (void)card.HasMakerKey();
    (void)card.Verify("3f00df01c000", 0x00, "123456", tries);
    (void)card.WriteMakerKey();
    (void)card.ChangeReferenceData("3f002f02", 0x00, six, six, tries);
    (void)card.ResetRetryCounter("3f00df01c000", 0x81, eight, six, tries);
    if (card.SelectPath("3f00df01c000", true) == 0) {
        (void)card.GetFileSize();
        (void)card.ReadFile(file, length);
    }
    (void)card.SelectPath("3f00/df02:4531", false);
    (void)card.ReadRecord(1, record, length);
    (void)card.WriteFile(std::span<const uint8_t>(file).first(300));
    (void)card.ReadFile(std::span<uint8_t>(file).first(12), length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t rows = std::size(kAtrs);
    const auto& atr = kAtrs[(data[0] & 0x7F) % rows];
    const bool t1 = (data[0] & 0x80) == 0;

    pcscsim::ResetAll();
    pcscsim::AddReader(kReader);
    pcscsim::InsertCard(kReader,
                        std::make_shared<FuzzCard>(atr, t1, std::span(data + 2, size - 2)));
    if (data[1] != 0) {
        pcscsim::PullCardDuringTransmit(kReader, data[1]);
    }
    {
        SCard card(kReader);
        RunCommands(card);
    }
    if (pcscsim::OpenContexts() != 0 || pcscsim::OpenCardHandles() != 0) {
        __builtin_trap(); // a handle was not given back
    }
    return 0;
}
