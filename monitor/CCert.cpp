#include "monitor/CCert.h"

#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/OperationLock.h"

#include <algorithm>

namespace monitor {

std::recursive_mutex& OperationMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

} // namespace monitor

CCert::CCert() : CCert(0) {}

CCert::CCert(SCARDCONTEXT context) : m_pcsc(context) {
    m_lastError = static_cast<DWORD>(m_pcsc.Result());
}

CCert::~CCert() = default;

int32_t CCert::ReaderIndexFromContainer(std::string_view path) const {
    const char c = monitor::TailChar(path, 5);
    if (c == '\0') {
        return -1; // too short to name a reader
    }
    int32_t index = c - '0';
    if (c != '0') {
        index -= 2 * static_cast<int32_t>(ReaderCount());
    }
    return index;
}

int32_t CCert::ReaderIndex(std::string_view reader) const {
    const auto& readers = m_pcsc.Readers();
    const auto it = std::find(readers.begin(), readers.end(), reader);
    return it == readers.end() ? -1 : static_cast<int32_t>(it - readers.begin());
}

void CCert::FreeCollection() {
    g_CertCollection.Free();
}

void CCert::RemoveReaderFromCollection(const SCARD_READERSTATE* record) {
    if (record == nullptr || record->szReader == nullptr || !g_CertCollection.Exists()) {
        return;
    }
    const std::string reader = record->szReader;
    const int32_t target = ReaderIndex(reader);
    if (target < 0) {
        return;
    }
    g_CertCollection.RemoveIf([&](const CCertCollection& entry) {
        const std::string source = entry.GetReaderName();
        const std::string container = entry.GetContainerName();
        const int32_t index = monitor::EqualsNoCase(source, monitor::kStoreSource)
                                  ? ReaderIndexFromContainer(container)
                                  : ReaderIndex(source);
        return index == -1 || ReaderIndexFromContainer(container) == target ||
               source.find(reader) != std::string::npos;
    });
    NotifyCollectionChanged();
}
