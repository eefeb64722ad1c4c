#!/usr/bin/python3
# A StatusNotifierWatcher for tests: owns org.kde.StatusNotifierWatcher on the bus named
# by DBUS_SESSION_BUS_ADDRESS and prints, one line each, what it sees of the items:
#   READY
#   REGISTER <service>
#   ICON <w> <h> <hex bytes>        (IconPixmap, first pixmap, after each registration/NewIcon)
#   TIP <text>                      (the ToolTip's title)
#   MENU <path> ITEMISMENU <0|1>
#   SIGNAL <name>
#   GONE <service>                  (the item's name lost its owner)
#   ACTIVATED                       (its Activate call returned)
#   LAYOUT <rev> <id>:<label or type>:<toggle-type>:<toggle-state>:<enabled>:<shortcut>[/<children>...] ...
#                                   (the item's menu, com.canonical.dbusmenu GetLayout(0, -1))
#   CLICKED                         (an Event "clicked" returned)
#   MENUSIGNAL <name> <args...>     (a dbusmenu signal of the item's menu)
# Commands on stdin: "activate X Y" calls Activate on the last item; "layout" reads the
# last item's menu, "click ID" sends it a click, "menuprop" prints the MENU line again;
# "quit" ends.
# With the argument "refuse" every registration is answered with an error.
import sys
import dbus
import dbus.service
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
refuse = len(sys.argv) > 1 and sys.argv[1] == "refuse"
items = []


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def show(service):
    proxy = bus.get_object(service, "/StatusNotifierItem")
    props = dbus.Interface(proxy, "org.freedesktop.DBus.Properties")

    def got(values):
        pix = values.get("IconPixmap", [])
        if len(pix):
            w, h, data = pix[0]
            say("ICON %d %d %s" % (w, h, bytes(bytearray(data)).hex()))
        else:
            say("ICON 0 0 -")
        say("TIP " + str(values["ToolTip"][2]))
        say("MENU %s ITEMISMENU %d" % (values["Menu"], 1 if values["ItemIsMenu"] else 0))

    props.GetAll("org.kde.StatusNotifierItem", reply_handler=got,
                 error_handler=lambda e: say("ERROR " + str(e)))


class Watcher(dbus.service.Object):
    @dbus.service.method("org.kde.StatusNotifierWatcher", in_signature="s", out_signature="",
                         sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        if refuse:
            raise dbus.exceptions.DBusException("refused", name="org.example.Refused")
        items.append(service)
        say("REGISTER " + service)
        GLib.idle_add(lambda: show(service) and False)


def on_signal(*args, **kw):
    say("SIGNAL " + kw["member"])
    if kw["member"] == "NewIcon" and items:
        show(items[-1])


def on_menu_signal(*args, **kw):
    say("MENUSIGNAL " + kw["member"] + "".join(" " + str(a) for a in args))


def describe(node):
    ident, props, children = node
    text = props.get("label", props.get("type", "-"))
    text = "%d:%s:%s:%d:%d:%s" % (ident, text, props.get("toggle-type", "-"), int(props.get("toggle-state", -1)),
                                  1 if props.get("enabled", True) else 0,
                                  "+".join("+".join(k) for k in props.get("shortcut", [])) or "-")
    if len(children):
        text += "/" + "/".join(describe(c) for c in children).replace(" ", "_")
    return text


def menu_of(service):
    proxy = bus.get_object(service, "/StatusNotifierItem")
    path = dbus.Interface(proxy, "org.freedesktop.DBus.Properties").Get("org.kde.StatusNotifierItem", "Menu")
    return dbus.Interface(bus.get_object(service, path), "com.canonical.dbusmenu")


def on_owner(name, old, new):
    if name in items and new == "":
        say("GONE " + name)


def on_command(source, condition):
    line = sys.stdin.readline()
    if not line or line.strip() == "quit":
        loop.quit()
        return False
    words = line.split()
    if words and words[0] == "activate" and items:
        proxy = bus.get_object(items[-1], "/StatusNotifierItem")
        item = dbus.Interface(proxy, "org.kde.StatusNotifierItem")
        item.Activate(int(words[1]), int(words[2]), reply_handler=lambda: say("ACTIVATED"),
                      error_handler=lambda e: say("ERROR " + str(e)))
    elif words and words[0] == "layout" and items:
        def got(revision, layout):
            say("LAYOUT %d %s" % (revision, " ".join(describe(c) for c in layout[2])))
        menu_of(items[-1]).GetLayout(0, -1, dbus.Array([], signature="s"), reply_handler=got,
                                     error_handler=lambda e: say("ERROR " + str(e)))
    elif words and words[0] == "click" and items:
        menu_of(items[-1]).Event(int(words[1]), "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                                 reply_handler=lambda: say("CLICKED"),
                                 error_handler=lambda e: say("ERROR " + str(e)))
    elif words and words[0] == "menuprop" and items:
        show(items[-1])
    return True


name = dbus.service.BusName("org.kde.StatusNotifierWatcher", bus)
watcher = Watcher(bus, "/StatusNotifierWatcher")
bus.add_signal_receiver(on_signal, dbus_interface="org.kde.StatusNotifierItem", member_keyword="member")
bus.add_signal_receiver(on_menu_signal, dbus_interface="com.canonical.dbusmenu", member_keyword="member")
bus.add_signal_receiver(on_owner, signal_name="NameOwnerChanged", dbus_interface="org.freedesktop.DBus")
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
say("READY")
loop.run()
