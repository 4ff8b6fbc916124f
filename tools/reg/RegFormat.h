#pragma once

#include "platform/registry/Registry.h"

#include <string>
#include <vector>

// Value types and data as text, both ways.

// "REG_DWORD" for 4; unknown types as "REG_TYPE_<n>".
std::string RegTypeName(DWORD type);
// The type of a name such as "REG_DWORD" (any case); false when unknown.
bool RegTypeFromName(const std::string& name, DWORD& type);

// Data as the query output shows it: strings as text, numbers as 0x..., the
// rest as hex digits; several strings joined with "\0".
std::string RegDataText(DWORD type, const std::vector<BYTE>& data);

// The bytes that `text` stands for as a value of `type`, the way the add
// command reads /d: decimal numbers (a leading 0 is still decimal) or hex
// after 0x, hex digits for binary, "\0" between strings. False when the text
// does not fit the type.
bool RegDataFromText(DWORD type, const std::string& text, std::vector<BYTE>& data);

// `text` with every control character (below 0x20, and 0x7f) written as \xNN, so that a
// stored name or string can neither start a line of its own nor reach the terminal as a
// control sequence.
std::string RegEscapeControls(const std::string& text);

// One value as a line of an export file: "name"=dword:00000001 and so on.
std::string RegExportLine(const std::string& name, DWORD type, const std::vector<BYTE>& data);
