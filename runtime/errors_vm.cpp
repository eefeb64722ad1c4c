// errors_vm.cpp - the script side of error handling: raising a failing command's code with
// the script location, collecting that location from the call levels, the script's error
// handler, the error requester and the final report at shut-down.
//
// Depends on: runtime/errors.h (the error state and text builders), vm/lvvm.h (call levels,
// protected calls), runtime/cmdsupport.h (command names, output, run records),
// runtime/config.h and runtime/container.h (switches, source-line map).
// Limits: the requester is a line on standard error until requesters exist.
#include <cstdio>
#include <cstring>

#include "runtime/cmdsupport.h"
#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "runtime/vfile.h"

// ==== Location ===================================================================================

static void CopyBounded(char *dest, size_t size, const char *src)
{
    size_t n = std::strlen(src);
    if (n >= size) {
        n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) n--;
    }
    std::memcpy(dest, src, n);
    dest[n] = 0;
}

void CollectErrorLocation(lvState *L, int line)
{
    lvErrorState *s = GetErrorState();
    lvDebugInfo ar;
    bool haveChunk = false;
    // A chunk left from an earlier error must not name this one: without a level that
    // names its chunk, the empty name stands (as for an applet's main chunk).
    s->currentChunk[0] = 0;
    for (int level = 0; GetStackLevel(L, level, &ar); level++) {
        if (!GetDebugInfo(L, "Sln", &ar)) break;
        bool script = ar.currentLine >= 0;
        if (!haveChunk && ar.source && ar.source[0] != '=' && ar.source[0] != '?') {
            CopyBounded(s->currentChunk, sizeof s->currentChunk, ar.source);
            haveChunk = true;
        }
        if (std::strcmp(s->commandName, "----") == 0) {
            if (!script) {
                // A command: as its table spells it, else as it was called.
                if (ar.name) {
                    const char *spelt = FindCommandName(ar.name);
                    SetErrorCommandName(spelt ? spelt : ar.name);
                }
            } else if (ar.name) {
                SetErrorCommandName(ar.name);
            } else if (ar.nameKind && ar.nameKind[0]) {
                SetErrorCommandName("anonymous");
            } else {
                SetErrorCommandName("<<unnamed>>");
            }
        }
        if (s->currentLine == -1 && script) s->currentLine = line != -1 ? line : ar.currentLine;
        if (haveChunk && s->currentLine != -1 && std::strcmp(s->commandName, "----") != 0) break;
    }
}

// The file text GetScriptFileName hands out.
static char g_scriptFile[1024];

// The applet's source-line map, or null when no applet record is known.
static const lvLineMapEntry *AppletLineMap(lvState *L)
{
    lvAppletRecord *record = GetAppletRecord(L);
    return record ? record->lineMap : nullptr;
}

// An applet's chunk that the line map does not cover still names its own file (as the compiler
// saw it) and its compiled line: better than no location at all. False without a chunk name.
static bool ChunkOwnLocation(const lvErrorState *s, const char **file, int *line)
{
    const char *chunk = s->currentChunk;
    if (!chunk[0] || chunk[0] == '?' || s->currentLine <= 0) return false;
    if (chunk[0] == '@' || chunk[0] == '=') chunk++;
    if (file) *file = FindFilePart(chunk);
    if (line) *line = s->currentLine;
    return true;
}

int GetScriptLine(lvState *L)
{
    lvErrorState *s = GetErrorState();
    const char *script = L ? GetRegistryString(L, "script") : nullptr;
    if (script && std::strcmp(script, ":none:") == 0) {
        const char *file = nullptr;
        int line = MapAppletSourceLine(AppletLineMap(L), s->currentChunk, s->currentLine, &file);
        if (line == -1) ChunkOwnLocation(s, nullptr, &line);
        return line;
    }
    if (script && *script) {
        int begin = static_cast<int>(GetRegistryNumber(L, "beginline"));
        return MapScriptFileLine(AppletLineMap(L), script, s->currentLine, begin);
    }
    return s->currentLine;
}

const char *GetScriptFileName(lvState *L)
{
    lvErrorState *s = GetErrorState();
    const char *script = L ? GetRegistryString(L, "script") : nullptr;
    const char *file = "---";
    if (script && std::strcmp(script, ":none:") == 0) {
        if (MapAppletSourceLine(AppletLineMap(L), s->currentChunk, s->currentLine, &file) == -1 || !file) {
            file = "---";
            ChunkOwnLocation(s, &file, nullptr);
        }
    } else if (script && *script) {
        file = script;
    } else if (s->currentChunk[0] == '@') {
        file = s->currentChunk + 1;
    } else if (s->currentChunk[0]) {
        file = s->currentChunk;
    }
    CopyBounded(g_scriptFile, sizeof g_scriptFile, file);
    return g_scriptFile;
}

void GetErrorTextWithLocation(lvState *L, int code, char *buffer, size_t size, const char **fileOut, int *lineOut)
{
    GetErrorText(code, buffer, size);
    const char *file = nullptr;
    int line = 0;
    if (GetErrorState()->locationTracking) {
        file = GetScriptFileName(L);
        line = GetScriptLine(L);
    }
    if (fileOut) *fileOut = file;
    if (lineOut) *lineOut = line;
}

// ==== Raising ===================================================================================

void HandleCommandError(lvState *L, int code)
{
    if (RecordCommandError(code) == LV_ERROR_CONTINUE) return;
    ResetErrorLocation();
    CollectErrorLocation(L, -1);
    ThrowError(L, code);
}

// ==== Error handler ==============================================================================

// Set while the handler runs: an error inside it does not call it again.
static int g_handlerRunning;

// The handler stands in for a raised error only: errors that are merely recorded (error
// mode 0) or that belong to a callback take HandleCommandError's road, which records
// the code first.
bool CanRunErrorHandler(lvState *)
{
    const lvErrorState *s = GetErrorState();
    return s->handlerRef >= 0 && s->errorMode != 0 && s->callbackDepth == 0 && !s->handlerBlocked &&
           !g_handlerRunning;
}

int CallErrorHandler(lvState *L, int code)
{
    lvErrorState *s = GetErrorState();
    ResetErrorLocation();
    CollectErrorLocation(L, -1);
    char message[LV_ERROR_ARG_SIZE];
    GetErrorText(code, message, sizeof message);
    int top = GetStackTop(L);
    EnsureStackSpace(L, 6);
    GetTableItemRaw(L, LV_REGISTRYINDEX, s->handlerRef);
    PushNumber(L, code);
    PushString(L, message);
    PushString(L, s->commandName);
    PushNumber(L, GetScriptLine(L));
    ResetErrorLocation();
    s->callbackDepth++;
    g_handlerRunning = 1;
    int status = ProtectedCall(L, 4, 0, 0);
    g_handlerRunning = 0;
    s->callbackDepth--;
    SetStackTop(L, top);
    return status;
}

// ==== Requester and final report ======================================================================

// Without a window system the requester's text stands alone on standard error: the title
// would only repeat the program's name in front of the message.
static void RequesterToStandardError(const char *, const char *text, int)
{
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

static lvRequesterSink g_requesterSink = RequesterToStandardError;

lvRequesterSink SetErrorRequesterSink(lvRequesterSink sink)
{
    lvRequesterSink previous = g_requesterSink;
    g_requesterSink = sink ? sink : RequesterToStandardError;
    return previous;
}

void ShowErrorRequester(lvState *L, const char *text, int plain, int kind)
{
    lvErrorState *s = GetErrorState();
    char shown[1024];
    const char *file = s->locationTracking && !plain ? GetScriptFileName(L) : "";
    int line = s->locationTracking && !plain ? GetScriptLine(L) : 0;
    BuildErrorRequesterText(text, plain, s->locationTracking, file, line, s->commandName, shown, sizeof shown);
    g_requesterSink("LumivarraPlayer", shown, kind);
}

void ReportFinalErrorWithSwitches(int code, lvRuntimeConfig *config, const lvStartupSwitches *switches, lvState *L)
{
    int debugDevice = switches ? switches->debugDevice : 0;
    int printError = switches ? switches->printError : 0;
    lvFinalReportRoute route = DecideFinalReportRoute(code, debugDevice, printError);
    if (route == LV_REPORT_NONE) return;
    char local[2048];
    char *text = config ? config->errorText : local;
    size_t size = config ? sizeof config->errorText : sizeof local;
    const char *file = nullptr;
    int line = 0;
    GetErrorTextWithLocation(L, code, text, size, &file, &line);
    if (file && std::strcmp(file, "---") == 0) file = nullptr;
    if (route == LV_REPORT_REQUESTER) {
        ShowErrorRequester(L, text, 0, 2);
        return;
    }
    char report[2600];
    int hostWindow = switches ? switches->hostDevice : 0;
    int formatError = switches ? switches->formatError : 0;
    size_t n = FormatFinalErrorReport(text, file, line, formatError, hostWindow, report, sizeof report);
    PrintOutputBytes(report, n);
}
