#include "vcard/VirtualCard.h"

#include "vcard/CardImage.h"
#include "vcard/CardKeys.h"
#include "vcard/CertIssuance.h"
#include "vcard/FreshCard.h"
#include "vcard/TrustCenter.h"

#include <sys/stat.h>

namespace vcard {

VirtualCard::VirtualCard(CardProfile profile, CardState state, std::string imagePath)
    : m_profile(std::move(profile)), m_state(std::move(state)), m_imagePath(std::move(imagePath)) {}

std::vector<uint8_t> VirtualCard::Atr() const {
    return m_profile.atr;
}

void VirtualCard::Reset() {
    std::lock_guard lock(m_mutex);
    m_session = Session{};
}

bool VirtualCard::SupportsT1() const {
    return m_profile.t1;
}

std::vector<uint8_t> VirtualCard::Transmit(std::span<const uint8_t> command) {
    std::lock_guard lock(m_mutex);
    CommandProcessor processor(m_profile, m_state, m_session);
    Response response = processor.Process(command);
    if (processor.Dirty()) {
        Persist();
    }
    return response.Encode();
}

bool VirtualCard::Persist() const {
    return !m_imagePath.empty() && SaveImage(m_imagePath, m_state);
}

bool VirtualCard::Save() const {
    std::lock_guard lock(m_mutex);
    return Persist();
}

std::optional<Bytes> VirtualCard::ReadFile(std::string_view path) const {
    std::lock_guard lock(m_mutex);
    auto p = ParseCardPath(path);
    const CardFile* file = p ? m_state.files.Find(*p) : nullptr;
    if (file == nullptr || file->kind != FileKind::Transparent) {
        return std::nullopt;
    }
    return file->content;
}

bool VirtualCard::WriteFile(std::string_view path, std::span<const uint8_t> data) {
    std::lock_guard lock(m_mutex);
    auto p = ParseCardPath(path);
    CardFile* file = p ? m_state.files.Find(*p) : nullptr;
    if (file == nullptr || file->kind != FileKind::Transparent ||
        data.size() > file->content.size()) {
        return false;
    }
    std::copy(data.begin(), data.end(), file->content.begin());
    Persist();
    return true;
}

std::optional<Bytes> VirtualCard::ReadRecord(std::string_view path, size_t number) const {
    std::lock_guard lock(m_mutex);
    auto p = ParseCardPath(path);
    const CardFile* file = p ? m_state.files.Find(*p) : nullptr;
    if (file == nullptr || file->kind != FileKind::Records || number == 0 ||
        number > file->records.size()) {
        return std::nullopt;
    }
    return file->records[number - 1];
}

bool VirtualCard::WriteRecord(std::string_view path, size_t number, std::span<const uint8_t> data) {
    std::lock_guard lock(m_mutex);
    auto p = ParseCardPath(path);
    CardFile* file = p ? m_state.files.Find(*p) : nullptr;
    if (file == nullptr || file->kind != FileKind::Records || number == 0 ||
        number > file->records.size() + 1 || data.size() > 256) {
        return false;
    }
    if (number > file->records.size()) {
        file->records.emplace_back();
    }
    file->records[number - 1].assign(data.begin(), data.end());
    Persist();
    return true;
}

const CardKey* VirtualCard::FindKey(std::string_view keyFile) const {
    auto p = ParseCardPath(keyFile);
    if (!p) {
        return nullptr;
    }
    for (const CardKey& k : m_state.keys) {
        if (k.keyFile == *p) {
            return &k;
        }
    }
    return nullptr;
}

std::vector<std::string> VirtualCard::KeyFiles() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const CardKey& k : m_state.keys) {
        out.push_back(FormatCardPath(k.keyFile));
    }
    return out;
}

std::optional<Bytes> VirtualCard::PublicKeyInfo(std::string_view keyFile) const {
    std::lock_guard lock(m_mutex);
    const CardKey* key = FindKey(keyFile);
    return key ? RsaPublicKeyInfo(key->privateKeyDer) : std::nullopt;
}

std::optional<Bytes> VirtualCard::Decrypt(std::string_view keyFile,
                                          std::span<const uint8_t> ciphertext,
                                          bool pkcs1Padding) const {
    std::lock_guard lock(m_mutex);
    const CardKey* key = FindKey(keyFile);
    return key ? RsaDecrypt(key->privateKeyDer, ciphertext, pkcs1Padding) : std::nullopt;
}

PinRecord* VirtualCard::FindPinRecord(uint8_t ref) {
    for (PinRecord& p : m_state.pins) {
        if (p.ref == ref) {
            return &p;
        }
    }
    return nullptr;
}

const PinRecord* VirtualCard::FindPinRecord(uint8_t ref) const {
    for (const PinRecord& p : m_state.pins) {
        if (p.ref == ref) {
            return &p;
        }
    }
    return nullptr;
}

bool VirtualCard::SetPin(uint8_t ref, std::span<const uint8_t> value) {
    std::lock_guard lock(m_mutex);
    PinRecord* pin = FindPinRecord(ref);
    if (pin == nullptr || value.empty() || value.size() > 32) {
        return false;
    }
    pin->value.assign(value.begin(), value.end());
    pin->state = PinState::Set;
    pin->tries = pin->maxTries;
    Persist();
    return true;
}

std::optional<uint8_t> VirtualCard::PinTries(uint8_t ref) const {
    std::lock_guard lock(m_mutex);
    const PinRecord* pin = FindPinRecord(ref);
    if (pin == nullptr) {
        return std::nullopt;
    }
    return pin->tries;
}

std::unique_ptr<VirtualCard> OpenCard(const CardProfile& profile, const std::string& imagePath) {
    if (!imagePath.empty()) {
        auto loaded = LoadImage(imagePath);
        if (loaded && loaded->profile == profile.name) {
            return std::make_unique<VirtualCard>(profile, std::move(*loaded), imagePath);
        }
    }
    auto fresh = BuildFreshCard(profile);
    if (!fresh) {
        return nullptr;
    }
    // The demo trust center issues the card's certificates as it leaves the factory.
    if (profile.certificates != CardCertificates::None && profile.keyBits > 0) {
        const auto tc = TrustCenterFor(imagePath);
        if (!tc || !IssueCardCertificates(profile, *fresh, *tc)) {
            return nullptr;
        }
    }
    auto card = std::make_unique<VirtualCard>(profile, std::move(*fresh), imagePath);
    if (!imagePath.empty() && !card->Save()) {
        return nullptr;
    }
    return card;
}

std::unique_ptr<VirtualCard> OpenCard(const std::string& profile, const std::string& imagePath) {
    auto p = FindProfile(profile);
    if (!p) {
        return nullptr;
    }
    return OpenCard(*p, imagePath);
}

} // namespace vcard
