#include "platform/session/NamedMutex.h"

#include "platform/session/PrivateFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

namespace session {
namespace {

thread_local std::uint32_t t_lastError = kErrorSuccess;

std::uint32_t Fail(std::uint32_t code) {
    t_lastError = code;
    return code;
}

int FlockRetry(int fd, int operation) {
    int rc = 0;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

bool IsDir(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// "Local\{...}" -> "{...}"; anything outside a plain file-name alphabet becomes '_'.
std::string FileStem(const std::string& name) {
    std::string stem = name;
    for (const char* prefix : {"Local\\", "Global\\"}) {
        const std::string p = prefix;
        if (stem.compare(0, p.size(), p) == 0) {
            stem.erase(0, p.size());
            break;
        }
    }
    for (char& c : stem) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '{' || c == '}' || c == '-' || c == '_' ||
                           c == '.';
        if (!plain) {
            c = '_';
        }
    }
    if (stem.empty() || stem[0] == '.') {
        stem.insert(0, "_");
    }
    return stem;
}

UniqueFd OpenLockFile(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
}

bool OwnerRecorded(int fd) {
    char c = 0;
    return ::pread(fd, &c, 1, 0) == 1;
}

void RecordOwner(int fd) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const auto written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
}

void ClearOwner(int fd) {
    [[maybe_unused]] const int rc = ::ftruncate(fd, 0);
}

} // namespace

std::string LockDirectory(std::string* problem) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/' || !IsDir(runtime)) {
        // No logon session's folder: a private one in the user's home, never a name in a
        // shared folder that another user could make first.
        return PrivateUserFolder("run", problem);
    }
    const std::string dir = std::string(runtime) + "/velkora";
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        if (problem != nullptr) {
            *problem = dir + " cannot be created";
        }
        return {};
    }
    // A directory that someone else made or opened up is not ours to trust.
    if (!PrivateFolderProblem(dir).empty()) {
        if (problem != nullptr) {
            *problem = dir + " is not a private folder of this user (mode 0700)";
        }
        return {};
    }
    return dir;
}

std::string OwnerFilePath(const std::string& name) {
    const std::string dir = LockDirectory();
    return dir.empty() ? dir : dir + "/" + FileStem(name) + ".owner";
}

std::uint32_t GetLastError() {
    return t_lastError;
}

CNamedMutex::CNamedMutex(CNamedMutex&& other) noexcept
    : m_handles(std::move(other.m_handles)), m_owner(std::move(other.m_owner)),
      m_name(std::move(other.m_name)), m_ownCount(std::exchange(other.m_ownCount, 0)) {}

CNamedMutex& CNamedMutex::operator=(CNamedMutex&& other) noexcept {
    if (this != &other) {
        Close();
        m_handles = std::move(other.m_handles);
        m_owner = std::move(other.m_owner);
        m_name = std::move(other.m_name);
        m_ownCount = std::exchange(other.m_ownCount, 0);
    }
    return *this;
}

void CNamedMutex::Close() {
    if (m_ownCount > 0) {
        // The ownership belongs to the process, not to the handle: both locks stay until the
        // process ends, when the kernel closes the descriptors (the mutex is then abandoned).
        m_handles.Release();
        m_owner.Release();
        m_ownCount = 0;
    }
    m_handles.Reset();
    m_owner.Reset();
    m_name.clear();
}

std::uint32_t CNamedMutex::TakeOwnership(bool wait, std::uint32_t milliseconds) {
    if (m_ownCount > 0) {
        ++m_ownCount;
        return kWaitObject0;
    }
    if (wait && milliseconds == kInfinite) {
        if (FlockRetry(m_owner.Get(), LOCK_EX) != 0) {
            Fail(kErrorAccessDenied);
            return kWaitFailed;
        }
    } else {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(wait ? milliseconds : 0);
        while (FlockRetry(m_owner.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                Fail(kErrorAccessDenied);
                return kWaitFailed;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return kWaitTimeout;
            }
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                std::chrono::milliseconds(5), deadline - now));
        }
    }
    // A pid left in the file means its owner died without releasing.
    const bool abandoned = OwnerRecorded(m_owner.Get());
    RecordOwner(m_owner.Get());
    m_ownCount = 1;
    return abandoned ? kWaitAbandoned : kWaitObject0;
}

CNamedMutex CreateMutexA(bool initialOwner, const std::string& name) {
    const std::string dir = LockDirectory();
    if (dir.empty()) {
        Fail(kErrorAccessDenied);
        return {};
    }
    // Creation is serialised on the directory, so that two first starts cannot both find the
    // mutex new while one of them is between its probe and its shared lock.
    const UniqueFd guard(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!guard.IsValid() || FlockRetry(guard.Get(), LOCK_EX) != 0) {
        Fail(kErrorAccessDenied);
        return {};
    }
    const std::string stem = dir + "/" + FileStem(name);
    CNamedMutex mutex;
    mutex.m_handles = OpenLockFile(stem + ".handles");
    mutex.m_owner = OpenLockFile(stem + ".owner");
    if (!mutex.m_handles.IsValid() || !mutex.m_owner.IsValid()) {
        Fail(kErrorAccessDenied);
        return {};
    }
    const bool exists = FlockRetry(mutex.m_handles.Get(), LOCK_EX | LOCK_NB) != 0;
    if (FlockRetry(mutex.m_handles.Get(), LOCK_SH) != 0) {
        Fail(kErrorAccessDenied);
        return {};
    }
    mutex.m_name = name;
    if (!exists) {
        // A fresh mutex: a pid left from an earlier life of the file means nothing now.
        ClearOwner(mutex.m_owner.Get());
        if (initialOwner) {
            mutex.TakeOwnership(false, 0);
        }
    }
    t_lastError = exists ? kErrorAlreadyExists : kErrorSuccess;
    return mutex;
}

std::uint32_t WaitForSingleObject(CNamedMutex& mutex, std::uint32_t milliseconds) {
    if (!mutex.IsValid()) {
        Fail(kErrorInvalidHandle);
        return kWaitFailed;
    }
    return mutex.TakeOwnership(true, milliseconds);
}

bool ReleaseMutex(CNamedMutex& mutex) {
    if (!mutex.IsValid() || mutex.m_ownCount == 0) {
        Fail(kErrorNotOwner);
        return false;
    }
    if (--mutex.m_ownCount == 0) {
        ClearOwner(mutex.m_owner.Get());
        FlockRetry(mutex.m_owner.Get(), LOCK_UN);
    }
    t_lastError = kErrorSuccess;
    return true;
}

} // namespace session
