#pragma once

#include "vcard/CardState.h"

#include <optional>

namespace vcard {

// A new card of the profile, as it leaves the factory: its file tree, a random
// card number in EF.GDO, the PINs in their initial states and, where the
// profile has them, fresh RSA key pairs whose moduli stand in record 1 of the
// key files. Fails only if key generation fails.
std::optional<CardState> BuildFreshCard(const CardProfile& profile);

} // namespace vcard
