#include "vcard/PcscdNetwork.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vcard {

namespace {

class NamespaceFd {
public:
    explicit NamespaceFd(const std::string& path)
        : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~NamespaceFd() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    NamespaceFd(const NamespaceFd&) = delete;
    NamespaceFd& operator=(const NamespaceFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

bool SameNamespace(int fd, const char* own) {
    struct stat theirs {};
    struct stat ours {};
    return fstat(fd, &theirs) == 0 && stat(own, &ours) == 0 && theirs.st_dev == ours.st_dev &&
           theirs.st_ino == ours.st_ino;
}

// Joins the namespace behind `fd` unless the process is already in it.
bool Join(int fd, int type, const char* own, const char* what, std::string& error) {
    if (fd < 0) {
        error = std::string("cannot open pcscd's ") + what + " namespace: " + std::strerror(errno);
        return false;
    }
    if (SameNamespace(fd, own)) {
        return true;
    }
    if (setns(fd, type) != 0) {
        error = std::string("cannot join pcscd's ") + what + " namespace: " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool EnterPcscdNetwork(pid_t pcscd, std::string& error) {
    const std::string base = "/proc/" + std::to_string(pcscd) + "/ns/";
    // Both are opened before either is joined: /proc/<pid> must be read from where we are.
    const NamespaceFd user(base + "user");
    const NamespaceFd net(base + "net");
    // An unprivileged user made the network namespace inside a user namespace of its own;
    // joining that one first gives the right to join the network.
    return Join(user.Get(), CLONE_NEWUSER, "/proc/self/ns/user", "user", error) &&
           Join(net.Get(), CLONE_NEWNET, "/proc/self/ns/net", "network", error);
}

} // namespace vcard
