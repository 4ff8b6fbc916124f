#pragma once

#include "vcard/Apdu.h"
#include "vcard/CardState.h"
#include "vcard/KeyCommands.h"

#include <optional>
#include <span>

namespace vcard {

// What a card forgets at a reset: the current DF and EF and which PINs were
// verified since the last reset.
struct Session {
    CardPath currentDf{kMasterFile};
    std::optional<uint16_t> currentEf; // an EF inside currentDf
    std::vector<bool> verified;        // parallel to CardState::pins
    KeySession keys;                   // security environment, chained data
};

// The card operating system: one command APDU in, one response out. Commands
// are looked up in a table by INS; each entry names the APDU cases it accepts,
// so that a missing Le, a surplus Lc or a length that disagrees with Lc is
// answered 67 00 before any handler runs.
class CommandProcessor {
public:
    CommandProcessor(const CardProfile& profile, CardState& state, Session& session);

    Response Process(std::span<const uint8_t> apdu);

    // True once a command changed what the card persists; cleared by the caller.
    bool Dirty() const { return m_dirty; }
    void ClearDirty() { m_dirty = false; }

private:
    struct Entry;
    static const Entry kCommands[];

    Response Select(const CommandApdu& cmd);
    Response ReadBinary(const CommandApdu& cmd);
    Response UpdateBinary(const CommandApdu& cmd);
    Response ReadRecord(const CommandApdu& cmd);
    Response Verify(const CommandApdu& cmd);
    Response ChangeReferenceData(const CommandApdu& cmd);
    Response ResetRetryCounter(const CommandApdu& cmd);
    Response InstallMakerKey(const CommandApdu& cmd);

    Response Selected(const CardPath& df, std::optional<uint16_t> ef, const CommandApdu& cmd);
    Bytes FileControlInfo(const CardFile& file) const;
    CardPath CurrentEfPath() const;

    // The PIN a reference names from the current DF: global references in
    // the MF, references with bit 8 set in the current DF. -1 if none.
    int FindPin(uint8_t ref) const;
    int FindPartner(int pin) const;
    // Splits change/unblock data into the value to check against `known` and
    // the new value; nullopt when the layout cannot be right. The new value
    // is wiped on every way out that does not move it into the card's PIN.
    struct PinPair {
        std::span<const uint8_t> first;
        Bytes second;
        bool firstMatches = false;

        PinPair() = default;
        PinPair(PinPair&&) = default;
        PinPair(const PinPair&) = delete;
        PinPair& operator=(const PinPair&) = delete;
        PinPair& operator=(PinPair&&) = delete;
        ~PinPair();
    };
    std::optional<PinPair> SplitPinPair(std::span<const uint8_t> data, const Bytes& known) const;
    bool AcceptableNewPin(std::span<const uint8_t> pin) const;
    uint16_t WrongPin(int pin);

    const CardProfile& m_profile;
    CardState& m_state;
    Session& m_session;
    bool m_dirty = false;
};

} // namespace vcard
