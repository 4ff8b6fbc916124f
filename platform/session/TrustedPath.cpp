#include "platform/session/TrustedPath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace session {

namespace {

std::string Parent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// Why the existing, fully resolved `path` is not safe, or empty.
std::string EntryProblem(const std::string& path, const struct stat& st) {
    const uid_t me = geteuid();
    if (st.st_uid != 0 && st.st_uid != me) {
        return path + " belongs to another user";
    }
    const bool openToOthers = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool stickyOfRoot = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && st.st_uid == 0;
    if (openToOthers && !stickyOfRoot) {
        return path + " can be changed by other users";
    }
    return {};
}

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

} // namespace

std::string UntrustedPathReason(const std::string& path, bool mustExist) {
    if (path.empty() || path[0] != '/') {
        return (path.empty() ? std::string("no path") : path) + " is not an absolute path";
    }
    // The nearest part of the path that exists, with every link in it resolved: the folders
    // checked are the ones the kernel really walks through.
    std::string existing = path;
    std::unique_ptr<char, FreeDeleter> resolved(realpath(existing.c_str(), nullptr));
    while (!resolved) {
        if (errno != ENOENT || mustExist || existing == "/") {
            return path + (mustExist ? " does not exist" : " cannot be reached");
        }
        existing = Parent(existing);
        resolved.reset(realpath(existing.c_str(), nullptr));
    }
    std::string current = resolved.get();
    for (;;) {
        struct stat st {};
        if (lstat(current.c_str(), &st) != 0) {
            return current + " cannot be examined";
        }
        if (std::string problem = EntryProblem(current, st); !problem.empty()) {
            return problem;
        }
        if (current == "/") {
            return {};
        }
        current = Parent(current);
    }
}

} // namespace session
