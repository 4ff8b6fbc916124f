#include "platform/qt/MdMessage.h"

#include <dbus/dbus.h>

#include <cstdlib>
#include <memory>

namespace {

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using ConnectionPtr = std::unique_ptr<DBusConnection, ConnectionCloser>;
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

class ScopedError {
public:
    ScopedError() { dbus_error_init(&m_error); }
    ~ScopedError() { dbus_error_free(&m_error); }
    ScopedError(const ScopedError&) = delete;
    ScopedError& operator=(const ScopedError&) = delete;
    DBusError* Get() { return &m_error; }

private:
    DBusError m_error;
};

} // namespace

bool PostMdMessage(std::uint32_t wParam, std::int64_t lParam) {
    ScopedError error;
    // A private connection: closing it cannot disturb a shared one of the caller. The address
    // is read at every call (the library would keep the first one it saw for the process).
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ConnectionPtr connection(address != nullptr && *address != '\0'
                                 ? dbus_connection_open_private(address, error.Get())
                                 : dbus_bus_get_private(DBUS_BUS_SESSION, error.Get()));
    if (!connection) {
        return false;
    }
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    if (address != nullptr && *address != '\0' &&
        !dbus_bus_register(connection.get(), error.Get())) {
        return false;
    }

    MessagePtr signal(
        dbus_message_new_signal(mdmsg::kObjectPath, mdmsg::kInterface, mdmsg::kMember));
    if (!signal) {
        return false;
    }
    dbus_uint32_t w = wParam;
    dbus_int64_t l = lParam;
    if (!dbus_message_append_args(signal.get(), DBUS_TYPE_UINT32, &w, DBUS_TYPE_INT64, &l,
                                  DBUS_TYPE_INVALID) ||
        !dbus_connection_send(connection.get(), signal.get(), nullptr)) {
        return false;
    }
    dbus_connection_flush(connection.get());

    // The bus handles one connection's messages in order: once it answers a ping, it has routed
    // the signal, and the caller may end its process without losing it.
    MessagePtr ping(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus.Peer", "Ping"));
    if (!ping) {
        return true;
    }
    MessagePtr reply(
        dbus_connection_send_with_reply_and_block(connection.get(), ping.get(), 5000, error.Get()));
    return true;
}
