#include "card/CardPath.h"

#include "util/HexDigit.h"
#include <algorithm>

namespace scard {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == ':' || c == ' ';
}

} // namespace

std::optional<ParsedPath> ParseHexPath(std::string_view text) {
    ParsedPath path;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSeparator(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || path.length == kMaxPathBytes) {
            return std::nullopt;
        }
        const int high = velk::HexDigitValue(text[i]);
        const int low = velk::HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        path.bytes[path.length++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    if (path.length == 0 || path.length % 2 != 0) {
        return std::nullopt;
    }
    return path;
}

std::size_t CoveredPrefix(std::span<const uint8_t> selected, std::span<const uint8_t> path) {
    const std::size_t s = selected.size();
    const std::size_t p = path.size();
    if (p >= 2 && s == p - 2) {
        return std::equal(selected.begin(), selected.end(), path.begin()) ? s : 0;
    }
    const std::size_t limit = std::min(s, p >= 2 ? p - 2 : 0);
    std::size_t covered = 0;
    while (covered + 2 <= limit && path[covered] == selected[covered] &&
           path[covered + 1] == selected[covered + 1]) {
        covered += 2;
    }
    return covered;
}

} // namespace scard
