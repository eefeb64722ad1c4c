// lib_app.cpp - the application library: the applet's descriptive strings, its file
// argument, the user arguments and the raw command line, and per-user preferences.
//
// Depends on: libs/prefs_engine.h (the files), runtime/startup.h (the run's applet
// record, configuration and arguments), platform/lvplatform.h (GetPrefsFolder).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "libs/lib_core4.h"
#include "runtime/cmdsupport.h"
#include "libs/prefs_engine.h"
#include "libs/serialize_engine.h"
#include "platform/lvplatform.h"
#include "runtime/container.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"
#include "runtime/startup.h"

// ============================================================================
// Hooks
// ============================================================================

static const char *RecordIdentifier(lvState *L)
{
    lvAppletRecord *r = GetAppletRecord(L);
    return r ? r->identifier : "";
}

static const char *ProgramFolder(lvState *L)
{
    static char folder[LV_PATH_SIZE];
    const lvRuntimeConfig *c = GetClargsRecord(L);
    if (!c) return nullptr;
    std::snprintf(folder, sizeof folder, "%s", c->programPath);
    char *slash = std::strrchr(folder, '/');
    if (!slash) return nullptr;
    *slash = 0;
    return folder;
}

static lvApplicationHooks gAppHooks = {RecordIdentifier, ProgramFolder};

void SetApplicationHooks(const lvApplicationHooks *hooks)
{
    gAppHooks.GetIdentifier = hooks && hooks->GetIdentifier ? hooks->GetIdentifier : RecordIdentifier;
    gAppHooks.GetProgramFolder = hooks && hooks->GetProgramFolder ? hooks->GetProgramFolder : ProgramFolder;
}

const lvApplicationHooks *GetApplicationHooks(void) { return &gAppHooks; }

// ============================================================================
// Applet information
// ============================================================================

static int CmdGetApplicationInfo(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    const lvAppletRecord *r = GetAppletRecord(L);
    PushNewTable(L);
    SetFieldString(L, "title", r ? r->title : "");
    SetFieldString(L, "version", r ? r->version : "");
    SetFieldString(L, "copyright", r ? r->copyright : "");
    SetFieldString(L, "author", r ? r->author : "");
    SetFieldString(L, "description", r ? r->description : "");
    SetFieldString(L, "identifier", gAppHooks.GetIdentifier(L));
    return 1;
}

static int CmdGetProgramInfo(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvStartupState *s = GetStartupState();
    const lvRuntimeConfig *c = GetClargsRecord(L);
    if (s && s->linked) {
        PushNumber(L, 2);  // PRGTYPE_PROGRAM: the applet is part of the executable
        PushString(L, c ? c->programPath : "");
        return 2;
    }
    PushNumber(L, c && c->isApplet ? 1 : 0);  // PRGTYPE_APPLET or PRGTYPE_SCRIPT
    PushString(L, c ? c->appletPath : "");
    PushString(L, c ? c->programPath : "");
    return 3;
}

static int CmdGetFileArgument(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    bool absolute = GetValueType(L, 1) > LV_TNIL && ValueToBoolean(L, 1) && ValueToNumber(L, 1) != 0;
    const lvRuntimeConfig *c = GetClargsRecord(L);
    PushString(L, c ? (absolute ? c->absoluteAppletPath : c->givenAppletPath) : "");
    return 1;
}

// Pushes text, converted from UTF-8 when the script runs in ISO-8859-1.
static int PushArgumentText(lvState *L, const char *text)
{
    if (GetGlobalEncoding() == LV_ENCODING_UTF8) {
        PushString(L, text);
        return 0;
    }
    char *latin = Utf8ToLatin1(text, std::strlen(text));
    if (!latin) return ERR_MEM;
    PushString(L, latin);
    FreeMemory(latin);
    return 0;
}

static int CmdGetCommandLine(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int rc = 0;
    const lvRuntimeConfig *c = GetClargsRecord(L);
    PushNewTable(L);
    int count = 0;
    for (lvUserArgument *a = c ? c->userArguments : nullptr; a; a = a->next, count++) {
        PushNumber(L, count);
        PushNewTable(L);
        PushString(L, "arg");
        if ((rc = PushArgumentText(L, a->name))) return rc;
        SetTableValue(L, -3);
        PushString(L, "param");
        if ((rc = PushArgumentText(L, a->value ? a->value : ""))) return rc;
        SetTableValue(L, -3);
        SetTableValue(L, -3);
    }
    PushNumber(L, count);
    PushNumber(L, 0);
    return 3;
}

static int CmdGetRawArguments(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int rc = 0;
    lvStartupState *s = GetStartupState();
    PushNewTable(L);
    for (int i = 0; s && i < s->argc; i++) {
        PushNumber(L, i);
        if ((rc = PushArgumentText(L, s->argv[i]))) return rc;
        SetTableValue(L, -3);
    }
    return 1;
}

// ============================================================================
// Preferences
// ============================================================================

// The preferences path of the running applet. 0, ERR_WRONGUSAGE or ERR_MEM.
static int CurrentPrefsPath(lvState *L, char *path, size_t size)
{
    char folder[LV_PATH_SIZE];
    const char *identifier = gAppHooks.GetIdentifier(L);
    if (!identifier || !*identifier) return ERR_WRONGUSAGE;
    if (!GetPrefsFolder(folder, sizeof folder)) return ERR_MEM;
    return BuildPrefsPath(folder, identifier, path, size);
}

// The options of LoadPrefs and SavePrefs (argument 2).
struct lvPrefsOptions {
    std::string name;            // "adapter", else the default serializer list
    lvUserTag *tags = nullptr;   // "usertags"
    ~lvPrefsOptions() { FreeUserTags(tags, 0); }
};

static int ReadPrefsOptions(lvState *L, lvPrefsOptions *o)
{
    char list[256];
    o->name = CopyDefaultAdapter(list, sizeof list, 2) ? list : "";
    if (GetValueType(L, 2) != LV_TTABLE) return 0;
    char adapter[256];
    if (ReadFieldString(L, 2, "adapter", adapter, sizeof adapter, nullptr) == 1) o->name = adapter;
    return ReadUserTags(L, 2, "usertags", nullptr, &o->tags);
}

static int CmdLoadPrefs(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int rc = 0;
    CheckTableArg(L, 1);
    lvPrefsOptions o;
    if ((rc = ReadPrefsOptions(L, &o))) return rc;
    char path[LV_PATH_SIZE];
    if ((rc = CurrentPrefsPath(L, path, sizeof path))) return rc;
    rc = ReadPrefsFile(L, path, 1, o.name.c_str(), o.tags);
    return rc == ERR_READFILE ? 0 : rc;
}

static int CmdSavePrefs(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int rc = 0;
    CheckTableArg(L, 1);
    lvPrefsOptions o;
    if ((rc = ReadPrefsOptions(L, &o))) return rc;
    char path[LV_PATH_SIZE];
    if ((rc = CurrentPrefsPath(L, path, sizeof path))) return rc;
    return WritePrefsFile(L, path, 1, o.name.c_str(), o.tags);
}

static int CmdDeletePrefs(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int rc = 0;
    char path[LV_PATH_SIZE];
    if ((rc = CurrentPrefsPath(L, path, sizeof path))) return rc;
    DeletePrefsFile(path);
    return 0;
}

// ============================================================================
// Library
// ============================================================================

static const lvCommandEntry ApplicationCommands[] = {
    {"DeletePrefs", CmdDeletePrefs},
    {"GetApplicationInfo", CmdGetApplicationInfo},
    {"GetCommandLine", CmdGetCommandLine},
    {"GetFileArgument", CmdGetFileArgument},
    {"GetProgramInfo", CmdGetProgramInfo},
    {"GetRawArguments", CmdGetRawArguments},
    {"LoadPrefs", CmdLoadPrefs},
    {"SavePrefs", CmdSavePrefs},
    {nullptr, nullptr},
};

static const lvConstantEntry ApplicationConstants[] = {
    {"PRGTYPE_SCRIPT", nullptr, 0},
    {"PRGTYPE_APPLET", nullptr, 1},
    {"PRGTYPE_PROGRAM", nullptr, 2},
    {nullptr, nullptr, 0},
};

int OpenApplicationLibrary(lvState *L)
{
    RegisterLibrary(L, nullptr, ApplicationCommands, 0);
    return 0;
}

const lvConstantEntry *GetApplicationConstants(void) { return ApplicationConstants; }
