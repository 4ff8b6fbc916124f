#pragma once

// A card endpoint for tests: answers each command with the next scripted
// response, then with a fallback (90 00 unless changed), or through a handler
// that sees the command.

#include "pcscsim/CardEndpoint.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace cardtest {

// "00 A4 00 00" -> bytes; blanks are ignored.
std::vector<uint8_t> Hex(std::string_view text);
// "1234" -> its characters' bytes, as PIN values are sent.
inline std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

class ScriptedCard : public pcscsim::ICardEndpoint {
public:
    using Handler = std::function<std::vector<uint8_t>(std::span<const uint8_t>)>;

    explicit ScriptedCard(std::vector<uint8_t> atr, bool supportsT1 = true)
        : m_atr(std::move(atr)), m_t1(supportsT1) {}

    // The next command gets this answer (data followed by SW1 SW2).
    void Then(std::vector<uint8_t> response) { m_script.push_back(std::move(response)); }
    void Then(std::string_view hex) { Then(Hex(hex)); }
    // The last scripted response, to adjust it.
    std::vector<uint8_t>& Back() { return m_script.back(); }
    // `n` data bytes of `fill` and 90 00.
    static std::vector<uint8_t> Block(std::size_t n, uint8_t fill) {
        std::vector<uint8_t> response(n, fill);
        response.push_back(0x90);
        response.push_back(0x00);
        return response;
    }
    void Fallback(std::vector<uint8_t> response) { m_fallback = std::move(response); }
    void OnCommand(Handler handler) { m_handler = std::move(handler); }
    int Resets() const { return m_resets; }

    std::vector<uint8_t> Atr() const override { return m_atr; }
    void Reset() override { ++m_resets; }
    bool SupportsT1() const override { return m_t1; }
    std::vector<uint8_t> Transmit(std::span<const uint8_t> command) override {
        if (!m_script.empty()) {
            auto response = std::move(m_script.front());
            m_script.pop_front();
            return response;
        }
        if (m_handler) {
            return m_handler(command);
        }
        return m_fallback;
    }

private:
    std::vector<uint8_t> m_atr;
    bool m_t1;
    std::deque<std::vector<uint8_t>> m_script;
    std::vector<uint8_t> m_fallback{0x90, 0x00};
    Handler m_handler;
    int m_resets = 0;
};

// ATRs of the card types.
extern const std::vector<uint8_t> kAtrTcos20;
extern const std::vector<uint8_t> kAtrTcos30;
extern const std::vector<uint8_t> kAtrMicardo;
extern const std::vector<uint8_t> kAtrCardOs8;
extern const std::vector<uint8_t> kAtrCardOs4;
extern const std::vector<uint8_t> kAtrTcos30V2;

} // namespace cardtest
