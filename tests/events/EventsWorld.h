#pragma once

// The world of one in-process event test: simulated readers, temporary
// hives with the card types and the minidriver stand-in's provider, the
// project's virtual cards, and the monitor at its start with recording sinks
// and a clock that the test turns.

#include "monitor/events/PcscContext.h"
#include "pcscsim/CardEndpoint.h"
#include "tests/events/MonitorProbe.h"
#include "tests/monitor/MonitorEnv.h"

#include <winscard.h>

#include <map>
#include <memory>
#include <string>

namespace evtest {

inline constexpr const char* kReaderA = "Sim Reader 0";
inline constexpr const char* kReaderB = "Sim Reader 1";

class EventsWorld : public CMonitorSeams {
public:
    EventsWorld();
    ~EventsWorld();
    EventsWorld(const EventsWorld&) = delete;
    EventsWorld& operator=(const EventsWorld&) = delete;

    // A virtual card of `profile` into `reader` (the same card again when it
    // was there before and was pulled).
    bool Insert(const std::string& reader, const std::string& profile = "tcos30");
    // A card that only answers its ATR: of another make, unknown to the database.
    bool InsertForeign(const std::string& reader);

    // One poll on the test's own context, as the monitor thread makes it.
    LONG Poll();
    SCARDCONTEXT Context();

private:
    montest::MonitorEnv m_env;
    CPcscContext m_context;
    // The cards made so far, by reader: a card keeps its state when it is
    // pulled and put back.
    std::map<std::string, std::shared_ptr<pcscsim::ICardEndpoint>> m_cards;
};

} // namespace evtest
