// lib_pointer.cpp - the "pointer" library's commands: CreatePointer, FreePointer,
// SetPointer, ShowPointer, HidePointer, MovePointer, and the pointers' attributes.
// Depends on: ui/pointers.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "ui/pointers.h"

#include <climits>

#include "base/lverrors.h"
#include "platform/lvplatform_pointers.h"
#include "runtime/cmdsupport.h"
#include "vm/lvvm.h"

namespace {

int IntArg(lvState *L, int index, int fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : (int)v;
}

// CreatePointer(id or Nil, type, source[, frame][, hot x, hot y]) -> handle for Nil.
int CmdCreatePointer(lvState *L)
{
    CheckArgCount(L, 3, 6, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    int type = IntArg(L, 2, 0);
    // A numeric id is released first, before anything else is checked.
    if (!isNil) ReleasePointerById(lvObjectId{number, nullptr}, 0);
    lvObjectId source = {0, nullptr};
    int frame = 1, hotX = -1, hotY = -1;
    if (type == 36) {
        source.number = IntArg(L, 3, -1);
    } else {
        source = GetObjectIdArg(L, 3);
        int next = 4;
        if (type == 32) frame = IntArg(L, next++, 1);
        hotX = IntArg(L, next, -1);
        hotY = IntArg(L, next + 1, -1);
    }
    lvPointer *p = nullptr;
    if (int code = CreatePointerObject(L, number, isNil != 0, type, source, frame, hotX, hotY, &p)) return code;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&p->header));
    return 1;
}

int CmdFreePointer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return ReleasePointerById(GetObjectIdArg(L, 1), 1);
}

int CmdSetPointer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return SetPointerOfDisplay(GetObjectIdArg(L, 1));
}

// ShowPointer takes one argument it does not use.
int CmdShowPointer(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    ShowHideCurrentPointer(1);
    return 0;
}

int CmdHidePointer(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    ShowHideCurrentPointer(0);
    return 0;
}

int CmdMovePointer(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    return MovePointerOnDisplay(IntArg(L, 1, 0), IntArg(L, 2, 0));
}

int GetPointerAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvPointer *p;
    if (int code = FindPointerById(id, &p)) return code;
    switch (attribute) {
    case 0: PushNumber(L, p->width); return 1;
    case 1: PushNumber(L, p->height); return 1;
    case 9: PushNumber(L, p->kind); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

const lvCommandEntry PointerCommands[] = {
    {"CreatePointer", CmdCreatePointer}, {"FreePointer", CmdFreePointer}, {"SetPointer", CmdSetPointer},
    {"ShowPointer", CmdShowPointer},     {"HidePointer", CmdHidePointer}, {"MovePointer", CmdMovePointer},
    {nullptr, nullptr},
};

const lvConstantEntry PointerConstants[] = {
    {"POINTER", nullptr, 36},      {"ATTRWIDTH", nullptr, 0},   {"ATTRHEIGHT", nullptr, 1},
    {"ATTRTYPE", nullptr, 9},      {"STDPTR_SYSTEM", nullptr, 0}, {"STDPTR_BUSY", nullptr, 1},
    {"STDPTR_CUSTOM", nullptr, 2}, {nullptr, nullptr, 0},
};

}  // namespace

const lvConstantEntry *GetPointerConstants(void) { return PointerConstants; }

int OpenPointerLibrary(lvState *L)
{
    if (int code = RegisterCommandTable(L, PointerCommands, "pointer")) return code;
    if (int code = RegisterObjectType(LV_TYPE_POINTER, "Pointer images", PointerListHead(), GetPointerAttribute,
                                      nullptr, 0))
        return code;
    return InitPointers() ? ERR_POINTERIMG : 0;
}

void ClosePointerLibrary(lvState *, int) { FreeAllPointers(); }
