// dbus_session.h - private connections to the desktop's session bus (libdbus-1).
//
// Depends on: libdbus-1.
// Limits: a connection is used by one thread at a time (the pumping thread).
#pragma once
#include <dbus/dbus.h>

// A new private connection to the session bus, registered (it has its unique name), or
// nullptr: the address is DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus when that
// socket exists. A bus is never launched. The process does not exit when the bus goes.
DBusConnection *OpenSessionBus(void);
// Closes and releases a connection from OpenSessionBus; nullptr is ignored.
void CloseSessionBus(DBusConnection *bus);
// Sends a method call and waits at most timeoutMs for its reply. The reply (the caller
// unrefs it), or nullptr on an error reply, a time-out or a lost bus. Takes the message.
DBusMessage *CallSessionBus(DBusConnection *bus, DBusMessage *call, int timeoutMs);
// 1 when some connection owns the name.
int SessionNameHasOwner(DBusConnection *bus, const char *name);
