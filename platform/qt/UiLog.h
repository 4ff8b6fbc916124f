#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// A machine-readable record of what the user would have seen, for tests and scripted runs:
// when VELKORA_MSGBOX_LOG names a file, each record is appended to it as one line
// "kind<TAB>field<TAB>field...", with backslash, tab, CR and LF written as \\ \t \r \n.
// Several processes may append to the same file: each line is one write.
namespace uilog {

bool Enabled();
void Append(std::string_view kind, std::initializer_list<std::string_view> fields);
std::string Escape(std::string_view text);

} // namespace uilog
