#pragma once

#include "asn1/Asn1Cursor.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// Helpers of the decoder tests: test data, a tiny DER writer for hand-made
// encodings, and what OpenSSL decodes from the same certificates.
namespace asn1test {

using Bytes = std::vector<uint8_t>;

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// A committed test certificate (tests/asn1/data), in a buffer of exactly its
// size so that the address sanitizer sees any read past its end.
Bytes LoadData(const std::string& name);
// Every certificate of a PEM bundle, as DER; empty when the file is missing.
std::vector<Bytes> LoadPemBundle(const std::string& path);

// DER writer: one element with a definite length, and concatenation.
Bytes Tlv(uint8_t identifier, const Bytes& contents);
Bytes Cat(std::initializer_list<Bytes> parts);
// A cursor over `data` as the library's walk would start it.
Asn1Cursor Over(const Bytes& data);

X509Ptr Decode(const Bytes& der);
Bytes Encode(X509* cert);
Bytes EncodeName(const X509_NAME* name);

// The rendering that NameToText should give, built from OpenSSL's decoded
// name entries rather than from the encoding.
std::string ExpectedNameText(const X509_NAME* name);
// The serial INTEGER's content octets as upper-case hex (leading 00 kept).
std::string ExpectedSerialHex(const X509* cert);
// RSA modulus (big-endian, no sign octet) or encoded EC point; empty otherwise.
Bytes ExpectedKey(const X509* cert);

} // namespace asn1test
