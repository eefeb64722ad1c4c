// lib_clipboard.cpp - the clipboard library: text through the clipboard adapter when a
// plug-in installed one, else the desktop's clipboard; change notices for displays
// with a clipboardchange handler.
// Pictures travel as brushes (clipboard_images.cpp converts them).
// Depends on: platform/lvplatform_clipboard.h, runtime/plugin.h, ui/display.h,
// images/lvbrush.h.
// Limits: script thread (the change notice comes from the pumping thread).
#include "ui/lib_clipboard.h"

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvimagecmd.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_clipboard.h"
#include "runtime/cmdsupport.h"
#include "runtime/libtable.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"
#include "ui/display.h"
#include "ui/requesters.h"
#include "vm/lvvm.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

enum { CLIPBOARD_EMPTY = 0, CLIPBOARD_TEXT = 1, CLIPBOARD_IMAGE = 2, CLIPBOARD_SOUND = 3, CLIPBOARD_UNKNOWN = 4 };

// ---- Change notices ------------------------------------------------------------------------

static std::mutex watchLock;
static std::vector<lvDisplay *> watched;

static void ClipboardChanged(void)
{
    // The display list is walked under its lock, so a display freed meanwhile is skipped.
    std::lock_guard<std::mutex> hold(watchLock);
    LockDisplayList();
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next)
        if (std::find(watched.begin(), watched.end(), d) != watched.end()) PostEvent(d, EVENT_CLIPBOARD, 0, 0, 0, nullptr);
    UnlockDisplayList();
}

int WatchDisplayClipboard(lvDisplay *d, int watch)
{
    std::lock_guard<std::mutex> hold(watchLock);
    watched.erase(std::remove(watched.begin(), watched.end(), d), watched.end());
    if (watch) watched.push_back(d);
    SetClipboardChangeCallback(watched.empty() ? nullptr : ClipboardChanged);
    // Other programs' changes are seen on the X server; without one, SDL's notices serve.
    WatchClipboardOwners(!watched.empty());
    return 0;
}

static void WatchedClear(void)
{
    std::lock_guard<std::mutex> hold(watchLock);
    watched.clear();
    SetClipboardChangeCallback(nullptr);
    WatchClipboardOwners(0);
}

// ---- Engines --------------------------------------------------------------------------------

int PutClipboardTextRouted(const char *text)
{
    if (lvPluginRecord *adapter = GetClipboardAdapter()) {
        if (!adapter->SetClipboard) return ERR_UNSUPPORTEDFEAT;
        lvClipboardData record = {CLIPBOARD_TEXT, (void *)text};
        return ((lvSetClipboardFunction)adapter->SetClipboard)(&record, 0);
    }
    return PutClipboardText(text);
}

// *type and a new text (FreeMemory) for text, or new ARGB words and their size for a picture.
int FetchClipboardRouted(int *type, char **text, uint32_t **argb, int *width, int *height)
{
    *type = CLIPBOARD_EMPTY;
    *text = nullptr;
    *argb = nullptr;
    if (lvPluginRecord *adapter = GetClipboardAdapter()) {
        if (!adapter->GetClipboard) return ERR_UNSUPPORTEDFEAT;
        lvClipboardData record = {CLIPBOARD_EMPTY, nullptr};
        if (int code = ((lvGetClipboardFunction)adapter->GetClipboard)(&record, 0)) return code;
        switch (record.type) {
        case CLIPBOARD_TEXT:
            *type = CLIPBOARD_TEXT;
            *text = (char *)record.data;
            return 0;
        case CLIPBOARD_EMPTY:
        case CLIPBOARD_UNKNOWN:
            *type = record.type;
            return 0;
        case CLIPBOARD_IMAGE: {
            lvClipboardImage *image = (lvClipboardImage *)record.data;
            if (!image) return ERR_WRONGUSAGE;
            uint32_t *pixels = image->pixels;
            intptr_t w = image->width, h = image->height;
            FreeMemory(image);
            if (!pixels || w <= 0 || h <= 0 || w > 32768 || h > 32768) {
                FreeMemory(pixels);
                return ERR_WRONGUSAGE;
            }
            *type = CLIPBOARD_IMAGE;
            *argb = pixels;
            *width = (int)w;
            *height = (int)h;
            return 0;
        }
        default:
            return ERR_WRONGUSAGE;
        }
    }
    // A picture comes first, as other programs offer text beside their pictures.
    if (int code = FetchClipboardImage(argb, width, height)) return code;
    if (*argb) {
        *type = CLIPBOARD_IMAGE;
        return 0;
    }
    if (int code = FetchClipboardText(text)) return code;
    *type = *text ? CLIPBOARD_TEXT : CLIPBOARD_EMPTY;
    return 0;
}

// ---- Commands -----------------------------------------------------------------------------

static int CmdSetClipboard(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int type = (int)NumberToInt64(CheckNumberArg(L, 1));
    if (type == CLIPBOARD_TEXT) return PutClipboardTextRouted(CheckStringArg(L, 2, nullptr));
    if (type != CLIPBOARD_IMAGE) return ERR_WRONGUSAGE;
    lvBrush *brush = nullptr;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 2), &brush, 0)) return code;
    uint32_t *argb = nullptr;
    if (int code = ClipboardArgbFromBrush(brush, &argb)) return code;
    int code = PutClipboardImageRouted(argb, brush->width, brush->height);
    FreeMemory(argb);
    return code;
}

static int CmdGetClipboard(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int type, width = 0, height = 0;
    char *text;
    uint32_t *argb;
    if (int code = FetchClipboardRouted(&type, &text, &argb, &width, &height)) return code;
    if (type == CLIPBOARD_IMAGE) {
        lvObjectId id = {0, nullptr};
        int code = NewBrushFromClipboardArgb(argb, width, height, &id);
        FreeMemory(argb);
        if (code) return code;
        PushNumber(L, type);
        PushObjectId(L, id);
        return 2;
    }
    PushNumber(L, type);
    if (type != CLIPBOARD_TEXT) return 1;
    PushString(L, text ? text : "");
    FreeMemory(text);
    return 2;
}

static int CmdPeekClipboard(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int32_t type = 0;
    if (lvPluginRecord *adapter = GetClipboardAdapter()) {
        if (!adapter->PeekClipboard) return ERR_UNSUPPORTEDFEAT;
        if (int code = ((lvPeekClipboardFunction)adapter->PeekClipboard)(&type, 0)) return code;
    } else {
        int kind = -1;
        if (int code = ProbeDesktopClipboard(&kind)) return code;
        if (kind < 0) {
            if (int code = ProbeClipboardKind(&kind)) return code;
        }
        type = kind;
    }
    PushNumber(L, type);
    return 1;
}

static int CmdClearClipboard(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (lvPluginRecord *adapter = GetClipboardAdapter()) {
        if (!adapter->ClearClipboard) return ERR_UNSUPPORTEDFEAT;
        return ((lvClearClipboardFunction)adapter->ClearClipboard)(0);
    }
    return EmptyClipboardText();
}

static const lvConstantEntry clipboardConstants[] = {
    {"CLIPBOARD_EMPTY", nullptr, 0}, {"CLIPBOARD_TEXT", nullptr, 1},    {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3}, {"CLIPBOARD_UNKNOWN", nullptr, 4}, {nullptr, nullptr, 0},
};

static const lvCommandEntry clipboardCommands[] = {
    {"SetClipboard", CmdSetClipboard},
    {"GetClipboard", CmdGetClipboard},
    {"PeekClipboard", CmdPeekClipboard},
    {"ClearClipboard", CmdClearClipboard},
    {nullptr, nullptr},
};

const lvConstantEntry *GetClipboardConstants(void) { return clipboardConstants; }

int OpenClipboardLibrary(lvState *L) { return RegisterCommandTable(L, clipboardCommands, "clipboard"); }

static lvLibraryCloseFunction closeDisplays = nullptr;

// The clipboard's hold on the video subsystem ends before the displays close.
static void CloseClipboardThenDisplays(lvState *L, int full)
{
    ReleaseClipboard();
    WatchedClear();
    if (closeDisplays) closeDisplays(L, full);
}

void InstallClipboardAndRequesterLibraries(void)
{
    lvLibraryCloseFunction previous = SetLibraryCloseStep("displays", CloseClipboardThenDisplays);
    if (previous != CloseClipboardThenDisplays) closeDisplays = previous;
    SetLibraryRow("clipboard", OpenClipboardLibrary, GetClipboardConstants);
    SetLibraryRow("requester", OpenRequesterLibrary, GetRequesterConstants);
    InstallPluginRequesterEntries();
}
