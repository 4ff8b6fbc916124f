#pragma once

#include "platform/session/UniqueFd.h"

#include <cstdint>
#include <string>

// Named mutexes of one logon session, as lock files in a private per-user directory
// ($XDG_RUNTIME_DIR/velkora, else the user's own ~/.local/state/velkora/run-<host>, mode 0700).
//
// Every open handle holds a shared flock on "<name>.handles": a mutex "exists" while some
// handle is open, so a create that finds another holder reports kErrorAlreadyExists. Ownership
// is an exclusive flock on "<name>.owner", which also records the owner's pid while owned. The
// kernel drops both locks when the holder dies, so a waiter then acquires the mutex and sees
// kWaitAbandoned (the pid is still recorded). One session = one runtime directory, so an
// instance in another session never meets these files.
//
// Like a mutex owned by a thread, ownership outlives the handle: closing a handle that still
// owns the mutex keeps the mutex (and its ownership) until the process ends.
namespace session {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorNotOwner = 288;

inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

class CNamedMutex {
public:
    CNamedMutex() = default; // the null handle
    ~CNamedMutex() { Close(); }
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;
    CNamedMutex(CNamedMutex&& other) noexcept;
    CNamedMutex& operator=(CNamedMutex&& other) noexcept;

    bool IsValid() const { return m_handles.IsValid(); }
    bool IsOwned() const { return m_ownCount > 0; }
    const std::string& Name() const { return m_name; }

    // Closes the handle; an ownership still held stays until the process ends.
    void Close();

private:
    friend CNamedMutex CreateMutexA(bool initialOwner, const std::string& name);
    friend std::uint32_t WaitForSingleObject(CNamedMutex& mutex, std::uint32_t milliseconds);
    friend bool ReleaseMutex(CNamedMutex& mutex);

    std::uint32_t TakeOwnership(bool wait, std::uint32_t milliseconds);

    UniqueFd m_handles;
    UniqueFd m_owner;
    std::string m_name;
    unsigned m_ownCount = 0;
};

// Opens or creates the mutex; GetLastError() then tells kErrorAlreadyExists when another handle
// was open (the mutex is then not taken even if initialOwner is set), kErrorAccessDenied when
// the lock directory or files cannot be used (a null handle is returned), else kErrorSuccess.
// A "Local\" or "Global\" prefix of the name is dropped.
CNamedMutex CreateMutexA(bool initialOwner, const std::string& name);

// kWaitObject0, kWaitAbandoned (the previous owner died owning it; the mutex is now ours),
// kWaitTimeout, or kWaitFailed (null handle). kInfinite waits without time-out.
std::uint32_t WaitForSingleObject(CNamedMutex& mutex, std::uint32_t milliseconds);

// Gives up one level of ownership; false with kErrorNotOwner when the handle does not own it.
bool ReleaseMutex(CNamedMutex& mutex);

// Error code of the last call of this layer on the calling thread.
std::uint32_t GetLastError();

// The directory holding the lock files, created on demand; empty when unusable (another
// user's, open to others, or no place for it), with `problem` saying why.
std::string LockDirectory(std::string* problem = nullptr);

// The file that records the owner's pid of the named mutex (for diagnostics and tests).
std::string OwnerFilePath(const std::string& name);

} // namespace session
