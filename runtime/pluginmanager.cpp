// pluginmanager.cpp - the plug-in manager: the list of loaded plug-ins, loading by name
// and at start-up, RequirePlugin, registration of plug-in libraries and saver formats,
// the adapter chains behind adapter lists, hooks, plug-in event names, and shut-down.
//
// Dependencies: runtime/plugin.h, runtime/vdir.h, runtime/startup.h (hooks),
// runtime/errors.h, vm/lvvm.h. Limits: no locks (the thread that drives the script owns
// all of it); list elements of at most 255 bytes.
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/plugin.h"
#include "runtime/pluginevents.h"
#include "runtime/startup.h"
#include "runtime/vdir.h"
#include "platform/lvplatform.h"
#include <cstdio>
#include <cstring>
#include <strings.h>

// The file layer's adapter records and the interface's carry the same bytes.
static_assert(sizeof(lvPluginStat) == sizeof(lvAdapterStat), "stat records differ");
static_assert(offsetof(lvPluginStat, fullPath) == offsetof(lvAdapterStat, fullPath), "stat records differ");
static_assert(sizeof(lvPluginTag) == sizeof(lvAdapterTag), "tag records differ");
static_assert(offsetof(lvPluginTag, value) == offsetof(lvAdapterTag, value), "tag records differ");
static_assert(sizeof(lvPluginCommand) == sizeof(lvCommandEntry), "command rows differ");
static_assert(sizeof(lvPluginConstant) == sizeof(lvConstantEntry), "constant rows differ");

// ============================================================================
// State
// ============================================================================

// One member of an adapter chain.
struct lvAdapterChainNode {
    lvAdapterChainNode *next;   // next member
    lvPluginRecord *record;     // the plug-in
};

// One hook.
struct lvPluginHook {
    lvPluginHook *next;   // next hook, creation order
    int type;             // 0..4
    intptr_t value;       // the value given when added
    void *userData;       // handed to the callback
    int disabled;         // skipped while set
    int mark;             // owner key: added during a load in progress
    void *callback;       // the callback of its type
};


#define LV_CHAIN_COUNT 10
static const uint32_t chainCapabilities[LV_CHAIN_COUNT] = {PLUGINCAPS_IMAGE, PLUGINCAPS_ANIM, PLUGINCAPS_SOUND,
    PLUGINCAPS_VIDEO, PLUGINCAPS_FILEADAPTER, PLUGINCAPS_DIRADAPTER, PLUGINCAPS_NETWORKADAPTER, PLUGINCAPS_ICON,
    PLUGINCAPS_FONT, PLUGINCAPS_FILESYSADAPTER};

// Everything the manager keeps, in one record.
struct lvPluginManager {
    lvPluginNode *first;                        // loaded plug-ins, load order
    lvAdapterChainNode *chains[LV_CHAIN_COUNT]; // one chain per capability above
    lvPluginHook *hooks;                        // hooks, creation order
    lvPluginRecord *clipboard;                  // installed clipboard adapter
    lvPluginRecord *adapters[LV_ADAPTER_KINDS]; // installed display, requester, timer, IPC adapters
    int linked;                                 // the run is linked (plug-in directories)
    int announcedOnDemand;                      // the line end before on-demand loads was printed
    lvState *state;                             // the last script state a load was given
};
static lvPluginManager manager;

lvState *GetPluginScriptState(void)
{
    if (lvState *L = GetStartupState()->state) return L;
    return manager.state;
}

void SetPluginScriptState(lvState *L) { manager.state = L; }

static int Quiet(void) { return GetRuntimeSwitches()->quiet; }

static void Print(const char *text)
{
    if (!Quiet()) PrintDebugText(text);
}

static int ChainIndex(uint32_t capability)
{
    for (int i = 0; i < LV_CHAIN_COUNT; i++)
        if (chainCapabilities[i] == capability) return i;
    return -1;
}

static uint32_t *AdapterFlagsWord(lvPluginRecord *record, uint32_t capability)
{
    switch (capability) {
    case PLUGINCAPS_IMAGE: return &record->imageFlags;
    case PLUGINCAPS_ANIM: return &record->animFlags;
    case PLUGINCAPS_SOUND: return &record->soundFlags;
    case PLUGINCAPS_VIDEO: return &record->videoFlags;
    case PLUGINCAPS_FILEADAPTER: return &record->fileAdapterFlags;
    case PLUGINCAPS_DIRADAPTER: return &record->dirAdapterFlags;
    case PLUGINCAPS_NETWORKADAPTER: return &record->networkFlags;
    case PLUGINCAPS_ICON: return &record->iconFlags;
    case PLUGINCAPS_FONT: return &record->fontFlags;
    case PLUGINCAPS_FILESYSADAPTER: return &record->fileSysFlags;
    }
    return nullptr;
}

// ============================================================================
// Loaded plug-ins
// ============================================================================

lvPluginNode *GetFirstPluginNode(void) { return manager.first; }

lvPluginNode *FindPluginNode(const lvPluginRecord *record)
{
    for (lvPluginNode *node = manager.first; node; node = node->next)
        if (node->handle->record == record) return node;
    return nullptr;
}

// Length of a name without a trailing ".lvp" (any case).
static size_t BaseLength(const char *name)
{
    size_t length = std::strlen(name);
    if (length > 4 && strcasecmp(name + length - 4, ".lvp") == 0) return length - 4;
    return length;
}

lvPluginNode *FindPluginByModuleName(const char *moduleName)
{
    size_t length = BaseLength(moduleName);
    for (lvPluginNode *node = manager.first; node; node = node->next) {
        const char *module = node->handle->record->moduleName;
        if (module && std::strlen(module) == length && strncasecmp(module, moduleName, length) == 0) return node;
    }
    return nullptr;
}

static lvPluginNode *FindPluginByFileName(const char *fileName)
{
    for (lvPluginNode *node = manager.first; node; node = node->next)
        if (strcasecmp(node->fileName, fileName) == 0) return node;
    return nullptr;
}

// The file layer's view of a plug-in's file and directory slots.
static void FillFileAdapter(lvPluginNode *node)
{
    lvPluginRecord *r = node->handle->record;
    lvFileAdapter *a = &node->adapter;
    a->name = r->moduleName;
    a->chunkSupport = r->fileAdapterFlags;
    a->FOpen = (void *(*)(const char *, int, const lvAdapterTag *))r->FOpen;
    a->FClose = r->FClose;
    a->FRead = r->FRead;
    a->FWrite = r->FWrite;
    a->FSeek = r->FSeek;
    a->FGetC = r->FGetC;
    a->FPutC = r->FPutC;
    a->FFlush = r->FFlush;
    a->FEof = r->FEof;
    a->FStat = (int (*)(void *, lvAdapterStat *, const lvAdapterTag *))r->FStat;
    a->Stat = (int (*)(const char *, int, lvAdapterStat *, const lvAdapterTag *))r->Stat;
    a->OpenDir = (void *(*)(const char *, int, const lvAdapterTag *))r->OpenDir;
    a->CloseDir = r->CloseDir;
    a->NextDirEntry = (int (*)(void *, lvAdapterStat *, const lvAdapterTag *))r->NextDirEntry;
    a->StatDir = (int (*)(void *, int, lvAdapterStat *, const lvAdapterTag *))r->StatDir;
}

static int AppendPluginNode(uint32_t capabilities, lvPluginHandle *handle, const char *path, lvPluginNode **out)
{
    lvPluginNode *node = (lvPluginNode *)AllocMemory(sizeof(lvPluginNode), 1);
    if (!node) return ERR_MEM;
    node->capabilities = capabilities;
    node->handle = handle;
    CopyStrBounded(node->fileName, sizeof node->fileName, FindFilePart(path));
    CopyStrBounded(node->path, sizeof node->path, path);
    FillFileAdapter(node);
    lvPluginNode **tail = &manager.first;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    *out = node;
    return 0;
}

// ============================================================================
// Registration of libraries and saver formats
// ============================================================================

// Enumerates a saver's formats twice (count, then fill) and defines one constant per
// format: prefix + name = format id.
static int RegisterFormatIds(lvState *L, const char *prefix, lvRegisterSaverFunction registerSaver,
                             lvPluginSaverFormat **listOut, uint32_t moreBit)
{
    lvPluginSaverFormat item;
    int count = 0;
    size_t textBytes = 0;
    std::memset(&item, 0, sizeof item);
    do {
        registerSaver(&item);
        if (item.formatId == 0 && !item.name) break;
        count++;
        textBytes += std::strlen(prefix) + (item.name ? std::strlen(item.name) : 0) + 1;
    } while ((item.flags & moreBit) && count < 4096);

    lvPluginSaverFormat *list = (lvPluginSaverFormat *)AllocMemory(sizeof(lvPluginSaverFormat) * (count + 1) + textBytes, 1);
    lvConstantEntry *constants = (lvConstantEntry *)AllocMemory(sizeof(lvConstantEntry) * (count + 1), 1);
    if (!list || !constants) {
        FreeMemory(list);
        FreeMemory(constants);
        return ERR_MEM;
    }
    char *text = (char *)(list + count + 1);
    std::memset(&item, 0, sizeof item);
    for (int i = 0; i < count; i++) {
        registerSaver(&item);
        list[i].flags = item.flags & ~moreBit;
        list[i].formatId = item.formatId;
        std::snprintf(text, textBytes, "%s%s", prefix, item.name ? item.name : "");
        list[i].name = text + std::strlen(prefix);
        constants[i].name = text;
        constants[i].number = item.formatId;
        size_t used = std::strlen(text) + 1;
        text += used;
        textBytes -= used;
    }
    if (L && count) DefineConstants(L, "plugin", constants, 0);
    FreeMemory(constants);
    FreeMemory(*listOut);
    *listOut = list;
    return 0;
}

int RegisterPluginLibraries(lvState *L, lvPluginNode *node, int loadFlags)
{
    lvPluginRecord *r = node->handle->record;
    if (r->libraryInitialised && r->commandsRegistered && r->constantsRegistered) return 0;
    int count = r->GetLibraryCount ? r->GetLibraryCount() : 1;
    int registered = 0;
    for (int index = 0; index < count; index++) {
        if (r->SetCurrentLibrary) r->SetCurrentLibrary(index);
        const char *base = r->GetBaseTable();
        const lvPluginCommand *commands = r->GetCommands();
        const lvPluginConstant *constants = r->GetConstants();
        int top = GetStackTop(L);
        if ((loadFlags & LV_PLF_COMMANDS) && commands && !r->commandsRegistered) {
            size_t baseLength = base ? std::strlen(base) : 0;
            if (baseLength && base[baseLength - 1] == ':') {
                if (baseLength > 63) return ERR_INTERNAL;
                char metaName[LV_PATH_SIZE];
                std::snprintf(metaName, sizeof metaName, "%s.lvp.%.*s", r->moduleName, (int)baseLength - 1, base);
                int upvalues = r->PushUpvalues ? r->PushUpvalues(L) : 0;
                NewNamedMetatable(L, metaName);
                PushString(L, "__index");
                PushCopy(L, -2);
                SetTableValueRaw(L, -3);
                for (const lvPluginCommand *c = commands; c->name; c++) {
                    if (!c->func) continue;
                    char lower[128];
                    CopyStrBounded(lower, sizeof lower, c->name);
                    for (char *p = lower; *p; p++)
                        if (*p >= 'A' && *p <= 'Z') *p = (char)(*p - 'A' + 'a');
                    PushString(L, lower);
                    for (int i = 0; i < upvalues; i++) PushCopy(L, -(upvalues + 2));
                    PushNativeClosure(L, c->func, upvalues);
                    SetTableValueRaw(L, -3);
                }
            } else {
                const char *libName = baseLength ? base : nullptr;
                if (!libName) PushCopy(L, LV_GLOBALSINDEX);
                int upvalues = r->PushUpvalues ? r->PushUpvalues(L) : 0;
                RegisterLibrary(L, libName, (const lvCommandEntry *)commands, upvalues);
            }
            // Error reports name a plug-in's commands as the plug-in spells them.
            if (int code = RegisterCommandList((const lvCommandEntry *)commands, r->moduleName)) return code;
            SetStackTop(L, top);
            registered = 1;
        }
        if ((loadFlags & LV_PLF_CONSTANTS) && constants && !r->constantsRegistered) {
            DefineConstants(L, base, (const lvConstantEntry *)constants, 0);
            registered = 1;
        }
    }
    if (registered) {
        if (loadFlags & LV_PLF_COMMANDS) r->commandsRegistered = 1;
        if (loadFlags & LV_PLF_CONSTANTS) r->constantsRegistered = 1;
    }
    if ((loadFlags & LV_PLF_COMMANDS) && !r->libraryInitialised) {
        int top = GetStackTop(L);
        r->libraryInitialised = 1;
        int code = r->InitLibrary(L);
        SetStackTop(L, top);
        return code;
    }
    return 0;
}

// Libraries (unless deferred) and saver formats of a freshly loaded plug-in.
static int RegisterPluginExtras(lvState *L, lvPluginNode *node, int loadFlags)
{
    lvPluginRecord *r = node->handle->record;
    if ((r->capabilities & PLUGINCAPS_LIBRARY) && !(r->extensions[1] & 2) && L) {
        if (int code = RegisterPluginLibraries(L, node, loadFlags)) return code;
    }
    if (r->capabilities & PLUGINCAPS_SAVEIMAGE)
        if (int code = RegisterFormatIds(L, "imgfmt_", r->RegisterImageSaver, &r->imageSavers, LVP_SAVEIMAGE_MORE))
            return code;
    if (r->capabilities & PLUGINCAPS_SAVEANIM)
        if (int code = RegisterFormatIds(L, "anmfmt_", r->RegisterAnimSaver, &r->animSavers, LVP_SAVEANIM_MORE))
            return code;
    if (r->capabilities & PLUGINCAPS_SAVESAMPLE)
        if (int code = RegisterFormatIds(L, "sndfmt_", r->RegisterSampleSaver, &r->sampleSavers, LVP_SAVESAMPLE_MORE))
            return code;
    if (r->capabilities & PLUGINCAPS_SAVEICON)
        if (int code = RegisterFormatIds(L, "icnfmt_", r->RegisterIconSaver, &r->iconSavers, LVP_SAVEICON_MORE))
            return code;
    return 0;
}

// ============================================================================
// Loading
// ============================================================================

static int EndsWithLvp(const char *name)
{
    size_t length = std::strlen(name);
    return length > 4 && strcasecmp(name + length - 4, ".lvp") == 0;
}

static int IsReadable(const char *path)
{
    lvVFile *file = OpenVFile(path, LV_VF_READ, "inbuilt", nullptr);
    if (!file) return 0;
    CloseVFile(file);
    return 1;
}

int LoadPluginByName(lvState *L, const char *name, int loadFlags, lvPluginNode **nodeOut)
{
    if (nodeOut) *nodeOut = nullptr;
    if (L) manager.state = L;
    const char *filePart = FindFilePart(name);
    if (lvPluginNode *loaded = FindPluginByFileName(filePart)) {
        if (nodeOut) *nodeOut = loaded;
        return 0;
    }
    char line[LV_PATH_SIZE + 32];
    std::snprintf(line, sizeof line, "Loading plugin %s", filePart);
    Print(line);

    char path[LV_PATH_SIZE];
    if (filePart != name) {
        CopyStrBounded(path, sizeof path, name);
    } else {
        path[0] = 0;
        char **dirs = nullptr;
        int count = 0;
        if (int code = ListPluginDirs(&dirs, &count)) return code;
        for (int i = 0; i < count && !path[0]; i++) {
            for (int underscore = 0; underscore < 2 && !path[0]; underscore++) {
                char candidate[LV_PATH_SIZE];
                CopyStrBounded(candidate, sizeof candidate, dirs[i]);
                char part[LV_PATH_SIZE];
                std::snprintf(part, sizeof part, "%s%s%s", underscore ? "_" : "", name, EndsWithLvp(name) ? "" : ".lvp");
                AppendPathPart(candidate, part, sizeof candidate);
                if (IsReadable(candidate)) CopyStrBounded(path, sizeof path, candidate);
            }
        }
        FreePluginDirs(dirs, count);
        if (!path[0]) {
            SetErrorStringArg(filePart);
            return ERR_LOADPLUGIN;
        }
    }
    uint32_t capabilities = 0;
    lvPluginHandle *handle = nullptr;
    if (int code = LoadPluginFile(path, &capabilities, &handle)) return code;
    lvPluginNode *node = nullptr;
    if (int code = AppendPluginNode(capabilities, handle, path, &node)) {
        RemoveAdapterFromChain(handle->record, 0);
        UnloadPluginHandle(handle);
        return code;
    }
    if (nodeOut) *nodeOut = node;
    if (int code = RegisterPluginExtras(L, node, loadFlags)) return code;
    Print("done\n");
    return 0;
}

static int RequireFailure(const char *name, int version, int revision, int loadFlags)
{
    if (loadFlags & LV_PLF_MISSINGOK) return 0;
    char text[LV_PATH_SIZE];
    size_t length = BaseLength(FindFilePart(name));
    if (version || revision)
        std::snprintf(text, sizeof text, "%.*s.lvp %d.%d", (int)length, FindFilePart(name), version, revision);
    else
        std::snprintf(text, sizeof text, "%.*s.lvp", (int)length, FindFilePart(name));
    SetErrorStringArg(text);
    return ERR_REQUIREPLUGIN;
}

int RequirePluginByName(lvState *L, const char *name, int version, int revision, int loadFlags,
                        const void *userTags, uint32_t *wordOut)
{
    lvPluginNode *node = FindPluginByModuleName(FindFilePart(name));
    if (!node) {
        if ((loadFlags & LV_PLF_OPTIONAL) && (loadFlags & LV_PLF_ONLYLOADED)) return 0;
        if (loadFlags & LV_PLF_NOLOAD) return RequireFailure(name, version, revision, loadFlags);
        if (!manager.announcedOnDemand) {
            manager.announcedOnDemand = 1;
            Print("\n");
        }
        char file[LV_PATH_SIZE];
        std::snprintf(file, sizeof file, "%s%s", name, EndsWithLvp(name) ? "" : ".lvp");
        int code = LoadPluginByName(L, file, loadFlags, &node);
        if (code) {
            Print("failed\n");
            if (loadFlags & LV_PLF_OPTIONAL) return 0;
            // A plug-in that loaded but whose library failed to start stays loaded.
            if (!node) return RequireFailure(name, version, revision, loadFlags);
            return code;
        }
        loadFlags |= LV_PLF_FRESH;
    }
    lvPluginRecord *r = node->handle->record;
    if ((int)r->version < version || ((int)r->version == version && (int)r->revision < revision))
        return RequireFailure(name, version, revision, loadFlags);
    if (r->capabilities & PLUGINCAPS_LIBRARY) {
        if (r->extensions[1] & 2) {
            if (int code = RegisterPluginLibraries(L, node, loadFlags | LV_PLF_CONSTANTS)) return code;
        } else if (!(loadFlags & LV_PLF_FRESH)) {
            if (int code = RegisterPluginLibraries(L, node, loadFlags)) return code;
        }
    }
    if (loadFlags & LV_PLF_NOREQUIRE) return 0;
    int adapter = (r->capabilities & (PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER)) != 0;
    if ((r->capabilities & PLUGINCAPS_REQUIRE) && !(loadFlags & LV_PLF_SKIPREQUIRE) &&
        (!(loadFlags & LV_PLF_NOLOAD) || adapter) && !node->required) {
        lvPluginTag tags[3];
        int n = 0;
        if (wordOut) tags[n++] = {1, (intptr_t)wordOut};
        if (userTags) tags[n++] = {2, (intptr_t)userTags};
        tags[n] = {0, 0};
        node->required = 1;
        r->required = 1;
        return r->RequirePlugin(L, version, revision, 0, tags);
    }
    return 0;
}

// ============================================================================
// Plug-in directories and scans
// ============================================================================

void SetPluginRunLinked(int linked) { manager.linked = linked; }

int ListPluginDirs(char ***dirsOut, int *countOut)
{
    int count = 0;
    for (lvSearchPath *p = GetSearchPaths(); p; p = p->next) count++;
    char **dirs = (char **)AllocMemory(sizeof(char *) * (count ? count : 1), 1);
    if (!dirs) return ERR_MEM;
    int i = 0;
    for (lvSearchPath *p = GetSearchPaths(); p; p = p->next, i++) {
        dirs[i] = (char *)AllocMemory(LV_PATH_SIZE, 1);
        if (!dirs[i]) {
            FreePluginDirs(dirs, i);
            return ERR_MEM;
        }
        CopyStrBounded(dirs[i], LV_PATH_SIZE, p->path);
        if (!manager.linked) AppendPathPart(dirs[i], "Plugins", LV_PATH_SIZE);
    }
    *dirsOut = dirs;
    *countOut = count;
    return 0;
}

void FreePluginDirs(char **dirs, int count)
{
    if (!dirs) return;
    for (int i = 0; i < count; i++) FreeMemory(dirs[i]);
    FreeMemory(dirs);
}

// The skip list: NUL-separated elements ended by an empty one.
static int SkipListHolds(const char *skipList, const char *fileName)
{
    for (const char *e = skipList; e && *e; e += std::strlen(e) + 1) {
        if (e[0] == '*') return 1;
        char element[LV_PATH_SIZE];
        std::snprintf(element, sizeof element, "%s%s", e, EndsWithLvp(e) ? "" : ".lvp");
        if (strcasecmp(element, fileName) == 0) return 1;
    }
    return 0;
}

void ScanPluginDir(lvState *L, const char *skipList, const char *directory)
{
    lvVDir *dir = OpenVDir(directory, LV_VD_READ | LV_VD_DIRSONLY, "inbuilt", nullptr);
    if (!dir) return;
    int restarted = 0;
    if (StartVDirScan(dir, &restarted) != 0) {
        CloseVDir(dir);
        return;
    }
    // Names are gathered first: loading may use the file layer's static buffers.
    struct lvName {
        lvName *next;               // next name
        char text[256];             // file name
    };
    lvName *names = nullptr, **tail = &names;
    const char *name = nullptr;
    int isDirectory = 0;
    while (NextVDirEntry(dir, restarted, &name, &isDirectory, nullptr)) {
        restarted = 0;
        if (isDirectory || !EndsWithLvp(name) || std::strlen(name) >= 256) continue;
        if (name[0] == '_' || SkipListHolds(skipList, name)) continue;
        lvName *n = (lvName *)AllocMemory(sizeof(lvName), 1);
        if (!n) break;
        CopyStrBounded(n->text, sizeof n->text, name);
        *tail = n;
        tail = &n->next;
    }
    CloseVDir(dir);
    while (lvName *n = names) {
        names = n->next;
        char path[LV_PATH_SIZE];
        CopyStrBounded(path, sizeof path, directory);
        AppendPathPart(path, n->text, sizeof path);
        FreeMemory(n);
        if (int code = LoadPluginByName(L, path, LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr)) {
            char text[1024], line[1100];
            GetErrorText(code, text, sizeof text);
            std::snprintf(line, sizeof line, "failed\n(Reason: %s)\n", text);
            Print(line);
        }
    }
}

int LoadPluginsFromTempDir(lvState *L, const lvRuntimeConfig *config, const char *directory)
{
    if (directory && directory[0]) ScanPluginDir(L, config ? config->skipPluginList : nullptr, directory);
    return 0;
}

int LoadRequiredPlugins(lvState *L, const lvRuntimeConfig *config)
{
    const char *list = config->requiredPlugins;
    while (*list) {
        const char *bar = std::strchr(list, '|');
        size_t length = bar ? (size_t)(bar - list) : std::strlen(list);
        char element[LV_PATH_SIZE];
        std::snprintf(element, sizeof element, "%.*s", (int)length, list);
        list += length + (bar ? 1 : 0);
        int optional = element[0] == '?';
        const char *name = element + optional;
        if (!name[0]) continue;
        if (int code = LoadPluginByName(L, name, LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr)) {
            Print("failed\n");
            if (!optional) return code;
        }
    }
    return 0;
}

int LoadPluginsFromSearchPaths(lvState *L, const lvRuntimeConfig *config)
{
    char **dirs = nullptr;
    int count = 0;
    if (int code = ListPluginDirs(&dirs, &count)) return code;
    for (int i = 0; i < count; i++) ScanPluginDir(L, config->skipPluginList, dirs[i]);
    FreePluginDirs(dirs, count);
    return 0;
}

int LoadStartupPlugins(lvState *L, lvRuntimeConfig *config, const char *directory)
{
    if (int code = LoadPluginsFromTempDir(L, config, directory)) return code;
    if (!config->loadAllPlugins) return LoadRequiredPlugins(L, config);
    return LoadPluginsFromSearchPaths(L, config);
}

// ============================================================================
// Adapter chains and scans
// ============================================================================

static lvAdapterChainNode *FindChainNode(int index, const lvPluginRecord *record)
{
    for (lvAdapterChainNode *n = manager.chains[index]; n; n = n->next)
        if (n->record == record) return n;
    return nullptr;
}

int AddAdapterToChain(lvPluginRecord *record, uint32_t capability)
{
    int index = ChainIndex(capability);
    if (index < 0) return ERR_WRONGUSAGE;
    if (FindChainNode(index, record)) return 0;
    lvAdapterChainNode *node = (lvAdapterChainNode *)AllocMemory(sizeof(lvAdapterChainNode), 1);
    if (!node) return ERR_MEM;
    node->record = record;
    lvAdapterChainNode **tail = &manager.chains[index];
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

// Capability 0 removes the record from every chain.
int RemoveAdapterFromChain(lvPluginRecord *record, uint32_t capability)
{
    int removed = 0;
    for (int i = 0; i < LV_CHAIN_COUNT; i++) {
        if (capability && chainCapabilities[i] != capability) continue;
        for (lvAdapterChainNode **p = &manager.chains[i]; *p;) {
            if ((*p)->record == record) {
                lvAdapterChainNode *gone = *p;
                *p = gone->next;
                FreeMemory(gone);
                removed = 1;
            } else {
                p = &(*p)->next;
            }
        }
    }
    return removed;
}

void SetAdapterFlags(lvPluginRecord *record, uint32_t capability, uint32_t word)
{
    if (uint32_t *flags = AdapterFlagsWord(record, capability)) {
        *flags = word;
        if (capability == PLUGINCAPS_FILEADAPTER)
            if (lvPluginNode *node = FindPluginNode(record)) node->adapter.chunkSupport = word;
    }
}

int IsBuiltinAdapterName(const char *name)
{
    return !name || !name[0] || !strcasecmp(name, "default") || !strcasecmp(name, "inbuilt") ||
           !strcasecmp(name, "native");
}

static int IsDefaultList(const char *list) { return !list || !list[0] || !strcasecmp(list, "default"); }

int PluginAdapterListAccepts(const char *list, const char *name, int pluginMatches)
{
    if (IsDefaultList(list)) return 1;
    int keyword = !strcasecmp(name, "native") || !strcasecmp(name, "inbuilt") || !strcasecmp(name, "plugin");
    size_t nameLength = std::strlen(name);
    for (const char *e = list; *e;) {
        const char *bar = std::strchr(e, '|');
        size_t length = bar ? (size_t)(bar - e) : std::strlen(e);
        if (keyword) {
            if (length == nameLength && strncasecmp(e, name, length) == 0) return 1;
        } else {
            if (length && length <= nameLength && strncasecmp(e, name, length) == 0) return 1;
            if (pluginMatches && length == 6 && strncasecmp(e, "plugin", 6) == 0) return 1;
        }
        e += length + (bar ? 1 : 0);
    }
    return 0;
}

// An element naming a loaded plug-in with the capability joins the chain by name.
static void AddNamedAdapterToChain(const char *element, uint32_t capability)
{
    if (!strcasecmp(element, "plugin") || !strcasecmp(element, "native") || !strcasecmp(element, "inbuilt")) return;
    lvPluginNode *node = FindPluginByModuleName(element);
    if (!node) return;
    lvPluginRecord *r = node->handle->record;
    if (r->disabled || !(r->capabilities & capability)) return;
    int index = ChainIndex(capability);
    if (index < 0 || FindChainNode(index, r)) return;
    if (AddAdapterToChain(r, capability) == 0) r->addedByName = 1;
}

// The first member from node on that the element admits; *after gets its successor.
static lvAdapterChainNode *FindChainAdapter(lvAdapterChainNode *node, const char *element, lvAdapterScan *scan)
{
    for (; node; node = node->next) {
        lvPluginRecord *r = node->record;
        if (r->disabled) continue;
        uint32_t *flags = AdapterFlagsWord(r, scan->capability);
        if (flags && (*flags & (uint32_t)scan->mode) && !r->required) continue;
        if (!PluginAdapterListAccepts(element, r->moduleName, 1)) continue;
        if (r->addedByName && !PluginAdapterListAccepts(element, r->moduleName, 0)) continue;
        return node;
    }
    return nullptr;
}

static const char defaultAdapterList[] = "plugin|inbuilt|native";

void PluginBeginAdapterScan(lvAdapterScan *scan, const char *list, uint32_t capability, int mode)
{
    std::memset(scan, 0, sizeof *scan);
    scan->capability = capability;
    scan->mode = mode;
    scan->cursor = IsDefaultList(list) ? defaultAdapterList : list;
}

static const lvFileAdapter *AdapterOfRecord(lvPluginRecord *record)
{
    lvPluginNode *node = FindPluginNode(record);
    return node ? &node->adapter : nullptr;
}

int PluginNextAdapter(lvAdapterScan *scan)
{
    int index = ChainIndex(scan->capability);
    if (scan->internal) {
        lvAdapterChainNode *found = FindChainAdapter((lvAdapterChainNode *)scan->internal, "plugin", scan);
        scan->internal = found ? found->next : nullptr;
        if (found && (scan->current = AdapterOfRecord(found->record))) return scan->record = found->record, 3;
    }
    while (scan->cursor && *scan->cursor) {
        const char *bar = std::strchr(scan->cursor, '|');
        size_t length = bar ? (size_t)(bar - scan->cursor) : std::strlen(scan->cursor);
        char element[256];
        std::snprintf(element, sizeof element, "%.*s", (int)(length < 255 ? length : 255), scan->cursor);
        scan->cursor += length + (bar ? 1 : 0);
        if (!strcasecmp(element, "inbuilt")) return 1;
        if (!strcasecmp(element, "native")) return 2;
        if (!element[0] || index < 0) continue;
        AddNamedAdapterToChain(element, scan->capability);
        lvAdapterChainNode *found = FindChainAdapter(manager.chains[index], element, scan);
        if (!found) continue;
        if (!strcasecmp(element, "plugin")) scan->internal = found->next;
        if ((scan->current = AdapterOfRecord(found->record))) return scan->record = found->record, 3;
    }
    return 0;
}

lvPluginRecord *FindSaverPlugin(int formatId, uint32_t saverCapability, int *indexOut)
{
    for (lvPluginNode *node = manager.first; node; node = node->next) {
        lvPluginRecord *r = node->handle->record;
        if (!(r->capabilities & saverCapability) || r->disabled) continue;
        lvPluginSaverFormat *list = saverCapability == PLUGINCAPS_SAVEIMAGE  ? r->imageSavers
                                    : saverCapability == PLUGINCAPS_SAVEANIM ? r->animSavers
                                    : saverCapability == PLUGINCAPS_SAVESAMPLE ? r->sampleSavers
                                    : saverCapability == PLUGINCAPS_SAVEICON ? r->iconSavers
                                                                             : nullptr;
        for (int i = 0; list && list[i].formatId; i++) {
            if (list[i].formatId == formatId) {
                if (indexOut) *indexOut = i;
                return r;
            }
        }
    }
    return nullptr;
}

// ============================================================================
// Hooks
// ============================================================================

lvPluginHook *AddPluginHook(int type, void *callback, void *userData, intptr_t value)
{
    if (type < 0 || type > 4) return nullptr;
    lvPluginHook *hook = (lvPluginHook *)AllocMemory(sizeof(lvPluginHook), 1);
    if (!hook) return nullptr;
    hook->type = type;
    hook->callback = callback;
    hook->userData = userData;
    hook->value = value;
    lvPluginHook **tail = &manager.hooks;
    while (*tail) tail = &(*tail)->next;
    *tail = hook;
    return hook;
}

void SetPluginHookDisabled(lvPluginHook *hook, int flag)
{
    if (hook) hook->disabled = flag;
}

void RemovePluginHook(lvPluginHook *hook)
{
    for (lvPluginHook **p = &manager.hooks; *p; p = &(*p)->next) {
        if (*p == hook) {
            *p = hook->next;
            FreeMemory(hook);
            return;
        }
    }
}

int RunPluginHooks(lvState *L, int type, void *a, void *b)
{
    for (lvPluginHook *hook = manager.hooks; hook; hook = hook->next) {
        if (hook->type != type || hook->disabled || hook->mark) continue;
        if (type == 1) {
            if (int code = ((int (*)(lvState *, void *))hook->callback)(L, hook->userData)) return code;
        } else if (type == 3) {
            ((void (*)(void *, void *))hook->callback)(b, hook->userData);
            hook->disabled = 1;
        } else if (type == 4) {
            ((void (*)(void *, void *, void *))hook->callback)(a, b, hook->userData);
        }
    }
    return 0;
}

// Key 1: every existing hook is marked as not the new plug-in's; key 0 clears the marks.
// Hooks added while marks are set are the unmarked ones.
static int hooksMarking;

void MarkPluginHooks(int key)
{
    hooksMarking = key;
    for (lvPluginHook *hook = manager.hooks; hook; hook = hook->next) hook->mark = key;
}

void DropMarkedPluginHooks(int)
{
    if (!hooksMarking) return;
    for (lvPluginHook **p = &manager.hooks; *p;) {
        if (!(*p)->mark) {
            lvPluginHook *gone = *p;
            *p = gone->next;
            FreeMemory(gone);
        } else {
            p = &(*p)->next;
        }
    }
}

int CountPluginHooks(void)
{
    int count = 0;
    for (lvPluginHook *hook = manager.hooks; hook; hook = hook->next) count++;
    return count;
}

// ============================================================================
// Event names
// ============================================================================

// The interface's names are the event engine's plug-in types (runtime/pluginevents.h).
// Kind 0 carries one word, the fill callback; kind 1 the push and finish callbacks and
// the callback that frees a payload.
typedef int (*lvPluginEventCall)(lvState *, int32_t, void *);
typedef void (*lvPluginEventNotice)(lvState *, int32_t, void *);

int RegisterPluginEventName(const char *name, int kind, const intptr_t *payload, intptr_t userValue)
{
    lvPluginEvent callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    if (payload && kind == 0) callbacks.fill = (lvPluginEventCall)payload[0];
    if (payload && kind == 1) {
        callbacks.push = (lvPluginEventCall)payload[0];
        callbacks.finish = (lvPluginEventNotice)payload[1];
        callbacks.release = (lvPluginEventNotice)payload[2];
    }
    callbacks.value = (void *)userValue;
    return RegisterPluginEvent(name, kind, &callbacks);
}

void UnregisterPluginEventName(int id) { WithdrawPluginEvent(id); }

int FindPluginEventName(const char *name, intptr_t *secondWord)
{
    int32_t userData = -1;
    int32_t function = FindPluginEventHandler(name, &userData);
    if (secondWord) *secondWord = userData;
    return function;
}

void FreePluginEventNames(void) { FreePluginEvents(); }

// ============================================================================
// Records for the interface
// ============================================================================

lvPluginListEntry *GetPluginList(void)
{
    int count = 0;
    for (lvPluginNode *node = manager.first; node; node = node->next) count++;
    if (!count) return nullptr;
    lvPluginListEntry *list = (lvPluginListEntry *)AllocMemory(sizeof(lvPluginListEntry) * count, 1);
    if (!list) return nullptr;
    int i = 0;
    for (lvPluginNode *node = manager.first; node; node = node->next, i++) {
        list[i].record = node->handle->record;
        list[i].next = i + 1 < count ? &list[i + 1] : nullptr;
    }
    return list;
}

void SetPluginDisabled(lvPluginRecord *record, int flag)
{
    if (record) record->disabled = flag;
}

void SetPluginUserWord(lvPluginRecord *record, intptr_t word)
{
    if (record) record->userWord = word;
}

intptr_t GetPluginUserWord(lvPluginRecord *record) { return record ? record->userWord : 0; }

int AddPluginFileType(lvPluginRecord *record, int type, const char *name, const char *mimeType,
                      const char *extensions, int formatId, uint32_t flags)
{
    if (!record || !name || !extensions) return ERR_WRONGUSAGE;
    size_t n = std::strlen(name) + 1, m = mimeType ? std::strlen(mimeType) + 1 : 0, e = std::strlen(extensions) + 1;
    lvPluginFileType *node = (lvPluginFileType *)AllocMemory(sizeof(lvPluginFileType) + n + m + e, 1);
    if (!node) return ERR_MEM;
    char *text = (char *)(node + 1);
    node->type = type;
    node->name = (const char *)std::memcpy(text, name, n);
    text += n;
    if (mimeType) {
        node->mimeType = (const char *)std::memcpy(text, mimeType, m);
        text += m;
    }
    node->extensions = (const char *)std::memcpy(text, extensions, e);
    node->formatId = (flags & FILETYPEFLAGS_SAVE) ? formatId : 0;
    node->flags = flags;
    lvPluginFileType **tail = &record->fileTypes;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

void FreePluginFileTypes(lvPluginRecord *record)
{
    while (lvPluginFileType *node = record->fileTypes) {
        record->fileTypes = node->next;
        FreeMemory(node);
    }
}

// Capability and installation word of each adapter kind.
static uint32_t AdapterKindCapability(int kind)
{
    static const uint32_t capabilities[LV_ADAPTER_KINDS] = {PLUGINCAPS_DISPLAYADAPTER, PLUGINCAPS_REQUESTERADAPTER,
                                                            PLUGINCAPS_TIMERADAPTER, PLUGINCAPS_IPCADAPTER};
    return capabilities[kind];
}

static uint32_t *InstallationWord(int kind, lvPluginRecord *record)
{
    switch (kind) {
    case LV_ADAPTER_DISPLAY: return &record->displayInstall;
    case LV_ADAPTER_REQUESTER: return &record->requesterInstall;
    case LV_ADAPTER_TIMER: return &record->timerInstall;
    default: return &record->ipcInstall;
    }
}

int InstallPluginAdapter(int kind, lvPluginRecord *record, uint32_t word)
{
    if (kind < 0 || kind >= LV_ADAPTER_KINDS || !record || !(record->capabilities & AdapterKindCapability(kind)))
        return ERR_WRONGUSAGE;
    if (!InAdapterSetupPhase()) return ERR_SETADAPTER;
    // Each kind is guarded by the installed adapter's own word of that kind.
    lvPluginRecord *installed = manager.adapters[kind];
    if (installed && installed != record && (*InstallationWord(kind, installed) & 1)) return ERR_SETADAPTER;
    *InstallationWord(kind, record) = word;
    manager.adapters[kind] = record;
    return 0;
}

lvPluginRecord *GetInstalledAdapter(int kind)
{
    return kind >= 0 && kind < LV_ADAPTER_KINDS ? manager.adapters[kind] : nullptr;
}

lvPluginRecord *GetClipboardAdapter(void) { return manager.clipboard; }

// Guarded by the installed clipboard adapter's own installation word.
int InstallClipboardAdapter(lvPluginRecord *record, uint32_t word)
{
    if (!record || !(record->capabilities & PLUGINCAPS_CLIPBOARDADAPTER)) return ERR_WRONGUSAGE;
    if (manager.clipboard && manager.clipboard != record && (manager.clipboard->clipboardInstall & 1))
        return ERR_SETADAPTER;
    record->clipboardInstall = word;
    manager.clipboard = record;
    return 0;
}

// ============================================================================
// Shut-down and installation
// ============================================================================

void FreePluginLibraries(lvState *L)
{
    for (lvPluginNode *node = manager.first; node; node = node->next) {
        lvPluginRecord *r = node->handle->record;
        if ((r->capabilities & PLUGINCAPS_LIBRARY) && r->libraryInitialised && r->FreeLibrary) {
            r->FreeLibrary(L);
            r->libraryInitialised = 0;
        }
    }
}

void ClosePlugins(void)
{
    for (int i = 0; i < LV_CHAIN_COUNT; i++) {
        while (lvAdapterChainNode *n = manager.chains[i]) {
            manager.chains[i] = n->next;
            FreeMemory(n);
        }
    }
    while (lvPluginNode *node = manager.first) {
        manager.first = node->next;
        lvPluginRecord *r = node->handle->record;
        FreeMemory(r->imageSavers);
        FreeMemory(r->animSavers);
        FreeMemory(r->sampleSavers);
        FreeMemory(r->iconSavers);
        UnloadPluginHandle(node->handle);
        FreeMemory(node);
    }
    while (lvPluginHook *hook = manager.hooks) {
        manager.hooks = hook->next;
        FreeMemory(hook);
    }
    manager.clipboard = nullptr;
    for (lvPluginRecord *&adapter : manager.adapters) adapter = nullptr;
    manager.announcedOnDemand = 0;
    manager.state = nullptr;
    DeletePluginTempFiles();
    FreePluginEventNames();
}

static const lvAdapterHooks pluginAdapterHooks = {PluginBeginAdapterScan, PluginNextAdapter, PluginAdapterListAccepts};

// Start-up hook: requires a plug-in the applet links as an object.
static int RequireLinkedPlugin(lvState *L, lvLinkedObject *object, int mode)
{
    // The object's option value and flags are the version and revision it asks for.
    int code = RequirePluginByName(L, object->name ? object->name : "", (int)object->optionValue,
                                   (int)object->optionFlags, mode, object->userTags, nullptr);
    // A plug-in that joined the run now gets its one-shot hooks like one loaded at start.
    if (!code) RunPluginHooks(L, 3, nullptr, nullptr);
    return code;
}

// Until the library table opens the plugin library itself, the manager registers its
// commands and constants before the first plug-in loads.
static void EnsurePluginLibrary(lvState *L)
{
    PushString(L, "getplugins");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    int present = GetValueType(L, -1) != LV_TNIL;
    SetStackTop(L, -2);
    if (present) return;
    DefineConstants(L, "plugin", GetPluginConstants(), 0);
    PushCopy(L, LV_GLOBALSINDEX);
    OpenPluginLibrary(L);
    SetStackTop(L, -2);
}

static int StartupLoadPlugins(lvState *L, lvRuntimeConfig *config, const char *directory)
{
    EnsurePluginLibrary(L);
    SetPluginRunLinked(HasAppendedBlocks());
    return LoadStartupPlugins(L, config, directory);
}

void InstallPluginManager(void)
{
    SetAdapterHooks(&pluginAdapterHooks);
    lvStartupHooks hooks;
    std::memset(&hooks, 0, sizeof hooks);
    hooks.LoadStartupPlugins = StartupLoadPlugins;
    hooks.FreePluginLibraries = FreePluginLibraries;
    hooks.UnloadAllPlugins = ClosePlugins;
    hooks.RequirePlugin = RequireLinkedPlugin;
    SetStartupHooks(&hooks);
}
