#include "minidriver/nss/NssRegistration.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velknss {

namespace {

// Runs an NSS tool with stdin from /dev/null (so that it never waits for an
// answer) and its output collected; the exit status, -1 if it did not run.
int RunTool(const std::vector<std::string>& args, std::string& output) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return -1;
    }
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Modutil(const std::string& dbDir, std::vector<std::string> rest, std::string& output) {
    std::vector<std::string> args{"modutil", "-dbdir", "sql:" + dbDir};
    args.insert(args.end(), rest.begin(), rest.end());
    return RunTool(args, output);
}

// The library file of our module in the database; empty when it is not there.
// Read from the database's module list (pkcs11.txt: blocks of key=value
// lines), not asked of modutil, whose listing loads the module and fails on
// a reader without a card.
std::string RegisteredLibrary(const std::string& dbDir) {
    std::ifstream in(std::filesystem::path(dbDir) / "pkcs11.txt");
    std::string line;
    std::string library;
    bool ours = false;
    auto blockEnds = [&]() { return ours ? library : std::string(); };
    while (std::getline(in, line)) {
        if (line.empty()) {
            if (ours) {
                break;
            }
            library.clear();
            continue;
        }
        if (line.rfind("library=", 0) == 0) {
            library = line.substr(8);
        } else if (line == std::string("name=") + kModuleName) {
            ours = true;
        }
    }
    return blockEnds();
}

bool HasDatabase(const std::string& dbDir) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(dbDir) / "cert9.db", ec);
}

} // namespace

Outcome Register(const std::string& dbDir, const std::string& modulePath, std::string& log) {
    if (!HasDatabase(dbDir)) {
        std::error_code ec;
        std::filesystem::create_directories(dbDir, ec);
        std::string output;
        if (ec ||
            RunTool({"certutil", "-N", "-d", "sql:" + dbDir, "--empty-password"}, output) != 0) {
            return Outcome::Failed;
        }
    }
    const std::string current = RegisteredLibrary(dbDir);
    if (current == modulePath) {
        return Outcome::Unchanged;
    }
    if (!current.empty() && Modutil(dbDir, {"-delete", kModuleName, "-force"}, log) != 0) {
        return Outcome::Failed;
    }
    if (Modutil(dbDir, {"-add", kModuleName, "-libfile", modulePath, "-force"}, log) != 0) {
        return Outcome::Failed;
    }
    return Outcome::Done;
}

Outcome Unregister(const std::string& dbDir, std::string& log) {
    if (!HasDatabase(dbDir) || RegisteredLibrary(dbDir).empty()) {
        return Outcome::Unchanged;
    }
    return Modutil(dbDir, {"-delete", kModuleName, "-force"}, log) == 0 ? Outcome::Done
                                                                        : Outcome::Failed;
}

} // namespace velknss
