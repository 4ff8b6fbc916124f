#pragma once

#include "asn1/Asn1Cursor.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The program's own reader of DER-encoded ASN.1 (certificates, the decrypted
// PKCS#7 content of a trust-center file, single certificate fields). It never
// builds a tree: a caller walks the bytes with an Asn1Cursor, stepping into an
// element with Enter and on to the following one with Next, and asks for tags,
// lengths and text renderings on the way.
//
// Only single-octet identifiers are understood (bits 8-7 class, bit 6
// constructed, bits 5-1 tag number). Lengths come in the short form, the long
// form with one to four length octets, and the indefinite form, whose length
// is found by scanning for the matching end-of-contents octets and counts
// those two octets.
//
// Every read is checked against the end of the caller's data. An encoding that
// claims more than the data holds, a long form with more than four length
// octets, an indefinite length without its end-of-contents octets or nested
// deeper than kMaxIndefiniteDepth, a truncated OID subidentifier: each gives the
// neutral result (false, 0, empty text). Text results are owned strings, so
// the operations are safe to call from several threads at once.
class CASN1 {
public:
    virtual ~CASN1() = default;

    // Tag values as TagOf returns them.
    static constexpr uint32_t TAG_INTEGER = 2;
    static constexpr uint32_t TAG_BIT_STRING = 3;
    static constexpr uint32_t TAG_OCTET_STRING = 4;
    static constexpr uint32_t TAG_NULL = 5;
    static constexpr uint32_t TAG_OID = 6;
    static constexpr uint32_t TAG_UTF8_STRING = 12;
    static constexpr uint32_t TAG_SEQUENCE = 16;
    static constexpr uint32_t TAG_SET = 17;
    static constexpr uint32_t TAG_NUMERIC_STRING = 18;
    static constexpr uint32_t TAG_PRINTABLE_STRING = 19;
    static constexpr uint32_t TAG_T61_STRING = 20;
    static constexpr uint32_t TAG_IA5_STRING = 22;
    static constexpr uint32_t TAG_UTC_TIME = 23;
    static constexpr uint32_t TAG_GENERALIZED_TIME = 24;
    static constexpr uint32_t TAG_BMP_STRING = 30;

    // Classes as ClassOf returns them.
    static constexpr uint32_t CLASS_UNIVERSAL = 0x00;
    static constexpr uint32_t CLASS_APPLICATION = 0x40;
    static constexpr uint32_t CLASS_CONTEXT = 0x80;
    static constexpr uint32_t CLASS_PRIVATE = 0xC0;

    // Fields of the TBSCertificate that LocateCertField finds.
    static constexpr uint32_t CERT_VERSION = 100;
    static constexpr uint32_t CERT_SUBJECT = 101;
    static constexpr uint32_t CERT_ISSUER = 103;
    static constexpr uint32_t CERT_SIGNATURE = 104;
    static constexpr uint32_t CERT_SERIAL = 105;
    static constexpr uint32_t CERT_VALIDITY = 106;
    static constexpr uint32_t CERT_EXTENSIONS = 111;
    static constexpr uint32_t CERT_PUBLIC_KEY_INFO = 112;
    static constexpr uint32_t CERT_ISSUER_UID = 113;
    static constexpr uint32_t CERT_SUBJECT_UID = 114;

    // Indefinite lengths nested deeper than this are taken as malformed.
    static constexpr uint32_t kMaxIndefiniteDepth = 64;

    // A cursor on the first element of `data`: `size` is that element's total
    // size (0 when its header cannot be read), `end` the end of `data`.
    [[nodiscard]] static Asn1Cursor Start(std::span<const uint8_t> data);

    // For universal elements the tag number alone (SEQUENCE is 16), for every
    // other class the whole identifier octet (0xA3 for [3]). 0 when nothing
    // can be read at the element.
    [[nodiscard]] static uint32_t TagOf(const Asn1Cursor& element);
    // Identifier octet AND 0xC0.
    [[nodiscard]] static uint32_t ClassOf(const Asn1Cursor& element);
    // Identifier octet AND 0x1F.
    [[nodiscard]] static uint32_t TagNumberOf(const Asn1Cursor& element);

    // Content length of the element at base.pos + offset; advances `offset`
    // past its identifier and length octets. An indefinite length counts the
    // contents together with their end-of-contents octets. When the element's
    // header cannot be read or the element runs past the data, returns 0 and
    // leaves `offset` as it was (a successful read always advances it).
    [[nodiscard]] static uint32_t ReadLength(const Asn1Cursor& base, uint32_t& offset);

    // Points `cursor` at the first element inside `element` (for a BIT STRING,
    // after its unused-bits octet), with `size` that element's total size, or 0
    // when `element` has no contents. Enter does not check that `element` is
    // constructed. False with the cursor cleared to (0, null) when `element`
    // cannot be read; false with `pos` moved and `size` 0 when the element
    // reached cannot be read.
    [[nodiscard]] static bool Enter(const Asn1Cursor& element, Asn1Cursor& cursor);

    // Points `cursor` at the element that follows `element` in the data (which
    // may lie past the end of the enclosing element). False, cursor unchanged,
    // when `element` is larger than cursor.size; false with `pos` moved and
    // `size` kept when the next octet is 00 or FF (end-of-contents, the padding
    // of a card file) or the data ends there; false with `pos` moved and `size`
    // 0 when the element reached cannot be read; false with the cursor cleared
    // when `element` itself cannot be read.
    [[nodiscard]] static bool Next(const Asn1Cursor& element, Asn1Cursor& cursor);

    // Dotted text of an OBJECT IDENTIFIER. With contentOnly, element.pos is the
    // first content octet and `length` the content length; otherwise element.pos
    // is the identifier octet of an OID with a short-form length and `length`
    // its total size. Empty when the contents cannot be read or end inside a
    // subidentifier.
    [[nodiscard]] static std::string OidToText(const Asn1Cursor& element, uint32_t length,
                                               bool contentOnly);

    // The size − header octets that follow the element's header, unconverted,
    // up to the first NUL octet. Callers pass the cursor's size of the element.
    [[nodiscard]] static std::string ContentText(const Asn1Cursor& element, uint32_t size);
    // The content octets as upper-case hexadecimal ("%02X" each).
    [[nodiscard]] static std::string ContentHex(const Asn1Cursor& element);
    // As ContentHex, without the first content octet (the unused-bits count of
    // a BIT STRING, the sign octet of a positive INTEGER).
    [[nodiscard]] static std::string BitStringHex(const Asn1Cursor& element);

    // The whole encoding of the element under the cursor (pos .. pos + size),
    // or an empty span when it does not lie within the data.
    [[nodiscard]] static std::span<const uint8_t> ElementBytes(const Asn1Cursor& element);
    // The content octets of the element, as its own header gives their length;
    // empty when the element cannot be read.
    [[nodiscard]] static std::span<const uint8_t> ContentBytes(const Asn1Cursor& element);

    // X.509: hands back in `out` a cursor on one field of the TBSCertificate
    // (CERT_*): `pos` its identifier octet, `size` its total size.
    [[nodiscard]] static bool LocateCertField(std::span<const uint8_t> cert, uint32_t id,
                                              Asn1Cursor& out);

    // One line of type=value pairs for a distinguished name, in the order of
    // the encoding, separated by ", ": commonName=Erika Mustermann,
    // organizationName=Beispiel AG, countryName=DE. `size` bounds the walk.
    [[nodiscard]] static std::string NameToText(const Asn1Cursor& name, uint32_t size);

    // The name of a dotted OID from the program's table, or null.
    [[nodiscard]] static const char* OidName(std::string_view oid);
};
