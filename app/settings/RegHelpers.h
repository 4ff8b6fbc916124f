#pragma once

#include "platform/registry/Registry.h"

#include <cstdint>
#include <string>

// The four ways the settings touch the registry. Each opens the key its own
// way, and the difference matters:
//   RegReadDword    creates the key with full access, so a hive this process
//                   may not write yields no numbers at all;
//   RegReadString   opens for reading only;
//   RegWriteString  creates the key with full access;
//   RegWriteDword   opens for setting values and never creates the key.
// Each returns true when opening and the read or write succeeded; a failed
// read leaves `value` as it was.
bool RegReadDword(HKEY root, const std::string& subKey, const std::string& name, uint32_t& value);
bool RegReadString(HKEY root, const std::string& subKey, const std::string& name,
                   std::string& value);
bool RegWriteString(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& value);
bool RegWriteDword(HKEY root, const std::string& subKey, const std::string& name, uint32_t value);
