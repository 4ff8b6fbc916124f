#include "app/catalogue/Msg.h"

#include "app/catalogue/MsgTable.h"

#include <atomic>

namespace {

// Written by the configuration dialog's thread, read by every lookup on any
// thread (monitor balloons included). German until start-up applies the
// "Language" setting, matching that setting's default.
std::atomic<int> s_language{1};

std::span<const CMsgRecord> TableFor(int language) {
    switch (language) {
    case 0:
        return EnglishMessages();
    case 2:
        return SwedishMessages();
    default:
        return GermanMessages();
    }
}

} // namespace

const char* CMsg::Get(unsigned id) {
    // Read once per call: a switch made meanwhile applies to the next text.
    const auto table = TableFor(s_language.load(std::memory_order_relaxed));
    for (const CMsgRecord& record : table) {
        if (record.id == kMsgEndId) {
            break;
        }
        if (record.id == id) {
            return record.text;
        }
    }
    return kMsgFallback;
}

void CMsg::SetLanguage(int language) {
    s_language.store(language, std::memory_order_relaxed);
}

int CMsg::Language() {
    return s_language.load(std::memory_order_relaxed);
}
