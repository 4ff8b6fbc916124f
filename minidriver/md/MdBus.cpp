#include "minidriver/md/MdBus.h"

#include "platform/qt/MdMessage.h"

#include <dbus/dbus.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace velkmd {

namespace {

// At process end, how long queued broadcasts may take to leave.
constexpr int kFinalFlushSteps = 10;
constexpr int kFinalFlushStepMs = 20;

DBusConnection* Bus(void* connection) {
    return static_cast<DBusConnection*>(connection);
}

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};

// Takes whatever the bus sent us (the name it gave us, little else) so that
// nothing piles up, and writes what is queued as far as the socket takes it.
void Pump(DBusConnection* connection) {
    dbus_connection_read_write(connection, 0);
    while (DBusMessage* message = dbus_connection_pop_message(connection)) {
        dbus_message_unref(message);
    }
}

} // namespace

std::string SessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return address;
    }
    // Only a bus that is there: libdbus would otherwise try to launch one.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return {};
    }
    struct stat info {};
    const std::string socket = std::string(runtime) + "/bus";
    if (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return {};
    }
    return "unix:path=" + socket;
}

CMdBus& CMdBus::Instance() {
    static CMdBus bus;
    return bus;
}

CMdBus::~CMdBus() {
    const std::lock_guard lock(m_mutex);
    if (m_connection == nullptr) {
        return;
    }
    for (int step = 0;
         step < kFinalFlushSteps && dbus_connection_get_is_connected(Bus(m_connection)) &&
         dbus_connection_has_messages_to_send(Bus(m_connection));
         ++step) {
        dbus_connection_read_write(Bus(m_connection), kFinalFlushStepMs);
    }
    Drop();
}

void CMdBus::Drop() {
    if (m_connection != nullptr) {
        dbus_connection_close(Bus(m_connection));
        dbus_connection_unref(Bus(m_connection));
        m_connection = nullptr;
    }
    m_address.clear();
}

bool CMdBus::ConnectTo(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    // A private connection: closing it cannot disturb a shared one of the host process.
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
    if (connection == nullptr) {
        dbus_error_free(&error);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    if (!dbus_bus_register(connection, &error)) {
        dbus_error_free(&error);
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        return false;
    }
    m_connection = connection;
    m_address = address;
    return true;
}

bool CMdBus::Broadcast(uint32_t wParam, int64_t lParam) {
    const std::string address = SessionBusAddress();
    const std::lock_guard lock(m_mutex);
    if (m_connection != nullptr &&
        (address != m_address || !dbus_connection_get_is_connected(Bus(m_connection)))) {
        Drop();
    }
    if (address.empty() || (m_connection == nullptr && !ConnectTo(address))) {
        return false;
    }
    std::unique_ptr<DBusMessage, MessageUnref> signal(
        dbus_message_new_signal(mdmsg::kObjectPath, mdmsg::kInterface, mdmsg::kMember));
    if (!signal) {
        return false;
    }
    dbus_uint32_t w = wParam;
    dbus_int64_t l = lParam;
    if (!dbus_message_append_args(signal.get(), DBUS_TYPE_UINT32, &w, DBUS_TYPE_INT64, &l,
                                  DBUS_TYPE_INVALID) ||
        !dbus_connection_send(Bus(m_connection), signal.get(), nullptr)) {
        return false;
    }
    Pump(Bus(m_connection));
    return true;
}

} // namespace velkmd
