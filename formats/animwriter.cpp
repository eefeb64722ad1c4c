// animwriter.cpp - the anim writer: the first frame opens the format's writer; frames are
// turned into what the format takes and handed over with their delay.
#include "formats/lvanimwriter.h"
#include "formats/lvgif.h"
#include "formats/lviffanim.h"
#include "formats/lvsavers.h"
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include "raster/lvimage.h"
#include "runtime/lists.h"
#include "runtime/lvplugin.h"
#include "runtime/plugin.h"
#include <cstdio>
#include <cstring>

struct lvAnimWriter {
    void *writer = nullptr;  // lvGifWriter, lvAviWriter, lvIffAnimWriter or the plug-in's stream
    char path[1024] = {};
    char adapter[256] = {};
    int format = 0, saverIndex = 0;
    int width = 0, height = 0, quality = 0, fps = 0;
    int paletteFrames = 0;
    lvPluginRecord *saver = nullptr;
    lvUserTag *userTags = nullptr;
    int frames = 0;
    lvAviLimits limits;
    int firstError = 0;
};

int BeginAnimWriter(const char *path, const char *adapter, const lvUserTag *userTags, int format, int width,
                    int height, int quality, int fps, lvAnimWriter **out, const lvAviLimits *limits)
{
    *out = nullptr;
    lvPluginRecord *saver = nullptr;
    int index = 0;
    if (format > ANMFMT_IFF || format < 0) {
        saver = FindSaverPlugin(format, PLUGINCAPS_SAVEANIM, &index);
        if (!saver) return ERR_UNKNOWNANMOUT;
    }
    lvAnimWriter *w = new (std::nothrow) lvAnimWriter;
    if (!w) return ERR_MEM;
    int failed = 0;
    w->userTags = CopyUserTags(userTags, &failed);
    if (failed) {
        delete w;
        return ERR_MEM;
    }
    std::snprintf(w->path, sizeof w->path, "%s", path ? path : "");
    std::snprintf(w->adapter, sizeof w->adapter, "%s", adapter ? adapter : "");
    w->format = format, w->saver = saver, w->saverIndex = index;
    w->width = width, w->height = height, w->quality = quality, w->fps = fps;
    if (limits) w->limits = *limits;
    *out = w;
    return 0;
}

static uint32_t SaverFlags(const lvAnimWriter *w) { return w->saver->animSavers[w->saverIndex].flags; }

static int OpenFormatWriter(lvAnimWriter *w, bool paletteFrame)
{
    const char *adapter = w->adapter[0] ? w->adapter : nullptr;
    switch (w->format) {
    case ANMFMT_GIF:
        return OpenGifWriter(w->path, adapter, w->userTags, w->width, w->height, (lvGifWriter **)&w->writer);
    case ANMFMT_MJPEG: {
        const char *name = std::strrchr(w->path, '/');
        return OpenAviWriter(w->path, adapter, w->userTags, w->fps, w->width, w->height, w->quality,
                             name ? name + 1 : w->path, (lvAviWriter **)&w->writer, &w->limits);
    }
    case ANMFMT_IFF:
        return OpenIffAnimWriter(w->path, adapter, w->userTags, w->width, w->height, (lvIffAnimWriter **)&w->writer);
    }
    uint32_t flags = SaverFlags(w);
    w->paletteFrames = (paletteFrame && (flags & LVP_SAVER_PALETTE)) || !(flags & LVP_SAVER_TRUECOLOR);
    if (w->saver->BeginAnimStreamExt) {
        lvPluginTag tags[4] = {};
        int n = 0;
        tags[n++] = {LVP_ANIMSTREAM_FORMAT, (intptr_t)w->format};
        if (adapter) tags[n++] = {LVP_ANIMSTREAM_ADAPTER, (intptr_t)adapter};
        if (w->userTags) tags[n++] = {LVP_ANIMSTREAM_USERTAGS, (intptr_t)w->userTags};
        w->writer = ((lvBeginAnimStreamExtFunction)w->saver->BeginAnimStreamExt)(
            w->path, w->width, w->height, w->paletteFrames, w->quality, w->fps, tags);
    } else if (w->saver->BeginAnimStream) {
        w->writer = ((lvBeginAnimStreamFunction)w->saver->BeginAnimStream)(w->path, w->width, w->height,
                                                                          w->paletteFrames, w->quality, w->fps);
    }
    return w->writer ? 0 : ERR_SAVEANIM;
}

int AppendAnimFrame(lvAnimWriter *w, lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                    lvBitMapHandle *paletteBitmap, const uint32_t *palette, int paletteDepth, int depth,
                    int transparentPen, int delay, int dither, int64_t fillColour, int optimise)
{
    if (!rgb && !paletteBitmap) return ERR_WRONGUSAGE;
    if (w->firstError) return w->firstError;
    bool paletteFrame = paletteBitmap != nullptr;
    if (!w->writer)
        if (int code = OpenFormatWriter(w, paletteFrame)) return code;
    if (paletteFrame) depth = paletteDepth;
    else transparentPen = -1;
    bool palettes = w->format == ANMFMT_GIF || w->format == ANMFMT_IFF || (w->saver && w->paletteFrames);

    // Temporaries of this frame, freed whatever happens.
    struct Frame {
        lvBitMapHandle *pens = nullptr;
        uint32_t palette[256] = {};
        lvMemPtr<uint32_t> argb;
        ~Frame() { FreeBitmapHandle(pens); }
    } f;
    lvBitMapHandle *pens = paletteBitmap;
    const uint32_t *colours = palette;
    int pen = transparentPen;
    if (palettes && !paletteFrame) {
        if (depth < 1 || depth > 8) return ERR_WRONGUSAGE;
        bool roomForKey = w->format == ANMFMT_GIF && optimise && !mask && !alpha;
        if (!roomForKey) optimise = 0;
        int count = (1 << depth) - (roomForKey ? 1 : 0);
        if (int code = GetSaverPaletteMaker()(rgb, mask, alpha, w->width, w->height, count < 1 ? 1 : count, dither,
                                              &f.pens, f.palette, &pen))
            return code;
        pens = f.pens, colours = f.palette;
    } else if (paletteFrame) {
        optimise = 0;
    }
    bool hasAlpha = false;
    if (!palettes) {
        f.argb.reset(ExtractArgbPixels(rgb, 0, 0, w->width, w->height, mask, alpha, paletteBitmap, palette,
                                       transparentPen, fillColour, 0));
        if (!f.argb) return ERR_MEM;
        hasAlpha = mask || alpha || transparentPen >= 0;
    }

    int code = 0;
    switch (w->format) {
    case ANMFMT_GIF:
        code = WriteGifFrame((lvGifWriter *)w->writer, pens, delay, colours, depth, pen, optimise, 1);
        break;
    case ANMFMT_MJPEG:
        code = WriteAviFrame((lvAviWriter *)w->writer, f.argb.get(), w->width, w->height);
        break;
    case ANMFMT_IFF:
        code = WriteIffAnimFrame((lvIffAnimWriter *)w->writer, pens, delay, colours, depth, pen);
        break;
    default: {
        if (hasAlpha && !(SaverFlags(w) & LVP_SAVER_ALPHA)) return ERR_SAVERALPHA;
        lvAnimFrameWriteCtrl ctrl = {};
        uintptr_t token = 0;
        if (palettes) {
            uint8_t *bytes = nullptr;
            int rowBytes = 0;
            token = GetPlanePixels(pens, &bytes, &rowBytes, 0);
            if (!token) return ERR_LOCKBMAP;
            ctrl.pixels = bytes, ctrl.bytesPerRow = rowBytes, ctrl.palette = colours;
            ctrl.colourCount = 1 << depth;
            if (pen != -1) ctrl.transparentPen = pen, ctrl.flags |= LVP_ANIMFRAME_PEN;
        } else {
            ctrl.pixels = f.argb.get(), ctrl.bytesPerRow = w->width * 4;
            if (hasAlpha) ctrl.flags |= LVP_ANIMFRAME_ALPHA;
        }
        ctrl.delay = delay;
        ctrl.formatWord = w->format;
        int written = w->saver->WriteAnimFrame ? ((lvWriteAnimFrameFunction)w->saver->WriteAnimFrame)(w->writer, &ctrl)
                                               : 0;
        if (token) ReleasePlanePixels(token);
        code = written ? 0 : ERR_SAVEANIM;
    }
    }
    if (code) {
        // A writer that failed to write keeps its file incomplete: later frames and the
        // finish report the same failure. Usage errors leave it usable.
        if (code != ERR_WRONGUSAGE && code != ERR_SAVERALPHA) w->firstError = code;
        return code;
    }
    w->frames++;
    return 0;
}

int FinishAnimWriter(lvAnimWriter *w)
{
    int code = 0;
    if (w->writer) {
        switch (w->format) {
        case ANMFMT_GIF:
            code = CloseGifWriter((lvGifWriter *)w->writer);
            break;
        case ANMFMT_MJPEG:
            code = FinishAviWriter((lvAviWriter *)w->writer);
            break;
        case ANMFMT_IFF:
            code = FinishIffAnimWriter((lvIffAnimWriter *)w->writer);
            break;
        default:
            if (w->saver->FinishAnimStream && !((lvFinishAnimStreamFunction)w->saver->FinishAnimStream)(w->writer))
                code = ERR_SAVEANIM;
        }
    }
    if (w->firstError) code = w->firstError;
    FreeUserTags(w->userTags, 0);
    delete w;
    return code;
}

int GetAnimWriterFrameCount(const lvAnimWriter *w) { return w->frames; }
