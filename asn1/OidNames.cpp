#include "asn1/CASN1.h"

#include <array>
#include <string_view>

namespace {

struct OidRow {
    std::string_view oid;
    const char* name;
};

// Searched from the first row to the last; the first exact match wins.
constexpr std::array kOidNames{
    OidRow{"1.2.840.10045.2.1", "ecPublicKey"},
    OidRow{"1.2.840.10045.3.1.1", "prime192v1"},
    OidRow{"1.2.840.10045.3.1.2", "prime192v2"},
    OidRow{"1.2.840.10045.3.1.3", "prime192v3"},
    OidRow{"1.2.840.113549.1.1.1", "rsaEncryption"},
    OidRow{"1.2.840.113549.1.1.4", "md5withRSAEncryption"},
    OidRow{"1.2.840.113549.1.1.5", "sha1withRSAEncryption"},
    OidRow{"1.2.840.113549.1.1.11", "sha256withRSAEncryption"},
    OidRow{"1.2.840.113549.1.1.12", "sha384withRSAEncryption"},
    OidRow{"1.2.840.113549.1.1.13", "sha512withRSAEncryption"},
    OidRow{"1.2.840.113549.1.9.1", "emailAddress"},
    OidRow{"1.3.36.8.1.1", "id-isismtt-cp-sigconform"},
    OidRow{"1.3.36.8.3.1", "id-isismtt-at-dateOfCertGen"},
    OidRow{"1.3.36.8.3.2", "id-isismtt-at-procuration"},
    OidRow{"1.3.36.8.3.3", "id-isismtt-at-admission"},
    OidRow{"1.3.36.8.3.4", "id-isismtt-at-monetaryLimit"},
    OidRow{"1.3.36.8.3.5", "id-isismtt-at-declarationOfMajority"},
    OidRow{"1.3.36.8.3.6", "id-isismtt-at-ICCSN"},
    OidRow{"1.3.36.8.3.7", "id-isismtt-at-pKReference"},
    OidRow{"1.3.36.8.3.8", "id-isismtt-at-restriction"},
    OidRow{"1.3.36.8.3.9", "id-isismtt-at-retrieveIfAllowed"},
    OidRow{"1.3.36.8.3.10", "id-isismtt-at-requestedCertificate"},
    OidRow{"1.3.36.8.3.11", "id-isismtt-at-namingAuthorities"},
    OidRow{"1.3.36.8.3.12", "id-isismtt-at-certInDirSince"},
    OidRow{"1.3.36.8.3.13", "id-isismtt-at-certHash"},
    OidRow{"1.3.36.8.3.14", "id-isismtt-at-nameAtBirth"},
    OidRow{"1.3.36.8.3.15", "id-isismtt-at-additionalInformation"},
    OidRow{"1.3.36.3.3.1.2", "ripemd160withRSAEncryption"},
    OidRow{"1.3.36.3.3.2.2.1", "sha1withECSIEEncryption"},
    OidRow{"1.3.36.3.3.2.2.2", "ripemd160withECSIEEncryption"},
    OidRow{"1.3.6.1.5.5.7.1.1", "authorityInfoAccess"},
    OidRow{"1.3.6.1.5.5.7.1.3", "qcStatements"},
    OidRow{"1.3.6.1.5.5.7.9.1", "dateOfBirth"},
    OidRow{"1.3.6.1.5.5.7.9.2", "placeOfBirth"},
    OidRow{"1.3.6.1.5.5.7.9.4", "countryOfCitizenship"},
    OidRow{"1.3.6.1.4.1.8301.3.5", "validityModel"},
    OidRow{"2.16.840.1.113730.1.13", "netscapeCertificateComment"},
    OidRow{"0.4.0.1862.1.2", "QcEuLimitValue"},
    OidRow{"2.5.4.1", "aliasedEntryName"},
    OidRow{"2.5.4.2", "knowldgeinformation"},
    OidRow{"2.5.4.3", "commonName"},
    OidRow{"2.5.4.4", "surname"},
    OidRow{"2.5.4.5", "serialNumber"},
    OidRow{"2.5.4.6", "countryName"},
    OidRow{"2.5.4.7", "localityName"},
    OidRow{"2.5.4.8", "stateOrProvinceName"},
    OidRow{"2.5.4.9", "streetAddress"},
    OidRow{"2.5.4.10", "organizationName"},
    OidRow{"2.5.4.11", "organizationalUnitName"},
    OidRow{"2.5.4.12", "title"},
    OidRow{"2.5.4.13", "description"},
    OidRow{"2.5.4.16", "postalAddress"},
    OidRow{"2.5.4.42", "givenname"},
    OidRow{"2.5.4.65", "pseudonym"},
    OidRow{"2.5.29.9", "subjectDirectoryAttributes"},
    OidRow{"2.5.29.14", "subjectKeyIdentifier"},
    OidRow{"2.5.29.15", "keyUsage"},
    OidRow{"2.5.29.17", "subjectAltName"},
    OidRow{"2.5.29.18", "issuerAltName"},
    OidRow{"2.5.29.19", "basicConstraints"},
    OidRow{"2.5.29.31", "cRLDistributionPoints"},
    OidRow{"2.5.29.32", "certificatePolicies"},
    OidRow{"2.5.29.35", "authorityKeyIdentifier"},
    OidRow{"0.2.262.1.10.7.20", "nameDistinguisher"},
};

} // namespace

const char* CASN1::OidName(std::string_view oid) {
    for (const auto& row : kOidNames) {
        if (row.oid == oid) {
            return row.name;
        }
    }
    return nullptr;
}
