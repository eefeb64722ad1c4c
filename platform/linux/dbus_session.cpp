// dbus_session.cpp - private connections to the desktop's session bus.
//
// Private connections keep the process's own use of the bus apart from any library
// (GTK, libnotify) that shares libdbus's default connection, and closing one drops every
// name it owned at once.
#include "platform/linux/dbus_session.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

DBusConnection *OpenSessionBus(void)
{
    static const int threadsReady = dbus_threads_init_default();
    (void)threadsReady;
    char fallback[1100];
    const char *address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) {
        // Never autolaunch: only a bus that already runs for this user is used.
        const char *runtime = getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime) return nullptr;
        char path[1024];
        if (snprintf(path, sizeof path, "%s/bus", runtime) >= (int)sizeof path) return nullptr;
        struct stat st;
        if (stat(path, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
        snprintf(fallback, sizeof fallback, "unix:path=%s", path);
        address = fallback;
    }
    if (std::strncmp(address, "autolaunch:", 11) == 0) return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection *bus = dbus_connection_open_private(address, &error);
    if (!bus) {
        dbus_error_free(&error);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    if (!dbus_bus_register(bus, &error)) {
        dbus_error_free(&error);
        CloseSessionBus(bus);
        return nullptr;
    }
    return bus;
}

void CloseSessionBus(DBusConnection *bus)
{
    if (!bus) return;
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
}

DBusMessage *CallSessionBus(DBusConnection *bus, DBusMessage *call, int timeoutMs)
{
    if (!call) return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage *reply = dbus_connection_send_with_reply_and_block(bus, call, timeoutMs, &error);
    dbus_message_unref(call);
    dbus_error_free(&error);
    return reply;
}

int SessionNameHasOwner(DBusConnection *bus, const char *name)
{
    DBusError error;
    dbus_error_init(&error);
    dbus_bool_t owned = dbus_bus_name_has_owner(bus, name, &error);
    dbus_error_free(&error);
    return owned ? 1 : 0;
}
