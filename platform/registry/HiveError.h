#pragma once

#include <string>

// Tells the user once per hive file that it cannot be used: on stderr at
// once, and kept for RegGetHiveErrorText() so the program can show it too.
void ReportHiveProblem(const std::string& path, const std::string& detail);

// The same for a hive whose place another user could change (`why` says how).
void ReportHiveFolderProblem(const std::string& path, const std::string& why);

std::string LastHiveProblem();
void ClearHiveProblems();
