#pragma once

#include "vcard/CardState.h"
#include "vcard/TrustCenter.h"

#include <optional>
#include <string_view>

namespace vcard {

// Where a fresh T-COS 3.0 card keeps the certificate of each of its keys, and
// the files for the trust center's CA certificates.
struct CertSlot {
    std::string_view keyFile;  // "" for a CA certificate
    std::string_view certFile; // transparent file holding the DER certificate
    CertKind kind = CertKind::Authentication;
};

inline constexpr CertSlot kHolderSlots[] = {
    {"3f00df014531", "3f00df01c000", CertKind::Signature},
    {"3f00df024531", "3f00df02c000", CertKind::Authentication},
    {"3f00df0245b1", "3f00df02c200", CertKind::Encryption},
};
inline constexpr CertSlot kCardSlot = {"3f00df024571", "3f00df02c500",
                                       CertKind::CardAuthentication};
inline constexpr std::string_view kIssuingCaFile = "3f00df02c100";
inline constexpr std::string_view kRootCaFile = "3f00df02c101";

// The slot of a holder key file (or of the card's own key file 4571); null
// for any other file.
const CertSlot* SlotOfKeyFile(std::string_view keyFile);

// A certificate of `tc` for the key of `slot` as the card holds it (its
// public part), of the slot's kind; nullopt when the card has no such key or
// the signing fails. Writes nothing.
std::optional<Bytes> IssueSlotCertificate(const CardState& state, const CertSlot& slot,
                                          CertRequest request, const TrustCenter& tc);

// Issues the certificates that the profile's card gets at creation (see
// CardCertificates) for the card's own keys and writes them, with the CA
// certificates, into the certificate files; the rest of each file stays 00.
// True when there is nothing to issue (no certificates in the profile, or
// no keys); false when a key, a file or the
// signing fails.
bool IssueCardCertificates(const CardProfile& profile, CardState& state, const TrustCenter& tc);

} // namespace vcard
