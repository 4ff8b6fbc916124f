#include "monitor/PcscReaders.h"

#include "monitor/ContainerName.h"

#include <cstring>

namespace monitor {

CPcscReaders::CPcscReaders() : CPcscReaders(0) {}

CPcscReaders::CPcscReaders(SCARDCONTEXT context) : m_context(context) {
    if (m_context == 0) {
        m_result = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context);
        if (m_result != SCARD_S_SUCCESS) {
            m_context = 0;
            return;
        }
        m_hasContext = true;
    }
    ListReaders();
}

void CPcscReaders::ListReaders() {
    char* list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    m_result = SCardListReaders(m_context, kReaderGroup, reinterpret_cast<char*>(&list), &length);
    if (m_result != SCARD_S_SUCCESS || list == nullptr) {
        return;
    }
    // A multi-string: names ended by NUL, the list by an empty name. The
    // walk also stops at the length PC/SC reported, whatever the content.
    const char* end = list + length;
    for (const char* name = list; name < end && *name != '\0';) {
        const std::size_t n = strnlen(name, static_cast<std::size_t>(end - name));
        m_readers.emplace_back(name, n);
        name += n + 1;
    }
    SCardFreeMemory(m_context, list);
}

CPcscReaders::~CPcscReaders() {
    if (m_hasContext) {
        SCardReleaseContext(m_context);
    }
}

} // namespace monitor
