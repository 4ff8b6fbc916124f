#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One certificate, kept as a private copy of its DER encoding, and its public
// key as raw octets: used to decide whether a certificate belongs to a key
// found on a card.
class CCertInfo {
public:
    // `name` is a label of the creator's choice; index starts as -1.
    CCertInfo(std::string name, std::span<const uint8_t> der);
    virtual ~CCertInfo() = default;

    // The raw public key: for RSA the modulus without its leading 00 sign
    // octet, for EC the encoded point (the subjectPublicKey BIT STRING without
    // its unused-bits octet). With `reverse` the octets come in little-endian
    // order, as CryptoAPI key blobs hold them. Returns 0 with keyLength and
    // `key` filled; an RSA key whose structure does not match gives an empty
    // key and 0. Returns -1, leaving keyLength and `key` alone, when there is no
    // certificate or its key is neither RSA nor EC.
    [[nodiscard]] int GetPublicKey(uint32_t& keyLength, std::vector<uint8_t>& key,
                                   bool reverse) const;

    [[nodiscard]] const std::string& GetName() const { return m_name; }
    [[nodiscard]] int32_t GetIndex() const { return m_index; }
    [[nodiscard]] std::span<const uint8_t> GetData() const { return m_data; }

private:
    std::vector<uint8_t> m_data;
    std::string m_name;
    int32_t m_index = -1;
};
