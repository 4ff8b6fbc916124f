#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velktest {

// A private pcscd for one test process, with vsmartcard-vpcd readers into
// which the project's virtual card (velkora-vcard) is inserted and removed.
// Nothing of a system pcscd is touched, and test processes running in
// parallel each get their own pcscd, socket and ports.
//
// libpcsclite reads PCSCLITE_CSOCK_NAME once per process, so every instance in
// a process uses the same socket path, and only one instance may exist at a
// time (a second one reports !Ok()). pcscd's readers listen in a network
// namespace of pcscd's own; VELK_PCSCD_PID, set in this process's environment
// while the instance lives, lets velkora-vcard join it. The vpcd driver gives
// each configured reader two slots, so an odd number of readers shows one
// extra, empty reader to PC/SC; ReaderName() names the ones asked for.
class VirtualPcscd {
public:
    explicit VirtualPcscd(int readers = 1); // private pcscd with `readers` vpcd readers; sets
                                            // PCSCLITE_CSOCK_NAME in this process's environment
    ~VirtualPcscd();                        // removes cards, stops pcscd, restores environment
    VirtualPcscd(const VirtualPcscd&) = delete;
    VirtualPcscd& operator=(const VirtualPcscd&) = delete;

    bool Ok() const;                        // pcscd came up and lists all readers
    std::string ReaderName(int slot) const; // PC/SC name of reader `slot` (0-based)
    // Starts velkora-vcard for the slot; returns once PC/SC reports the card present.
    // A card already in the slot is removed first. The card process ends with
    // the thread that inserted it (and so with a crashed test).
    bool InsertCard(int slot, const std::string& profile, const std::string& imagePath);
    // SIGTERMs the card; returns once PC/SC reports the reader empty.
    bool RemoveCard(int slot);
    std::string SocketPath() const;

    // The TCP port of the slot's vpcd reader (for a card started by hand: velkora-vcard
    // started from this process finds pcscd's network by VELK_PCSCD_PID).
    int Port(int slot) const;

private:
    bool Start(int readers);
    void StopCard(int slot);
    bool WaitForReader(int slot, bool present);

    bool m_ok = false;
    bool m_owner = false; // this instance holds the process's one slot
    std::string m_dir;
    std::string m_socket;
    std::string m_pid;
    std::vector<std::string> m_readers;
    std::vector<int> m_ports;
    std::vector<pid_t> m_cards;
    std::optional<std::string> m_oldSocketEnv; // as before this instance, absent if unset
    std::optional<std::string> m_oldPidEnv;
};

} // namespace velktest
