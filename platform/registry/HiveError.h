#pragma once

#include <string>

// Tells the user once per hive file that it cannot be used: on stderr at
// once, and kept for RegGetHiveErrorText() so the program can show it too.
void ReportHiveProblem(const std::string& path, const std::string& detail);

std::string LastHiveProblem();
void ClearHiveProblems();
