// desktop.cpp - the desktop's bell and notifications: PlaySystemBeep through libcanberra
// (the sound theme's event sounds, the terminal bell when no sound can be played) and
// ShowTrayNotification through libnotify (the freedesktop notification service on the
// session bus).
//
// Both libraries are opened with dlopen on first use, so the layer, and every program
// built on it, links neither them nor GLib: a system without them (or without a session
// bus) answers with the terminal bell and an error code instead.
//
// Depends on: platform/lvplatform.h, base/lverrors.h; libcanberra.so.0 and
// libnotify.so.4 at run time when present.
#include "platform/lvplatform.h"
#include "base/lverrors.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

// ---- libcanberra ---------------------------------------------------------------------------

struct lvCanberra {
    void *library = nullptr;
    void *context = nullptr;  // ca_context, kept for the run (the sound plays after the call)
    int (*ContextCreate)(void **context) = nullptr;
    int (*ContextPlay)(void *context, uint32_t id, ...) = nullptr;
};

// The event sounds of the freedesktop sound theme for the beep types.
const char *BeepEventName(int type)
{
    switch (type) {
    case 1: return "dialog-error";
    case 2: return "dialog-warning";
    case 3: return "dialog-question";
    case 4: return "dialog-information";
    default: return "bell";
    }
}

lvCanberra *Canberra()
{
    static lvCanberra canberra;
    static std::once_flag once;
    std::call_once(once, [] {
        canberra.library = dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!canberra.library) return;
        canberra.ContextCreate = (int (*)(void **))dlsym(canberra.library, "ca_context_create");
        canberra.ContextPlay = (int (*)(void *, uint32_t, ...))dlsym(canberra.library, "ca_context_play");
        if (!canberra.ContextCreate || !canberra.ContextPlay || canberra.ContextCreate(&canberra.context) != 0)
            canberra.context = nullptr;
    });
    return &canberra;
}

// The terminal's bell, when there is a terminal.
void TerminalBell()
{
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (!isatty(fd)) continue;
        ssize_t written = write(fd, "\a", 1);
        (void)written;
        return;
    }
}

// ---- libnotify ------------------------------------------------------------------------------

struct lvGError {
    uint32_t domain;
    int code;
    char *message;
};

struct lvNotify {
    void *library = nullptr;
    int ready = 0;  // notify_init succeeded
    int (*Init)(const char *appName) = nullptr;
    void *(*New)(const char *summary, const char *body, const char *icon) = nullptr;
    void (*SetTimeout)(void *notification, int timeout) = nullptr;
    int (*Show)(void *notification, lvGError **error) = nullptr;
    void (*Unref)(void *object) = nullptr;
    void (*FreeError)(lvGError *error) = nullptr;
};

lvNotify *Notify()
{
    static lvNotify notify;
    static std::once_flag once;
    std::call_once(once, [] {
        notify.library = dlopen("libnotify.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!notify.library) return;
        notify.Init = (int (*)(const char *))dlsym(notify.library, "notify_init");
        notify.New = (void *(*)(const char *, const char *, const char *))dlsym(notify.library, "notify_notification_new");
        notify.SetTimeout = (void (*)(void *, int))dlsym(notify.library, "notify_notification_set_timeout");
        notify.Show = (int (*)(void *, lvGError **))dlsym(notify.library, "notify_notification_show");
        // libnotify links GObject and GLib: their symbols are found through it.
        notify.Unref = (void (*)(void *))dlsym(notify.library, "g_object_unref");
        notify.FreeError = (void (*)(lvGError *))dlsym(notify.library, "g_error_free");
        if (notify.Init && notify.New && notify.SetTimeout && notify.Show && notify.Unref && notify.FreeError)
            notify.ready = notify.Init("Lumivarra");
    });
    return &notify;
}

// The freedesktop icon names for the notification icon types.
const char *NotificationIconName(int icon)
{
    switch (icon) {
    case 1: return "dialog-information";
    case 2: return "dialog-error";
    case 3: return "dialog-warning";
    default: return nullptr;
    }
}

// At most count characters of UTF-8 text (whole characters).
std::string FirstCharacters(const char *text, size_t count)
{
    std::string out;
    size_t characters = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if ((*p & 0xC0) != 0x80 && characters++ == count) break;
        out += char(*p);
    }
    return out;
}

}  // namespace

void PlaySystemBeep(int type)
{
    lvCanberra *canberra = Canberra();
    // ca_context_play takes a property list ended by a null name.
    if (canberra->context && canberra->ContextPlay(canberra->context, 0, "event.id", BeepEventName(type),
                                                   "event.description", "Lumivarra beep", (const char *)nullptr) == 0)
        return;
    TerminalBell();
}

int ShowDesktopNotification(const char *title, const char *text, int icon, int timeout)
{
    lvNotify *notify = Notify();
    if (!notify->ready) return ERR_TRAYICON;
    std::string summary = FirstCharacters(title ? title : "", 63);
    std::string body = FirstCharacters(text ? text : "", 255);
    void *notification = notify->New(summary.c_str(), body.c_str(), NotificationIconName(icon));
    if (!notification) return ERR_TRAYICON;
    notify->SetTimeout(notification, timeout > 0 ? timeout : -1);
    lvGError *error = nullptr;
    int shown = notify->Show(notification, &error);
    if (error) notify->FreeError(error);
    notify->Unref(notification);
    return shown ? 0 : ERR_TRAYICON;
}
