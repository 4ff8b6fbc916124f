#pragma once

// Surroundings of the minidriver tests: a temp folder with hive files, the
// provider and card types registered there, a scripted PIN entry program,
// and a session bus of the test's own that records "UWM_MD_MESSAGE".

#include "platform/crypto/WinCrypt.h"
#include "tests/support/TempDir.h"
#include "vcard/Profile.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace mdtest {

inline constexpr const char* kProvider = "Velkora Base Smart Card Crypto Provider";

using velktest::TempDir;

// Hive files in `dir`, the provider (module from the build) and card types
// registered in them. Restores the environment when it ends.
class RegisteredProvider {
public:
    explicit RegisteredProvider(const TempDir& dir);
    ~RegisteredProvider();
    RegisteredProvider(const RegisteredProvider&) = delete;
    RegisteredProvider& operator=(const RegisteredProvider&) = delete;
    long Result() const { return m_result; }

private:
    long m_result = -1;
};

// A PIN entry program written as a shell script into `dir` and named by
// VELKORA_PINENTRY. It answers GETPIN with the queued answers in order,
// across runs ("CANCEL" answers as the user's cancel), and logs its starts
// and the descriptions it was given. While the file "hold" exists in `dir`
// and "go" does not, a new-PIN prompt makes "at-prompt" and waits for "go".
class ScriptedPinEntry {
public:
    explicit ScriptedPinEntry(const TempDir& dir);
    ~ScriptedPinEntry();
    ScriptedPinEntry(const ScriptedPinEntry&) = delete;
    ScriptedPinEntry& operator=(const ScriptedPinEntry&) = delete;

    void Queue(const std::vector<std::string>& answers) const;
    int Starts() const;                            // how often the program ran
    std::vector<std::string> Descriptions() const; // SETDESC texts, oldest first
    std::size_t Unanswered() const;                // queued answers not asked for

private:
    std::string m_dir;
};

// A dbus-daemon of this test, set as DBUS_SESSION_BUS_ADDRESS while it
// lives, with a connection that records the minidriver's broadcasts.
class RecordingBus {
public:
    RecordingBus();
    ~RecordingBus();
    RecordingBus(const RecordingBus&) = delete;
    RecordingBus& operator=(const RecordingBus&) = delete;

    bool Ok() const { return m_connection != nullptr; }
    // The requests (wParam, lParam) received so far, waiting until at least
    // `count` came or a generous limit passed.
    std::vector<std::pair<uint32_t, int64_t>> Received(std::size_t count);
    // The senders' unique bus names of the requests received, without repeats.
    std::vector<std::string> Senders() const;
    // Stops and continues the bus daemon: while paused it reads nothing.
    void Pause();
    void Resume();

private:
    pid_t m_daemon = -1;
    void* m_connection = nullptr; // DBusConnection
    std::vector<std::pair<uint32_t, int64_t>> m_received;
    std::vector<std::string> m_senders;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// A profile of the virtual card with 1024-bit card keys: the minidriver does
// not care about the key size, and the keys are made much faster.
vcard::CardProfile QuickProfile(const std::string& name);

// "\\.\reader\name"
std::string ContainerPath(const std::string& reader, const std::string& name);

// CryptAcquireContextA of the provider for `path`: 0 when it opened, else the
// last error.
DWORD Acquire(const std::string& path, HCRYPTPROV& prov, DWORD flags = CRYPT_VERIFYCONTEXT);

// The names PP_ENUMCONTAINERS lists on an open context, from CRYPT_FIRST;
// `error` is the last error of the call that ended the listing.
std::vector<std::string> ListContainers(HCRYPTPROV prov, unsigned long& error);

// Every container name of the provider on the reader prefix "\\.\reader\",
// through CryptAcquireContextA and PP_ENUMCONTAINERS; `error` is the last
// error of the call that ended the listing (ERROR_NO_MORE_ITEMS when it ran
// to its end).
std::vector<std::string> EnumerateContainers(const std::string& reader, unsigned long& error);

// The path of the last user container on `reader` whose PIN selector
// (position 7) is `selector`; empty when there is none.
std::string UserContainer(const std::string& reader, char selector);

// A PIN command through PP_KEYEXCHANGE_PIN: 0 or the last error.
DWORD SendPinCommand(HCRYPTPROV prov, const std::string& command);

// KP_CERTIFICATE of the exchange key of "\\.\reader\name"; empty on failure.
std::vector<uint8_t> ContainerCertificate(const std::string& reader, const std::string& name);

// Both decodings of the reader character that the certificate manager uses.
int ReaderIndexFromContainer(const std::string& name, int readerCount);
unsigned ReaderNameIndexFromContainer(const std::string& name, unsigned readerCount);

// The RSA modulus of the certificate's public key, big-endian; empty if none.
std::vector<uint8_t> CertificateModulus(const std::vector<uint8_t>& der);

} // namespace mdtest
