#pragma once

// One acquired context of the provider: a reader (or every reader), and
// optionally one key container on the card in it.

#include "minidriver/md/Minidriver.h"
#include "minidriver/md/Secret.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The provider interface declares the handle opaque; this is its definition.
struct VelkProviderHandle {
    std::string reader;                         // empty: every reader PC/SC lists
    std::optional<velkmd::Container> container; // set for "\\.\<reader>\<name>"
    std::vector<std::string> listing;           // the last enumeration's snapshot
    bool keepSnapshot = false; // the last call asked for the first name's size only
    std::optional<std::vector<uint8_t>> certificate; // read once per context
    // Outcome of a PIN command that the user cancelled or that met a blocked
    // PIN: repeated for the same sequence without asking again, until "md@cls@@".
    uint32_t sticky = 0;
    velkmd::Secret pin; // a PIN the caller set, for key operations; wiped at release
};

namespace velkcsp {

// Where a container string of CryptAcquireContextA points.
struct Target {
    bool prefixed = false; // "\\.\<reader>\..." form
    std::string reader;    // empty without the prefix
    std::string name;      // the container name, empty for a whole reader
};

// Splits null, "", "name", "\\.\reader", "\\.\reader\" and "\\.\reader\name"
// (the name after the last backslash).
Target ParseTarget(const char* container);

} // namespace velkcsp
