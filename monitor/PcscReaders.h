#pragma once

// A PC/SC context of the user scope and the names of its readers, released
// on every way out. The reader list is copied out of the PC/SC allocation at
// once, so nothing allocated by PC/SC outlives the constructor. A context
// can also be borrowed from the caller (the monitor polls ten times a second
// on one context of its own); a borrowed context is not released.

#include <winscard.h>

#include <string>
#include <vector>

namespace monitor {

class CPcscReaders {
public:
    CPcscReaders();
    // Lists the readers on `context`, which stays the caller's; 0 means none:
    // a context of its own is established then.
    explicit CPcscReaders(SCARDCONTEXT context);
    ~CPcscReaders();
    CPcscReaders(const CPcscReaders&) = delete;
    CPcscReaders& operator=(const CPcscReaders&) = delete;

    // SCARD_S_SUCCESS, or the result of establishing the context or, after
    // that, of listing the readers.
    LONG Result() const { return m_result; }
    SCARDCONTEXT Context() const { return m_context; }
    const std::vector<std::string>& Readers() const { return m_readers; }

private:
    void ListReaders();

    SCARDCONTEXT m_context = 0;
    bool m_hasContext = false; // established here, released here
    LONG m_result = SCARD_S_SUCCESS;
    std::vector<std::string> m_readers;
};

} // namespace monitor
