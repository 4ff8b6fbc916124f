#include "app/catalogue/Msg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string_view>
#include <thread>

namespace {

// The configuration dialog switches the language while the monitor thread
// fetches balloon texts: every fetch must yield one whole text of some
// language, never a torn or fallback result.
TEST(MsgThreads, LanguageSwitchWhileReading) {
    const int saved = CMsg::Language();
    std::atomic<bool> stop{false};
    std::thread reader([&stop] {
        size_t reads = 0;
        while (!stop.load() || reads < 1000) {
            const std::string_view text = CMsg::Get(8002);
            EXPECT_TRUE(text == "Reading smartcard." || text == "SmartCard wird eingelesen." ||
                        text == "Läser information från ditt smartcard.")
                << text;
            ++reads;
        }
    });
    for (int i = 0; i < 20000; ++i) {
        CMsg::SetLanguage(i % 4);
    }
    stop.store(true);
    reader.join();
    CMsg::SetLanguage(saved);
}

} // namespace
