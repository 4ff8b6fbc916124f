// The text operations of the certificate list: attribute values out of a
// name text, and the conversion of certificate text for display.

#include "monitor/CCertCollection.h"

#include <algorithm>
#include <cstdint>

namespace {

int LeadingOnes(uint8_t byte) {
    int n = 0;
    for (uint8_t mask = 0x80; mask != 0 && (byte & mask) != 0; mask >>= 1) {
        ++n;
    }
    return n;
}

void AppendUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

// Text whose lead and continuation bits fit, decoded strictly: an overlong
// form, a surrogate, a value past U+10FFFF or a 5- or 6-byte sequence
// becomes U+FFFD, as the system's UTF-8 decoder does it.
std::string CleanUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const int n = LeadingOnes(lead);
        if (n == 0) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const std::size_t length = n >= 2 ? static_cast<std::size_t>(n) : 1;
        if (n < 2 || n > 4 || i + length > text.size()) {
            AppendUtf8(kReplacement, out);
            i += std::min(length, text.size() - i);
            continue;
        }
        uint32_t cp = lead & (0x7Fu >> n);
        bool ok = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<uint8_t>(text[i + k]);
            ok = ok && (byte & 0xC0) == 0x80;
            cp = (cp << 6) | (byte & 0x3F);
        }
        static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= kMinimum[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        AppendUtf8(ok ? cp : kReplacement, out);
        i += length;
    }
    return out;
}

// Windows-1252 where it differs from Latin-1 (0x80..0x9F); its five
// unassigned positions keep the Latin-1 control character of that value.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<uint8_t>(c);
        AppendUtf8(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte, out);
    }
    return out;
}

} // namespace

bool CCertCollection::IsUtf8(std::string_view text) {
    int expected = 0;
    for (const char c : text) {
        const int n = LeadingOnes(static_cast<uint8_t>(c));
        if (expected > 0) {
            if (n != 1) {
                return false;
            }
            --expected;
        } else if (n == 1) {
            return false;
        } else if (n >= 2) {
            expected = n - 1;
        }
    }
    return expected == 0;
}

std::string CCertCollection::ToDisplayText(std::string_view text) {
    // Texts are shown whole; the display takes UTF-8, so the code-page steps
    // of an 8-bit display fall away and only the reading of the bytes stays.
    return IsUtf8(text) ? CleanUtf8(text) : Cp1252ToUtf8(text);
}

std::string CCertCollection::ExtractAttribute(std::string_view text, const char* name) {
    if (name == nullptr || *name == '\0') {
        return std::string(text);
    }
    const std::string pattern = std::string(name) + "=";
    std::string result;
    std::size_t position = 0;
    for (;;) {
        const std::size_t found = text.find(pattern, position);
        if (found == std::string_view::npos) {
            return result;
        }
        const std::size_t start = found + pattern.size();
        const std::size_t nextEquals = text.find('=', start);
        std::string_view value =
            text.substr(start, nextEquals == std::string_view::npos ? std::string_view::npos
                                                                    : nextEquals - start);
        // Up to the next attribute's name: the comma before it ends the value,
        // so commas inside the value survive; the last value runs to the end.
        if (nextEquals != std::string_view::npos) {
            const std::size_t comma = value.rfind(',');
            if (comma != std::string_view::npos) {
                value = value.substr(0, comma);
            }
        }
        if (!result.empty()) {
            result += ", ";
        }
        result += value;
        position = start + value.size();
    }
}
