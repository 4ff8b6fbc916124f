#pragma once

#include <string>

// Where a companion module of the minidriver is found, in the order a module load searches:
// a name given with a folder is taken as it is; otherwise the module's file name on this
// system ("velkoramd.dll" is libvelkoramd.so) is looked for in the folders of
// VELKORA_MODULE_PATH (colon-separated), the folder of the maker's registered provider, the
// folder the modules are installed to, LD_LIBRARY_PATH, and the system's library folders.
// Empty when no folder holds a readable file of that name.
std::string FindModuleFile(const std::string& moduleName);

// The file name of a module on this system: "velkcsp.dll" -> "libvelkcsp.so".
std::string ModuleFileName(const std::string& moduleName);
