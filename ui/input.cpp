// input.cpp - key names and the input state of displays (see input.h).
// Depends on: ui/input.h, ui/display.h, runtime/encoding.h, platform event loop hooks.
// Limits: script thread only.
#include "ui/input.h"

#include "platform/lvplatform_events.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "ui/buttons.h"
#include "ui/display.h"

#include <cstdio>
#include <atomic>
#include <cstring>
#include <strings.h>

const lvKeyNameRow KeyNameTable[LV_KEYNAME_ROWS] = {
    {"TAB", 272},      {"RETURN", 274},   {"ENTER", 273},    {"SPACE", 276},    {"ESC", 275},
    {"UP", 256},       {"DOWN", 257},     {"RIGHT", 258},    {"LEFT", 259},     {"HELP", 260},
    {"BACKSPACE", 271}, {"DEL", 277},     {"F1", 261},       {"F2", 262},       {"F3", 263},
    {"F4", 264},       {"F5", 265},       {"F6", 266},       {"F7", 267},       {"F8", 268},
    {"F9", 269},       {"F10", 270},      {"F11", 278},      {"F12", 279},      {"F13", 287},
    {"F14", 288},      {"F15", 289},      {"F16", 290},      {"INSERT", 280},   {"HOME", 281},
    {"END", 282},      {"PAGEUP", 283},   {"PAGEDOWN", 284}, {"PRINT", 285},    {"PAUSE", 286},
    {"NP0", 291},      {"NP1", 292},      {"NP2", 293},      {"NP3", 294},      {"NP4", 295},
    {"NP5", 296},      {"NP6", 297},      {"NP7", 298},      {"NP8", 299},      {"NP9", 300},
    {"NPMUL", 301},    {"NPADD", 302},    {"NPSUB", 303},    {"NPDEC", 304},    {"NPDIV", 305},
    {"LSHIFT", 306},   {"RSHIFT", 307},   {"LALT", 308},     {"RALT", 309},     {"LCOMMAND", 310},
    {"RCOMMAND", 311}, {"LCONTROL", 312}, {"RCONTROL", 313}};

enum { ROW_ESC = 4, ROW_LSHIFT = 50 };

static void CharacterText(int32_t code, char *text, size_t size)
{
    char buffer[8] = {0};
    int n = code > 0 ? EncodeChar(buffer, (uint32_t)code) : 0;
    if (n < 0) n = 0;
    buffer[n] = 0;
    snprintf(text, size, "%s", buffer);
}

static const char *RowName(int32_t code, int first, int end)
{
    for (int i = first; i < end; i++)
        if (KeyNameTable[i].code == code) return KeyNameTable[i].name;
    return nullptr;
}

void KeyCodeText(int32_t code, int mode, char *text, size_t size)
{
    if (!size) return;
    text[0] = 0;
    if (mode == KEYNAME_RAW) {
        if (const char *name = RowName(code, 0, LV_KEYNAME_ROWS)) {
            snprintf(text, size, "%s", name);
            return;
        }
    } else if (mode == KEYNAME_EVENT) {
        if (const char *name = RowName(code, ROW_ESC, LV_KEYNAME_ROWS)) {
            snprintf(text, size, "%s", name);
            return;
        }
        if (code == LVKEY_TAB) return (void)snprintf(text, size, "        ");
        if (code == LVKEY_RETURN || code == LVKEY_ENTER) return (void)snprintf(text, size, "\n");
        if (code == LVKEY_SPACE) return (void)snprintf(text, size, " ");
    }
    CharacterText(code, text, size);
}

void LegacyKeyName(char *text, int32_t code, size_t size)
{
    if (!size) return;
    if (const char *name = RowName(code, 0, ROW_LSHIFT)) snprintf(text, size, "%s", name);
    else CharacterText(code, text, size);
}

int32_t KeyCodeFromName(const char *name)
{
    if (!name || !*name) return 0;
    size_t length = strlen(name);
    if (length == 1) {
        unsigned char c = (unsigned char)name[0];
        return c < 128 && IsGraphChar(c) ? c : 0;
    }
    for (const lvKeyNameRow &row : KeyNameTable)
        if (!strcasecmp(row.name, name)) return row.code;
    return 0;
}

uint32_t ModifierQualifier(int32_t code)
{
    // LSHIFT RSHIFT LALT RALT LCOMMAND RCOMMAND LCONTROL RCONTROL, as the qualifier bits name them.
    static const uint32_t values[8] = {0x80010000u, 0x80020000u, 0x80040000u, 0x80080000u,
                                       0x80100000u, 0x80200000u, 0x80400000u, 0x80800000u};
    return code >= 306 && code <= 313 ? values[code - 306] : 0;
}

void WindowToDisplayUnits(const lvDisplay *d, int wx, int wy, int *x, int *y)
{
    double sx = d && d->scaleX > 0 ? d->scaleX : 1.0, sy = d && d->scaleY > 0 ? d->scaleY : 1.0;
    *x = (int)((wx - (d ? d->marginLeft : 0)) / sx);
    *y = (int)((wy - (d ? d->marginTop : 0)) / sy);
}

void DisplayMouseUnits(const lvDisplay *d, int *x, int *y)
{
    int wx = 0, wy = 0;
    if (d) GetDisplayMousePos(d, &wx, &wy);
    WindowToDisplayUnits(d, wx, wy, x, y);
}

void ResetDisplayInput(lvDisplay *d)
{
    if (!d) return;
    lvDisplayEvents *e = &d->events;
    e->leftButton = e->rightButton = e->midButton = 0;
    memset(e->keyState, 0, sizeof(e->keyState));
    memset(e->rawKeyState, 0, sizeof(e->rawKeyState));
    ClearButtonPresses(d->bgpic);
}

static std::atomic<int> dialogsOpen{0};

void NoteDesktopDialog(int open) { dialogsOpen += open ? 1 : -1; }
int DesktopDialogOpen(void) { return dialogsOpen.load() > 0; }

int IsUserInputEvent(int type)
{
    switch (type) {
    case EVENT_LEFTMOUSE:
    case EVENT_RIGHTMOUSE:
    case EVENT_MIDMOUSE:
    case EVENT_KEY:
    case EVENT_RAWKEY:
    case EVENT_VANILLAKEY:
    case EVENT_WHEELUP:
    case EVENT_WHEELDOWN:
        return 1;
    default:
        return 0;
    }
}

static int blockingForbidden = 0;

void SetBlockingInputForbidden(int forbidden) { blockingForbidden = forbidden ? 1 : 0; }
// The event-loop word a plug-in sets (runtime tag 39) forbids the blocking waits too: a
// plug-in that runs the loop itself cannot have the script sit in a wait of its own.
int BlockingInputForbidden(void) { return blockingForbidden || GetRuntimeSwitches()->forbidModal; }

int InputWaitStep(lvState *L)
{
    lvEventLoopHooks hooks = GetEventLoopHooks();
    if (int code = hooks.WaitEvents(L)) return code;
    int code = 0;
    if (hooks.PollEvents(L, &code)) return code ? code : 1;
    return 0;
}
