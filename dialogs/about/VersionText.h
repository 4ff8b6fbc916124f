#pragma once

#include <string>

// The display form of a product version in the resource form "1, 0, 5, 12":
// "Version 1.0.5 (Build: 12)" - the first three numbers and the one after the last comma,
// each without its blanks. A version without any comma (such as "2.1.0.7") is shown as it is;
// an empty one gives "Version .. (Build: )".
std::string FormatVersion(const std::string& productVersion);

// The version line of a companion module: "not found" when no such module file is installed,
// otherwise FormatVersion of its "ProductVersion" (of an empty text when the file carries no
// version).
std::string GetModuleVersionText(const std::string& moduleName);

// The program's own line: FormatVersion of its product version, " (CR:", the seven-character
// revision it was built from, ")".
std::string GetProgramVersionText();
