// lvplatform_clipboard.h - the desktop's clipboard, text half, through SDL2 on the
// thread that pumps the windows; notice of clipboard changes; message boxes.
#pragma once
#include <cstddef>
#include <cstdint>

// Kinds as the clipboard library names them.
enum { LV_CLIP_EMPTY = 0, LV_CLIP_TEXT = 1, LV_CLIP_IMAGE = 2, LV_CLIP_UNKNOWN = 4 };

// 0 or ERR_CLIPOPEN (no video subsystem, or SDL refused).
int PutClipboardText(const char *text);
// 0 and a new text (FreeMemory it; null when the clipboard holds no text), or ERR_CLIPOPEN.
int FetchClipboardText(char **text);
// The kind on the clipboard (LV_CLIP_EMPTY or LV_CLIP_TEXT). 0 or ERR_CLIPOPEN.
int ProbeClipboardKind(int *kind);
int EmptyClipboardText(void);
// Gives back the video subsystem the clipboard took (shut-down, before the windows go).
void ReleaseClipboard(void);
// An SDL message box on the pumping thread, modal to the window of that SDL id (0:
// none); *pressed gets the button id, -1 for Escape or the close box. 0 or
// ERR_UNSUPPORTEDFEAT (no display to show it on).
// data: an SDL_MessageBoxData (its window field is filled here).
int ShowDesktopMessageBox(uint32_t windowId, const void *data, int *pressed);
// Called on the pumping thread for each SDL_CLIPBOARDUPDATE (null: none).
void SetClipboardChangeCallback(void (*callback)(void));
// The window pump's hook for SDL_CLIPBOARDUPDATE (ignored while the X server's owner
// changes are watched: those already tell of every change).
void NoteClipboardUpdate(void);
// The selection thread's hook for a new owner of the X server's clipboard.
void NoteClipboardOwnerChange(void);

// ---- The X server's CLIPBOARD for what SDL's text clipboard cannot carry ---------------
// (clipboard_x11.cpp; any thread). Without an X server each gives ERR_CLIPOPEN, the
// watch ERR_UNSUPPORTEDFEAT.
// 1 when DISPLAY names a server and libX11 loads.
int DesktopSelectionAvailable(void);
// Offers bytes under one target ("image/png") until another owner takes the clipboard.
int OfferClipboardBytes(const char *target, const void *data, size_t size);
// Ends our own offer, if we still hold the clipboard.
void WithdrawClipboardBytes(void);
// No owner at all: the clipboard is empty for every program.
int ClearDesktopClipboard(void);
// *offered 1 when the owner lists target; *owned 1 when anything owns the clipboard.
int ClipboardOffers(const char *target, int *offered, int *owned);
// The owner's bytes for target (AllocMemory; *data null when not offered). 0,
// ERR_CLIPOPEN, ERR_CLIPREAD (no answer within two seconds) or ERR_MEM.
int FetchClipboardBytes(const char *target, void **data, size_t *size);
// Owner changes (XFixes) call the change callback once each while on.
int WatchDesktopClipboard(int on);
// The watch above, and SDL's own notices left aside while it runs. 0 or its code.
int WatchClipboardOwners(int on);
// Ends the selection thread and our offer (shut-down).
void ReleaseDesktopClipboard(void);
