#include "minidriver/md/Readers.h"

#include "card/PcscOwners.h"

#include <winscard.h>

namespace velkmd {

uint32_t ListReaders(std::vector<std::string>& out) {
    out.clear();
    SCARDCONTEXT raw = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &raw);
    if (rv != SCARD_S_SUCCESS) {
        return static_cast<uint32_t>(rv);
    }
    scard::ContextOwner context(raw);
    DWORD length = 0;
    rv = SCardListReaders(context.Get(), nullptr, nullptr, &length);
    if (rv != SCARD_S_SUCCESS) {
        return static_cast<uint32_t>(rv);
    }
    std::string names(length, '\0');
    rv = SCardListReaders(context.Get(), nullptr, names.data(), &length);
    if (rv != SCARD_S_SUCCESS) {
        return static_cast<uint32_t>(rv);
    }
    names.resize(std::min<std::size_t>(length, names.size()));
    for (std::size_t at = 0; at < names.size() && names[at] != '\0';) {
        const std::size_t end = names.find('\0', at);
        const std::size_t stop = end == std::string::npos ? names.size() : end;
        out.emplace_back(names, at, stop - at);
        at = stop + 1;
    }
    return out.empty() ? static_cast<uint32_t>(SCARD_E_NO_READERS_AVAILABLE) : 0;
}

} // namespace velkmd
