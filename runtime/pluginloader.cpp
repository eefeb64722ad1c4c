// pluginloader.cpp - loads one plug-in file: dlopen, InitPlugin with the interface table,
// the name and host-version checks, the export families resolved by capability bits,
// and the loader chains of the loader capabilities. Also unloads a plug-in.
//
// Dependencies: runtime/plugin.h, runtime/errors.h, platform/lvplatform.h, <dlfcn.h>.
// Limits: paths of LV_PATH_SIZE bytes. Runs on the thread that drives the script.
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "platform/lvplatform.h"
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <strings.h>

// ============================================================================
// Export resolution
// ============================================================================

const char *DecorateExportName(const char *name, int prefixed)
{
    static char buffer[256];
    if (!prefixed) return name;
    std::snprintf(buffer, sizeof buffer, "lvp_%s", name);
    return buffer;
}

// One export of a family: its name and its slot in the record; condition is the bit of
// the family's extension word that must be set (0: required).
struct lvExportRow {
    const char *name;  // export name without prefix
    size_t offset;     // offset of its slot in lvPluginRecord
    uint32_t condition;// extension-word bit, 0 when the export is required
};

#define LV_EXPORT(field) {#field, offsetof(lvPluginRecord, field), 0}
#define LV_EXPORT_IF(field, bit) {#field, offsetof(lvPluginRecord, field), bit}

static const lvExportRow imageExports[] = {LV_EXPORT(IsImage), LV_EXPORT(LoadImage), LV_EXPORT(GetImage),
    LV_EXPORT(FreeImage), LV_EXPORT(TransformImage), LV_EXPORT_IF(GetImageFormat, 2), {}};
static const lvExportRow animExports[] = {LV_EXPORT(OpenAnim), LV_EXPORT(LoadFrame), LV_EXPORT(FreeFrame),
    LV_EXPORT(GetFrameDelay), LV_EXPORT(CloseAnim), LV_EXPORT_IF(GetFrame, 2), LV_EXPORT_IF(TransformFrame, 2),
    LV_EXPORT_IF(FreeVectorFrame, 2), LV_EXPORT_IF(GetAnimFormat, 4), {}};
static const lvExportRow soundExports[] = {LV_EXPORT(OpenStream), LV_EXPORT(CloseStream), LV_EXPORT(SeekStream),
    LV_EXPORT(StreamSamples), LV_EXPORT(GetFormatName), {}};
static const lvExportRow vectorExports[] = {LV_EXPORT(GetPathExtents), LV_EXPORT(DrawPath),
    LV_EXPORT(TranslatePath), LV_EXPORT(GetCurrentPoint), LV_EXPORT(CreateVectorFont), LV_EXPORT(FreeVectorFont),
    LV_EXPORT(OpenFont), LV_EXPORT(CloseFont), {}};
static const lvExportRow videoExports[] = {LV_EXPORT(OpenVideo), LV_EXPORT(CloseVideo), LV_EXPORT(NextPacket),
    LV_EXPORT(FreePacket), LV_EXPORT(DecodeVideoFrame), LV_EXPORT(DecodeAudioFrame), LV_EXPORT(SeekVideo),
    LV_EXPORT(FlushAudio), LV_EXPORT(FlushVideo), LV_EXPORT(GetVideoFrames), LV_EXPORT(GetVideoFormat), {}};
static const lvExportRow libraryExports[] = {LV_EXPORT(GetBaseTable), LV_EXPORT(GetCommands),
    LV_EXPORT(GetConstants), LV_EXPORT(InitLibrary), LV_EXPORT(FreeLibrary), LV_EXPORT_IF(GetLibraryCount, 1),
    LV_EXPORT_IF(SetCurrentLibrary, 1), LV_EXPORT_IF(GetHelpStrings, 4), LV_EXPORT_IF(PushUpvalues, 8), {}};
static const lvExportRow convertExports[] = {LV_EXPORT(GetScript), LV_EXPORT(FreeScript), {}};
static const lvExportRow saveImageExports[] = {LV_EXPORT(RegisterImageSaver), LV_EXPORT(SaveImage), {}};
static const lvExportRow saveAnimExports[] = {LV_EXPORT(RegisterAnimSaver), LV_EXPORT(BeginAnimStream),
    LV_EXPORT_IF(BeginAnimStreamExt, 1), LV_EXPORT(WriteAnimFrame), LV_EXPORT(FinishAnimStream), {}};
static const lvExportRow saveSampleExports[] = {LV_EXPORT(RegisterSampleSaver), LV_EXPORT(SaveSample),
    LV_EXPORT_IF(BeginSampleStream, 1), LV_EXPORT_IF(WriteSampleStream, 1), LV_EXPORT_IF(FinishSampleStream, 1), {}};
static const lvExportRow requireExports[] = {LV_EXPORT(RequirePlugin), {}};
// The display family in its lookup order (not its slot order).
static const lvExportRow displayExports[] = {LV_EXPORT(HandleEvents), LV_EXPORT(WaitEvents),
    LV_EXPORT(ForceEventLoopIteration), LV_EXPORT(DetermineBorderSizes), LV_EXPORT(OpenDisplay),
    LV_EXPORT(CloseDisplay), LV_EXPORT(ChangeBufferSize), LV_EXPORT(ShowHideDisplay), LV_EXPORT(SizeMoveDisplay),
    LV_EXPORT(SetDisplayTitle), LV_EXPORT(ActivateDisplay), LV_EXPORT(SetDisplayAttributes),
    LV_EXPORT(CreatePointer), LV_EXPORT(FreePointer), LV_EXPORT(SetPointer), LV_EXPORT(ShowHidePointer),
    LV_EXPORT(MovePointer), LV_EXPORT(GetMousePos), LV_EXPORT(GetQualifiers), LV_EXPORT(BltBitMap),
    LV_EXPORT(RectFill), LV_EXPORT(WritePixel), LV_EXPORT(Line), LV_EXPORT(VWait), LV_EXPORT(GetMonitorInfo),
    LV_EXPORT(FreeMonitorInfo), LV_EXPORT(GrabScreenPixels), LV_EXPORT(FreeGrabScreenPixels),
    LV_EXPORT(AllocVideoBitMap), LV_EXPORT(FreeVideoBitMap), LV_EXPORT(ReadVideoPixels),
    LV_EXPORT(FreeVideoPixels), LV_EXPORT(DoVideoBitMapMethod), LV_EXPORT(BeginDoubleBuffer),
    LV_EXPORT(EndDoubleBuffer), LV_EXPORT(Flip), LV_EXPORT(Cls), LV_EXPORT(AllocBitMap), LV_EXPORT(FreeBitMap),
    LV_EXPORT(LockBitMap), LV_EXPORT(UnLockBitMap), LV_EXPORT(GetBitMapAttr), LV_EXPORT(Sleep),
    LV_EXPORT_IF(AdapterMainLoop, 1), LV_EXPORT_IF(SetPalette, 2), LV_EXPORT_IF(SetMenuBar, 4),
    LV_EXPORT_IF(SetMenuAttributes, 4), LV_EXPORT_IF(GetMenuAttributes, 4), LV_EXPORT_IF(SetTrayIcon, 8),
    LV_EXPORT_IF(OpenPopupMenu, 0x10), LV_EXPORT_IF(SetTrayMenu, 0x20), {}};
static const lvExportRow timerExports[] = {LV_EXPORT(RegisterTimer), LV_EXPORT(FreeTimer), {}};
static const lvExportRow requesterExports[] = {LV_EXPORT(SystemRequest), LV_EXPORT(FileRequest),
    LV_EXPORT(PathRequest), LV_EXPORT(StringRequest), LV_EXPORT(ListRequest), LV_EXPORT(FontRequest),
    LV_EXPORT(ColorRequest), LV_EXPORT(FreeRequest), {}};
static const lvExportRow fileExports[] = {LV_EXPORT(FOpen), LV_EXPORT(FClose), LV_EXPORT(FRead), LV_EXPORT(FGetC),
    LV_EXPORT(FWrite), LV_EXPORT(FPutC), LV_EXPORT(FSeek), LV_EXPORT(FFlush), LV_EXPORT(FEof), LV_EXPORT(FStat),
    LV_EXPORT(Stat), {}};
static const lvExportRow dirExports[] = {LV_EXPORT(OpenDir), LV_EXPORT(CloseDir), LV_EXPORT(NextDirEntry),
    LV_EXPORT_IF(RewindDir, 1), LV_EXPORT_IF(StatDir, 2), {}};
static const lvExportRow audioExports[] = {LV_EXPORT(OpenAudio), LV_EXPORT(CloseAudio),
    LV_EXPORT(AllocAudioChannel), LV_EXPORT(FreeAudioChannel), LV_EXPORT(SetChannelAttributes),
    LV_EXPORT_IF(StartAudioCapture, 1), LV_EXPORT_IF(GetAudioCapture, 1), LV_EXPORT_IF(StopAudioCapture, 1), {}};
static const lvExportRow networkExports[] = {LV_EXPORT(OpenConnection), LV_EXPORT(CloseConnection),
    LV_EXPORT(GetConnectionInfo), LV_EXPORT(ReceiveData), LV_EXPORT(SendData), {}};
static const lvExportRow serializeExports[] = {LV_EXPORT(InitSerializer), LV_EXPORT(FreeSerializer),
    LV_EXPORT(SerializeItem), LV_EXPORT(DeserializeItem), {}};
static const lvExportRow iconExports[] = {LV_EXPORT(LoadIcon), LV_EXPORT(GetIconImages), LV_EXPORT(FreeIcon),
    LV_EXPORT_IF(GetIconFormat, 2), {}};
static const lvExportRow saveIconExports[] = {LV_EXPORT(RegisterIconSaver), LV_EXPORT(SaveIcon), {}};
static const lvExportRow ipcExports[] = {LV_EXPORT(CreateIPCPort), LV_EXPORT(FreeIPCPort),
    LV_EXPORT(SendIPCMessage), {}};
static const lvExportRow fontExports[] = {LV_EXPORT(LoadFont), LV_EXPORT(FreeFont), LV_EXPORT(MeasureText),
    LV_EXPORT(RenderText), LV_EXPORT(GetKerning), LV_EXPORT(SetFontScale), LV_EXPORT(GetFontFormat), {}};
static const lvExportRow fileSysExports[] = {LV_EXPORT(ChangeDir), LV_EXPORT(GetCurDir), LV_EXPORT(MakeDir),
    LV_EXPORT(DeleteFSObj), LV_EXPORT(RenameFSObj), LV_EXPORT(MoveFSObj), LV_EXPORT(SetFSObjAttributes), {}};
static const lvExportRow clipboardExports[] = {LV_EXPORT(SetClipboard), LV_EXPORT(GetClipboard),
    LV_EXPORT(PeekClipboard), LV_EXPORT(ClearClipboard), {}};

// One family: its capability, its exports, and whether a loader joins its chain.
struct lvExportFamily {
    uint32_t capability;       // PLUGINCAPS_ bit
    const lvExportRow *rows;   // exports in lookup order
    int loaderChain;           // joins its chain at load time unless extension bit 1
};

// Families in resolution order.
static const lvExportFamily exportFamilies[] = {
    {PLUGINCAPS_VECTOR, vectorExports, 0},
    {PLUGINCAPS_VIDEO, videoExports, 1},
    {PLUGINCAPS_LIBRARY, libraryExports, 0},
    {PLUGINCAPS_CONVERT, convertExports, 0},
    {PLUGINCAPS_IMAGE, imageExports, 1},
    {PLUGINCAPS_ANIM, animExports, 1},
    {PLUGINCAPS_SOUND, soundExports, 1},
    {PLUGINCAPS_SAVEIMAGE, saveImageExports, 0},
    {PLUGINCAPS_SAVEANIM, saveAnimExports, 0},
    {PLUGINCAPS_SAVESAMPLE, saveSampleExports, 0},
    {PLUGINCAPS_REQUIRE, requireExports, 0},
    {PLUGINCAPS_DISPLAYADAPTER, displayExports, 0},
    {PLUGINCAPS_TIMERADAPTER, timerExports, 0},
    {PLUGINCAPS_REQUESTERADAPTER, requesterExports, 0},
    {PLUGINCAPS_FILEADAPTER, fileExports, 0},
    {PLUGINCAPS_DIRADAPTER, dirExports, 0},
    {PLUGINCAPS_AUDIOADAPTER, audioExports, 0},
    {PLUGINCAPS_NETWORKADAPTER, networkExports, 0},
    {PLUGINCAPS_SERIALIZE, serializeExports, 0},
    {PLUGINCAPS_ICON, iconExports, 1},
    {PLUGINCAPS_SAVEICON, saveIconExports, 0},
    {PLUGINCAPS_IPCADAPTER, ipcExports, 0},
    {PLUGINCAPS_FONT, fontExports, 1},
    {PLUGINCAPS_FILESYSADAPTER, fileSysExports, 0},
    {PLUGINCAPS_CLIPBOARDADAPTER, clipboardExports, 0},
};

// Index n of the extension word of a capability bit 2^n.
static int CapabilityIndex(uint32_t capability) { return __builtin_ctz(capability); }

// Resolves one family's exports into the record; 0 or ERR_PLUGINSYMBOL.
static int ResolveFamily(lvPluginHandle *handle, const lvExportFamily &family)
{
    lvPluginRecord *record = handle->record;
    uint32_t word = record->extensions[CapabilityIndex(family.capability)];
    for (const lvExportRow *row = family.rows; row->name; row++) {
        if (row->condition && !(word & row->condition)) continue;
        const char *name = DecorateExportName(row->name, handle->prefixed);
        void *symbol = dlsym(handle->module, name);
        if (!symbol) {
            SetErrorStringArg(name);
            return ERR_PLUGINSYMBOL;
        }
        std::memcpy((char *)record + row->offset, &symbol, sizeof symbol);
    }
    return 0;
}

// ============================================================================
// Name checks
// ============================================================================

static const char *const reservedModuleNames[] = {"default", "standard", "inbuilt", "lumivarra", "system", "native"};

// The file's base name (without its four-character extension) must be the module name,
// or "_" followed by it; reserved names are refused.
static int CheckModuleName(const char *filePart, const char *moduleName)
{
    if (!moduleName || !moduleName[0]) return 0;
    size_t length = std::strlen(filePart);
    if (length < 4) return 0;
    length -= 4;
    if (filePart[0] == '_' && length - 1 == std::strlen(moduleName) &&
        strncasecmp(filePart + 1, moduleName, length - 1) == 0)
        return 1;
    if (length != std::strlen(moduleName) || strncasecmp(filePart, moduleName, length) != 0) return 0;
    for (const char *reserved : reservedModuleNames)
        if (strcasecmp(moduleName, reserved) == 0) return 0;
    return 1;
}

// ============================================================================
// Load and unload
// ============================================================================

static void *LoadPluginModule(const char *path, char *resolved, size_t size)
{
    // "SYSROOT:" names are found through the file layer and replaced by the full path.
    if (std::strncmp(path, "SYSROOT:", 8) == 0) {
        lvVFile *file = OpenVFile(path, LV_VF_READ, "inbuilt", nullptr);
        if (!file) return nullptr;
        int found = GetVFileFullPath(file, resolved, size);
        CloseVFile(file);
        if (!found) return nullptr;
    }
    char system[LV_PATH_SIZE * 4];
    if (!ToSystemPath(resolved, system, sizeof system, 1)) return nullptr;
    return dlopen(system, RTLD_NOW | RTLD_LOCAL);
}

// Undoes a load that got as far as the module: hooks added by InitPlugin go.
static int FailLoad(lvPluginHandle *handle, int code, int closePlugin, int hooksMarked)
{
    if (closePlugin && handle->record && handle->record->ClosePlugin) handle->record->ClosePlugin();
    if (hooksMarked) {
        // Chains the plug-in joined from InitPlugin or at load time forget it.
        if (handle->record) RemoveAdapterFromChain(handle->record, 0);
        DropMarkedPluginHooks(0);
        MarkPluginHooks(0);
    }
    if (handle->record) {
        FreePluginFileTypes(handle->record);
        FreeMemory(handle->record);
    }
    if (handle->module) dlclose(handle->module);
    FreeMemory(handle);
    return code;
}

int LoadPluginFile(const char *path, uint32_t *capabilitiesOut, lvPluginHandle **handleOut)
{
    *handleOut = nullptr;
    lvPluginHandle *handle = (lvPluginHandle *)AllocMemory(sizeof(lvPluginHandle), 1);
    if (!handle) return ERR_MEM;
    char full[LV_PATH_SIZE];
    if (std::strncmp(path, "SYSROOT:", 8) == 0) {
        CopyStrBounded(full, sizeof full, path);
    } else if (!GetFullPath(path, full, sizeof full)) {
        CopyStrBounded(full, sizeof full, path);
    }
    const char *filePart = FindFilePart(path);
    handle->module = LoadPluginModule(path, full, sizeof full);
    if (!handle->module) {
        SetErrorStringArg(filePart);
        return FailLoad(handle, ERR_LOADPLUGIN, 0, 0);
    }
    handle->record = (lvPluginRecord *)AllocMemory(sizeof(lvPluginRecord), 1);
    if (!handle->record) return FailLoad(handle, ERR_MEM, 0, 0);
    lvPluginRecord *record = handle->record;

    void *init = dlsym(handle->module, "lvp_InitPlugin");
    handle->prefixed = init != nullptr;
    if (!init) init = dlsym(handle->module, "InitPlugin");
    void *close = dlsym(handle->module, handle->prefixed ? "lvp_ClosePlugin" : "ClosePlugin");
    if (!init || !close) {
        SetErrorStringArg(filePart);
        return FailLoad(handle, ERR_LOADPLUGIN, 0, 0);
    }
    record->InitPlugin = (lvInitPluginFunction)init;
    record->ClosePlugin = (lvClosePluginFunction)close;

    record->hostVersion = LVPLUGIN_VERSION;
    record->hostRevision = LVPLUGIN_REVISION;
    MarkPluginHooks(1);
    if (!record->InitPlugin(record, GetPluginApi(), full)) {
        SetErrorStringArg(filePart);
        return FailLoad(handle, ERR_LOADPLUGIN, 0, 1);
    }
    if (!CheckModuleName(FindFilePart(full), record->moduleName)) {
        SetErrorStringArg(filePart);
        return FailLoad(handle, ERR_LOADPLUGIN, 1, 1);
    }
    handle->capabilities = record->capabilities;
    if (record->hostVersion > LVPLUGIN_VERSION ||
        (record->hostVersion == LVPLUGIN_VERSION && record->hostRevision > LVPLUGIN_REVISION)) {
        char version[32];
        std::snprintf(version, sizeof version, "%u.%u", record->hostVersion, record->hostRevision);
        SetErrorStringArg(version);
        return FailLoad(handle, ERR_NEWLVPLUGIN, 1, 1);
    }

    int families = 0;
    if (record->capabilities & PLUGINCAPS_EXTENSION) {
        void *symbol = dlsym(handle->module, DecorateExportName("GetExtensions", handle->prefixed));
        if (!symbol) {
            SetErrorStringArg(DecorateExportName("GetExtensions", handle->prefixed));
            return FailLoad(handle, ERR_PLUGINSYMBOL, 1, 1);
        }
        record->GetExtensions = (lvGetExtensionsFunction)symbol;
        for (int n = 0; n < 32; n++) {
            uint32_t bit = 1u << n;
            if ((record->capabilities & bit) && bit != PLUGINCAPS_EXTENSION)
                record->extensions[n] = record->GetExtensions(bit, nullptr);
        }
        families++;
    }
    for (const lvExportFamily &family : exportFamilies) {
        if (!(record->capabilities & family.capability)) continue;
        if (int code = ResolveFamily(handle, family)) return FailLoad(handle, code, 1, 1);
        families++;
        if (family.loaderChain && !(record->extensions[CapabilityIndex(family.capability)] & 1)) {
            if (int code = AddAdapterToChain(record, family.capability)) return FailLoad(handle, code, 1, 1);
        }
    }
    // The clipboard family counts as recognised even when it brought nothing else.
    if (!families) {
        char bits[16];
        std::snprintf(bits, sizeof bits, "%x", record->capabilities);
        SetErrorStringArg(bits);
        return FailLoad(handle, ERR_PLUGINTYPE, 1, 1);
    }
    MarkPluginHooks(0);
    *capabilitiesOut = handle->capabilities;
    *handleOut = handle;
    return 0;
}

void UnloadPluginHandle(lvPluginHandle *handle)
{
    if (!handle) return;
    if (handle->record) {
        if (handle->record->ClosePlugin) handle->record->ClosePlugin();
        FreePluginFileTypes(handle->record);
        FreeMemory(handle->record);
    }
    if (handle->module) dlclose(handle->module);
    FreeMemory(handle);
}
