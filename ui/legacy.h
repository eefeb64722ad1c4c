// legacy.h - legacy triggers: rectangles and keys that make the waiting script jump to
// labels named after them ("ONBUTTONCLICK7"), the hover label, and their switches.
// Files: legacy.cpp (engine and commands). Script thread only; the label scan runs
// with the event lock held.
#pragma once
#include <cstdint>

struct lvState;
struct lvCommandEntry;
struct lvFetchedEvent;

enum : int {
    ONBUTTONOVER = 1, ONBUTTONCLICK = 2, ONKEYDOWN = 3, ONBUTTONRIGHTCLICK = 5, LEGACY_CLOSEWINDOW = 10,
    ONBUTTONCLICKALL = 11, ONBUTTONRIGHTCLICKALL = 12, ONBUTTONOVERALL = 13, ONKEYDOWNALL = 14
};

// 0 or ERR_MEM.
int AddLegacyTrigger(int type, int id, int left, int top, int right, int bottom, const char *key);
void ClearLegacyTriggers(void);
int HaveLegacyTriggers(void);
// The label an input event maps to (name empty for none); sets the event code and the
// last key code as a firing trigger does.
void MapEventToLabel(const lvFetchedEvent *event, char *label, int size);
int QueueLegacyJumps(lvState *L);
int LegacyHover(lvState *L);
int32_t LegacyLastKeyCode(void);
int LegacyEventCode(void);

extern const lvCommandEntry LegacyCommands[];
