// lib_system.cpp - the commands of the "system" library: version and machine facts,
// memory and collector figures, type queries, constants by name, system folders, the
// default encodings, adapter and loader lists, the compatibility switches, the line-hook
// switch, raw pointers, the shell, and coroutines.
// Dependencies: vm/lvvm.h, libs/strings_engine.h (string default encoding), runtime/startup.h (line hook), runtime/errors.h (switches,
// message arguments), runtime/encoding.h (case-blind names), platform/lvplatform.h.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/lvplatform_tray.h"
#include "libs/lib_core2.h"
#include "libs/math_engine.h"
#include "libs/strings_engine.h"
#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/plugin.h"
#include "runtime/startup.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"

// ---- Settings ------------------------------------------------------------------------------------------

static char gDefaultAdapters[LV_ADAPTER_SLOTS][LV_DEFAULT_LIST_SIZE];
static char gDefaultLoaders[LV_LOADER_SLOTS][LV_DEFAULT_LIST_SIZE];
static int gDefaultTextEncoding = 1;
static lvLegacySwitches gLegacySwitches;

static void CopySlot(const char *slot, char *buffer, size_t size)
{
    if (size == 0) return;
    std::snprintf(buffer, size, "%s", slot ? slot : "");
}

void CopyDefaultAdapter(int kind, char *buffer, size_t size)
{
    CopySlot(kind >= 0 && kind < LV_ADAPTER_SLOTS ? gDefaultAdapters[kind] : nullptr, buffer, size);
}

void CopyDefaultLoader(int kind, char *buffer, size_t size)
{
    CopySlot(kind >= 0 && kind < LV_LOADER_SLOTS ? gDefaultLoaders[kind] : nullptr, buffer, size);
}

int GetDefaultTextEncoding(void) { return gDefaultTextEncoding; }
void SetDefaultTextEncoding(int encoding) { gDefaultTextEncoding = encoding ? 1 : 0; }
lvLegacySwitches *GetLegacySwitches(void) { return &gLegacySwitches; }

// ---- Machine and runtime facts ---------------------------------------------------------------------------

enum { MEMTYPE_CHIP = 0, MEMTYPE_FAST = 1 };

static int CmdGetMemoryInfo(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int type = NumberToS32(CheckNumberArg(L, 1));
    if (type != MEMTYPE_CHIP && type != MEMTYPE_FAST) return ERR_WRONGUSAGE;
    PushNumber(L, static_cast<double>(GetFreeMemory()));
    return 1;
}

static int CmdGetType(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int number = 255;
    switch (GetValueType(L, 1)) {
    case LV_TNIL: number = 0; break;
    case LV_TNUMBER: number = 2; break;
    case LV_TSTRING: number = 3; break;
    case LV_TTABLE: number = 4; break;
    case LV_TFUNCTION: number = 5; break;
    case LV_TUSERDATA: number = 8; break;
    case LV_TPOINTER: number = 9; break;
    case LV_TTHREAD: number = 10; break;
    default: break;
    }
    PushNumber(L, number);
    return 1;
}

static int CmdGCInfo(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetMemoryInUse(L));
    PushNumber(L, GetCollectThreshold(L));
    return 2;
}

static void (*collectGarbageHook)(lvState *L);
void SetCollectGarbageHook(void (*hook)(lvState *L)) { collectGarbageHook = hook; }

static int CmdCollectGarbage(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int64_t limit = NumberToInt64(GetOptionalNumberArg(L, 1, 0));
    SetCollectThreshold(L, limit < 0 ? 0 : limit > INT32_MAX ? INT32_MAX : static_cast<int>(limit));
    if (collectGarbageHook) collectGarbageHook(L);
    return 0;
}

// This build's facts: the player of version 11.0 on 64-bit Linux. No plug-ins are loaded
// by this build, so the plug-in table is empty.
static int CmdGetVersion(lvState *L)
{
    PushNewTable(L);
    SetFieldString(L, "application", "LumivarraPlayer");
    SetFieldString(L, "version", "11.0");
    SetFieldString(L, "version_date", "10.01.26");
    SetFieldString(L, "kernel", "11.0");
    SetFieldString(L, "kernel_date", "10.01.26");
    SetFieldNumber(L, "beta", 0);
    SetFieldString(L, "platform", "Linux");
    SetFieldNumber(L, "bigendian", 0);
    SetFieldString(L, "cpu", "x86_64");
    PushString(L, "plugins");
    PushPluginTable(L);
    SetTableValueRaw(L, -3);
    return 1;
}

static bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
static bool IsNameChar(char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '!';
}

static int CmdGetConstant(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const char *text = CheckStringArg(L, 1, nullptr);
    if (text[0] != '#') return ERR_WRONGUSAGE;
    const char *p = text + 1;
    if (!IsNameStart(*p)) return ERR_SYNTAXERROR;
    char name[65];
    size_t n = 0;
    while (n < 64 && IsNameChar(p[n])) {
        name[n] = p[n];
        n++;
    }
    name[n] = 0;
    const char *stringValue = nullptr;
    double numberValue = 0;
    if (!LookupConstant(L, name, &stringValue, &numberValue)) {
        SetErrorStringArg(name);
        return ERR_FINDCST;
    }
    if (stringValue) PushString(L, stringValue);
    else PushNumber(L, numberValue);
    return 1;
}

static int CmdIsNil(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, GetValueType(L, 1) == LV_TNIL ? 1 : 0);
    return 1;
}

// The folders the runtime knows, in the order they are filled, with their ids.
static const struct {
    const char *field;  // field name of the table
    int id;             // folder id asked for
} SystemFolderFields[] = {
    {"windows", 1},       {"programfiles", 2},     {"appdata", 3},          {"localappdata", 14},
    {"commonappdata", 4}, {"mydocuments", 5},      {"userhome", 6},         {"username", 7},
    {"preferences", 12},  {"sdcard", 8},           {"externalstorage", 9},  {"internalstorage", 10},
    {"appbundle", 11},    {"tempfiles", 13},
};

// The folder of an id, 1 when known.
static int GetKnownFolder(int id, char *buffer, size_t size)
{
    if (id == 12) return GetPrefsFolder(buffer, size);
    // The documents folder as GetSystemInfo(5) names it (the desktop's user directories),
    // so that both ways of asking agree.
    if (id == 5) {
        GetSpecialFolderById(0x05, buffer, size);
        return buffer[0] != 0;
    }
    if (id >= 8 && id <= 11) return 0;  // no such folders on this platform
    return GetSystemFolderPath(id, buffer, size);
}

static int CmdGetSystemInfo(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    char path[4096];
    if (GetStackTop(L) >= 1 && GetValueType(L, 1) != LV_TNIL) {
        path[0] = 0;
        GetSpecialFolderById(NumberToS32(CheckNumberArg(L, 1)), path, sizeof path);
        PushString(L, path);
        return 1;
    }
    PushNewTable(L);
    for (const auto &f : SystemFolderFields)
        if (GetKnownFolder(f.id, path, sizeof path)) SetFieldString(L, f.field, path);
    return 1;
}

// ---- Switches -----------------------------------------------------------------------------------------------

static int CmdLegacyControl(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    const char *option = CheckStringArg(L, 1, nullptr);
    int value = NumberToS32(CheckNumberArg(L, 2));
    struct {
        const char *name;
        int *slot;
    } options[] = {
        {"linebasedshapes", &gLegacySwitches.lineBasedShapes},
        {"singlemusic", &gLegacySwitches.singleMusic},
        {"corvelkludge", &gLegacySwitches.corvelKludge},
        {"legacygetpen", &gLegacySwitches.legacyGetPen},
        {"legacyrequesters", nullptr},
    };
    for (const auto &o : options) {
        if (StrCmpNoCase(option, o.name) != 0) continue;
        if (o.slot) *o.slot = value;
        return 0;
    }
    SetErrorStringArg(option);
    return ERR_UNKNOWNTAG;
}

static int CmdDisableLineHook(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    GetRuntimeSwitches()->hookSuspended = 1;
    return 0;
}

static int CmdEnableLineHook(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    GetRuntimeSwitches()->hookSuspended = 0;
    return 0;
}

template <int Sign>
static int PointerStepCommand(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    uintptr_t p = reinterpret_cast<uintptr_t>(CheckUserDataArg(L, 1));
    uintptr_t n = CheckUnsignedArg(L, 2);
    PushPointer(L, reinterpret_cast<void *>(Sign > 0 ? p + n : p - n));
    return 1;
}

static int CmdSetDefaultEncoding(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int64_t text = NumberToInt64(CheckNumberArg(L, 1));
    int64_t string = NumberToInt64(GetOptionalNumberArg(L, 2, -1));
    if (text != 0 && text != 1) return ERR_BADENCODING;
    gDefaultTextEncoding = static_cast<int>(text);
    if (string == -1) return 0;
    if (string != 0 && string != 1) return ERR_BADENCODING;
    GetStringSettings()->defaultEncoding = static_cast<int>(string);
    return 0;
}

static int CmdGetDefaultEncoding(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, gDefaultTextEncoding);
    PushNumber(L, GetStringSettings()->defaultEncoding);
    return 2;
}

// Set and Get of the adapter and loader lists.
template <int Slots, char (*Lists)[LV_DEFAULT_LIST_SIZE]>
static int SetDefaultListCommand(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int64_t kind = NumberToInt64(CheckNumberArg(L, 1));
    const char *list = CheckStringArg(L, 2, nullptr);
    if (kind < 0 || kind >= Slots) return ERR_WRONGUSAGE;
    std::snprintf(Lists[kind], LV_DEFAULT_LIST_SIZE, "%s", list);
    return 0;
}

template <int Slots, char (*Lists)[LV_DEFAULT_LIST_SIZE]>
static int GetDefaultListCommand(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int64_t kind = NumberToInt64(CheckNumberArg(L, 1));
    if (kind < 0 || kind >= Slots) return ERR_WRONGUSAGE;
    PushString(L, Lists[kind]);
    return 1;
}

// ---- The shell -----------------------------------------------------------------------------------------------

static int CmdOpenURL(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code = OpenWithShell(CheckStringArg(L, 1, nullptr));
    return code == ERR_TEXTCONVERT ? code : 0;  // what the shell made of it is not reported
}

// The options "showall" and "viewmode" are read; the desktop's file browser has no use for them.
static int CmdShowDirectory(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *path = CheckStringArg(L, 1, nullptr);
    if (GetStackTop(L) >= 2 && GetValueType(L, 2) != LV_TNIL) {
        CheckTableArg(L, 2);
        int showAll = 1, viewMode = 0;
        GetFieldBool(L, 2, "showall", &showAll);
        GetFieldInt(L, 2, "viewmode", &viewMode);
    }
    int code = OpenWithShell(path);
    return code == ERR_TEXTCONVERT ? code : 0;
}

// ---- The desktop's bell and notifications ----------------------------------------------------------------

static int CmdBeep(lvState *L)
{
    CheckArgCount(L, 0, 1, 8, 0);
    int type = 0;
    if (GetStackTop(L) >= 1 && GetValueType(L, 1) != LV_TNIL) type = NumberToS32(CheckNumberArg(L, 1));
    PlaySystemBeep(type);
    return 0;
}

// The balloon of other systems is a notification of the desktop's service here; without
// a service the command fails rather than pretending it was shown.
static int CmdShowNotification(lvState *L)
{
    CheckArgCount(L, 2, 3, 8, 0);
    std::string title = CheckStringArg(L, 1, nullptr);
    const char *text = CheckStringArg(L, 2, nullptr);
    int icon = 0, timeout = 0, noSound = 0, x = 200000, y = 200000;
    if (GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL) {
        CheckTableArg(L, 3);
        GetFieldInt(L, 3, "icon", &icon);
        GetFieldInt(L, 3, "timeout", &timeout);
        GetFieldBool(L, 3, "nosound", &noSound);  // x, y and nosound mean nothing here
        GetFieldInt(L, 3, "x", &x);
        GetFieldInt(L, 3, "y", &y);
    }
    if (timeout == -2) timeout = 3500;       // DURATION_LONG
    else if (timeout == -1) timeout = 2000;  // DURATION_SHORT
    if (title.empty()) {
        lvAppletRecord *record = GetAppletRecord(L);
        if (record) title = record->title;
    }
    // The notification belongs to the application's tray icon: shown first when there is
    // none. Desktops without a tray (no StatusNotifierWatcher) still notify.
    if (!TrayIconShown()) {
        int code = CallCommandByName(L, "settrayicon", 0, 1, LV_CALLARG_INT, -2);
        if (code && code != ERR_ADDAPPICON && code != ERR_UNKNOWNCMD) return code;
    }
    char systemTitle[512], systemText[2048];
    TextToSystem(title.c_str(), systemTitle, sizeof systemTitle, 0);
    TextToSystem(text, systemText, sizeof systemText, 0);
    return ShowDesktopNotification(systemTitle, systemText, icon, timeout);
}

// ---- Coroutines ------------------------------------------------------------------------------------------------

enum { CR_RUNNING = 0, CR_SUSPENDED = 1, CR_DEAD = 2 };

static int CmdCreateCoroutine(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckFunctionArg(L, 1);
    lvState *co = PushNewThread(L);
    InstallLineHook(co);
    PushCopy(L, 1);
    MoveValues(L, co, 1);
    return 1;
}

static int CmdResumeCoroutine(lvState *L)
{
    CheckArgCount(L, 1, 0, 0, 0);
    CheckCoroutineArg(L, 1);
    lvState *co = ValueToThread(L, 1);
    int nargs = GetStackTop(L) - 1;
    if (!EnsureStackSpace(co, nargs)) return ERR_STACK;
    MoveValues(L, co, nargs);
    int code = ResumeThread(co, nargs);
    if (code == ERR_DEADRESUME || code == ERR_NONSUSPENDEDRESUME) {
        // Not resumed: take the arguments back, or a dead coroutine would look suspended.
        if (co != L) SetStackTop(co, GetStackTop(co) - nargs);
        return code;
    }
    if (code) return code;
    int count = GetStackTop(co);
    if (!EnsureStackSpace(L, count)) return ERR_STACK;
    MoveValues(co, L, count);
    return CountedResults(L, count);
}

static int CmdYieldCoroutine(lvState *L) { return YieldThread(L, GetStackTop(L)); }

static int CmdGetCoroutineStatus(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckCoroutineArg(L, 1);
    lvState *co = ValueToThread(L, 1);
    int status = CR_DEAD;
    lvDebugInfo info;
    if (co == L) status = CR_RUNNING;
    else if (GetStackLevel(co, 0, &info) || GetStackTop(co) > 0) status = CR_SUSPENDED;
    PushNumber(L, status);
    return 1;
}

// ---- Library ------------------------------------------------------------------------------------------------

static const lvCommandEntry SystemCommands[] = {
    {"GetMemoryInfo", CmdGetMemoryInfo},
    {"GetType", CmdGetType},
    {"GCInfo", CmdGCInfo},
    {"CollectGarbage", CmdCollectGarbage},
    {"GetVersion", CmdGetVersion},
    {"GetConstant", CmdGetConstant},
    {"OpenURL", CmdOpenURL},
    {"IsNil", CmdIsNil},
    {"GetSystemInfo", CmdGetSystemInfo},
    {"LegacyControl", CmdLegacyControl},
    {"DisableLineHook", CmdDisableLineHook},
    {"EnableLineHook", CmdEnableLineHook},
    {"IncreasePointer", PointerStepCommand<1>},
    {"DecreasePointer", PointerStepCommand<-1>},
    {"Beep", CmdBeep},
    {"ShowNotification", CmdShowNotification},
    {"SetDefaultEncoding", CmdSetDefaultEncoding},
    {"SetDefaultAdapter", SetDefaultListCommand<LV_ADAPTER_SLOTS, gDefaultAdapters>},
    {"SetDefaultLoader", SetDefaultListCommand<LV_LOADER_SLOTS, gDefaultLoaders>},
    {"GetDefaultEncoding", CmdGetDefaultEncoding},
    {"GetDefaultAdapter", GetDefaultListCommand<LV_ADAPTER_SLOTS, gDefaultAdapters>},
    {"GetDefaultLoader", GetDefaultListCommand<LV_LOADER_SLOTS, gDefaultLoaders>},
    {"ShowDirectory", CmdShowDirectory},
    {"CreateCoroutine", CmdCreateCoroutine},
    {"ResumeCoroutine", CmdResumeCoroutine},
    {"YieldCoroutine", CmdYieldCoroutine},
    {"GetCoroutineStatus", CmdGetCoroutineStatus},
    {nullptr, nullptr},
};

const lvCommandEntry *GetSystemCommands(void) { return SystemCommands; }

static const lvConstantEntry SystemConstants[] = {
    {"CHIPMEMORY", nullptr, 0},      {"FASTMEMORY", nullptr, 1},      {"BEEPSYSTEM", nullptr, 0},
    {"BEEPERROR", nullptr, 1},       {"BEEPWARNING", nullptr, 2},     {"BEEPQUESTION", nullptr, 3},
    {"BEEPINFORMATION", nullptr, 4}, {"DURATION_LONG", nullptr, -2},  {"DURATION_SHORT", nullptr, -1},
    {"CR_RUNNING", nullptr, 0},      {"CR_SUSPENDED", nullptr, 1},    {"CR_DEAD", nullptr, 2},
    {"LOADER_IMAGE", nullptr, 0},    {"LOADER_ANIM", nullptr, 1},     {"LOADER_SOUND", nullptr, 2},
    {"LOADER_VIDEO", nullptr, 3},    {"LOADER_ICON", nullptr, 4},     {"LOADER_FONT", nullptr, 5},
    {"ADAPTER_FILE", nullptr, 0},    {"ADAPTER_NETWORK", nullptr, 1}, {"ADAPTER_SERIALIZE", nullptr, 2},
    {"VIEWMODE_ICONS", nullptr, 0},  {"VIEWMODE_LIST", nullptr, 1},   {nullptr, nullptr, 0},
};

const lvConstantEntry *GetSystemConstants(void) { return SystemConstants; }

int OpenSystemLibrary(lvState *L)
{
    gLegacySwitches.singleMusic = 1;
    return RegisterCommandTable(L, SystemCommands, "system");
}
