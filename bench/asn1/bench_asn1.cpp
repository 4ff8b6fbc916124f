// Certificates per second for the four things the program takes from a
// certificate (subject and issuer text, serial number, public key): with the
// program's own decoder, and with OpenSSL's d2i_X509 and its getters, on the
// same set of real certificates held in memory.
//
// usage: bench_asn1 [PEM bundle] [seconds per side]
// (default /etc/ssl/certs/ca-certificates.crt, 2 seconds)
#include "asn1/CASN1.h"
#include "asn1/CCertInfo.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::vector<Bytes> LoadBundle(const char* path) {
    std::vector<Bytes> certs;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path, "r"), BIO_free);
    while (bio) {
        std::unique_ptr<X509, decltype(&X509_free)> x(
            PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
        if (!x) {
            break;
        }
        unsigned char* der = nullptr;
        const int n = i2d_X509(x.get(), &der);
        if (n > 0) {
            certs.emplace_back(der, der + n);
        }
        OPENSSL_free(der);
    }
    return certs;
}

// Everything the program reads from one certificate, folded into a number so
// that no work can be dropped by the optimiser.
std::size_t DecodeOwn(const Bytes& cert) {
    std::size_t sum = 0;
    Asn1Cursor c;
    if (CASN1::LocateCertField(cert, CASN1::CERT_SUBJECT, c)) {
        sum += CASN1::NameToText(c, c.size).size();
    }
    if (CASN1::LocateCertField(cert, CASN1::CERT_ISSUER, c)) {
        sum += CASN1::NameToText(c, c.size).size();
    }
    if (CASN1::LocateCertField(cert, CASN1::CERT_SERIAL, c)) {
        sum += CASN1::ContentHex(c).size();
    }
    uint32_t length = 0;
    std::vector<uint8_t> key;
    if (CCertInfo("dummy", cert).GetPublicKey(length, key, false) == 0) {
        sum += length;
    }
    return sum;
}

std::size_t DecodeOpenSsl(const Bytes& cert) {
    const unsigned char* p = cert.data();
    std::unique_ptr<X509, decltype(&X509_free)> x(
        d2i_X509(nullptr, &p, static_cast<long>(cert.size())), X509_free);
    if (!x) {
        return 0;
    }
    std::size_t sum = 0;
    char name[1024];
    sum += std::string(X509_NAME_oneline(X509_get_subject_name(x.get()), name, sizeof name)).size();
    sum += std::string(X509_NAME_oneline(X509_get_issuer_name(x.get()), name, sizeof name)).size();
    if (BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(x.get()), nullptr)) {
        char* hex = BN_bn2hex(serial);
        sum += std::string(hex).size();
        OPENSSL_free(hex);
        BN_free(serial);
    }
    EVP_PKEY* key = X509_get0_pubkey(x.get());
    BIGNUM* modulus = nullptr;
    if (key != nullptr && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &modulus) == 1) {
        std::vector<uint8_t> octets(static_cast<std::size_t>(BN_num_bytes(modulus)));
        sum += static_cast<std::size_t>(BN_bn2bin(modulus, octets.data()));
        BN_free(modulus);
    } else {
        const unsigned char* point = nullptr;
        int length = 0;
        if (X509_PUBKEY_get0_param(nullptr, &point, &length, nullptr,
                                   X509_get_X509_PUBKEY(x.get())) == 1) {
            sum += static_cast<std::size_t>(length);
        }
    }
    return sum;
}

// OpenSSL's parse alone, for scale: how much of its time the getters take.
std::size_t ParseOpenSsl(const Bytes& cert) {
    const unsigned char* p = cert.data();
    std::unique_ptr<X509, decltype(&X509_free)> x(
        d2i_X509(nullptr, &p, static_cast<long>(cert.size())), X509_free);
    return x ? 1 : 0;
}

struct Result {
    double certsPerSecond;
    std::size_t checksum;
};

template <typename F> Result Measure(const std::vector<Bytes>& certs, double seconds, F decode) {
    std::size_t checksum = 0, decoded = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        for (const Bytes& cert : certs) {
            checksum += decode(cert);
        }
        decoded += certs.size();
        elapsed = Clock::now() - start;
    } while (elapsed.count() < seconds);
    return {static_cast<double>(decoded) / elapsed.count(), checksum};
}

} // namespace

int main(int argc, char** argv) {
    const char* bundle = argc > 1 ? argv[1] : "/etc/ssl/certs/ca-certificates.crt";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
    const auto certs = LoadBundle(bundle);
    if (certs.empty()) {
        std::fprintf(stderr, "no certificates in %s\n", bundle);
        return 1;
    }
    std::size_t octets = 0;
    for (const auto& cert : certs) {
        octets += cert.size();
    }
    std::printf("%zu certificates (%zu octets) from %s\n", certs.size(), octets, bundle);

    const Result own = Measure(certs, seconds, DecodeOwn);
    const Result openssl = Measure(certs, seconds, DecodeOpenSsl);
    const Result parse = Measure(certs, seconds, ParseOpenSsl);
    std::printf("own decoder (subject, issuer, serial, public key): %12.0f certificates/s\n",
                own.certsPerSecond);
    std::printf("OpenSSL d2i_X509 + the same getters:               %12.0f certificates/s\n",
                openssl.certsPerSecond);
    std::printf("OpenSSL d2i_X509 alone:                            %12.0f certificates/s\n",
                parse.certsPerSecond);
    std::printf("ratio own / OpenSSL: %.2f\n", own.certsPerSecond / openssl.certsPerSecond);
    std::printf("(checksums %zu %zu)\n", own.checksum, openssl.checksum);
    return 0;
}
