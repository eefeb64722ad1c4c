// animhandle.cpp - anim handles and the anim loader chain.
#include "formats/lvanim.h"
#include "formats/lvavi.h"
#include "formats/lvgif.h"
#include "formats/lviffanim.h"
#include "formats/lvnative.h"
#include "formats/formats_internal.h"
#include "runtime/lvplugin.h"
#include <cstring>

static const int kAnimLoaderKind = 1;  // the anim entry of the default loader lists
static int64_t DecoderCloses;

int64_t GetAnimDecoderCloseCount(void) { return DecoderCloses; }

static void CloseDecoder(lvAnimHandle *h)
{
    if (!h->decoder) return;
    switch (h->kind) {
    case LV_ANIM_GIF:
        CloseGifReader((lvGifReader *)h->decoder);
        break;
    case LV_ANIM_AVI:
        CloseAviReader((lvAviReader *)h->decoder);
        break;
    case LV_ANIM_IFF:
        CloseIffAnimReader((lvIffAnimReader *)h->decoder);
        break;
    case LV_ANIM_NATIVE:
        CloseNativeAnim((lvNativeAnim *)h->decoder);
        break;
    case LV_ANIM_PLUGIN:
        if (h->plugin && h->plugin->CloseAnim) ((lvCloseAnimFunction)h->plugin->CloseAnim)(h->decoder);
        break;
    }
    h->decoder = nullptr;
    DecoderCloses++;
    if (h->file) CloseVFile(h->file), h->file = nullptr;
}

// The inbuilt readers, by the file's first bytes. Streams without random seeking are
// left to other loaders: every reader here seeks back and forth.
static bool OpenInbuilt(lvAnimHandle *h, const char *path, const char *adapter, const void *userTags,
                        int deinterlace, int *frames)
{
    lvVFile *file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags);
    if (!file) return false;
    uint8_t head[12];
    if ((GetVFileStreamFlags(file) & LV_STREAM_UNSEEKABLE) || ReadVFile(file, head, 12) != 12 ||
        SeekVFile(file, 0, 1) < 0) {
        CloseVFile(file);
        return false;
    }
    int w = 0, ht = 0;
    if (!std::memcmp(head, "FORM", 4) && !std::memcmp(head + 8, "ANIM", 4)) {
        h->decoder = OpenIffAnimReader(file, deinterlace, h->paletteMode, h->transparency, &w, &ht, frames);
        h->kind = LV_ANIM_IFF;
    } else if (!std::memcmp(head, "GIF87", 5) || !std::memcmp(head, "GIF89", 5)) {
        uint32_t flags = LV_GIF_KEEPFILE | (h->paletteMode ? LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE : 0) |
                         (h->transparency ? LV_IMGLOAD_TRANSPEN : 0);
        int depth;
        h->decoder = OpenGifReader(file, flags, &w, &ht, &depth, frames);
        h->kind = LV_ANIM_GIF;
        if (h->decoder) h->file = file;
        else CloseVFile(file);
    } else if (!std::memcmp(head, "RIFF", 4) && !std::memcmp(head + 8, "AVI ", 4)) {
        h->decoder = OpenAviReader(file, &w, &ht, frames);
        h->kind = LV_ANIM_AVI;
    } else {
        CloseVFile(file);
        return false;
    }
    h->width = w, h->height = ht;
    return h->decoder != nullptr;
}

static bool OpenNative(lvAnimHandle *h, const char *path, const char *adapter, const void *userTags, int *frames)
{
    lvVFile *file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags);
    if (!file) return false;
    int w, ht, alpha, count = 0;
    lvNativeAnim *anim = OpenNativeAnim(file, h->paletteMode, h->transparency, &w, &ht, &count, &alpha);
    CloseVFile(file);
    if (!anim) return false;
    if (count <= 1) {
        CloseNativeAnim(anim);
        return false;
    }
    h->decoder = anim, h->kind = LV_ANIM_NATIVE, h->width = w, h->height = ht, *frames = count;
    return true;
}

static bool OpenPlugin(lvAnimHandle *h, lvPluginRecord *plugin, const char *path, const char *adapter,
                       const void *userTags, int *frames, int *fourth)
{
    if (!plugin->OpenAnim || !plugin->LoadFrame) return false;
    lvAnimOpenCtrl ctrl = {};
    ctrl.adapter = adapter;
    ctrl.userTags = userTags;
    ctrl.flags = (h->transparency ? LVP_ANIMCTRL_TRANSPARENCY : 0) | (h->paletteMode ? LVP_ANIMCTRL_PALETTE : 0);
    void *handle = ((lvOpenAnimFunction)plugin->OpenAnim)(path, &ctrl);
    if (!handle) return false;
    // Frames larger than the pixel limit could not be copied by any caller.
    if (!ImagePixelsFit(ctrl.width, ctrl.height) || ctrl.width <= 0 || ctrl.height <= 0 || ctrl.frameCount < 0) {
        if (plugin->CloseAnim) ((lvCloseAnimFunction)plugin->CloseAnim)(handle);
        return false;
    }
    h->decoder = handle, h->kind = LV_ANIM_PLUGIN, h->plugin = plugin;
    h->width = ctrl.width, h->height = ctrl.height, h->vector = ctrl.type == 1;
    *frames = ctrl.frameCount, *fourth = ctrl.fourth;
    return true;
}

int OpenAnimHandle(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                   int deinterlace, int paletteMode, int transparency, lvAnimHandle **out, int *width, int *height,
                   int *frameCount, int *fourth, int *vector, lvPluginRecord **plugin)
{
    *out = nullptr;
    lvAnimHandle *h = (lvAnimHandle *)AllocMemory(sizeof(lvAnimHandle), 1);
    if (!h) return ERR_MEM;
    h->paletteMode = paletteMode != 0, h->transparency = transparency != 0;
    char defaultList[256];
    if (!loaderList) {
        CopyDefaultLoader(defaultList, sizeof defaultList, kAnimLoaderKind);
        loaderList = defaultList[0] ? defaultList : nullptr;
    }
    lvAdapterScan scan;
    BeginAdapterScan(&scan, loaderList, PLUGINCAPS_ANIM, 0);
    if (loaderList && !loaderList[0]) scan.cursor = nullptr;
    int frames = 0, four = 0;
    bool opened = false;
    for (int kind; !opened && (kind = NextAdapter(&scan)) != 0;) {
        if (kind == 1) opened = OpenInbuilt(h, path, adapter, userTags, deinterlace, &frames);
        else if (kind == 2) opened = OpenNative(h, path, adapter, userTags, &frames);
        else if (kind == 3)
            if (lvPluginRecord *record = FindAdapterPluginRecord(scan.current))
                opened = OpenPlugin(h, record, path, adapter, userTags, &frames, &four);
        if (!opened) h->decoder = nullptr, h->plugin = nullptr;
    }
    if (!opened) {
        FreeMemory(h);
        SetErrorStringArg(path);
        return VFileExists(path, adapter, userTags) ? ERR_OPENANIM2 : ERR_READFILE;
    }
    h->refCount = 1;
    *out = h;
    if (width) *width = h->width;
    if (height) *height = h->height;
    if (frameCount) *frameCount = frames;
    if (fourth) *fourth = four;
    if (vector) *vector = h->vector;
    if (plugin) *plugin = h->plugin;
    return 0;
}

void RetainAnimHandle(lvAnimHandle *h) { h->refCount++; }

void ReleaseAnimHandle(lvAnimHandle *h)
{
    if (!h || h->refCount <= 0 || --h->refCount > 0) return;
    CloseDecoder(h);
    FreeMemory(h);
}

// A vector anim's frame: the plug-in's frame handle behind an image source of kind 3, so
// that it can be rendered again at other sizes.
struct lvVectorFrame {
    lvPluginRecord *plugin;
    void *frame;
};
static uint32_t *VectorFramePixels(void *handle, void *ctrl)
{
    auto *f = (lvVectorFrame *)handle;
    return (uint32_t *)((lvGetFrameFunction)f->plugin->GetFrame)(f->frame, (lvAnimFrameCtrl *)ctrl);
}
static int VectorFrameTransform(void *handle, const lvImageMatrix *matrix, int width, int height)
{
    auto *f = (lvVectorFrame *)handle;
    return ((lvTransformFrameFunction)f->plugin->TransformFrame)(f->frame, matrix, width, height);
}
static void VectorFrameFree(void *handle)
{
    auto *f = (lvVectorFrame *)handle;
    if (f->plugin->FreeVectorFrame) ((lvFreeVectorFrameFunction)f->plugin->FreeVectorFrame)(f->frame);
    FreeMemory(f);
}

static void *FetchVectorFrame(lvAnimHandle *h, int frame, void *target, int *depth, int *transparentPen,
                              void **vectorSource)
{
    lvPluginRecord *p = h->plugin;
    if (!vectorSource || !p->GetFrame || !p->TransformFrame) return nullptr;
    lvAnimFrameCtrl ctrl = {};
    ctrl.transparentPen = -1;
    ctrl.target = target;
    ctrl.flags = h->transparency ? LVP_ANIMCTRL_TRANSPARENCY : 0;
    void *handle = ((lvLoadFrameFunction)p->LoadFrame)(h->decoder, frame, &ctrl);
    if (!handle) return nullptr;
    auto *f = (lvVectorFrame *)AllocMemory(sizeof(lvVectorFrame), 1);
    if (!f) {
        if (p->FreeVectorFrame) ((lvFreeVectorFrameFunction)p->FreeVectorFrame)(handle);
        return nullptr;
    }
    f->plugin = p, f->frame = handle;
    lvImageSource *source = NewImageSource(LV_IMGSRC_ANIM, f, VectorFramePixels, VectorFrameFree,
                                           VectorFrameTransform, nullptr, nullptr, h->width, h->height, nullptr,
                                           nullptr, 0);
    if (!source) {
        VectorFrameFree(f);
        return nullptr;
    }
    lvAnimFrameCtrl pixelsCtrl = {};
    pixelsCtrl.transparentPen = -1;
    pixelsCtrl.target = target;
    pixelsCtrl.flags = ctrl.flags;
    void *pixels = ((lvGetFrameFunction)p->GetFrame)(handle, &pixelsCtrl);
    if (!pixels) {
        ReleaseImageSource(source);
        return nullptr;
    }
    *depth = pixelsCtrl.depth ? pixelsCtrl.depth : 32;
    *transparentPen = pixelsCtrl.hasAlpha ? -2 : pixelsCtrl.transparentPen;
    *vectorSource = source;
    return pixels;
}

void *FetchAnimFrame(lvAnimHandle *h, int frame, void *target, uint32_t **palette, int *depth, int *transparentPen,
                     void **vectorSource)
{
    if (palette) *palette = nullptr;
    *depth = 0, *transparentPen = -1;
    if (vectorSource) *vectorSource = nullptr;
    uint32_t *copy = nullptr;
    uint32_t **pal = palette ? palette : &copy;
    void *pixels = nullptr;
    switch (h->kind) {
    case LV_ANIM_GIF:
        pixels = ReadGifFrame((lvGifReader *)h->decoder, frame, pal, depth, transparentPen);
        break;
    case LV_ANIM_AVI:
        pixels = DecodeAviFrame((lvAviReader *)h->decoder, frame);
        *depth = 24;
        break;
    case LV_ANIM_IFF:
        pixels = GetIffAnimFrame((lvIffAnimReader *)h->decoder, frame, pal, depth, transparentPen);
        break;
    case LV_ANIM_NATIVE:
        pixels = LoadNativeAnimFrame((lvNativeAnim *)h->decoder, frame, pal, depth, transparentPen);
        break;
    case LV_ANIM_PLUGIN: {
        if (h->vector) return FetchVectorFrame(h, frame, target, depth, transparentPen, vectorSource);
        lvAnimFrameCtrl ctrl = {};
        ctrl.transparentPen = -1;
        ctrl.target = target;
        ctrl.flags = (h->transparency ? LVP_ANIMCTRL_TRANSPARENCY : 0) | (h->paletteMode ? LVP_ANIMCTRL_PALETTE : 0);
        pixels = ((lvLoadFrameFunction)h->plugin->LoadFrame)(h->decoder, frame, &ctrl);
        if (!pixels) return nullptr;
        if (h->paletteMode) {
            uint32_t *p = ctrl.palette ? (uint32_t *)AllocMemory(1024, 0) : nullptr;
            if (!p) {
                FreeAnimFrame(h, pixels);
                return nullptr;
            }
            std::memcpy(p, ctrl.palette, 1024);
            *pal = p;
        }
        *depth = ctrl.depth;
        *transparentPen = ctrl.hasAlpha ? -2 : ctrl.transparentPen;
        break;
    }
    }
    FreeMemory(copy);
    return pixels;
}

void FreeAnimFrame(lvAnimHandle *h, void *buffer)
{
    if (!buffer) return;
    if (h->kind == LV_ANIM_PLUGIN) {
        if (!h->vector && h->plugin->FreeFrame) ((lvFreeFrameFunction)h->plugin->FreeFrame)(h->decoder, buffer);
        return;
    }
    FreeMemory(buffer);
}

int GetAnimFrameDelay(lvAnimHandle *h, int frame)
{
    switch (h->kind) {
    case LV_ANIM_GIF:
        return GetGifFrameDelay((lvGifReader *)h->decoder, frame) * 10;
    case LV_ANIM_AVI:
        return 0;
    case LV_ANIM_IFF:
        return GetIffAnimDelay((lvIffAnimReader *)h->decoder, frame);
    case LV_ANIM_NATIVE:
        return GetNativeAnimDelay((lvNativeAnim *)h->decoder, frame);
    case LV_ANIM_PLUGIN:
        return h->plugin->GetFrameDelay ? ((lvGetFrameDelayFunction)h->plugin->GetFrameDelay)(h->decoder, frame) : 0;
    }
    return 0;
}

const char *GetAnimFormatName(lvAnimHandle *h)
{
    switch (h->kind) {
    case LV_ANIM_GIF:
        return "GIF ANIM";
    case LV_ANIM_AVI:
        return "AVI MJPEG";
    case LV_ANIM_IFF:
        return "IFF ANIM";
    case LV_ANIM_NATIVE:
        return GetNativeFormatName();
    case LV_ANIM_PLUGIN:
        if (h->plugin->GetAnimFormat)
            if (const char *name = ((lvGetAnimFormatFunction)h->plugin->GetAnimFormat)(h->decoder)) return name;
        return "Unknown";
    }
    return "Unknown";
}

int IsAnimFile(const char *path, const char *loaderList, const char *adapter, const void *userTags)
{
    lvAnimHandle *h = nullptr;
    int frames = 0;
    if (OpenAnimHandle(path, loaderList, adapter, userTags, 0, 0, 0, &h, nullptr, nullptr, &frames, nullptr, nullptr,
                       nullptr))
        return 0;
    int yes = !(h->kind == LV_ANIM_GIF && frames <= 1);
    ReleaseAnimHandle(h);
    return yes;
}

int IsIffAnimHandle(lvAnimHandle *h) { return h && h->kind == LV_ANIM_IFF; }
