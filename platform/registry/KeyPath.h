#pragma once

#include "platform/registry/WinTypes.h"

#include <string>
#include <string_view>
#include <vector>

// Key and value names compare without regard to ASCII case; the folded form
// is what the hive indexes.
std::string FoldRegName(std::string_view name);

// Splits "Software\Velkora\Minidriver" into its parts. A null or empty path is
// no parts (the key itself); one trailing backslash is allowed. A leading
// backslash, an empty part or a part longer than a key name may be gives
// ERROR_BAD_PATHNAME.
LONG SplitRegPath(const char* path, std::vector<std::string>& parts);
