// plugintable.cpp - the interface table handed to every plug-in: 17 sub-tables of
// runtime functions in their fixed slot order. Most slots forward to a runtime function;
// the entries here adapt arguments (interface open flags, memory files, the object
// identifier pair) or answer for services that this build does not have yet.
//
// Dependencies: runtime/plugin.h, runtime/vfile.h, runtime/vdir.h, runtime/errors.h,
// runtime/encoding.h, runtime/random.h, vm/lvvm.h, platform/lvplatform.h, zlib.
// Limits: static data built once; entries touching plug-in lists, files and the script
// state belong to the thread that drives the script. docs/plugins.md lists live slots.
#include <cstddef>

#include "platform/lvplatform.h"
#include "platform/lvplatform_datetime.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/objects.h"
#include "platform/lvplatform_startup.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "runtime/random.h"
#include "runtime/startup.h"
#include "runtime/vdir.h"
#include <cerrno>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <zlib.h>

#define LV_STD(f) ((lvApiStdFunction)(void (*)(void))(f))

// ============================================================================
// Services not built yet
// ============================================================================

// Slots of subsystems this build does not have answer that the service is missing.
static intptr_t ServiceNotBuilt(void) { return LVP_PENDING_ERROR; }
#define PENDING ServiceNotBuilt

// ============================================================================
// Services of the command libraries
// ============================================================================

static lvPluginServices services;

void SetPluginServices(const lvPluginServices *given)
{
    services = given ? *given : lvPluginServices{};
}

// ============================================================================
// Sub-table 1: standard runtime
// ============================================================================

static int UnsupportedVsscanf(const char *, const char *, void *)
{
    std::fputs("*** vsscanf() not supported on this platform ***\n", stdout);
    return 0;
}
static int UnsupportedGettimeofday(void *, void *)
{
    std::fputs("*** gettimeofday() not supported on this platform ***\n", stdout);
    return 0;
}
static int64_t Time64(int64_t *out)
{
    int64_t now = (int64_t)std::time(nullptr);
    if (out) *out = now;
    return now;
}
// Characters in the current encoding.
static int ToLowerCharEntry(int c) { return (int)ToLowerChar((uint32_t)c); }
static int ToUpperCharEntry(int c) { return (int)ToUpperChar((uint32_t)c); }
static char *LowerInPlace(char *text)
{
    if (text) LowerStrInPlace(text);
    return text;
}
static char *UpperInPlace(char *text)
{
    if (text) UpperStrInPlace(text);
    return text;
}
static int GetErrno(void) { return errno; }
static void SetErrno(int value) { errno = value; }
static void *StdIn(void) { return stdin; }
static void *StdOut(void) { return stdout; }
static void *StdErr(void) { return stderr; }
static int *ErrnoAddress(void) { return &errno; }
static char *DoubleToText(double value, char *buffer64)
{
    std::snprintf(buffer64, 64, "%.17g", value);
    return buffer64;
}
static size_t CopyBounded(char *buffer, const char *text, size_t size)
{
    CopyStrBounded(buffer, size, text);
    return std::strlen(buffer);
}
static size_t AppendBounded(char *buffer, const char *text, size_t size)
{
    AppendStrBounded(buffer, size, text);
    return std::strlen(buffer);
}

// ---- Time and file status in the interface's own records ----

static_assert(sizeof(lvPluginTm) == 48, "the time record is 48 bytes");
static_assert(sizeof(lvPluginFileStatus) == 40 && offsetof(lvPluginFileStatus, size) == 8, "status record");

static void TmToPlugin(const struct tm &t, lvPluginTm *out)
{
    *out = {48, t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst, {0, 0}};
}
static struct tm TmFromPlugin(const lvPluginTm *in)
{
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_sec = in->second;
    t.tm_min = in->minute;
    t.tm_hour = in->hour;
    t.tm_mday = in->day;
    t.tm_mon = in->month;
    t.tm_year = in->year;
    t.tm_wday = in->weekday;
    t.tm_yday = in->yearDay;
    t.tm_isdst = in->daylight;
    return t;
}
// Slots 32 and 33 each hand out a static record of their own.
static lvPluginTm *BrokenDown(const int64_t *when, bool local, lvPluginTm *record)
{
    if (!when) return nullptr;
    time_t t = (time_t)*when;
    struct tm fields;
    if (!(local ? localtime_r(&t, &fields) : gmtime_r(&t, &fields))) return nullptr;
    TmToPlugin(fields, record);
    return record;
}
static lvPluginTm *LocalTimeEntry(const int64_t *when)
{
    static lvPluginTm record;
    return BrokenDown(when, true, &record);
}
static lvPluginTm *GmTimeEntry(const int64_t *when)
{
    static lvPluginTm record;
    return BrokenDown(when, false, &record);
}
static char *AscTimeEntry(const lvPluginTm *tm)
{
    static char text[64];
    if (!tm) return nullptr;
    struct tm fields = TmFromPlugin(tm);
    return asctime_r(&fields, text);
}
static int64_t MkTimeEntry(lvPluginTm *tm)
{
    if (!tm) return -1;
    struct tm fields = TmFromPlugin(tm);
    time_t t = mktime(&fields);
    TmToPlugin(fields, tm);
    return (int64_t)t;
}
static size_t StrfTimeEntry(char *buffer, size_t size, const char *format, const lvPluginTm *tm)
{
    if (!buffer || !format || !tm) return 0;
    struct tm fields = TmFromPlugin(tm);
    return strftime(buffer, size, format, &fields);
}
static void StatToPlugin(const struct stat &st, lvPluginFileStatus *out)
{
    out->flags = (S_ISDIR(st.st_mode) ? 0x20000 : 0) | ((st.st_mode & S_IRUSR) ? 1 : 0) |
                 ((st.st_mode & S_IWUSR) ? 2 : 0) | ((st.st_mode & S_IXUSR) ? 8 : 0);
    out->size = (int64_t)st.st_size;
    out->lastAccess = (int64_t)st.st_atime;
    out->lastModification = (int64_t)st.st_mtime;
    out->statusChange = (int64_t)st.st_ctime;
}
static int FStatEntry(int fd, lvPluginFileStatus *status)
{
    struct stat st;
    if (!status || fstat(fd, &st) != 0) return -1;
    StatToPlugin(st, status);
    return 0;
}
static int StatEntry(const char *name, lvPluginFileStatus *status)
{
    char system[LV_PATH_SIZE * 4];
    struct stat st;
    if (!status || !name || !ToSystemPath(name, system, sizeof system, 1) || stat(system, &st) != 0) return -1;
    StatToPlugin(st, status);
    return 0;
}

static const lvApiStdRuntime apiStdRuntime = {
    std::malloc, std::calloc, std::realloc, std::free, strdup,
    LV_STD(std::fopen), LV_STD(std::fclose), LV_STD(std::fseek), LV_STD(std::ftell), LV_STD(std::fread),
    LV_STD(std::fwrite), LV_STD(std::fgetc), LV_STD(std::fputc), LV_STD(std::ferror), LV_STD(std::feof),
    LV_STD(std::vfprintf), LV_STD(std::vsnprintf), LV_STD(std::vprintf), LV_STD(std::qsort),
    UnsupportedVsscanf,
    LV_STD((double (*)(const char *, char **))std::strtod), LV_STD((long (*)(const char *, char **, int))std::strtol),
    LV_STD((unsigned long (*)(const char *, char **, int))std::strtoul),
    StrCmpNoCase, StrNCmpNoCase, ToLowerCharEntry, ToUpperCharEntry, LowerInPlace, UpperInPlace,
    UnsupportedGettimeofday, Time64, RoundDoubleToInt,
    LocalTimeEntry, GmTimeEntry, AscTimeEntry, LV_STD(ctime), MkTimeEntry, StrfTimeEntry,
    LV_STD(clock), LV_STD(difftime), LV_STD(clearerr), LV_STD(fileno), LV_STD(fflush),
    FStatEntry, StatEntry,
    nullptr,
    LV_STD(ungetc), LV_STD(rename), LV_STD(remove),
    GetErrno, SetErrno, LV_STD((char *(*)(int))strerror), StdIn, StdOut, StdErr, ErrnoAddress,
    LV_STD(fputs), LV_STD(fgets), DoubleToText,
    LV_STD(rewind), LV_STD(setvbuf), LV_STD(setbuf), LV_STD((int (*)(int))isspace), LV_STD((int (*)(int))isdigit),
    LV_STD((int (*)(int))isxdigit), LV_STD((int (*)(int))iscntrl), LV_STD((int (*)(int))ispunct),
    LV_STD((void *(*)(void *, int, size_t))memset), LV_STD((void *(*)(void *, const void *, size_t))memcpy),
    LV_STD((void *(*)(void *, const void *, size_t))memmove),
    LV_STD((const void *(*)(const void *, int, size_t))memchr),
    LV_STD((int (*)(const void *, const void *, size_t))memcmp), LV_STD((char *(*)(char *, const char *))strcpy),
    LV_STD((char *(*)(char *, const char *, size_t))strncpy), LV_STD((char *(*)(char *, const char *))strcat),
    LV_STD((char *(*)(char *, const char *, size_t))strncat), LV_STD((int (*)(const char *, const char *))strcmp),
    LV_STD((int (*)(const char *, const char *, size_t))strncmp), LV_STD((const char *(*)(const char *, int))strchr),
    LV_STD((const char *(*)(const char *, int))strrchr),
    LV_STD((const char *(*)(const char *, const char *))strstr), LV_STD((size_t (*)(const char *))strlen),
    LV_STD(atoi), LV_STD(atol), LV_STD(atof), LV_STD(printf), LV_STD(sprintf),
    FormatString, CopyBounded, AppendBounded,
    LV_STD(gmtime), LV_STD(timegm), LV_STD(localtime), LV_STD(mktime), LV_STD(strftime),
    LV_STD(sscanf), LV_STD(fprintf), LV_STD(abort), LV_STD(exit), LV_STD(getenv),
    LV_STD(PENDING), LV_STD(PENDING), LV_STD(fscanf),
};

// ============================================================================
// Sub-table 2: system
// ============================================================================

// Runtime tags: the known tags count; pointers receive what their tag names.
static int RuntimeTags(const lvPluginTag *tags)
{
    int count = 0;
    lvStartupState *run = GetStartupState();
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        switch (t->tag) {
        case 25:
            if (t->value) *(void **)t->value = nullptr;
            count++;
            break;
        case 26: case 27: case 28: case 29: case 30: case 37: {
            // Addresses of the applet record's texts (none before an applet is open).
            lvAppletRecord *record = run->record;
            const char *text = nullptr;
            if (record) {
                text = t->tag == 26 ? record->title : t->tag == 27 ? record->version : t->tag == 28 ? record->copyright
                     : t->tag == 29 ? record->author : t->tag == 30 ? record->description : record->identifier;
            }
            if (t->value) *(const char **)t->value = text;
            count++;
            break;
        }
        case 31:
            SetRuntimeFlags(run->state, LV_FLAG_CALLBACK_DEPTH, t->value ? 1 : 0, 0);
            count++;
            break;
        case 38:
            GetErrorState()->stopRequest = t->value != 0;
            count++;
            break;
        case 40:
            ResetErrorLocation();
            GetErrorState()->stopRequest = 0;
            count++;
            break;
        case 33:
            GetRuntimeSwitches()->hookSuspended = t->value != 0;
            count++;
            break;
        case 35: {
            static int sixty = 60;
            if (t->value) *(int **)t->value = &sixty;
            count++;
            break;
        }
        case 43:
            GetErrorState()->handlerBlocked = t->value != 0;
            count++;
            break;
        case 39:
            GetRuntimeSwitches()->checkEventDisabled = t->value != 0;
            count++;
            break;
        case 48:
            GetRuntimeSwitches()->forbidModal = t->value != 0;
            count++;
            break;
        case 44: {
            int mode = 0;
            GetRuntimeFlags(run->state, LV_FLAG_ERROR_MODE, &mode, 0);
            if (t->value) *(int *)t->value = mode;
            count++;
            break;
        }
        case 45:
            if (t->value) *(lvState **)t->value = run->state;
            count++;
            break;
        case 50:
            if (t->value) *(int *)t->value = 0;
            count++;
            break;
        case 46:
            if (t->value) *(double *)t->value = GetDpiScale();
            count++;
            break;
        default:
            break;
        }
    }
    return count;
}

static void *AllocForPlugin(size_t size, uint32_t flags) { return size ? AllocMemory(size, flags & 1) : nullptr; }
static void *AddHookEntry(int type, void *callback, void *userData)
{
    return AddPluginHook(type, callback, userData, 0);
}
static int RegisterEventKind0(const char *name, intptr_t word) { return RegisterPluginEventName(name, 0, &word, 0); }
static int RegisterEventKind(const char *name, int kind, const intptr_t *payload)
{
    return RegisterPluginEventName(name, kind, payload, 0);
}
static void SleepFor(int milliseconds) { SleepMilliseconds(milliseconds > 0 ? (uint32_t)milliseconds : 0); }
static void *NewMutexEntry(void) { return NewMutex(); }
static void FreeMutexEntry(void *m) { FreeMutex((lvMutex *)m); }
static void LockMutexEntry(void *m) { LockMutex((lvMutex *)m); }
static void UnlockMutexEntry(void *m) { UnlockMutex((lvMutex *)m); }
static void SetHookDisabledEntry(void *hook, int flag) { SetPluginHookDisabled((lvPluginHook *)hook, flag); }
static void RemoveHookEntry(void *hook) { RemovePluginHook((lvPluginHook *)hook); }
static int FindEventNameEntry(const char *name, const lvPluginTag *tags)
{
    intptr_t second = -1;
    int result = FindPluginEventName(name, &second);
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == 1 && t->value) *(intptr_t *)t->value = second;
    return result;
}
// Slots the event engine serves once its library is open.
static lvPluginEventEntries eventEntries;

void SetPluginEventEntries(const lvPluginEventEntries *entries)
{
    eventEntries = entries ? *entries : lvPluginEventEntries{};
}

static int FireTimerKeyEntry(lvState *state, uintptr_t key)
{
    return eventEntries.FireTimerKey ? eventEntries.FireTimerKey(state, key) : 0;
}
static int EncodingQuery(const lvPluginTag *tags)
{
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == 1 && t->value) *(int *)t->value = 1;
    return GetScriptEncoding() ? 1 : 0;
}
// Folders the platform does not answer: 0 the program's path, 15 the start-up directory.
static int GetSystemFolder(int identifier, char *buffer, size_t size)
{
    if (GetSystemFolderPath(identifier, buffer, size)) return 1;
    if (identifier == 0 && GetStartupState()->config) {
        CopyStrBounded(buffer, size, GetStartupState()->config->programPath);
        return 1;
    }
    if (identifier == 15) {
        GetStartupDirectory(buffer, size);
        return buffer[0] != 0;
    }
    return 0;
}
static int ReturnsOne(void) { return 1; }

// Installing adapters: only during the adapter-setup phase (display, requester, timer
// and message-port adapters), each guarded by its own installation word.
static int InstallTimerEntry(lvPluginRecord *r, uint32_t word)
{
    int code = InstallPluginAdapter(LV_ADAPTER_TIMER, r, word);
    if (!code && eventEntries.UseTimerAdapter) code = eventEntries.UseTimerAdapter(r, word);
    return code;
}
static int InstallIpcEntry(lvPluginRecord *r, uint32_t word) { return InstallPluginAdapter(LV_ADAPTER_IPC, r, word); }
static int InstallRequesterEntry(lvPluginRecord *r, uint32_t word)
{
    return InstallPluginAdapter(LV_ADAPTER_REQUESTER, r, word);
}
// The display slots are the display library's; until it opens they answer "not built".
static lvDisplayPluginEntries displayEntries;

void SetDisplayPluginEntries(const lvDisplayPluginEntries *entries)
{
    displayEntries = entries ? *entries : lvDisplayPluginEntries{};
}

static int InstallDisplayEntry(lvPluginRecord *r, uint32_t word, const lvPluginTag *tags)
{
    // A record without the capability is a misuse, whatever the phase.
    if (!r || !(r->capabilities & PLUGINCAPS_DISPLAYADAPTER)) return ERR_WRONGUSAGE;
    int code = InstallPluginAdapter(LV_ADAPTER_DISPLAY, r, word);
    if (code == 0 && displayEntries.AdapterInstalled) displayEntries.AdapterInstalled(r, word, tags);
    return code;
}
// Adapter reports go to the display library once it is open (it knows the displays),
// before that to the event engine, which takes the kinds that need no display.
static int PostAdapterEventEntry(lvState *L, int kind, lvAdapterEvent *event)
{
    if (displayEntries.PostAdapterEvent) return displayEntries.PostAdapterEvent(L, kind, event);
    return eventEntries.PostAdapterEvent ? eventEntries.PostAdapterEvent(L, kind, event) : LVP_PENDING_ERROR;
}
static int PostAdapterEventMainEntry(int kind, lvAdapterEvent *event)
{
    return displayEntries.PostAdapterEventMain ? displayEntries.PostAdapterEventMain(kind, event) : LVP_PENDING_ERROR;
}
static int PollEventsEntry(lvState *L, int mode)
{
    return displayEntries.PollEvents ? displayEntries.PollEvents(L, mode) : LVP_PENDING_ERROR;
}
static int WaitEventsEntry(lvState *L)
{
    return displayEntries.WaitEvents ? displayEntries.WaitEvents(L) : LVP_PENDING_ERROR;
}
static int DispatchEventNowEntry(lvState *L, int type, void *payload)
{
    return displayEntries.DispatchEventNow ? displayEntries.DispatchEventNow(L, type, payload) : LVP_PENDING_ERROR;
}
static uintptr_t LockBitMapEntry(void *bitmap, uint32_t ignored, lvPluginBitMapInfo *info, const lvPluginTag *tags)
{
    return displayEntries.LockBitMap ? displayEntries.LockBitMap(bitmap, ignored, info, tags) : 0;
}
static void UnLockBitMapEntry(uintptr_t token)
{
    if (displayEntries.UnLockBitMap) displayEntries.UnLockBitMap(token);
}
static void *AttachMirrorEntry(const lvPluginObjectId *id, lvMirrorCallback callback, void *userData,
                               const lvPluginTag *tags, void *window)
{
    return displayEntries.AttachMirror ? displayEntries.AttachMirror(id, callback, userData, tags, window) : nullptr;
}
static void DetachMirrorEntry(void *mirror)
{
    if (displayEntries.DetachMirror) displayEntries.DetachMirror(mirror);
}
static int RefreshMirrorEntry(void *mirror)
{
    return displayEntries.RefreshMirror ? displayEntries.RefreshMirror(mirror) : LVP_PENDING_ERROR;
}
static int ResizeFromMirrorEntry(void *mirror, int width, int height, const lvPluginTag *tags)
{
    return displayEntries.ResizeFromMirror ? displayEntries.ResizeFromMirror(mirror, width, height, tags)
                                           : LVP_PENDING_ERROR;
}
static void PostMirrorInputEntry(void *mirror, int message, const void *data)
{
    if (displayEntries.PostMirrorInput) displayEntries.PostMirrorInput(mirror, message, data);
}
static int MirrorDisplayAttrsEntry(void *key, const lvPluginTag *tags)
{
    return displayEntries.MirrorDisplayAttrs ? displayEntries.MirrorDisplayAttrs(key, tags) : -1;
}
static int RefreshAdapterDisplayEntry(void *handle)
{
    return displayEntries.RefreshAdapterDisplay ? displayEntries.RefreshAdapterDisplay(handle) : LVP_PENDING_ERROR;
}
static int FindDisplayEntry(const lvPluginObjectId *id, void *handle, void **handleOut, lvPluginObjectId *idOut)
{
    return displayEntries.FindDisplay ? displayEntries.FindDisplay(id, handle, handleOut, idOut) : LVP_PENDING_ERROR;
}

static_assert(sizeof(lvPluginTimeVal) == sizeof(lvTimeVal), "time values differ");
static void GetTimeValEntry(lvPluginTimeVal *tv) { GetTimeVal((lvTimeVal *)tv); }
static void SubTimeValEntry(lvPluginTimeVal *a, const lvPluginTimeVal *b) { SubTimeVal((lvTimeVal *)a, (const lvTimeVal *)b); }
static lvPluginTimeVal *AddTimeValEntry(lvPluginTimeVal *a, const lvPluginTimeVal *b)
{
    AddTimeVal((lvTimeVal *)a, (const lvTimeVal *)b);
    return a;
}
static int CmpTimeValEntry(const lvPluginTimeVal *a, const lvPluginTimeVal *b)
{
    return CmpTimeVal((const lvTimeVal *)a, (const lvTimeVal *)b);
}
static void ScriptLocationEntry(lvPluginScriptLocation *out)
{
    lvErrorState *e = GetErrorState();
    out->line = e->currentLine;
    out->command = e->commandName[0] ? e->commandName : "----";
    out->file = e->currentChunk;
}
static int CollateEntry(const char *a, const char *b, int flags) { return CollateStrings(a, b, flags & 1); }
static void CurrentDateTextEntry(char *buffer)
{
    if (!buffer) return;
    buffer[0] = 0;
    if (services.CurrentDateText) services.CurrentDateText(buffer);
}
static int CurrentDateFieldsEntry(lvPluginDateFields *out)
{
    return out && services.CurrentDateFields ? services.CurrentDateFields(out) : 0;
}
// The script's error handler for a plug-in's error, where one may run now (as for a
// command's error); otherwise the code comes back for the plug-in to return.
static int RunErrorHandlerEntry(int code)
{
    lvState *L = GetPluginScriptState();
    if (!L || code < 1000 || code == ERR_USERABORT || code == ERR_YIELD || !CanRunErrorHandler(L)) return code;
    return CallErrorHandler(L, code);
}
static int RandomBytesEntry(void *buffer, size_t size) { return GetRandomBytes(buffer, size); }

// ---- Object types and objects ----

static int PluginTypeAttribute(lvState *L, int attribute, lvObjectId id, intptr_t value)
{
    auto callback = reinterpret_cast<lvPluginAttributeFunction>(value);
    return callback(L, attribute, lvPluginObjectId{id.number, id.handle});
}
static int RegisterObjectTypeEntry(const char *name, int *numberOut, lvPluginAttributeFunction attribute)
{
    if (!name || !*name) return 0;
    int number = 0;
    if (RegisterObjectType(0, name, nullptr, nullptr, &number, reinterpret_cast<intptr_t>(attribute)) != 0) return 0;
    if (attribute) FindObjectType(number)->foreignAttribute = PluginTypeAttribute;
    if (numberOut) *numberOut = number;
    return number;
}
static void FreeObjectUserDataEntry(lvState *L, void **list)
{
    if (!L || !list) return;
    lvRefOps ops = MakeRegistryRefOps(L);
    FreeObjectUserData(reinterpret_cast<lvObjectUserData **>(list), &ops);
}
static int ObjectExistsEntry(int type, const lvPluginObjectId *id)
{
    return id && FindAnyObject(type, lvObjectId{id->number, id->handle}) ? 1 : 0;
}
static int HousekeepingEntry(lvState *L, uint32_t flags)
{
    if (IsShuttingDown() || !services.Housekeeping) return 0;
    return services.Housekeeping(L, flags);
}

static const lvApiSystem apiSystem = {
    RuntimeTags, RegisterErrorMessage, SetErrorStringArg, SetErrorNumberArg, GetErrorText,
    GetTimeValEntry, SubTimeValEntry, AddTimeValEntry, CmpTimeValEntry, SleepFor, CurrentDateTextEntry,
    AllocForPlugin, FreeMemory, AddHookEntry, RegisterEventKind0,
    PostAdapterEventMainEntry, PostMirrorInputEntry, RegisterObjectTypeEntry, FreeObjectUserDataEntry,
    AddPluginFileType, HousekeepingEntry,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    PostAdapterEventEntry, PollEventsEntry, WaitEventsEntry,
    NewMutexEntry, FreeMutexEntry, LockMutexEntry, UnlockMutexEntry,
    SetHookDisabledEntry, RemoveHookEntry, RegisterEventKind, WriteDebugOutput,
    FireTimerKeyEntry, InstallTimerEntry, CurrentDateFieldsEntry, ConvertTextEncoding,
    FreeMemory, AddAdapterToChain, RemoveAdapterFromChain, SetAdapterFlags,
    DispatchEventNowEntry, ScriptLocationEntry, FindEventNameEntry, EncodingQuery,
    RunErrorHandlerEntry, CollateEntry, RandomBytesEntry, GetSystemFolder, ObjectExistsEntry,
    UnregisterPluginEventName, InstallIpcEntry, ReturnsOne, InstallClipboardAdapter,
};

// ============================================================================
// Sub-table 3: files
// ============================================================================

// Interface open flags to file-layer flags.
static int MapOpenFlags(int flags)
{
    int mapped = (flags & LVP_OPEN_WRITE) ? LV_VF_WRITE : (flags & LVP_OPEN_UPDATE) ? LV_VF_UPDATE : LV_VF_READ;
    mapped |= LV_VF_STATEFLAGS;
    mapped |= flags & (LVP_OPEN_EMULATESEEK | LVP_OPEN_STREAMFLAG4 | LVP_OPEN_UTF8NAME);
    if (!(flags & LVP_OPEN_NOADAPTERS)) mapped |= LV_VF_ADAPTERS;
    return mapped;
}
static void *OpenFileEntry(const char *name, int flags) { return OpenVFile(name, MapOpenFlags(flags), nullptr, nullptr); }
static void *OpenFileTagsEntry(const char *name, int flags, const lvPluginTag *tags)
{
    const char *list = nullptr;
    const void *userTags = nullptr;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1) list = (const char *)t->value;
        if (t->tag == 6) userTags = (const void *)t->value;
    }
    return OpenVFile(name, MapOpenFlags(flags), list, userTags);
}
static int CloseFileEntry(void *f) { return f ? CloseVFile((lvVFile *)f) : 0; }
static int64_t Seek32Entry(void *f, int32_t offset, int origin) { return SeekVFile((lvVFile *)f, offset, origin); }
static int64_t ReadEntry(void *f, void *b, int64_t n) { return ReadVFile((lvVFile *)f, b, n); }
static int64_t WriteEntry(void *f, const void *b, int64_t n) { return WriteVFile((lvVFile *)f, b, n); }
static int ReadByteEntry(void *f) { return ReadVFileByte((lvVFile *)f); }
static int WriteByteEntry(void *f, int byte) { return WriteVFileByte((lvVFile *)f, byte); }
static int IsEofEntry(void *f) { return IsVFileEof((lvVFile *)f); }
static int DeleteEntry(const char *name) { return DeleteFSObject(name); }
// Interface directory flags to OpenVDir flags.
static void *OpenDirEntry(const char *name, int flags)
{
    int mapped = (flags & 8) ? LV_VD_FILESONLY : (flags & 0x10) ? LV_VD_DIRSONLY : (flags & 1) ? LV_VD_WRITE : LV_VD_READ;
    if (mapped != LV_VD_WRITE) mapped |= LV_VD_READ;
    if (!(flags & 4)) mapped |= LV_VD_ADAPTERS;
    return OpenVDir(name, mapped, nullptr, nullptr);
}
static void CloseDirEntry(void *d)
{
    if (d) CloseVDir((lvVDir *)d);
}
static int GetDirPathEntry(void *d, char *b, size_t n) { return GetVDirPath((lvVDir *)d, b, n); }
static int StartDirScanEntry(void *d, int *restarted) { return StartVDirScan((lvVDir *)d, restarted); }
static void Nothing(void) {}
static int MakeDirEntry(const char *name) { return CreateFSDirectory(name); }
static int RenameEntry(const char *from, const char *to) { return RenameFSObject(from, to); }
static int TempFileNameEntry(char *buffer, size_t size) { return CreateTempFileName(buffer, size); }
static int TempFileNameTagsEntry(char *buffer, size_t size, const lvPluginTag *)
{
    CreateTempFileName(buffer, size);
    return 1;
}
// A plain name gives offset -1, size -1 and itself as container; a memory-form name, or
// one that does not parse, gives false.
static int SplitNameEntry(const char *name, char *container, size_t size, int64_t *offset, int64_t *chunkSize)
{
    if (!IsChunkName(name)) {
        if (offset) *offset = -1;
        if (chunkSize) *chunkSize = -1;
        CopyStrBounded(container, size, name);
        return 1;
    }
    if (name[8] == 'M') return 0;
    int64_t at = 0;
    uint32_t length = 0;
    if (!ParseChunkName(name, nullptr, &at, &length, nullptr, 0, container, size, nullptr, 0, nullptr)) return 0;
    if (offset) *offset = at;
    if (chunkSize) *chunkSize = length;
    return 1;
}
static int64_t SeekEntry(void *f, int64_t offset, int origin) { return SeekVFile((lvVFile *)f, offset, origin); }
static int StreamFlagsEntry(void *f) { return GetVFileStreamFlags((lvVFile *)f); }
static int FlushEntry(void *f) { return FlushVFile((lvVFile *)f); }

// Temporary files handed to AddTempFile are deleted when the plug-ins close.
struct lvPluginTempFile {
    lvPluginTempFile *next;   // next file
    char path[LV_PATH_SIZE];  // the file
};
static lvPluginTempFile *pluginTempFiles;

static int AddTempFileEntry(const char *path)
{
    lvPluginTempFile *node = (lvPluginTempFile *)AllocMemory(sizeof(lvPluginTempFile), 1);
    if (!node) return ERR_MEM;
    CopyStrBounded(node->path, sizeof node->path, path);
    node->next = pluginTempFiles;
    pluginTempFiles = node;
    return 0;
}

void DeletePluginTempFiles(void)
{
    while (lvPluginTempFile *node = pluginTempFiles) {
        pluginTempFiles = node->next;
        DeleteFSObject(node->path);
        FreeMemory(node);
    }
}

// An empty writable memory file "data.bin"; its ":::chunkS" name goes to the output.
static int NewMemoryFileEntry(char *nameOut, size_t size)
{
    if (!nameOut || !size) return 0;
    nameOut[0] = 0;
    if (!GetPluginScriptState()) return 0;
    return AddMemoryFile("data.bin", 1, nullptr, 0, -1, nameOut, size) != nullptr;
}
static void *MemoryFileDataEntry(const char *name, int64_t *size)
{
    lvMemFile *node = nullptr;
    if (!name || !IsChunkName(name) || name[8] != 'S' ||
        !ParseChunkName(name, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &node) || !node)
        return nullptr;
    if (size) *size = node->size;
    return node->data;
}
static void RemoveMemoryFileEntry(const char *name)
{
    lvMemFile *node = nullptr;
    if (name && IsChunkName(name) && name[8] == 'S' &&
        ParseChunkName(name, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &node) && node)
        RemoveMemoryFile(node);
}

// ---- Directory entries and file information ----

static void FillDirEntry(lvPluginDirEntry *entry, const char *name, const lvFileInfo &info)
{
    entry->name = name;
    entry->isDirectory = info.isDirectory;
    entry->sizeLow = (uint32_t)info.size;
    entry->attributes = info.attributes;
}
static int ExamineDirEntry(void *dir, lvPluginDirEntry *entry)
{
    lvFileInfo info;
    std::memset(&info, 0, sizeof info);
    ExamineVDir((lvVDir *)dir, &info);
    FillDirEntry(entry, nullptr, info);
    return 1;
}
static int NextDirEntryEntry(void *dir, lvPluginDirEntry *entry)
{
    const char *name = nullptr;
    int isDirectory = 0;
    lvFileInfo info;
    std::memset(&info, 0, sizeof info);
    if (!NextVDirEntry((lvVDir *)dir, 0, &name, &isDirectory, &info)) return 0;
    info.isDirectory = isDirectory;
    FillDirEntry(entry, name, info);
    return 1;
}

// Path and comment as new blocks (flags bit 2) or in static buffers.
static int HandOverInfoTexts(const char *path, const char *comment, int flags, lvPluginFileInfo *info)
{
    static char pathBuffer[LV_PATH_SIZE], commentBuffer[256];
    if (!(flags & LVP_INFO_ALLOCATE)) {
        CopyStrBounded(pathBuffer, sizeof pathBuffer, path ? path : "");
        CopyStrBounded(commentBuffer, sizeof commentBuffer, comment ? comment : "");
        info->path = pathBuffer;
        info->comment = commentBuffer;
        return 1;
    }
    size_t p = std::strlen(path ? path : "") + 1, c = comment ? std::strlen(comment) : 0;
    info->path = (char *)AllocMemory(p, 0);
    info->comment = c ? (char *)AllocMemory(c + 1, 0) : nullptr;
    if (!info->path || (c && !info->comment)) {
        FreeMemory(info->path);
        FreeMemory(info->comment);
        info->path = info->comment = nullptr;
        return 0;
    }
    std::memcpy(info->path, path ? path : "", p);
    if (c) std::memcpy(info->comment, comment, c + 1);
    return 1;
}

static_assert(sizeof(lvPluginDate) == sizeof(lvFileDate), "dates differ");

static int ExaminePathEntry(const char *name, int flags, lvPluginFileInfo *info)
{
    lvFileInfoPublic pub;
    if (!ExaminePath(name, &pub, !(flags & 1))) return 0;
    info->isDirectory = pub.isDirectory;
    info->size = pub.size;
    info->attributes = pub.attributes;
    std::memcpy(&info->lastWrite, &pub.lastWrite, sizeof info->lastWrite);
    std::memcpy(&info->lastAccess, &pub.lastAccess, sizeof info->lastAccess);
    std::memcpy(&info->creation, &pub.creation, sizeof info->creation);
    return HandOverInfoTexts(pub.path, pub.comment, flags, info);
}

static int ExamineFileEntry(void *file, int flags, lvPluginFileInfo *info)
{
    lvFileInfo raw;
    std::memset(&raw, 0, sizeof raw);
    if (!ExamineVFile((lvVFile *)file, &raw)) return 0;
    info->isDirectory = raw.isDirectory;
    info->size = raw.size;
    info->attributes = raw.attributes;
    FileTimeToDate(&raw, (lvFileDate *)&info->creation, 0);
    FileTimeToDate(&raw, (lvFileDate *)&info->lastAccess, 1);
    FileTimeToDate(&raw, (lvFileDate *)&info->lastWrite, 2);
    return HandOverInfoTexts(raw.fullPath, raw.comment, flags, info);
}

// ---- Chunk names ----

static int CopyRangeEntry(const char *target, const void *source, int64_t offset, uint32_t, uint32_t size,
                          uint32_t, int flags)
{
    char name[LV_PATH_SIZE];
    int built = (flags & 1) ? MakeChunkName("foobar.dat", name, sizeof name, (const uint8_t *)source + offset, 0,
                                            size, 0, "x")
                            : MakeChunkName("foobar.dat", name, sizeof name, nullptr, offset, size, 0,
                                            (const char *)source);
    if (!built) return ERR_MEM;
    if (!(flags & 1)) return CopyVFileData(nullptr, name, nullptr, nullptr, target);
    // The plug-in's bytes are a file only for the copy.
    const uint8_t *start = (const uint8_t *)source + offset;
    if (RegisterMemoryRange(start, size) != 0) return ERR_MEM;
    int code = CopyVFileData(nullptr, name, nullptr, nullptr, target);
    UnregisterMemoryRange(start);
    return code;
}

static int DescribeChunkEntry(const char *name, lvPluginChunkInfo *info)
{
    if (!name || !IsChunkName(name)) return 0;
    uint64_t address = 0;
    int64_t offset = 0;
    uint32_t size = 0;
    lvMemFile *node = nullptr;
    if (!ParseChunkName(name, &address, &offset, &size, info->fileName, info->fileNameSize, info->container,
                        info->containerSize, info->extension, info->extensionSize, &node))
        return 0;
    info->memory = node ? (void *)node->data : (void *)(uintptr_t)address;
    info->offset = offset;
    info->size = node ? node->size : size;
    return 1;
}

static int MakeChunkNameEntry(char *output, size_t size, const lvPluginChunkRequest *request)
{
    if (!request || !request->extension || !request->extension[0]) return 0;
    if ((request->container != nullptr) == (request->memory != nullptr)) return 0;
    char fileName[300];
    std::snprintf(fileName, sizeof fileName, "foo.%s", request->extension);
    if (request->memory) {
        // The plug-in vouches for its bytes: the name opens for the rest of the run.
        const uint8_t *start = (const uint8_t *)request->memory + request->offset;
        if (!IsLiveMemoryRange((uint64_t)(uintptr_t)start, request->size) &&
            RegisterMemoryRange(start, request->size) != 0)
            return 0;
        return MakeChunkName(fileName, output, size, start, 0, request->size, 0, "x");
    }
    return MakeChunkName(fileName, output, size, nullptr, request->offset, request->size, 0, request->container);
}

static const lvApiFiles apiFiles = {
    OpenFileEntry, CloseFileEntry, Seek32Entry, ReadEntry, WriteEntry, ReadByteEntry, WriteByteEntry, IsEofEntry,
    DeleteEntry, OpenDirEntry, CloseDirEntry, GetDirPathEntry, ExamineDirEntry, StartDirScanEntry, Nothing,
    NextDirEntryEntry, MakeDirEntry, RenameEntry, GetCurrentDirPath, TempFileNameEntry, AppendPathPart,
    FindFilePartBounds, FindFilePart, SplitNameEntry, ExaminePathEntry, SeekEntry, StreamFlagsEntry,
    ExamineFileEntry, CopyRangeEntry, DescribeChunkEntry, FlushEntry, TempFileNameEntry, OpenFileTagsEntry,
    AddTempFileEntry, MakeChunkNameEntry, TempFileNameTagsEntry, NewMemoryFileEntry,
    MemoryFileDataEntry, RemoveMemoryFileEntry,
};

// ============================================================================
// Sub-tables 4 to 8: graphics, audio, requesters, fonts (not built yet)
// ============================================================================

// The picture-file subsystem sits above the runtime core: it installs its four entries
// here; until then the slots answer "not a picture" and "nothing loaded".
static lvPluginImageEntries imageEntries;

void SetPluginImageEntries(const lvPluginImageEntries *entries)
{
    imageEntries = entries ? *entries : lvPluginImageEntries{};
}
static int IsImageFileEntry(const char *path, int *width, int *height, int *hasAlpha)
{
    return imageEntries.IsImageFile ? imageEntries.IsImageFile(path, width, height, hasAlpha) : 0;
}
static void *LoadImageEntry(const char *path, const lvPluginTag *tags, int *width, int *height, int *hasAlpha)
{
    return imageEntries.LoadImage ? imageEntries.LoadImage(path, tags, width, height, hasAlpha) : nullptr;
}
static void *TakeImagePixelsEntry(void *source)
{
    return imageEntries.TakeImagePixels ? imageEntries.TakeImagePixels(source) : nullptr;
}
static void FreeImageSourceEntry(void *source)
{
    if (imageEntries.FreeImageSource) imageEntries.FreeImageSource(source);
}

// The raster engine sits above the runtime core: it installs these entries.
static lvPluginRasterEntries rasterEntries;
void SetPluginRasterEntries(const lvPluginRasterEntries *entries)
{
    rasterEntries = entries ? *entries : lvPluginRasterEntries{};
}
static void BltRawPixelsEntry(uint8_t *target, const uint8_t *source, const lvPluginBlitDesc *desc, uint32_t ignored,
                              const lvPluginTag *tags)
{
    if (rasterEntries.BltRawPixels) rasterEntries.BltRawPixels(target, source, desc, ignored, tags);
}
static void FillRawRectEntry(uint8_t *pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                             uint32_t flags, const lvPluginTag *tags)
{
    if (rasterEntries.FillRawRect) rasterEntries.FillRawRect(pixels, x, y, width, height, colour, flags, tags);
}
static void WriteRawPixelEntry(uint8_t *pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags,
                               const lvPluginTag *tags)
{
    if (rasterEntries.WriteRawPixel) rasterEntries.WriteRawPixel(pixels, x, y, colour, flags, tags);
}
static uint32_t *ReadArgbEntry(void *rgb, void *mask, void *alpha, const lvPluginTag *tags)
{
    return rasterEntries.ReadArgb ? rasterEntries.ReadArgb(rgb, mask, alpha, tags) : nullptr;
}
static int PlaneSizeEntry(void *plane, int attribute)
{
    return rasterEntries.PlaneSize ? rasterEntries.PlaneSize(plane, attribute) : 0;
}
static uint32_t ArgbToPixelEntry(uint32_t colour, int format, int keepAlpha)
{
    return rasterEntries.ArgbToPixel ? rasterEntries.ArgbToPixel(colour, format, keepAlpha) : colour;
}
static uint32_t PixelToArgbEntry(uint32_t pixel, int format, int keepAlpha)
{
    return rasterEntries.PixelToArgb ? rasterEntries.PixelToArgb(pixel, format, keepAlpha) : pixel;
}
static void *ScalePixelsEntry(const void *source, int sx, int sy, int sw, int sh, void *target, int tx, int ty, int tw,
                              int th, int sourceRow, int targetRow, int format, int smooth)
{
    return rasterEntries.ScalePixels
               ? rasterEntries.ScalePixels(source, sx, sy, sw, sh, target, tx, ty, tw, th, sourceRow, targetRow,
                                           format, smooth)
               : nullptr;
}
static int SaveImageEntry(const char *file, const void *pixels, int32_t width, int32_t height, int32_t saver,
                          const lvPluginTag *tags)
{
    return rasterEntries.SaveImage ? rasterEntries.SaveImage(file, pixels, width, height, saver, tags) : 0;
}
static int RemapToPaletteEntry(const void *pixels, uint8_t *pensOut, lvPluginPaletteDesc *desc, uint32_t flags,
                               const lvPluginTag *tags)
{
    return rasterEntries.RemapToPalette ? rasterEntries.RemapToPalette(pixels, pensOut, desc, flags, tags) : 0;
}
static int ResolveSpecialEntry(int isX, int value, int size, int container, double anchor)
{
    return rasterEntries.ResolveSpecialCoordinate
               ? rasterEntries.ResolveSpecialCoordinate(isX, value, size, container, anchor)
               : value;
}

// The drawing engine sits above the runtime core: it installs slots 24 and 31.
static lvPluginDrawEntries drawEntries;
void SetPluginDrawEntries(const lvPluginDrawEntries *entries)
{
    drawEntries = entries ? *entries : lvPluginDrawEntries{};
}
static void DrawRawLineEntry(uint8_t *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                             uint32_t flags, const lvPluginTag *tags)
{
    if (drawEntries.DrawRawLine) drawEntries.DrawRawLine(pixels, x1, y1, x2, y2, colour, flags, tags);
}
static int DrawPolygonEntry(void *bitmap, const int32_t *points, int32_t count, uint32_t colour, uint32_t flags,
                            const lvPluginTag *tags)
{
    return drawEntries.DrawPolygon ? drawEntries.DrawPolygon(bitmap, points, count, colour, flags, tags) : 0;
}

// The images subsystem installs the brush entries.
static lvPluginBrushEntries brushEntries;
void SetPluginBrushEntries(const lvPluginBrushEntries *entries)
{
    brushEntries = entries ? *entries : lvPluginBrushEntries{};
}
static void *LockBrushEntry(const lvPluginObjectId *id, const lvPluginTag *tags, lvBrushPixelAccess *access)
{
    return brushEntries.LockBrushPixels ? brushEntries.LockBrushPixels(id, tags, access) : nullptr;
}
static void UnlockBrushEntry(void *lock)
{
    if (brushEntries.UnlockBrushPixels) brushEntries.UnlockBrushPixels(lock);
}
static uint32_t *BrushArgbEntry(const lvPluginObjectId *id, const lvPluginTag *tags)
{
    return brushEntries.GetBrushArgbPixels ? brushEntries.GetBrushArgbPixels(id, tags) : nullptr;
}
static int CreateBrushEntry(lvState *L, lvPluginObjectId *id, int32_t width, int32_t height,
                            const lvBrushPixelDesc *desc)
{
    return brushEntries.CreateBrushFromPixels ? brushEntries.CreateBrushFromPixels(L, id, width, height, desc)
                                              : LVP_PENDING_ERROR;
}
static int FreeBrushEntry(lvState *L, const lvPluginObjectId *id)
{
    return brushEntries.FreeBrush ? brushEntries.FreeBrush(L, id) : LVP_PENDING_ERROR;
}
static void *MapHardwareBrushEntry(lvPluginObjectId *id, void *adapterBitmap)
{
    return brushEntries.MapHardwareBrushHandle ? brushEntries.MapHardwareBrushHandle(id, adapterBitmap) : nullptr;
}

static const lvApiGraphics apiGraphics = {
    IsImageFileEntry, LoadImageEntry, TakeImagePixelsEntry, FreeImageSourceEntry,                             // 0-3
    LockBrushEntry, UnlockBrushEntry, BrushArgbEntry, FreeMemory,                                             // 4-7
    AttachMirrorEntry, DetachMirrorEntry, RefreshMirrorEntry, ResizeFromMirrorEntry,                          // 8-11
    CreateBrushEntry, InstallDisplayEntry,                                                                    // 12, 13
    PENDING, PENDING, LockBitMapEntry, UnLockBitMapEntry, MirrorDisplayAttrsEntry, RefreshAdapterDisplayEntry,
    FindDisplayEntry,                                                                                         // 14-20
    BltRawPixelsEntry, FillRawRectEntry, WriteRawPixelEntry, DrawRawLineEntry, ReadArgbEntry,                 // 21-25
    PlaneSizeEntry, ArgbToPixelEntry, PixelToArgbEntry,                                                       // 26-28
    FreeBrushEntry, MapHardwareBrushEntry, DrawPolygonEntry, PENDING, PENDING, PENDING,                     // 29-34
    ScalePixelsEntry, SaveImageEntry, RemapToPaletteEntry,                                                    // 35-37
    ResolveSpecialEntry};                                                                                     // 38
// The sound library installs the audio entries; until then nothing is found or made.
static void *NoLockSample(lvPluginObjectId, int, void *, lvPluginSampleInfo *) { return nullptr; }
static void NoUnlockSample(void *) {}
static int NoInstallAudioAdapter(lvPluginRecord *, uint32_t, const lvPluginTag *) { return ERR_SETADAPTER; }
static int NoCreateSample(lvState *, lvPluginObjectId, const lvPluginSampleInfo *) { return ERR_UNIMPLCMD; }
static int NoFreeSample(lvState *, lvPluginObjectId) { return ERR_UNIMPLCMD; }
static const lvApiAudio noAudio = {NoLockSample, NoUnlockSample, NoInstallAudioAdapter, NoCreateSample, NoFreeSample};
static lvApiAudio apiAudio = noAudio;

void SetPluginAudioEntries(const lvApiAudio *entries)
{
    apiAudio = entries ? *entries : noAudio;
}
// Without the requester library nothing can be asked: no choice, nothing chosen.
static int32_t NoSystemRequest(const char *, const char *, const char *) { return 0; }
static int32_t NoFileRequest(const char *, const char *, char *buffer, size_t size)
{
    if (buffer && size) *buffer = 0;
    return 0;
}
static int32_t NoPathRequest(const char *, char *buffer, size_t size) { return NoFileRequest(nullptr, nullptr, buffer, size); }
static lvApiRequesters apiRequesters = {NoSystemRequest, NoFileRequest, NoPathRequest, InstallRequesterEntry, nullptr};

void SetPluginRequesterEntries(const lvPluginRequesterEntries *entries)
{
    apiRequesters.SystemRequest = entries && entries->SystemRequest ? entries->SystemRequest : NoSystemRequest;
    apiRequesters.FileRequest = entries && entries->FileRequest ? entries->FileRequest : NoFileRequest;
    apiRequesters.PathRequest = entries && entries->PathRequest ? entries->PathRequest : NoPathRequest;
}
static int32_t NoFontFile(const char *, int32_t, uint32_t, char *path, size_t size)
{
    if (path && size) *path = 0;
    return 0;
}
static lvApiFontLookup apiFontLookup = {NoFontFile};
static lvApiFontEngine apiFontEngine;
static lvApiJpeg apiJpeg;
static lvApiFontData apiFontData;

// Every function slot of a sub-table of lvApiStdFunction slots answers 1001.
template <typename T> static void FillPending(T *table, size_t slots)
{
    lvApiStdFunction *slot = reinterpret_cast<lvApiStdFunction *>(table);
    for (size_t i = 0; i < slots; i++) slot[i] = reinterpret_cast<lvApiStdFunction>(PENDING);
}

void SetPluginFontEntries(const lvApiFontLookup *lookup, const lvApiFontEngine *engine, const lvApiFontData *data)
{
    apiFontLookup.FindFontFile = lookup && lookup->FindFontFile ? lookup->FindFontFile : NoFontFile;
    if (engine) apiFontEngine = *engine;
    else FillPending(&apiFontEngine, sizeof apiFontEngine / sizeof(lvApiStdFunction));
    apiFontData = data ? *data : lvApiFontData{};
}

void SetPluginJpegEntries(const lvApiJpeg *entries)
{
    if (entries) apiJpeg = *entries;
    else FillPending(&apiJpeg, offsetof(lvApiJpeg, empty25) / sizeof(lvApiStdFunction));
    apiJpeg.empty25 = nullptr;
}
static int64_t CountCharsEntry(const char *text)
{
    int invalid = 0;
    size_t count = CountValidUtf8Chars(text, &invalid);
    return invalid ? -1 : (int64_t)count;
}
static int CompareUtf8Entry(const char *a, const char *b) { return StrCmpNoCaseUtf8(a, b); }
static int CompareUtf8NEntry(const char *a, const char *b, size_t n) { return StrNCmpNoCaseUtf8(a, b, n); }
static int ValidateUtf8Entry(const char *text) { return ValidateUtf8(text, std::strlen(text), nullptr); }
#define LV_CLASS(f) [](uint32_t c) -> int { return f(c); }
static const lvApiUnicode apiUnicode = {
    CountCharsEntry, CompareUtf8Entry, CompareUtf8NEntry, ToLowerUnicode, ToUpperUnicode,
    LV_CLASS(IsAlNumUnicode), LV_CLASS(IsAlphaUnicode), LV_CLASS(IsCntrlUnicode), LV_CLASS(IsDigitUnicode),
    LV_CLASS(IsGraphUnicode), LV_CLASS(IsLowerUnicode), LV_CLASS(IsPrintUnicode), LV_CLASS(IsPunctUnicode),
    LV_CLASS(IsSpaceUnicode), LV_CLASS(IsXDigitUnicode), LV_CLASS(IsUpperUnicode),
    ValidateUtf8Entry, Utf8ByteOffset, Utf8CharCount, NextUtf8CodePoint, EncodeUtf8,
};

// ============================================================================
// Sub-table 9: script machine
// ============================================================================

// The identifier pair of an object argument: a number, or a light-userdata handle.
static int GetObjectIdArgEntry(lvState *L, int i, lvPluginObjectId *out)
{
    out->number = 0;
    out->handle = nullptr;
    int type = GetValueType(L, i);
    if (type == LV_TNUMBER) {
        out->number = (int32_t)ValueToNumber(L, i);
        return 0;
    }
    if (type == LV_TPOINTER) {
        out->handle = GetUserDataPointer(L, i);
        return 0;
    }
    return ERR_WRONGID;
}
static int GetIntArgOrNilEntry(lvState *L, int i, int *out)
{
    if (GetValueType(L, i) != LV_TNUMBER) return 0;
    *out = (int)ValueToNumber(L, i);
    return 1;
}
static_assert(sizeof(lvPluginStringBuffer) == sizeof(lvStringBuffer) &&
                  offsetof(lvPluginStringBuffer, area) == offsetof(lvStringBuffer, area),
              "string buffers differ");
#define LV_BUFFER(b) ((lvStringBuffer *)(b))
static void InitBufferEntry(lvState *L, lvPluginStringBuffer *b) { InitStringBuffer(L, LV_BUFFER(b)); }
static char *BufferSpaceEntry(lvPluginStringBuffer *b) { return GetBufferSpace(LV_BUFFER(b)); }
static void AppendBytesEntry(lvPluginStringBuffer *b, const char *s, size_t n) { AppendBufferBytes(LV_BUFFER(b), s, n); }
static void AppendStringEntry(lvPluginStringBuffer *b, const char *s) { AppendBufferString(LV_BUFFER(b), s); }
static void AppendValueEntry(lvPluginStringBuffer *b) { AppendBufferValue(LV_BUFFER(b)); }
static void FinishBufferEntry(lvPluginStringBuffer *b) { FinishStringBuffer(LV_BUFFER(b)); }
static int ParseConstantRefEntry(lvState *L, const char *name, const char **stringOut, double *numberOut)
{
    return LookupConstant(L, name, stringOut, numberOut);
}

static const lvApiScriptVM apiScriptVM = {
    GetStackTop, SetStackTop, PushCopy, RemoveValue, InsertValue, ReplaceValue, IsNativeFunction,
    CanConvertToNumber, IsStringOrNumber, IsUserDataOrPointer, GetValueType, ValuesEqual, ValuesIdentical,
    ValueLessThan, ValueToNumber, ValueToString, ValueStringLength, ValueToNativeFunction, GetUserDataPointer,
    GetValueAddress, PushNil, PushNumber, PushSizedString, PushString, PushPointer, PushNativeClosure,
    GetTableValue, GetTableValueRaw, GetTableItemRaw, PushNewTable, PushEnvironment, SetTableValue,
    SetTableValueRaw, SetTableItemRaw, SetEnvironment, ProtectedCall, NextTableEntry, ConcatValues,
    PushClosureUpvalues, PushUpvalue, StoreUpvalue, PushNewUserData, AssignMetatable, PushMetatable,
    RaiseError, CheckStringArg, GetOptionalStringArg, CheckNumberArg, GetOptionalNumberArg, CheckUnsignedArg,
    GetOptionalUnsignedArg, CheckTableArg, CheckFunctionArg, CheckArgType, CreateReference, ReleaseReference,
    GetObjectIdArgEntry, NewNamedMetatable, PushNamedMetatable, GetTypedUserData,
    InitBufferEntry, BufferSpaceEntry, AppendBytesEntry, AppendStringEntry, AppendValueEntry, FinishBufferEntry,
    FindStringIndex, EnsureStackSpace, GetLinkedFileArg, GetIntArgOrNilEntry, PushBoolean, ValueToBoolean,
    PushNewSizedTable, GetTypeName, CallFunction, GetCollectThreshold, GetMemoryInUse, SetCollectThreshold,
    ParseConstantRefEntry, CheckUserDataArg, CallMetaMethod,
};

// ============================================================================
// Sub-tables 11 to 17
// ============================================================================

static const lvApiZlib apiZlib = {LV_STD(inflateInit_), LV_STD(inflate), LV_STD(inflateEnd), LV_STD(deflateInit_),
    LV_STD(deflate), LV_STD(deflateEnd), LV_STD(deflateReset), LV_STD(deflateParams), LV_STD(inflateReset),
    LV_STD(inflateSync), LV_STD(inflateInit2_), LV_STD(deflateInit2_), LV_STD(crc32), LV_STD(compress),
    LV_STD(uncompress)};

static const lvApiPlugins apiPlugins = {GetPluginList, FreeMemory, SetPluginDisabled, SetPluginUserWord,
                                        GetPluginUserWord};

static int32_t Crc32Entry(const void *data, int length)
{
    return length <= 0 ? -1 : (int32_t)ComputeCrc32(data, (size_t)length);
}
static size_t EncodeBase64Entry(const void *data, size_t length, char *out, size_t outSize)
{
    if (!out || !outSize) return 0;
    out[0] = 0;
    return services.EncodeBase64 ? services.EncodeBase64(data, length, out, outSize) : 0;
}
static int DecodeBase64Entry(const char *text, size_t length, uint8_t *out, size_t *outLength)
{
    return services.DecodeBase64 && outLength ? services.DecodeBase64(text, length, out, outLength) : 0;
}
static void Md5HexEntry(const void *data, int length, char *out33)
{
    if (length > 0 && out33 && services.Md5Hex) services.Md5Hex(data, (size_t)length, out33);
}
static_assert(sizeof(lvPluginUserTag) == sizeof(lvUserTag) && offsetof(lvPluginUserTag, length) ==
              offsetof(lvUserTag, length), "user tags differ");
static lvPluginUserTag *CopyUserTagsEntry(const lvPluginUserTag *list, int *failed)
{
    return (lvPluginUserTag *)CopyUserTags((const lvUserTag *)list, failed);
}
static void FreeUserTagsEntry(lvPluginUserTag *list, int systemAllocator)
{
    FreeUserTags((lvUserTag *)list, systemAllocator);
}
static const lvApiChecksums apiChecksums = {EncodeBase64Entry, DecodeBase64Entry, Crc32Entry, Md5HexEntry,
                                            CopyUserTagsEntry, FreeUserTagsEntry, nullptr};

static int32_t SystemLanguageEntry(void) { return services.LanguageId ? services.LanguageId() : 18; }
static int32_t SystemCountryEntry(void) { return services.CountryId ? services.CountryId() : 0; }
static int32_t TimeZoneBiasEntry(int32_t *daylight)
{
    int flag = 0;
    int bias = GetTimeZoneBias(&flag);
    if (daylight) *daylight = flag;
    return bias;
}
static void *OpenCatalogEntry(const char *name)
{
    lvState *L = GetPluginScriptState();
    return name && L && services.OpenCatalog ? services.OpenCatalog(L, name) : nullptr;
}
static void CloseCatalogEntry(void *catalog)
{
    if (catalog && services.CloseCatalog) services.CloseCatalog(catalog);
}
static const char *CatalogStringEntry(void *catalog, int32_t index, const char *defaultText)
{
    if (!services.CatalogString) return defaultText;
    return services.CatalogString(catalog, index, defaultText ? defaultText : "");
}
static const lvApiLocale apiLocale = {SystemLanguageEntry, SystemCountryEntry, TimeZoneBiasEntry, OpenCatalogEntry,
                                      CloseCatalogEntry,   CatalogStringEntry, nullptr};

static int IsNaNEntry(double x) { return std::isnan(x); }
static int IsInfiniteEntry(double x) { return std::isinf(x); }
static int IsFiniteEntry(double x) { return std::isfinite(x); }
static const lvApiMath apiMath = {
    std::sin, std::cos, std::tan, std::asin, std::acos, std::atan, std::atan2, std::ceil, std::floor,
    std::fmod, std::sqrt, std::pow, std::log10, std::log, std::exp, std::modf, std::frexp, std::ldexp,
    std::hypot, IsNaNEntry, IsInfiniteEntry, IsFiniteEntry, std::srand, std::rand, SeedRandom48, NextRandomDouble,
};

// ============================================================================
// The table
// ============================================================================

static lvPluginApi pluginApi;

const lvPluginApi *GetPluginApi(void)
{
    if (!pluginApi.stdRuntime) {
        // Sub-tables nobody installed yet answer 1001.
        if (!apiFontEngine.FT_Init_FreeType) SetPluginFontEntries(&apiFontLookup, nullptr, &apiFontData);
        if (!apiJpeg.jpeg_CreateDecompress) SetPluginJpegEntries(nullptr);
        pluginApi = {LVPLUGIN_VERSION, LVPLUGIN_REVISION, &apiStdRuntime, &apiSystem, &apiFiles, &apiGraphics,
                     &apiAudio, &apiRequesters, &apiFontLookup, &apiFontEngine, &apiScriptVM, &apiFontData,
                     &apiZlib, &apiJpeg, &apiPlugins, &apiChecksums, &apiUnicode, &apiLocale, &apiMath};
    }
    return &pluginApi;
}
