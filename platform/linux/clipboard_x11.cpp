// clipboard_x11.cpp - the X server's CLIPBOARD selection for what SDL's text clipboard
// cannot carry: bytes under one target (pictures as "image/png") offered by a private
// connection, fetched through short-lived connections, owner changes watched with XFixes.
// libX11 and libXfixes are opened with dlopen on first use, like the window layer's
// libX11, so a run without an X server never loads them.
// Depends on: libX11, libXfixes (run time), platform/lvplatform_clipboard.h.
// Limits: any thread. One selection thread serves requests and watches owners; it sees
// the stop flag within a tenth of a second. Offers larger than one X request are refused
// to their requestors (no INCR transfers outward); fetching takes INCR transfers.
#include "platform/lvplatform_clipboard.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// The Xlib and XFixes entries used here, looked up once.
struct lvXlibTable {
    void *x11, *xfixes;
    Display *(*OpenDisplay)(const char *);
    int (*CloseDisplay)(Display *);
    Window (*RootWindowOf)(Display *);
    Window (*CreateSimpleWindow)(Display *, Window, int, int, unsigned, unsigned, unsigned, unsigned long,
                                 unsigned long);
    int (*DestroyWindow)(Display *, Window);
    Atom (*InternAtom)(Display *, const char *, Bool);
    char *(*GetAtomName)(Display *, Atom);
    int (*SetSelectionOwner)(Display *, Atom, Window, Time);
    Window (*GetSelectionOwner)(Display *, Atom);
    int (*ConvertSelection)(Display *, Atom, Atom, Atom, Window, Time);
    int (*GetWindowProperty)(Display *, Window, Atom, long, long, Bool, Atom, Atom *, int *, unsigned long *,
                             unsigned long *, unsigned char **);
    int (*ChangeProperty)(Display *, Window, Atom, Atom, int, int, const unsigned char *, int);
    int (*DeleteProperty)(Display *, Window, Atom);
    Status (*SendEvent)(Display *, Window, Bool, long, XEvent *);
    int (*NextEvent)(Display *, XEvent *);
    int (*Pending)(Display *);
    int (*Flush)(Display *);
    int (*Sync)(Display *, Bool);
    int (*ConnectionFd)(Display *);
    int (*Free)(void *);
    int (*SelectInput)(Display *, Window, long);
    long (*ExtendedMaxRequestSize)(Display *);
    long (*MaxRequestSize)(Display *);
    XErrorHandler (*SetErrorHandler)(XErrorHandler);
    Bool (*FixesQueryExtension)(Display *, int *, int *);
    void (*FixesSelectSelectionInput)(Display *, Window, Atom, unsigned long);
};

lvXlibTable xlib;
std::mutex xlibLock;
int xlibState = 0;  // 0 not tried, 1 loaded, -1 missing

template <class T> bool Find(void *library, const char *name, T *slot)
{
    *slot = library ? (T)dlsym(library, name) : nullptr;
    return *slot != nullptr;
}

// Errors on our own connections (a requestor window gone mid-answer) are expected and
// dropped; other connections keep the handler that was there before.
std::mutex ownDisplaysLock;
std::vector<Display *> ownDisplays;
XErrorHandler previousHandler = nullptr;

int IgnoreOwnErrors(Display *display, XErrorEvent *event)
{
    {
        std::lock_guard<std::mutex> hold(ownDisplaysLock);
        for (Display *d : ownDisplays)
            if (d == display) return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

bool LoadXlib(void)
{
    std::lock_guard<std::mutex> hold(xlibLock);
    if (xlibState) return xlibState > 0;
    xlibState = -1;
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    xlib.x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    if (!xlib.x11) return false;
    void *x = xlib.x11;
    bool ok = Find(x, "XOpenDisplay", &xlib.OpenDisplay) && Find(x, "XCloseDisplay", &xlib.CloseDisplay) &&
              Find(x, "XDefaultRootWindow", &xlib.RootWindowOf) &&
              Find(x, "XCreateSimpleWindow", &xlib.CreateSimpleWindow) &&
              Find(x, "XDestroyWindow", &xlib.DestroyWindow) && Find(x, "XInternAtom", &xlib.InternAtom) &&
              Find(x, "XGetAtomName", &xlib.GetAtomName) && Find(x, "XSetSelectionOwner", &xlib.SetSelectionOwner) &&
              Find(x, "XGetSelectionOwner", &xlib.GetSelectionOwner) &&
              Find(x, "XConvertSelection", &xlib.ConvertSelection) &&
              Find(x, "XGetWindowProperty", &xlib.GetWindowProperty) &&
              Find(x, "XChangeProperty", &xlib.ChangeProperty) && Find(x, "XDeleteProperty", &xlib.DeleteProperty) &&
              Find(x, "XSendEvent", &xlib.SendEvent) && Find(x, "XNextEvent", &xlib.NextEvent) &&
              Find(x, "XPending", &xlib.Pending) && Find(x, "XFlush", &xlib.Flush) && Find(x, "XSync", &xlib.Sync) &&
              Find(x, "XConnectionNumber", &xlib.ConnectionFd) && Find(x, "XFree", &xlib.Free) &&
              Find(x, "XSelectInput", &xlib.SelectInput) &&
              Find(x, "XExtendedMaxRequestSize", &xlib.ExtendedMaxRequestSize) &&
              Find(x, "XMaxRequestSize", &xlib.MaxRequestSize) && Find(x, "XSetErrorHandler", &xlib.SetErrorHandler);
    if (!ok) return false;
    // Owner notices are optional: without XFixes only the offers work.
    xlib.xfixes = dlopen("libXfixes.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!Find(xlib.xfixes, "XFixesQueryExtension", &xlib.FixesQueryExtension) ||
        !Find(xlib.xfixes, "XFixesSelectSelectionInput", &xlib.FixesSelectSelectionInput)) {
        xlib.FixesQueryExtension = nullptr;
        xlib.FixesSelectSelectionInput = nullptr;
    }
    if (auto init = (Status(*)(void))dlsym(x, "XInitThreads")) init();
    previousHandler = xlib.SetErrorHandler(IgnoreOwnErrors);
    xlibState = 1;
    return true;
}

// A connection of ours, with a small unmapped window to receive selection traffic.
struct lvXConnection {
    Display *display = nullptr;
    Window window = 0;
    Atom clipboard = 0, targets = 0, incr = 0, property = 0, atomPair = 0;

    bool Open(long events)
    {
        display = xlib.OpenDisplay(nullptr);
        if (!display) return false;
        {
            std::lock_guard<std::mutex> hold(ownDisplaysLock);
            ownDisplays.push_back(display);
        }
        window = xlib.CreateSimpleWindow(display, xlib.RootWindowOf(display), 0, 0, 1, 1, 0, 0, 0);
        xlib.SelectInput(display, window, events);
        clipboard = xlib.InternAtom(display, "CLIPBOARD", False);
        targets = xlib.InternAtom(display, "TARGETS", False);
        incr = xlib.InternAtom(display, "INCR", False);
        property = xlib.InternAtom(display, "LUMIVARRA_SELECTION", False);
        return true;
    }
    void Close()
    {
        if (!display) return;
        xlib.DestroyWindow(display, window);
        xlib.Sync(display, False);
        xlib.CloseDisplay(display);
        std::lock_guard<std::mutex> hold(ownDisplaysLock);
        for (size_t i = 0; i < ownDisplays.size(); i++)
            if (ownDisplays[i] == display) ownDisplays.erase(ownDisplays.begin() + (long)i);
        display = nullptr;
    }
    ~lvXConnection() { Close(); }

    // The next event of the given type for our window, within the time left; false at
    // the limit. Other events are passed to other (may be null).
    template <class F> bool WaitFor(int type, std::chrono::steady_clock::time_point until, XEvent *out, F other)
    {
        for (;;) {
            while (xlib.Pending(display)) {
                xlib.NextEvent(display, out);
                if (out->type == type) return true;
                other(out);
            }
            auto now = std::chrono::steady_clock::now();
            if (now >= until) return false;
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
            struct pollfd p = {xlib.ConnectionFd(display), POLLIN, 0};
            poll(&p, 1, left < 100 ? left + 1 : 100);
        }
    }
};

// ---- The selection thread: our offer and the owner watch -------------------------------

struct lvSelectionServer {
    std::mutex lock;  // the fields below
    std::thread thread;
    std::atomic<bool> stop{false};
    bool running = false;
    lvXConnection connection;
    int fixesEventBase = -1;
    std::atomic<bool> watching{false};
    bool offering = false;
    Atom offerTarget = 0;
    std::vector<unsigned char> offer;

    ~lvSelectionServer() { Stop(); }

    void Stop()
    {
        stop = true;
        if (thread.joinable()) thread.join();
        std::lock_guard<std::mutex> hold(lock);
        connection.Close();
        running = false;
        offering = false;
        offer.clear();
        stop = false;
    }

    bool Start()
    {
        if (running) return true;
        if (!LoadXlib() || !connection.Open(PropertyChangeMask)) return false;
        int errorBase = 0;
        if (!xlib.FixesQueryExtension || !xlib.FixesQueryExtension(connection.display, &fixesEventBase, &errorBase))
            fixesEventBase = -1;
        running = true;
        thread = std::thread([this] { Serve(); });
        return true;
    }

    void Answer(const XSelectionRequestEvent &request)
    {
        XEvent reply = {};
        reply.xselection.type = SelectionNotify;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.time = request.time;
        // Obsolete requestors name no property: the target stands for it.
        Atom property = request.property ? request.property : request.target;
        reply.xselection.property = None;
        Display *d = connection.display;
        long maxBytes = (xlib.ExtendedMaxRequestSize(d) ? xlib.ExtendedMaxRequestSize(d) : xlib.MaxRequestSize(d)) * 4 - 256;
        if (offering && request.selection == connection.clipboard) {
            if (request.target == connection.targets) {
                Atom list[2] = {connection.targets, offerTarget};
                xlib.ChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                                    (const unsigned char *)list, 2);
                reply.xselection.property = property;
            } else if (request.target == offerTarget && (long)offer.size() <= maxBytes) {
                xlib.ChangeProperty(d, request.requestor, property, offerTarget, 8, PropModeReplace, offer.data(),
                                    (int)offer.size());
                reply.xselection.property = property;
            }
        }
        xlib.SendEvent(d, request.requestor, False, 0, &reply);
        xlib.Flush(d);
    }

    void Serve()
    {
        for (;;) {
            XEvent event;
            bool changed = false;
            {
                std::lock_guard<std::mutex> hold(lock);
                while (xlib.Pending(connection.display)) {
                    xlib.NextEvent(connection.display, &event);
                    if (event.type == SelectionRequest) {
                        Answer(event.xselectionrequest);
                    } else if (event.type == SelectionClear && event.xselectionclear.selection == connection.clipboard) {
                        offering = false;
                        offer.clear();
                    } else if (fixesEventBase >= 0 && event.type == fixesEventBase + XFixesSelectionNotify) {
                        changed = true;
                    }
                }
            }
            if (changed && watching) NoteClipboardOwnerChange();
            if (stop) return;
            struct pollfd p = {xlib.ConnectionFd(connection.display), POLLIN, 0};
            poll(&p, 1, 100);
        }
    }
};

lvSelectionServer server;
std::mutex serverLock;  // start, stop and the calls that change the offer

// Reads a whole property (deleting it), following an INCR transfer. 0 or ERR_CLIPREAD.
int ReadProperty(lvXConnection &c, Atom *type, std::vector<unsigned char> *bytes, int *format)
{
    bytes->clear();
    unsigned char *data = nullptr;
    unsigned long count = 0, after = 0;
    if (xlib.GetWindowProperty(c.display, c.window, c.property, 0, 0x7FFFFFFF / 4, True, AnyPropertyType, type,
                               format, &count, &after, &data) != Success)
        return ERR_CLIPREAD;
    auto append = [&](void) {
        // 32-bit items arrive as longs.
        size_t unit = *format == 32 ? sizeof(long) : (size_t)*format / 8;
        if (data && count) bytes->insert(bytes->end(), data, data + count * unit);
        if (data) xlib.Free(data);
        data = nullptr;
    };
    if (*type != c.incr) {
        append();
        return 0;
    }
    if (data) xlib.Free(data);
    data = nullptr;
    // INCR: each new value of the property is the next piece; an empty one ends it.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        XEvent e;
        bool got = c.WaitFor(PropertyNotify, until, &e, [](XEvent *) {});
        if (!got) return ERR_CLIPREAD;
        if (e.xproperty.atom != c.property || e.xproperty.state != PropertyNewValue) continue;
        if (xlib.GetWindowProperty(c.display, c.window, c.property, 0, 0x7FFFFFFF / 4, True, AnyPropertyType, type,
                                   format, &count, &after, &data) != Success)
            return ERR_CLIPREAD;
        if (!count) {
            if (data) xlib.Free(data);
            return 0;
        }
        append();
        until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    }
}

// Converts CLIPBOARD to target on a fresh connection. 0 with *offered 0 when the owner
// refuses or nothing owns the clipboard; ERR_CLIPOPEN without an X server; ERR_CLIPREAD
// when the owner does not answer within two seconds.
int Convert(const char *targetName, std::vector<unsigned char> *bytes, int *offered, Atom *typeOut = nullptr,
            int *formatOut = nullptr)
{
    *offered = 0;
    if (!LoadXlib()) return ERR_CLIPOPEN;
    lvXConnection c;
    if (!c.Open(PropertyChangeMask)) return ERR_CLIPOPEN;
    if (xlib.GetSelectionOwner(c.display, c.clipboard) == None) return 0;
    Atom target = xlib.InternAtom(c.display, targetName, False);
    xlib.ConvertSelection(c.display, c.clipboard, target, c.property, c.window, CurrentTime);
    xlib.Flush(c.display);
    XEvent e;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        if (!c.WaitFor(SelectionNotify, until, &e, [](XEvent *) {})) return ERR_CLIPREAD;
        if (e.xselection.selection == c.clipboard) break;
    }
    if (e.xselection.property == None) return 0;
    Atom type = 0;
    int format = 0;
    if (int code = ReadProperty(c, &type, bytes, &format)) return code;
    if (typeOut) *typeOut = type;
    if (formatOut) *formatOut = format;
    *offered = 1;
    return 0;
}

}  // namespace

int DesktopSelectionAvailable(void) { return LoadXlib() ? 1 : 0; }

int OfferClipboardBytes(const char *target, const void *data, size_t size)
{
    std::lock_guard<std::mutex> hold(serverLock);
    if (!server.Start()) return ERR_CLIPOPEN;
    std::lock_guard<std::mutex> offerHold(server.lock);
    try {
        server.offer.assign((const unsigned char *)data, (const unsigned char *)data + size);
    } catch (...) {
        return ERR_MEM;
    }
    lvXConnection &c = server.connection;
    server.offerTarget = xlib.InternAtom(c.display, target, False);
    server.offering = true;
    xlib.SetSelectionOwner(c.display, c.clipboard, c.window, CurrentTime);
    if (xlib.GetSelectionOwner(c.display, c.clipboard) != c.window) {
        server.offering = false;
        server.offer.clear();
        return ERR_CLIPOPEN;
    }
    xlib.Flush(c.display);
    return 0;
}

void WithdrawClipboardBytes(void)
{
    std::lock_guard<std::mutex> hold(serverLock);
    if (!server.running) return;
    std::lock_guard<std::mutex> offerHold(server.lock);
    if (!server.offering) return;
    lvXConnection &c = server.connection;
    if (xlib.GetSelectionOwner(c.display, c.clipboard) == c.window)
        xlib.SetSelectionOwner(c.display, c.clipboard, None, CurrentTime);
    xlib.Flush(c.display);
    server.offering = false;
    server.offer.clear();
}

int ClearDesktopClipboard(void)
{
    WithdrawClipboardBytes();
    if (!LoadXlib()) return ERR_CLIPOPEN;
    lvXConnection c;
    if (!c.Open(0)) return ERR_CLIPOPEN;
    // Any client may end the current owner's hold; the owner is told with SelectionClear.
    xlib.SetSelectionOwner(c.display, c.clipboard, None, CurrentTime);
    xlib.Sync(c.display, False);
    return 0;
}

int ClipboardOffers(const char *target, int *offered, int *owned)
{
    *offered = 0;
    *owned = 0;
    std::vector<unsigned char> bytes;
    int answered = 0;
    Atom type = 0;
    int format = 0;
    if (int code = Convert("TARGETS", &bytes, &answered, &type, &format)) return code;
    // An owner that lists nothing still owns the clipboard: ask the server.
    if (!answered) {
        lvXConnection c;
        if (!c.Open(0)) return ERR_CLIPOPEN;
        *owned = xlib.GetSelectionOwner(c.display, c.clipboard) != None;
        return 0;
    }
    *owned = 1;
    if (type != XA_ATOM || format != 32) return 0;
    lvXConnection c;
    if (!c.Open(0)) return ERR_CLIPOPEN;
    Atom wanted = xlib.InternAtom(c.display, target, False);
    const long *atoms = (const long *)bytes.data();
    for (size_t i = 0; i < bytes.size() / sizeof(long); i++)
        if ((Atom)atoms[i] == wanted) *offered = 1;
    return 0;
}

int FetchClipboardBytes(const char *target, void **data, size_t *size)
{
    *data = nullptr;
    *size = 0;
    std::vector<unsigned char> bytes;
    int offered = 0;
    if (int code = Convert(target, &bytes, &offered)) return code;
    if (!offered) return 0;
    void *copy = AllocMemory(bytes.size() ? bytes.size() : 1, 0);
    if (!copy) return ERR_MEM;
    if (!bytes.empty()) memcpy(copy, bytes.data(), bytes.size());
    *data = copy;
    *size = bytes.size();
    return 0;
}

int WatchDesktopClipboard(int on)
{
    std::lock_guard<std::mutex> hold(serverLock);
    if (!on) {
        server.watching = false;
        return 0;
    }
    if (!server.Start()) return ERR_UNSUPPORTEDFEAT;
    std::lock_guard<std::mutex> watchHold(server.lock);
    if (server.fixesEventBase < 0) return ERR_UNSUPPORTEDFEAT;
    lvXConnection &c = server.connection;
    if (!server.watching)
        xlib.FixesSelectSelectionInput(c.display, xlib.RootWindowOf(c.display), c.clipboard,
                                       XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                           XFixesSelectionClientCloseNotifyMask);
    xlib.Flush(c.display);
    server.watching = true;
    return 0;
}

void ReleaseDesktopClipboard(void)
{
    std::lock_guard<std::mutex> hold(serverLock);
    server.watching = false;
    server.Stop();
}
