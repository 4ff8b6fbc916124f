#pragma once

// A container's private key used from a reader's name, the way the provider
// and the personalization use it: the minidriver asks for the key's PIN
// through the desktop's PIN entry program (PinEntry.h), verifies it and runs
// the operation on the same connection.
//
// Results: 0; SCARD_W_CANCELLED_BY_USER (prompt cancelled), SCARD_W_WRONG_CHV
// (the card refused the PIN), SCARD_W_CHV_BLOCKED, SCARD_W_CARD_NOT_AUTHENTICATED
// (the PIN is still the NULL-PIN: it must be changed first), NTE_BAD_KEYSET
// (a CA certificate's container: no key), NTE_BAD_DATA (the card refused the
// data), SCARD_W_REMOVED_CARD, or the PC/SC error of the connection.

#include "minidriver/md/MdApi.h"
#include "minidriver/md/Minidriver.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velkmd {

VELKMD_API uint32_t SignWithContainer(const std::string& reader, const Container& container,
                                      std::span<const uint8_t> digestInfo,
                                      std::vector<uint8_t>& signature);

// `plain` is the caller's to wipe.
VELKMD_API uint32_t DecipherWithContainer(const std::string& reader, const Container& container,
                                          std::span<const uint8_t> cryptogram,
                                          std::vector<uint8_t>& plain);

} // namespace velkmd
