// testadapter.cpp - a display adapter for the tests: every slot call is logged with its
// arguments and tags, each display is a black ARGB framebuffer that BltBitMap fills
// through graphics slots 16 and 17, and an input thread of its own plays a script of
// input events into a locked queue that HandleEvents drains through PostAdapterEvent.
//
// Variants (tests/ui/displays.cmake): the default one has extension bits 1 (it runs the
// main loop), 4, 0x10 and 0x20 (the menu slots) and flags 0x100 | 0x400 (sleeps, monitor
// and mode lists) and 0x20000 | 0x80000 | 0x100000 (strips, popups, the tray menu: each
// slot logs the titles it got, "-" a separator); LVT_PLAIN has
// neither; LVT_HWDOUBLE ("testadapterdb") is the default one with flag 0x40 as well: it
// keeps the double buffers itself. Between BeginDoubleBuffer and EndDoubleBuffer its
// blits, fills and Cls go to a back framebuffer that Flip copies to the shown one; the
// log has "BeginDoubleBuffer N", "Flip N 1=SYNC", "Cls N COLOUR", "EndDoubleBuffer N"
// (N the display's opening order). With LVT_ADAPTER_VIDEOCAPS=WORD it also makes video
// bitmaps (flag 0x10, capability word WORD: 0x10 it draws them turned, 0x20 faded) and
// draws them itself: "AllocVideoBitMap W H FLAGS", "FreeVideoBitMap", and after a blit's
// line "BltBitMap transform SX RX RY SY offsets AX AY opacity N". Two monitors {0, 0, 1920, 1080} and {1920, 0, 1280, 1024}; monitor 1 lists
// the modes 1024x768, 800x600, 1024x600 in that (unsorted) order, monitor 2 none.
// Borders 4, 4, 24, 4 (left, right, top, bottom).
//
// Control in executable runs through the environment: LVT_ADAPTER_LOG (the log file,
// one line a call), LVT_ADAPTER_PNGDIR (a folder: each display's framebuffer is written
// as display<N>.png, N its opening order from 1, when it closes), LVT_ADAPTER_INPUT (the
// input script: items separated by ";": "wait MS", "move X Y", "down X Y", "up X Y",
// "key C" (press and release), "keycode N" (press and release of key code N, e.g. 274 for
// RETURN), "type TEXT" (a typed character for each UTF-8 character of TEXT, spaces kept),
// "waitfile PATH" (until the file exists: a test's signal), "menu ID [FLAGS]" (a menu
// report of the node with that id, once a menu slot was handed it), "menuforged" (a menu
// report of a node the runtime never made), "display N" (the items after
// it go to the display opened Nth, 0 the first still open), "ctrlc", "close", "quit",
// "waitclosehandled": until the script's close handler reached SetDisplayAttributes),
// LVT_ADAPTER_OFFSCREEN (the offscreen drawing word given at installation, default 0:
// 0x10 pixels written by WritePixel, 0x20 lines drawn by Line, both into a display's
// framebuffer). In-process: lvt_AdapterLog copies the log, lvt_AdapterInput appends to
// the script queue.
//
// Dependencies: runtime/lvplugin.h, zlib (the PNG writer).
#include "runtime/lvplugin.h"
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <zlib.h>

#define LVT_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static void MoveScriptPointer(long long x, long long y);

#if defined(LVT_PLAIN)
static const char *const moduleName = "testadapterplain";
static const uint32_t adapterFlags = 0;
static const uint32_t adapterExtensions = 0;
#elif defined(LVT_HWDOUBLE)
static const char *const moduleName = "testadapterdb";
static const uint32_t adapterFlags = LVP_ADAPTER_SLEEP | LVP_ADAPTER_MONITORS | LVP_ADAPTER_HWDOUBLEBUFFER;
static const uint32_t adapterExtensions = LVP_ADAPTEREXT_MAINLOOP;
#else
static const char *const moduleName = "testadapter";
static const uint32_t adapterFlags = LVP_ADAPTER_SLEEP | LVP_ADAPTER_MONITORS | LVP_ADAPTER_MENUS |
                                     LVP_ADAPTER_POPUPMENUS | LVP_ADAPTER_TRAYMENUS;
static const uint32_t adapterExtensions =
    LVP_ADAPTEREXT_MAINLOOP | LVP_ADAPTEREXT_MENUS | LVP_ADAPTEREXT_POPUPMENU | LVP_ADAPTEREXT_TRAYMENU;
#endif

static const lvPluginApi *api;
static lvPluginRecord *self;

// ---- The log ------------------------------------------------------------------------------

static std::mutex logLock;
static std::string logText;

static void Log(const std::string &line)
{
    std::lock_guard<std::mutex> hold(logLock);
    logText += line + "\n";
    if (const char *path = std::getenv("LVT_ADAPTER_LOG")) {
        if (FILE *f = std::fopen(path, "a")) {
            std::fputs((line + "\n").c_str(), f);
            std::fclose(f);
        }
    }
}

static std::string Tags(const lvPluginTag *tags)
{
    std::string text;
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        text += " " + std::to_string(t->tag) + "=" + std::to_string((long long)t->value);
    return text;
}

static std::string Words(std::initializer_list<long long> words)
{
    std::string text;
    for (long long w : words) text += " " + std::to_string(w);
    return text;
}

LVT_EXPORT(lvt_AdapterLog)(char *buffer, size_t size)->size_t
{
    std::lock_guard<std::mutex> hold(logLock);
    if (buffer && size) std::snprintf(buffer, size, "%s", logText.c_str());
    return logText.size();
}

// ---- Displays --------------------------------------------------------------------------------

struct Framebuffer {
    int number;                    // opening order from 1
    int width, height;
    std::vector<uint32_t> pixels;  // black ARGB
    std::vector<uint32_t> back;    // while the adapter double-buffers: what Flip shows next
};

// Where drawing goes: the back framebuffer while double buffering.
static std::vector<uint32_t> &DrawPixels(Framebuffer *fb) { return fb->back.empty() ? fb->pixels : fb->back; }
static std::mutex displayLock;
static std::map<void *, Framebuffer *> displays;
static int openedCount;
static void *firstHandle;

static Framebuffer *FindFramebuffer(void *handle)
{
    std::lock_guard<std::mutex> hold(displayLock);
    auto it = displays.find(handle);
    return it == displays.end() ? nullptr : it->second;
}

static void PutBE32(std::string &out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) out.push_back(char((v >> s) & 0xFF));
}

static void PutChunk(std::string &out, const char *type, const std::string &data)
{
    PutBE32(out, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    PutBE32(out, (uint32_t)crc32(0, (const Bytef *)body.data(), (uInt)body.size()));
}

// An 8-bit RGBA PNG of the framebuffer (alpha as stored).
static void WritePng(const Framebuffer &fb, const std::string &path)
{
    std::string raw;
    for (int y = 0; y < fb.height; y++) {
        raw.push_back(0);
        for (int x = 0; x < fb.width; x++) {
            uint32_t c = fb.pixels[(size_t)y * fb.width + x];
            raw.push_back(char((c >> 16) & 0xFF));
            raw.push_back(char((c >> 8) & 0xFF));
            raw.push_back(char(c & 0xFF));
            raw.push_back(char((c >> 24) & 0xFF));
        }
    }
    uLongf bound = compressBound((uLong)raw.size());
    std::string packed(bound, '\0');
    if (compress((Bytef *)&packed[0], &bound, (const Bytef *)raw.data(), (uLong)raw.size()) != Z_OK) return;
    packed.resize(bound);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    PutBE32(header, (uint32_t)fb.width);
    PutBE32(header, (uint32_t)fb.height);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", "");
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(png.data(), 1, png.size(), f);
        std::fclose(f);
    }
}

// ---- Menus --------------------------------------------------------------------------------------
// The nodes the runtime handed over, by id (the input thread reads only this copy), and
// each node's shown state bits.

static std::mutex menuLock;
static std::map<std::string, uintptr_t> menuIds;
static std::map<const lvPluginMenuItem *, uint32_t> menuStates;

static void NoteMenuNodes(const lvPluginMenuItem *first)
{
    for (const lvPluginMenuItem *n = first; n; n = n->next) {
        if (n->id) menuIds[n->id] = (uintptr_t)n;
        menuStates[n] = n->flags & (LVP_MENUITEM_SELECTED | LVP_MENUITEM_DISABLED);
        NoteMenuNodes(n->firstChild);
    }
}

static uintptr_t MenuNodeOfId(const std::string &id)
{
    std::lock_guard<std::mutex> hold(menuLock);
    auto it = menuIds.find(id);
    return it == menuIds.end() ? 0 : it->second;
}

// The titles of a sibling list, "-" for separators, "none" for no list.
static std::string MenuTitles(const lvPluginMenuItem *first)
{
    if (!first) return " none";
    std::string text;
    for (const lvPluginMenuItem *n = first; n; n = n->next) text += std::string(" ") + (n->title ? n->title : "-");
    return text;
}

// ---- Input --------------------------------------------------------------------------------------

static std::mutex inputLock;
static std::condition_variable inputWake;
static std::deque<std::pair<int, lvAdapterEvent>> inputQueue;  // reports for HandleEvents
static std::deque<std::string> scriptItems;                     // the input script still to play
static bool forced, stopping, closeHandled;
static std::thread inputThread;

static void Queue(int kind, lvAdapterEvent e)
{
    std::lock_guard<std::mutex> hold(inputLock);
    inputQueue.push_back({kind, e});
    inputWake.notify_all();
}

// The display the script's events go to: the one opened as number targetNumber, else
// the first still open.
static int targetNumber;

static uintptr_t TargetHandle()
{
    std::lock_guard<std::mutex> hold(displayLock);
    if (targetNumber)
        for (const auto &d : displays)
            if (d.second->number == targetNumber) return (uintptr_t)d.first;
    return targetNumber ? 0 : (uintptr_t)firstHandle;
}

// The character codes of UTF-8 text; a malformed byte stands for itself.
static std::vector<uint32_t> Characters(const std::string &text)
{
    std::vector<uint32_t> codes;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t code = more ? c & (0x3F >> more) : c;
        if (more && i + more >= text.size()) {
            more = 0;
            code = c;
        }
        for (int k = 1; k <= more; k++) code = code << 6 | ((unsigned char)text[i + k] & 0x3F);
        codes.push_back(code);
        i += 1 + more;
    }
    return codes;
}

// Plays the script against the first display (or the one "display N" picked); waits
// without holding anything.
static void InputThreadMain()
{
    for (;;) {
        std::string item;
        {
            std::unique_lock<std::mutex> hold(inputLock);
            inputWake.wait(hold, [] { return stopping || !scriptItems.empty(); });
            if (stopping) return;
            item = scriptItems.front();
            scriptItems.pop_front();
        }
        std::istringstream words(item);
        std::string verb;
        words >> verb;
        long long a = 0, b = 0;
        words >> a >> b;
        uintptr_t h = TargetHandle();
        if (verb == "waitclosehandled") {
            // Until the script's "closewindow" handler reached the adapter.
            std::unique_lock<std::mutex> hold(inputLock);
            inputWake.wait(hold, [] { return stopping || closeHandled; });
            if (stopping) return;
        } else if (verb == "wait") {
            std::unique_lock<std::mutex> hold(inputLock);
            inputWake.wait_for(hold, std::chrono::milliseconds(a), [] { return stopping; });
            if (stopping) return;
        } else if (verb == "move") {
            MoveScriptPointer(a, b);
            Queue(LVP_EVENT_MOUSE, {h, (uintptr_t)a, (uintptr_t)b, 0, 0});
        } else if (verb == "down" || verb == "up") {
            MoveScriptPointer(a, b);
            Queue(LVP_EVENT_MOUSE, {h, (uintptr_t)a, (uintptr_t)b, 1, verb == "down" ? 1u : 0u});
        } else if (verb == "key") {
            std::istringstream again(item);
            std::string k, c;
            again >> k >> c;
            uintptr_t code = c.empty() ? 0 : (unsigned char)c[0];
            Queue(LVP_EVENT_KEY, {h, code, 1, 0, 0});
            Queue(LVP_EVENT_KEY, {h, code, 0, 0, 0});
        } else if (verb == "display") {
            targetNumber = (int)a;
        } else if (verb == "keycode") {
            Queue(LVP_EVENT_KEY, {h, (uintptr_t)a, 1, 0, 0});
            Queue(LVP_EVENT_KEY, {h, (uintptr_t)a, 0, 0, 0});
        } else if (verb == "type") {
            for (uint32_t code : Characters(item.size() > 5 ? item.substr(5) : std::string()))
                Queue(LVP_EVENT_VANILLAKEY, {h, code, 0, 0, 0});
        } else if (verb == "waitfile") {
            std::string path = item.size() > 9 ? item.substr(9) : std::string();
            for (;;) {
                if (FILE *f = std::fopen(path.c_str(), "rb")) {
                    std::fclose(f);
                    break;
                }
                std::unique_lock<std::mutex> hold(inputLock);
                inputWake.wait_for(hold, std::chrono::milliseconds(10), [] { return stopping; });
                if (stopping) return;
            }
        } else if (verb == "menu") {
            // "menu ID [FLAGS]": the item of that id in a menu the runtime handed over.
            std::istringstream again(item);
            std::string m, id;
            long long flags = 0;
            again >> m >> id >> flags;
            uintptr_t node = 0;
            for (;;) {
                node = MenuNodeOfId(id);
                if (node) break;
                std::unique_lock<std::mutex> hold(inputLock);
                inputWake.wait_for(hold, std::chrono::milliseconds(10), [] { return stopping; });
                if (stopping) return;
            }
            Queue(LVP_EVENT_MENU, {h, node, (uintptr_t)flags, 0, 0});
        } else if (verb == "menuforged") {
            static lvPluginMenuItem forged = {nullptr, "forged", "quit", nullptr, 0, nullptr, 0, 0};
            Queue(LVP_EVENT_MENU, {h, (uintptr_t)&forged, 1, 0, 0});
        } else if (verb == "ctrlc") {
            Queue(LVP_EVENT_KEY, {h, 'c', 1, 0x80400000u, 0});
        } else if (verb == "close") {
            Queue(LVP_EVENT_CLOSE, {h, 0, 0, 0, 0});
        } else if (verb == "quit") {
            Queue(LVP_EVENT_QUIT, {0, 0, 0, 0, 0});
        }
    }
}

static void AddScript(const char *text)
{
    std::lock_guard<std::mutex> hold(inputLock);
    std::string all = text ? text : "";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(';', start);
        if (end == std::string::npos) end = all.size();
        std::string item = all.substr(start, end - start);
        if (!item.empty()) scriptItems.push_back(item);
        start = end + 1;
    }
    inputWake.notify_all();
}

LVT_EXPORT(lvt_AdapterInput)(const char *script)->void
{
    AddScript(script);
}

// ---- Plug-in ------------------------------------------------------------------------------------

LVT_EXPORT(InitPlugin)(lvPluginRecord *r, const lvPluginApi *table, const char *)->int
{
    api = table;
    self = r;
    r->capabilities = PLUGINCAPS_DISPLAYADAPTER | PLUGINCAPS_REQUIRE | PLUGINCAPS_EXTENSION;
    r->version = 1;
    r->revision = 0;
    r->name = "Test display adapter";
    r->moduleName = moduleName;
    r->author = "Lumivarra tests";
    r->description = "Framebuffers in memory, scripted input";
    r->copyright = "none";
    r->url = "";
    r->date = "10.12.2026";
    return 1;
}

LVT_EXPORT(ClosePlugin)()->void
{
    {
        std::lock_guard<std::mutex> hold(inputLock);
        stopping = true;
        inputWake.notify_all();
    }
    if (inputThread.joinable()) inputThread.join();
    std::lock_guard<std::mutex> hold(displayLock);
    for (auto &d : displays) delete d.second;
    displays.clear();
}

// LVT_ADAPTER_PALETTE set: the adapter takes a shown BGPic's changed pens (flag 0x10000,
// extension bit 2, SetPalette).
static bool PaletteAsked() { return std::getenv("LVT_ADAPTER_PALETTE") != nullptr; }
// LVT_ADAPTER_TRAY set: the adapter shows tray icons (flag 0x40000, extension bit 8,
// SetTrayIcon); without it a tray icon is refused for want of the capability.
static bool TrayAsked() { return std::getenv("LVT_ADAPTER_TRAY") != nullptr; }

LVT_EXPORT(GetExtensions)(uint32_t capability, void *)->uint32_t
{
    if (capability != PLUGINCAPS_DISPLAYADAPTER) return 0;
    return adapterExtensions | (PaletteAsked() ? LVP_ADAPTEREXT_PALETTE : 0) |
           (TrayAsked() ? LVP_ADAPTEREXT_TRAYICON : 0);
}

LVT_EXPORT(RequirePlugin)(lvState *, int, int, uint32_t, const lvPluginTag *)->int
{
    const char *offscreen = std::getenv("LVT_ADAPTER_OFFSCREEN");
    uint32_t flags =
        adapterFlags | (PaletteAsked() ? LVP_ADAPTER_PALETTE : 0) | (TrayAsked() ? LVP_ADAPTER_TRAYICON : 0);
    long long caps = 0;
#if defined(LVT_HWDOUBLE)
    // Video bitmaps (flag 0x10) with the capability word asked for.
    if (const char *video = std::getenv("LVT_ADAPTER_VIDEOCAPS")) {
        flags |= 0x10;
        caps = std::strtoll(video, nullptr, 0);
    }
#endif
    lvPluginTag tags[] = {{1, 10}, {2, offscreen ? std::strtoll(offscreen, nullptr, 0) : 0}, {3, caps}, {0, 0}};
    int result = api->graphics->InstallDisplayAdapter(self, flags, tags);
    Log("RequirePlugin InstallDisplayAdapter" + Words({(long long)flags, result}));
    return result;
}

LVT_EXPORT(SetMenuBar)(void *, lvPluginMenuItem *strip, uint32_t)->int
{
    Log("SetMenuBar" + MenuTitles(strip));
    std::lock_guard<std::mutex> hold(menuLock);
    NoteMenuNodes(strip);
    return 1;
}

LVT_EXPORT(SetMenuAttributes)(void *, lvPluginMenuItem *item, uint32_t set, uint32_t clear, uint32_t)->int
{
    Log(std::string("SetMenuAttributes ") + (item && item->id ? item->id : "?") + Words({set, clear}));
    std::lock_guard<std::mutex> hold(menuLock);
    uint32_t &bits = menuStates[item];
    bits = (bits | set) & ~clear;
    return 1;
}

LVT_EXPORT(GetMenuAttributes)(void *, lvPluginMenuItem *item, uint32_t *bits, uint32_t)->int
{
    Log(std::string("GetMenuAttributes ") + (item && item->id ? item->id : "?"));
    std::lock_guard<std::mutex> hold(menuLock);
    auto it = menuStates.find(item);
    *bits = it == menuStates.end() ? 0 : it->second;
    return 1;
}

LVT_EXPORT(OpenPopupMenu)(void *, lvPluginMenuItem *first, int x, int y, uint32_t)->int
{
    Log("OpenPopupMenu" + MenuTitles(first) + Words({x, y}));
    std::lock_guard<std::mutex> hold(menuLock);
    NoteMenuNodes(first);
    return 1;
}

LVT_EXPORT(SetTrayMenu)(void *, lvPluginMenuItem *first, uint32_t)->int
{
    Log("SetTrayMenu" + MenuTitles(first));
    std::lock_guard<std::mutex> hold(menuLock);
    NoteMenuNodes(first);
    return 1;
}

LVT_EXPORT(HandleEvents)(lvState *L, int mode, uint32_t)->int
{
    std::deque<std::pair<int, lvAdapterEvent>> taken;
    {
        std::lock_guard<std::mutex> hold(inputLock);
        taken.swap(inputQueue);
    }
    for (auto &item : taken) {
        int result = api->system->PostAdapterEvent(L, item.first, &item.second);
        Log("HandleEvents PostAdapterEvent" + Words({mode, item.first, result}));
    }
    return 0;
}

LVT_EXPORT(WaitEvents)(lvState *, int mode, const lvPluginTag *tags)->int
{
    Log("WaitEvents" + Words({mode}) + Tags(tags));
    std::unique_lock<std::mutex> hold(inputLock);
    // A tenth of a second at most, so that a stop request is seen.
    inputWake.wait_for(hold, std::chrono::milliseconds(100), [] { return forced || !inputQueue.empty(); });
    forced = false;
    return 0;
}

LVT_EXPORT(ForceEventLoopIteration)(uint32_t)->void
{
    std::lock_guard<std::mutex> hold(inputLock);
    forced = true;
    inputWake.notify_all();
}

LVT_EXPORT(Sleep)(lvState *, int milliseconds)->int
{
    Log("Sleep" + Words({milliseconds}));
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return 0;
}

LVT_EXPORT(VWait)(void *handle, const lvPluginTag *tags)->void { Log("VWait" + Tags(tags)); }

LVT_EXPORT(DetermineBorderSizes)(uint32_t flags, int32_t *left, int32_t *right, int32_t *top, int32_t *bottom)->void
{
    *left = 4, *right = 4, *top = 24, *bottom = 4;
    Log("DetermineBorderSizes" + Words({(long long)flags}));
}

LVT_EXPORT(OpenDisplay)(const char *title, int x, int y, int width, int height, uint32_t flags,
                        const lvPluginTag *tags)->void *
{
    Log(std::string("OpenDisplay ") + title + Words({x, y, width, height, (long long)flags}) + Tags(tags));
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag != LVP_OPENTAG_MENU) continue;
        Log("OpenDisplay menu" + MenuTitles((const lvPluginMenuItem *)t->value));
        std::lock_guard<std::mutex> hold(menuLock);
        NoteMenuNodes((const lvPluginMenuItem *)t->value);
    }
    Framebuffer *fb = new Framebuffer{0, width, height, std::vector<uint32_t>((size_t)width * height, 0xFF000000u), {}};
    {
        std::lock_guard<std::mutex> hold(displayLock);
        fb->number = ++openedCount;
        displays[fb] = fb;
        if (!firstHandle) firstHandle = fb;
    }
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag == LVP_OPENTAG_X) *(int32_t *)t->value = x;
        if (t->tag == LVP_OPENTAG_Y) *(int32_t *)t->value = y;
    }
    if (!inputThread.joinable()) {
        if (const char *script = std::getenv("LVT_ADAPTER_INPUT")) AddScript(script);
        inputThread = std::thread(InputThreadMain);
    }
    return fb;
}

LVT_EXPORT(CloseDisplay)(void *handle)->int
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("CloseDisplay" + Words({fb ? fb->number : -1}));
    if (!fb) return 0;
    if (const char *dir = std::getenv("LVT_ADAPTER_PNGDIR"))
        WritePng(*fb, std::string(dir) + "/display" + std::to_string(fb->number) + ".png");
    std::lock_guard<std::mutex> hold(displayLock);
    displays.erase(handle);
    if (firstHandle == handle) firstHandle = nullptr;
    delete fb;
    return 0;
}

LVT_EXPORT(ChangeBufferSize)(void *, int width, int height, uint32_t, const lvPluginTag *tags)->int
{
    Log("ChangeBufferSize" + Words({width, height}) + Tags(tags));
    return 0;
}

LVT_EXPORT(ShowHideDisplay)(void *, int show, uint32_t)->int
{
    Log("ShowHideDisplay" + Words({show}));
    return 0;
}

LVT_EXPORT(SizeMoveDisplay)(void *, int x, int y, int width, int height, uint32_t, uint32_t)->int
{
    Log("SizeMoveDisplay" + Words({x, y, width, height}));
    return 0;
}

LVT_EXPORT(SetDisplayTitle)(void *, const char *title)->void { Log(std::string("SetDisplayTitle ") + title); }
LVT_EXPORT(ActivateDisplay)(void *handle, int front)->void
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("ActivateDisplay" + Words({fb ? fb->number : -1, front}));
}
LVT_EXPORT(SetDisplayAttributes)(void *, const lvPluginTag *tags)->void
{
    Log("SetDisplayAttributes" + Tags(tags));
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag != 1) continue;
        std::lock_guard<std::mutex> hold(inputLock);
        closeHandled = t->value != 0;
        inputWake.notify_all();
    }
}
// Pointers: the arguments are logged (with the first pixel) and every picture becomes the
// adapter's 48 x 48 pointer, so the runtime keeps the size the adapter leaves.
static int pointerToken;
LVT_EXPORT(CreatePointer)(const uint32_t *pixels, int hotX, int hotY, int32_t *width, int32_t *height, uint32_t)->void *
{
    Log("CreatePointer" + Words({hotX, hotY, width ? *width : -1, height ? *height : -1,
                                 pixels ? (long long)pixels[0] : -1}));
    if (width) *width = 48;
    if (height) *height = 48;
    return &pointerToken;
}
LVT_EXPORT(SetTrayIcon)(void *, const uint32_t *pixels, int width, int height, const lvPluginTag *tags)->int
{
    const char *tip = nullptr;
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == LVP_TRAYICON_TOOLTIP) tip = (const char *)t->value;
    Log("SetTrayIcon" + Words({pixels ? (long long)pixels[0] : -1, width, height}) + " " + (tip ? tip : "-"));
    return 1;
}
LVT_EXPORT(FreePointer)(void *)->void { Log("FreePointer"); }
LVT_EXPORT(SetPointer)(void *, int kind, void *)->void { Log("SetPointer" + Words({kind})); }
LVT_EXPORT(ShowHidePointer)(void *, int shown)->void { Log("ShowHidePointer" + Words({shown})); }
LVT_EXPORT(MovePointer)(void *, int x, int y)->void { Log("MovePointer" + Words({x, y})); }
// The pointer is where the input script last moved or pressed it.
static std::atomic<int32_t> pointerX{0}, pointerY{0};

static void MoveScriptPointer(long long x, long long y)
{
    pointerX = (int32_t)x;
    pointerY = (int32_t)y;
}

LVT_EXPORT(GetMousePos)(void *, int32_t *x, int32_t *y)->void
{
    *x = pointerX.load();
    *y = pointerY.load();
}
LVT_EXPORT(GetQualifiers)(void *)->uint32_t { return 0; }

// Graphics slots 25 and 26 read the same source as the lock: its size and the blit's
// rectangle as ARGB words. Logged ("SlotCheck ...") only when they disagree.
static void CheckSourceSlots(void *source, const lvAdapterBlit *blit, const lvPluginBitMapInfo &info)
{
    int w = api->graphics->PlaneSize(source, 0), h = api->graphics->PlaneSize(source, 1);
    if (w != info.width || h != info.height) Log("SlotCheck size" + Words({w, h, info.width, info.height}));
    if (info.format != 10 || info.bytesPerPixel != 4 || blit->width <= 0 || blit->height <= 0) return;
    lvPluginTag rect[] = {{1, blit->sourceX}, {2, blit->sourceY}, {3, blit->width}, {4, blit->height}, {0, 0}};
    uint32_t *argb = api->graphics->ReadArgb(source, blit->mask, blit->alpha, rect);
    if (!argb) {
        Log("SlotCheck ReadArgb null");
        return;
    }
    int wrong = 0;
    for (int y = 0; y < blit->height && blit->sourceY + y < info.height; y++)
        for (int x = 0; x < blit->width && blit->sourceX + x < info.width; x++) {
            uint32_t locked = ((const uint32_t *)info.pixels)[(size_t)(blit->sourceY + y) * info.rowLength +
                                                               blit->sourceX + x];
            if ((argb[(size_t)y * blit->width + x] & 0xFFFFFF) != (locked & 0xFFFFFF)) wrong++;
        }
    if (wrong) Log("SlotCheck ReadArgb" + Words({wrong}));
    api->stdRuntime->free_(argb);
}

// ---- Video bitmaps (testadapterdb with LVT_ADAPTER_VIDEOCAPS) ----------------------------------
// ARGB words kept here; "transparent" when the runtime said the picture has transparency
// (the alpha bytes count) or asked for it later (method 1).

struct VideoBitmap {
    int width, height;
    bool transparent;
    std::vector<uint32_t> pixels;
};
static std::mutex videoLock;
static std::map<void *, VideoBitmap *> videoBitmaps;

static VideoBitmap *FindVideo(void *handle)
{
    std::lock_guard<std::mutex> hold(videoLock);
    auto it = videoBitmaps.find(handle);
    return it == videoBitmaps.end() ? nullptr : it->second;
}

// The video bitmap whose words a lock handed out, or null.
static VideoBitmap *VideoOfPixels(const void *pixels)
{
    std::lock_guard<std::mutex> hold(videoLock);
    for (const auto &v : videoBitmaps)
        if (v.second->pixels.data() == pixels) return v.second;
    return nullptr;
}

// Source over target at opacity a (0..255), rounded; the result is opaque.
static uint32_t Blend(uint32_t source, uint32_t target, int a)
{
    if (a >= 255) return source | 0xFF000000u;
    if (a <= 0) return target;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        int s = (source >> shift) & 0xFF, t = (target >> shift) & 0xFF;
        out |= (uint32_t)((s * a + t * (255 - a) + 127) / 255) << shift;
    }
    return out;
}

// A number of the log, rounded to six places (a quarter turn's cosine is 0, not 6e-17).
static std::string Fixed(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::round(v * 1e6) / 1e6 + 0.0);
    return text;
}

// A video bitmap drawn by the adapter itself: with a transform the width x height picture
// turns by the matrix (target = sx*u + ry*v, rx*u + sy*v) and its bounds go to the
// destination moved back by the anchor (width x offset x, height x offset y, each cut
// toward zero), so that the anchor point lands on the position; every target pixel
// takes the source pixel under its centre. The opacity (transform flags, 255 without a
// transform) scales the picture's own alpha when it has transparency.
static void DrawVideo(Framebuffer *fb, const lvPluginBitMapInfo &info, const VideoBitmap &video,
                      const lvAdapterBlit *blit)
{
    static const double identity[4] = {1, 0, 0, 1};
    const double *m = blit->transform ? blit->transform : identity;
    int opacity = blit->transform && blit->transformFlags >= 0 ? blit->transformFlags : 255;
    double w = blit->width, h = blit->height, det = m[0] * m[3] - m[1] * m[2];
    if (w <= 0 || h <= 0 || std::fabs(det) < 1e-12) return;
    double lx = 1e300, ly = 1e300, hx = -1e300, hy = -1e300;
    for (double u : {0.0, w})
        for (double v : {0.0, h}) {
            double tx = m[0] * u + m[2] * v, ty = m[1] * u + m[3] * v;
            lx = std::min(lx, tx), hx = std::max(hx, tx), ly = std::min(ly, ty), hy = std::max(hy, ty);
        }
    int bw = (int)std::ceil(hx - lx - 1e-9), bh = (int)std::ceil(hy - ly - 1e-9);
    int ox = blit->destX, oy = blit->destY;
    if (blit->transform) ox -= (int)(w * blit->offsetX), oy -= (int)(h * blit->offsetY);
    std::vector<uint32_t> &target = DrawPixels(fb);
    for (int j = 0; j < bh; j++)
        for (int i = 0; i < bw; i++) {
            int x = ox + i, y = oy + j;
            if (x < 0 || y < 0 || x >= fb->width || y >= fb->height) continue;
            double px = i + 0.5 + lx, py = j + 0.5 + ly;
            int u = (int)std::floor((m[3] * px - m[2] * py) / det), v = (int)std::floor((m[0] * py - m[1] * px) / det);
            if (u < 0 || v < 0 || u >= blit->width || v >= blit->height) continue;
            int sx = blit->sourceX + u, sy = blit->sourceY + v;
            if (sx < 0 || sy < 0 || sx >= info.width || sy >= info.height) continue;
            uint32_t s = ((const uint32_t *)info.pixels)[(size_t)sy * info.rowLength + sx];
            int a = video.transparent ? (int)(s >> 24) : 255;
            uint32_t &d = target[(size_t)y * fb->width + x];
            d = Blend(s, d, (a * opacity + 127) / 255);
        }
}

LVT_EXPORT(BltBitMap)(void *source, void *handle, const lvAdapterBlit *blit, uint32_t flags, uint32_t)->void
{
    Log("BltBitMap" + Words({blit->sourceX, blit->sourceY, blit->destX, blit->destY, blit->width, blit->height,
                             blit->scaleWidth, blit->scaleHeight, (long long)flags}));
    if (blit->transform)
        Log("BltBitMap transform " + Fixed(blit->transform[0]) + " " + Fixed(blit->transform[1]) + " " +
            Fixed(blit->transform[2]) + " " + Fixed(blit->transform[3]) + " offsets " + Fixed(blit->offsetX) + " " +
            Fixed(blit->offsetY) + " opacity " + std::to_string(blit->transformFlags));
    Framebuffer *fb = FindFramebuffer(handle);
    if (!fb) return;
    lvPluginBitMapInfo info = {};
    lvPluginTag readOnly[] = {{1, 1}, {0, 0}};
    uintptr_t token = api->graphics->LockBitMap(source, 0, &info, readOnly);
    if (!token) {
        Log("BltBitMap lock failed");
        return;
    }
    if (VideoBitmap *video = VideoOfPixels(info.pixels)) {
        DrawVideo(fb, info, *video, blit);
        api->graphics->UnLockBitMap(token);
        return;
    }
    // Without the alpha flag the picture is opaque, whatever its alpha bytes hold.
    uint32_t opaque = (flags & LVP_BLIT_ALPHA) ? 0 : 0xFF000000u;
#if defined(LVT_HWDOUBLE)
    // This variant blends a source with an alpha channel over what is there.
    lvPluginBitMapInfo alpha = {};
    uintptr_t alphaToken = (flags & LVP_BLIT_ALPHA) && blit->alpha
                               ? api->graphics->LockBitMap(blit->alpha, 0, &alpha, readOnly)
                               : 0;
    if (alphaToken && alpha.bytesPerPixel == 1 && info.format == 10 && info.bytesPerPixel == 4) {
        for (int y = 0; y < blit->height; y++) {
            int sy = blit->sourceY + y, dy = blit->destY + y;
            if (sy < 0 || sy >= info.height || sy >= alpha.height || dy < 0 || dy >= fb->height) continue;
            for (int x = 0; x < blit->width; x++) {
                int sx = blit->sourceX + x, dx = blit->destX + x;
                if (sx < 0 || sx >= info.width || sx >= alpha.width || dx < 0 || dx >= fb->width) continue;
                uint32_t &d = DrawPixels(fb)[(size_t)dy * fb->width + dx];
                d = Blend(((const uint32_t *)info.pixels)[(size_t)sy * info.rowLength + sx], d,
                          alpha.pixels[(size_t)sy * alpha.rowLength + sx]);
            }
        }
        api->graphics->UnLockBitMap(alphaToken);
        api->graphics->UnLockBitMap(token);
        return;
    }
    if (alphaToken) api->graphics->UnLockBitMap(alphaToken);
#endif
    if (info.format == 10 && info.bytesPerPixel == 4) {
        for (int y = 0; y < blit->height; y++) {
            int sy = blit->sourceY + y, dy = blit->destY + y;
            if (sy < 0 || sy >= info.height || dy < 0 || dy >= fb->height) continue;
            for (int x = 0; x < blit->width; x++) {
                int sx = blit->sourceX + x, dx = blit->destX + x;
                if (sx < 0 || sx >= info.width || dx < 0 || dx >= fb->width) continue;
                DrawPixels(fb)[(size_t)dy * fb->width + dx] =
                    ((const uint32_t *)info.pixels)[(size_t)sy * info.rowLength + sx] | opaque;
            }
        }
    } else {
        Log("BltBitMap format" + Words({info.format, info.bytesPerPixel}));
    }
    CheckSourceSlots(source, blit, info);
    api->graphics->UnLockBitMap(token);
}

LVT_EXPORT(RectFill)(void *target, int x, int y, int width, int height, uint32_t colour, uint32_t, uint32_t)->void
{
    Log("RectFill" + Words({x, y, width, height, (long long)colour}));
    Framebuffer *fb = FindFramebuffer(target);
    if (!fb) return;
    for (int row = y; row < y + height; row++)
        for (int col = x; col < x + width; col++)
            if (row >= 0 && row < fb->height && col >= 0 && col < fb->width)
                DrawPixels(fb)[(size_t)row * fb->width + col] = colour | 0xFF000000u;  // no real alpha: opaque
}

LVT_EXPORT(WritePixel)(void *target, int x, int y, uint32_t colour, int mode, const void *)->int
{
    Log("WritePixel" + Words({x, y, (long long)colour, mode}));
    Framebuffer *fb = FindFramebuffer(target);
    if (fb && x >= 0 && y >= 0 && x < fb->width && y < fb->height)
        fb->pixels[(size_t)y * fb->width + x] = colour | 0xFF000000u;
    return 0;
}
// A one-pixel line into a display's framebuffer, both ends included (Bresenham).
LVT_EXPORT(Line)(void *target, int x1, int y1, int x2, int y2, uint32_t colour, int flags)->void
{
    Log("Line" + Words({x1, y1, x2, y2, (long long)colour, flags}));
    Framebuffer *fb = FindFramebuffer(target);
    if (!fb) return;
    int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1), sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    for (int error = dx + dy;;) {
        if (x1 >= 0 && y1 >= 0 && x1 < fb->width && y1 < fb->height)
            fb->pixels[(size_t)y1 * fb->width + x1] = colour | 0xFF000000u;
        if (x1 == x2 && y1 == y2) break;
        int twice = 2 * error;
        if (twice >= dy) error += dy, x1 += sx;
        if (twice <= dx) error += dx, y1 += sy;
    }
}

LVT_EXPORT(GetMonitorInfo)(int kind, int monitor, void **list, uint32_t)->int
{
    Log("GetMonitorInfo" + Words({kind, monitor}));
    if (kind == LVP_MONITORINFO_MONITORS) {
        *list = new lvAdapterMonitor[3]{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {0, 0, 0, 0}};
    } else if (monitor == 0) {
        *list = new lvAdapterMode[4]{{1024, 768}, {800, 600}, {1024, 600}, {0, 0}};
    } else {
        *list = new lvAdapterMode[1]{{0, 0}};
    }
    return 0;
}

LVT_EXPORT(FreeMonitorInfo)(int kind, void *list)->void
{
    if (kind == LVP_MONITORINFO_MONITORS) delete[] (lvAdapterMonitor *)list;
    else delete[] (lvAdapterMode *)list;
}

LVT_EXPORT(GrabScreenPixels)()->void * { return nullptr; }
LVT_EXPORT(FreeGrabScreenPixels)(uint32_t *)->void {}

LVT_EXPORT(AdapterMainLoop)(lvState *L, lvAdapterRunFunction run, void *data, uint32_t, uint32_t)->int
{
    Log("AdapterMainLoop");
    int result = run(data);
    Log("AdapterMainLoop end" + Words({result}));
    return result;
}

// Hardware double buffering (only LVT_HWDOUBLE offers it). The back framebuffer starts
// as a copy of the shown one.
LVT_EXPORT(BeginDoubleBuffer)(void *handle, uint32_t)->int
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("BeginDoubleBuffer" + Words({fb ? fb->number : -1}));
    if (!fb) return 1347;
    if (!fb->back.empty()) return 1229;
    fb->back = fb->pixels;
    return 0;
}

LVT_EXPORT(EndDoubleBuffer)(void *handle, uint32_t)->int
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("EndDoubleBuffer" + Words({fb ? fb->number : -1}));
    if (!fb) return 1347;
    if (fb->back.empty()) return 1244;
    fb->back.clear();
    return 0;
}

LVT_EXPORT(Flip)(void *handle, const lvPluginTag *tags)->int
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("Flip" + Words({fb ? fb->number : -1}) + Tags(tags));
    if (!fb) return 1347;
    if (fb->back.empty()) return 1244;
    fb->pixels = fb->back;
    return 0;
}

// The display and its first three pens of the 256.
LVT_EXPORT(SetPalette)(void *handle, const uint32_t *pens, uint32_t reserved)->void
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("SetPalette" + Words({fb ? fb->number : -1, (long long)pens[0], (long long)pens[1], (long long)pens[2],
                              (long long)reserved}));
}

LVT_EXPORT(Cls)(void *handle, uint32_t colour, uint32_t)->int
{
    Framebuffer *fb = FindFramebuffer(handle);
    Log("Cls" + Words({fb ? fb->number : -1, (long long)colour}));
    if (!fb) return 1347;
    std::vector<uint32_t> &target = DrawPixels(fb);
    std::fill(target.begin(), target.end(), colour | 0xFF000000u);
    return 0;
}
// Tag 1: the ARGB words (flags 2: another video bitmap to copy). The adapter neither
// scales nor turns while it makes one (capabilities 4 and 0x10 are not offered).
LVT_EXPORT(AllocVideoBitMap)(int width, int height, int flags, const lvPluginTag *tags)->void *
{
    Log("AllocVideoBitMap" + Words({width, height, flags}));
    if (width <= 0 || height <= 0) return nullptr;
    auto *v = new VideoBitmap{width, height, (flags & 1) != 0, std::vector<uint32_t>((size_t)width * height, 0)};
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag == 2 || t->tag == 3 || t->tag == 5) {
            delete v;
            return nullptr;
        }
        if (t->tag != 1 || !t->value) continue;
        if (flags & 2) {
            VideoBitmap *from = FindVideo((void *)t->value);
            if (!from || from->width != width || from->height != height) {
                delete v;
                return nullptr;
            }
            v->pixels = from->pixels;
        } else {
            std::memcpy(v->pixels.data(), (const void *)t->value, v->pixels.size() * 4);
        }
    }
    std::lock_guard<std::mutex> hold(videoLock);
    videoBitmaps[v] = v;
    return v;
}

LVT_EXPORT(FreeVideoBitMap)(void *handle)->void
{
    Log("FreeVideoBitMap");
    std::lock_guard<std::mutex> hold(videoLock);
    auto it = videoBitmaps.find(handle);
    if (it == videoBitmaps.end()) {
        Log("FreeVideoBitMap unknown");
        return;
    }
    delete it->second;
    videoBitmaps.erase(it);
}

// Tags: 1 out: 1 when the words carry alpha, 2 out: their pixel format.
LVT_EXPORT(ReadVideoPixels)(void *handle, const lvPluginTag *tags)->void *
{
    VideoBitmap *v = FindVideo(handle);
    Log("ReadVideoPixels" + Words({v ? v->width : -1, v ? v->height : -1}));
    if (!v) return nullptr;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1 && t->value) *(int *)t->value = v->transparent;
        if (t->tag == 2 && t->value) *(int *)t->value = 10;
    }
    auto *copy = new uint32_t[v->pixels.size()];
    std::memcpy(copy, v->pixels.data(), v->pixels.size() * 4);
    return copy;
}
LVT_EXPORT(FreeVideoPixels)(void *pixels)->void { delete[] (uint32_t *)pixels; }
LVT_EXPORT(DoVideoBitMapMethod)(void *handle, int method, intptr_t argument)->int
{
    Log("DoVideoBitMapMethod" + Words({method, (long long)argument}));
    if (VideoBitmap *v = FindVideo(handle); v && method == 1) v->transparent = true;
    return 0;
}
LVT_EXPORT(AllocBitMap)()->void * { return nullptr; }
LVT_EXPORT(FreeBitMap)(void *)->void {}
// Only video bitmaps are locked here (the adapter owns no other bitmaps).
LVT_EXPORT(LockBitMap)(void *handle, int, lvPluginBitMapInfo *info, const lvPluginTag *)->uintptr_t
{
    VideoBitmap *v = FindVideo(handle);
    if (!v || !info) return 0;
    info->pixels = (uint8_t *)v->pixels.data();
    info->rowLength = v->width;
    info->format = 10;
    info->bytesPerPixel = 4;
    info->width = v->width;
    info->height = v->height;
    return (uintptr_t)v;
}
LVT_EXPORT(UnLockBitMap)(uintptr_t)->void {}
LVT_EXPORT(GetBitMapAttr)()->int { return 0; }
