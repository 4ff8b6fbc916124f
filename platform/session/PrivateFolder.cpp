#include "platform/session/PrivateFolder.h"

#include "platform/session/TrustedPath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace session {

namespace {

// Creates `path` and the folders above it that are missing, each with mode 0700.
bool MakeFolders(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    const size_t slash = path.find_last_of('/');
    if (slash != 0 && slash != std::string::npos && !MakeFolders(path.substr(0, slash))) {
        return false;
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    std::string host = name;
    for (char& c : host) {
        c = c == '/' ? '_' : c;
    }
    return host;
}

void Tell(std::string* problem, const std::string& text) {
    if (problem != nullptr) {
        *problem = text;
    }
}

} // namespace

std::string UserHomeDir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') {
        return home;
    }
    // getpwuid_r keeps this safe when another thread looks up users too.
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

std::string PrivateUserFolder(const std::string& name, std::string* problem) {
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        base = state;
    } else if (const std::string home = UserHomeDir(); !home.empty()) {
        base = home + "/.local/state";
    } else {
        Tell(problem, "there is no home folder ($HOME or a passwd entry) for a private folder");
        return {};
    }
    const std::string folder = base + "/velkora/" + name + "-" + HostName();
    if (!MakeFolders(folder)) {
        Tell(problem, folder + " cannot be created");
        return {};
    }
    if (std::string why = PrivateFolderProblem(folder); !why.empty()) {
        Tell(problem, why);
        return {};
    }
    return folder;
}

std::string PrivateFolderProblem(const std::string& folder) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 077) != 0) {
        return folder + " is not a private folder of this user (mode 0700)";
    }
    return UntrustedPathReason(folder, true);
}

} // namespace session
