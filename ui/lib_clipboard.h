// lib_clipboard.h - the clipboard library (lib_clipboard.cpp) and the installation of
// the clipboard and requester libraries' rows.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct lvState;
struct lvDisplay;
struct lvConstantEntry;
struct lvBrush;

// The record exchanged with a clipboard adapter: type and data (the text, or an
// lvClipboardImage).
struct lvClipboardData {
    int32_t type;
    void *data;
};
// A picture through the adapter: 0xAARRGGBB words row by row. What an adapter answers
// (record and pixels, AllocMemory) is freed by the runtime.
struct lvClipboardImage {
    uint32_t *pixels;
    intptr_t width, height, reserved;
};
typedef int (*lvSetClipboardFunction)(const lvClipboardData *record, uintptr_t reserved);
typedef int (*lvGetClipboardFunction)(lvClipboardData *record, uintptr_t reserved);
typedef int (*lvPeekClipboardFunction)(int32_t *type, uintptr_t reserved);
typedef int (*lvClearClipboardFunction)(uintptr_t reserved);

// ---- Pictures (clipboard_images.cpp) ----
// The brush's ARGB words (AllocMemory): a palette brush's transparent pen and masked
// pixels have alpha 0. 0 or ERR_MEM.
// Also what pointers and icons take of a brush.
int ClipboardArgbFromBrush(lvBrush *b, uint32_t **argb);
int EncodeArgbPng(const uint32_t *argb, int width, int height, void **png, size_t *size);
// 0, ERR_CLIPREAD (not a PNG picture) or ERR_MEM.
int DecodePngArgb(const void *png, size_t size, uint32_t **argb, int *width, int *height);
// A new brush (Nil identifier: *id gets the handle): masked when every alpha is 0 or
// 255 and some is 0, with an alpha channel when some lies between.
int NewBrushFromClipboardArgb(const uint32_t *argb, int width, int height, lvObjectId *id);
// Through the clipboard adapter, else as PNG on the X server.
int PutClipboardImageRouted(const uint32_t *argb, int width, int height);
// The X server's picture, if one is offered (*argb null otherwise, and without a server).
int FetchClipboardImage(uint32_t **argb, int *width, int *height);
// *kind LV_CLIP_IMAGE when the X server's clipboard offers a picture, else -1.
int ProbeDesktopClipboard(int *kind);

int OpenClipboardLibrary(lvState *L);
const lvConstantEntry *GetClipboardConstants(void);
// The display's clipboardchange handler came or went: its change notices follow.
int WatchDisplayClipboard(lvDisplay *d, int watch);
int PutClipboardTextRouted(const char *text);
int FetchClipboardRouted(int *type, char **text, uint32_t **argb, int *width, int *height);
// Fills the "clipboard" and "requester" rows of the library table.
void InstallClipboardAndRequesterLibraries(void);

int OpenRequesterLibrary(lvState *L);
const lvConstantEntry *GetRequesterConstants(void);
