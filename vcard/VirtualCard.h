#pragma once

#include "pcscsim/CardEndpoint.h"
#include "vcard/Apdu.h"
#include "vcard/CardState.h"
#include "vcard/CommandProcessor.h"
#include "vcard/Profile.h"

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

// The project's own virtual card: a small card operating system behind the
// card-endpoint interface, for the in-process PC/SC stand-in and the vpcd
// bridge alike. What a card persists (files, PINs, retry counters, keys)
// goes to its image file after every command that changed it; what it
// forgets at a reset (selection, verified PINs) lives in a session.
//
// The setup methods below let code outside the card (a demo trust center
// putting certificates into the certificate files) work on the card's files
// and keys directly, without APDUs. Every public method is thread-safe.
class VirtualCard : public pcscsim::ICardEndpoint {
public:
    VirtualCard(CardProfile profile, CardState state, std::string imagePath);

    std::vector<uint8_t> Atr() const override;
    void Reset() override;
    std::vector<uint8_t> Transmit(std::span<const uint8_t> command) override;
    bool SupportsT1() const override;

    const CardProfile& Profile() const { return m_profile; }
    const std::string& ImagePath() const { return m_imagePath; }

    // Files by path text ("3f00df01c000"; '/', ':' and blanks allowed).
    std::optional<Bytes> ReadFile(std::string_view path) const;
    // Overwrites a transparent file from offset 0; the rest keeps its bytes.
    // Fails if the data is longer than the file.
    bool WriteFile(std::string_view path, std::span<const uint8_t> data);
    std::optional<Bytes> ReadRecord(std::string_view path, size_t number) const;
    // Replaces record `number` (1-based) or appends it as the next one.
    bool WriteRecord(std::string_view path, size_t number, std::span<const uint8_t> data);

    // The key files that have a private key on the card.
    std::vector<std::string> KeyFiles() const;
    // SubjectPublicKeyInfo (DER) of the key of a key file, for a certificate.
    std::optional<Bytes> PublicKeyInfo(std::string_view keyFile) const;
    // A private-key operation of the card: RSA decryption of one block.
    std::optional<Bytes> Decrypt(std::string_view keyFile, std::span<const uint8_t> ciphertext,
                                 bool pkcs1Padding = true) const;

    // Gives a PIN a value as if its owner had set it (state Set, counter full).
    bool SetPin(uint8_t ref, std::span<const uint8_t> value);
    // The retry counter of a PIN, or nullopt if the card has no such PIN.
    std::optional<uint8_t> PinTries(uint8_t ref) const;

    // Writes the image now; false if there is no image path or writing failed.
    bool Save() const;

private:
    const CardKey* FindKey(std::string_view keyFile) const;
    PinRecord* FindPinRecord(uint8_t ref);
    const PinRecord* FindPinRecord(uint8_t ref) const;
    bool Persist() const; // with m_mutex held

    mutable std::mutex m_mutex;
    const CardProfile m_profile;
    CardState m_state;
    Session m_session;
    const std::string m_imagePath;
};

// Opens the card of `profile` (one of ProfileNames()) kept in `imagePath`.
// An existing image of the same profile is loaded; otherwise (no file, another
// profile, an unreadable file) a fresh card is made and saved there. An empty
// path keeps the card in memory only. nullptr for an unknown profile, a failed
// key generation or an image that cannot be written.
std::unique_ptr<VirtualCard> OpenCard(const std::string& profile, const std::string& imagePath);

// The same for a profile adjusted by the caller (tests: other PIN states).
std::unique_ptr<VirtualCard> OpenCard(const CardProfile& profile, const std::string& imagePath);

} // namespace vcard
