// Hostile card answers to the minidriver's reads: the container listing, the
// search for one container and the certificate read, against a virtual T-COS
// 3.0 card whose every answer the fuzzer may cut short, lengthen, bend or
// replace, so that the reads meet short blocks with 90 00, certificate
// headers that lie about their length, and cards pulled in the middle.
//
// Input layout:
//   byte 0: the card (0 T-COS 3.0, 1 T-COS 3.0 V2, 2 a blank T-COS 3.0)
//   then one pair (op, arg) per exchange, from the first on:
//     op & 7 = 0: the card's answer as it is
//              1: only the first `arg` data bytes, with the status word
//              2: the status word replaced by a row of kStatusWords
//              3: one data byte changed
//              4: an empty answer
//              5: the card is pulled while it answers
//              6: an empty answer, and the next SCardTransmit fails
//              7: an empty answer, and pcscd goes away
//     op & 0x80: `arg` more data bytes before the status word
//   After the last pair the card answers as it is.

#include "card/CardType.h"
#include "minidriver/md/Minidriver.h"
#include "pcscsim/SimControl.h"
#include "vcard/VirtualCard.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

const std::string kReader = "Fuzz Reader";
const char* const kProfiles[] = {"tcos30", "tcos30v2", "tcos30-blank"};
const std::array<std::array<uint8_t, 2>, 8> kStatusWords{{{0x90, 0x00},
                                                          {0x62, 0x82},
                                                          {0x6A, 0x82},
                                                          {0x6B, 0x00},
                                                          {0x67, 0x00},
                                                          {0x61, 0x10},
                                                          {0x6C, 0x40},
                                                          {0x00, 0x00}}};

// One card of each profile for the whole run: making its keys and
// certificates takes far longer than a run, and the reads change nothing.
std::shared_ptr<vcard::VirtualCard> CardOf(std::size_t index) {
    static std::map<std::size_t, std::shared_ptr<vcard::VirtualCard>> cards;
    auto& card = cards[index];
    if (!card) {
        vcard::CardProfile profile = *vcard::FindProfile(kProfiles[index]);
        if (profile.keyBits > 0) {
            profile.keyBits = 1024;
        }
        card = vcard::OpenCard(profile, "");
    }
    return card;
}

class BentCard : public pcscsim::ICardEndpoint {
public:
    BentCard(std::shared_ptr<vcard::VirtualCard> card, std::span<const uint8_t> script)
        : m_card(std::move(card)), m_script(script.begin(), script.end()) {}

    std::vector<uint8_t> Atr() const override { return m_card->Atr(); }
    void Reset() override { m_card->Reset(); }
    bool SupportsT1() const override { return m_card->SupportsT1(); }
    std::vector<uint8_t> Transmit(std::span<const uint8_t> command) override {
        std::vector<uint8_t> answer = m_card->Transmit(command);
        if (m_pos + 1 >= m_script.size() || answer.size() < 2) {
            return answer;
        }
        const uint8_t op = m_script[m_pos];
        const uint8_t arg = m_script[m_pos + 1];
        m_pos += 2;
        std::vector<uint8_t> data(answer.begin(), answer.end() - 2);
        std::array<uint8_t, 2> sw{answer[answer.size() - 2], answer.back()};
        switch (op & 7) {
        case 1:
            data.resize(std::min<std::size_t>(data.size(), arg));
            break;
        case 2:
            sw = kStatusWords[arg % kStatusWords.size()];
            break;
        case 3:
            if (!data.empty()) {
                data[arg % data.size()] ^= static_cast<uint8_t>(op | 1);
            }
            break;
        case 4:
            return {};
        case 5:
            pcscsim::RemoveCard(kReader);
            return answer;
        case 6:
            pcscsim::FailNext(pcscsim::Call::Transmit, 1, SCARD_F_COMM_ERROR);
            return {};
        case 7:
            pcscsim::StopService();
            return {};
        default:
            break;
        }
        if ((op & 0x80) != 0) {
            data.insert(data.end(), arg, 0x30);
        }
        data.insert(data.end(), sw.begin(), sw.end());
        return data;
    }

private:
    std::shared_ptr<vcard::VirtualCard> m_card;
    std::vector<uint8_t> m_script;
    std::size_t m_pos = 0;
};

void RunReads() {
    std::vector<velkmd::Container> containers;
    (void)velkmd::ListContainers(kReader, containers);
    for (const velkmd::Container& container : containers) {
        velkmd::Container found;
        (void)velkmd::FindContainer(kReader, container.name, found);
        std::vector<uint8_t> der;
        (void)velkmd::ReadCertificate(kReader, container, der);
    }
    // Also the slots the listing left out: the read must not trust the listing.
    for (const velkmd::CardSlot& slot : velkmd::SlotsOf(scard::kTcos30)) {
        std::vector<uint8_t> der;
        (void)velkmd::ReadCertificate(kReader, {std::string(36, '0'), slot}, der);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No broadcasts of the busy animation to a desktop bus.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("XDG_RUNTIME_DIR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const auto card = CardOf(data[0] % std::size(kProfiles));
    if (!card) {
        return 0;
    }
    card->Reset();
    pcscsim::ResetAll();
    pcscsim::AddReader(kReader);
    pcscsim::InsertCard(kReader, std::make_shared<BentCard>(card, std::span(data + 1, size - 1)));
    RunReads();
    if (pcscsim::OpenContexts() != 0 || pcscsim::OpenCardHandles() != 0) {
        __builtin_trap(); // a handle was not given back
    }
    return 0;
}
