#pragma once

// The install step of the minidriver: registers its provider with the module
// libvelkcsp.so and the maker's card types in the machine hive (so it needs
// write access to that hive: the install target as root, or a test on a
// temporary hive named by VELKORA_MACHINE_HIVE).

#include <string>

namespace velkmd {

inline constexpr const char* kProviderName = "Velkora Base Smart Card Crypto Provider";
inline constexpr const char* kCspModuleFile = "libvelkcsp.so";
inline constexpr const char* kMdModuleFile = "libvelkoramd.so";
inline constexpr const char* kPkcs11ModuleFile = "libvelkora-pkcs11.so";

// 0 (ERROR_SUCCESS) or the first registry or smart-card database error. A
// relative `moduleDirectory` is registered as the absolute path it names now.
long InstallMinidriver(const std::string& moduleDirectory);

// Removes the provider's registration; the card types stay (the certificate
// manager's database keeps them for other providers' cards too).
long UninstallMinidriver();

// Removes the provider and the maker's card types: what a package's removal
// leaves behind on the machine.
long PurgeMinidriver();

} // namespace velkmd
