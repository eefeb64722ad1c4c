// input.h - key names and the input state of displays: the key-name table and its
// conversions, display units of window positions, the waits on keys and mouse buttons,
// and clearing a display's input after something else (a requester) took it.
//
// Files: input.cpp (the engine), lib_input.cpp (the event library's input commands).
// Script thread only.
#pragma once
#include <cstddef>
#include <cstdint>

struct lvState;
struct lvDisplay;
struct lvCommandEntry;

#define LV_KEYNAME_ROWS 58
// Special key codes of the table used by the engine itself.
enum : int32_t {
    LVKEY_UP = 256, LVKEY_F1 = 261, LVKEY_BACKSPACE = 271, LVKEY_TAB = 272, LVKEY_ENTER = 273,
    LVKEY_RETURN = 274, LVKEY_ESC = 275, LVKEY_SPACE = 276, LVKEY_LSHIFT = 306, LVKEY_RCONTROL = 313
};

struct lvKeyNameRow {
    const char *name;
    int32_t code;
};
extern const lvKeyNameRow KeyNameTable[LV_KEYNAME_ROWS];

// Naming modes of KeyCodeText.
enum { KEYNAME_EVENT = 0, KEYNAME_RAW = 1, KEYNAME_VANILLA = 2 };
// The text of a key code for events ("key" of OnKeyDown: KEYNAME_EVENT, raw events
// KEYNAME_RAW, VanillaKey KEYNAME_VANILLA).
void KeyCodeText(int32_t code, int mode, char *text, size_t size);
// The names legacy triggers and WaitKeyDown/IsKeyDown use (no modifier names).
void LegacyKeyName(char *text, int32_t code, size_t size);
// A name's code: one graphic byte below 128 is itself; a longer name a table row (case
// ignored); 0 for none.
int32_t KeyCodeFromName(const char *name);
// The qualifier value of a modifier key code (306..313), 0 for others.
uint32_t ModifierQualifier(int32_t code);

// Window pixels to display units (letterbox margin off, divided by the scale factor).
void WindowToDisplayUnits(const lvDisplay *d, int wx, int wy, int *x, int *y);
// The pointer of the display in display units.
void DisplayMouseUnits(const lvDisplay *d, int *x, int *y);
// Clears the display's button and key states and the buttons' pressed flags.
void ResetDisplayInput(lvDisplay *d);

// While a desktop dialog is open the displays drop what the user does to them (keys,
// buttons, wheel), so that nothing typed at the dialog reaches the script afterwards.
// Open and close nest. Any thread.
void NoteDesktopDialog(int open);
int DesktopDialogOpen(void);
// Key, mouse-button, wheel and character events.
int IsUserInputEvent(int type);

// Blocking input commands forbidden by a plug-in: their answer is ERR_FORBIDMODAL.
void SetBlockingInputForbidden(int forbidden);
int BlockingInputForbidden(void);
// One step of a waiting command: wait for the next wake-up, then poll. 0 go on; 1 the
// wait is to end early (a stop without a code); or an error code.
int InputWaitStep(lvState *L);

// The event library's input-state, button, legacy-trigger and port commands.
extern const lvCommandEntry InputCommands[];
