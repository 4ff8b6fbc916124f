#pragma once

#include "minidriver/md/MdApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velkmd {

// The readers PC/SC lists now, in its order. 0 or the PC/SC error
// (SCARD_E_NO_READERS_AVAILABLE when there is none).
VELKMD_API uint32_t ListReaders(std::vector<std::string>& out);

} // namespace velkmd
