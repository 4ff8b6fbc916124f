#include "platform/certstore/CertBlob.h"

#include <cstring>

namespace velk::certstore {

namespace {

constexpr uint8_t kMagic[4] = {'V', 'K', 'C', 'B'};
constexpr uint16_t kVersion = 1;
constexpr uint32_t kIdCertificate = 0x20;
constexpr uint32_t kIdSequence = 0x8001;
constexpr uint32_t kIdKeyProvInfo = 2;  // CERT_KEY_PROV_INFO_PROP_ID
constexpr uint32_t kIdSha1Hash = 3;     // derived from the certificate, never stored
constexpr size_t kMaxNameUnits = 32768; // far above any container or provider name

class Writer {
public:
    void U16(uint16_t v) {
        for (int i = 0; i < 2; ++i) {
            m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    void Bytes(std::span<const uint8_t> bytes) {
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }
    void Wide(const std::u16string& text) {
        U32(static_cast<uint32_t>(text.size()));
        for (char16_t c : text) {
            U16(static_cast<uint16_t>(c));
        }
    }
    void Record(uint32_t id, std::span<const uint8_t> bytes) {
        U32(id);
        U32(static_cast<uint32_t>(bytes.size()));
        Bytes(bytes);
    }
    std::vector<uint8_t>& Out() { return m_out; }

private:
    std::vector<uint8_t> m_out;
};

// Every read checks what is left first; a failed read leaves the reader
// unusable (all later reads fail too), so callers check once at the end.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_pos == m_bytes.size(); }
    size_t Left() const { return m_bytes.size() - m_pos; }

    uint32_t U16() { return static_cast<uint32_t>(Uint(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Uint(4)); }
    uint64_t U64() { return Uint(8); }

    std::span<const uint8_t> Take(size_t n) {
        if (!m_ok || n > Left()) {
            m_ok = false;
            return {};
        }
        auto part = m_bytes.subspan(m_pos, n);
        m_pos += n;
        return part;
    }

    std::u16string Wide() {
        const uint32_t units = U32();
        if (units > kMaxNameUnits || units > Left() / 2) {
            m_ok = false;
            return {};
        }
        std::u16string text;
        text.reserve(units);
        for (uint32_t i = 0; i < units; ++i) {
            text.push_back(static_cast<char16_t>(U16()));
        }
        return text;
    }

private:
    uint64_t Uint(size_t width) {
        const auto part = Take(width);
        uint64_t v = 0;
        for (size_t i = 0; i < part.size(); ++i) {
            v |= static_cast<uint64_t>(part[i]) << (8 * i);
        }
        return v;
    }

    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
    bool m_ok = true;
};

std::vector<uint8_t> SerializeKeyProvInfo(const KeyProvInfo& info) {
    Writer w;
    w.U32(info.provType);
    w.U32(info.flags);
    w.U32(info.keySpec);
    w.U32(static_cast<uint32_t>(info.params.size()));
    w.Wide(info.container);
    w.Wide(info.provider);
    for (const auto& p : info.params) {
        w.U32(p.param);
        w.U32(p.flags);
        w.U32(static_cast<uint32_t>(p.data.size()));
        w.Bytes(p.data);
    }
    return std::move(w.Out());
}

std::optional<KeyProvInfo> ParseKeyProvInfo(std::span<const uint8_t> bytes) {
    Reader r(bytes);
    KeyProvInfo info;
    info.provType = r.U32();
    info.flags = r.U32();
    info.keySpec = r.U32();
    const uint32_t count = r.U32();
    if (!r.Ok() || count > kMaxKeyProvParams) {
        return std::nullopt;
    }
    info.container = r.Wide();
    info.provider = r.Wide();
    for (uint32_t i = 0; i < count && r.Ok(); ++i) {
        KeyProvParam p;
        p.param = r.U32();
        p.flags = r.U32();
        const uint32_t length = r.U32();
        const auto data = r.Take(length);
        p.data.assign(data.begin(), data.end());
        info.params.push_back(std::move(p));
    }
    if (!r.Ok() || !r.AtEnd()) {
        return std::nullopt;
    }
    return info;
}

} // namespace

std::vector<uint8_t> SerializeCertBlob(const CertBlob& blob) {
    Writer w;
    w.Bytes(kMagic);
    w.U16(kVersion);
    w.U16(0);
    uint8_t sequence[8];
    for (int i = 0; i < 8; ++i) {
        sequence[i] = static_cast<uint8_t>(blob.sequence >> (8 * i));
    }
    w.Record(kIdSequence, sequence);
    if (blob.properties.keyProvInfo) {
        w.Record(kIdKeyProvInfo, SerializeKeyProvInfo(*blob.properties.keyProvInfo));
    }
    for (const auto& [id, bytes] : blob.properties.other) {
        if (id != kIdCertificate && id != kIdSequence && id != kIdKeyProvInfo &&
            id != kIdSha1Hash) {
            w.Record(id, bytes);
        }
    }
    w.Record(kIdCertificate, blob.der);
    return std::move(w.Out());
}

std::optional<CertBlob> ParseCertBlob(std::span<const uint8_t> bytes) {
    if (bytes.size() > kMaxBlobSize) {
        return std::nullopt;
    }
    Reader r(bytes);
    const auto magic = r.Take(sizeof kMagic);
    const uint32_t version = r.U16();
    r.U16();
    if (!r.Ok() || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0 || version != kVersion) {
        return std::nullopt;
    }
    CertBlob blob;
    bool haveCertificate = false;
    bool haveSequence = false;
    while (r.Ok() && !r.AtEnd()) {
        const uint32_t id = r.U32();
        const uint32_t length = r.U32();
        const auto data = r.Take(length);
        if (!r.Ok()) {
            return std::nullopt;
        }
        switch (id) {
        case kIdCertificate:
            if (haveCertificate || data.empty()) {
                return std::nullopt;
            }
            blob.der.assign(data.begin(), data.end());
            haveCertificate = true;
            break;
        case kIdSequence: {
            if (haveSequence || data.size() != 8) {
                return std::nullopt;
            }
            Reader seq(data);
            blob.sequence = seq.U64();
            haveSequence = true;
            break;
        }
        case kIdKeyProvInfo: {
            auto info = ParseKeyProvInfo(data);
            if (!info) {
                return std::nullopt;
            }
            blob.properties.keyProvInfo = std::move(info);
            break;
        }
        case kIdSha1Hash:
            break;
        default:
            blob.properties.other[id].assign(data.begin(), data.end());
            break;
        }
    }
    if (!r.Ok() || !haveCertificate || !haveSequence) {
        return std::nullopt;
    }
    return blob;
}

} // namespace velk::certstore
