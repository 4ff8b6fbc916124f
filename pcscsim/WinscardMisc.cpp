// The protocol control records and the entry points the simulation does not
// model: they fail safely instead of being missing at link time.

#include "pcscsim/SimState.h"

#include <cstdio>

extern "C" {
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};
}

LONG SCardControl(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID, DWORD, LPDWORD lpBytesReturned) {
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG SCardGetAttrib(SCARDHANDLE, DWORD, LPBYTE, LPDWORD) {
    return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG SCardSetAttrib(SCARDHANDLE, DWORD, LPCBYTE, DWORD) {
    return SCARD_E_UNSUPPORTED_FEATURE;
}

const char* pcsc_stringify_error(const LONG code) {
    switch (code) {
    case SCARD_S_SUCCESS:
        return "Command successful.";
    case SCARD_E_CANCELLED:
        return "Command cancelled.";
    case SCARD_E_INVALID_HANDLE:
        return "Invalid handle.";
    case SCARD_E_INVALID_PARAMETER:
        return "Invalid parameter given.";
    case SCARD_E_INVALID_VALUE:
        return "Invalid value given.";
    case SCARD_E_INSUFFICIENT_BUFFER:
        return "Insufficient buffer.";
    case SCARD_E_UNKNOWN_READER:
        return "Unknown reader specified.";
    case SCARD_E_TIMEOUT:
        return "Command timeout.";
    case SCARD_E_SHARING_VIOLATION:
        return "Sharing violation.";
    case SCARD_E_NO_SMARTCARD:
        return "No smart card inserted.";
    case SCARD_E_PROTO_MISMATCH:
        return "Card protocol mismatch.";
    case SCARD_E_NOT_TRANSACTED:
        return "Transaction failed.";
    case SCARD_E_READER_UNAVAILABLE:
        return "Reader/s is unavailable.";
    case SCARD_E_NO_SERVICE:
        return "Service not available.";
    case SCARD_E_NO_READERS_AVAILABLE:
        return "Cannot find a smart card reader.";
    case SCARD_E_UNSUPPORTED_FEATURE:
        return "Feature not supported.";
    case SCARD_W_RESET_CARD:
        return "Card was reset.";
    case SCARD_W_REMOVED_CARD:
        return "Card was removed.";
    default:
        break;
    }
    thread_local char text[48];
    std::snprintf(text, sizeof text, "Unknown error: 0x%08lX", static_cast<unsigned long>(code));
    return text;
}
