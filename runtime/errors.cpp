// errors.cpp - error state, message lookup, the token substituter and report texts.
//
// Depends on: the generated message table (messages_table.cpp), platform/lvplatform.h
// (AllocMemory for registered messages, SplitChunkName), runtime/vfile.h (file parts,
// the file layer's error-argument hook), runtime/container.h (the source-line map).
// Limits: texts are bounded by the callers' buffers; a cut never splits a UTF-8 character.
#include "runtime/errors.h"

#include <charconv>
#include <cstdarg>
#include <cstring>

#include "platform/lvplatform.h"
#include "runtime/container.h"
#include "runtime/vfile.h"

// ==== Bounded text helpers ================================================================

// Copies at most size - 1 bytes of src[0..length) to dest, backing off to a character
// start when the cut would split a UTF-8 sequence. Returns the bytes copied.
static size_t CopyCut(char *dest, size_t size, const char *src, size_t length) {
    if (size == 0) return 0;
    size_t n = length;
    if (n > size - 1) {
        n = size - 1;
        while (n > 0 && ((unsigned char)src[n] & 0xC0) == 0x80) n--;
    }
    memcpy(dest, src, n);
    dest[n] = 0;
    return n;
}

// An output cursor over a bounded buffer.
struct lvTextSink {
    char *buffer;  // destination
    size_t size;   // its size in bytes
    size_t used;   // bytes written (without the NUL)
    bool full;     // something did not fit
};

static void SinkPut(lvTextSink &sink, const char *text, size_t length) {
    if (sink.full || sink.size == 0) return;
    size_t room = sink.size - 1 - sink.used;
    size_t n = CopyCut(sink.buffer + sink.used, room + 1, text, length);
    sink.used += n;
    if (n < length) sink.full = true;
}

static void SinkText(lvTextSink &sink, const char *text) { SinkPut(sink, text, strlen(text)); }

static void SinkNumber(lvTextSink &sink, long long value) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    SinkPut(sink, digits, (size_t)(r.ptr - digits));
}

// ==== Message table =======================================================================

// Binary search of a table sorted by code (the message table's error rows come first;
// the texts that are no error carry 65535 and sort last).
template <typename Row>
static const Row *FindRowByCode(const Row *rows, int count, int code) {
    int lo = 0, hi = count;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        int c = rows[mid].code;
        if (c < code)
            lo = mid + 1;
        else if (c > code)
            hi = mid;
        else
            return &rows[mid];
    }
    return nullptr;
}

static const lvMessageRow *FindMessageRowByCode(int code) {
    return FindRowByCode(lvMessageTable, lvMessageTableCount, code);
}

const char *GetMessageString(int index) {
    int lo = 0, hi = lvMessageTableCount;
    while (lo < hi) {  // first row with the index
        int mid = (lo + hi) / 2;
        if (lvMessageTable[lvMessageByIndex[mid]].index < index)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < lvMessageTableCount && lvMessageTable[lvMessageByIndex[lo]].index == index)
        return lvMessageTable[lvMessageByIndex[lo]].text;
    return nullptr;
}

static const lvErrorCodeInfo *FindErrorCodeInfo(int code) {
    return FindRowByCode(lvErrorCodeTable, lvErrorCodeTableCount, code);
}

const char *GetErrorCodeName(int code) {
    const lvErrorCodeInfo *info = FindErrorCodeInfo(code);
    return info ? info->name : nullptr;
}

int FindErrorCodeByName(const char *name) {
    for (int i = 0; i < lvErrorCodeTableCount; i++)
        if (lvErrorCodeTable[i].name && strcmp(lvErrorCodeTable[i].name, name) == 0) return lvErrorCodeTable[i].code;
    return -1;
}

// ==== Error state =========================================================================

// Constant-initialised, so the state is usable before any other initialiser runs.
static lvErrorState g_errors = {0, 1, 0, 0, 0, {}, 0, "----", -1, {}, -1, nullptr, 0, 0, 0};

static void InitErrorState(lvErrorState *s) {
    memset(s, 0, sizeof *s);
    s->errorMode = 1;
    s->currentLine = -1;
    s->handlerRef = -1;
    strcpy(s->commandName, "----");
}

lvErrorState *GetErrorState() { return &g_errors; }

static lvRuntimeSwitches g_switches = {};

void ResetErrorState() {
    FreeUserErrorMessages();
    InitErrorState(&g_errors);
    g_switches = lvRuntimeSwitches{};
}

void SetErrorStringArg(const char *text) {
    if (!text) text = "";
    CopyCut(g_errors.textArg, sizeof g_errors.textArg, text, strlen(text));
}

void SetErrorNumberArg(int number) { g_errors.numberArg = number; }

void SetErrorCommandName(const char *name) {
    if (!name || !*name) name = "----";
    CopyCut(g_errors.commandName, sizeof g_errors.commandName, name, strlen(name));
}

void ResetErrorLocation() {
    strcpy(g_errors.commandName, "----");
    g_errors.currentLine = -1;
}

int RegisterErrorMessage(const char *text) {
    lvErrorState *s = &g_errors;
    if (s->userMessageCount == s->userMessageCapacity) {
        int capacity = s->userMessageCapacity ? s->userMessageCapacity * 2 : 16;
        char **grown = (char **)AllocMemory(sizeof(char *) * (size_t)capacity, 1);
        if (!grown) return ERR_MEM;
        if (s->userMessages) memcpy(grown, s->userMessages, sizeof(char *) * (size_t)s->userMessageCount);
        FreeMemory(s->userMessages);
        s->userMessages = grown;
        s->userMessageCapacity = capacity;
    }
    size_t length = strlen(text ? text : "");
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return ERR_MEM;
    memcpy(copy, text ? text : "", length + 1);
    s->userMessages[s->userMessageCount++] = copy;
    return LV_LAST_SYSTEM_ERROR + s->userMessageCount;
}

void FreeUserErrorMessages() {
    lvErrorState *s = &g_errors;
    for (int i = 0; i < s->userMessageCount; i++) FreeMemory(s->userMessages[i]);
    FreeMemory(s->userMessages);
    s->userMessages = nullptr;
    s->userMessageCount = 0;
    s->userMessageCapacity = 0;
}

lvErrorAction RecordCommandError(int code) {
    lvErrorState *s = &g_errors;
    s->lastError = code;
    if (s->callbackDepth > 0) return s->errorMode == 0 ? LV_ERROR_CONTINUE : LV_ERROR_RAISE;
    if (s->errorMode == 0) {
        ResetErrorLocation();
        return LV_ERROR_CONTINUE;
    }
    s->stopRequest = 1;
    return LV_ERROR_RAISE;
}

// ==== Message text ========================================================================

size_t FillMessageArgs(const char *message, const char *textArg, long long numberArg, char *buffer,
                       size_t size) {
    lvTextSink sink = {buffer, size, 0, false};
    if (size == 0) return 0;
    buffer[0] = 0;
    if (!textArg) textArg = "";
    const char *p = message;
    while (*p && !sink.full) {
        const char *percent = strchr(p, '%');
        if (!percent) {
            SinkText(sink, p);
            break;
        }
        SinkPut(sink, p, (size_t)(percent - p));
        char kind = percent[1];
        if (kind == 's') {
            SinkText(sink, textArg);
            p = percent + 2;
        } else if (kind == 'd') {
            SinkNumber(sink, numberArg);
            p = percent + 2;
        } else if (kind == '%') {
            SinkPut(sink, "%", 1);
            p = percent + 2;
        } else {
            SinkPut(sink, "%", 1);
            p = percent + 1;
        }
    }
    return sink.used;
}

bool IsChunkName(const char *name) { return name && strncmp(name, ":::chunk", 8) == 0; }

bool GetChunkFilePart(const char *name, char *out, size_t size) {
    lvChunkNameParts parts;
    if (!IsChunkName(name) || !SplitChunkName(name, &parts)) {
        CopyCut(out, size, "unknown", 7);
        return false;
    }
    const char *file = parts.fileName;
    const char *end = file + parts.fileNameLength;
    const char *part = file;
    for (const char *p = file; p < end; p++)
        if (*p == '/' || *p == '\\') part = p + 1;
    if (part == file)  // a drive or volume name before the file ("C:x.iff", "SYSROOT:x")
        for (const char *p = file; p < end; p++)
            if (*p == ':') {
                part = p + 1;
                break;
            }
    CopyCut(out, size, part, (size_t)(end - part));
    return true;
}

// Codes whose "%s" shows only the file part of the text argument.
static bool ShowsFilePart(int code) {
    switch (code) {
    case 1044: case 1045: case 1065: case 1170: case 1356: case 1357:
    case 1358: case 1403: case 1450: case 1574: case 1611: case 1643:
        return true;
    default:
        return false;
    }
}

void GetErrorText(int code, char *buffer, size_t size) {
    if (size == 0) return;
    const lvErrorState *s = &g_errors;
    const char *message = nullptr;
    if (code == ERR_OPENFONT || code == ERR_ERRORCALLED) {
        // The text argument is the message: inserted as it stands, never interpreted.
        CopyCut(buffer, size, s->textArg, strlen(s->textArg));
        return;
    }
    if (code > LV_LAST_SYSTEM_ERROR || code < 0) {
        long long n = (long long)code - (LV_LAST_SYSTEM_ERROR + 1);
        if (code > 0 && n < s->userMessageCount) message = s->userMessages[n];
    } else if (code == 0) {
        message = GetMessageString(LV_MSG_NO_ERROR);
    } else if (code >= 1000) {
        const lvMessageRow *row = FindMessageRowByCode(code);
        if (row) message = row->text;
    }
    if (!message) message = GetMessageString(LV_MSG_UNKNOWN_ERROR);

    const char *arg = s->textArg;
    char part[LV_ERROR_ARG_SIZE];
    if (strstr(message, "%s")) {
        if (IsChunkName(arg)) {
            GetChunkFilePart(arg, part, sizeof part);
            arg = part;
        } else if (ShowsFilePart(code)) {
            arg = FindFilePart(arg);
        }
    }
    FillMessageArgs(message, arg, s->numberArg, buffer, size);
}

// ==== Script locations ====================================================================

int MapAppletSourceLine(const lvLineMapEntry *map, const char *currentChunk, int currentLine,
                        const char **fileOut) {
    const char *chunk = currentChunk && currentChunk[0] != '?' ? currentChunk : "";
    for (const lvLineMapEntry *e = map; e; e = e->next) {
        if (strcmp(e->chunkName, chunk) != 0) continue;
        if (currentLine < 0 || (uint32_t)currentLine < e->firstLine || (uint32_t)currentLine > e->lastLine) continue;
        if (fileOut) *fileOut = e->sourceFile;
        return (int)(e->sourceLine + ((uint32_t)currentLine - e->firstLine) + 1);
    }
    if (fileOut) *fileOut = "---";
    return -1;
}

int MapScriptFileLine(const lvLineMapEntry *map, const char *scriptFile, int currentLine, int beginLine) {
    long long line = currentLine;
    for (const lvLineMapEntry *e = map; e; e = e->next)
        if (strcmp(e->sourceFile, scriptFile) == 0) line += (long long)e->lastLine - e->firstLine;
    return (int)(line - beginLine + 1);
}

// ==== Reports =============================================================================

size_t BuildErrorRequesterText(const char *text, int plain, int locationTracking, const char *scriptFile,
                               int line, const char *commandName, char *buffer, size_t size) {
    if (size > 1024) size = 1024;
    lvTextSink sink = {buffer, size, 0, false};
    if (size == 0) return 0;
    buffer[0] = 0;
    SinkText(sink, text);
    if (plain || !locationTracking) return sink.used;
    SinkText(sink, "\n");
    SinkText(sink, GetMessageString(LV_MSG_FILE));
    SinkText(sink, ": ");
    SinkText(sink, FindFilePart(scriptFile ? scriptFile : "---"));
    SinkText(sink, " (");
    SinkText(sink, GetMessageString(LV_MSG_CURRENT_LINE));
    SinkText(sink, ": ");
    SinkNumber(sink, line);
    if (commandName && strcmp(commandName, "----") != 0) {
        SinkText(sink, " - ");
        SinkText(sink, GetMessageString(LV_MSG_IN_FUNCTION));
        SinkText(sink, ": ");
        SinkText(sink, commandName);
    }
    SinkText(sink, ")");
    return sink.used;
}

lvFinalReportRoute DecideFinalReportRoute(int code, int haveDebugDevice, int printError) {
    if (code <= 0 || code == ERR_USERABORT) return LV_REPORT_NONE;
    return haveDebugDevice || printError ? LV_REPORT_PRINT : LV_REPORT_REQUESTER;
}

size_t FormatFinalErrorReport(const char *message, const char *file, int line, int formatError, int hostWindow,
                              char *buffer, size_t size) {
    lvTextSink sink = {buffer, size, 0, false};
    if (size == 0) return 0;
    buffer[0] = 0;
    bool haveFile = file && *file;
    if (!hostWindow) SinkText(sink, "\n");
    if (formatError || hostWindow) {
        SinkText(sink, "@_lverror");
        if (haveFile) {
            SinkNumber(sink, line);
            SinkText(sink, ":");
            SinkText(sink, file);
        } else {
            SinkText(sink, "0:\"\"");
        }
        SinkText(sink, "*");
        SinkText(sink, message);
        if (!hostWindow) SinkText(sink, "\n");
        return sink.used;
    }
    if (haveFile) {
        SinkText(sink, file);
        SinkText(sink, ":");
        SinkNumber(sink, line);
    } else {
        SinkText(sink, GetMessageString(LV_MSG_ERROR));
    }
    SinkText(sink, ": ");
    SinkText(sink, message);
    SinkText(sink, "\n");
    return sink.used;
}

// ==== Runtime switches ====================================================================

lvRuntimeSwitches *GetRuntimeSwitches() { return &g_switches; }

int SetRuntimeFlags(lvState *state, ...) {
    (void)state;
    va_list args;
    va_start(args, state);
    int pairs = 0;
    for (int tag = va_arg(args, int); tag != 0; tag = va_arg(args, int)) {
        int value = va_arg(args, int);
        pairs++;
        switch (tag) {
        case LV_FLAG_QUIET: g_switches.quiet = value; break;
        case LV_FLAG_PRELOAD: g_switches.preloading = value; break;
        case LV_FLAG_CALLBACK_DEPTH: g_errors.callbackDepth += value ? 1 : -1; break;
        case LV_FLAG_ERROR_MODE: g_errors.errorMode = value; break;
        case LV_FLAG_LOCATION_TRACKING: g_errors.locationTracking = value; break;
        default: break;
        }
    }
    va_end(args);
    return pairs;
}

int GetRuntimeFlags(lvState *state, ...) {
    (void)state;
    va_list args;
    va_start(args, state);
    int pairs = 0;
    for (int tag = va_arg(args, int); tag != 0; tag = va_arg(args, int)) {
        int *out = va_arg(args, int *);
        pairs++;
        if (!out) continue;
        switch (tag) {
        case LV_FLAG_QUIET: *out = g_switches.quiet; break;
        case LV_FLAG_PRELOAD: *out = g_switches.preloading; break;
        case LV_FLAG_CALLBACK_DEPTH: *out = g_errors.callbackDepth; break;
        case LV_FLAG_ERROR_MODE: *out = g_errors.errorMode; break;
        default: break;
        }
    }
    va_end(args);
    return pairs;
}

size_t BuildStatusLineText(const char *format, const char *path, int ellipsis, char *buffer, size_t size) {
    if (size > 512) size = 512;
    if (size == 0) return 0;
    size_t n;
    if (path)
        n = FillMessageArgs(format, FindFilePart(path), 0, buffer, size);
    else
        n = CopyCut(buffer, size, format, strlen(format));
    if (ellipsis) {
        lvTextSink sink = {buffer, size, n, false};
        SinkText(sink, "...");
        n = sink.used;
    }
    return n;
}
