#include "app/shell/InstanceMutex.h"

CInstanceMutex::CInstanceMutex()
    : m_mutex(session::CreateMutexA(false, kInstanceMutexName)), m_name(kInstanceMutexName),
      m_lastError(session::GetLastError()) {}
