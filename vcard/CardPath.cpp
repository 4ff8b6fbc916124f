#include "vcard/CardPath.h"

#include "util/HexDigit.h"
#include <cstdio>

namespace vcard {

namespace {} // namespace

std::optional<CardPath> ParseCardPath(std::string_view text) {
    CardPath path;
    unsigned fid = 0;
    int digits = 0;
    for (char c : text) {
        if (c == '/' || c == ':' || c == ' ') {
            continue;
        }
        const int v = velk::HexDigitValue(c);
        if (v < 0) {
            return std::nullopt;
        }
        fid = (fid << 4) | static_cast<unsigned>(v);
        if (++digits == 4) {
            path.push_back(static_cast<uint16_t>(fid));
            fid = 0;
            digits = 0;
        }
    }
    if (digits != 0 || path.empty() || path.front() != kMasterFile) {
        return std::nullopt;
    }
    return path;
}

std::string FormatCardPath(const CardPath& path) {
    std::string out;
    out.reserve(path.size() * 4);
    for (uint16_t fid : path) {
        char buf[5];
        std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(fid));
        out += buf;
    }
    return out;
}

} // namespace vcard
