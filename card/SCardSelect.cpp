// File selection of SCard: master file, dedicated and elementary files, and
// paths with the chain of selected dedicated files kept in selectedPath.

#include "card/SCard.h"

#include "card/CardPath.h"
#include "card/CardType.h"
#include "card/Fci.h"

#include <array>

namespace {

constexpr uint8_t kSelect = 0xA4;
constexpr uint16_t kMasterFile = 0x3F00;

std::array<uint8_t, 2> FidBytes(uint16_t fid) {
    return {static_cast<uint8_t>(fid >> 8), static_cast<uint8_t>(fid & 0xFF)};
}

} // namespace

uint8_t SCard::SelectMF() {
    static constexpr uint8_t kMf[] = {0x3F, 0x00};
    bool exchanged = false;
    switch (m_cardType) {
    case scard::kTcos20:
    case scard::kTcos30:
    case scard::kTcos30V2:
        exchanged = Exchange(Case4, kSelect, 0x00, 0x00, 2, 0xFF, kMf);
        break;
    case scard::kMicardo:
    case scard::kCardOs4:
    case scard::kCardOs8:
        exchanged = Exchange(Case2, kSelect, 0x00, 0x00, 0, 0x00, nullptr);
        break;
    default:
        return scard::kFileFailed;
    }
    // Whatever the card answered, only the master file counts as selected now.
    SelectedPathIsMF();
    return exchanged ? scard::FileResult(m_sw1, m_sw2, false) : scard::kFileFailed;
}

uint8_t SCard::SelectDF(uint16_t fid) {
    const auto f = FidBytes(fid);
    for (int attempt = 1;; ++attempt) {
        bool exchanged = false;
        switch (m_cardType) {
        case scard::kTcos20:
            exchanged = Exchange(Case4, kSelect, 0x01, 0x00, 2, 0xFF, f.data());
            break;
        case scard::kTcos30:
        case scard::kTcos30V2:
            exchanged = Exchange(Case4, kSelect, 0x01, 0x04, 2, 0xFF, f.data());
            break;
        case scard::kMicardo:
            exchanged = Exchange(Case3, kSelect, 0x01, 0x00, 2, 0, f.data());
            break;
        case scard::kCardOs4:
        case scard::kCardOs8:
            // CardOS selects the DF by its path from the master file.
            exchanged = Exchange(Case4, kSelect, 0x08, 0x04, 2, 0xFF, f.data());
            break;
        default:
            return scard::kFileFailed;
        }
        if (!exchanged) {
            return scard::kFileFailed;
        }
        // File not found: start again from the master file, three tries in all.
        if (m_sw1 == 0x6A && m_sw2 == 0x82) {
            if (attempt == 3) {
                return scard::kFileFailed;
            }
            SelectMF();
            continue;
        }
        return scard::FileResult(m_sw1, m_sw2, false);
    }
}

uint8_t SCard::SelectEF(uint16_t fid) {
    const auto f = FidBytes(fid);
    bool exchanged = false;
    switch (m_cardType) {
    case scard::kTcos20:
    case scard::kTcos30V2:
        exchanged = Exchange(Case4, kSelect, 0x02, 0x00, 2, 0xFF, f.data());
        break;
    case scard::kTcos30:
        exchanged = Exchange(Case4, kSelect, 0x02, 0x04, 2, 0xFF, f.data());
        break;
    case scard::kMicardo:
        exchanged = Exchange(Case3, kSelect, 0x02, 0x00, 2, 0, f.data());
        break;
    case scard::kCardOs4:
    case scard::kCardOs8:
        return NoFormResult(false);
    default:
        return scard::kFileFailed;
    }
    return exchanged ? scard::FileResult(m_sw1, m_sw2, false) : scard::kFileFailed;
}

uint8_t SCard::SelectPath(std::string_view path, bool fromMF) {
    if (fromMF) {
        SelectMF();
    }
    const auto parsed = scard::ParseHexPath(path);
    if (!parsed) {
        return scard::kFileFailed;
    }
    const auto whole = parsed->View();
    const auto rest = whole.subspan(scard::CoveredPrefix(SelectedPath(), whole));

    if (rest.size() == 2 && rest[0] == 0x3F && rest[1] == 0x00) {
        return SelectMF() == scard::kFileOk ? scard::kFileOk : scard::kFileFailed;
    }
    if (rest.empty()) {
        return scard::kFileFailed;
    }
    for (std::size_t i = 0; i + 2 < rest.size(); i += 2) {
        const auto fid = static_cast<uint16_t>(rest[i] << 8 | rest[i + 1]);
        if (fid == kMasterFile) {
            if (SelectMF() != scard::kFileOk) {
                return scard::kFileFailed;
            }
            continue;
        }
        if (SelectDF(fid) != scard::kFileOk) {
            return scard::kFileFailed;
        }
        if (m_selectedPathLength + 2 > m_selectedPath.size()) {
            return scard::kFileFailed; // deeper than any path can be
        }
        m_selectedPath[m_selectedPathLength++] = rest[i];
        m_selectedPath[m_selectedPathLength++] = rest[i + 1];
    }
    const std::size_t last = rest.size() - 2;
    const auto ef = static_cast<uint16_t>(rest[last] << 8 | rest[last + 1]);
    return SelectEF(ef) == scard::kFileOk ? scard::kFileOk : scard::kFileFailed;
}

uint16_t SCard::GetFileSize() const {
    return scard::FileSizeFromFci(m_cardType, Response());
}
