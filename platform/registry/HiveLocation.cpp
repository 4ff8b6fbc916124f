#include "platform/registry/HiveLocation.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') {
        return home;
    }
    // getpwuid_r keeps this safe when another thread looks up users too.
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/tmp";
}

bool Writable(const std::string& path) {
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool IsDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string MachineHivePath() {
    return EnvOr("VELKORA_MACHINE_HIVE", "/etc/velkora/machine.hive");
}

std::string UserHivePath() {
    std::string config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg == '/') {
        config = xdg;
    } else {
        config = HomeDir() + "/.config";
    }
    return EnvOr("VELKORA_USER_HIVE", config + "/velkora/user.hive");
}

std::string ParentDir(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

bool CanWriteHiveFile(const std::string& path) {
    return Writable(path) && Writable(ParentDir(path));
}

bool CanCreateHiveFile(const std::string& path) {
    std::string dir = ParentDir(path);
    while (!IsDir(dir)) {
        struct stat st {};
        if (lstat(dir.c_str(), &st) == 0 || dir == "/" || dir == ".") {
            return false; // something that is not a folder is in the way
        }
        dir = ParentDir(dir);
    }
    return Writable(dir);
}

bool MakeParentDirs(const std::string& path, unsigned mode) {
    const std::string dir = ParentDir(path);
    if (IsDir(dir)) {
        return true;
    }
    if (dir == "/" || dir == "." || !MakeParentDirs(dir, mode)) {
        return false;
    }
    return mkdir(dir.c_str(), static_cast<mode_t>(mode)) == 0 || (errno == EEXIST && IsDir(dir));
}
