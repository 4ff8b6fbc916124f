// velkora-reg: the command-line face of the registry hives.
#include "tools/reg/RegArgs.h"
#include "tools/reg/RegOps.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    CRegArgs parsed;
    std::string error;
    if (!ParseRegArgs(args, parsed, error)) {
        std::cerr << "ERROR: Invalid syntax: " << error << ".\n"
                  << "Type \"velkora-reg --help\" for usage.\n";
        return kExitSyntax;
    }
    return RunRegCommand(parsed, std::cin, std::cout, std::cerr);
}
