// lib_error.cpp - the error library: the ERR_ constants and the commands that read error
// messages, assert, switch the error mode, read the last error, raise a script's own
// message and install the script's error handler.
//
// Depends on: runtime/errors.h (state, messages, code table), runtime/cmdsupport.h,
// vm/lvvm.h.
#include <vector>

#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"
#include "runtime/startup.h"

// ==== Commands ======================================================================================

static int CmdGetErrorName(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code = static_cast<int>(NumberToInt64(CheckNumberArg(L, 1)));
    char text[LV_ERROR_ARG_SIZE];
    GetErrorText(code, text, sizeof text);
    PushString(L, text);
    return 1;
}

static int CmdAssert(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    if (GetStartupSwitches()->noDebug) return 0;
    int t = GetValueType(L, 1);
    bool failed = t == LV_TNIL || (t == LV_TNUMBER && ValueToNumber(L, 1) == 0) ||
                  (t == LV_TBOOLEAN && !ValueToBoolean(L, 1));
    if (failed) return ERR_ASSERTFAILED;
    PushCopy(L, 1);
    return 1;
}

static int CmdExitOnError(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    GetErrorState()->errorMode = CheckNumberArg(L, 1) != 0 ? 1 : 0;
    return 0;
}

int GetLastErrorCommand(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetErrorState()->lastError);
    return 1;
}

static int CmdError(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    SetErrorStringArg(CheckStringArg(L, 1, nullptr));
    return ERR_ERRORCALLED;
}

static void ReleaseHandler(lvState *L)
{
    lvErrorState *s = GetErrorState();
    if (s->handlerRef >= 0) ReleaseReference(L, LV_REGISTRYINDEX, s->handlerRef);
    s->handlerRef = -1;
}

static int CmdRaiseOnError(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    if (GetValueType(L, 1) != LV_TNIL) CheckFunctionArg(L, 1);
    ReleaseHandler(L);
    if (GetValueType(L, 1) == LV_TFUNCTION) {
        PushCopy(L, 1);
        GetErrorState()->handlerRef = CreateReference(L, LV_REGISTRYINDEX);
    }
    return 0;
}

// ==== Tables ==========================================================================================

const lvConstantEntry *GetErrorConstants()
{
    static const std::vector<lvConstantEntry> table = [] {
        std::vector<lvConstantEntry> rows;
        for (int i = 0; i < lvErrorCodeTableCount; i++)
            if (lvErrorCodeTable[i].name) rows.push_back({lvErrorCodeTable[i].name, nullptr, double(lvErrorCodeTable[i].code)});
        rows.push_back({nullptr, nullptr, 0});
        return rows;
    }();
    return table.data();
}

static const lvCommandEntry kErrorCommands[] = {
    {"Assert", CmdAssert},
    {"Error", CmdError},
    {"ExitOnError", CmdExitOnError},
    {"GetErrorName", CmdGetErrorName},
    {"GetLastError", GetLastErrorCommand},
    {"RaiseOnError", CmdRaiseOnError},
    {nullptr, nullptr},
};

int OpenErrorLibrary(lvState *L)
{
    SetLibraryCloseStep("error", CloseErrorLibrary);
    return RegisterCommandTable(L, kErrorCommands, "error");
}

void CloseErrorLibrary(lvState *L, int) { ReleaseHandler(L); }
