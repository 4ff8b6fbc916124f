#pragma once

// A PC/SC context of the user scope and the names of its readers, released
// on every way out. The reader list is copied out of the PC/SC allocation at
// once, so nothing allocated by PC/SC outlives the constructor.

#include <winscard.h>

#include <string>
#include <vector>

namespace monitor {

class CPcscReaders {
public:
    CPcscReaders();
    ~CPcscReaders();
    CPcscReaders(const CPcscReaders&) = delete;
    CPcscReaders& operator=(const CPcscReaders&) = delete;

    // SCARD_S_SUCCESS, or the result of establishing the context or, after
    // that, of listing the readers.
    LONG Result() const { return m_result; }
    SCARDCONTEXT Context() const { return m_context; }
    const std::vector<std::string>& Readers() const { return m_readers; }

private:
    SCARDCONTEXT m_context = 0;
    bool m_hasContext = false;
    LONG m_result = SCARD_S_SUCCESS;
    std::vector<std::string> m_readers;
};

} // namespace monitor
