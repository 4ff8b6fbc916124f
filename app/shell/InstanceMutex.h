#pragma once

#include "platform/session/NamedMutex.h"

#include <cstdint>
#include <string>

inline constexpr const char* kInstanceMutexName = "Local\\{2e0caa00-0efd-11dc-8314-0800200c9a66}";

// Holds the single-instance mutex for the life of the process. Constructed before anything
// else of the program; only the existence of the mutex counts, it is never waited on.
class CInstanceMutex {
public:
    CInstanceMutex();

    bool AnotherInstanceRuns() const { return m_lastError == session::kErrorAlreadyExists; }
    std::uint32_t LastError() const { return m_lastError; }

private:
    session::CNamedMutex m_mutex;
    std::string m_name;
    std::uint32_t m_lastError = 0;
};
