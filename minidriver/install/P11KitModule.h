#pragma once

// The p11-kit module file that makes p11-kit-aware programs (GnuTLS, the
// p11-kit proxy) load the PKCS #11 module. Written into p11-kit's system
// configuration folder, or the one VELKORA_P11KIT_MODULES names; with a
// private machine hive (VELKORA_MACHINE_HIVE) and no such folder named, nowhere.

#include <string>

namespace velkmd {

inline constexpr const char* kP11KitModulesVariable = "VELKORA_P11KIT_MODULES";
inline constexpr const char* kP11KitModulesDefault = "/etc/pkcs11/modules";
inline constexpr const char* kP11KitModuleFile = "velkora-pkcs11.module";

// Empty: no folder, writing and removing do nothing.
std::string P11KitModulesFolder();

// The file's text for the module in `moduleDirectory`.
std::string P11KitModuleText(const std::string& moduleDirectory);

// Writes (replacing) or removes the file; true on success and when there was
// nothing to remove.
bool WriteP11KitModule(const std::string& folder, const std::string& moduleDirectory);
bool RemoveP11KitModule(const std::string& folder);

} // namespace velkmd
