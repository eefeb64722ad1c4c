// lvplatform_tray.h - the tray icon: a StatusNotifierItem on the desktop's session bus.
//
// The item lives on a private libdbus connection to the session bus (the address in
// DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus; no bus is ever launched). It owns
// the name "org.kde.StatusNotifierItem-<pid>-1" and answers at /StatusNotifierItem. The
// connection's descriptor joins the main loop's poll (the BusDescriptor and DispatchBus
// slots of lvMainLoopHooks), so every bus message is handled on the pumping thread.
//
// A menu hangs on the item through SetTrayMenu: the menu side exports its own object
// (com.canonical.dbusmenu, or anything else) on the item's connection; the item names the
// object in its "Menu" property and passes it every method call addressed to that path.
//
// Depends on: libdbus-1.
// Limits: ShowTrayIcon may be called on any thread (it runs as main-thread request 5);
// the hooks and the menu handler run on the pumping thread.
#pragma once
#include <cstdint>

enum { LV_REQUEST_TRAY = 5 };

// Shows the picture (width x height ARGB words, top row first) as the tray icon, or
// replaces the one shown (the host is told with NewIcon, NewToolTip); pixels nullptr
// removes the item. The tooltip is cut at 127 characters; nullptr or "" shows none.
// 0; ERR_ADDAPPICON when there is no session bus, no StatusNotifierWatcher on it, or the
// watcher refuses the item; ERR_WRONGUSAGE for removal while nothing is shown or a size
// out of 1..1024; ERR_MEM.
int ShowTrayIcon(const uint32_t *pixels, int width, int height, const char *tooltip);
// 1 while the item is on the bus.
int TrayIconShown(void);

// What the item reports to the higher layers (pumping thread). Empty slots do nothing.
struct lvTrayHooks {
    void (*Activated)(int x, int y);    // primary click on the icon (Activate)
    void (*SecondaryActivated)(int x, int y);  // middle click (SecondaryActivate)
    // The host asks for a context menu (ContextMenu); only called when no menu is
    // attached, since a host shows an attached menu itself.
    void (*ContextMenuAsked)(int x, int y);
};
// Installs the hooks (nullptr: none). Set before the loop runs.
void SetTrayHooks(const lvTrayHooks *hooks);

// A menu attached to the item.
struct lvTrayMenu {
    // The menu's object path on the item's connection, e.g. "/MenuBar" (at most 255
    // bytes, a valid object path); the item's "Menu" property names it.
    const char *objectPath;
    // Handles one method call addressed to objectPath: connection is the item's
    // DBusConnection *, message the DBusMessage *. Returns 1 when it sent a reply (or the
    // call needs none), 0 to let the item answer "unknown method".
    int (*HandleMessage)(void *connection, void *message, void *user);
    void *user;  // handed back to HandleMessage
};
// Attaches a menu (nullptr detaches it; the item then names "/NO_DBUSMENU"). The record
// is copied, the path too. Pumping thread, or before the item is shown. 0 or
// ERR_WRONGUSAGE for a path that is not a valid object path.
int SetTrayMenu(const lvTrayMenu *menu);
// The item's DBusConnection * (pumping thread), for signals the menu sends; nullptr while
// no item is shown. A menu must not keep it across a removal.
void *TrayBusConnection(void);

// The main loop's bus slots: the connection's descriptor, -1 when none; and its reading.
int TrayBusDescriptor(void);
void DispatchTrayBus(void);
// Removes the item and closes the connection (shut-down; pumping thread or no loop).
void CloseTrayIcon(void);
