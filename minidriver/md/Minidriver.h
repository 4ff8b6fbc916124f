#pragma once

// The minidriver: what the card module libvelkoramd offers its provider
// (libvelkcsp). Every call opens its own PC/SC connection to the reader and
// closes it before it returns; results are 0 or an error code as the provider
// interface hands it on (SCARD_... from PC/SC, NTE_BAD_KEYSET for a container
// that the card does not have).

#include "minidriver/md/CardLayout.h"
#include "minidriver/md/MdApi.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velkmd {

struct Container {
    std::string name; // ContainerName.h
    CardSlot slot;
};

// The containers of the card in `reader`: one per slot of its card type whose
// certificate file holds a certificate, in slot order.
VELKMD_API uint32_t ListContainers(const std::string& reader, std::vector<Container>& out);

// The container of that name, if the card in `reader` has it now.
VELKMD_API uint32_t FindContainer(const std::string& reader, const std::string& name,
                                  Container& out);

// The DER certificate of the container, read from its certificate file.
VELKMD_API uint32_t ReadCertificate(const std::string& reader, const Container& container,
                                    std::vector<uint8_t>& der);

// Carries out "md@cp@0" + selector (change the PIN) or "md@up@0" + selector
// (unblock it with its partner PIN) on the card, asking the user for the PINs
// through the desktop's PIN entry program (PinEntry.h). 0 when the card took
// the new PIN; SCARD_W_CANCELLED_BY_USER when the user cancelled a prompt;
// SCARD_W_WRONG_CHV when the card refused the old PIN or the unblocking PIN;
// SCARD_W_CHV_BLOCKED for a blocked PIN; SCARD_E_INVALID_CHV when the two
// entries of the new PIN differ or the card refused the new PIN's format;
// NTE_BAD_DATA for a value that is no such command or names no PIN.
VELKMD_API uint32_t RunPinCommand(const std::string& reader, std::string_view command);

// "md@cls@@": the end of a command sequence.
VELKMD_API bool IsEndCommand(std::string_view value);

// Whether the value is one of the PIN commands above (and not, say, a PIN).
VELKMD_API bool IsPinCommand(std::string_view value);

} // namespace velkmd
