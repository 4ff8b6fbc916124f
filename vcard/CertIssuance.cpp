#include "vcard/CertIssuance.h"

#include "vcard/CardKeys.h"

#include <algorithm>
#include <cstdio>

namespace vcard {

namespace {

constexpr size_t kCaFileSize = 2048;

const CardKey* KeyOf(const CardState& state, const CardPath& keyFile) {
    for (const CardKey& key : state.keys) {
        if (key.keyFile == keyFile) {
            return &key;
        }
    }
    return nullptr;
}

bool WriteInto(CardState& state, std::string_view fileText, const Bytes& der) {
    const auto path = ParseCardPath(fileText);
    CardFile* file = path ? state.files.Find(*path) : nullptr;
    if (file == nullptr || file->kind != FileKind::Transparent || der.size() > file->Size()) {
        return false;
    }
    std::copy(der.begin(), der.end(), file->content.begin());
    return true;
}

// The card number as the digits of EF.GDO's ICCSN, for the card certificate.
std::string CardNumber(const CardState& state) {
    const CardFile* gdo = state.files.Find({kMasterFile, 0x2F02});
    std::string digits;
    if (gdo != nullptr && gdo->content.size() > 2) {
        for (size_t i = 2; i < gdo->content.size(); ++i) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", gdo->content[i]);
            digits += two;
        }
    }
    return digits;
}

bool IssueInto(CardState& state, const CertSlot& slot, CertRequest request, const TrustCenter& tc) {
    const auto der = IssueSlotCertificate(state, slot, std::move(request), tc);
    return der && WriteInto(state, slot.certFile, *der);
}

bool AddCaFile(CardState& state, std::string_view fileText, const Bytes& der) {
    const auto path = ParseCardPath(fileText);
    return path && !der.empty() &&
           (state.files.Find(*path) != nullptr ||
            state.files.Add(*path, FileKind::Transparent, kCaFileSize)) &&
           WriteInto(state, fileText, der);
}

} // namespace

const CertSlot* SlotOfKeyFile(std::string_view keyFile) {
    for (const CertSlot& slot : kHolderSlots) {
        if (slot.keyFile == keyFile) {
            return &slot;
        }
    }
    return keyFile == kCardSlot.keyFile ? &kCardSlot : nullptr;
}

std::optional<Bytes> IssueSlotCertificate(const CardState& state, const CertSlot& slot,
                                          CertRequest request, const TrustCenter& tc) {
    const auto keyFile = ParseCardPath(slot.keyFile);
    const CardKey* key = keyFile ? KeyOf(state, *keyFile) : nullptr;
    if (key == nullptr) {
        return std::nullopt;
    }
    auto spki = RsaPublicKeyInfo(key->privateKeyDer);
    if (!spki) {
        return std::nullopt;
    }
    request.kind = slot.kind;
    request.subjectPublicKeyInfo = std::move(*spki);
    return tc.Issue(request);
}

bool IssueCardCertificates(const CardProfile& profile, CardState& state, const TrustCenter& tc) {
    // A card made without keys (tests of the file system) has nothing to certify.
    if (profile.certificates == CardCertificates::None || profile.keyBits == 0) {
        return true;
    }
    if (profile.certificates == CardCertificates::Holder) {
        for (const CertSlot& slot : kHolderSlots) {
            CertRequest request;
            request.commonName = profile.holderName;
            request.email = profile.holderEmail;
            if (!IssueInto(state, slot, request, tc)) {
                return false;
            }
        }
    }
    CertRequest card;
    card.commonName = "Card Authentication";
    card.serialNumber = CardNumber(state);
    return IssueInto(state, kCardSlot, card, tc) &&
           AddCaFile(state, kIssuingCaFile, tc.IssuingCertificate()) &&
           AddCaFile(state, kRootCaFile, tc.RootCertificate());
}

} // namespace vcard
