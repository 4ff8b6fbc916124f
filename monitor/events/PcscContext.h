#pragma once

// A PC/SC context of the user scope, released on every way out, that can be
// given up and established again: pcscd is started on demand and restarted
// by its service manager, and after a restart a context of the old daemon
// answers SCARD_E_NO_SERVICE to every call (while SCardIsValidContext may
// still call it valid), so it has to be replaced, not reused.

#include <winscard.h>

class CPcscContext {
public:
    CPcscContext() = default;
    ~CPcscContext() { Release(); }
    CPcscContext(const CPcscContext&) = delete;
    CPcscContext& operator=(const CPcscContext&) = delete;

    // Establishes a new context (releasing one held before); the PC/SC result.
    LONG Establish();
    void Release();
    bool Valid() const { return m_valid; }
    SCARDCONTEXT Get() const { return m_context; }

private:
    SCARDCONTEXT m_context = 0;
    bool m_valid = false;
};

// True for the results that mean the context is of no further use: the
// resource manager is gone or restarted, or no longer knows the context.
bool IsContextLost(LONG result);
