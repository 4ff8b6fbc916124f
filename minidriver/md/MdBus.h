#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace velkmd {

// The minidriver's one connection to the session bus, shared by every card
// operation of the process. A broadcast is handed to the connection and
// written as far as the socket takes it at once; nothing waits for the bus to
// answer, so a busy or hung bus never holds up card work. What is still queued
// goes out with the next broadcast, and at process end within a short bound.
//
// The connection follows DBUS_SESSION_BUS_ADDRESS (else the bus socket of
// XDG_RUNTIME_DIR): when the address changes or the bus went away, the next
// broadcast connects anew. Thread-safe.
class CMdBus {
public:
    static CMdBus& Instance();

    // False when no connection to the session bus could be made.
    bool Broadcast(uint32_t wParam, int64_t lParam);

    ~CMdBus();
    CMdBus(const CMdBus&) = delete;
    CMdBus& operator=(const CMdBus&) = delete;

private:
    CMdBus() = default;
    bool ConnectTo(const std::string& address);
    void Drop();

    std::mutex m_mutex;
    void* m_connection = nullptr; // DBusConnection, private to this object
    std::string m_address;
};

// The address of the session bus as the environment gives it; empty if none.
std::string SessionBusAddress();

} // namespace velkmd
