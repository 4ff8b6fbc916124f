#include "minidriver/pkcs11/P11Mechanism.h"

#include <openssl/evp.h>

namespace velkp11 {

namespace {

constexpr MechanismUse kMechanisms[] = {
    {CKM_RSA_PKCS, CKF_SIGN | CKF_DECRYPT | CKF_HW}, {CKM_SHA1_RSA_PKCS, CKF_SIGN | CKF_HW},
    {CKM_SHA256_RSA_PKCS, CKF_SIGN | CKF_HW},        {CKM_SHA384_RSA_PKCS, CKF_SIGN | CKF_HW},
    {CKM_SHA512_RSA_PKCS, CKF_SIGN | CKF_HW},
};

// DigestInfo prefixes (PKCS #1 v2.2, 9.2 note 1): the DER up to the hash.
constexpr uint8_t kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                   0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t kSha384Prefix[] = {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr uint8_t kSha512Prefix[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

} // namespace

std::span<const MechanismUse> Mechanisms() {
    return kMechanisms;
}

const MechanismUse* FindMechanism(CK_MECHANISM_TYPE type) {
    for (const MechanismUse& m : kMechanisms) {
        if (m.type == type) {
            return &m;
        }
    }
    return nullptr;
}

std::optional<Bytes> SignatureInput(CK_MECHANISM_TYPE type, std::span<const uint8_t> data) {
    const EVP_MD* md = nullptr;
    std::span<const uint8_t> prefix;
    switch (type) {
    case CKM_RSA_PKCS:
        return Bytes(data.begin(), data.end());
    case CKM_SHA1_RSA_PKCS:
        md = EVP_sha1();
        prefix = kSha1Prefix;
        break;
    case CKM_SHA256_RSA_PKCS:
        md = EVP_sha256();
        prefix = kSha256Prefix;
        break;
    case CKM_SHA384_RSA_PKCS:
        md = EVP_sha384();
        prefix = kSha384Prefix;
        break;
    case CKM_SHA512_RSA_PKCS:
        md = EVP_sha512();
        prefix = kSha512Prefix;
        break;
    default:
        return std::nullopt;
    }
    Bytes out(prefix.begin(), prefix.end());
    out.resize(prefix.size() + static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data() + prefix.size(), &length, md, nullptr) !=
        1) {
        return std::nullopt;
    }
    return out;
}

} // namespace velkp11
