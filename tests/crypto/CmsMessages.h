#pragma once

// Enveloped messages made with OpenSSL's CMS, for the decryption tests.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velktest {

// `content` enveloped for the DER certificates, in their order; BER with
// indefinite lengths when `streamed`, else DER. Empty when OpenSSL refuses.
inline std::vector<uint8_t> Envelope(const std::vector<std::vector<uint8_t>>& recipients,
                                     const std::string& content, const EVP_CIPHER* cipher,
                                     unsigned flags = CMS_BINARY, bool streamed = false) {
    STACK_OF(X509)* certs = sk_X509_new_null();
    for (const auto& der : recipients) {
        const unsigned char* p = der.data();
        sk_X509_push(certs, d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    }
    flags |= streamed ? CMS_STREAM : 0u;
    BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    BIO* out = BIO_new(BIO_s_mem());
    CMS_ContentInfo* cms = CMS_encrypt(certs, in, cipher, flags);
    if (cms != nullptr) {
        streamed ? i2d_CMS_bio_stream(out, cms, in, static_cast<int>(flags))
                 : i2d_CMS_bio(out, cms);
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::vector<uint8_t> message(data, data + length);
    CMS_ContentInfo_free(cms);
    BIO_free(out);
    BIO_free(in);
    sk_X509_pop_free(certs, X509_free);
    return message;
}

} // namespace velktest
