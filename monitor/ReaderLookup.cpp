#include "monitor/CardUtils.h"

#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/PcscReaders.h"
#include "platform/certstore/WideText.h"

bool ReaderForContainer(const std::string& path, std::string& readerName) {
    readerName.clear();
    for (const auto& entry : g_CertCollection.Entries()) {
        if (monitor::EqualsNoCase(entry->GetContainerName(), path)) {
            readerName = entry->GetReaderName();
        }
    }
    return false;
}

std::string ReaderNameFromContainer(const WCHAR* containerName) {
    const monitor::CPcscReaders pcsc;
    const auto& readers = pcsc.Readers();
    const std::string name = velk::WideToUtf8(velk::WideView(containerName));
    const char c = monitor::TailChar(name, 5);
    if (c == '\0' || readers.empty()) {
        return {};
    }
    // Unlike the registrations' own rule, '0' is not special here: the
    // minidriver's digits are the reader's position plus twice the count.
    const auto index = static_cast<uint32_t>(c - '0' - 2 * static_cast<int>(readers.size()));
    return index < readers.size() ? readers[index] : std::string();
}
