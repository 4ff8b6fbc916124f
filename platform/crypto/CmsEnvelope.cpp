#include "platform/crypto/CmsEnvelope.h"

#include <openssl/asn1.h>
#include <openssl/err.h>

#include <algorithm>
#include <climits>
#include <cstddef>

namespace velk::crypto {

namespace {

// id-envelopedData 1.2.840.113549.1.7.3, as its DER element.
constexpr uint8_t kEnvelopedDataOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                         0xF7, 0x0D, 0x01, 0x07, 0x03};

struct DerElement {
    int tag = 0;
    int cls = 0;
    bool constructed = false;
    std::span<const uint8_t> whole;
    std::span<const uint8_t> value;
};

// Failures of one walk step: a bad length or running out of bytes is
// corruption; an element of another kind is a bad tag.
class CWalk {
public:
    explicit CWalk(std::span<const uint8_t> bytes) : m_rest(bytes) {}

    bool AtEnd() const { return m_rest.empty(); }

    // The next element, whatever it is; the walk moves past it.
    DWORD Next(DerElement& out) {
        if (m_rest.empty() || m_rest.size() > static_cast<std::size_t>(LONG_MAX)) {
            return CRYPT_E_ASN1_CORRUPT;
        }
        const unsigned char* p = m_rest.data();
        long length = 0;
        int tag = 0;
        int cls = 0;
        const int flags =
            ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(m_rest.size()));
        // 0x80: malformed or longer than what is left; 0x01: indefinite length.
        if ((flags & 0x80) != 0 || (flags & 0x01) != 0 || length < 0) {
            return CRYPT_E_ASN1_CORRUPT;
        }
        const auto header = static_cast<std::size_t>(p - m_rest.data());
        if (header > m_rest.size() || static_cast<std::size_t>(length) > m_rest.size() - header) {
            return CRYPT_E_ASN1_CORRUPT;
        }
        const std::size_t total = header + static_cast<std::size_t>(length);
        out.tag = tag;
        out.cls = cls;
        out.constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
        out.whole = m_rest.first(total);
        out.value = m_rest.subspan(header, static_cast<std::size_t>(length));
        m_rest = m_rest.subspan(total);
        return 0;
    }

    // The next element, which must be of that class, tag and form.
    DWORD Expect(int cls, int tag, bool constructed, DerElement& out) {
        if (const DWORD error = Next(out)) {
            return error;
        }
        return out.cls == cls && out.tag == tag && out.constructed == constructed
                   ? 0
                   : CRYPT_E_ASN1_BADTAG;
    }

    // Whether the next element has that class and tag, without moving.
    bool Peek(int cls, int tag) const {
        CWalk copy(m_rest);
        DerElement element;
        return copy.Next(element) == 0 && element.cls == cls && element.tag == tag;
    }

private:
    std::span<const uint8_t> m_rest;
};

constexpr int kUniversal = V_ASN1_UNIVERSAL;
constexpr int kContext = V_ASN1_CONTEXT_SPECIFIC;

DWORD WalkKeyTransport(std::span<const uint8_t> body, CmsRecipientPart& part) {
    CWalk walk(body);
    DerElement element;
    if (DWORD error = walk.Expect(kUniversal, V_ASN1_INTEGER, false, element)) {
        return error;
    }
    // rid: issuerAndSerialNumber or [0] subjectKeyIdentifier; OpenSSL checks its insides.
    if (DWORD error = walk.Next(element)) {
        return error;
    }
    DerElement algorithm;
    if (DWORD error = walk.Expect(kUniversal, V_ASN1_SEQUENCE, true, algorithm)) {
        return error;
    }
    CWalk algorithmWalk(algorithm.value);
    DerElement oid;
    if (DWORD error = algorithmWalk.Expect(kUniversal, V_ASN1_OBJECT, false, oid)) {
        return error;
    }
    DerElement key;
    if (DWORD error = walk.Expect(kUniversal, V_ASN1_OCTET_STRING, false, key)) {
        return error;
    }
    part.keyTransport = true;
    part.keyEncryptionOid = oid.whole;
    part.encryptedKey = key.value;
    return 0;
}

DWORD WalkRecipients(std::span<const uint8_t> set, std::vector<CmsRecipientPart>& recipients) {
    CWalk walk(set);
    while (!walk.AtEnd()) {
        DerElement element;
        if (DWORD error = walk.Next(element)) {
            return error;
        }
        CmsRecipientPart part;
        // The other kinds are [1]..[4]; they keep their place in the order.
        if (element.cls == kUniversal && element.tag == V_ASN1_SEQUENCE && element.constructed) {
            if (DWORD error = WalkKeyTransport(element.value, part)) {
                return error;
            }
        }
        recipients.push_back(part);
    }
    return recipients.empty() ? CRYPT_E_ASN1_CORRUPT : 0;
}

// encryptedContent [0] IMPLICIT OCTET STRING: primitive, or constructed of
// primitive pieces.
DWORD JoinContent(const DerElement& content, std::vector<uint8_t>& out) {
    if (!content.constructed) {
        out.assign(content.value.begin(), content.value.end());
        return 0;
    }
    CWalk walk(content.value);
    while (!walk.AtEnd()) {
        DerElement piece;
        if (DWORD error = walk.Expect(kUniversal, V_ASN1_OCTET_STRING, false, piece)) {
            return error;
        }
        out.insert(out.end(), piece.value.begin(), piece.value.end());
    }
    return 0;
}

DWORD WalkEncryptedContentInfo(std::span<const uint8_t> body, CmsEnvelopeParts& parts) {
    CWalk walk(body);
    DerElement element;
    if (DWORD error = walk.Expect(kUniversal, V_ASN1_OBJECT, false, element)) {
        return error;
    }
    DerElement algorithm;
    if (DWORD error = walk.Expect(kUniversal, V_ASN1_SEQUENCE, true, algorithm)) {
        return error;
    }
    CWalk algorithmWalk(algorithm.value);
    DerElement oid;
    if (DWORD error = algorithmWalk.Expect(kUniversal, V_ASN1_OBJECT, false, oid)) {
        return error;
    }
    parts.contentAlgorithmOid = oid.whole;
    if (!algorithmWalk.AtEnd()) {
        DerElement params;
        if (DWORD error = algorithmWalk.Next(params)) {
            return error;
        }
        parts.contentAlgorithmParams = params.whole;
    }
    // Detached content is not something this program is ever sent.
    if (!walk.Peek(kContext, 0)) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    DerElement content;
    if (DWORD error = walk.Next(content)) {
        return error;
    }
    return JoinContent(content, parts.ciphertext);
}

} // namespace

DWORD WalkEnvelopedMessage(std::span<const uint8_t> message, CmsEnvelopeParts& parts) {
    parts = CmsEnvelopeParts{};
    const DWORD error = [&]() -> DWORD {
        CWalk outer(message);
        DerElement contentInfo;
        if (DWORD e = outer.Expect(kUniversal, V_ASN1_SEQUENCE, true, contentInfo)) {
            return e;
        }
        CWalk info(contentInfo.value);
        DerElement type;
        if (DWORD e = info.Expect(kUniversal, V_ASN1_OBJECT, false, type)) {
            return e;
        }
        if (!std::ranges::equal(type.whole, std::span(kEnvelopedDataOid))) {
            return CRYPT_E_UNEXPECTED_MSG_TYPE;
        }
        DerElement explicitContent;
        if (DWORD e = info.Expect(kContext, 0, true, explicitContent)) {
            return e;
        }
        CWalk content(explicitContent.value);
        DerElement envelopedData;
        if (DWORD e = content.Expect(kUniversal, V_ASN1_SEQUENCE, true, envelopedData)) {
            return e;
        }
        CWalk enveloped(envelopedData.value);
        DerElement element;
        if (DWORD e = enveloped.Expect(kUniversal, V_ASN1_INTEGER, false, element)) {
            return e;
        }
        if (enveloped.Peek(kContext, 0)) { // originatorInfo
            if (DWORD e = enveloped.Next(element)) {
                return e;
            }
        }
        DerElement recipients;
        if (DWORD e = enveloped.Expect(kUniversal, V_ASN1_SET, true, recipients)) {
            return e;
        }
        if (DWORD e = WalkRecipients(recipients.value, parts.recipients)) {
            return e;
        }
        DerElement encryptedContentInfo;
        if (DWORD e = enveloped.Expect(kUniversal, V_ASN1_SEQUENCE, true, encryptedContentInfo)) {
            return e;
        }
        return WalkEncryptedContentInfo(encryptedContentInfo.value, parts);
    }();
    // ASN1_get_object leaves its complaints in the thread's error queue.
    ERR_clear_error();
    return error;
}

} // namespace velk::crypto
