#pragma once

// The content of one store entry's "Blob" value: the encoded certificate, its
// properties and its place in the store order. The bytes come from a hive
// file, i.e. from outside: ParseCertBlob checks every length before it reads.
//
// Layout (all integers little-endian):
//   "VKCB" u16 version(1) u16 reserved(0)
//   records until the end: u32 id, u32 length, length bytes
//     id 0x20  the DER certificate (exactly one)
//     id 0x8001 the store-order sequence, u64 (exactly one)
//     id 2     CRYPT_KEY_PROV_INFO, see below
//     other    the raw bytes of that property id (a later one replaces)
//   key-provider information record:
//     u32 provType u32 flags u32 keySpec u32 paramCount
//     u32 containerChars, UTF-16LE units; u32 providerChars, UTF-16LE units
//     paramCount x (u32 param u32 flags u32 length, bytes)

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velk::certstore {

struct KeyProvParam {
    uint32_t param = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> data;
    bool operator==(const KeyProvParam&) const = default;
};

struct KeyProvInfo {
    std::u16string container;
    std::u16string provider;
    uint32_t provType = 0;
    uint32_t flags = 0;
    uint32_t keySpec = 0;
    std::vector<KeyProvParam> params;
    bool operator==(const KeyProvInfo&) const = default;
};

// Properties other than the certificate itself and its hashes.
struct CertProperties {
    std::optional<KeyProvInfo> keyProvInfo;
    std::map<uint32_t, std::vector<uint8_t>> other;
    bool operator==(const CertProperties&) const = default;
};

struct CertBlob {
    std::vector<uint8_t> der;
    uint64_t sequence = 0;
    CertProperties properties;
};

// Limits that keep a hostile blob from making us allocate without bound.
constexpr size_t kMaxBlobSize = 1u << 20;
constexpr size_t kMaxKeyProvParams = 64;

std::vector<uint8_t> SerializeCertBlob(const CertBlob& blob);
// nullopt for anything malformed; never reads outside `bytes`.
std::optional<CertBlob> ParseCertBlob(std::span<const uint8_t> bytes);

} // namespace velk::certstore
