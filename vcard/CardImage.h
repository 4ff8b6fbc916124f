#pragma once

#include "vcard/CardState.h"

#include <optional>
#include <string>
#include <string_view>

namespace vcard {

// The image file of a virtual card: a line-oriented text file, one element
// per line, binary values in hex, parents before their children:
//
//   velkora-vcard-image 1
//   profile tcos30
//   df 3f00df01
//   bin 3f00df01c000 rw <hex content>
//   rec 3f00df014531 ro
//   record 3f00df014531 <hex>          (records in order, "-" for an empty one)
//   pin 81 3f00df01 83 null 3 3 <hex value or ->
//   key 3f00df014531 <hex RSAPrivateKey>
//   end
//
// Text keeps an image inspectable and lets setup code outside the card
// (a demo trust center writing certificates) be checked by eye. The private
// keys stand in the file in the clear: it is a test card.
std::string SerializeImage(const CardState& state);

// Fails on anything malformed, oversized or inconsistent; never trusts a size.
std::optional<CardState> ParseImage(std::string_view text);

// Writes a temporary file beside `path` and renames it over `path`, so that
// a reader (or a card killed mid-write) sees the old or the new image whole.
bool SaveImage(const std::string& path, const CardState& state);

std::optional<CardState> LoadImage(const std::string& path);

} // namespace vcard
