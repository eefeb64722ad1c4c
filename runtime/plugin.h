// plugin.h - the plug-in loader and the plug-in manager: loading one ".lvp" shared object
// and checking it, the list of loaded plug-ins, the adapter chains behind file and
// directory adapter lists, hooks, plug-in event names, and the start-up and shut-down
// entries that start-up calls.
//
// Dependencies: runtime/lvplugin.h (the binary interface), runtime/vfile.h, vm/lvvm.h;
// the start-up record of runtime/config.h by pointer only. Limits: no locks; everything here belongs to the thread that drives
// the script (the main thread during start-up and shut-down).
#pragma once
#include "runtime/lvplugin.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"

struct lvRuntimeConfig;  // runtime/config.h

// The value of a tag in a plug-in's tag list (ended by tag 0), or fallback; found (when
// given) tells whether the tag was there.
inline intptr_t PluginTagValue(const lvPluginTag *tags, uint32_t tag, intptr_t fallback, bool *found = nullptr)
{
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == tag) {
            if (found) *found = true;
            return t->value;
        }
    if (found) *found = false;
    return fallback;
}

// ============================================================================
// Loader
// ============================================================================

// One loaded module.
struct lvPluginHandle {
    uint32_t capabilities;    // copied from the record
    lvPluginRecord *record;   // the record InitPlugin filled
    void *module;             // dlopen handle
    int prefixed;             // exports carry the "lvp_" prefix
};

// Loads, initialises and checks one plug-in file. 0 and a new handle (owned by the
// caller), or ERR_MEM, ERR_LOADPLUGIN, ERR_NEWLVPLUGIN, ERR_PLUGINSYMBOL, ERR_PLUGINTYPE
// with the message argument set; nothing of a failed plug-in stays loaded.
int LoadPluginFile(const char *path, uint32_t *capabilitiesOut, lvPluginHandle **handleOut);
// ClosePlugin, then frees the record, the module and the handle.
void UnloadPluginHandle(lvPluginHandle *handle);
// "lvp_" + name in a static buffer when prefixed, else name.
const char *DecorateExportName(const char *name, int prefixed);
// The interface table handed to every plug-in.
const lvPluginApi *GetPluginApi(void);
// The picture-file entries of the graphics sub-table (slots 0 to 3); null clears them.
struct lvPluginImageEntries {
    int (*IsImageFile)(const char *path, int *width, int *height, int *hasAlpha);
    void *(*LoadImage)(const char *path, const lvPluginTag *tags, int *width, int *height, int *hasAlpha);
    void *(*TakeImagePixels)(void *source);
    void (*FreeImageSource)(void *source);
};
void SetPluginImageEntries(const lvPluginImageEntries *entries);
// The font sub-tables (7 lookup, 8 FreeType, 10 built-in faces), installed by the text
// engine, and the JPEG sub-table (12), installed by the picture formats. Null restores the
// entries that answer 1001 (the lookup finds nothing, the faces are null).
void SetPluginFontEntries(const lvApiFontLookup *lookup, const lvApiFontEngine *engine, const lvApiFontData *data);
void SetPluginJpegEntries(const lvApiJpeg *entries);
// The audio sub-table (5); null restores the entries that refuse every call.
void SetPluginAudioEntries(const lvApiAudio *entries);
// The raster entries of the graphics sub-table (slots 21-23, 25-28, 35-38); unset
// slots answer nothing (null, 0, or the colour unchanged). Null clears them.
struct lvPluginRasterEntries {
    decltype(lvApiGraphics::BltRawPixels) BltRawPixels;
    decltype(lvApiGraphics::FillRawRect) FillRawRect;
    decltype(lvApiGraphics::WriteRawPixel) WriteRawPixel;
    decltype(lvApiGraphics::ReadArgb) ReadArgb;
    decltype(lvApiGraphics::PlaneSize) PlaneSize;
    decltype(lvApiGraphics::ArgbToPixel) ArgbToPixel;
    decltype(lvApiGraphics::PixelToArgb) PixelToArgb;
    decltype(lvApiGraphics::ScalePixels) ScalePixels;
    decltype(lvApiGraphics::SaveImage) SaveImage;
    decltype(lvApiGraphics::RemapToPalette) RemapToPalette;
    decltype(lvApiGraphics::ResolveSpecialCoordinate) ResolveSpecialCoordinate;
};
void SetPluginRasterEntries(const lvPluginRasterEntries *entries);
// The requester entries of the requester sub-table (slots 0-2), installed by the
// requester library; unset, nothing is asked. Null clears them.
struct lvPluginRequesterEntries {
    decltype(lvApiRequesters::SystemRequest) SystemRequest;
    decltype(lvApiRequesters::FileRequest) FileRequest;
    decltype(lvApiRequesters::PathRequest) PathRequest;
};
void SetPluginRequesterEntries(const lvPluginRequesterEntries *entries);
// The drawing entries of the graphics sub-table (slots 24 and 31); unset, they draw
// nothing. Null clears them.
struct lvPluginDrawEntries {
    decltype(lvApiGraphics::DrawRawLine) DrawRawLine;
    decltype(lvApiGraphics::DrawPolygon) DrawPolygon;
};
void SetPluginDrawEntries(const lvPluginDrawEntries *entries);
// The brush entries of the graphics sub-table (slots 4-6, 12, 29, 30), installed by the
// images subsystem; unset slots answer null or ERR_UNIMPLCMD. Null clears them.
struct lvPluginBrushEntries {
    decltype(lvApiGraphics::LockBrushPixels) LockBrushPixels;
    decltype(lvApiGraphics::UnlockBrushPixels) UnlockBrushPixels;
    decltype(lvApiGraphics::GetBrushArgbPixels) GetBrushArgbPixels;
    decltype(lvApiGraphics::CreateBrushFromPixels) CreateBrushFromPixels;
    decltype(lvApiGraphics::FreeBrush) FreeBrush;
    decltype(lvApiGraphics::MapHardwareBrushHandle) MapHardwareBrushHandle;
};
void SetPluginBrushEntries(const lvPluginBrushEntries *entries);

// Services of the command libraries that interface slots hand on (the executable fills
// them when it puts its libraries into the table; unset, the slots give empty results).
struct lvPluginServices {
    void (*CurrentDateText)(char *buffer);                                    // 256 bytes
    int (*CurrentDateFields)(lvPluginDateFields *out);                        // 1 or 0
    size_t (*EncodeBase64)(const void *data, size_t length, char *out, size_t outSize);
    int (*DecodeBase64)(const char *text, size_t length, uint8_t *out, size_t *outLength);
    void (*Md5Hex)(const void *data, size_t length, char *out33);
    // The locale library's: language and country identifiers, and catalogs (state: the
    // script's, for the program folder the catalog is looked for in).
    int (*LanguageId)(void);
    int (*CountryId)(void);
    void *(*OpenCatalog)(lvState *state, const char *name);
    void (*CloseCatalog)(void *catalog);
    const char *(*CatalogString)(void *catalog, int index, const char *defaultText);
    // System slot 20's work: video frames (flags 2), sound reaping, one event-loop pass
    // (flags 1), the resource monitor. 0 or the first error.
    int (*Housekeeping)(lvState *state, uint32_t flags);
};
void SetPluginServices(const lvPluginServices *services);

// ============================================================================
// Manager: loaded plug-ins
// ============================================================================

// One loaded plug-in, in load order.
struct lvPluginNode {
    lvPluginNode *next;        // next loaded plug-in
    uint32_t capabilities;     // capability bits
    lvPluginHandle *handle;    // the module
    char fileName[256];        // file part of the path it came from
    char path[LV_PATH_SIZE];   // the path
    int required;              // its RequirePlugin ran
    lvFileAdapter adapter;     // file and directory slots for the file layer
};

// Load flags of LoadPluginByName and RequirePluginByName.
enum {
    LV_PLF_NOREQUIRE = 1,      // load and register only
    LV_PLF_COMMANDS = 2,       // register commands and run InitLibrary once
    LV_PLF_CONSTANTS = 4,      // register constants
    LV_PLF_MISSINGOK = 8,      // a missing or too old plug-in is no error
    LV_PLF_NOLOAD = 0x10,      // do not load; RequirePlugin only for file or directory adapters
    LV_PLF_FRESH = 0x20,       // do not register an already loaded plug-in again
    LV_PLF_SKIPREQUIRE = 0x40, // do not run RequirePlugin
    LV_PLF_OPTIONAL = 0x100,   // a failed load gives 0
    LV_PLF_ONLYLOADED = 0x200, // with LV_PLF_OPTIONAL: do not load
};

lvPluginNode *GetFirstPluginNode(void);
lvPluginNode *FindPluginNode(const lvPluginRecord *record);
lvPluginNode *FindPluginByModuleName(const char *moduleName); // a trailing ".lvp" is ignored

int LoadPluginByName(lvState *L, const char *name, int loadFlags, lvPluginNode **nodeOut);
int RequirePluginByName(lvState *L, const char *name, int version, int revision, int loadFlags,
                        const void *userTags, uint32_t *wordOut);
int RegisterPluginLibraries(lvState *L, lvPluginNode *node, int loadFlags);

// ============================================================================
// Manager: start-up and shut-down (called by start-up through its hooks)
// ============================================================================

// Installs the manager: the adapter hooks of the file layer and the start-up hooks.
void InstallPluginManager(void);
// Every ".lvp" of the temporary plug-in directory (not "_"-names nor SKIPPLUGINS ones).
int LoadPluginsFromTempDir(lvState *L, const lvRuntimeConfig *config, const char *directory);
// The required list of the applet ("?" marks optional elements). 0 or the first error.
int LoadRequiredPlugins(lvState *L, const lvRuntimeConfig *config);
// Every ".lvp" of every plug-in directory of the search paths.
int LoadPluginsFromSearchPaths(lvState *L, const lvRuntimeConfig *config);
// The three above in start-up order.
int LoadStartupPlugins(lvState *L, lvRuntimeConfig *config, const char *directory);
// FreeLibrary of every library plug-in whose InitLibrary ran (before the machine closes).
void FreePluginLibraries(lvState *L);
// Frees chains, file types, saver lists, unloads every plug-in, frees hooks and event names.
void ClosePlugins(void);
// Scans one directory; failures are printed and the scan goes on.
void ScanPluginDir(lvState *L, const char *skipList, const char *directory);
// Plug-in directories: each search path, with "Plugins" appended unless linked.
int ListPluginDirs(char ***dirsOut, int *countOut); // free with FreePluginDirs
void FreePluginDirs(char **dirs, int count);
// Linked runs look in the search paths themselves.
void SetPluginRunLinked(int linked);

// ============================================================================
// Manager: adapter chains
// ============================================================================

void PluginBeginAdapterScan(lvAdapterScan *scan, const char *list, uint32_t capability, int mode);
int PluginNextAdapter(lvAdapterScan *scan);
int PluginAdapterListAccepts(const char *list, const char *name, int pluginMatches);
int IsBuiltinAdapterName(const char *name);
int AddAdapterToChain(lvPluginRecord *record, uint32_t capability); // 0 or ERR_MEM
int RemoveAdapterFromChain(lvPluginRecord *record, uint32_t capability);
void SetAdapterFlags(lvPluginRecord *record, uint32_t capability, uint32_t word);
lvPluginRecord *FindSaverPlugin(int formatId, uint32_t saverCapability, int *indexOut);

// ============================================================================
// Manager: hooks, event names, records for the interface
// ============================================================================

struct lvPluginHook;
lvPluginHook *AddPluginHook(int type, void *callback, void *userData, intptr_t value);
void SetPluginHookDisabled(lvPluginHook *hook, int flag);
void RemovePluginHook(lvPluginHook *hook);
int RunPluginHooks(lvState *L, int type, void *a, void *b);
void MarkPluginHooks(int key);
void DropMarkedPluginHooks(int key);
int CountPluginHooks(void);

int RegisterPluginEventName(const char *name, int kind, const intptr_t *payload, intptr_t userValue);
void UnregisterPluginEventName(int id);
int FindPluginEventName(const char *name, intptr_t *secondWord);
void FreePluginEventNames(void);

// What the event engine offers the plug-in interface; the engine installs it when its
// library opens (nullptr slots answer that the service is missing).
struct lvPluginEventEntries {
    // Slot 2.27: an adapter report (kind, five-word record) into the event queues.
    int (*PostAdapterEvent)(lvState *state, int kind, void *record);
    // Slot 2.38: the interval or time-out of a timer adapter's handle fires now.
    int (*FireTimerKey)(lvState *state, uintptr_t key);
    // After slot 2.39 installed a timer adapter: its RegisterTimer and FreeTimer now
    // serve intervals and time-outs. 0 or an error code.
    int (*UseTimerAdapter)(lvPluginRecord *record, uint32_t word);
};
void SetPluginEventEntries(const lvPluginEventEntries *entries);

lvPluginListEntry *GetPluginList(void);
void SetPluginDisabled(lvPluginRecord *record, int flag);
void SetPluginUserWord(lvPluginRecord *record, intptr_t word);
intptr_t GetPluginUserWord(lvPluginRecord *record);
int AddPluginFileType(lvPluginRecord *record, int type, const char *name, const char *mimeType,
                      const char *extensions, int formatId, uint32_t flags);
void FreePluginFileTypes(lvPluginRecord *record);

// The run's script state: start-up's, else the last one a load was given (tests).
lvState *GetPluginScriptState(void);
void SetPluginScriptState(lvState *L);
// Deletes the files plug-ins handed to AddTempFile (ClosePlugins does it).
void DeletePluginTempFiles(void);

// Adapters a plug-in installs through the interface. Each kind keeps one record; the
// installed record's own installation word (bit 1) keeps another from replacing it.
enum lvAdapterKind {
    LV_ADAPTER_DISPLAY = 0,    // PLUGINCAPS_DISPLAYADAPTER, word in displayInstall
    LV_ADAPTER_REQUESTER = 1,  // PLUGINCAPS_REQUESTERADAPTER, word in requesterInstall
    LV_ADAPTER_TIMER = 2,      // PLUGINCAPS_TIMERADAPTER, word in timerInstall
    LV_ADAPTER_IPC = 3,        // PLUGINCAPS_IPCADAPTER, word in ipcInstall
    LV_ADAPTER_KINDS = 4,
};
// 0, ERR_WRONGUSAGE without the capability, ERR_SETADAPTER outside the adapter-setup
// phase or when the installed one's word has bit 1.
int InstallPluginAdapter(int kind, lvPluginRecord *record, uint32_t word);
lvPluginRecord *GetInstalledAdapter(int kind);

// What the interface's display slots reach in the display library, which installs them
// when it opens (empty slots answer LVP_PENDING_ERROR, or nothing).
struct lvDisplayPluginEntries {
    // After a display adapter was installed: reads the installation tags.
    void (*AdapterInstalled)(lvPluginRecord *record, uint32_t word, const lvPluginTag *tags);
    int (*PostAdapterEvent)(lvState *L, int kind, lvAdapterEvent *event);
    int (*PostAdapterEventMain)(int kind, lvAdapterEvent *event);
    int (*PollEvents)(lvState *L, int mode);
    int (*WaitEvents)(lvState *L);
    int (*DispatchEventNow)(lvState *L, int type, void *payload);
    uintptr_t (*LockBitMap)(void *bitmap, uint32_t ignored, lvPluginBitMapInfo *info, const lvPluginTag *tags);
    void (*UnLockBitMap)(uintptr_t token);
    int (*FindDisplay)(const lvPluginObjectId *id, void *handle, void **handleOut, lvPluginObjectId *idOut);
    void *(*AttachMirror)(const lvPluginObjectId *display, lvMirrorCallback callback, void *userData,
                          const lvPluginTag *tags, void *window);
    void (*DetachMirror)(void *mirror);
    int (*RefreshMirror)(void *mirror);
    int (*ResizeFromMirror)(void *mirror, int width, int height, const lvPluginTag *tags);
    void (*PostMirrorInput)(void *mirror, int message, const void *data);
    int (*MirrorDisplayAttrs)(void *key, const lvPluginTag *tags);
    int (*RefreshAdapterDisplay)(void *handle);
};
void SetDisplayPluginEntries(const lvDisplayPluginEntries *entries);

// The installed clipboard adapter (record), or null.
lvPluginRecord *GetClipboardAdapter(void);
int InstallClipboardAdapter(lvPluginRecord *record, uint32_t word);

// ============================================================================
// The plugin library
// ============================================================================

int OpenPluginLibrary(lvState *L);
// Pushes one table per loaded plug-in, keyed from 0 in load order (what GetPlugins gives).
void PushPluginTable(lvState *L);
const lvConstantEntry *GetPluginConstants(void);
