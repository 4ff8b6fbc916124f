#include "monitor/ContainerName.h"

#include <algorithm>

namespace monitor {

std::string_view ContainerTail(std::string_view name) {
    return name.size() > kTailLength ? name.substr(name.size() - kTailLength) : name;
}

char TailChar(std::string_view name, std::size_t index) {
    const std::string_view tail = ContainerTail(name);
    return index < tail.size() ? tail[index] : '\0';
}

bool HasContainerMarker(std::string_view name) {
    return name.find(kContainerMarker) != std::string_view::npos;
}

std::string ReaderPrefix(std::string_view reader) {
    std::string prefix = "\\\\.\\";
    prefix += reader;
    prefix += '\\';
    return prefix;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace monitor
