#pragma once

#include "tests/support/HexBytes.h"
#include "vcard/VirtualCard.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vcardtest {

using Bytes = std::vector<uint8_t>;

// "00 A4 00 00" -> bytes; blanks are ignored.
inline Bytes H(std::string_view hex) {
    return velktest::HexBytes(hex);
}

inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Ascii(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// A command APDU of case 3: header, Lc, data.
inline Bytes Case3(std::string_view header, const Bytes& data) {
    Bytes apdu = H(header);
    apdu.push_back(static_cast<uint8_t>(data.size()));
    return Cat(apdu, data);
}

inline uint16_t SwOf(const Bytes& response) {
    if (response.size() < 2) {
        return 0;
    }
    return static_cast<uint16_t>(response[response.size() - 2] << 8 | response.back());
}

inline Bytes DataOf(const Bytes& response) {
    return response.size() < 2 ? Bytes{} : Bytes(response.begin(), response.end() - 2);
}

// A card driven by hex APDUs.
class Card {
public:
    explicit Card(std::unique_ptr<vcard::VirtualCard> card) : m_card(std::move(card)) {
        if (!m_card) {
            throw std::runtime_error("no card");
        }
    }
    Bytes Send(const Bytes& apdu) { return m_card->Transmit(apdu); }
    Bytes Send(std::string_view hex) { return Send(H(hex)); }
    uint16_t Sw(const Bytes& apdu) { return SwOf(Send(apdu)); }
    uint16_t Sw(std::string_view hex) { return SwOf(Send(hex)); }
    vcard::VirtualCard* operator->() { return m_card.get(); }
    vcard::VirtualCard& operator*() { return *m_card; }

private:
    std::unique_ptr<vcard::VirtualCard> m_card;
};

// A profile without RSA keys: most behaviour does not need them and key
// generation is the slow part of making a card.
inline vcard::CardProfile Keyless(std::string_view name) {
    auto p = vcard::FindProfile(name);
    if (!p) {
        throw std::runtime_error("no profile");
    }
    p->keyBits = 0;
    return *p;
}

inline Card Fresh(std::string_view name) {
    return Card(vcard::OpenCard(Keyless(name), ""));
}

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "velk-vcard-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// The size in a selection's FCI, found the way the program reads it: the
// template tag of the card type, then a walk over the tags from byte 2.
inline unsigned FciSize(const Bytes& fci, uint8_t templateTag, uint8_t sizeTag) {
    if (fci.size() < 6 || fci[0] != templateTag) {
        return 0;
    }
    size_t pos = 2;
    while (pos + 1 < fci.size() && pos < fci[1]) {
        const size_t len = fci[pos + 1];
        if (fci[pos] == sizeTag) {
            unsigned v = 0;
            for (size_t i = 0; i < len && pos + 2 + i < fci.size(); ++i) {
                v = (v << 8 | fci[pos + 2 + i]) & 0xFFFF;
            }
            return v;
        }
        pos += 2 + len;
    }
    return 0;
}

} // namespace vcardtest
