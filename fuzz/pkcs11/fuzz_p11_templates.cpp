// Attribute templates of arbitrary shape against the objects of a card key
// container: C_GetAttributeValue's filling and C_FindObjectsInit's matching
// must stay inside every buffer the template states.
//
// Input layout, repeated up to 32 times:
//   4 bytes attribute type (little-endian; small values map to known types)
//   1 byte flags: bit 0 pValue NULL, bit 1 value taken from the input
//   2 bytes ulValueLen (little-endian, at most 4096)
//   with bit 1: ulValueLen bytes of value (fewer if the input ends)
// Every buffer is allocated exactly as long as ulValueLen says.

#include "minidriver/pkcs11/P11Object.h"
#include "minidriver/pkcs11/P11Template.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr CK_ATTRIBUTE_TYPE kKnown[] = {CKA_CLASS,
                                        CKA_TOKEN,
                                        CKA_PRIVATE,
                                        CKA_LABEL,
                                        CKA_ID,
                                        CKA_SUBJECT,
                                        CKA_ISSUER,
                                        CKA_SERIAL_NUMBER,
                                        CKA_VALUE,
                                        CKA_KEY_TYPE,
                                        CKA_MODULUS,
                                        CKA_MODULUS_BITS,
                                        CKA_SIGN,
                                        CKA_DECRYPT,
                                        CKA_ALWAYS_AUTHENTICATE,
                                        CKA_PUBLIC_EXPONENT,
                                        CKA_CERTIFICATE_TYPE};

// A self-signed certificate for a small RSA key, made once.
std::vector<uint8_t> MakeCertificate() {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{1024}), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    if (!key || !cert) {
        return {};
    }
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 4711);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Fuzz"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    X509_sign(cert.get(), key.get(), EVP_sha256());
    const int length = i2d_X509(cert.get(), nullptr);
    std::vector<uint8_t> der(length > 0 ? static_cast<size_t>(length) : 0);
    unsigned char* p = der.data();
    i2d_X509(cert.get(), &p);
    return der;
}

const std::vector<velkp11::P11Object>& Objects() {
    static const std::vector<velkp11::P11Object> objects = [] {
        const std::vector<uint8_t> der = MakeCertificate();
        velkmd::CardSlot slot{0xDF02, 0xC000, 0x4531, "3f00df02c000", false, '7', '1'};
        CK_OBJECT_HANDLE next = 1;
        auto made = velkp11::ObjectsOfContainer(slot, der, next);
        return made ? *made : std::vector<velkp11::P11Object>{};
    }();
    return objects;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<CK_ATTRIBUTE> templ;
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    size_t at = 0;
    while (templ.size() < 32 && size - at >= 7) {
        uint32_t raw = 0;
        for (int i = 3; i >= 0; --i) {
            raw = raw << 8 | data[at + static_cast<size_t>(i)];
        }
        const uint8_t flags = data[at + 4];
        const size_t length = (data[at + 5] | data[at + 6] << 8) & 0x0FFF;
        at += 7;
        CK_ATTRIBUTE a{};
        a.type = raw < 64 ? kKnown[raw % std::size(kKnown)] : raw;
        a.ulValueLen = length;
        if ((flags & 1) == 0) {
            buffers.push_back(std::make_unique<uint8_t[]>(length));
            a.pValue = buffers.back().get();
            if ((flags & 2) != 0) {
                const size_t n = std::min(length, size - at);
                std::copy(data + at, data + at + n, buffers.back().get());
                at += n;
            }
        }
        templ.push_back(a);
    }
    for (const velkp11::P11Object& object : Objects()) {
        velkp11::MatchesTemplate(object, templ.data(), templ.size());
        std::vector<CK_ATTRIBUTE> copy = templ;
        velkp11::ReadAttributes(object, copy.data(), copy.size());
    }
    return 0;
}
