#pragma once

// One snapshot of the readers: a reader-state record per reader, in the
// order of the reader list, each naming its reader through a copy that the
// snapshot owns. The records are pcsc-lite's SCARD_READERSTATE as they are
// (its DWORD width and ATR field size), so that the array goes to
// SCardGetStatusChange and a record to CCert unchanged.

#include <winscard.h>

#include <cstddef>
#include <string>
#include <vector>

// pcsc-lite counts the events of a reader in the upper 16 bits of
// dwEventState; only the lower bits are states.
inline constexpr DWORD kReaderStateBits = 0x0000FFFF;

inline bool IsCardPresent(const SCARD_READERSTATE& record) {
    return (record.dwEventState & kReaderStateBits & SCARD_STATE_PRESENT) != 0;
}
inline bool IsReaderEmpty(const SCARD_READERSTATE& record) {
    return (record.dwEventState & kReaderStateBits & SCARD_STATE_EMPTY) != 0;
}

class CSnapshot {
public:
    CSnapshot() = default;
    // Records for the first `count` names (fewer when the list is shorter),
    // every other field zero.
    CSnapshot(const std::vector<std::string>& readers, std::size_t count);
    CSnapshot(const CSnapshot& other);
    CSnapshot& operator=(const CSnapshot& other);
    CSnapshot(CSnapshot&& other) noexcept;
    CSnapshot& operator=(CSnapshot&& other) noexcept;
    ~CSnapshot() = default;

    std::size_t Size() const { return m_records.size(); }
    bool Empty() const { return m_records.empty(); }
    SCARD_READERSTATE& operator[](std::size_t i) { return m_records[i]; }
    const SCARD_READERSTATE& operator[](std::size_t i) const { return m_records[i]; }
    SCARD_READERSTATE* Data() { return m_records.data(); }

    // A copy of the first `count` records (all of them when there are fewer).
    CSnapshot Prefix(std::size_t count) const;

private:
    // Points each record at its own name copy again.
    void Relink();

    std::vector<std::string> m_names;
    std::vector<SCARD_READERSTATE> m_records;
};
