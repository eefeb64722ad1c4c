// lib_base.cpp - the base library: End, the debug commands, IIf, ToString, the console
// key commands and the constants that describe the runtime, value types and encodings.
//
// Depends on: runtime/cmdsupport.h (argument counts, debug output, console input),
// runtime/errors.h (the stop request), runtime/startup.h (End's code, the debug switches),
// vm/lvvm.h. Opened last of all libraries.
// Limits: the console commands read the console reader installed in cmdsupport (standard
// input by default); DebugPrompt lines are cut at 1023 bytes.
#include <cstdio>
#include <cstring>

#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "vm/lvvm.h"
#include <vector>
#include "runtime/errors.h"
#include "runtime/lib_base.h"
#include "runtime/startup.h"

// ==== End of the run ============================================================================

// End [code]: hands the code to start-up (the process exits with it, even when ERRORCODE
// is set) and stops the run without a report.
static int CmdEnd(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int code = 0;
    if (GetStackTop(L) >= 1) {
        int64_t whole = NumberToInt64(CheckNumberArg(L, 1));
        // An exit code beyond the int range (or NaN) is no code the shell could tell apart.
        code = whole < INT32_MIN || whole > INT32_MAX ? 0 : static_cast<int>(whole);
    }
    SetEndCode(code);
    GetErrorState()->stopRequest = 1;
    RequestScriptStop(1);
    return ERR_USERABORT;
}

// ==== Debug commands ==============================================================================

// Text of the value at index as the global tostring makes it (the ToString command unless
// the script replaced it); left on the stack top.
static void PushToStringOf(lvState *L, int index);

// Joins every argument's text with blanks and writes it, with a line end when asked.
static int PrintArguments(lvState *L, bool lineEnd)
{
    CheckArgCount(L, 1, -1, 0, 0);
    if (GetStartupSwitches()->noDebug) return 0;
    int n = GetStackTop(L);
    lvStringBuffer b;
    InitStringBuffer(L, &b);
    for (int i = 1; i <= n; i++) {
        if (i > 1) AppendBufferString(&b, " ");
        PushToStringOf(L, i);
        AppendBufferValue(&b);
    }
    if (lineEnd) AppendBufferString(&b, "\n");
    FinishStringBuffer(&b);
    PrintOutputBytes(ValueToString(L, -1), ValueStringLength(L, -1));
    return 0;
}

static int CmdDebugPrint(lvState *L) { return PrintArguments(L, true); }
static int CmdDebugPrintNR(lvState *L) { return PrintArguments(L, false); }

static int CmdDebugPrompt(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const char *prompt = CheckStringArg(L, 1, nullptr);
    if (GetStartupSwitches()->noDebug) {
        PushString(L, "");
        return 1;
    }
    PrintOutput(prompt);
    // 2048 characters of up to four bytes each.
    std::vector<char> line(8193);
    if (!GetConsoleInput()->ReadLine(line.data(), line.size())) {
        if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return ERR_USERABORT;
        line[0] = 0;
    }
    PushString(L, line.data());
    return 1;
}

static int CmdDebugOutput(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    GetStartupSwitches()->debugOutput = CheckNumberArg(L, 1) != 0;
    return 0;
}

// ==== IIf and ToString ============================================================================

static int CmdIIf(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    bool truth;
    switch (GetValueType(L, 1)) {
    case LV_TNIL: truth = false; break;
    case LV_TBOOLEAN: truth = ValueToBoolean(L, 1) != 0; break;  // True and False as the API pushes them
    case LV_TNUMBER: truth = ValueToNumber(L, 1) != 0; break;
    case LV_TSTRING: truth = ValueStringLength(L, 1) != 0; break;
    default: RaiseError(L, ERR_WRONGDTYPE);
    }
    PushCopy(L, truth ? 2 : 3);
    return 1;
}

// The text of a value without metamethods.
static void PushPlainText(lvState *L, int index)
{
    char text[64];
    switch (GetValueType(L, index)) {
    case LV_TNIL:
    case LV_TNONE: PushString(L, "Nil"); return;
    case LV_TBOOLEAN: PushString(L, ValueToBoolean(L, index) ? "true" : "false"); return;
    case LV_TNUMBER: {
        int n = FormatNumber(ValueToNumber(L, index), text);
        PushSizedString(L, text, static_cast<size_t>(n));
        return;
    }
    case LV_TSTRING: PushCopy(L, index); return;
    case LV_TTABLE: std::snprintf(text, sizeof text, "Table: %p", GetValueAddress(L, index)); break;
    case LV_TFUNCTION: std::snprintf(text, sizeof text, "Function: %p", GetValueAddress(L, index)); break;
    case LV_TTHREAD: std::snprintf(text, sizeof text, "Thread: %p", GetValueAddress(L, index)); break;
    default: std::snprintf(text, sizeof text, "UserData: %p", GetValueAddress(L, index)); break;
    }
    PushString(L, text);
}

// ToString's rule: a "__tostring" metamethod decides when present.
static void PushValueText(lvState *L, int index)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    if (CallMetaMethod(L, index, "__tostring")) return;
    PushPlainText(L, index);
}

static void PushToStringOf(lvState *L, int index)
{
    PushString(L, "tostring");
    GetTableValue(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) == LV_TFUNCTION) {
        PushCopy(L, index);
        CallFunction(L, 1, 1);
        if (GetValueType(L, -1) != LV_TSTRING) {
            // A replaced tostring that answers no text: show what it answered.
            PushPlainText(L, -1);
            RemoveValue(L, -2);
        }
        return;
    }
    SetStackTop(L, -2);
    PushValueText(L, index);
}

static int CmdToString(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushValueText(L, 1);
    return 1;
}

// ==== Console keys ===================================================================================

static int CmdWaitKey(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (GetConsoleInput()->ReadKey() == LV_CONSOLE_KEY_STOPPED) return ERR_USERABORT;
    return 0;
}

static int CmdGetKey(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    const lvConsoleInput *input = GetConsoleInput();
    int key = input->PollKey ? input->PollKey() : input->ReadKey();
    if (key == LV_CONSOLE_KEY_STOPPED) return ERR_USERABORT;
    // The key as one character of the script's text ("?" when ISO-8859-1 has none).
    char text[8];
    size_t length = 0;
    if (key >= 0) {
        if (GetGlobalEncoding() == LV_ENCODING_UTF8 && key >= 0x80) {
            int n = PutUtf8(text, static_cast<uint32_t>(key));
            length = n > 0 ? static_cast<size_t>(n) : 0;
        } else {
            text[0] = key < 256 ? static_cast<char>(key) : '?';
            length = 1;
        }
    }
    PushSizedString(L, text, length);
    return 1;
}

// ==== Tables ==========================================================================================

static const lvConstantEntry kBaseConstants[] = {
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

const lvConstantEntry *GetBaseConstants(void) { return kBaseConstants; }

static const lvCommandEntry kBaseCommands[] = {
    {"DebugOutput", CmdDebugOutput},
    {"DebugPrint", CmdDebugPrint},
    {"DebugPrintNR", CmdDebugPrintNR},
    {"DebugPrompt", CmdDebugPrompt},
    {"DebugStr", CmdDebugPrint},
    {"DebugVal", CmdDebugPrint},
    {"End", CmdEnd},
    {"GetKey", CmdGetKey},
    {"IIf", CmdIIf},
    {"ToString", CmdToString},
    {"WaitKey", CmdWaitKey},
    {nullptr, nullptr},
};

int OpenBaseLibrary(lvState *L) { return RegisterCommandTable(L, kBaseCommands, "base"); }
