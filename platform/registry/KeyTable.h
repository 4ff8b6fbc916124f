#pragma once

#include "platform/registry/Hive.h"
#include "platform/registry/Registry.h"

#include <cstdint>
#include <memory>

// What an HKEY stands for: a key of a hive, and the rights it was opened with.
struct CKeyRef {
    std::shared_ptr<CHive> hive;
    int64_t id = CHiveDb::kRootId;
    REGSAM access = 0;
    bool predefined = false; // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER itself
};

// Handles are numbers into a table, so that a stale or made-up HKEY is
// ERROR_INVALID_HANDLE instead of a wild pointer.
LONG ResolveKey(HKEY key, CKeyRef& out);
HKEY AddKeyHandle(CKeyRef ref);
LONG RemoveKeyHandle(HKEY key);

std::shared_ptr<CHive> HiveOfRoot(HKEY root);
void ResetKeyTable();
