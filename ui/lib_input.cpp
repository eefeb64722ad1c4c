// lib_input.cpp - the event library's commands of buttons and the input state: making,
// deleting, enabling and listing buttons, the key and mouse waits and tests, the pointer
// in display units, the quit switches and resetting the key states.
// Depends on: ui/buttons.h, ui/input.h, ui/display.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "ui/buttons.h"
#include "ui/input.h"
#include "ui/legacy.h"

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "ui/display.h"
#include "vm/lvvm.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>

static int IntArg(lvState *L, int index)
{
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// ---- Buttons ----------------------------------------------------------------------------

// The BGPic buttons go to: the display's own while it double-buffers, else the current
// output when it is the display or a BGPic.
static int ButtonTarget(lvBGPic **out)
{
    *out = nullptr;
    lvDisplay *d = GetCurrentDisplay();
    if (d && d->select.doubleBufferActive && d->bgpic) {
        *out = d->bgpic;
        return 0;
    }
    lvBGPic *output = GetCurrentOutput();
    if (!output) return ERR_BGPICBUTTON;
    if (d && output == d->bgpic) *out = output;
    else if (output->selectedType == 1 && output->selectedRecord) *out = (lvBGPic *)output->selectedRecord;
    else if (output->header.type == 1 && output->selectedType == 0) *out = output;
    return *out ? 0 : ERR_BGPICBUTTON;
}

static lvEventId ButtonIdArg(lvState *L, int index)
{
    lvObjectId id = GetObjectIdArg(L, index);
    return lvEventId{(uintptr_t)id.number, (uintptr_t)id.handle};
}

// Reads the eight functions; 0 or ERR_FUNCEXPECTED (references made so far released).
static int ReadButtonFunctions(lvState *L, int index, lvButtonRequest *r)
{
    for (int i = 0; i < BUTTONFN_COUNT; i++) {
        int type = PushFieldValue(L, index, ButtonFunctionNames[i]);
        if (type == LV_TFUNCTION) {
            r->functions[i] = CreateReference(L, LV_REGISTRYINDEX);  // pops the value
            continue;
        }
        SetStackTop(L, -2);
        if (type != LV_TNIL) {
            for (int j = 0; j < i; j++)
                if (r->functions[j] != -1) ReleaseReference(L, LV_REGISTRYINDEX, r->functions[j]);
            for (int32_t &f : r->functions) f = -1;
            SetErrorNumberArg(index);
            return ERR_FUNCEXPECTED;
        }
    }
    return 0;
}

static int CmdMakeButton(lvState *L)
{
    CheckArgCount(L, 3, 9, 0, 0);
    lvButtonRequest r = {};
    for (int32_t &f : r.functions) f = -1;
    r.userData = -1;
    r.nilId = GetValueType(L, 1) == LV_TNIL;
    if (!r.nilId) r.id = ButtonIdArg(L, 1);
    r.type = IntArg(L, 2);
    lvBGPic *bgpic = nullptr;
    if (int code = ButtonTarget(&bgpic)) return code;
    int tableIndex;
    if (r.type == SIMPLEBUTTON) {
        r.x = IntArg(L, 3);
        r.y = IntArg(L, 4);
        r.width = IntArg(L, 5);
        r.height = IntArg(L, 6);
        tableIndex = 7;
        int width = bgpic->scaledWidth ? bgpic->scaledWidth : bgpic->baseWidth;
        int height = bgpic->scaledHeight ? bgpic->scaledHeight : bgpic->baseHeight;
        if (r.x == LV_CENTER) r.x = (width - r.width) / 2;
        if (r.y == LV_CENTER) r.y = (height - r.height) / 2;
    } else if (r.type == LAYERBUTTON) {
        if (GetValueType(L, 3) == LV_TSTRING) r.layerName = CheckStringArg(L, 3, nullptr);
        else r.layerPosition = IntArg(L, 3);
        if (GetValueType(L, 4) == LV_TTABLE) {
            tableIndex = 4;
            GetFieldInt(L, 4, "pixelexact", &r.pixelExact);
            GetFieldInt(L, 4, "noautohide", &r.noAutoHide);
            GetFieldInt(L, 4, "zorder", &r.zOrder);
        } else {
            r.pixelExact = IntArg(L, 4);
            r.noAutoHide = IntArg(L, 5);
            tableIndex = 6;
        }
    } else {
        return ERR_WRONGUSAGE;
    }
    // A numbered button replaces the one of that number (its absence is no error).
    if (!r.nilId) {
        // The lookup only leaves its number in the message argument when it finds none;
        // that is put back, and nothing else of the error state is touched.
        lvErrorState *errors = GetErrorState();
        int numberArg = errors->numberArg;
        lvBGPicButton *old = nullptr;
        if (FindBGPicButton(bgpic, r.id, &old) == 0) DeleteBGPicButton(L, bgpic, old);
        errors->numberArg = numberArg;
    }
    if (GetValueType(L, tableIndex) != LV_TTABLE) {
        SetErrorNumberArg(tableIndex);
        return ERR_TABEXPECTED;
    }
    if (int code = ReadButtonFunctions(L, tableIndex, &r)) return code;
    if (GetStackTop(L) > tableIndex) {
        PushCopy(L, tableIndex + 1);
        r.userData = CreateReference(L, LV_REGISTRYINDEX);
    }
    lvBGPicButton *made = nullptr;
    if (int code = MakeBGPicButton(L, bgpic, &r, &made)) return code;
    if (r.nilId) {
        PushPointer(L, made);
        return 1;
    }
    return 0;
}

static int FindButtonArg(lvState *L, lvBGPic **bgpic, lvBGPicButton **button)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvEventId id = ButtonIdArg(L, 1);
    if (int code = ButtonTarget(bgpic)) return code;
    return FindBGPicButton(*bgpic, id, button);
}

static int CmdDeleteButton(lvState *L)
{
    lvBGPic *bgpic;
    lvBGPicButton *b;
    if (int code = FindButtonArg(L, &bgpic, &b)) return code;
    DeleteBGPicButton(L, bgpic, b);
    return 0;
}

static int CmdEnableButton(lvState *L)
{
    lvBGPic *bgpic;
    lvBGPicButton *b;
    if (int code = FindButtonArg(L, &bgpic, &b)) return code;
    SetButtonEnabled(b, 1);
    return 0;
}

static int CmdDisableButton(lvState *L)
{
    lvBGPic *bgpic;
    lvBGPicButton *b;
    if (int code = FindButtonArg(L, &bgpic, &b)) return code;
    SetButtonEnabled(b, 0);
    return 0;
}

static int CmdDumpButtons(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvBGPic *bgpic = nullptr;
    ButtonTarget(&bgpic);
    char line[256];
    snprintf(line, sizeof(line), "BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(lvBGPicButton): %d\nButtons: %d\n",
             bgpic ? (int)bgpic->header.identifier : 0, (void *)bgpic, (int)sizeof(lvBGPicButton), CountButtons(bgpic));
    PrintOutput(line);
    int n = 1;
    for (lvBGPicButton *b = bgpic ? (lvBGPicButton *)bgpic->buttons : nullptr; b; b = b->next, n++) {
        snprintf(line, sizeof(line), "(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", n, b->type, b->left, b->top,
                 b->right, b->bottom);
        PrintOutput(line);
    }
    return 0;
}

// ---- Keys and mouse ------------------------------------------------------------------------

static lvDisplayEvents *CurrentInput(lvDisplay **out = nullptr)
{
    lvDisplay *d = GetCurrentDisplay();
    if (out) *out = d;
    return d ? &d->events : nullptr;
}

// The key argument: a code, or -1 for "any"; raises nothing, answers ERR_WRONGUSAGE.
static int KeyArg(lvState *L, int32_t *code)
{
    const char *name = CheckStringArg(L, 1, nullptr);
    if (!strcasecmp(name, "any")) {
        *code = -1;
        return 0;
    }
    *code = KeyCodeFromName(name);
    return *code ? 0 : ERR_WRONGUSAGE;
}

// The lowest key code that is down, -1 none.
static int32_t FirstKeyDown(const uint8_t *table)
{
    for (int32_t i = 0; i < LV_KEY_CODES; i++)
        if (table[i]) return i;
    return -1;
}

static bool KeyIsDown(const uint8_t *table, int32_t code)
{
    return code < 0 ? FirstKeyDown(table) >= 0 : table[code] != 0;
}

// Waits while (wantDown 0) or until (wantDown 1) the condition holds. 0 done, 1 ended
// early, or a code.
template <typename Condition>
static int WaitFor(lvState *L, Condition holds)
{
    while (!holds()) {
        int step = InputWaitStep(L);
        if (step) return step;
    }
    return 0;
}

static int CmdWaitKeyDown(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    if (BlockingInputForbidden()) return ERR_FORBIDMODAL;
    int32_t code;
    if (int err = KeyArg(L, &code)) return err;
    int raw = GetStackTop(L) >= 2 ? IntArg(L, 2) : 0;
    lvDisplayEvents *e = CurrentInput();
    if (!e) return ERR_WRONGUSAGE;
    const uint8_t *table = raw ? e->rawKeyState : e->keyState;
    const uint8_t *presses = raw ? e->rawKeyPresses : e->keyPresses;
    int32_t seen = -1;
    int step = WaitFor(L, [&] { return !KeyIsDown(table, code); });
    // A press whose release came in the same pass never shows in the state table: the
    // press counts tell of it.
    uint8_t before[LV_KEY_CODES];
    memcpy(before, presses, sizeof(before));
    if (step == 0) step = WaitFor(L, [&] {
        if (code >= 0) {
            if (!table[code] && presses[code] == before[code]) return false;
            seen = code;
            return true;
        }
        for (int32_t i = 0; i < LV_KEY_CODES; i++)
            if (table[i] || presses[i] != before[i]) {
                seen = i;
                return true;
            }
        return false;
    });
    if (step == 0) step = WaitFor(L, [&] { return !KeyIsDown(table, code); });
    if (step > 1) return step;
    DropEvents(L, -1, 1);
    if (code < 0) {
        char name[32] = "";
        if (seen >= 0) LegacyKeyName(name, seen, sizeof(name));
        PushString(L, name);
        return 1;
    }
    return 0;
}

static int CmdIsKeyDown(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int32_t code;
    if (int err = KeyArg(L, &code)) return err;
    int raw = GetStackTop(L) >= 2 ? IntArg(L, 2) : 0;
    lvDisplay *d;
    lvDisplayEvents *e = CurrentInput(&d);
    if (!e) {
        PushNumber(L, 0);
        return 1;
    }
    if (!raw && code >= LVKEY_LSHIFT && code <= LVKEY_RCONTROL) {
        uint32_t value = ModifierQualifier(code);
        PushNumber(L, (GetDisplayQualifiers(d) & value) == value ? 1 : 0);
        return 1;
    }
    const uint8_t *table = raw ? e->rawKeyState : e->keyState;
    if (code < 0) {
        int32_t first = FirstKeyDown(table);
        if (first < 0) {
            PushNumber(L, 0);
            return 1;
        }
        char name[32];
        LegacyKeyName(name, first, sizeof(name));
        PushNumber(L, 1);
        PushString(L, name);
        return 2;
    }
    PushNumber(L, table[code] ? 1 : 0);
    return 1;
}

static uint8_t *MouseState(lvDisplayEvents *e, int which)
{
    return which == 0 ? &e->leftButton : which == 1 ? &e->rightButton : &e->midButton;
}

static int WaitMouse(lvState *L, int which)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (BlockingInputForbidden()) return ERR_FORBIDMODAL;
    lvDisplayEvents *e = CurrentInput();
    if (!e) return ERR_WRONGUSAGE;
    uint8_t *state = MouseState(e, which);
    int step = WaitFor(L, [&] { return *state != 0; });
    if (step == 0) step = WaitFor(L, [&] { return *state == 0; });
    if (step > 1) return step;
    DropEvents(L, -1, 1);
    return 0;
}

static int CmdWaitLeftMouse(lvState *L) { return WaitMouse(L, 0); }
static int CmdWaitRightMouse(lvState *L) { return WaitMouse(L, 1); }
static int CmdWaitMidMouse(lvState *L) { return WaitMouse(L, 2); }

static int WhileMouse(lvState *L, int which)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (BlockingInputForbidden()) return ERR_FORBIDMODAL;
    lvDisplayEvents *e = CurrentInput();
    if (!e) return 0;
    uint8_t *state = MouseState(e, which);
    int step = WaitFor(L, [&] { return *state == 0; });
    return step > 1 ? step : 0;
}

static int CmdWhileMouseDown(lvState *L) { return WhileMouse(L, 0); }
static int CmdWhileRightMouseDown(lvState *L) { return WhileMouse(L, 1); }

static int CmdWhileKeyDown(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (BlockingInputForbidden()) return ERR_FORBIDMODAL;
    lvDisplayEvents *e = CurrentInput();
    int32_t code = LegacyLastKeyCode();
    if (!e || code <= 0 || code >= LV_KEY_CODES) return 0;
    int step = WaitFor(L, [&] { return e->keyState[code] == 0; });
    return step > 1 ? step : 0;
}

static int IsMouse(lvState *L, int which)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvDisplayEvents *e = CurrentInput();
    PushNumber(L, e && *MouseState(e, which) ? 1 : 0);
    return 1;
}

static int CmdIsLeftMouse(lvState *L) { return IsMouse(L, 0); }
static int CmdIsRightMouse(lvState *L) { return IsMouse(L, 1); }
static int CmdIsMidMouse(lvState *L) { return IsMouse(L, 2); }

static int MouseAxis(lvState *L, int axis)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int x = 0, y = 0;
    DisplayMouseUnits(GetCurrentDisplay(), &x, &y);
    PushNumber(L, axis ? y : x);
    return 1;
}

static int CmdMouseX(lvState *L) { return MouseAxis(L, 0); }
static int CmdMouseY(lvState *L) { return MouseAxis(L, 1); }

static int SetQuitSwitch(lvState *L, int lvQuitSwitches::*field)
{
    CheckArgCount(L, 1, 1, 0, 0);
    GetQuitSwitches()->*field = IntArg(L, 1) ? 1 : 0;
    return 0;
}

static int CmdLeftMouseQuit(lvState *L) { return SetQuitSwitch(L, &lvQuitSwitches::leftMouse); }
static int CmdEscapeQuit(lvState *L) { return SetQuitSwitch(L, &lvQuitSwitches::escape); }
static int CmdCtrlCQuit(lvState *L) { return SetQuitSwitch(L, &lvQuitSwitches::ctrlC); }

static int CmdResetKeyStates(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    ResetDisplayInput(GetCurrentDisplay());
    return 0;
}

const lvCommandEntry InputCommands[] = {
    {"MakeButton", CmdMakeButton},
    {"DeleteButton", CmdDeleteButton},
    {"EnableButton", CmdEnableButton},
    {"DisableButton", CmdDisableButton},
    {"DumpButtons", CmdDumpButtons},
    {"WaitKeyDown", CmdWaitKeyDown},
    {"IsKeyDown", CmdIsKeyDown},
    {"WaitLeftMouse", CmdWaitLeftMouse},
    {"WaitRightMouse", CmdWaitRightMouse},
    {"WaitMidMouse", CmdWaitMidMouse},
    {"WhileMouseDown", CmdWhileMouseDown},
    {"WhileRightMouseDown", CmdWhileRightMouseDown},
    {"WhileKeyDown", CmdWhileKeyDown},
    {"IsLeftMouse", CmdIsLeftMouse},
    {"IsRightMouse", CmdIsRightMouse},
    {"IsMidMouse", CmdIsMidMouse},
    {"MouseX", CmdMouseX},
    {"MouseY", CmdMouseY},
    {"LeftMouseQuit", CmdLeftMouseQuit},
    {"EscapeQuit", CmdEscapeQuit},
    {"CtrlCQuit", CmdCtrlCQuit},
    {"ResetKeyStates", CmdResetKeyStates},
    {nullptr, nullptr},
};
