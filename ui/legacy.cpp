// legacy.cpp - legacy triggers and label jumps (see legacy.h).
// Depends on: ui/legacy.h, ui/input.h, ui/events.h, ui/display.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "ui/legacy.h"

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "ui/display.h"
#include "ui/events.h"
#include "ui/input.h"
#include "vm/lvvm.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>

struct lvLegacyTrigger {
    lvLegacyTrigger *next;
    int type;
    int identifier;
    int left, top, right, bottom;
    std::string key;
    int enabled;
};

struct lvLegacyState {
    lvLegacyTrigger *head;
    int allClick, allRightClick, allOver, allKey;
    int eventCode;
    int32_t lastKeyCode;
    lvLegacyTrigger *hover;
};

static lvLegacyState legacy = {};

int AddLegacyTrigger(int type, int id, int left, int top, int right, int bottom, const char *key)
{
    lvLegacyTrigger *t = new (std::nothrow) lvLegacyTrigger{nullptr, type, id, left, top, right, bottom,
                                                            key ? key : "", 1};
    if (!t) return ERR_MEM;
    lvLegacyTrigger **link = &legacy.head;
    while (*link) link = &(*link)->next;
    *link = t;
    return 0;
}

static lvLegacyTrigger *FindTrigger(int type, int id)
{
    for (lvLegacyTrigger *t = legacy.head; t; t = t->next)
        if (t->type == type && t->identifier == id) return t;
    return nullptr;
}

static void RemoveTrigger(lvLegacyTrigger *t)
{
    for (lvLegacyTrigger **link = &legacy.head; *link; link = &(*link)->next)
        if (*link == t) {
            *link = t->next;
            if (legacy.hover == t) legacy.hover = nullptr;
            delete t;
            return;
        }
}

void ClearLegacyTriggers(void)
{
    while (legacy.head) RemoveTrigger(legacy.head);
}

int HaveLegacyTriggers(void) { return legacy.head != nullptr; }
int32_t LegacyLastKeyCode(void) { return legacy.lastKeyCode; }
int LegacyEventCode(void) { return legacy.eventCode; }

static bool Inside(const lvLegacyTrigger *t, int x, int y)
{
    return x >= t->left && x <= t->right && y >= t->top && y <= t->bottom;
}

static void LabelName(char *label, int size, const char *stem, int all, const lvLegacyTrigger *t)
{
    if (all) {
        snprintf(label, size, "%sALL", stem);
        legacy.eventCode = t->identifier;
    } else {
        snprintf(label, size, "%s%d", stem, t->identifier);
    }
}

void MapEventToLabel(const lvFetchedEvent *event, char *label, int size)
{
    label[0] = 0;
    char keyText[32] = "";
    bool key = event->type == EVENT_KEY && event->down;
    bool click = event->type == EVENT_LEFTMOUSE && event->down;
    bool right = event->type == EVENT_RIGHTMOUSE && event->down;
    if (!key && !click && !right) return;
    if (key) LegacyKeyName(keyText, event->keyCode, sizeof(keyText));
    int x = 0, y = 0;
    WindowToDisplayUnits(GetCurrentDisplay(), event->x, event->y, &x, &y);
    for (const lvLegacyTrigger *t = legacy.head; t; t = t->next) {
        if (!t->enabled) continue;
        if (t->type == ONBUTTONCLICK && click && Inside(t, x, y)) {
            LabelName(label, size, "ONBUTTONCLICK", legacy.allClick, t);
            return;
        }
        if (t->type == ONKEYDOWN && key && !strcasecmp(t->key.c_str(), keyText)) {
            LabelName(label, size, "ONKEYDOWN", legacy.allKey, t);
            legacy.lastKeyCode = event->keyCode;
            return;
        }
        if (t->type == ONBUTTONRIGHTCLICK && right && Inside(t, x, y)) {
            LabelName(label, size, "ONBUTTONRIGHTCLICK", legacy.allRightClick, t);
            return;
        }
    }
}

static int QueueJump(lvState *L, int32_t labelIndex)
{
    const lvEventRuntimeHooks *runtime = EventRuntime();
    int32_t current = runtime->CurrentInstructionIndex(L);
    runtime->SetJumpOffset(L, labelIndex - current);
    lvEventCallback r;
    ClearCallbackRecord(&r);
    r.kind = CALLBACK_LABELJUMP;
    r.a = labelIndex - current;
    r.b = current;
    return QueueCallback(&r, 1);
}

int QueueLegacyJumps(lvState *L)
{
    lvFetchedEvent event;
    for (int position = 0; FetchEvent(L, position, &event, 0); position++) {
        if (!event.display) continue;
        char label[64];
        MapEventToLabel(&event, label, sizeof(label));
        if (!label[0]) continue;
        int index = FindLabel(L, label);
        if (index < 0) continue;
        DropEvents(L, position, 0);
        if (int code = QueueJump(L, index)) return code;
    }
    return 0;
}

int LegacyHover(lvState *L)
{
    lvDisplay *d = GetCurrentDisplay();
    if (!legacy.head || !d || d->state != DISPSTATE_OPEN) return 0;
    int x = 0, y = 0;
    DisplayMouseUnits(d, &x, &y);
    for (lvLegacyTrigger *t = legacy.head; t; t = t->next) {
        if (!t->enabled || t->type != ONBUTTONOVER || !Inside(t, x, y)) continue;
        char label[64];
        LabelName(label, sizeof(label), "ONBUTTONOVER", legacy.allOver, t);
        legacy.hover = t;
        int index = FindLabel(L, label);
        if (index >= 0)
            if (int code = QueueJump(L, index)) return code;
    }
    return 0;
}

// ---- Commands ------------------------------------------------------------------------------

static int IntArg(lvState *L, int index)
{
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

static int CmdCreateButton(lvState *L)
{
    CheckArgCount(L, 5, 5, 0, 0);
    int id = IntArg(L, 1), l = IntArg(L, 2), t = IntArg(L, 3), r = IntArg(L, 4), b = IntArg(L, 5);
    int code = AddLegacyTrigger(ONBUTTONOVER, id, l, t, r, b, nullptr);
    AddLegacyTrigger(ONBUTTONCLICK, id, l, t, r, b, nullptr);
    AddLegacyTrigger(ONBUTTONRIGHTCLICK, id, l, t, r, b, nullptr);
    return code;
}

static int CmdCreateKeyDown(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    return AddLegacyTrigger(ONKEYDOWN, IntArg(L, 1), 0, 0, 0, 0, CheckStringArg(L, 2, nullptr));
}

static int CmdModifyButton(lvState *L)
{
    CheckArgCount(L, 5, 5, 0, 0);
    int id = IntArg(L, 1), l = IntArg(L, 2), t = IntArg(L, 3), r = IntArg(L, 4), b = IntArg(L, 5);
    for (int type : {ONBUTTONOVER, ONBUTTONCLICK, ONBUTTONRIGHTCLICK})
        if (lvLegacyTrigger *trigger = FindTrigger(type, id)) {
            trigger->left = l;
            trigger->top = t;
            trigger->right = r;
            trigger->bottom = b;
        }
    return 0;
}

static int CmdModifyKeyDown(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    const char *key = CheckStringArg(L, 2, nullptr);
    if (lvLegacyTrigger *t = FindTrigger(ONKEYDOWN, IntArg(L, 1))) {
        t->left = t->top = t->right = t->bottom = 0;
        t->key = key;
    }
    return 0;
}

static int CmdRemoveButton(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int id = IntArg(L, 1);
    for (int type : {ONBUTTONOVER, ONBUTTONCLICK, ONBUTTONRIGHTCLICK})
        if (lvLegacyTrigger *t = FindTrigger(type, id)) RemoveTrigger(t);
    return 0;
}

static int CmdRemoveKeyDown(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    if (lvLegacyTrigger *t = FindTrigger(ONKEYDOWN, IntArg(L, 1))) RemoveTrigger(t);
    return 0;
}

static int CmdClearEvents(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    ClearLegacyTriggers();
    return 0;
}

static int SetEventEnabled(lvState *L, int value)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int type = IntArg(L, 1), id = IntArg(L, 2);
    if (type == LEGACY_CLOSEWINDOW) {
        if (lvDisplay *d = GetCurrentDisplay()) {
            d->events.closeHandled = value;
            SetDisplayCloseHandled(d, value);
        }
    }
    int *all[] = {&legacy.allClick, &legacy.allRightClick, &legacy.allOver, &legacy.allKey};
    if (type >= ONBUTTONCLICKALL && type <= ONKEYDOWNALL) *all[type - ONBUTTONCLICKALL] = value;
    if (lvLegacyTrigger *t = FindTrigger(type, id)) t->enabled = value;
    return 0;
}

static int CmdEnableEvent(lvState *L) { return SetEventEnabled(L, 1); }
static int CmdDisableEvent(lvState *L) { return SetEventEnabled(L, 0); }

static int CmdGetEventCode(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, legacy.eventCode);
    return 1;
}

static int CmdWhileMouseOn(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (BlockingInputForbidden()) return ERR_FORBIDMODAL;
    while (legacy.hover) {
        int x = 0, y = 0;
        DisplayMouseUnits(GetCurrentDisplay(), &x, &y);
        if (!Inside(legacy.hover, x, y)) break;
        if (int code = GatherEvents(L, 1)) return code;
        lvEventCallback ran;
        ClearCallbackRecord(&ran);
        int result = RunQueuedCallbacks(L, &ran);
        if (result > 0) return result;
        if (result == -1) return -2;  // back to this command after the label's code
        if (ran.kind != CALLBACK_NONE) break;
        int step = InputWaitStep(L);
        if (step > 1) return step;
        if (step == 1) break;
    }
    return 0;
}

static int CmdBreakWhileMouseOn(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    legacy.hover = nullptr;
    return 0;
}

const lvCommandEntry LegacyCommands[] = {
    {"CreateButton", CmdCreateButton},
    {"CreateKeyDown", CmdCreateKeyDown},
    {"ModifyButton", CmdModifyButton},
    {"ModifyKeyDown", CmdModifyKeyDown},
    {"RemoveButton", CmdRemoveButton},
    {"RemoveKeyDown", CmdRemoveKeyDown},
    {"ClearEvents", CmdClearEvents},
    {"EnableEvent", CmdEnableEvent},
    {"DisableEvent", CmdDisableEvent},
    {"GetEventCode", CmdGetEventCode},
    {"WhileMouseOn", CmdWhileMouseOn},
    {"BreakWhileMouseOn", CmdBreakWhileMouseOn},
    {nullptr, nullptr},
};
