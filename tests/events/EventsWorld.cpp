#include "tests/events/EventsWorld.h"

#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "pcscsim/SimControl.h"
#include "vcard/VirtualCard.h"

namespace evtest {

namespace {

// Answers its ATR and nothing else.
class CForeignCard final : public pcscsim::ICardEndpoint {
public:
    std::vector<uint8_t> Atr() const override { return {0x3B, 0x02, 0x14, 0x50}; }
    void Reset() override {}
    std::vector<uint8_t> Transmit(std::span<const uint8_t>) override { return {0x6D, 0x00}; }
};

} // namespace

EventsWorld::EventsWorld() : m_env(VELK_MD_PROVIDER) {
    pcscsim::ResetAll();
}

EventsWorld::~EventsWorld() {
    StopThread();
    m_context.Release();
    pcscsim::ResetAll();
}

bool EventsWorld::Insert(const std::string& reader, const std::string& profile) {
    auto& card = m_cards[reader];
    if (!card) {
        const std::string image = CardImageCopy(profile, reader, m_env.Dir());
        card = vcard::OpenCard(profile, image);
    }
    return card && pcscsim::InsertCard(reader, card);
}

bool EventsWorld::InsertForeign(const std::string& reader) {
    return pcscsim::InsertCard(reader, std::make_shared<CForeignCard>());
}

SCARDCONTEXT EventsWorld::Context() {
    if (!m_context.Valid()) {
        m_context.Establish();
    }
    return m_context.Get();
}

LONG EventsWorld::Poll() {
    return CCardOSEvents::PollReaders(Context());
}

} // namespace evtest
