#include "dialogs/certs/CertValidity.h"

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kSoonDays = 30;

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};

struct Texts {
    const char* expired;
    const char* expires;
    const char* notYet;
    const char* valid;
    const char* issuer;
    const char* keyUsage;
    const char* unreadable;
};

constexpr Texts kEnglish{"expired on ",
                         "expires on ",
                         "valid from ",
                         "valid until ",
                         "Issuer: ",
                         "Key usage: ",
                         "The certificate cannot be read."};
constexpr Texts kGerman{"abgelaufen am ",
                        "läuft ab am ",
                        "gültig ab ",
                        "gültig bis ",
                        "Aussteller: ",
                        "Schlüsselverwendung: ",
                        "Das Zertifikat kann nicht gelesen werden."};
constexpr Texts kSwedish{"gick ut den ",
                         "går ut den ",
                         "giltigt från ",
                         "giltigt till ",
                         "Utfärdare: ",
                         "Nyckelanvändning: ",
                         "Certifikatet kan inte läsas."};

const Texts& TextsFor(int language) {
    switch (language) {
    case 0:
        return kEnglish;
    case 2:
        return kSwedish;
    default:
        return kGerman;
    }
}

std::string DateOf(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        return {};
    }
    // Four-digit years also before 1000, which GeneralizedTime allows.
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    return text;
}

std::string KeyUsageOf(X509* cert) {
    if ((X509_get_extension_flags(cert) & EXFLAG_KUSAGE) == 0) {
        return {};
    }
    static constexpr struct {
        uint32_t bit;
        const char* name;
    } kBits[] = {
        {KU_DIGITAL_SIGNATURE, "digitalSignature"},
        {KU_NON_REPUDIATION, "nonRepudiation"},
        {KU_KEY_ENCIPHERMENT, "keyEncipherment"},
        {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
        {KU_KEY_AGREEMENT, "keyAgreement"},
        {KU_KEY_CERT_SIGN, "keyCertSign"},
        {KU_CRL_SIGN, "cRLSign"},
        {KU_ENCIPHER_ONLY, "encipherOnly"},
        {KU_DECIPHER_ONLY, "decipherOnly"},
    };
    const uint32_t usage = X509_get_key_usage(cert);
    std::string text;
    for (const auto& bit : kBits) {
        if ((usage & bit.bit) != 0) {
            text += (text.empty() ? "" : ", ");
            text += bit.name;
        }
    }
    return text;
}

} // namespace

CertValidity ReadValidity(PCCERT_CONTEXT cert, std::time_t now) {
    CertValidity validity;
    if (cert == nullptr || cert->pbCertEncoded == nullptr || cert->cbCertEncoded == 0) {
        return validity;
    }
    const unsigned char* cursor = cert->pbCertEncoded;
    const std::unique_ptr<X509, X509Free> x509(
        d2i_X509(nullptr, &cursor, static_cast<long>(cert->cbCertEncoded)));
    if (!x509) {
        return validity;
    }
    const ASN1_TIME* notBefore = X509_get0_notBefore(x509.get());
    const ASN1_TIME* notAfter = X509_get0_notAfter(x509.get());
    validity.notBefore = DateOf(notBefore);
    validity.notAfter = DateOf(notAfter);
    validity.keyUsage = KeyUsageOf(x509.get());
    if (validity.notBefore.empty() || validity.notAfter.empty()) {
        return validity;
    }
    std::time_t soon = now + static_cast<std::time_t>(kSoonDays) * 24 * 60 * 60;
    if (X509_cmp_time(notAfter, &now) <= 0) {
        validity.state = CertValidityState::Expired;
    } else if (X509_cmp_time(notBefore, &now) > 0) {
        validity.state = CertValidityState::NotYetValid;
    } else if (X509_cmp_time(notAfter, &soon) <= 0) {
        validity.state = CertValidityState::ExpiresSoon;
    } else {
        validity.state = CertValidityState::Valid;
    }
    return validity;
}

std::string ValiditySentence(const CertValidity& validity, int language) {
    const Texts& texts = TextsFor(language);
    switch (validity.state) {
    case CertValidityState::Unknown:
        return texts.unreadable;
    case CertValidityState::Expired:
        return texts.expired + validity.notAfter;
    case CertValidityState::ExpiresSoon:
        return texts.expires + validity.notAfter;
    case CertValidityState::NotYetValid:
        return texts.notYet + validity.notBefore;
    case CertValidityState::Valid:
        break;
    }
    return texts.notYet + validity.notBefore + ", " + texts.valid + validity.notAfter;
}

std::string RowToolTip(const std::string& issuer, const CertValidity& validity, int language) {
    const Texts& texts = TextsFor(language);
    std::string tip = texts.issuer + issuer + "\n" + ValiditySentence(validity, language);
    if (!validity.keyUsage.empty()) {
        tip += "\n" + std::string(texts.keyUsage) + validity.keyUsage;
    }
    return tip;
}
