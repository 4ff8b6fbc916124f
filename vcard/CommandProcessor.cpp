#include "vcard/CommandProcessor.h"

#include "vcard/StatusWords.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace vcard {

struct CommandProcessor::Entry {
    uint8_t ins;
    uint8_t cases; // ApduCase bits the command accepts
    Response (CommandProcessor::*run)(const CommandApdu&);
};

const CommandProcessor::Entry CommandProcessor::kCommands[] = {
    {0xA4, kCase1 | kCase2 | kCase3 | kCase4, &CommandProcessor::Select},
    {0xB0, kCase2, &CommandProcessor::ReadBinary},
    {0xD6, kCase3, &CommandProcessor::UpdateBinary},
    {0xB2, kCase2, &CommandProcessor::ReadRecord},
    {0x20, kCase1 | kCase3, &CommandProcessor::Verify},
    {0x24, kCase3, &CommandProcessor::ChangeReferenceData},
    {0x2C, kCase3, &CommandProcessor::ResetRetryCounter},
    {0x22, kCase3, &CommandProcessor::InstallMakerKey},
};

namespace {

uint16_t Fid(std::span<const uint8_t> two) {
    return static_cast<uint16_t>(two[0] << 8 | two[1]);
}

void PutWord(Bytes& out, uint8_t tag, size_t value) {
    out.insert(out.end(), {tag, 0x02, static_cast<uint8_t>(value >> 8 & 0xFF),
                           static_cast<uint8_t>(value & 0xFF)});
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

CommandProcessor::CommandProcessor(const CardProfile& profile, CardState& state, Session& session)
    : m_profile(profile), m_state(state), m_session(session) {}

Response CommandProcessor::Process(std::span<const uint8_t> apdu) {
    m_session.verified.resize(m_state.pins.size(), false);
    const auto cmd = ParseCommand(apdu);
    if (!cmd) {
        return Response::Status(sw::kWrongLength);
    }
    if (auto keyCommand =
            KeyCommands(m_state, m_session.keys, m_session.verified, m_session.currentDf)
                .Process(*cmd)) {
        return *keyCommand;
    }
    if (cmd->cla != 0x00) {
        return Response::Status(sw::kClaNotSupported);
    }
    for (const Entry& e : kCommands) {
        if (e.ins != cmd->ins) {
            continue;
        }
        if ((e.cases & cmd->apduCase) == 0) {
            return Response::Status(sw::kWrongLength);
        }
        return (this->*e.run)(*cmd);
    }
    return Response::Status(sw::kInsNotSupported);
}

// --- selection ---------------------------------------------------------------

Response CommandProcessor::Select(const CommandApdu& cmd) {
    if (cmd.p2 != 0x00 && cmd.p2 != 0x04 && cmd.p2 != 0x0C) {
        return Response::Status(sw::kWrongP1P2);
    }
    const CardPath mf{kMasterFile};
    const CardPath& dir = m_session.currentDf;
    switch (cmd.p1) {
    case 0x00: { // the MF, or any file of the current DF by its FID
        if (cmd.data.empty() || (cmd.data.size() == 2 && Fid(cmd.data) == kMasterFile)) {
            return Selected(mf, std::nullopt, cmd);
        }
        if (cmd.data.size() != 2) {
            return Response::Status(sw::kLcInconsistent);
        }
        const CardFile* file = m_state.files.Child(dir, Fid(cmd.data));
        if (file == nullptr) {
            return Response::Status(sw::kFileNotFound);
        }
        if (file->kind == FileKind::Dedicated) {
            CardPath df = dir;
            df.push_back(file->fid);
            return Selected(df, std::nullopt, cmd);
        }
        return Selected(dir, file->fid, cmd);
    }
    case 0x01:   // a DF directly inside the current DF
    case 0x02: { // an EF directly inside the current DF
        if (cmd.data.size() != 2) {
            return Response::Status(sw::kLcInconsistent);
        }
        const CardFile* file = m_state.files.Child(dir, Fid(cmd.data));
        const bool wantDf = cmd.p1 == 0x01;
        if (file == nullptr || (file->kind == FileKind::Dedicated) != wantDf) {
            return Response::Status(sw::kFileNotFound);
        }
        if (wantDf) {
            CardPath df = dir;
            df.push_back(file->fid);
            return Selected(df, std::nullopt, cmd);
        }
        return Selected(dir, file->fid, cmd);
    }
    case 0x08: { // a path from the MF, without the MF's own FID
        if (cmd.data.empty() || cmd.data.size() % 2 != 0) {
            return Response::Status(sw::kLcInconsistent);
        }
        CardPath path = mf;
        for (size_t i = 0; i < cmd.data.size(); i += 2) {
            path.push_back(Fid(cmd.data.subspan(i, 2)));
        }
        const CardFile* file = m_state.files.Find(path);
        if (file == nullptr) {
            return Response::Status(sw::kFileNotFound);
        }
        if (file->kind == FileKind::Dedicated) {
            return Selected(path, std::nullopt, cmd);
        }
        path.pop_back();
        return Selected(path, file->fid, cmd);
    }
    default:
        return Response::Status(sw::kWrongP1P2);
    }
}

Response CommandProcessor::Selected(const CardPath& df, std::optional<uint16_t> ef,
                                    const CommandApdu& cmd) {
    m_session.currentDf = df;
    m_session.currentEf = ef;
    Response r;
    // A T=0 card cannot see Le in a case 4 command (the reader sends only the
    // case 3 part), so such cards answer the FCI whenever one is asked for.
    const bool wantFci = cmd.p2 != 0x0C && (cmd.le.has_value() || !m_profile.t1);
    if (wantFci) {
        CardPath path = df;
        if (ef) {
            path.push_back(*ef);
        }
        if (const CardFile* file = m_state.files.Find(path)) {
            r.data = FileControlInfo(*file);
            if (cmd.le && r.data.size() > *cmd.le) {
                r.data.resize(*cmd.le);
            }
        }
    }
    return r;
}

// The file control information in the card type's own layout; the size tag
// is what a reader of the FCI looks for.
Bytes CommandProcessor::FileControlInfo(const CardFile& file) const {
    const bool df = file.kind == FileKind::Dedicated;
    const uint8_t descriptor = df ? 0x38 : (file.kind == FileKind::Transparent ? 0x01 : 0x04);
    const uint8_t fid[2] = {static_cast<uint8_t>(file.fid >> 8), static_cast<uint8_t>(file.fid)};
    Bytes body;
    auto putDescriptorAndFid = [&] {
        body.insert(body.end(), {0x82, 0x01, descriptor, 0x83, 0x02, fid[0], fid[1]});
    };
    uint8_t templateTag = 0x62;
    switch (m_profile.fci) {
    case FciStyle::Tcos3:
        if (!df) {
            PutWord(body, 0x80, file.Size());
        }
        putDescriptorAndFid();
        break;
    case FciStyle::Tcos2:
        templateTag = 0x6F;
        putDescriptorAndFid();
        if (!df) {
            PutWord(body, 0x81, file.Size());
        }
        break;
    case FciStyle::Micardo:
        templateTag = 0x6F;
        body.insert(body.end(), {0x83, 0x02, fid[0], fid[1]});
        if (!df) {
            PutWord(body, 0x85, file.Size());
        }
        body.insert(body.end(), {0x82, 0x01, descriptor});
        break;
    }
    // Built by reserve + push_back: gcc 12 at -O2 misreads an insert after a
    // two-element initializer list as an out-of-bounds copy.
    Bytes fci;
    fci.reserve(body.size() + 2);
    fci.push_back(templateTag);
    fci.push_back(static_cast<uint8_t>(body.size()));
    fci.insert(fci.end(), body.begin(), body.end());
    return fci;
}

CardPath CommandProcessor::CurrentEfPath() const {
    CardPath path = m_session.currentDf;
    path.push_back(*m_session.currentEf);
    return path;
}

// --- files -------------------------------------------------------------------

Response CommandProcessor::ReadBinary(const CommandApdu& cmd) {
    if (cmd.p1 & 0x80) {
        return Response::Status(sw::kFunctionNotSupported); // short EF identifiers
    }
    if (!m_session.currentEf) {
        return Response::Status(sw::kNoCurrentEf);
    }
    const CardFile* file = m_state.files.Find(CurrentEfPath());
    if (file == nullptr) {
        return Response::Status(sw::kNoCurrentEf);
    }
    if (file->kind != FileKind::Transparent) {
        return Response::Status(sw::kIncompatibleFile);
    }
    const size_t offset = static_cast<size_t>(cmd.p1) << 8 | cmd.p2;
    const size_t size = file->content.size();
    if (offset >= size) {
        return Response::Status(sw::kWrongOffset);
    }
    const size_t n = std::min(*cmd.le, size - offset);
    Response r;
    const auto first = file->content.begin() + static_cast<std::ptrdiff_t>(offset);
    r.data.assign(first, first + static_cast<std::ptrdiff_t>(n));
    r.sw = n < *cmd.le ? sw::kEndOfFile : sw::kOk;
    return r;
}

Response CommandProcessor::UpdateBinary(const CommandApdu& cmd) {
    if (cmd.p1 & 0x80) {
        return Response::Status(sw::kFunctionNotSupported);
    }
    if (!m_session.currentEf) {
        return Response::Status(sw::kNoCurrentEf);
    }
    CardFile* file = m_state.files.Find(CurrentEfPath());
    if (file == nullptr) {
        return Response::Status(sw::kNoCurrentEf);
    }
    if (file->kind != FileKind::Transparent) {
        return Response::Status(sw::kIncompatibleFile);
    }
    if (file->readOnly) {
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    const size_t offset = static_cast<size_t>(cmd.p1) << 8 | cmd.p2;
    const size_t size = file->content.size();
    if (offset >= size) {
        return Response::Status(sw::kWrongOffset);
    }
    if (cmd.data.size() > size - offset) {
        return Response::Status(sw::kWrongLength);
    }
    std::copy(cmd.data.begin(), cmd.data.end(),
              file->content.begin() + static_cast<std::ptrdiff_t>(offset));
    m_dirty = true;
    return Response::Status(sw::kOk);
}

Response CommandProcessor::ReadRecord(const CommandApdu& cmd) {
    if (cmd.p2 != 0x04) {
        return Response::Status(sw::kWrongP1P2); // only "record P1 of the current EF"
    }
    if (!m_session.currentEf) {
        return Response::Status(sw::kNoCurrentEf);
    }
    const CardFile* file = m_state.files.Find(CurrentEfPath());
    if (file == nullptr) {
        return Response::Status(sw::kNoCurrentEf);
    }
    if (file->kind != FileKind::Records) {
        return Response::Status(sw::kIncompatibleFile);
    }
    if (cmd.p1 == 0 || cmd.p1 > file->records.size()) {
        return Response::Status(sw::kRecordNotFound);
    }
    const Bytes& record = file->records[cmd.p1 - 1u];
    if (record.size() > *cmd.le) {
        return Response::Status(static_cast<uint16_t>(0x6C00 | (record.size() & 0xFF)));
    }
    return Response{record, sw::kOk};
}

// --- PINs --------------------------------------------------------------------

int CommandProcessor::FindPin(uint8_t ref) const {
    const CardPath mf{kMasterFile};
    const CardPath& where = (ref & 0x80) ? m_session.currentDf : mf;
    for (size_t i = 0; i < m_state.pins.size(); ++i) {
        if (m_state.pins[i].ref == ref && m_state.pins[i].df == where) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CommandProcessor::FindPartner(int pin) const {
    const PinRecord& p = m_state.pins[static_cast<size_t>(pin)];
    for (size_t i = 0; i < m_state.pins.size(); ++i) {
        if (m_state.pins[i].ref == p.partner && m_state.pins[i].df == p.df &&
            static_cast<int>(i) != pin) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CommandProcessor::PinPair::~PinPair() {
    OPENSSL_cleanse(second.data(), second.size());
}

std::optional<CommandProcessor::PinPair>
CommandProcessor::SplitPinPair(std::span<const uint8_t> data, const Bytes& known) const {
    PinPair pair;
    if (m_profile.paddedPinPairs) {
        // Two fields of 8 bytes, each value padded with 00.
        if (data.size() != 16) {
            return std::nullopt;
        }
        pair.first = data.first(8);
        if (known.size() <= 8) {
            uint8_t padded[8] = {};
            std::copy(known.begin(), known.end(), padded);
            pair.firstMatches = !known.empty() && SameBytes(pair.first, padded);
            OPENSSL_cleanse(padded, sizeof padded);
        }
        auto second = data.subspan(8, 8);
        size_t len = second.size();
        while (len > 0 && second[len - 1] == 0x00) {
            --len;
        }
        pair.second.assign(second.begin(), second.begin() + static_cast<std::ptrdiff_t>(len));
        return pair;
    }
    // The two values one after the other: the card knows how long the first is.
    if (data.size() < known.size() || known.empty()) {
        pair.first = data;
        return pair;
    }
    pair.first = data.first(known.size());
    pair.firstMatches = SameBytes(pair.first, known);
    pair.second.assign(data.begin() + static_cast<std::ptrdiff_t>(known.size()), data.end());
    return pair;
}

bool CommandProcessor::AcceptableNewPin(std::span<const uint8_t> pin) const {
    return pin.size() >= m_profile.minPinLength && pin.size() <= m_profile.maxPinLength;
}

uint16_t CommandProcessor::WrongPin(int pin) {
    PinRecord& p = m_state.pins[static_cast<size_t>(pin)];
    if (p.tries > 0) {
        --p.tries;
    }
    m_session.verified[static_cast<size_t>(pin)] = false;
    m_dirty = true;
    return sw::TriesLeft(p.tries);
}

Response CommandProcessor::Verify(const CommandApdu& cmd) {
    if (cmd.p1 != 0x00) {
        return Response::Status(sw::kWrongP1P2);
    }
    const int i = FindPin(cmd.p2);
    if (i < 0) {
        return Response::Status(sw::kRefDataNotFound);
    }
    PinRecord& pin = m_state.pins[static_cast<size_t>(i)];
    if (cmd.apduCase == kCase1) { // no data: the PIN's state
        if (pin.state == PinState::NotSet) {
            return Response::Status(m_profile.notSetStatus);
        }
        if (pin.tries == 0) {
            return Response::Status(sw::kAuthBlocked);
        }
        if (pin.state == PinState::NullPin) {
            return Response::Status(sw::kConditionsNotSatisfied);
        }
        if (m_session.verified[static_cast<size_t>(i)]) {
            return Response::Status(sw::kOk);
        }
        return Response::Status(sw::TriesLeft(pin.tries));
    }
    if (pin.state == PinState::NotSet) {
        return Response::Status(sw::kRefDataUnusable);
    }
    if (pin.tries == 0) {
        return Response::Status(sw::kAuthBlocked);
    }
    if (pin.state == PinState::NullPin) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    // A card with fixed PIN fields refuses a longer value by its length; it
    // costs no retry.
    if (m_profile.paddedPinPairs && cmd.data.size() > m_profile.maxPinLength) {
        return Response::Status(sw::kWrongLength);
    }
    if (!SameBytes(cmd.data, pin.value)) {
        return Response::Status(WrongPin(i));
    }
    if (pin.tries != pin.maxTries) {
        pin.tries = pin.maxTries;
        m_dirty = true;
    }
    m_session.verified[static_cast<size_t>(i)] = true;
    return Response::Status(sw::kOk);
}

Response CommandProcessor::ChangeReferenceData(const CommandApdu& cmd) {
    if (cmd.p1 != 0x00) {
        return Response::Status(sw::kWrongP1P2);
    }
    const int i = FindPin(cmd.p2);
    if (i < 0) {
        return Response::Status(sw::kRefDataNotFound);
    }
    PinRecord& pin = m_state.pins[static_cast<size_t>(i)];
    if (pin.state == PinState::NotSet) {
        return Response::Status(sw::kRefDataUnusable);
    }
    if (pin.tries == 0) {
        return Response::Status(sw::kAuthBlocked);
    }
    // In the NULL-PIN state the old value is the transport value.
    auto pair = SplitPinPair(cmd.data, pin.value);
    if (!pair) {
        return Response::Status(sw::kWrongLength);
    }
    if (!pair->firstMatches) {
        return Response::Status(WrongPin(i));
    }
    if (!AcceptableNewPin(pair->second)) {
        return Response::Status(sw::kWrongData);
    }
    OPENSSL_cleanse(pin.value.data(), pin.value.size());
    pin.value = std::move(pair->second);
    pin.state = PinState::Set;
    pin.tries = pin.maxTries;
    m_dirty = true;
    return Response::Status(sw::kOk);
}

Response CommandProcessor::ResetRetryCounter(const CommandApdu& cmd) {
    if (cmd.p1 != 0x00) {
        return Response::Status(sw::kWrongP1P2);
    }
    const int i = FindPin(cmd.p2);
    if (i < 0) {
        return Response::Status(sw::kRefDataNotFound);
    }
    const int j = FindPartner(i);
    if (j < 0) {
        return Response::Status(sw::kRefDataNotFound);
    }
    PinRecord& target = m_state.pins[static_cast<size_t>(i)];
    PinRecord& partner = m_state.pins[static_cast<size_t>(j)];
    if (partner.tries == 0) {
        return Response::Status(sw::kAuthBlocked);
    }
    if (partner.state == PinState::NotSet) {
        return Response::Status(sw::kRefDataUnusable);
    }
    if (partner.state == PinState::NullPin) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    auto pair = SplitPinPair(cmd.data, partner.value);
    if (!pair) {
        return Response::Status(sw::kWrongLength);
    }
    if (!pair->firstMatches) {
        return Response::Status(WrongPin(j));
    }
    if (!AcceptableNewPin(pair->second)) {
        return Response::Status(sw::kWrongData);
    }
    OPENSSL_cleanse(target.value.data(), target.value.size());
    target.value = std::move(pair->second);
    target.state = PinState::Set;
    target.tries = target.maxTries;
    partner.tries = partner.maxTries;
    m_dirty = true;
    return Response::Status(sw::kOk);
}

// --- the maker's public key --------------------------------------------------

// Data: 83 01 <key ref>, 7F 49 81 <len> 81 81 80 <128-byte modulus>, 82 03 <exponent>.
// The program declares the 7F 49 length as 81 89 although fewer bytes follow,
// so that length is read but not enforced.
Response CommandProcessor::InstallMakerKey(const CommandApdu& cmd) {
    if (!m_profile.makerKeyInstall) {
        return Response::Status(sw::kInsNotSupported);
    }
    if (cmd.p1 != 0x81 || cmd.p2 != 0xA4) {
        return Response::Status(sw::kWrongP1P2);
    }
    const int pin = FindPin(0x00);
    if (pin < 0) {
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    const PinRecord& cardPin = m_state.pins[static_cast<size_t>(pin)];
    if (cardPin.tries == 0) {
        return Response::Status(sw::kAuthBlocked);
    }
    if (cardPin.state == PinState::NullPin) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    if (!m_session.verified[static_cast<size_t>(pin)]) {
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    constexpr size_t kModulusAt = 10;
    constexpr size_t kModulusLen = 128;
    const auto d = cmd.data;
    const bool shaped = d.size() >= kModulusAt + kModulusLen && d[0] == 0x83 && d[1] == 0x01 &&
                        d[3] == 0x7F && d[4] == 0x49 && d[5] == 0x81 && d[7] == 0x81 &&
                        d[8] == 0x81 && d[9] == 0x80;
    if (!shaped) {
        return Response::Status(sw::kWrongData);
    }
    CardFile* keys = m_state.files.Find({kMasterFile, 0x4500});
    if (keys == nullptr || keys->kind != FileKind::Records) {
        return Response::Status(sw::kFileNotFound);
    }
    if (keys->records.size() < 5) {
        keys->records.resize(5);
    }
    keys->records[4].assign(d.begin() + kModulusAt, d.begin() + kModulusAt + kModulusLen);
    m_dirty = true;
    return Response::Status(sw::kOk);
}

} // namespace vcard
