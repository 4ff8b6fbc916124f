#include "monitor/CCertDetails.h"

#include "asn1/CASN1.h"
#include "monitor/CryptOwners.h"

#include <span>

namespace {

constexpr const char* kQcStatementsOid = "1.3.6.1.5.5.7.1.3";

std::string NameField(const uint8_t* der, std::size_t length, uint32_t field) {
    if (der == nullptr || length == 0) {
        return {};
    }
    Asn1Cursor name;
    if (!CASN1::LocateCertField(std::span<const uint8_t>(der, length), field, name)) {
        return {};
    }
    return CASN1::NameToText(name, name.size);
}

} // namespace

std::string CCertDetails::GetSubjectText(const uint8_t* der, std::size_t length) {
    return NameField(der, length, CASN1::CERT_SUBJECT);
}

std::string CCertDetails::GetIssuerText(const uint8_t* der, std::size_t length) {
    return NameField(der, length, CASN1::CERT_ISSUER);
}

std::string CCertDetails::GetSerialText(const uint8_t* der, std::size_t length) {
    if (der == nullptr || length == 0) {
        return {};
    }
    Asn1Cursor serial;
    if (!CASN1::LocateCertField(std::span<const uint8_t>(der, length), CASN1::CERT_SERIAL,
                                serial)) {
        return {};
    }
    return CASN1::ContentHex(serial);
}

bool CCertDetails::HasQcStatements(const uint8_t* der, std::size_t length) {
    if (der == nullptr || length == 0 || length > UINT32_MAX) {
        return false;
    }
    const monitor::CertOwner cert(CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der, static_cast<DWORD>(length)));
    if (!cert || cert.Get()->pCertInfo == nullptr) {
        return false;
    }
    const PCERT_INFO info = cert.Get()->pCertInfo;
    return CertFindExtension(kQcStatementsOid, info->cExtension, info->rgExtension) != nullptr;
}
