#pragma once

// SCard: one PC/SC connection to one card for one operation. The object
// connects in shared mode, learns the card type from the ATR, selects the
// master file, and then runs the TCOS file and PIN commands. Every command
// reports by a small result code; nothing throws, nothing is shown, nothing
// is logged.
//
// Decisions of this implementation where the card or the caller may do
// something unusual:
//  - A response of 0 or 1 bytes counts as an exchange that worked but carried
//    no status word: response length 0 and status word 00 00, so that no
//    command takes it for the success of the command before.
//  - A reader that reports more bytes than it was offered is a failed
//    exchange; nothing is read past the receive buffer.
//  - Verify and WriteMakerKey refuse a status word their lists do not name
//    with 255 (see StatusWords.h).
//  - CardOS cards (types 4 and 8) have no form of SELECT EF, READ BINARY and
//    READ RECORD: these send nothing and report the status word (and the
//    response) of the exchange before them.
//  - Reads never write past the caller's buffer: a response that does not fit
//    is a failure (255). ReadFile also gives up (255) on a card that answers
//    90 00 without data before the end of the file, which would otherwise
//    never end.
//  - WriteFile refuses files above 32,768 bytes: their offsets would not fit
//    the 15 bits of UPDATE BINARY and would overwrite the start of the file.
//  - PIN bytes exist only in the caller's buffer and in buffers of this class
//    in secure memory (out of core dumps and swap) that are wiped right after
//    the exchange. An allocation that fails is a failed exchange, never an
//    exception.

#include "card/PcscOwners.h"
#include "card/StatusWords.h"
#include "util/SecureBuffer.h"

#include <winscard.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SCard {
public:
    // The ISO/IEC 7816-4 command forms that Transmit lays out.
    enum Form : uint32_t {
        Case1 = 1, // CLA INS P1 P2
        Case2 = 2, // CLA INS P1 P2 Le
        Case3 = 3, // CLA INS P1 P2 Lc data
        Case4 = 4, // CLA INS P1 P2 Lc data Le
    };

    static constexpr uint16_t kResponseCapacity = 256;
    // The longest short command: header, Lc, 255 data bytes, Le.
    static constexpr std::size_t kCommandCapacity = 261;

    // Connects to `readerName` and selects the master file. Never throws: a
    // failure shows as !Connected() and/or CardType() 0, with the PC/SC code
    // in LastError().
    explicit SCard(const std::string& readerName);
    virtual ~SCard();

    SCard(const SCard&) = delete;
    SCard& operator=(const SCard&) = delete;
    SCard(SCard&&) = delete;
    SCard& operator=(SCard&&) = delete;

    // --- transport ---------------------------------------------------------

    // Stores the command; `data` stays the caller's and must live until
    // Transmit. Discards the last response.
    void SetCommand(uint32_t form, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t lc,
                    uint16_t le, const uint8_t* data, uint16_t dataLength);
    // Sends the stored command. True when the PC/SC exchange worked, whatever
    // the status word; false leaves the status word 00 00.
    bool Transmit();

    std::span<const uint8_t> Response() const;
    uint16_t ResponseLength() const { return m_responseLength; }
    uint16_t Sw1() const { return m_sw1; }
    uint16_t Sw2() const { return m_sw2; }
    uint32_t CardType() const { return m_cardType; }
    LONG LastError() const { return m_lastError; }
    DWORD ActiveProtocol() const { return m_activeProtocol; }
    bool UsesT1() const { return m_useT1 != 0; }
    bool Connected() const { return static_cast<bool>(m_card); }
    std::span<const uint8_t> Atr() const;
    std::span<const uint8_t> SelectedPath() const {
        return {m_selectedPath.data(), m_selectedPathLength};
    }

    // --- files ---------------------------------------------------------------

    uint8_t SelectMF();
    uint8_t SelectDF(uint16_t fid);
    uint8_t SelectEF(uint16_t fid);
    // 0 or 255. `fromMF`: run SelectMF first (its result is not looked at).
    uint8_t SelectPath(std::string_view path, bool fromMF);
    // File size from the answer to the selection just before; 0 if unknown.
    uint16_t GetFileSize() const;
    // 128 bytes from `offset` (15 bits) into `out`; their number in `outLength`.
    uint8_t ReadBinary(uint16_t offset, std::span<uint8_t> out, uint16_t& outLength);
    // The whole file selected just before. 0 or 255.
    uint8_t ReadFile(std::span<uint8_t> out, uint16_t& outLength);
    // 0 or 255.
    uint8_t ReadRecord(uint8_t record, std::span<uint8_t> out, uint16_t& outLength);
    // At most 128 bytes.
    uint8_t UpdateBinary(uint16_t offset, std::span<const uint8_t> data);
    // In blocks of 128 bytes. 0 or 255.
    uint8_t WriteFile(std::span<const uint8_t> data);

    // --- PINs ----------------------------------------------------------------

    PinResult Verify(std::string_view path, uint8_t reference, std::string_view pin,
                     uint8_t& triesLeft);
    PinResult ChangeReferenceData(std::string_view path, uint8_t reference,
                                  std::span<const uint8_t> oldValue,
                                  std::span<const uint8_t> newValue, uint8_t& triesLeft);
    PinResult ResetRetryCounter(std::string_view path, uint8_t reference,
                                std::span<const uint8_t> puk, std::span<const uint8_t> newPin,
                                uint8_t& triesLeft);
    PinResult GetPinStatus(std::string_view path, uint8_t reference);
    PinResult CardPin1Status();
    PinResult CardPin2Status();
    PinResult SigPin1Status();
    PinResult SigPin2Status();

    // --- card number and the maker's key -------------------------------------

    // At most 19 lowercase hex digits from EF.GDO on T-COS cards (empty when
    // the file cannot be read); nineteen zeros for other cards.
    std::string ReadCardNumber();
    PinResult WriteMakerKey();
    bool HasMakerKey();

private:
    // SetCommand + Transmit; the data pointer does not outlive the call.
    bool Exchange(uint32_t form, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t lc, uint16_t le,
                  const uint8_t* data);
    // File result of the exchange before, for the commands without a CardOS form.
    uint8_t NoFormResult(bool readOrWrite) const;
    // Copies the response into `out`; false when it does not fit.
    bool TakeResponse(std::span<uint8_t> out, uint16_t& outLength) const;
    PinResult SendReferenceData(uint8_t ins, std::string_view path, uint8_t reference,
                                std::span<const uint8_t> first, std::span<const uint8_t> second,
                                uint8_t& triesLeft);
    void SelectedPathIsMF();

    scard::ContextOwner m_context;
    scard::CardOwner m_card;
    std::string m_readerName;
    uint32_t m_useT1 = 1;
    LONG m_lastError = SCARD_S_SUCCESS;
    DWORD m_activeProtocol = SCARD_PROTOCOL_UNDEFINED;
    uint32_t m_form = 0;
    uint8_t m_cla = 0;
    uint8_t m_ins = 0;
    uint8_t m_p1 = 0;
    uint8_t m_p2 = 0;
    uint16_t m_lc = 0;
    uint16_t m_le = 0;
    const uint8_t* m_data = nullptr;
    uint16_t m_dataLength = 0;
    velk::SecureBuffer m_command{kCommandCapacity};
    std::vector<uint8_t> m_response;
    uint16_t m_responseLength = 0;
    uint16_t m_sw1 = 0;
    uint16_t m_sw2 = 0;
    std::array<uint8_t, 40> m_selectedPath{};
    uint32_t m_selectedPathLength = 0;
    uint32_t m_cardType = 0;
    SCARD_READERSTATE m_readerState{};
    std::string m_readerStateName;
};
