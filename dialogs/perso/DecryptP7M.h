#pragma once

#include "util/SecureBuffer.h"

#include <cstdint>
#include <memory>
#include <span>

// Opens the trust center's P7M with the key of the recipient whose certificate is in the
// current user's "MY" store (a card key: its provider may ask for the card PIN). The
// enveloped content comes back in memory that is wiped when it is released; null when the
// store cannot be opened or the message cannot be decrypted.
std::unique_ptr<velk::SecureBuffer> DecryptP7M(std::span<const uint8_t> file);
