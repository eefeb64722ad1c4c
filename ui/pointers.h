// pointers.h - pointer images made from brushes, sprite frames or the standard pointers,
// and each display's pointer: set, shown, hidden, moved (pointers.cpp); the "pointer"
// library's commands are lib_pointer.cpp.
//
// Images are made by the display adapter's pointer slots when one is installed, else by
// the platform (lvplatform_pointers.h). Every change is also sent to the display's mirrors
// whose option word (tag 9) is set: message 6 {kind, image}, 7 {shown}, 8 {x, y}.
// Limits: script thread.
#pragma once
#include <cstdint>

#include "runtime/objects.h"
#include "ui/display.h"

struct lvState;
struct lvConstantEntry;

#define LV_TYPE_POINTER 36
enum { STDPTR_SYSTEM = 0, STDPTR_BUSY = 1, STDPTR_CUSTOM = 2 };

struct lvPointer {
    lvObjectHeader header;  // type 36
    int width, height;      // the picture's size; the standard size for a standard pointer
    void *image;            // the adapter's or the platform's image, null for a standard pointer
    int kind;               // STDPTR_...
    int released;           // freed by the script while a display still shows it
};

// The pixels of a sprite frame for a pointer: ARGB words (AllocMemory, the caller frees)
// and the size. The sprite library installs it; until then SPRITE answers ERR_FINDSPRITE.
typedef int (*lvSpriteFrameSource)(lvState *L, lvObjectId sprite, int frame, uint32_t **argb, int *width,
                                   int *height);
void SetSpriteFrameSource(lvSpriteFrameSource source);

// CreatePointer's engine. type 3 brush, 32 sprite (frame), 36 standard (source 0 or 1).
// A hot-spot coordinate below 0 means the middle. out gets the new pointer.
int CreatePointerObject(lvState *L, int number, bool automatic, int type, lvObjectId source, int frame, int hotX,
                        int hotY, lvPointer **out);
// 0 and the pointer; ERR_FINDPOINTER with the number, ERR_FINDARRAY for a handle.
int FindPointerById(lvObjectId id, lvPointer **out);
// FreePointer (reportAbsence 1) and the release of a reused identifier (0).
int ReleasePointerById(lvObjectId id, int reportAbsence);
int SetPointerOfDisplay(lvObjectId id);
// ShowPointer / HidePointer on the current display.
void ShowHideCurrentPointer(int shown);
int MovePointerOnDisplay(int x, int y);
// The display's pointer state as its opening applies it (the display just opened).
void ApplyDisplayPointerState(lvDisplay *display);
void ShowHideDisplayPointer(lvDisplay *display, int shown);
void SetDisplayPointer(lvDisplay *display, lvPointer *pointer, int kind);
// The display's pointer identifier for its ATTRPOINTER, pushed; -1 when none.
void PushDisplayPointerId(lvState *L, const lvDisplay *display);
lvObjectHeader **PointerListHead(void);
// Frees every pointer (shut-down) and the platform's standard pointers.
void FreeAllPointers(void);
// Library table row and shut-down step.
int OpenPointerLibrary(lvState *L);
const lvConstantEntry *GetPointerConstants(void);
void ClosePointerLibrary(lvState *L, int full);
