// tray_sni.cpp - the tray icon as a StatusNotifierItem on the session bus.
//
// Everything here runs on the pumping thread: ShowTrayIcon forwards itself as request 5,
// and the connection is read by the main loop's bus slot. The item is registered with the
// org.kde.StatusNotifierWatcher once; when the watcher leaves and another takes its name,
// the item registers again with the newcomer. Removal closes the connection, which drops
// the item's name, and that is what tells the watcher the item is gone.
#include "platform/lvplatform_tray.h"
#include "base/lverrors.h"
#include "platform/linux/dbus_session.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_events.h"
#include <atomic>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char *const kItemPath = "/StatusNotifierItem";
const char *const kItemInterface = "org.kde.StatusNotifierItem";
const char *const kWatcherName = "org.kde.StatusNotifierWatcher";
const char *const kWatcherPath = "/StatusNotifierWatcher";
const char *const kNoMenuPath = "/NO_DBUSMENU";
const int kCallTimeoutMs = 2000;
const int kMaxTooltipChars = 127;
const int kMaxIconSide = 1024;

struct lvTrayState {
    DBusConnection *bus;       // the item's private connection, nullptr while not shown
    char busName[80];          // the well-known name the item owns
    uint32_t *pixels;          // the icon (AllocMemory), width * height ARGB words
    int width, height;
    char tooltip[kMaxTooltipChars * 4 + 1];  // UTF-8, at most 127 characters
    lvTrayHooks hooks;
    lvTrayMenu menu;           // objectPath points at menuPath, or is nullptr
    char menuPath[256];
    int filterAdded;
};

lvTrayState tray = {};
std::atomic<int> trayShown{0};

// Copies at most kMaxTooltipChars UTF-8 characters, never splitting one.
void CopyTooltip(char *out, const char *text)
{
    size_t used = 0;
    int chars = 0;
    if (text) {
        while (text[used] && chars < kMaxTooltipChars) {
            size_t len = 1;
            unsigned char c = (unsigned char)text[used];
            if (c >= 0xF0) len = 4;
            else if (c >= 0xE0) len = 3;
            else if (c >= 0xC0) len = 2;
            size_t have = 0;
            while (have < len && text[used + have]) have++;
            if (have < len) break;
            used += len;
            chars++;
        }
        std::memcpy(out, text, used);
    }
    out[used] = 0;
    // libdbus refuses strings that are not valid UTF-8; such a tooltip is shown empty.
    if (!dbus_validate_utf8(out, nullptr)) out[0] = 0;
}

// ---- Property values ---------------------------------------------------------------

// a(iiay): the icon as one pixmap, ARGB in network byte order.
void AppendPixmaps(DBusMessageIter *it, int withPicture)
{
    DBusMessageIter array, entry, bytes;
    dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "(iiay)", &array);
    if (withPicture && tray.pixels) {
        dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &entry);
        dbus_int32_t w = tray.width, h = tray.height;
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_INT32, &w);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_INT32, &h);
        size_t count = (size_t)tray.width * (size_t)tray.height;
        unsigned char *data = (unsigned char *)AllocMemory(count * 4, 0);
        if (data) {
            for (size_t i = 0; i < count; i++) {
                uint32_t p = tray.pixels[i];
                data[i * 4] = (unsigned char)(p >> 24);
                data[i * 4 + 1] = (unsigned char)(p >> 16);
                data[i * 4 + 2] = (unsigned char)(p >> 8);
                data[i * 4 + 3] = (unsigned char)p;
            }
        }
        dbus_message_iter_open_container(&entry, DBUS_TYPE_ARRAY, "y", &bytes);
        const unsigned char *block = data;
        dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &block, data ? (int)(count * 4) : 0);
        dbus_message_iter_close_container(&entry, &bytes);
        FreeMemory(data);
        dbus_message_iter_close_container(&array, &entry);
    }
    dbus_message_iter_close_container(it, &array);
}

void AppendString(DBusMessageIter *it, const char *text)
{
    dbus_message_iter_append_basic(it, DBUS_TYPE_STRING, &text);
}

// Appends the variant of a property; 0 for a name the item does not have.
int AppendProperty(DBusMessageIter *it, const char *name)
{
    DBusMessageIter v, s;
    const char *text = nullptr;
    char id[32];
    if (!std::strcmp(name, "Category")) text = "ApplicationStatus";
    else if (!std::strcmp(name, "Status")) text = "Active";
    else if (!std::strcmp(name, "Title")) text = "Lumivarra";
    else if (!std::strcmp(name, "Id")) {
        snprintf(id, sizeof id, "lumivarra-%d", (int)getpid());
        text = id;
    } else if (!std::strcmp(name, "IconName")) text = "";
    if (text) {
        dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "s", &v);
        AppendString(&v, text);
        dbus_message_iter_close_container(it, &v);
        return 1;
    }
    if (!std::strcmp(name, "IconPixmap")) {
        dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "a(iiay)", &v);
        AppendPixmaps(&v, 1);
        dbus_message_iter_close_container(it, &v);
        return 1;
    }
    if (!std::strcmp(name, "ToolTip")) {
        dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "(sa(iiay)ss)", &v);
        dbus_message_iter_open_container(&v, DBUS_TYPE_STRUCT, nullptr, &s);
        AppendString(&s, "");
        AppendPixmaps(&s, 0);
        AppendString(&s, tray.tooltip);
        AppendString(&s, "");
        dbus_message_iter_close_container(&v, &s);
        dbus_message_iter_close_container(it, &v);
        return 1;
    }
    if (!std::strcmp(name, "ItemIsMenu")) {
        dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "b", &v);
        dbus_bool_t no = FALSE;
        dbus_message_iter_append_basic(&v, DBUS_TYPE_BOOLEAN, &no);
        dbus_message_iter_close_container(it, &v);
        return 1;
    }
    if (!std::strcmp(name, "Menu")) {
        dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "o", &v);
        const char *path = tray.menu.objectPath ? tray.menu.objectPath : kNoMenuPath;
        dbus_message_iter_append_basic(&v, DBUS_TYPE_OBJECT_PATH, &path);
        dbus_message_iter_close_container(it, &v);
        return 1;
    }
    return 0;
}

const char *const kPropertyNames[] = {"Category", "Id", "Title", "Status", "IconName", "IconPixmap",
                                      "ToolTip", "ItemIsMenu", "Menu"};

const char *const kIntrospection =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
    "<node>\n"
    " <interface name=\"org.kde.StatusNotifierItem\">\n"
    "  <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
    "  <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
    "  <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
    "  <method name=\"Activate\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
    "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
    "  <method name=\"SecondaryActivate\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
    "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
    "  <method name=\"ContextMenu\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
    "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>\n"
    "  <method name=\"Scroll\"><arg name=\"delta\" type=\"i\" direction=\"in\"/>"
    "<arg name=\"orientation\" type=\"s\" direction=\"in\"/></method>\n"
    "  <signal name=\"NewIcon\"/>\n"
    "  <signal name=\"NewToolTip\"/>\n"
    "  <signal name=\"NewStatus\"><arg name=\"status\" type=\"s\"/></signal>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"a{sv}\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    "</node>\n";

// ---- Incoming messages -------------------------------------------------------------

void SendAndRelease(DBusMessage *message)
{
    if (!message) return;
    dbus_connection_send(tray.bus, message, nullptr);
    dbus_message_unref(message);
}

void ReplyError(DBusMessage *call, const char *name, const char *text)
{
    SendAndRelease(dbus_message_new_error(call, name, text));
}

void RegisterWithWatcher(void);

DBusHandlerResult HandleItemCall(DBusMessage *m)
{
    const char *iface = dbus_message_get_interface(m);
    const char *member = dbus_message_get_member(m);
    if (!member) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    if (iface && !std::strcmp(iface, "org.freedesktop.DBus.Properties")) {
        const char *wanted = nullptr, *name = nullptr;
        if (!std::strcmp(member, "Get") &&
            dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &wanted, DBUS_TYPE_STRING, &name,
                                  DBUS_TYPE_INVALID)) {
            DBusMessage *reply = dbus_message_new_method_return(m);
            if (!reply) return DBUS_HANDLER_RESULT_NEED_MEMORY;
            DBusMessageIter it;
            dbus_message_iter_init_append(reply, &it);
            if (std::strcmp(wanted, kItemInterface) != 0 || !AppendProperty(&it, name)) {
                dbus_message_unref(reply);
                ReplyError(m, DBUS_ERROR_UNKNOWN_PROPERTY, "No such property");
            } else {
                SendAndRelease(reply);
            }
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        if (!std::strcmp(member, "GetAll") &&
            dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &wanted, DBUS_TYPE_INVALID)) {
            DBusMessage *reply = dbus_message_new_method_return(m);
            if (!reply) return DBUS_HANDLER_RESULT_NEED_MEMORY;
            DBusMessageIter it, dict, entry;
            dbus_message_iter_init_append(reply, &it);
            dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
            if (!std::strcmp(wanted, kItemInterface)) {
                for (const char *name : kPropertyNames) {
                    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
                    AppendString(&entry, name);
                    AppendProperty(&entry, name);
                    dbus_message_iter_close_container(&dict, &entry);
                }
            }
            dbus_message_iter_close_container(&it, &dict);
            SendAndRelease(reply);
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        if (!std::strcmp(member, "Set")) {
            ReplyError(m, DBUS_ERROR_PROPERTY_READ_ONLY, "Properties are read-only");
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    if (iface && !std::strcmp(iface, "org.freedesktop.DBus.Introspectable") && !std::strcmp(member, "Introspect")) {
        DBusMessage *reply = dbus_message_new_method_return(m);
        if (!reply) return DBUS_HANDLER_RESULT_NEED_MEMORY;
        dbus_message_append_args(reply, DBUS_TYPE_STRING, &kIntrospection, DBUS_TYPE_INVALID);
        SendAndRelease(reply);
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (iface && std::strcmp(iface, kItemInterface) != 0) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    dbus_int32_t x = 0, y = 0;
    int isClick = !std::strcmp(member, "Activate") || !std::strcmp(member, "SecondaryActivate") ||
                  !std::strcmp(member, "ContextMenu");
    if (isClick) {
        if (!dbus_message_get_args(m, nullptr, DBUS_TYPE_INT32, &x, DBUS_TYPE_INT32, &y, DBUS_TYPE_INVALID)) {
            ReplyError(m, DBUS_ERROR_INVALID_ARGS, "Two integers expected");
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        // Reply first: a hook may take a while and the host waits for the answer.
        if (!dbus_message_get_no_reply(m)) SendAndRelease(dbus_message_new_method_return(m));
        dbus_connection_flush(tray.bus);
        if (member[0] == 'A') {
            if (tray.hooks.Activated) tray.hooks.Activated(x, y);
        } else if (member[0] == 'S') {
            if (tray.hooks.SecondaryActivated) tray.hooks.SecondaryActivated(x, y);
        } else if (!tray.menu.objectPath && tray.hooks.ContextMenuAsked) {
            tray.hooks.ContextMenuAsked(x, y);
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (!std::strcmp(member, "Scroll")) {
        if (!dbus_message_get_no_reply(m)) SendAndRelease(dbus_message_new_method_return(m));
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

DBusHandlerResult FilterMessage(DBusConnection *bus, DBusMessage *m, void *)
{
    if (bus != tray.bus) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    if (dbus_message_is_signal(m, "org.freedesktop.DBus", "NameOwnerChanged")) {
        const char *name = nullptr, *before = nullptr, *after = nullptr;
        if (dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &before,
                                  DBUS_TYPE_STRING, &after, DBUS_TYPE_INVALID) &&
            !std::strcmp(name, kWatcherName) && after && *after) {
            // A watcher that comes back (or a new one) does not know the item yet.
            RegisterWithWatcher();
        }
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    if (dbus_message_get_type(m) != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    const char *path = dbus_message_get_path(m);
    if (!path) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    if (!std::strcmp(path, kItemPath)) {
        DBusHandlerResult r = HandleItemCall(m);
        if (r == DBUS_HANDLER_RESULT_NOT_YET_HANDLED) {
            ReplyError(m, DBUS_ERROR_UNKNOWN_METHOD, "Unknown method");
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        return r;
    }
    if (tray.menu.objectPath && !std::strcmp(path, tray.menu.objectPath) && tray.menu.HandleMessage) {
        if (!tray.menu.HandleMessage(tray.bus, m, tray.menu.user))
            ReplyError(m, DBUS_ERROR_UNKNOWN_METHOD, "Unknown method");
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

// ---- The item on the bus ------------------------------------------------------------

DBusMessage *NewRegistration(void)
{
    DBusMessage *call = dbus_message_new_method_call(kWatcherName, kWatcherPath, kWatcherName,
                                                     "RegisterStatusNotifierItem");
    if (!call) return nullptr;
    const char *name = tray.busName;
    dbus_message_append_args(call, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    return call;
}

// A returning watcher: the registration is sent without waiting for its answer, since it
// arrives on the pumping thread's own connection.
void RegisterWithWatcher(void)
{
    DBusMessage *call = NewRegistration();
    if (!call) return;
    dbus_message_set_no_reply(call, TRUE);
    SendAndRelease(call);
    dbus_connection_flush(tray.bus);
}

// The first registration: 0 or ERR_ADDAPPICON (no watcher, or it refused).
int RegisterAndWait(void)
{
    if (!SessionNameHasOwner(tray.bus, kWatcherName)) return ERR_ADDAPPICON;
    DBusMessage *call = NewRegistration();
    if (!call) return ERR_MEM;
    DBusMessage *reply = CallSessionBus(tray.bus, call, kCallTimeoutMs);
    if (!reply) return ERR_ADDAPPICON;
    dbus_message_unref(reply);
    return 0;
}

void EmitSignal(const char *name)
{
    SendAndRelease(dbus_message_new_signal(kItemPath, kItemInterface, name));
}

void DropItem(void)
{
    if (tray.bus) {
        if (tray.filterAdded) dbus_connection_remove_filter(tray.bus, FilterMessage, nullptr);
        CloseSessionBus(tray.bus);
    }
    tray.bus = nullptr;
    tray.filterAdded = 0;
    FreeMemory(tray.pixels);
    tray.pixels = nullptr;
    tray.width = tray.height = 0;
    tray.tooltip[0] = 0;
    trayShown.store(0, std::memory_order_release);
}

// Puts the item on the bus; 0 or ERR_ADDAPPICON, with nothing left open on failure.
int PublishItem(void)
{
    tray.bus = OpenSessionBus();
    if (!tray.bus) return ERR_ADDAPPICON;
    snprintf(tray.busName, sizeof tray.busName, "org.kde.StatusNotifierItem-%d-1", (int)getpid());
    DBusError error;
    dbus_error_init(&error);
    int owned = dbus_bus_request_name(tray.bus, tray.busName, DBUS_NAME_FLAG_DO_NOT_QUEUE, &error);
    dbus_error_free(&error);
    if (owned != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) return ERR_ADDAPPICON;
    if (!dbus_connection_add_filter(tray.bus, FilterMessage, nullptr, nullptr)) return ERR_MEM;
    tray.filterAdded = 1;
    dbus_bus_add_match(tray.bus,
                       "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                       "member='NameOwnerChanged',arg0='org.kde.StatusNotifierWatcher'",
                       nullptr);
    return RegisterAndWait();
}

int32_t ServeTrayRequest(const uintptr_t argument[4])
{
    const uint32_t *pixels = (const uint32_t *)argument[0];
    int width = (int)(intptr_t)argument[1], height = (int)(intptr_t)argument[2];
    const char *tooltip = (const char *)argument[3];
    if (!pixels) {
        if (!tray.bus) return ERR_WRONGUSAGE;
        DropItem();
        return 0;
    }
    if (width < 1 || height < 1 || width > kMaxIconSide || height > kMaxIconSide) return ERR_WRONGUSAGE;
    size_t bytes = (size_t)width * (size_t)height * 4;
    uint32_t *copy = (uint32_t *)AllocMemory(bytes, 0);
    if (!copy) return ERR_MEM;
    std::memcpy(copy, pixels, bytes);
    FreeMemory(tray.pixels);
    tray.pixels = copy;
    tray.width = width;
    tray.height = height;
    CopyTooltip(tray.tooltip, tooltip);
    if (tray.bus) {
        EmitSignal("NewIcon");
        EmitSignal("NewToolTip");
        dbus_connection_flush(tray.bus);
        return 0;
    }
    int code = PublishItem();
    if (code) {
        DropItem();
        return code;
    }
    trayShown.store(1, std::memory_order_release);
    dbus_connection_flush(tray.bus);
    // Calls that came in while the registration was awaited are already read.
    DispatchTrayBus();
    return 0;
}

}  // namespace

int ShowTrayIcon(const uint32_t *pixels, int width, int height, const char *tooltip)
{
    SetMainThreadRequestHandler(LV_REQUEST_TRAY, ServeTrayRequest);
    return CallOnMainThread(LV_REQUEST_TRAY, (uintptr_t)pixels, (uintptr_t)(intptr_t)width,
                            (uintptr_t)(intptr_t)height, (uintptr_t)tooltip);
}

int TrayIconShown(void)
{
    return trayShown.load(std::memory_order_acquire);
}

void SetTrayHooks(const lvTrayHooks *hooks)
{
    tray.hooks = hooks ? *hooks : lvTrayHooks{};
}

int SetTrayMenu(const lvTrayMenu *menu)
{
    if (!menu || !menu->objectPath) {
        tray.menu = lvTrayMenu{};
        tray.menuPath[0] = 0;
        return 0;
    }
    if (std::strlen(menu->objectPath) >= sizeof tray.menuPath || !dbus_validate_path(menu->objectPath, nullptr) ||
        !std::strcmp(menu->objectPath, kItemPath))
        return ERR_WRONGUSAGE;
    std::strcpy(tray.menuPath, menu->objectPath);
    tray.menu = *menu;
    tray.menu.objectPath = tray.menuPath;
    return 0;
}

void *TrayBusConnection(void)
{
    return tray.bus;
}

int TrayBusDescriptor(void)
{
    int fd = -1;
    if (tray.bus && !dbus_connection_get_unix_fd(tray.bus, &fd)) fd = -1;
    return fd;
}

void DispatchTrayBus(void)
{
    if (!tray.bus) return;
    dbus_connection_read_write(tray.bus, 0);
    while (tray.bus && dbus_connection_dispatch(tray.bus) == DBUS_DISPATCH_DATA_REMAINS) {
    }
    if (tray.bus && !dbus_connection_get_is_connected(tray.bus)) DropItem();
}

void CloseTrayIcon(void)
{
    DropItem();
}
