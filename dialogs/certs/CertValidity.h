#pragma once

#include "platform/crypto/WinCrypt.h"

#include <ctime>
#include <string>

// How long a certificate is still good for, for the marker and tooltip of its row.
enum class CertValidityState {
    Unknown, // the certificate could not be read
    Valid,
    ExpiresSoon, // within the next 30 days
    Expired,
    NotYetValid,
};

struct CertValidity {
    CertValidityState state = CertValidityState::Unknown;
    std::string notBefore; // "2026-03-01" (UTC)
    std::string notAfter;
    std::string keyUsage; // the key usage bits' names, ", "-joined; empty without the extension
};

// Reads the validity and key usage of `cert` as of `now`.
CertValidity ReadValidity(PCCERT_CONTEXT cert, std::time_t now);

// The sentence about the validity in catalogue language `language` (0 English, 1 German,
// 2 Swedish, others German): "expired on 2026-03-01", "expires on 2026-03-01", ...
std::string ValiditySentence(const CertValidity& validity, int language);

// The whole tooltip of a row: issuer, validity and key usage, one per line.
std::string RowToolTip(const std::string& issuer, const CertValidity& validity, int language);
