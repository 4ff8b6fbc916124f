#include "tests/asn1/TestSupport.h"

#include "asn1/CASN1.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace asn1test {

Bytes LoadData(const std::string& name) {
    std::ifstream in(std::string(VELK_ASN1_TEST_DATA) + "/" + name, std::ios::binary);
    if (!in) {
        throw std::runtime_error("missing test data " + name);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Bytes> LoadPemBundle(const std::string& path) {
    std::vector<Bytes> certs;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), BIO_free);
    if (!bio) {
        return certs;
    }
    while (X509Ptr cert{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        certs.push_back(Encode(cert.get()));
    }
    return certs;
}

Bytes Tlv(uint8_t identifier, const Bytes& contents) {
    Bytes out{identifier};
    const auto n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Asn1Cursor Over(const Bytes& data) {
    return CASN1::Start(data);
}

X509Ptr Decode(const Bytes& der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

namespace {
template <typename F> Bytes I2d(F&& i2d) {
    const int n = i2d(nullptr);
    if (n <= 0) {
        return {};
    }
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    i2d(&p);
    return out;
}
} // namespace

Bytes Encode(X509* cert) {
    return I2d([&](unsigned char** p) { return i2d_X509(cert, p); });
}

Bytes EncodeName(const X509_NAME* name) {
    return I2d([&](unsigned char** p) { return i2d_X509_NAME(name, p); });
}

std::string ExpectedNameText(const X509_NAME* name) {
    std::string text;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        char oid[128];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        const char* known = CASN1::OidName(oid);
        text += (i > 0 ? ", " : "") + std::string(known ? known : oid) + "=";
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
        const auto* octets = ASN1_STRING_get0_data(value);
        const auto length = static_cast<std::size_t>(ASN1_STRING_length(value));
        switch (ASN1_STRING_type(value)) {
        case V_ASN1_UTF8STRING:
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_T61STRING:
            text += std::string(reinterpret_cast<const char*>(octets), length).c_str();
            break;
        case V_ASN1_BMPSTRING:
            for (std::size_t k = 0; k + 1 < length; k += 2) {
                const unsigned unit = (octets[k] << 8) | octets[k + 1];
                if (unit == 0) {
                    break;
                }
                text += unit <= 0xFF ? static_cast<char>(unit) : '?';
            }
            break;
        default:
            return text; // any other string type ends the rendering
        }
    }
    return text;
}

std::string ExpectedSerialHex(const X509* cert) {
    const Bytes der =
        I2d([&](unsigned char** p) { return i2d_ASN1_INTEGER(X509_get0_serialNumber(cert), p); });
    std::string hex; // serials have at most 20 octets: a two-octet header
    for (std::size_t i = 2; i < der.size(); ++i) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        hex += {kDigits[der[i] >> 4], kDigits[der[i] & 0x0F]};
    }
    return hex;
}

Bytes ExpectedKey(const X509* cert) {
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (key == nullptr) {
        return {};
    }
    if (EVP_PKEY_is_a(key, "RSA")) {
        BIGNUM* n = nullptr;
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
        Bytes out(static_cast<std::size_t>(BN_num_bytes(n)));
        BN_bn2bin(n, out.data());
        BN_free(n);
        return out;
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        const unsigned char* point = nullptr;
        int length = 0;
        X509_PUBKEY_get0_param(nullptr, &point, &length, nullptr, X509_get_X509_PUBKEY(cert));
        return Bytes(point, point + length);
    }
    return {};
}

} // namespace asn1test
