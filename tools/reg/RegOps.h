#pragma once

#include "tools/reg/RegArgs.h"

#include <istream>
#include <ostream>

// Exit codes of velkora-reg.
enum RegExit : int {
    kExitOk = 0,
    kExitSyntax = 1,   // the command line is wrong
    kExitNotFound = 2, // the key or value does not exist
    kExitDenied = 3,   // the hive may not be written (or read) by this user
    kExitBadHive = 4,  // the hive file is damaged or not a registry file
    kExitFailed = 5,   // any other failure (data that does not fit its type, file errors)
    kExitCanceled = 6, // the user answered No
};

// Runs one parsed command. Results go to `out`, errors to `err`; questions
// (overwrite? delete?) are read from `in` unless /f or /y was given.
int RunRegCommand(const CRegArgs& args, std::istream& in, std::ostream& out, std::ostream& err);

void PrintRegUsage(std::ostream& out);
