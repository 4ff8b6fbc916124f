#pragma once

// Card operations as the program runs them, each on a fresh SCard, against
// a virtual card in `reader`: the same checks in process and through pcscd.

#include <functional>
#include <string>

namespace cardtest {

// A T-COS 3.0 card as issued: card number, NULL-PINs, PIN2s not set.
void ReadsTheCardNumber(const std::string& reader);
void ManagesTheCardPins(const std::string& reader);
void BreaksTheSignatureNullPin(const std::string& reader);
void InstallsAndChecksTheMakerKey(const std::string& reader);
void WritesAndReadsBackACertificateFile(const std::string& reader);
// `pull` takes the card away while a 4096-byte write is running (it may
// return before or after the card is gone); every write after that fails.
void FailsCleanlyWhenTheCardGoesMidWrite(const std::string& reader,
                                         const std::function<void()>& pull);

// Other profiles.
void MicardoChangesPinsWithPaddedFields(const std::string& reader);
void CardOsAnswersWithoutTcosCommands(const std::string& reader);
void Tcos20ReadsTheCardNumber(const std::string& reader);

} // namespace cardtest
