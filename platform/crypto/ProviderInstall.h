#pragma once

// Registration of providers in the machine hive (needs write access to it: the
// install target, or tests on a temporary machine hive).

#include "platform/certstore/WinCryptTypes.h"

#include <string>

namespace velk {

// What "Image Path" holds for the built-in software provider.
inline constexpr const char* kBuiltinProviderImage = "(built-in)";

// Registers `name` with its module path and type. ERROR_SUCCESS or the
// registry's error (ERROR_ACCESS_DENIED on a hive the process cannot write).
LONG RegisterProvider(const std::string& name, const std::string& imagePath,
                      DWORD type = PROV_RSA_FULL);
// Removes a provider's registration (ERROR_FILE_NOT_FOUND when absent).
LONG UnregisterProvider(const std::string& name);
// Names the default provider of a provider type ("Type 001" for 1).
LONG SetDefaultProvider(DWORD type, const std::string& name);

// Registers MS_ENHANCED_PROV_A and MS_DEF_PROV_A as the built-in software
// provider and makes MS_ENHANCED_PROV_A the default of PROV_RSA_FULL.
LONG InstallSoftwareProvider();

} // namespace velk
