#pragma once

#include <cstdint>
#include <span>

// One row of a language table. Every table lists the same ids in ascending
// order and ends with the record whose id is kMsgEndId.
struct CMsgRecord {
    uint32_t id;
    const char* text;
};

inline constexpr uint32_t kMsgEndId = 0xFFFFFFFFu;
inline constexpr const char* kMsgFallback = "----Error in Stringtable----";

// The three compiled-in tables, end record included.
std::span<const CMsgRecord> EnglishMessages();
std::span<const CMsgRecord> GermanMessages();
std::span<const CMsgRecord> SwedishMessages();
