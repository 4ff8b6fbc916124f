#pragma once

// One simulated reader with a scripted card, and the APDUs that reached it.

#include "card/SCard.h"
#include "pcscsim/SimControl.h"
#include "tests/card/ScriptedCard.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardtest {

inline const std::string kReader = "Sim Reader 00 00";

class CardTest : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        pcscsim::AddReader(kReader);
    }
    void TearDown() override {
        m_card.reset();
        EXPECT_EQ(pcscsim::OpenContexts(), 0u);
        EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
        EXPECT_EQ(pcscsim::OutstandingAllocations(), 0u);
        pcscsim::ResetAll();
    }

    // Inserts a scripted card with `atr`; the returned card stays scriptable.
    ScriptedCard& Insert(const std::vector<uint8_t>& atr, bool t1 = true) {
        m_endpoint = std::make_shared<ScriptedCard>(atr, t1);
        pcscsim::InsertCard(kReader, m_endpoint);
        return *m_endpoint;
    }

    // Connects (which selects the master file) and forgets that exchange.
    SCard& Connect() {
        m_card.emplace(kReader);
        pcscsim::ClearTrace(kReader);
        return *m_card;
    }

    // Closes the card, swaps in another with `atr` and connects to it.
    SCard& Reinsert(const std::vector<uint8_t>& atr, bool t1 = true) {
        m_card.reset();
        pcscsim::RemoveCard(kReader);
        Insert(atr, t1);
        return Connect();
    }

    std::vector<std::vector<uint8_t>> Sent() const {
        std::vector<std::vector<uint8_t>> commands;
        for (const auto& exchange : pcscsim::Trace(kReader)) {
            commands.push_back(exchange.command);
        }
        return commands;
    }

    std::shared_ptr<ScriptedCard> m_endpoint;
    std::optional<SCard> m_card;
};

} // namespace cardtest
