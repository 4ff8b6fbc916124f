#include "minidriver/csp/CspHandle.h"

#include <string_view>

namespace velkcsp {

Target ParseTarget(const char* container) {
    Target target;
    if (container == nullptr) {
        return target;
    }
    const std::string_view text(container);
    constexpr std::string_view kPrefix = "\\\\.\\";
    if (text.substr(0, kPrefix.size()) != kPrefix) {
        target.name = text;
        return target;
    }
    target.prefixed = true;
    const std::string_view rest = text.substr(kPrefix.size());
    const std::size_t split = rest.rfind('\\');
    if (split == std::string_view::npos) {
        target.reader = rest;
        return target;
    }
    target.reader = rest.substr(0, split);
    target.name = rest.substr(split + 1);
    return target;
}

} // namespace velkcsp
