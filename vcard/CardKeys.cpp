#include "vcard/CardKeys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

namespace vcard {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using UniquePkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using UniqueBn = std::unique_ptr<BIGNUM, BnFree>;

UniquePkey LoadKey(std::span<const uint8_t> der) {
    if (der.empty()) {
        return nullptr;
    }
    const unsigned char* p = der.data();
    UniquePkey key(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
    return key;
}

} // namespace

std::optional<Bytes> GenerateRsaKey(int bits) {
    UniquePkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    if (!key) {
        return std::nullopt;
    }
    const int len = i2d_PrivateKey(key.get(), nullptr);
    if (len <= 0) {
        return std::nullopt;
    }
    Bytes der(static_cast<size_t>(len));
    unsigned char* out = der.data();
    if (i2d_PrivateKey(key.get(), &out) != len) {
        return std::nullopt;
    }
    return der;
}

std::optional<Bytes> RsaModulus(std::span<const uint8_t> privateKeyDer) {
    UniquePkey key = LoadKey(privateKeyDer);
    if (!key) {
        return std::nullopt;
    }
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &raw) != 1) {
        return std::nullopt;
    }
    UniqueBn n(raw);
    const int size = EVP_PKEY_get_size(key.get());
    if (size <= 0 || BN_num_bytes(n.get()) > size) {
        return std::nullopt;
    }
    Bytes out(static_cast<size_t>(size));
    if (BN_bn2binpad(n.get(), out.data(), size) != size) {
        return std::nullopt;
    }
    return out;
}

std::optional<Bytes> RsaPublicKeyInfo(std::span<const uint8_t> privateKeyDer) {
    UniquePkey key = LoadKey(privateKeyDer);
    if (!key) {
        return std::nullopt;
    }
    const int len = i2d_PUBKEY(key.get(), nullptr);
    if (len <= 0) {
        return std::nullopt;
    }
    Bytes der(static_cast<size_t>(len));
    unsigned char* out = der.data();
    if (i2d_PUBKEY(key.get(), &out) != len) {
        return std::nullopt;
    }
    return der;
}

std::optional<Bytes> RsaDecrypt(std::span<const uint8_t> privateKeyDer,
                                std::span<const uint8_t> ciphertext, bool pkcs1Padding) {
    UniquePkey key = LoadKey(privateKeyDer);
    if (!key) {
        return std::nullopt;
    }
    UniquePkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(),
                                     pkcs1Padding ? RSA_PKCS1_PADDING : RSA_NO_PADDING) != 1) {
        return std::nullopt;
    }
    size_t outLen = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &outLen, ciphertext.data(), ciphertext.size()) != 1) {
        return std::nullopt;
    }
    Bytes out(outLen);
    if (EVP_PKEY_decrypt(ctx.get(), out.data(), &outLen, ciphertext.data(), ciphertext.size()) !=
        1) {
        return std::nullopt;
    }
    out.resize(outLen);
    return out;
}

bool IsRsaPrivateKey(std::span<const uint8_t> privateKeyDer) {
    return LoadKey(privateKeyDer) != nullptr;
}

} // namespace vcard
