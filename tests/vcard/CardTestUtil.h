#pragma once

#include "tests/support/HexBytes.h"
#include "tests/support/TempDir.h"
#include "vcard/VirtualCard.h"

#include <cstdint>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>
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

using velktest::TempDir;

// vpcd's frames: two length bytes, then the body, sent in two writes as the driver sends them.
inline bool SendFrame(int fd, const Bytes& body) {
    const uint8_t len[2] = {static_cast<uint8_t>(body.size() >> 8),
                            static_cast<uint8_t>(body.size())};
    return ::write(fd, len, 2) == 2 && (body.empty() || ::write(fd, body.data(), body.size()) ==
                                                            static_cast<ssize_t>(body.size()));
}

// The next frame's body; empty when the peer closed or nothing came within 10 s.
inline Bytes ReceiveFrame(int fd) {
    const auto readAll = [fd](uint8_t* p, size_t n) {
        while (n > 0) {
            pollfd pfd{fd, POLLIN, 0};
            const ssize_t r = ::poll(&pfd, 1, 10000) == 1 ? ::read(fd, p, n) : -1;
            if (r <= 0) {
                return false;
            }
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    };
    uint8_t len[2];
    if (!readAll(len, 2)) {
        return {};
    }
    Bytes body(static_cast<size_t>(len[0] << 8 | len[1]));
    return readAll(body.data(), body.size()) ? body : Bytes{};
}

// Owns a file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd;
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
