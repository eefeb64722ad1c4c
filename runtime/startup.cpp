// startup.cpp - start-up and shut-down of a run.
//
// RuntimeMain allocates the configuration and the applet record, creates the machine and
// runs the steps in their fixed order, stopping at the first error: StartRuntime (platform,
// locks, marker, command line, appended plug-in blocks, header probe, options, quiet mode,
// libraries), the start-up plug-ins, OpenApplet, LoadAppletMainChunk, the application icons,
// the line hook, the preload of linked objects, the start-up displays and the main loop.
// ShutdownRuntime then runs every one of its steps whatever happened before, so that the
// temporary directory and files are gone after every run, also after an error.
//
// Dependencies: vm/lvvm.h, runtime/config.h, runtime/container.h, runtime/marker.h,
// runtime/errors.h, runtime/encoding.h, runtime/libtable.h, runtime/random.h,
// runtime/vfile.h, runtime/vdir.h, runtime/version.h, platform/lvplatform.h.
// Limits: one run per process; paths are bounded by LV_PATH_SIZE.
#include "runtime/startup.h"
#include "platform/lvplatform_debughost.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/libs_core.h"
#include "runtime/libtable.h"
#include "runtime/marker.h"
#include "runtime/packed.h"
#include "runtime/plugin.h"
#include "runtime/random.h"
#include "runtime/vdir.h"
#include "runtime/vfile.h"
#include "runtime/version.h"
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

// ---- State ----------------------------------------------------------------------------------

static lvStartupState startupState;

lvStartupState *GetStartupState(void)
{
    return &startupState;
}

lvStartupSwitches *GetStartupSwitches(void)
{
    return &startupState.switches;
}

// ---- Hooks ------------------------------------------------------------------------------------

static int NoStartupPlugins(lvState *, lvRuntimeConfig *, const char *) { return 0; }
static int NoAppletIcons(lvState *, lvAppletRecord *) { return 0; }
static int NoDisplaySettings(lvState *, lvAppletRecord *) { return 0; }
static int NoStartupDisplays(lvState *) { return 0; }
static int NoRuntimeEvents(lvState *, int) { return 0; }
static void NoAudio(void) {}
static void NoRequesters(void) {}
static void NoPluginLibraries(lvState *) {}
static void NoPlugins(void) {}
static int NoPresetDisplay(lvState *, lvLinkedObject *, int) { return 0; }
static void NoEncodingFollowers(lvState *) {}

// Without a plug-in manager in the build no plug-in can be required.
static int NoPluginToRequire(lvState *, lvLinkedObject *object, int)
{
    SetErrorStringArg(object->name ? object->name : "");
    return ERR_REQUIREPLUGIN;
}

// The body the main loop's script thread runs: the main chunk, on a thread whose native
// stack is large enough for deep script recursion.
struct lvScriptStart {
    int (*body)(void *state);  // the main chunk's runner
    void *state;               // the machine
};

static int RunOnScriptStack(void *start)
{
    lvScriptStart *script = (lvScriptStart *)start;
    return RunScriptThread(script->body, script->state, LV_SCRIPT_STACK_SIZE);
}

// The main loop of the platform: the main thread serves the wait slots, thread messages
// and main-thread requests while the script runs.
static int RunPlatformMainLoop(int (*body)(void *state), void *state)
{
    if (int code = InitLoopSignals()) return code;
    lvScriptStart start = {body, state};
    return RunMainLoop(RunOnScriptStack, &start);
}

static int NoAppletToAsk(char *, size_t) { return ERR_CONFIG; }

static const lvStartupHooks defaultStartupHooks = {
    NoStartupPlugins, NoAppletIcons, NoDisplaySettings, NoStartupDisplays, RunPlatformMainLoop,
    NoRuntimeEvents, NoAudio, NoRequesters, NoPluginLibraries, NoPlugins, {}, NoPluginToRequire,
    NoPresetDisplay, NoEncodingFollowers, NoAppletToAsk,
};

static lvStartupHooks startupHooks = defaultStartupHooks;

#define LV_TAKE_HOOK(slot) \
    if (hooks->slot) startupHooks.slot = hooks->slot

void SetStartupHooks(const lvStartupHooks *hooks)
{
    if (!hooks) {
        startupHooks = defaultStartupHooks;
        return;
    }
    LV_TAKE_HOOK(LoadStartupPlugins);
    LV_TAKE_HOOK(ApplyAppletIcons);
    LV_TAKE_HOOK(ApplyAppletDisplaySettings);
    LV_TAKE_HOOK(OpenStartupDisplays);
    LV_TAKE_HOOK(RunMainLoop);
    LV_TAKE_HOOK(PollRuntimeEvents);
    LV_TAKE_HOOK(CloseAudio);
    LV_TAKE_HOOK(FreeRequesters);
    LV_TAKE_HOOK(FreePluginLibraries);
    LV_TAKE_HOOK(UnloadAllPlugins);
    LV_TAKE_HOOK(RequirePlugin);
    LV_TAKE_HOOK(CreatePresetDisplay);
    LV_TAKE_HOOK(EncodingApplied);
    LV_TAKE_HOOK(AskForApplet);
    for (int type = 0; type < LV_LINKED_TYPES; type++)
        if (hooks->preload[type]) startupHooks.preload[type] = hooks->preload[type];
}

const lvStartupHooks *GetStartupHooks(void)
{
    return &startupHooks;
}

// ---- Small services -------------------------------------------------------------------------

void SetEndCode(int code)
{
    startupState.endCode = code;
}

int HasAppendedBlocks(void)
{
    return startupState.blocksPresent;
}

void GetStartupDirectory(char *buffer, size_t size)
{
    if (!buffer || size == 0) return;
    std::snprintf(buffer, size, "%s", startupState.startupDirectory);
}

lvMutex *GetDisplayListLock(void)
{
    return startupState.displayListLock;
}

int IsShuttingDown(void)
{
    return startupState.shuttingDown;
}

void PrintDebugText(const char *text)
{
    WriteDebugText(text);
}

// A status line ("Loading applet x...") unless the run is quiet.
static void PrintStatus(const char *text)
{
    if (GetRuntimeSwitches()->quiet) return;
    WriteDebugText(text);
}

// ASCII lower case in place: labels and constants are stored lower-cased.
static void LowerAscii(char *text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z') *text = (char)(*text - 'A' + 'a');
}

// ---- Temporary files and the plug-in directory -------------------------------------------------

int NewTempFile(char *buffer, size_t size)
{
    lvTempFileNode *node = (lvTempFileNode *)AllocMemory(sizeof(lvTempFileNode), 1);
    if (!node) return ERR_MEM;
    if (!CreateTempFileName(node->path, sizeof node->path) || std::strlen(node->path) >= size) {
        if (node->path[0]) DeleteFSObject(node->path);
        FreeMemory(node);
        SetErrorStringArg(GetTempDirectory());
        return ERR_WRITEFILE;
    }
    std::memcpy(buffer, node->path, std::strlen(node->path) + 1);
    node->next = startupState.tempFiles;
    startupState.tempFiles = node;
    return 0;
}

static void DeleteTempFiles(void)
{
    while (lvTempFileNode *node = startupState.tempFiles) {
        startupState.tempFiles = node->next;
        DeleteFSObject(node->path);
        FreeMemory(node);
    }
}

int MakePluginDirectory(void)
{
    if (startupState.pluginDirectory[0]) return 0;
    if (CreateTempDirectory(startupState.pluginDirectory, sizeof startupState.pluginDirectory)) return 0;
    startupState.pluginDirectory[0] = 0;
    SetErrorStringArg(GetTempDirectory());
    return ERR_CREATEDIR;
}

// What the block visitor needs to write one entry.
struct lvExtractContext {
    const char *executable;  // the file that holds the blocks
    const char *extension;   // ".lvl" or ".lvp"
};

// Writes one payload of the executable into the plug-in directory: packed payloads are
// unpacked, raw ones are copied unless the file is there already.
static int ExtractPluginEntry(void *userData, lvByteSource *source, const lvPluginBlockEntry *entry)
{
    lvExtractContext *context = (lvExtractContext *)userData;
    if (int code = MakePluginDirectory()) return code;
    // An entry's name becomes a file name in the private directory: a name that could
    // reach anywhere else (a separator, a drive colon, "..") marks a forged block.
    const char *name = entry->name;
    if (!name[0] || std::strpbrk(name, "/\\:") || std::strstr(name, "..") || !std::strcmp(name, ".")) {
        SetErrorStringArg(name);
        return ERR_READ;
    }
    char target[LV_PATH_SIZE];
    int needed = std::snprintf(target, sizeof target, "%s/%s%s", startupState.pluginDirectory, name,
                               context->extension);
    if (needed < 0 || (size_t)needed >= sizeof target) return ERR_STACK;
    if (entry->packed) {
        int64_t written = 0, consumed = 0;
        int code = UnpackStream(LV_PACK_MAGIC_PLUGIN, context->executable, target, nullptr,
                                (int64_t)entry->payloadOffset, &written, &consumed, nullptr, 0);
        if (code) DeleteFSObject(target);
        return code;
    }
    if (VFileExists(target, nullptr, nullptr)) return 0;
    lvVFile *out = OpenVFile(target, LV_VF_WRITE, nullptr, nullptr);
    if (!out) {
        SetErrorStringArg(target);
        return ERR_WRITEFILE;
    }
    int code = 0;
    uint8_t piece[16384];
    for (uint32_t done = 0; !code && done < entry->storedSize;) {
        size_t length = entry->storedSize - done < sizeof piece ? entry->storedSize - done : sizeof piece;
        if (source->read(source->context, entry->payloadOffset + done, piece, length) != length) code = ERR_READ;
        else if (WriteVFile(out, piece, (int64_t)length) != (int64_t)length) code = ERR_WRITE;
        done += (uint32_t)length;
    }
    CloseVFile(out);
    if (code) DeleteFSObject(target);
    return code;
}

int ExtractPluginBlocks(const char *executable, uint64_t *offset)
{
    lvByteSource source;
    if (OpenFileSource(&source, executable) != 0) {
        SetErrorStringArg(executable);
        return ERR_READFILE;
    }
    lvExtractContext libraries = {executable, ".lvl"};
    lvExtractContext plugins = {executable, ".lvp"};
    int code = WalkPluginBlocks(&source, "LVL!", offset, ExtractPluginEntry, &libraries);
    if (!code) code = WalkPluginBlocks(&source, "LVP!", offset, ExtractPluginEntry, &plugins);
    CloseByteSource(&source);
    return code;
}

// ---- Start-up --------------------------------------------------------------------------------------

static void PrintUsage(void)
{
    std::fprintf(stderr,
                 "%s\n"
                 "usage: lumivarra APPLET [options] [arguments]\n"
                 "  APPLET is an applet file (.lva); options such as -PRINTERROR or -ERRORCODE n\n"
                 "  are taken by the runtime, other words are handed to the applet.\n",
                 GetBannerText());
}

// Parses the command line with the option keys recognised (expectName: the applet's name
// stands in it too), then reads the ".ini" file into the same slots, so that its entries
// override the command line, and applies the result.
static int ParseAndApplyOptions(lvRuntimeConfig *config, lvAppletRecord *record, int argc, char **argv,
                                int expectName)
{
    lvOptionSlots *slots = (lvOptionSlots *)AllocMemory(sizeof(lvOptionSlots), 1);
    if (!slots) return ERR_MEM;
    char *commandText = nullptr;
    char *iniText = nullptr;
    FreeUserArguments(config);
    int code = ParseCommandLine(config, slots, 1, !expectName, argc, argv, &commandText);
    if (!code) code = ReadIniFile(slots, config, &iniText);
    if (!code) code = ApplyStartupOptions(slots, config, record, &startupState.switches);
    FreeMemory(commandText);
    FreeMemory(iniText);
    FreeMemory(slots);
    return code;
}

// Takes what the header probe found into the configuration.
static void TakeHeaderInfo(lvRuntimeConfig *config, const lvAppletHeaderInfo *info)
{
    if (!info->found) return;
    if (info->unpackToFile) config->unpackToFile = 1;
    if (info->loadAllPlugins) config->loadAllPlugins = 1;
    if (info->oldApplet) config->oldApplet = 1;
    size_t length = std::strlen(info->requiredPlugins);
    // A list that does not fit is kept to its last whole name.
    while (length >= sizeof config->requiredPlugins) {
        const char *bar = (const char *)memrchr(info->requiredPlugins, '|', length);
        length = bar ? (size_t)(bar - info->requiredPlugins) : 0;
    }
    std::memcpy(config->requiredPlugins, info->requiredPlugins, length);
    config->requiredPlugins[length] = 0;
}

static int ProbeHeader(const char *path, uint64_t offset, int unlinked, lvAppletHeaderInfo *info)
{
    std::memset(info, 0, sizeof *info);
    lvByteSource source;
    char system[LV_PATH_SIZE * 4];
    if (!ToSystemPath(path, system, sizeof system, 1)) return 0;
    if (OpenFileSource(&source, system) != 0) return 0;
    ProbeAppletHeader(&source, offset, unlinked, info);
    CloseByteSource(&source);
    return 0;
}

int StartRuntime(lvState *L, lvAppletRecord *record, lvRuntimeConfig *config, int argc, char **argv)
{
    SetRegistryPointer(L, "applet", record);
    SetRegistryPointer(L, "clargs", config);
    std::srand((unsigned)std::time(nullptr));
    SeedRandom48((uint32_t)std::time(nullptr));
    ComputeCrc32("", 0);

    if (int code = InitPlatform()) return code;
    if (int code = InitSystemEvents()) return code;
    startupState.startTime = GetEpochSeconds(1);
    startupState.startClock = GetEpochSeconds(0);

    startupState.displayListLock = NewMutex();
    if (!startupState.displayListLock) return ERR_SEMAPHORE;
    startupState.eventQueueLock = NewMutex();
    if (!startupState.eventQueueLock) return ERR_SEMAPHORE;

    GetProgramPath(config->programPath, sizeof config->programPath, 0);
    GetCurrentDirPath(startupState.startupDirectory, sizeof startupState.startupDirectory, 0);
    InitStartupSwitches(&startupState.switches);

    lvLinkInfo link;
    ReadLinkMarker(&link);
    startupState.linked = link.linked;
    startupState.blockOffset = link.linked ? link.blockOffset : 0;
    startupState.blocksPresent = link.blocksPresent;
    std::memcpy(startupState.versionLine, link.versionLine, sizeof startupState.versionLine);

    char programDir[LV_PATH_SIZE];
    if (!GetProgramDir(programDir, sizeof programDir, 0)) programDir[0] = 0;
    if (BuildSearchPaths(programDir, !startupState.linked) != 0) return ERR_MEM;

    int wordCount = argc > 0 ? argc - 1 : 0;
    char **words = argc > 0 ? argv + 1 : argv;
    lvOptionSlots *slots = (lvOptionSlots *)AllocMemory(sizeof(lvOptionSlots), 1);
    if (!slots) return ERR_MEM;
    char *commandText = nullptr;
    int code = ParseCommandLine(config, slots, !startupState.linked, 0, wordCount, words, &commandText);
    FreeMemory(commandText);
    FreeMemory(slots);
    int asked = 0;  // the applet came from the requester, not the command line
    if (code == ERR_CONFIG && !startupState.linked) {
        // No applet named: ask for one; where no requester can be shown, say how the
        // runtime is called instead.
        code = startupHooks.AskForApplet(config->appletPath, sizeof config->appletPath);
        asked = !code;
        if (code) config->appletPath[0] = 0;
        if (code == ERR_CONFIG) PrintUsage();
        if (code) return code;
    }
    if (code && code != ERR_CONFIG) return code;

    if (startupState.blocksPresent)
        std::snprintf(config->appletPath, sizeof config->appletPath, "%s", config->programPath);

    int quiet = 0;
    lvAppletHeaderInfo info;
    if (startupState.linked) {
        if (startupState.blocksPresent) {
            uint64_t offset = startupState.blockOffset;
            if (int extracted = ExtractPluginBlocks(config->programPath, &offset)) return extracted;
            startupState.blockOffset = (uint32_t)offset;
        }
        ProbeHeader(config->appletPath, startupState.blockOffset, 0, &info);
        TakeHeaderInfo(config, &info);
        if (info.found && info.commandLine) {
            if (int applied = ParseAndApplyOptions(config, record, wordCount, words, 0)) return applied;
        }
        quiet = 1;
    } else {
        ProbeHeader(config->appletPath, 0, 1, &info);
        TakeHeaderInfo(config, &info);
        // An applet file named on the command line takes the options beside it; one
        // chosen in the requester takes the options alone.
        char chosen[sizeof config->appletPath];
        std::memcpy(chosen, config->appletPath, sizeof chosen);
        if (int applied = ParseAndApplyOptions(config, record, wordCount, words, !asked)) return applied;
        if (asked) std::memcpy(config->appletPath, chosen, sizeof chosen);
        if (info.found && info.quiet) quiet = 1;
    }
    if (int expanded = ExpandSearchPathVariables()) return expanded;

    lvStartupSwitches *switches = &startupState.switches;
    if (switches->debugDevice) OpenDebugChannel(switches->debugDeviceText);
    if (switches->tempDirSet) SetTempDirectory(switches->tempDir);
    if (switches->noDebug) startupState.noDebug = 1;
    if (switches->errorCodeSet) {
        startupState.errorExitCodeSet = 1;
        startupState.errorExitCode = switches->errorCode;
    }
    if (!switches->debugDevice) quiet = 1;
    if (config->quiet) quiet = 1;
    config->quiet = quiet;
    SetRuntimeFlags(L, LV_FLAG_QUIET, quiet, 0);
    if (!quiet) {
        WriteDebugText(GetBannerText());
        WriteDebugText("\n");
    }
    return OpenLibraries(L);
}

// ---- The applet -------------------------------------------------------------------------------------

int OpenApplet(lvRuntimeConfig *config, lvState *L, lvAppletRecord *record)
{
    char full[LV_PATH_SIZE];
    if (!GetFullPath(config->appletPath, full, sizeof full)) {
        SetErrorStringArg(config->appletPath);
        return ERR_FILEEXIST;
    }
    std::memcpy(config->appletPath, full, std::strlen(full) + 1);
    lvVFile *probe = OpenVFile(full, LV_VF_READ, nullptr, nullptr);
    if (!probe) {
        SetErrorStringArg(full);
        return ERR_FILEEXIST;
    }
    CloseVFile(probe);

    // Relative names of the applet are found beside it.
    const char *directoryEnd = nullptr;
    const char *textEnd = nullptr;
    FindFilePartBounds(full, &directoryEnd, &textEnd);
    if (directoryEnd && directoryEnd > full) {
        std::string directory(full, (size_t)(directoryEnd - full));
        char previous[LV_PATH_SIZE];
        if (int code = ChangeCurrentDir(directory.c_str(), previous, sizeof previous)) return code;
        FreeMemory(startupState.previousDirectory);
        startupState.previousDirectory = (char *)AllocMemory(std::strlen(previous) + 1, 0);
        if (startupState.previousDirectory)
            std::memcpy(startupState.previousDirectory, previous, std::strlen(previous) + 1);
    }

    char line[600];
    BuildStatusLineText(GetMessageString(LV_MSG_LOADING_APPLET), full, 1, line, sizeof line);
    PrintStatus(line);

    char tempFile[LV_PATH_SIZE] = "";
    if (config->unpackToFile) {
        if (int code = NewTempFile(tempFile, sizeof tempFile)) return code;
    }
    char system[LV_PATH_SIZE * 4];
    if (!ToSystemPath(full, system, sizeof system, 1)) {
        SetErrorStringArg(full);
        return ERR_READFILE;
    }
    char systemTemp[LV_PATH_SIZE * 4] = "";
    if (tempFile[0] && !ToSystemPath(tempFile, systemTemp, sizeof systemTemp, 1)) return ERR_WRITEFILE;
    int code = OpenAppletContainer(system, startupState.blockOffset, tempFile[0] ? systemTemp : nullptr,
                                   &startupState.container);
    if (code) {
        if (code == ERR_NOAPPLET) SetErrorStringArg(FindFilePart(full));
        else if (code == ERR_READFILE) SetErrorStringArg(full);
        else if (code == ERR_WRITEFILE || code == ERR_WRITE) SetErrorStringArg(tempFile);
        return code;
    }
    startupState.containerOpen = 1;
    config->isApplet = 1;

    char argument[LV_ERROR_ARG_SIZE] = "";
    code = ParseAppletRecords(&startupState.container, record, argument, sizeof argument);
    if (code) {
        if (argument[0]) SetErrorStringArg(argument);
        PrintStatus("\n");
        return code;
    }
    PrintStatus(GetMessageString(LV_MSG_DONE));
    PrintStatus("\n");
    startupState.appletLoaded = 1;
    SetRegistryString(L, "script", ":none:");
    return 0;
}

// Switches the run to ISO-8859-1 and converts every text start-up holds that names a file
// or is compared with script text: after the switch, names are read as ISO-8859-1, so a
// text left in UTF-8 would name another file (or none).
static void SwitchToLatin1(lvRuntimeConfig *config, lvAppletRecord *record)
{
    if (GetGlobalEncoding() == LV_ENCODING_LATIN1) return;
    char tempDirectory[LV_PATH_SIZE];
    CopyStrBounded(tempDirectory, sizeof tempDirectory, GetTempDirectory());
    char *texts[] = {config->appletPath, config->programPath, config->givenAppletPath,
                     config->absoluteAppletPath, config->requireTags, startupState.startupDirectory,
                     startupState.previousDirectory, startupState.pluginDirectory, tempDirectory,
                     startupState.switches.backfill.brushFile, startupState.switches.tempDir};
    SwitchTextsToLatin1(texts, sizeof texts / sizeof texts[0]);
    SetTempDirectory(tempDirectory);
    for (lvLinkedFile *file = record->linkedFiles; file; file = file->next) {
        Utf8ToLatin1InPlace(file->name);
        Utf8ToLatin1InPlace(file->containerPath);
    }
    for (lvSearchPath *path = GetSearchPaths(); path; path = path->next) Utf8ToLatin1InPlace(path->path);
    // Plug-ins that keep texts of their own convert them now.
    RunPluginHooks(startupState.state, 3, nullptr, nullptr);
}

// The labels of the applet into the registry table "labels", names lower-cased.
static void DefineAppletLabels(lvState *L, const lvAppletRecord *record)
{
    if (!record->labels) return;
    PushString(L, "labels");
    GetTableValueRaw(L, LV_REGISTRYINDEX);
    if (GetValueType(L, -1) != LV_TTABLE) {
        SetStackTop(L, -2);
        PushNewTable(L);
        PushString(L, "labels");
        PushCopy(L, -2);
        SetTableValueRaw(L, LV_REGISTRYINDEX);
    }
    for (const lvAppletLabel *label = record->labels; label; label = label->next) {
        char name[sizeof label->name];
        std::memcpy(name, label->name, sizeof name);
        LowerAscii(name);
        PushString(L, name);
        PushNumber(L, label->value);
        SetTableValueRaw(L, -3);
    }
    SetStackTop(L, -2);
}

// The applet's user constants into "userconstants". 0 or ERR_MEM.
static int DefineUserConstants(lvState *L, const lvAppletRecord *record)
{
    size_t count = 0;
    for (const lvUserConstant *c = record->userConstants; c; c = c->next) count++;
    if (!count) return 0;
    lvConstantEntry *entries = (lvConstantEntry *)AllocMemory(sizeof(lvConstantEntry) * (count + 1), 1);
    if (!entries) return ERR_MEM;
    size_t i = 0;
    for (const lvUserConstant *c = record->userConstants; c; c = c->next, i++)
        entries[i] = {c->name, c->string, c->number};
    DefineConstants(L, "user", entries, 1);
    FreeMemory(entries);
    return 0;
}

int LoadAppletMainChunk(lvState *L, lvRuntimeConfig *config, lvAppletRecord *record)
{
    if (startupState.switches.wantLatin1 || record->encoding == LV_ENCODING_LATIN1) SwitchToLatin1(config, record);
    startupHooks.EncodingApplied(L);
    DefineAppletLabels(L, record);
    if (int code = DefineUserConstants(L, record)) return code;

    SetRuntimeFlags(L, LV_FLAG_LOCATION_TRACKING, 1, 0);
    if (!record->bytecode || !record->bytecodeSize) return ERR_UNEXPECTEDEOF;
    int code = LoadChunkBuffer(L, record->bytecode, record->bytecodeSize, startupState.container.path);
    if (code) return code;
    // Jump requests land only in the main chunk, whose instructions the labels index.
    SetLabelOwner(L, -1);

    uint32_t flags = record->flagsBlock.flags;
    if ((flags & LV_APPLETFLAG_RETURNDIR) && startupState.previousDirectory) {
        if (int changed = ChangeCurrentDir(startupState.previousDirectory, nullptr, 0)) return changed;
    }
    if (flags & LV_APPLETFLAG_NODEBUG) startupState.noDebug = startupState.switches.noDebug = 1;
    if (flags & LV_APPLETFLAG_SOFTTIMER) SetPlatformOptionFlags(GetPlatformOptionFlags() | LV_OPTION_SOFTTIMER);
    if (record->flagsBlock.channelCount) config->numChannels = record->flagsBlock.channelCount;
    if (flags & LV_APPLETFLAG_DPIAWARE) InitDpiAwareness();
    SetRuntimeFlags(L, LV_FLAG_LOCATION_TRACKING, 0, 0);
    return startupHooks.ApplyAppletDisplaySettings(L, record);
}

// ---- Preload of linked objects -------------------------------------------------------------------

// Calls the preload command of a linked object by its name in the globals, with the
// identifier, the file name and, when the object names a loader or an adapter, an option
// table. A command that is not registered is a library missing from this build.
static int CallPreloadCommand(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer)
{
    lvState *L = ((lvPreloadRun *)user)->L;
    const char *command = GetPreloadCommandName(object->type);
    if (!command) return 0;
    char name[64];
    std::snprintf(name, sizeof name, "%s", command);
    LowerAscii(name);
    int top = GetStackTop(L);
    PushString(L, name);
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg(command);
        return ERR_UNIMPLCMD;
    }
    PushNumber(L, object->identifier);
    PushString(L, fileName ? fileName : "");
    int arguments = 2;
    if (object->loaderName[0] || object->adapterName[0]) {
        PushNewTable(L);
        if (object->loaderName[0]) {
            PushString(L, "loader");
            PushString(L, object->loaderName);
            SetTableValueRaw(L, -3);
        }
        if (object->adapterName[0]) {
            PushString(L, "adapter");
            PushString(L, object->adapterName);
            SetTableValueRaw(L, -3);
        }
        arguments = 3;
    }
    int code = ProtectedCall(L, arguments, 0, 0);
    SetStackTop(L, top);
    return code;
}

static int PreloadRequirePlugin(void *user, lvLinkedObject *object, int mode)
{
    lvPreloadRun *run = (lvPreloadRun *)user;
    // Linked plug-ins are required while display, timer and other adapters may install.
    SetAdapterSetupPhase(1);
    int code = startupHooks.RequirePlugin(run->L, object, mode);
    SetAdapterSetupPhase(0);
    return code;
}

static int PreloadPrepare(void *user, int hasDisplay1)
{
    lvPreloadRun *run = (lvPreloadRun *)user;
    SetRuntimeFlags(run->L, LV_FLAG_PRELOAD, 1, LV_FLAG_LOCATION_TRACKING, 1, 0);
    return 0;
}

static int PreloadCreateDisplay(void *user, lvLinkedObject *object, int backgroundLinked)
{
    lvPreloadRun *run = (lvPreloadRun *)user;
    return startupHooks.CreatePresetDisplay(run->L, object, backgroundLinked);
}

static void PreloadPrint(void *user, const char *text)
{
    WriteDebugText(text);
}

static void PreloadFinish(void *user)
{
    lvPreloadRun *run = (lvPreloadRun *)user;
    SetRuntimeFlags(run->L, LV_FLAG_PRELOAD, 0, LV_FLAG_QUIET, startupState.config ? startupState.config->quiet : 1,
                    LV_FLAG_LOCATION_TRACKING, 0, 0);
}

int PreloadAppletObjects(lvState *L, lvRuntimeConfig *config, lvAppletRecord *record)
{
    lvPreloadRun run = {L};
    lvPreloadHooks hooks;
    std::memset(&hooks, 0, sizeof hooks);
    hooks.requirePlugin = PreloadRequirePlugin;
    hooks.prepare = PreloadPrepare;
    hooks.createDisplay = PreloadCreateDisplay;
    hooks.print = PreloadPrint;
    hooks.finish = PreloadFinish;
    hooks.noDebug = startupState.noDebug;
    for (int type = 0; type < LV_LINKED_TYPES; type++) {
        if (startupHooks.preload[type]) hooks.load[type] = startupHooks.preload[type];
        else if (GetPreloadCommandName(type)) hooks.load[type] = CallPreloadCommand;
    }
    lvPreloadStatus status;
    std::memset(&status, 0, sizeof status);
    int code = PreloadLinkedObjects(record, &startupState.container, &hooks, &run, &status);
    if (code) {
        if (status.commandName) SetErrorCommandName(status.commandName);
        return code;
    }
    if (!status.containerNeeded && startupState.containerOpen) {
        CloseAppletContainer(&startupState.container);
        startupState.containerOpen = 0;
    }
    return 0;
}

// ---- Line hook and the script body ---------------------------------------------------------------

static int LineHook(lvState *L, lvDebugInfo *info, int *errorOut)
{
    if (GetRuntimeSwitches()->hookSuspended) return 0;
    int code = startupHooks.PollRuntimeEvents(L, 1);
    if (code) *errorOut = code;
    return 0;
}

// How often the line hook polls events when no plug-in line hook asks for every line.
static const int kLinePollPeriodMs = 4;

// Gated: the interpreter runs it at new lines only while there is work (a poll falls due
// every few milliseconds, or plug-in line hooks ask for every line through
// SetLineHookWork), and otherwise runs as fast as without a hook. Answers whether a hook
// was set: without event polling it would do nothing.
static bool SetRuntimeLineHook(lvState *L)
{
    if (startupHooks.PollRuntimeEvents == NoRuntimeEvents) return false;
    SetGatedLineHook(L, LineHook);
    return true;
}

void InstallLineHook(lvState *L)
{
    if (SetRuntimeLineHook(L)) StartLineHookTimer(kLinePollPeriodMs);
}

// Runs the main chunk (left on the stack by LoadAppletMainChunk) in a protected call. The
// machine made on the main thread is driven by the script thread until the chunk ends.
static int RunMainChunk(void *state)
{
    lvState *L = (lvState *)state;
    ClaimVMState(L);
    try {
        return ProtectedCall(L, 0, 0, 0);
    } catch (const lvVMError &error) {
        return error.code;
    }
}

// ---- Final report --------------------------------------------------------------------------------

// The report goes through the error engine. A host-window device whose host is not
// connected leaves the channel on standard output, so the report then takes the form a
// host reads with line ends as on a console.
static void ReportRunError(int code, lvRuntimeConfig *config, lvState *L)
{
    lvStartupSwitches switches = startupState.switches;
    if (switches.hostDevice && !DebugHostConnected()) {
        switches.formatError = 1;
        switches.hostDevice = 0;
    }
    ReportFinalErrorWithSwitches(code, config, &switches, L);
}

// ---- Shut-down --------------------------------------------------------------------------------------

int ShutdownRuntime(lvState *L, int code, lvRuntimeConfig *config, lvAppletRecord *record)
{
    startupState.shuttingDown = 1;
    if (L) SetRuntimeFlags(L, LV_FLAG_PRELOAD, 0, LV_FLAG_QUIET, config ? config->quiet : 1, 0);
    startupHooks.CloseAudio();
    CloseLibraries(L, 1);
    if (config) FreeRuntimeConfig(config);
    FreeMemory(startupState.previousDirectory);
    startupState.previousDirectory = nullptr;

    ReportRunError(code, config, L);

    startupHooks.FreeRequesters();
    FreeRuntimeLists();

    if (record) FreeAppletRecord(record, 0);
    startupState.record = nullptr;
    startupHooks.FreePluginLibraries(L);
    if (L) CloseVMState(L);
    startupState.state = nullptr;
    SetMainVMState(nullptr);
    startupHooks.UnloadAllPlugins();
    if (startupState.containerOpen) {
        CloseAppletContainer(&startupState.container);
        startupState.containerOpen = 0;
    }

    FreeMemoryRanges();
    if (startupState.pluginDirectory[0]) {
        DeleteDirectoryTree(startupState.pluginDirectory);
        startupState.pluginDirectory[0] = 0;
    }

    FreeMutex(startupState.eventQueueLock);
    FreeMutex(startupState.displayListLock);
    startupState.eventQueueLock = startupState.displayListLock = nullptr;
    FreeMemory(config);
    startupState.config = nullptr;

    DeleteTempFiles();
    FreeSearchPaths();
    FreeSystemEvents();
    FreeLoopSignals();
    CloseDebugChannel();
    ExitPlatform();

    if (code == 0 || code == ERR_USERABORT) return 0;
    // A failed run must not look like success to the shell.
    return startupState.errorExitCodeSet ? startupState.errorExitCode : 1;
}

// ---- Stop signals -------------------------------------------------------------------------------

// SIGINT, SIGTERM and SIGHUP end the script rather than the process, so that shut-down
// still frees everything and removes the temporary directory. The handler only stores: the
// interpreter sees the stop request at its next instruction. A second signal of the same
// kind ends the process at once (the handler resets itself).
static volatile sig_atomic_t stopSignalNumber = 0;

static void OnStopSignal(int number)
{
    stopSignalNumber = number;
    RequestScriptStop(1);
}

static void InstallStopSignals(void)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
}

static void RemoveStopSignals(void)
{
    for (int number : {SIGINT, SIGTERM, SIGHUP}) signal(number, SIG_DFL);
}

// ---- Main ----------------------------------------------------------------------------------------------

int RuntimeMain(int argc, char **argv)
{
    startupState.argc = argc;
    startupState.argv = argv;
    for (int i = 0; i < argc; i++) {
        if (argv && argv[i]) continue;
        // An argument that could not be converted leaves nothing to run with.
        char message[256];
        GetErrorText(ERR_MEM, message, sizeof message);
        std::fprintf(stderr, "%s\n", message);
        return 1;
    }
    lvRuntimeConfig *config = (lvRuntimeConfig *)AllocMemory(sizeof(lvRuntimeConfig), 1);
    lvAppletRecord *record = (lvAppletRecord *)AllocMemory(sizeof(lvAppletRecord), 1);
    if (!config || !record) {
        FreeMemory(config);
        FreeMemory(record);
        std::fputs("Not enough memory.\n", stdout);
        return 1;
    }
    InitRuntimeConfig(config);
    InitAppletRecord(record);
    lvState *L = NewVMState();
    if (!L) {
        std::fputs("Not enough memory.\n", stdout);
        FreeMemory(config);
        FreeMemory(record);
        return 1;
    }
    startupState.state = L;
    startupState.config = config;
    startupState.record = record;
    // The runtime's host services: errors raised by the error mode with their location,
    // the error handler, message arguments, debug output and the call trace.
    InstallRuntimeHost();
    SetMainVMState(L);
    InstallStopSignals();

    int code = 0;
    try {
        code = StartRuntime(L, record, config, argc, argv);
        if (!code) code = startupHooks.LoadStartupPlugins(L, config, startupState.pluginDirectory);
        if (!code) code = OpenApplet(config, L, record);
        if (!code) code = LoadAppletMainChunk(L, config, record);
        if (!code) code = startupHooks.ApplyAppletIcons(L, record);
        bool lineHook = !code && SetRuntimeLineHook(L);
        if (!code) code = PreloadAppletObjects(L, config, record);
        if (!code) code = startupHooks.OpenStartupDisplays(L);
        // The poll timer is a thread of its own: started once the displays are open, the
        // display connection is made while no thread but this one runs (see timers.cpp).
        if (!code && lineHook) StartLineHookTimer(kLinePollPeriodMs);
        // Start-up is complete: the plug-ins' one-shot hooks run before the script does.
        if (!code) RunPluginHooks(L, 3, nullptr, nullptr);
        if (!code) {
            SetRuntimeFlags(L, LV_FLAG_LOCATION_TRACKING, 1, 0);
            code = startupHooks.RunMainLoop(RunMainChunk, L);
            ClaimVMState(L);
        }
    } catch (const lvVMError &error) {
        code = error.code;
    }
    int exitCode;
    if (code == ERR_USERABORT) {
        ShutdownRuntime(L, 0, config, record);
        exitCode = startupState.endCode;
    } else {
        exitCode = ShutdownRuntime(L, code, config, record);
    }
    RemoveStopSignals();
    // Stopped from outside: the shell's code for a process ended by that signal.
    if (stopSignalNumber) exitCode = 128 + stopSignalNumber;
    // The shell sees the low eight bits only: a failure code such as 256 must not read as 0.
    if (exitCode != 0 && (exitCode & 0xFF) == 0) exitCode = 255;
    return exitCode;
}
