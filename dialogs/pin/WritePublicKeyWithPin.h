#pragma once

#include <string>

// Writes the maker's public key to the card in `readerName` after the user's card PIN has
// been verified: asks for the PIN, verifies it, installs the key and says how it went in a
// message box. True when the key was written.
bool WritePublicKeyWithPin(const std::string& readerName);

// The catalogue text that tells the user why the card PIN was not accepted (0: none is told).
unsigned VerifyFailureMessage(unsigned pinResult);
