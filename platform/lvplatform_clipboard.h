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
// The window pump's hook for SDL_CLIPBOARDUPDATE.
void NoteClipboardUpdate(void);
