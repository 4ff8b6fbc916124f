#pragma once

// A shell command run to its end, with what it wrote to standard output.

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace velktest {

struct CommandRun {
    int status = -1; // the exit code; -1 when it did not run or did not exit
    std::string out;
};

inline CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, got);
    }
    const int status = pclose(pipe);
    run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace velktest
