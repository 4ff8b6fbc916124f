#include "monitor/events/PcscContext.h"

LONG CPcscContext::Establish() {
    Release();
    SCARDCONTEXT context = 0;
    const LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (rv == SCARD_S_SUCCESS) {
        m_context = context;
        m_valid = true;
    }
    return rv;
}

void CPcscContext::Release() {
    if (m_valid) {
        SCardReleaseContext(m_context);
    }
    m_context = 0;
    m_valid = false;
}

bool IsContextLost(LONG result) {
    switch (result) {
    case SCARD_E_NO_SERVICE:
    case SCARD_E_SERVICE_STOPPED:
    case SCARD_F_COMM_ERROR:
    case SCARD_E_INVALID_HANDLE:
        return true;
    default:
        return false;
    }
}
