#include "platform/registry/HiveLocation.h"

#include "platform/session/PrivateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
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
    } else if (const std::string home = session::UserHomeDir(); !home.empty()) {
        config = home + "/.config";
    }
    // No home at all: no path, which the hive refuses, rather than a place in a shared
    // folder that another user could have made first.
    return EnvOr("VELKORA_USER_HIVE", config.empty() ? "" : config + "/velkora/user.hive");
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
    if (mkdir(dir.c_str(), static_cast<mode_t>(mode)) != 0) {
        return errno == EEXIST && IsDir(dir);
    }
    // The mode exactly, whatever the caller's umask: root with umask 077 would otherwise make
    // the machine hive's folder unreadable for every user.
    return chmod(dir.c_str(), static_cast<mode_t>(mode)) == 0;
}
