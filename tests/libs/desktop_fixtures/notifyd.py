"""A stand-in for the desktop's notification service on a private session bus: it owns
org.freedesktop.Notifications, prints every Notify call as one line
"NOTIFY|app|icon|summary|body|timeout" and answers with an id. Prints "READY" once the
name is owned and quits by itself after the seconds given as its argument (default 60)."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 0

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.next_id += 1
        print("NOTIFY|%s|%s|%s|%s|%d" % (app, icon, summary, body, timeout), flush=True)
        return self.next_id

    @dbus.service.method("org.freedesktop.Notifications", in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method("org.freedesktop.Notifications", in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("test", "lumivarra", "1", "1.2")

    @dbus.service.method("org.freedesktop.Notifications", in_signature="u", out_signature="")
    def CloseNotification(self, notification):
        pass


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
service = Notifications(bus)
loop = GLib.MainLoop()
GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 60, loop.quit)
print("READY", flush=True)
loop.run()
