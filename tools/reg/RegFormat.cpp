#include "tools/reg/RegFormat.h"

#include "util/HexDigit.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace {

struct CTypeName {
    DWORD type;
    const char* name;
};

constexpr CTypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},     {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

uint64_t LittleEndian(const std::vector<BYTE>& data) {
    uint64_t value = 0;
    for (size_t i = data.size(); i > 0; --i) {
        value = (value << 8) | data[i - 1];
    }
    return value;
}

std::string Hex(const std::vector<BYTE>& data, const char* separator) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", data[i]);
        if (i != 0) {
            text += separator;
        }
        text += digits;
    }
    return text;
}

// The strings of string data: up to the first NUL, or all of them for multi-strings.
std::vector<std::string> Strings(const std::vector<BYTE>& data, bool multi) {
    std::vector<std::string> strings;
    std::string current;
    for (const BYTE byte : data) {
        if (byte != 0) {
            current += static_cast<char>(byte);
            continue;
        }
        if (current.empty() && multi) {
            return strings; // the empty string that ends the list
        }
        strings.push_back(current);
        current.clear();
        if (!multi) {
            return strings;
        }
    }
    if (!current.empty() || strings.empty()) {
        strings.push_back(current);
    }
    return strings;
}

bool PrintableString(const std::vector<BYTE>& data) {
    // Text ending in at most one NUL, without control characters.
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == 0) {
            return i + 1 == data.size();
        }
        if (data[i] < 0x20 || data[i] == 0x7f) {
            return false;
        }
    }
    return true;
}

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

void AppendEscaped(std::string& out, char c) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
    out += escaped;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (IsControl(c)) {
            AppendEscaped(quoted, c);
            continue;
        }
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    // Decimal unless it says hex: "010" is ten, as a user reading it takes it.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    if (hex ? velk::HexDigitValue(*digits) < 0 : (*digits < '0' || *digits > '9')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || end == digits || *end != '\0' || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

} // namespace

std::string RegEscapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (IsControl(c)) {
            AppendEscaped(out, c);
        } else {
            out += c;
        }
    }
    return out;
}

std::string RegTypeName(DWORD type) {
    for (const CTypeName& entry : kTypes) {
        if (entry.type == type) {
            return entry.name;
        }
    }
    return "REG_TYPE_" + std::to_string(type);
}

bool RegTypeFromName(const std::string& name, DWORD& type) {
    for (const CTypeName& entry : kTypes) {
        if (strcasecmp(entry.name, name.c_str()) == 0) {
            type = entry.type;
            return true;
        }
    }
    return false;
}

std::string RegDataText(DWORD type, const std::vector<BYTE>& data) {
    char number[32];
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return Strings(data, false).front();
    case REG_MULTI_SZ: {
        std::string text;
        const std::vector<std::string> strings = Strings(data, true);
        for (size_t i = 0; i < strings.size(); ++i) {
            text += (i == 0 ? "" : "\\0") + strings[i];
        }
        return text;
    }
    case REG_DWORD:
    case REG_QWORD:
        if (data.size() == (type == REG_DWORD ? 4u : 8u)) {
            std::snprintf(number, sizeof number, "0x%llx",
                          static_cast<unsigned long long>(LittleEndian(data)));
            return number;
        }
        return Hex(data, "");
    default:
        return Hex(data, "");
    }
}

bool RegDataFromText(DWORD type, const std::string& text, std::vector<BYTE>& data) {
    data.clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        data.assign(text.begin(), text.end());
        data.push_back(0);
        return true;
    case REG_MULTI_SZ: {
        size_t start = 0;
        while (true) {
            const size_t cut = text.find("\\0", start);
            const std::string part = text.substr(start, cut - start);
            data.insert(data.end(), part.begin(), part.end());
            data.push_back(0);
            if (cut == std::string::npos) {
                break;
            }
            start = cut + 2;
        }
        data.push_back(0);
        return true;
    }
    case REG_DWORD:
    case REG_QWORD: {
        const size_t size = type == REG_DWORD ? 4 : 8;
        uint64_t value = 0;
        if (!ParseNumber(text, type == REG_DWORD ? 0xffffffffull : ~0ull, value)) {
            return false;
        }
        for (size_t i = 0; i < size; ++i) {
            data.push_back(static_cast<BYTE>(value >> (8 * i)));
        }
        return true;
    }
    default:
        if (text.size() % 2 != 0) {
            return false;
        }
        for (size_t i = 0; i < text.size(); i += 2) {
            const int high = velk::HexDigitValue(text[i]);
            const int low = velk::HexDigitValue(text[i + 1]);
            if (high < 0 || low < 0) {
                return false;
            }
            data.push_back(static_cast<BYTE>(high * 16 + low));
        }
        return true;
    }
}

std::string RegExportLine(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    std::string line = name.empty() ? std::string("@") : Quoted(name);
    line += '=';
    if (type == REG_SZ && PrintableString(data)) {
        return line + Quoted(Strings(data, false).front());
    }
    if (type == REG_DWORD && data.size() == 4) {
        char number[16];
        std::snprintf(number, sizeof number, "dword:%08llx",
                      static_cast<unsigned long long>(LittleEndian(data)));
        return line + number;
    }
    char prefix[24];
    if (type == REG_BINARY) {
        std::snprintf(prefix, sizeof prefix, "hex:");
    } else {
        std::snprintf(prefix, sizeof prefix, "hex(%lx):", static_cast<unsigned long>(type));
    }
    line += prefix;
    // Long data continues on following lines, 25 bytes each.
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        line += byte;
        if (i + 1 < data.size()) {
            line += (i % 25 == 24) ? ",\\\n  " : ",";
        }
    }
    return line;
}
