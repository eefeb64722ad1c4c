// builtin_libs.cpp - the command libraries linked into the runtime executable.
//
// Each library exposes its open function, constants getter and shut-down step in its own
// header; this file puts them into their rows of the library table and its shut-down
// steps. A library missing here keeps its empty row. It also installs the service tables
// and hooks through which the runtime and the lower libraries reach higher ones, so no
// lower folder includes a higher one.
// Dependencies: runtime/libtable.h and each library's header.
#include "app/builtin_libs.h"
#include "comm/lib_network.h"
#include "comm/lib_serial.h"
#include "comm/network.h"
#include "formats/lvformats.h"
#include "images/lveffects.h"
#include "images/imaging_links.h"
#include "images/lvbgpic.h"
#include "fx/lvtransition.h"
#include "images/lvbrush.h"
#include "images/lvclipregion.h"
#include "images/lvdraw.h"
#include "images/lvoffscreen.h"
#include "images/lvpalette.h"
#include "layers/lvlayer.h"
#include "libs/digest.h"
#include "libs/dos_engine.h"
#include "libs/lib_core2.h"
#include "libs/lib_core4.h"
#include "libs/langtables.h"
#include "libs/lib_dos.h"
#include "libs/lib_string.h"
#include "libs/memblock_engine.h"
#include "libs/serialize_engine.h"
#include "libs/strings_engine.h"
#include "raster/lvgraphics.h"
#include "raster/lvpluginraster.h"
#include "images/lvpaint.h"
#include "images/lvvectorshape.h"
#include "raster/lvpreload.h"
#include "libs/time_engine.h"
#include "runtime/asyncop.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/libs_core.h"
#include "runtime/libtable.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "media/lib_sound.h"
#include "media/lib_music.h"
#include "media/lvaudio.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"
#include "text/lib_text.h"
#include "text/lvtextlib.h"
#include "text/lvvectorpath.h"
#include "ui/events.h"
#include "ui/display.h"
#include "ui/pointers.h"
#include "ui/icons.h"
#include "ui/display_draw.h"
#include "ui/lib_event.h"
#include "ui/legacy.h"
#include "ui/input.h"
#include "ui/lib_clipboard.h"
#include "ui/ports.h"
#include "ui/lib_console.h"
#include "ui/lib_joystick.h"
#include "ui/lib_menu.h"
#include "platform/lvplatform_startup.h"
#include <cstring>
#include <vector>

// The line hook's work and the event poll's first step: the plug-ins' line hooks (a
// non-zero result is the run's error), then stale input events are purged, the resource
// monitor redrawn when it is due, then a display adapter's input is handled.
// Keys and buttons held when Execute or Run started a program are not held after it.
static void ResetCurrentDisplayInput(lvState *)
{
    if (lvDisplay *d = GetCurrentDisplay()) ResetDisplayInput(d);
}

static int PollRuntimeEvents(lvState *L, int mode)
{
    if (mode & 1) {
        if (int code = RunPluginHooks(L, 1, nullptr, nullptr)) return code;
    }
    if (int code = PollEventEngine(L, mode)) return code;
    UpdateResourceMonitor(L, 0);
    return PollDisplayEvents(L, mode);
}

// ---- Library services handed to plug-ins through the interface table ----

static int PluginDateFields(lvPluginDateFields *out)
{
    lvDateFields fields;
    if (GetCurrentDateFields(&fields) != 1) return 0;
    *out = {fields.second, fields.minute, fields.hour, fields.day, fields.month, fields.year};
    return 1;
}

static size_t PluginEncodeBase64(const void *data, size_t length, char *out, size_t outSize)
{
    size_t needed = Base64EncodedSize(length);
    if (needed >= outSize) return 0;
    size_t written = EncodeBase64(data, length, out);
    out[written] = 0;
    return written;
}

// The caller's buffer may be smaller than the decoder writes: decode into a scratch one.
static int PluginDecodeBase64(const char *text, size_t length, uint8_t *out, size_t *outLength)
{
    std::vector<uint8_t> bytes(length * 3 / 4 + 3);
    size_t got = 0;
    if (DecodeBase64(text, length, bytes.data(), &got) != 0 || got > *outLength) return 0;
    if (got) std::memcpy(out, bytes.data(), got);
    *outLength = got;
    return 1;
}

static void PluginMd5Hex(const void *data, size_t length, char *out33)
{
    Md5HexOfRange(data, length, out33);
}

// What a plug-in running its own loop asks the runtime to keep up with: video frames
// threads queued (flags 2), finished sound channels, window input (flags 1) and the
// resource monitor.
static int PluginHousekeeping(lvState *L, uint32_t flags)
{
    if (flags & 2) DrawPendingVideoFrames(L);
    ServiceSoundChannels();
    int code = 0;
    if (flags & 1) code = PollRuntimeEvents(L, 0);
    UpdateResourceMonitor(L, 0);
    return code;
}

static const lvPluginServices pluginServices = {GetCurrentDateString, PluginDateFields,   PluginEncodeBase64,
                                                PluginDecodeBase64,   PluginMd5Hex,       GetLanguageCode,
                                                GetCountryCode,       OpenPluginCatalog,  ClosePluginCatalog,
                                                PluginCatalogString,  PluginHousekeeping};

// Between the steps of an async operation run to completion (transfers, file copies):
// events come in, and a quit request ends the run.
static int PollAsyncEvents(lvState *L, int mode)
{
    if (int code = GetStartupHooks()->PollRuntimeEvents(L, mode)) return code;
    return EventRuntime()->QuitRequested() ? ERR_USERABORT : 0;
}

// The event library's shut-down takes no "full" flag.
static void CloseEventStep(lvState *L, int full)
{
    CloseEventLibrary(L);
}

// ---- The dos library's files for other libraries -----------------------------------

// ReadMem and WriteMem reach the dos library's open files.
static int FindMemBlockFile(lvObjectId id, lvMemFileRef *file)
{
    lvFileHandle *handle = nullptr;
    if (int code = FindFileHandle(id, &handle)) return code;
    file->file = handle->stream;
    file->readOnly = handle->access == 1;
    file->writeOnly = handle->access == 2;
    return 0;
}

// WriteTable, ReadTable and the function images reach the dos library's open files.
static int FindSerializeFile(lvState *L, int index, lvVFile **file, int *readable, int *writable, int *encoding)
{
    lvFileHandle *handle = nullptr;
    if (int code = FindFileHandle(GetObjectIdArg(L, index), &handle)) return code;
    *file = handle->stream;
    *readable = handle->access != 2;
    *writable = handle->access != 1;
    *encoding = handle->encoding >= 0 ? handle->encoding : GetGlobalEncoding() == LV_ENCODING_UTF8;
    return 0;
}

static int DosUsesCarriageReturn(void)
{
    return GetDosFileState()->carriageReturn;
}

// ---- Program and directory-monitor events ------------------------------------------

static void TextField(void *c, const char *name, const char *text)
{
    AddMessageText(static_cast<lvEventMessage *>(c), name, text);
}
static void NumberField(void *c, const char *name, double value)
{
    AddMessageNumber(static_cast<lvEventMessage *>(c), name, value);
}
static void ReferenceField(void *c, const char *name, int reference)
{
    AddMessageReference(static_cast<lvEventMessage *>(c), name, reference);
}
static void ObjectIdField(void *c, const char *name, int number, void *handle)
{
    AddMessageObjectId(static_cast<lvEventMessage *>(c), name, lvEventId{uintptr_t(number), uintptr_t(handle)});
}

// The fields of RunFinished, RunOutput and DirectoryChanged messages come from the dos library.
static void FillDosEventFields(lvState *, const lvEventCallback *record, lvEventMessage *message)
{
    lvDosEventFieldSink sink = {message, TextField, NumberField, ReferenceField, ObjectIdField};
    DescribeDosEvent(record->kind, record->id.number, record->payload, &sink);
}

// Kinds 14 to 17 are the network library's objects; the others the dos library's.
static void FillSourceEventFields(lvState *state, const lvEventCallback *record, lvEventMessage *message)
{
    if (record->kind >= CALLBACK_CONNECT && record->kind <= CALLBACK_RECEIVEUDP)
        FillNetworkEventFields(state, record, message);
    else
        FillDosEventFields(state, record, message);
}

// Whether the script installed the global handler a program job reports to.
static int DosHandlerInstalled(lvState *, const char *name)
{
    int slot = -1;
    if (std::strcmp(name, "RunFinished") == 0) slot = GLOBAL_RUNFINISHED;
    else if (std::strcmp(name, "RunOutput") == 0) slot = GLOBAL_RUNOUTPUT;
    else if (std::strcmp(name, "DirectoryChanged") == 0) slot = GLOBAL_DIRECTORYCHANGED;
    return slot >= 0 && GetGlobalHandler(slot)->function != -1;
}

// ---- The applet's encoding -----------------------------------------------------------

// String and text commands take texts in the applet's encoding unless told otherwise.
static void FollowAppletEncoding(lvState *)
{
    int utf8 = GetGlobalEncoding() == LV_ENCODING_UTF8;
    GetStringSettings()->defaultEncoding = utf8;
    SetDefaultTextEncoding(utf8);
    SetDebugTextLatin1(!utf8);
}

// ---- The require phase ----------------------------------------------------------------

// Adapters (displays, timers, requesters) install themselves only while start-up requires
// plug-ins: the plug-ins named by REQUIREPLUGINS, and those the applet links.
static int (*managerLoadPlugins)(lvState *, lvRuntimeConfig *, const char *);
static int (*managerRequireLinked)(lvState *, lvLinkedObject *, int);

static int LoadAndRequireStartupPlugins(lvState *L, lvRuntimeConfig *config, const char *directory)
{
    if (int code = managerLoadPlugins(L, config, directory)) return code;
    int code = 0;
    SetAdapterSetupPhase(1);
    for (const char *name = config->requirePluginList; !code && name && *name; name += std::strlen(name) + 1)
        code = RequirePluginByName(L, name, 0, 0, LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr, nullptr);
    SetAdapterSetupPhase(0);
    return code;
}

static int RequireLinkedPluginInPhase(lvState *L, lvLinkedObject *object, int mode)
{
    SetAdapterSetupPhase(1);
    int code = managerRequireLinked(L, object, mode);
    SetAdapterSetupPhase(0);
    return code;
}

void InstallBuiltinLibraries(void)
{
    SetLibraryRow("error", OpenErrorLibrary, GetErrorConstants);
    SetLibraryRow("object", OpenObjectLibrary, GetObjectConstants);
    SetLibraryRow("compress", OpenCompressLibrary, nullptr);
    SetLibraryRow("amiga", OpenAmigaLibrary, nullptr);
    SetLibraryRow("mobile", OpenMobileLibrary, nullptr);

    SetLibraryRow("string", OpenStringLibrary, nullptr);
    SetLibraryRow("math", OpenMathLibrary, GetMathConstants);
    SetLibraryRow("table", OpenTableLibrary, nullptr);
    SetLibraryRow("memblock", OpenMemBlockLibrary, GetMemBlockConstants);
    SetLibraryRow("time", OpenTimeLibrary, GetTimeConstants);
    SetLibraryRow("system", OpenSystemLibrary, GetSystemConstants);

    SetLibraryRow("serialize", OpenSerializeLibrary, GetSerializeConstants);
    SetLibraryRow("application", OpenApplicationLibrary, GetApplicationConstants);
    SetLibraryRow("locale", OpenLocaleLibrary, GetLocaleConstants);
    SetLibraryRow("windows", OpenWindowsLibrary, GetWindowsConstants);
    SetLibraryCloseStep("catalog", CloseLocaleLibrary);
    SetLibraryCloseStep("registry", CloseWindowsLibrary);

    SetLibraryRow("event", OpenEventLibrary, GetEventConstants);
    SetLibraryCloseStep("event", CloseEventStep);

    SetLibraryRow("serial", OpenSerialCommands, GetSerialConstants);
    SetLibraryCloseStep("serial", CloseSerialCommands);
    SetLibraryRow("network", OpenNetworkCommands, GetNetworkConstants);
    SetLibraryCloseStep("network", CloseNetworkCommands);

    SetLibraryRow("dos", OpenDosLibrary, GetDosConstants);
    SetLibraryCloseStep("dos", FreeDosObjects);
    SetLibraryRow("async", OpenAsyncOperationLibrary, GetAsyncOperationConstants);
    SetLibraryCloseStep("async", FreeAsyncOperationObjects);
    static const lvAsyncHooks asyncHooks = {PollAsyncEvents, nullptr};
    SetAsyncHooks(&asyncHooks);
    SetDosStepPoll(PollAsyncEvents);
    SetMemFileLookup(FindMemBlockFile);
    static const lvSerializeFileHooks serializeFiles = {FindSerializeFile, DosUsesCarriageReturn};
    SetSerializeFileHooks(&serializeFiles);
    lvEventSourceHooks sources = {};
    sources.JobWantsReport = DosJobWantsReport;
    sources.ReleaseRunJob = ReleaseDosRunJob;
    sources.FillSourceFields = FillSourceEventFields;
    sources.PollNetwork = GatherNetworkEvents;
    sources.NetworkWatched = NetworkEventsWatched;
    sources.SetSoundEventSwitch = SetSoundEventSwitches;
    sources.ServiceSound = ServiceSoundChannels;
    sources.HaveLegacyTriggers = HaveLegacyTriggers;
    sources.QueueLegacyJumps = QueueLegacyJumps;
    sources.LegacyHover = LegacyHover;
    sources.FreePort = FreeProgramPort;
    sources.NextMusicRequest = NextMusicRequest;
    sources.MusicCallbackRunning = SetMusicCallbackActive;
    sources.MusicEndBookkeeping = MusicEndBookkeeping;
    SetEventSourceHooks(&sources);
    SetDosHandlerQuery(DosHandlerInstalled);
    SetDosInputReset(ResetCurrentDisplayInput);
    SetLinkedTailReader(18, ReadLinkedDirTail);
    SetLinkedTailReader(20, ReadLinkedDirTail);

    SetLibraryRow("graphics", OpenGraphicsLibrary, GetGraphicsConstants);
    SetLibraryCloseStep("imagecache", CloseGraphicsLibrary);
    InstallImageEffects();
    InstallImagingLinks();
    InstallRasterPluginEntries();
    InstallDrawPluginEntries();
    SetLibraryRow("text", OpenTextCommands, GetTextConstants);
    SetLibraryCloseStep("fonts", CloseTextCommands);
    InstallVectorShapeCloseStep();

    SetLibraryRow("plugin", OpenPluginLibrary, GetPluginConstants);
    InstallPluginManager();
    managerLoadPlugins = GetStartupHooks()->LoadStartupPlugins;
    managerRequireLinked = GetStartupHooks()->RequirePlugin;

    // Picture files: command-less libraries, and the plug-ins' image entries.
    SetLibraryRow("imageio", ImageioLibraryOpen, nullptr);
    SetLibraryRow("animio", ImageioLibraryOpen, nullptr);
    SetLibraryCloseStep("imagesources", ReleaseImagingFactory);
    InstallImageLoaderEntries();
    InstallJpegPluginEntries();
    InstallFontPluginEntries();
    SetPluginServices(&pluginServices);

    SetLibraryRow("sound", OpenSoundLibrary, GetSoundConstants);
    SetLibraryCloseStep("sound", CloseSoundLibrary);

    lvStartupHooks startup = {};
    startup.CloseAudio = StopAllSound;
    startup.EncodingApplied = FollowAppletEncoding;
    startup.PollRuntimeEvents = PollRuntimeEvents;
    for (int type : {0, 1, 2, 7}) startup.preload[type] = PreloadLinkedPicture;
    startup.preload[21] = PreloadLinkedPalette;
    startup.preload[9] = startup.preload[22] = PreloadLinkedFont;
    startup.preload[18] = startup.preload[20] = PreloadLinkedDirectory;
    startup.preload[3] = PreloadLinkedMusic;
    startup.ApplyAppletIcons = ApplyApplicationIcons;
    startup.LoadStartupPlugins = LoadAndRequireStartupPlugins;
    startup.RequirePlugin = RequireLinkedPluginInPhase;
    SetStartupHooks(&startup);

    InstallDisplayLibrary();
    InstallClipboardAndRequesterLibraries();
    InstallMenuLibrary();

    SetLibraryRow("palette", OpenPaletteLibrary, GetPaletteConstants);
    SetLibraryRow("transitionfx", OpenTransitionLibrary, GetTransitionConstants);
    SetLibraryCloseStep("palettes", ClosePaletteLibrary);
    SetLinkedTailReader(21, ReadLinkedPaletteTail);
    SetLibraryRow("brush", OpenBrushLibrary, GetBrushConstants);
    SetLibraryCloseStep("brushes", CloseBrushLibrary);
    SetLibraryRow("offscreen", OpenOffscreenLibrary, GetOffscreenConstants);
    SetLibraryRow("draw", OpenDrawLibrary, GetDrawConstants);
    SetLibraryCloseStep("drawbuffers", CloseDrawLibrary);
    InstallVectorPathLibrary();
    SetLibraryRow("layers", OpenLayersLibrary, GetLayersConstants);
    SetLibraryCloseStep("layers", CloseLayersLibrary);
    SetCollectGarbageHook(CollectDetachedObjects);
    SetLibraryRow("bgpic", OpenBGPicLibrary, GetBGPicConstants);
    SetLibraryCloseStep("bgpics", CloseBGPicLibrary);
    SetLibraryRow("clipregion", OpenClipRegionLibrary, GetClipRegionConstants);
    SetLibraryCloseStep("clipregions", CloseClipRegionLibrary);
    SetLinkedTailReader(0, ReadBGPicPreloadTail);
    SetLinkedTailReader(1, ReadBrushPreloadTail);
    SetLibraryRow("console", OpenConsoleLibrary, GetConsoleConstants);
    SetLibraryCloseStep("console", CloseConsoleLibrary);
    SetLibraryRow("joystick", OpenJoystickLibrary, GetJoystickConstants);
    SetLibraryCloseStep("joysticks", CloseJoystickLibrary);
    SetLibraryRow("pointer", OpenPointerLibrary, GetPointerConstants);
    SetLibraryCloseStep("pointers", ClosePointerLibrary);
    SetLibraryRow("icon", OpenIconLibrary, GetIconConstants);
    SetLibraryCloseStep("icons", CloseIconLibrary);
}
