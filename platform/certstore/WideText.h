#pragma once

// UTF-8 <-> UTF-16 for the wide strings of this layer (WCHAR = char16_t).
// Invalid input never fails: bad UTF-8 bytes and lone surrogates become
// U+FFFD, so a damaged name still round-trips to something printable.

#include "platform/certstore/WinCryptTypes.h"

#include <string>
#include <string_view>

namespace velk {

std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

// Length of a NUL-terminated wide string; 0 for null.
size_t WideLength(LPCWSTR text);
// The wide string up to its NUL as a view (empty for null).
inline std::u16string_view WideView(LPCWSTR text) {
    return text ? std::u16string_view(text, WideLength(text)) : std::u16string_view();
}

} // namespace velk
