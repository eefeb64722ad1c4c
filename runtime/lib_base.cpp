// lib_base.cpp - the base library: End and DebugPrint.
//
// End stores the exit code with the start-up code and ends the run with ERR_USERABORT,
// which is no error for the user: nothing is reported. DebugPrint joins the texts of its
// arguments with blanks and writes them with a line end to the debug output.
// Dependencies: vm/lvvm.h, runtime/startup.h, platform/lvplatform.h (debug channel).
// Limits: DebugPrint texts longer than the debug channel's piece size go out in pieces.
#include "runtime/lib_base.h"
#include "platform/lvplatform.h"
#include "runtime/startup.h"
#include <cmath>
#include <cstdio>
#include <string>

// ---- Helpers -----------------------------------------------------------------------------

// The text of one value, as the global "tostring" gives it when the script has one, and
// otherwise by the runtime's own rules (Nil, numbers as the machine formats them, ...).
static void AppendValueText(lvState *L, int index, std::string &out)
{
    PushString(L, "tostring");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) == LV_TFUNCTION) {
        PushCopy(L, index);
        CallFunction(L, 1, 1);
        size_t length = 0;
        const char *text = GetValueType(L, -1) == LV_TNIL ? nullptr : ValueToString(L, -1);
        if (text) {
            length = ValueStringLength(L, -1);
            out.append(text, length);
        } else {
            out += "Nil";
        }
        SetStackTop(L, -2);
        return;
    }
    SetStackTop(L, -2);
    char buffer[64];
    switch (GetValueType(L, index)) {
    case LV_TNIL:
    case LV_TNONE:
        out += "Nil";
        return;
    case LV_TBOOLEAN:
        out += ValueToBoolean(L, index) ? "true" : "false";
        return;
    case LV_TNUMBER:
        FormatNumber(ValueToNumber(L, index), buffer);
        out += buffer;
        return;
    case LV_TSTRING:
        out.append(ValueToString(L, index), ValueStringLength(L, index));
        return;
    case LV_TTABLE:
        std::snprintf(buffer, sizeof buffer, "Table: %p", GetValueAddress(L, index));
        break;
    case LV_TFUNCTION:
        std::snprintf(buffer, sizeof buffer, "Function: %p", GetValueAddress(L, index));
        break;
    case LV_TTHREAD:
        std::snprintf(buffer, sizeof buffer, "Thread: %p", GetValueAddress(L, index));
        break;
    default:
        std::snprintf(buffer, sizeof buffer, "UserData: %p", GetValueAddress(L, index));
        break;
    }
    out += buffer;
}

// ---- Commands ------------------------------------------------------------------------------

// End [code]: ends the run; the process exits with the code (default 0, truncated).
static int CmdEnd(lvState *L)
{
    int count = GetStackTop(L);
    if (count > 1) return ERR_TOOMANYARGS;
    int code = 0;
    if (count == 1) {
        double value = CheckNumberArg(L, 1);
        int64_t whole = NumberToInt64(value);
        code = (whole < INT32_MIN || whole > INT32_MAX) ? 0 : (int)whole;
    }
    SetEndCode(code);
    // Loops that wait for events end the run when they see the stop request.
    GetErrorState()->stopRequest = 1;
    return ERR_USERABORT;
}

// DebugPrint values...: the texts of the values joined with blanks, and a line end.
static int CmdDebugPrint(lvState *L)
{
    int count = GetStackTop(L);
    if (count < 1) return ERR_MISSINGPARAMTR;
    if (GetStartupSwitches()->noDebug) return 0;
    std::string line;
    for (int i = 1; i <= count; i++) {
        if (i > 1) line += ' ';
        AppendValueText(L, i, line);
    }
    line += '\n';
    PrintDebugText(line.c_str());
    return 0;
}

// ---- Tables ------------------------------------------------------------------------------------

static const lvCommandEntry BaseCommands[] = {
    {"DebugPrint", CmdDebugPrint},
    {"End", CmdEnd},
    {nullptr, nullptr},
};

static const lvConstantEntry BaseConstants[] = {
    {"LUMIVARRA", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 0},
    {"LV_VERSION", nullptr, 11},
    {"LV_REVISION", nullptr, 0},
    {"NIL", nullptr, 0},
    {"LONG", nullptr, 1},
    {"INTEGER", nullptr, 1},
    {"NUMBER", nullptr, 2},
    {"STRING", nullptr, 3},
    {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5},
    {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6},
    {"BYTE", nullptr, 7},
    {"USERDATA", nullptr, 8},
    {"LIGHTUSERDATA", nullptr, 9},
    {"THREAD", nullptr, 10},
    {"FLOAT", nullptr, 11},
    {"DOUBLE", nullptr, 12},
    {"BOOLEAN", nullptr, 13},
    {"VOID", nullptr, 14},
    {"ENCODING_ISO8859_1", nullptr, 0},
    {"ENCODING_RAW", nullptr, 0},
    {"ENCODING_UTF8", nullptr, 1},
    {"ENCODING_AMIGA", nullptr, 2},
    {"LV_WINDOWS", nullptr, 1},
    {"LV_LITTLE_ENDIAN", nullptr, 1},
    {nullptr, nullptr, 0},
};

int OpenBaseLibrary(lvState *L)
{
    RegisterLibrary(L, nullptr, BaseCommands, 0);
    return 0;
}

const lvConstantEntry *GetBaseConstants(void)
{
    return BaseConstants;
}
