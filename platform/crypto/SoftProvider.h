#pragma once

// The built-in software provider: a store of named key containers in the user
// hive, under
//   HKCU\Software\Microsoft\Crypto\RSA\Containers\<SHA-1 of the name>  "Name"
// (names may hold backslashes and be long, so the key is named by a hash and
// the name kept as a value). Containers hold no keys: they exist so that
// callers can create, list and delete them. Served through the same table a
// provider module exports.

#include "platform/crypto/ProviderInterface.h"

#include <string>

namespace velk::crypto {

const VelkProviderFunctions* SoftProviderFunctions();

// The key under which the containers live (relative to HKEY_CURRENT_USER).
std::string SoftContainersKeyPath();

} // namespace velk::crypto
