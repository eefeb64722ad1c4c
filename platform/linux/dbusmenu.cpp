// dbusmenu.cpp - the tray icon's menu: a menu model exported as com.canonical.dbusmenu
// at /MenuBar on the tray item's connection. Node ids are the model's numbers (from 1);
// id 0 is the root, whose children are the model's top-level nodes. A "clicked" event
// marks the node as a shown menu would (radio groups, toggles) and reports the choice.
// Depends on: libdbus-1, platform/lvplatform_tray.h, platform/lvplatform_menus.h.
// Limits: everything runs on the pumping thread (attaching goes there as a request).
#include "platform/lvplatform_menus.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_events.h"
#include "platform/lvplatform_tray.h"

#include <cstring>
#include <dbus/dbus.h>
#include <string>

namespace {

const char kMenuPath[] = "/MenuBar";
const char kMenuInterface[] = "com.canonical.dbusmenu";

struct lvTrayMenuState {
    lvMenuModel *model;
    lvTrayMenuChoice chosen;
    void *user;
    uint32_t revision;
};
lvTrayMenuState trayMenu;

void AppendVariantString(DBusMessageIter *it, const char *text)
{
    DBusMessageIter v;
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "s", &v);
    dbus_message_iter_append_basic(&v, DBUS_TYPE_STRING, &text);
    dbus_message_iter_close_container(it, &v);
}

void AppendVariantInt(DBusMessageIter *it, int32_t value)
{
    DBusMessageIter v;
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "i", &v);
    dbus_message_iter_append_basic(&v, DBUS_TYPE_INT32, &value);
    dbus_message_iter_close_container(it, &v);
}

void AppendVariantBool(DBusMessageIter *it, bool value)
{
    DBusMessageIter v;
    dbus_bool_t b = value;
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "b", &v);
    dbus_message_iter_append_basic(&v, DBUS_TYPE_BOOLEAN, &b);
    dbus_message_iter_close_container(it, &v);
}

// dbusmenu labels take "_" as the mnemonic mark: a literal one is doubled.
std::string MenuLabel(const char *label)
{
    std::string text;
    for (const char *p = label; *p; p++) {
        if (*p == '_') text += '_';
        text += *p;
    }
    return text;
}

// Whether a property is asked for: an empty list asks for all.
bool Wanted(const char *const *names, int count, const char *name)
{
    if (count == 0) return true;
    for (int i = 0; i < count; i++)
        if (!std::strcmp(names[i], name)) return true;
    return false;
}

// The a{sv} of one node (or of the root for null).
void AppendProperties(DBusMessageIter *it, const lvMenuNode *n, const char *const *names, int count)
{
    DBusMessageIter dict;
    dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "{sv}", &dict);
    auto entry = [&](const char *key, auto append) {
        if (!Wanted(names, count, key)) return;
        DBusMessageIter e;
        dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &e);
        dbus_message_iter_append_basic(&e, DBUS_TYPE_STRING, &key);
        append(&e);
        dbus_message_iter_close_container(&dict, &e);
    };
    if (!n || n->firstChild >= 0) {
        entry("children-display", [](DBusMessageIter *e) { AppendVariantString(e, "submenu"); });
    }
    if (n && !n->label) {
        entry("type", [](DBusMessageIter *e) { AppendVariantString(e, "separator"); });
    } else if (n) {
        std::string label = MenuLabel(n->label);
        entry("label", [&](DBusMessageIter *e) { AppendVariantString(e, label.c_str()); });
        entry("enabled", [&](DBusMessageIter *e) { AppendVariantBool(e, !(n->flags & LV_MENU_DISABLED)); });
        if (n->firstChild < 0 && (n->flags & (LV_MENU_RADIO | LV_MENU_TOGGLE))) {
            const char *kind = (n->flags & LV_MENU_RADIO) ? "radio" : "checkmark";
            entry("toggle-type", [&](DBusMessageIter *e) { AppendVariantString(e, kind); });
            entry("toggle-state",
                  [&](DBusMessageIter *e) { AppendVariantInt(e, (n->flags & LV_MENU_SELECTED) ? 1 : 0); });
        }
        if (n->accelerator) {
            char key[8] = {0};
            uint32_t c = (uint32_t)n->accelerator;
            if (c < 0x80) {
                key[0] = (char)c;
            } else {
                // Code points beyond ASCII as UTF-8.
                int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
                for (int i = length - 1; i > 0; i--, c >>= 6) key[i] = (char)(0x80 | (c & 0x3F));
                key[0] = (char)((0xF00 >> length) | c);
            }
            entry("shortcut", [&](DBusMessageIter *e) {
                DBusMessageIter v, outer, inner;
                dbus_message_iter_open_container(e, DBUS_TYPE_VARIANT, "aas", &v);
                dbus_message_iter_open_container(&v, DBUS_TYPE_ARRAY, "as", &outer);
                dbus_message_iter_open_container(&outer, DBUS_TYPE_ARRAY, "s", &inner);
                const char *control = "Control", *k = key;
                dbus_message_iter_append_basic(&inner, DBUS_TYPE_STRING, &control);
                dbus_message_iter_append_basic(&inner, DBUS_TYPE_STRING, &k);
                dbus_message_iter_close_container(&outer, &inner);
                dbus_message_iter_close_container(&v, &outer);
                dbus_message_iter_close_container(e, &v);
            });
        }
    }
    dbus_message_iter_close_container(it, &dict);
}

// The first child of a node id (0: the top level), -1 for none or an unknown id.
int FirstChildOf(const lvMenuModel *m, int id)
{
    if (!m) return -1;
    if (id == 0) return m->first;
    const lvMenuNode *n = FindMenuNode(const_cast<lvMenuModel *>(m), id);
    return n ? n->firstChild : -1;
}

// (ia{sv}av): the node, its properties, and its children to depth (-1: all).
void AppendLayout(DBusMessageIter *it, const lvMenuModel *m, int id, int depth, const char *const *names, int count)
{
    DBusMessageIter s, children;
    dbus_message_iter_open_container(it, DBUS_TYPE_STRUCT, nullptr, &s);
    int32_t wire = id;
    dbus_message_iter_append_basic(&s, DBUS_TYPE_INT32, &wire);
    const lvMenuNode *n = id ? FindMenuNode(const_cast<lvMenuModel *>(m), id) : nullptr;
    AppendProperties(&s, n, names, count);
    dbus_message_iter_open_container(&s, DBUS_TYPE_ARRAY, "v", &children);
    if (depth != 0) {
        for (int c = FirstChildOf(m, id); c >= 0; c = m->nodes[c].next) {
            DBusMessageIter v;
            dbus_message_iter_open_container(&children, DBUS_TYPE_VARIANT, "(ia{sv}av)", &v);
            AppendLayout(&v, m, m->nodes[c].number, depth < 0 ? -1 : depth - 1, names, count);
            dbus_message_iter_close_container(&children, &v);
        }
    }
    dbus_message_iter_close_container(&s, &children);
    dbus_message_iter_close_container(it, &s);
}

// Reads an "as" argument into a bounded list of borrowed texts.
int ReadNames(DBusMessageIter *it, const char **names, int max)
{
    int count = 0;
    if (dbus_message_iter_get_arg_type(it) != DBUS_TYPE_ARRAY) return 0;
    DBusMessageIter a;
    dbus_message_iter_recurse(it, &a);
    while (dbus_message_iter_get_arg_type(&a) == DBUS_TYPE_STRING && count < max) {
        dbus_message_iter_get_basic(&a, &names[count++]);
        dbus_message_iter_next(&a);
    }
    return count;
}

void Send(DBusConnection *bus, DBusMessage *reply)
{
    if (!reply) return;
    dbus_connection_send(bus, reply, nullptr);
    dbus_message_unref(reply);
}

void SignalLayoutUpdated(void)
{
    DBusConnection *bus = (DBusConnection *)TrayBusConnection();
    if (!bus) return;
    DBusMessage *signal = dbus_message_new_signal(kMenuPath, kMenuInterface, "LayoutUpdated");
    if (!signal) return;
    uint32_t revision = trayMenu.revision;
    int32_t parent = 0;
    dbus_message_append_args(signal, DBUS_TYPE_UINT32, &revision, DBUS_TYPE_INT32, &parent, DBUS_TYPE_INVALID);
    Send(bus, signal);
}

// A click on a node: marked as a shown menu marks it, then reported.
void Clicked(int id)
{
    int selected = ChooseMenuNode(trayMenu.model, id);
    if (selected < 0) return;
    trayMenu.revision++;
    SignalLayoutUpdated();
    const lvMenuNode *n = FindMenuNode(trayMenu.model, id);
    if (trayMenu.chosen) trayMenu.chosen(trayMenu.user, id, n->idText, selected);
}

int HandleMenuCall(void *connection, void *message, void *)
{
    DBusConnection *bus = (DBusConnection *)connection;
    DBusMessage *m = (DBusMessage *)message;
    const lvMenuModel *model = trayMenu.model;
    const char *member = dbus_message_get_member(m);
    const char *iface = dbus_message_get_interface(m);
    if (!member) return 0;
    DBusMessageIter args;
    dbus_message_iter_init(m, &args);
    if (iface && !std::strcmp(iface, DBUS_INTERFACE_INTROSPECTABLE)) {
        static const char kXml[] =
            "<node><interface name=\"com.canonical.dbusmenu\">"
            "<method name=\"GetLayout\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
            "<arg type=\"as\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/>"
            "<arg type=\"(ia{sv}av)\" direction=\"out\"/></method>"
            "<method name=\"GetGroupProperties\"><arg type=\"ai\" direction=\"in\"/>"
            "<arg type=\"as\" direction=\"in\"/><arg type=\"a(ia{sv})\" direction=\"out\"/></method>"
            "<method name=\"Event\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"v\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/></method>"
            "<method name=\"EventGroup\"><arg type=\"a(isvu)\" direction=\"in\"/>"
            "<arg type=\"ai\" direction=\"out\"/></method>"
            "<method name=\"AboutToShow\"><arg type=\"i\" direction=\"in\"/>"
            "<arg type=\"b\" direction=\"out\"/></method>"
            "<method name=\"AboutToShowGroup\"><arg type=\"ai\" direction=\"in\"/>"
            "<arg type=\"ai\" direction=\"out\"/><arg type=\"ai\" direction=\"out\"/></method>"
            "<signal name=\"LayoutUpdated\"><arg type=\"u\"/><arg type=\"i\"/></signal>"
            "<property name=\"Version\" type=\"u\" access=\"read\"/>"
            "<property name=\"TextDirection\" type=\"s\" access=\"read\"/>"
            "<property name=\"Status\" type=\"s\" access=\"read\"/>"
            "</interface></node>";
        const char *xml = kXml;
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (reply) dbus_message_append_args(reply, DBUS_TYPE_STRING, &xml, DBUS_TYPE_INVALID);
        Send(bus, reply);
        return 1;
    }
    if (iface && !std::strcmp(iface, DBUS_INTERFACE_PROPERTIES)) {
        // Get and GetAll of the menu's own properties.
        const char *asked = nullptr, *name = nullptr;
        dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &asked, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (!reply) return 1;
        DBusMessageIter it, dict;
        dbus_message_iter_init_append(reply, &it);
        auto value = [&](DBusMessageIter *at, const char *key) {
            if (!std::strcmp(key, "Version")) {
                DBusMessageIter v;
                uint32_t version = 3;
                dbus_message_iter_open_container(at, DBUS_TYPE_VARIANT, "u", &v);
                dbus_message_iter_append_basic(&v, DBUS_TYPE_UINT32, &version);
                dbus_message_iter_close_container(at, &v);
            } else if (!std::strcmp(key, "TextDirection")) {
                AppendVariantString(at, "ltr");
            } else {
                AppendVariantString(at, "normal");
            }
        };
        if (!std::strcmp(member, "Get") && name) {
            value(&it, name);
        } else {
            dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
            for (const char *key : {"Version", "TextDirection", "Status"}) {
                DBusMessageIter e;
                dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &e);
                dbus_message_iter_append_basic(&e, DBUS_TYPE_STRING, &key);
                value(&e, key);
                dbus_message_iter_close_container(&dict, &e);
            }
            dbus_message_iter_close_container(&it, &dict);
        }
        Send(bus, reply);
        return 1;
    }
    if (iface && std::strcmp(iface, kMenuInterface)) return 0;
    const char *names[32];
    if (!std::strcmp(member, "GetLayout")) {
        int32_t parent = 0, depth = -1;
        if (dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_INT32) dbus_message_iter_get_basic(&args, &parent);
        dbus_message_iter_next(&args);
        if (dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_INT32) dbus_message_iter_get_basic(&args, &depth);
        dbus_message_iter_next(&args);
        int count = ReadNames(&args, names, 32);
        if (parent != 0 && !FindMenuNode(const_cast<lvMenuModel *>(model), parent)) {
            Send(bus, dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "Unknown menu item"));
            return 1;
        }
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (!reply) return 1;
        DBusMessageIter it;
        dbus_message_iter_init_append(reply, &it);
        uint32_t revision = trayMenu.revision;
        dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &revision);
        AppendLayout(&it, model, parent, depth, names, count);
        Send(bus, reply);
        return 1;
    }
    if (!std::strcmp(member, "GetGroupProperties")) {
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (!reply) return 1;
        DBusMessageIter ids, it, list;
        std::basic_string<int32_t> asked;
        if (dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_ARRAY) {
            dbus_message_iter_recurse(&args, &ids);
            while (dbus_message_iter_get_arg_type(&ids) == DBUS_TYPE_INT32) {
                int32_t id = 0;
                dbus_message_iter_get_basic(&ids, &id);
                asked.push_back(id);
                dbus_message_iter_next(&ids);
            }
        }
        dbus_message_iter_next(&args);
        int count = ReadNames(&args, names, 32);
        dbus_message_iter_init_append(reply, &it);
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "(ia{sv})", &list);
        for (int32_t id : asked) {
            const lvMenuNode *n = id ? FindMenuNode(const_cast<lvMenuModel *>(model), id) : nullptr;
            if (id && !n) continue;
            DBusMessageIter s;
            dbus_message_iter_open_container(&list, DBUS_TYPE_STRUCT, nullptr, &s);
            dbus_message_iter_append_basic(&s, DBUS_TYPE_INT32, &id);
            AppendProperties(&s, n, names, count);
            dbus_message_iter_close_container(&list, &s);
        }
        dbus_message_iter_close_container(&it, &list);
        Send(bus, reply);
        return 1;
    }
    if (!std::strcmp(member, "Event") || !std::strcmp(member, "EventGroup")) {
        // Event(i id, s event, v data, u time); EventGroup(a(isvu)) answers the unknown ids.
        bool group = !std::strcmp(member, "EventGroup");
        std::basic_string<int32_t> unknown;
        auto one = [&](DBusMessageIter *at) {
            int32_t id = 0;
            const char *event = "";
            if (dbus_message_iter_get_arg_type(at) == DBUS_TYPE_INT32) dbus_message_iter_get_basic(at, &id);
            dbus_message_iter_next(at);
            if (dbus_message_iter_get_arg_type(at) == DBUS_TYPE_STRING) dbus_message_iter_get_basic(at, &event);
            if (!FindMenuNode(const_cast<lvMenuModel *>(model), id)) unknown.push_back(id);
            else if (!std::strcmp(event, "clicked")) Clicked(id);
        };
        if (group) {
            DBusMessageIter a, s;
            if (dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_ARRAY) {
                dbus_message_iter_recurse(&args, &a);
                while (dbus_message_iter_get_arg_type(&a) == DBUS_TYPE_STRUCT) {
                    dbus_message_iter_recurse(&a, &s);
                    one(&s);
                    dbus_message_iter_next(&a);
                }
            }
        } else {
            one(&args);
        }
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (!reply) return 1;
        if (group) {
            DBusMessageIter it, list;
            dbus_message_iter_init_append(reply, &it);
            dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "i", &list);
            for (int32_t id : unknown) dbus_message_iter_append_basic(&list, DBUS_TYPE_INT32, &id);
            dbus_message_iter_close_container(&it, &list);
        }
        Send(bus, reply);
        return 1;
    }
    if (!std::strcmp(member, "AboutToShow")) {
        // The layout never changes on its own before it is shown.
        dbus_bool_t update = FALSE;
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (reply) dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &update, DBUS_TYPE_INVALID);
        Send(bus, reply);
        return 1;
    }
    if (!std::strcmp(member, "AboutToShowGroup")) {
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (!reply) return 1;
        DBusMessageIter it, a, b;
        dbus_message_iter_init_append(reply, &it);
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "i", &a);
        dbus_message_iter_close_container(&it, &a);
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "i", &b);
        dbus_message_iter_close_container(&it, &b);
        Send(bus, reply);
        return 1;
    }
    return 0;
}

int32_t ServeAttach(const uintptr_t argument[4])
{
    FreeMenuModel(trayMenu.model);
    trayMenu.model = (lvMenuModel *)argument[0];
    trayMenu.chosen = (lvTrayMenuChoice)argument[1];
    trayMenu.user = (void *)argument[2];
    trayMenu.revision++;
    if (!trayMenu.model) return SetTrayMenu(nullptr);
    lvTrayMenu menu = {kMenuPath, HandleMenuCall, nullptr};
    int err = SetTrayMenu(&menu);
    SignalLayoutUpdated();
    return err;
}

}  // namespace

int AttachTrayMenuModel(lvMenuModel *model, lvTrayMenuChoice chosen, void *user)
{
    SetMainThreadRequestHandler(LV_REQUEST_TRAYMENU, ServeAttach);
    return CallOnMainThread(LV_REQUEST_TRAYMENU, (uintptr_t)model, (uintptr_t)chosen, (uintptr_t)user, 0);
}
