#include "monitor/events/ReaderSnapshot.h"

#include <algorithm>
#include <utility>

CSnapshot::CSnapshot(const std::vector<std::string>& readers, std::size_t count) {
    const std::size_t n = std::min(count, readers.size());
    m_names.assign(readers.begin(), readers.begin() + static_cast<std::ptrdiff_t>(n));
    m_records.assign(n, SCARD_READERSTATE{});
    Relink();
}

CSnapshot::CSnapshot(const CSnapshot& other) : m_names(other.m_names), m_records(other.m_records) {
    Relink();
}

CSnapshot& CSnapshot::operator=(const CSnapshot& other) {
    if (this != &other) {
        m_names = other.m_names;
        m_records = other.m_records;
        Relink();
    }
    return *this;
}

// A moved string may carry its characters inline, so the names are pointed
// at again after every move as well.
CSnapshot::CSnapshot(CSnapshot&& other) noexcept
    : m_names(std::move(other.m_names)), m_records(std::move(other.m_records)) {
    Relink();
    other.m_names.clear();
    other.m_records.clear();
}

CSnapshot& CSnapshot::operator=(CSnapshot&& other) noexcept {
    if (this != &other) {
        m_names = std::move(other.m_names);
        m_records = std::move(other.m_records);
        Relink();
        other.m_names.clear();
        other.m_records.clear();
    }
    return *this;
}

CSnapshot CSnapshot::Prefix(std::size_t count) const {
    CSnapshot copy;
    const std::size_t n = std::min(count, m_records.size());
    copy.m_names.assign(m_names.begin(), m_names.begin() + static_cast<std::ptrdiff_t>(n));
    copy.m_records.assign(m_records.begin(), m_records.begin() + static_cast<std::ptrdiff_t>(n));
    copy.Relink();
    return copy;
}

void CSnapshot::Relink() {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        m_records[i].szReader = m_names[i].c_str();
    }
}
