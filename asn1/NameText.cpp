#include "asn1/CASN1.h"

namespace {

bool IsRenderedString(uint32_t tag) {
    return tag == CASN1::TAG_UTF8_STRING || tag == CASN1::TAG_PRINTABLE_STRING ||
           tag == CASN1::TAG_IA5_STRING || tag == CASN1::TAG_T61_STRING ||
           tag == CASN1::TAG_BMP_STRING;
}

// BMPString contents are big-endian 16-bit characters. The name text is 8-bit:
// U+0001..U+00FF become the byte of the same value (Latin-1), anything else
// becomes '?' (a surrogate pair one '?'), and U+0000 ends the value as a NUL
// octet ends the other string types.
void AppendBmp(std::span<const uint8_t> contents, std::string& out) {
    for (std::size_t i = 0; i + 1 < contents.size(); i += 2) {
        const uint32_t unit = (static_cast<uint32_t>(contents[i]) << 8) | contents[i + 1];
        if (unit == 0) {
            return;
        }
        if (unit <= 0xFF) {
            out.push_back(static_cast<char>(unit));
            continue;
        }
        out.push_back('?');
        const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
        if (highSurrogate && i + 3 < contents.size() && (contents[i + 2] & 0xFC) == 0xDC) {
            i += 2; // the low half of the pair
        }
    }
}

void AppendValue(const Asn1Cursor& value, std::string& out) {
    if (CASN1::TagOf(value) == CASN1::TAG_BMP_STRING) {
        AppendBmp(CASN1::ContentBytes(value), out);
    } else {
        out += CASN1::ContentText(value, value.size);
    }
}

// Next, reporting whether the cursor moved. A Next that cannot move leaves the
// cursor where it was, and going on from there would never end.
bool Advance(Asn1Cursor& cursor) {
    const uint8_t* before = cursor.pos;
    (void)CASN1::Next(cursor, cursor);
    return cursor.pos != before;
}

} // namespace

// Name ::= RDNSequence
// RDNSequence ::= SEQUENCE OF RelativeDistinguishedName
// RelativeDistinguishedName ::= SET OF AttributeTypeAndValue
// AttributeTypeAndValue ::= SEQUENCE {
//      type   OBJECT IDENTIFIER,
//      value  ANY }   -- a string, or a SEQUENCE of strings
//
// The walk runs through the encoding element by element: the first element
// after one RDN is the next RDN's SET, and it stops at the first element that
// is not of the kind expected, or that lies `size` octets or more after the
// start of the name. Strings of another type (NumericString, UniversalString,
// ...) therefore end the text right after their "type=".
std::string CASN1::NameToText(const Asn1Cursor& name, uint32_t size) {
    std::string text;
    Asn1Cursor cursor{size, name.pos, name.end};
    const uint8_t* start = name.pos;
    const auto within = [&] {
        return cursor.Readable() && static_cast<uint64_t>(cursor.pos - start) < size;
    };

    bool first = true;
    if (TagOf(cursor) == TAG_SEQUENCE) {
        (void)Enter(cursor, cursor);
    }
    while (TagOf(cursor) == TAG_SET && within()) {
        (void)Enter(cursor, cursor);
        while (TagOf(cursor) == TAG_SEQUENCE && within()) {
            (void)Enter(cursor, cursor);
            if (!first) {
                text += ", ";
            }
            if (TagOf(cursor) == TAG_OID) {
                const std::string oid = OidToText(cursor, cursor.size, false);
                const char* known = OidName(oid);
                text += known != nullptr ? known : oid;
                text += '=';
                first = false;
            }
            if (!Advance(cursor)) {
                return text;
            }
            first = true;
            if (TagOf(cursor) == TAG_SEQUENCE) {
                (void)Enter(cursor, cursor);
            }
            while (IsRenderedString(TagOf(cursor)) && within()) {
                if (!first) {
                    text += ", ";
                }
                first = false;
                AppendValue(cursor, text);
                if (!Advance(cursor)) {
                    return text;
                }
            }
        }
    }
    return text;
}
