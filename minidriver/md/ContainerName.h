#pragma once

// Names of the key containers. A name has the 36 characters of a GUID's text
// form and ends in "-0800200c9a66", the tail by which the certificate manager
// recognises this minidriver's containers. Counted from 0:
//   0-3   certificate file FID               "c000"
//   4     '0' key of the holder, '1' CA certificate
//   5     reader: '0' + index + 2 * number of readers that PC/SC lists
//   6     container type (CardLayout.h)
//   7     PIN selector of "md@cp@0" / "md@up@0" (CardLayout.h)
//   9-12  DF of the certificate file         "df01"
//   14-17 key file FID, "0000" for a CA certificate
//   19-22 card type id, four hex digits
//   24-35 "0800200c9a66"
// The reader character is chosen so that both decodings the certificate
// manager applies give the reader's index: c - '0' - 2n for every c, and c -
// '0' alone for c == '0' (which never occurs, as the reader count is at least
// one). It holds while the number of readers stays as it was.

#include "minidriver/md/CardLayout.h"

#include <cstddef>
#include <optional>
#include <string>

namespace velkmd {

inline constexpr std::size_t kContainerNameLength = 36;
inline constexpr const char* kContainerTail = "-0800200c9a66";

// The reader character for reader `index` of `count`; nullopt when it would
// leave the printable ASCII range (more than 39 readers) or index >= count.
std::optional<char> ReaderCode(std::size_t index, std::size_t count);

std::string ContainerName(const CardSlot& slot, char readerCode, uint32_t cardType);

} // namespace velkmd
