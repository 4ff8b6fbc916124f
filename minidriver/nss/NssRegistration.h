#pragma once

// Adds the PKCS #11 module to NSS databases, and takes it out again, with
// NSS's own tool modutil: the way NSS wants a database changed, also while a
// browser has it open. Both are idempotent.

#include <string>

namespace velknss {

inline constexpr const char* kModuleName = "Velkora smart card";

enum class Outcome {
    Done,      // added or removed
    Unchanged, // it was already so
    Failed,
};

// Adds `modulePath` as kModuleName to the database in `dbDir`, creating an
// empty database there if there is none; a registration with another path is
// replaced.
// `log` gets what NSS's tools said when something failed.
Outcome Register(const std::string& dbDir, const std::string& modulePath, std::string& log);

Outcome Unregister(const std::string& dbDir, std::string& log);

} // namespace velknss
