#include "asn1/CASN1.h"
#include "asn1/DerHeader.h"

#include <algorithm>

using velk::asn1::AppendHex;
using velk::asn1::DerHeader;
using velk::asn1::ReadHeader;

namespace {

std::optional<DerHeader> HeaderAt(const Asn1Cursor& element) {
    return ReadHeader(element.pos, element.Remaining());
}

} // namespace

Asn1Cursor CASN1::Start(std::span<const uint8_t> data) {
    if (data.empty()) {
        return {};
    }
    Asn1Cursor cursor{0, data.data(), data.data() + data.size()};
    if (const auto header = HeaderAt(cursor)) {
        cursor.size = header->Total();
    }
    return cursor;
}

uint32_t CASN1::TagOf(const Asn1Cursor& element) {
    if (!element.Readable()) {
        return 0;
    }
    const uint32_t identifier = *element.pos;
    return (identifier & 0xC0u) == CLASS_UNIVERSAL ? identifier & 0x1Fu : identifier;
}

uint32_t CASN1::ClassOf(const Asn1Cursor& element) {
    return element.Readable() ? *element.pos & 0xC0u : 0;
}

uint32_t CASN1::TagNumberOf(const Asn1Cursor& element) {
    return element.Readable() ? *element.pos & 0x1Fu : 0;
}

uint32_t CASN1::ReadLength(const Asn1Cursor& base, uint32_t& offset) {
    const auto remaining = base.Remaining();
    if (offset >= remaining) {
        return 0;
    }
    const auto header = ReadHeader(base.pos + offset, remaining - offset);
    if (!header) {
        return 0;
    }
    offset += header->headerSize;
    return header->contentLength;
}

bool CASN1::Enter(const Asn1Cursor& element, Asn1Cursor& cursor) {
    const Asn1Cursor from = element; // `cursor` may be `element` itself
    const auto header = HeaderAt(from);
    if (!header) {
        cursor = {};
        return false;
    }
    uint32_t skip = header->headerSize;
    if (*from.pos == 0x03) {
        // A BIT STRING that wraps an encoding (a public key) is entered past
        // its unused-bits octet, like a constructed element.
        if (header->contentLength == 0) {
            cursor = {};
            return false;
        }
        ++skip;
    }
    cursor.pos = from.pos + skip;
    cursor.end = from.end;
    cursor.size = 0;
    if (header->contentLength == 0) {
        return true;
    }
    const auto inner = HeaderAt(cursor);
    if (!inner) {
        return false;
    }
    cursor.size = inner->Total();
    return true;
}

bool CASN1::Next(const Asn1Cursor& element, Asn1Cursor& cursor) {
    const Asn1Cursor from = element; // `cursor` may be `element` itself
    const auto header = HeaderAt(from);
    if (!header) {
        cursor = {};
        return false;
    }
    if (header->Total() > cursor.size) {
        return false;
    }
    cursor.pos = from.pos + header->Total();
    cursor.end = from.end;
    // End-of-contents octets and the 00 or FF padding of a card file end the
    // elements, and so does the end of the data.
    if (!cursor.Readable() || *cursor.pos == 0x00 || *cursor.pos == 0xFF) {
        return false;
    }
    const auto next = HeaderAt(cursor);
    if (!next) {
        cursor.size = 0;
        return false;
    }
    cursor.size = next->Total();
    return true;
}

std::string CASN1::ContentText(const Asn1Cursor& element, uint32_t size) {
    const auto header = HeaderAt(element);
    if (!header || size < header->headerSize || size > element.Remaining()) {
        return {};
    }
    const auto* first = element.pos + header->headerSize;
    const auto* last = element.pos + size;
    // The text ends at a NUL octet, as a C string would.
    return std::string(first, std::find(first, last, uint8_t{0}));
}

std::string CASN1::ContentHex(const Asn1Cursor& element) {
    std::string text;
    AppendHex(ContentBytes(element), text);
    return text;
}

std::string CASN1::BitStringHex(const Asn1Cursor& element) {
    const auto content = ContentBytes(element);
    std::string text;
    if (!content.empty()) {
        AppendHex(content.subspan(1), text);
    }
    return text;
}

std::span<const uint8_t> CASN1::ElementBytes(const Asn1Cursor& element) {
    if (element.size == 0 || element.size > element.Remaining()) {
        return {};
    }
    return {element.pos, element.size};
}

std::span<const uint8_t> CASN1::ContentBytes(const Asn1Cursor& element) {
    const auto header = HeaderAt(element);
    if (!header) {
        return {};
    }
    return {element.pos + header->headerSize, header->contentLength};
}
