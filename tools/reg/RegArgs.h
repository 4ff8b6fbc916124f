#pragma once

#include "platform/registry/Registry.h"

#include <string>
#include <vector>

// The command line of velkora-reg, in the shape of the classic reg tool:
//   query  KEY [/v NAME | /ve] [/s]
//   add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   delete KEY [/v NAME | /ve | /va] [/f]
//   export KEY FILE [/y]
// Options may start with '/' or '-' and are not case-sensitive.
struct CRegArgs {
    enum class Op { Help, Query, Add, Delete, Export };
    Op op = Op::Help;
    HKEY root = nullptr;
    std::string path;   // below the root, without a trailing backslash
    bool value = false; // /v or /ve given
    std::string name;   // /v NAME ("" for /ve, the default value)
    bool allValues = false;
    bool recurse = false;
    std::string type = "REG_SZ";
    bool hasData = false;
    std::string data;
    bool force = false;
    std::string file;

    // "HKEY_CURRENT_USER\Software\..." as shown in output.
    std::string KeyText() const;
};

// Fills `args`; on a syntax error returns false with the reason in `error`.
bool ParseRegArgs(const std::vector<std::string>& argv, CRegArgs& args, std::string& error);
