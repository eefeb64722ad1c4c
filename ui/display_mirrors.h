// display_mirrors.h - display mirrors and the display's plug-in entries
// (display_mirrors.cpp). Every entry may run on a plug-in's thread: the display list is
// walked under the display lock, and redraws and resizes asked off the script thread run
// on it later.
#pragma once
#include "ui/display.h"

// Plug-in thread or script thread.
void *AttachDisplayMirror(const lvPluginObjectId *id, lvMirrorCallback callback, void *userData,
                          const lvPluginTag *tags, void *window);
void DetachDisplayMirror(void *mirror);
// Messages 0 to 8; key codes outside 1..313 post nothing (the main loop still wakes).
void PostMirrorInput(void *mirror, int message, const void *data);
// The count of known tags, -1 when no display matches.
int GetMirrorDisplayAttrs(void *key, const lvPluginTag *tags);
int RefreshMirror(void *mirror);
int ResizeDisplayFromMirror(void *mirror, int width, int height, const lvPluginTag *tags);
int RefreshAdapterDisplay(void *handle);

// Script thread: the display's own notifications.
void NotifyMirrorsOfPresent(lvDisplay *display, const uint32_t *pixels, int rowLength, int pictureWidth,
                            int pictureHeight, int x, int y, int width, int height);
void NotifyMirrorsOfSize(lvDisplay *display);
// A line drawn straight onto the display: message 2 with {x1, y1, x2, y2, colour}.
void NotifyMirrorsOfLine(lvDisplay *display, int x1, int y1, int x2, int y2, uint32_t colour);
// A pixel written straight onto the display: message 3 with {x, y, colour}.
void NotifyMirrorsOfPixel(lvDisplay *display, int x, int y, uint32_t colour);
void NotifyMirrorsOfVBlank(lvDisplay *display);
// Pointer changes (6 set {kind, image}, 7 shown {flag}, 8 moved {x, y}) to the mirrors whose
// option word (tag 9) is set, each served once even when a callback changes the list.
void NotifyMirrorsOfPointer(lvDisplay *display, int message, const void *payload);
void FreeDisplayMirrors(lvDisplay *display);
// The calling thread is the one that runs the display commands.
void NoteDisplayScriptThread(void);
