#pragma once

// What this program reads from the key-container names of the maker's
// minidriver. Every container of that minidriver ends in 36 characters of
// GUID form whose last 13 are the marker below; inside those 36 characters:
//   4  '0' a user key, '1' an authority certificate
//   5  the reader, encoded by the minidriver
//   6  the container type (2 personalizable, 7 PIN buttons)
//   7  the selector of the provider's PIN commands

#include "platform/certstore/WinCryptTypes.h"

#include <string>
#include <string_view>

namespace monitor {

// Marks every container, and so every registration, of the maker's minidriver.
inline constexpr std::string_view kContainerMarker = "-0800200c9a66";
inline constexpr std::size_t kTailLength = 36;

// Card type names of the maker's card types in the smart-card database.
inline constexpr std::string_view kCardNamePrefix = "Velkora MD - ";
inline constexpr std::string_view kMicardoPrefix = "Velkora MD - Micardo";

// The two providers whose cards are registered.
inline constexpr const char* kBaseProvider = "Microsoft Base Smart Card Crypto Provider";
inline constexpr const char* kMakerProvider = "Velkora Base Smart Card Crypto Provider";

// The readers of this group are listed (pcsc-lite has no groups and ignores it).
inline constexpr const char* kReaderGroup = "SCard$DefaultReaders";

// The source of entries rebuilt from the store instead of a card insertion.
inline constexpr const char* kStoreSource = "STORE";

// The last 36 characters of a container name or path (all of a shorter one).
std::string_view ContainerTail(std::string_view name);

// Character `index` of the tail, or '\0' when the tail is shorter.
char TailChar(std::string_view name, std::size_t index);

bool HasContainerMarker(std::string_view name);

// "\\.\" + reader + "\": the scope of a whole reader for a card provider.
std::string ReaderPrefix(std::string_view reader);

// Case-insensitive (ASCII) equality, as container paths are compared.
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace monitor
