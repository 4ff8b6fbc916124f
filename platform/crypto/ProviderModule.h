#pragma once

// Finding a provider by name in the machine hive and loading its module.

#include "platform/certstore/WinCryptTypes.h"
#include "platform/crypto/ProviderInterface.h"

#include <string>

namespace velk::crypto {

// The provider's table of functions (a complete copy: entries a smaller
// module lacks are null), or null with `error` set.
struct ResolvedProvider {
    VelkProviderFunctions functions{};
    std::string name; // as the caller gave it, or the type's default
};

// szProvider null or empty means the default provider of `type`.
bool ResolveProvider(const char* name, DWORD type, ResolvedProvider& out, DWORD& error);

// Loads the module at `path` once per process and returns its table (null
// with `error` NTE_PROV_DLL_NOT_FOUND or NTE_PROVIDER_DLL_FAIL). Only an
// absolute path to a file that it and every folder above it belong to root or
// the user and are writable by no one else is loaded. The reason goes to
// stderr and to LastProviderLoadError().
const VelkProviderFunctions* LoadProviderModule(const std::string& path, DWORD& error);

// Whether `name` is one of the built-in provider's names.
bool IsBuiltinProviderName(const std::string& name);

std::string ProviderKeyPath(const std::string& name);
std::string ProviderTypeKeyPath(DWORD type);

} // namespace velk::crypto
