// native.cpp - the native decoder: TIFF pages through libtiff's client interface over
// the virtual file layer, WebP stills and animations through libwebp and libwebpdemux.
// Indexed and grey pictures can come out as pens (grey ramps for grey ones); everything
// else as straight-alpha ARGB words.
//
// Dependencies: runtime/vfile.h, runtime/modules.h, libtiff 4.5 (per-handle error
// handlers), libwebp, libwebpdemux (all three opened at the first such file), png.cpp
// (MakeGreyRamp).
// Limits: a TIFF whose pens are wanted must be stored in strips; a page of another size
// than the first is refused.
#include "formats/lvnative.h"
#include "formats/formats_internal.h"
#include "runtime/modules.h"
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <dlfcn.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/demux.h>

namespace {
enum { NATIVE_TIFF = 1, NATIVE_WEBP = 2 };
constexpr size_t kMaxWebpBytes = size_t(256) << 20;
}  // namespace

// libtiff, libwebp and libwebpdemux are opened at the first TIFF or WebP file, so that
// runs which load no such picture never map them (and libtiff's codecs: JBIG, LERC,
// libdeflate). Without them the file does not decode; the loader answers its error.
namespace {

template <typename F>
bool Bind(void *handle, const char *name, F *slot)
{
    *slot = handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    return *slot != nullptr;
}

#define LV_TIFF_FUNCTIONS(X) \
    X(TIFFClientOpenExt) \
    X(TIFFClose) \
    X(TIFFGetField) \
    X(TIFFGetFieldDefaulted) \
    X(TIFFIsTiled) \
    X(TIFFNumberOfDirectories) \
    X(TIFFOpenOptionsAlloc) \
    X(TIFFOpenOptionsFree) \
    X(TIFFOpenOptionsSetErrorHandlerExtR) \
    X(TIFFOpenOptionsSetMaxSingleMemAlloc) \
    X(TIFFOpenOptionsSetWarningHandlerExtR) \
    X(TIFFReadRGBAImageOriented) \
    X(TIFFReadScanline) \
    X(TIFFScanlineSize) \
    X(TIFFSetDirectory)
#define LV_WEBP_FUNCTIONS(X) \
    X(WebPDecodeBGRAInto) \
    X(WebPGetFeaturesInternal)
#define LV_WEBPDEMUX_FUNCTIONS(X) \
    X(WebPAnimDecoderDelete) \
    X(WebPAnimDecoderGetNext) \
    X(WebPAnimDecoderNewInternal) \
    X(WebPAnimDecoderOptionsInitInternal) \
    X(WebPAnimDecoderReset) \
    X(WebPDemuxInternal) \
    X(WebPDemuxDelete) \
    X(WebPDemuxGetI)
#define LV_FIELD(f) decltype(&::f) f;

struct TiffLibrary {
    bool ready;
    LV_TIFF_FUNCTIONS(LV_FIELD)
};

struct WebpLibrary {
    bool ready;
    LV_WEBP_FUNCTIONS(LV_FIELD)
    LV_WEBPDEMUX_FUNCTIONS(LV_FIELD)
};
#undef LV_FIELD

TiffLibrary tiffLib;
WebpLibrary webpLib;

void BindTiffLibrary()
{
    void *h = OpenSystemLibrary("libtiff.so.6", "TIFF pictures");
    TiffLibrary t = {};
    bool ok = h != nullptr;
#define LV_BIND(f) ok = ok && Bind(h, #f, &t.f);
    LV_TIFF_FUNCTIONS(LV_BIND)
#undef LV_BIND
    if (h && !ok) fprintf(stderr, "lumivarra: libtiff.so.6 (TIFF pictures) lacks a function this runtime calls\n");
    t.ready = ok;
    tiffLib = t;
}

void BindWebpLibrary()
{
    void *h = OpenSystemLibrary("libwebp.so.7", "WebP pictures");
    void *d = h ? OpenSystemLibrary("libwebpdemux.so.2", "WebP pictures") : nullptr;
    WebpLibrary t = {};
    bool ok = h && d;
#define LV_BIND(f) ok = ok && Bind(h, #f, &t.f);
#define LV_BIND_DEMUX(f) ok = ok && Bind(d, #f, &t.f);
    LV_WEBP_FUNCTIONS(LV_BIND)
    LV_WEBPDEMUX_FUNCTIONS(LV_BIND_DEMUX)
#undef LV_BIND
#undef LV_BIND_DEMUX
    if (h && d && !ok) fprintf(stderr, "lumivarra: libwebp (WebP pictures) lacks a function this runtime calls\n");
    t.ready = ok;
    webpLib = t;
}

// The libraries of TIFF (tiff true) or WebP, bound once.
bool OpenNativeLibrary(bool tiff)
{
    static std::once_flag tiffOnce, webpOnce;
    std::call_once(tiff ? tiffOnce : webpOnce, tiff ? BindTiffLibrary : BindWebpLibrary);
    return tiff ? tiffLib.ready : webpLib.ready;
}

}  // namespace

struct lvNativeDecoder {
    int kind;
    lvVFile *file;
    TIFF *tiff;
    uint8_t *data;            // WebP: the whole file
    size_t size;
    WebPAnimDecoder *anim;    // animated WebP
    int animNext;             // frame number GetNext gives next
    int lastTimestamp;        // of the frame before animNext
    int width, height, depth, alpha, penKind, frames;
    uint32_t flags;
    int64_t key;              // transparent colour or -1
};

// ============================================================================
// libtiff over the virtual file layer
// ============================================================================

static tmsize_t TiffRead(thandle_t h, void *buffer, tmsize_t size) { return (tmsize_t)ReadVFile((lvVFile *)h, buffer, size); }
static tmsize_t TiffWrite(thandle_t, void *, tmsize_t) { return -1; }
static toff_t TiffSeek(thandle_t h, toff_t offset, int whence)
{
    lvVFile *f = (lvVFile *)h;
    int origin = whence == SEEK_SET ? 1 : whence == SEEK_CUR ? 0 : 2;
    if (SeekVFile(f, (int64_t)offset, origin) < 0) return (toff_t)-1;
    return (toff_t)SeekVFile(f, 0, 0);
}
static int TiffClose(thandle_t) { return 0; }
static toff_t TiffSize(thandle_t h) { return (toff_t)GetVFileSize((lvVFile *)h); }
static int TiffMap(thandle_t, void **, toff_t *) { return 0; }
static void TiffUnmap(thandle_t, void *, toff_t) {}
// A damaged file is a failed decode, not console output.
static int TiffQuiet(TIFF *, void *, const char *, const char *, va_list) { return 1; }

static TIFF *OpenTiff(lvVFile *file)
{
    TIFFOpenOptions *options = tiffLib.TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    tiffLib.TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
    tiffLib.TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
    tiffLib.TIFFOpenOptionsSetMaxSingleMemAlloc(options, (tmsize_t)LV_MAX_IMAGE_PIXELS * 4);
    SeekVFile(file, 0, 1);
    TIFF *tiff = tiffLib.TIFFClientOpenExt("picture", "rm", (thandle_t)file, TiffRead, TiffWrite, TiffSeek, TiffClose,
                                   TiffSize, TiffMap, TiffUnmap, options);
    tiffLib.TIFFOpenOptionsFree(options);
    return tiff;
}

namespace {
struct TiffPage {
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, extraCount = 0;
    uint16_t *extra = nullptr;
    bool penKind = false, grey = false, alpha = false;
};
}  // namespace

static bool ReadTiffPage(TIFF *tiff, TiffPage *p)
{
    if (!tiffLib.TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &p->width) || !tiffLib.TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &p->height))
        return false;
    tiffLib.TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &p->bits);
    tiffLib.TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &p->samples);
    tiffLib.TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &p->planar);
    if (!tiffLib.TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &p->photometric)) p->photometric = PHOTOMETRIC_MINISWHITE;
    tiffLib.TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &p->extraCount, &p->extra);
    bool smallBits = p->bits == 1 || p->bits == 2 || p->bits == 4 || p->bits == 8;
    p->grey = p->samples == 1 && smallBits &&
              (p->photometric == PHOTOMETRIC_MINISBLACK || p->photometric == PHOTOMETRIC_MINISWHITE);
    p->penKind = p->grey || (p->samples == 1 && smallBits && p->photometric == PHOTOMETRIC_PALETTE);
    p->alpha = p->extraCount > 0 && p->extra &&
               (p->extra[0] == EXTRASAMPLE_ASSOCALPHA || p->extra[0] == EXTRASAMPLE_UNASSALPHA);
    return ImagePixelsFit(p->width, p->height);
}

// The page's palette (pen pictures), 0x00RRGGBB.
static bool TiffPalette(TIFF *tiff, const TiffPage &p, uint32_t *palette)
{
    int count = 1 << p.bits;
    std::memset(palette, 0, 1024);
    if (p.grey) {
        MakeGreyRamp(palette, count);
        return true;
    }
    uint16_t *r, *g, *b;
    if (!tiffLib.TIFFGetField(tiff, TIFFTAG_COLORMAP, &r, &g, &b)) return false;
    // Old writers stored 8-bit maps; every entry below 256 tells them apart.
    bool eightBit = true;
    for (int i = 0; i < count && eightBit; i++) eightBit = r[i] < 256 && g[i] < 256 && b[i] < 256;
    int shift = eightBit ? 0 : 8;
    for (int i = 0; i < count; i++)
        palette[i] = (uint32_t)(r[i] >> shift) << 16 | (uint32_t)(g[i] >> shift) << 8 | (uint32_t)(b[i] >> shift);
    return true;
}

// Strip rows unpacked to one pen a pixel (most significant bits first).
static bool TiffPens(TIFF *tiff, const TiffPage &p, uint8_t *pens)
{
    if (tiffLib.TIFFIsTiled(tiff) || p.planar != PLANARCONFIG_CONTIG) return false;
    tmsize_t lineBytes = tiffLib.TIFFScanlineSize(tiff);
    if (lineBytes <= 0 || (uint64_t)lineBytes * 8 < (uint64_t)p.width * p.bits) return false;
    lvMemPtr<uint8_t> line = AllocBlock<uint8_t>((size_t)lineBytes, 1);
    if (!line) return false;
    int bits = p.bits, mask = (1 << bits) - 1, perByte = 8 / bits;
    bool invert = p.photometric == PHOTOMETRIC_MINISWHITE;
    for (uint32_t y = 0; y < p.height; y++) {
        if (tiffLib.TIFFReadScanline(tiff, line.get(), y, 0) < 0) return false;
        uint8_t *out = pens + (size_t)y * p.width;
        const uint8_t *in = line.get();
        for (uint32_t x = 0; x < p.width; x++) {
            int v = bits == 8 ? in[x] : (in[x / perByte] >> (8 - bits * (int)(x % perByte + 1))) & mask;
            out[x] = (uint8_t)(invert ? mask - v : v);
        }
    }
    return true;
}

// True-colour pages as straight-alpha ARGB words.
static bool TiffArgb(TIFF *tiff, const TiffPage &p, uint32_t *argb)
{
    size_t count = (size_t)p.width * p.height;
    if (!tiffLib.TIFFIsTiled(tiff) && p.planar == PLANARCONFIG_CONTIG && p.bits == 8 && p.photometric == PHOTOMETRIC_RGB &&
        (p.samples == 3 || p.samples == 4)) {
        tmsize_t lineBytes = tiffLib.TIFFScanlineSize(tiff);
        if (lineBytes < (tmsize_t)p.width * p.samples) return false;
        lvMemPtr<uint8_t> line = AllocBlock<uint8_t>((size_t)lineBytes, 1);
        if (!line) return false;
        bool associated = p.samples == 4 && p.extra && p.extraCount && p.extra[0] == EXTRASAMPLE_ASSOCALPHA;
        for (uint32_t y = 0; y < p.height; y++) {
            if (tiffLib.TIFFReadScanline(tiff, line.get(), y, 0) < 0) return false;
            uint32_t *out = argb + (size_t)y * p.width;
            for (uint32_t x = 0; x < p.width; x++) {
                const uint8_t *s = line.get() + x * p.samples;
                uint32_t a = p.samples == 4 ? s[3] : 255, r = s[0], g = s[1], b = s[2];
                if (associated && a && a < 255)
                    r = std::min(255u, r * 255 / a), g = std::min(255u, g * 255 / a), b = std::min(255u, b * 255 / a);
                out[x] = a << 24 | r << 16 | g << 8 | b;
            }
        }
        return true;
    }
    // Everything else through libtiff's RGBA interface, which premultiplies.
    lvMemPtr<uint32_t> raster = AllocBlock<uint32_t>(count * 4, 0);
    if (!raster || !tiffLib.TIFFReadRGBAImageOriented(tiff, p.width, p.height, raster.get(), ORIENTATION_TOPLEFT, 0))
        return false;
    for (size_t i = 0; i < count; i++) {
        uint32_t v = raster.get()[i];
        uint32_t r = TIFFGetR(v), g = TIFFGetG(v), b = TIFFGetB(v), a = TIFFGetA(v);
        if (a && a < 255) r = std::min(255u, r * 255 / a), g = std::min(255u, g * 255 / a), b = std::min(255u, b * 255 / a);
        argb[i] = a << 24 | r << 16 | g << 8 | b;
    }
    return true;
}

// ============================================================================
// Opening
// ============================================================================

static uint8_t *ReadWholeFile(lvVFile *file, size_t *size)
{
    SeekVFile(file, 0, 1);
    int64_t known = GetVFileSize(file);
    size_t capacity = known > 0 ? (size_t)std::min<int64_t>(known, (int64_t)kMaxWebpBytes) : 1 << 16, used = 0;
    uint8_t *data = (uint8_t *)AllocMemory(capacity, 0);
    while (data) {
        if (used == capacity) {
            if (capacity >= kMaxWebpBytes) break;
            size_t grown = std::min(capacity * 2, kMaxWebpBytes);
            uint8_t *bigger = (uint8_t *)AllocMemory(grown, 0);
            if (bigger) std::memcpy(bigger, data, used);
            FreeMemory(data);
            data = bigger, capacity = grown;
            continue;
        }
        int64_t n = ReadVFile(file, data + used, (int64_t)(capacity - used));
        if (n <= 0) break;
        used += (size_t)n;
    }
    *size = used;
    return data;
}

void CloseNativeDecoder(lvNativeDecoder *d)
{
    if (!d) return;
    if (d->tiff) tiffLib.TIFFClose(d->tiff);
    if (d->anim) webpLib.WebPAnimDecoderDelete(d->anim);
    FreeMemory(d->data);
    FreeMemory(d);
}

lvNativeDecoder *OpenNativeDecoder(lvVFile *file, uint32_t flags, int64_t transparentColor, int *width,
                                   int *height, int *depth, int *hasAlpha, int *penKind, int *frameCount)
{
    uint8_t magic[16] = {};
    SeekVFile(file, 0, 1);
    if (ReadVFile(file, magic, 16) < 12) return nullptr;
    bool tiff = (magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0) ||
                (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43));
    bool webp = std::memcmp(magic, "RIFF", 4) == 0 && std::memcmp(magic + 8, "WEBP", 4) == 0;
    if (!tiff && !webp) return nullptr;
    if (!OpenNativeLibrary(tiff)) return nullptr;
    auto *d = (lvNativeDecoder *)AllocMemory(sizeof(lvNativeDecoder), 1);
    if (!d) return nullptr;
    d->file = file, d->flags = flags, d->key = transparentColor;
    bool ok = false;
    if (tiff) {
        d->kind = NATIVE_TIFF;
        TiffPage page;
        if ((d->tiff = OpenTiff(file)) && ReadTiffPage(d->tiff, &page)) {
            d->width = (int)page.width, d->height = (int)page.height;
            d->penKind = page.penKind, d->alpha = page.alpha;
            d->depth = page.penKind ? page.bits : page.alpha ? 32 : 24;
            d->frames = tiffLib.TIFFNumberOfDirectories(d->tiff);
            ok = d->frames >= 1;
        }
    } else {
        d->kind = NATIVE_WEBP;
        d->data = ReadWholeFile(file, &d->size);
        WebPBitstreamFeatures features;
        if (d->data && webpLib.WebPGetFeaturesInternal(d->data, d->size, &features, WEBP_DECODER_ABI_VERSION) == VP8_STATUS_OK) {
            WebPData whole = {d->data, d->size};
            if (WebPDemuxer *demux = webpLib.WebPDemuxInternal(&whole, 0, nullptr, WEBP_DEMUX_ABI_VERSION)) {
                d->width = (int)webpLib.WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH);
                d->height = (int)webpLib.WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT);
                d->frames = (int)webpLib.WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT);
                webpLib.WebPDemuxDelete(demux);
                d->alpha = features.has_alpha;
                d->depth = d->alpha ? 32 : 24;
                ok = d->frames >= 1 && ImagePixelsFit(d->width, d->height);
            }
        }
    }
    if (!ok) {
        CloseNativeDecoder(d);
        return nullptr;
    }
    if (width) *width = d->width;
    if (height) *height = d->height;
    if (depth) *depth = d->depth;
    if (hasAlpha) *hasAlpha = d->alpha;
    if (penKind) *penKind = d->penKind;
    if (frameCount) *frameCount = d->frames;
    return d;
}

// ============================================================================
// Frames
// ============================================================================

static uint8_t *DecodeTiffPage(lvNativeDecoder *d, int index, uint32_t *palette, int *depth, int *transparentPen)
{
    if (!tiffLib.TIFFSetDirectory(d->tiff, (tdir_t)index)) return nullptr;
    TiffPage p;
    if (!ReadTiffPage(d->tiff, &p) || (int)p.width != d->width || (int)p.height != d->height) return nullptr;
    size_t count = (size_t)p.width * p.height;
    bool pens = d->flags & LV_IMGLOAD_PALETTE;
    bool transparency = d->flags & LV_IMGLOAD_TRANSPEN;
    *depth = p.penKind ? p.bits : p.alpha ? 32 : 24;
    if (pens && !p.penKind) return nullptr;
    if (!p.penKind) {
        lvMemPtr<uint32_t> argb = AllocBlock<uint32_t>(count * 4, 0);
        if (!argb || !TiffArgb(d->tiff, p, argb.get())) return nullptr;
        *transparentPen = p.alpha && transparency ? -2 : -1;
        return (uint8_t *)argb.release();
    }
    if (!TiffPalette(d->tiff, p, palette)) return nullptr;
    // The caller's colour marks the transparent entry; a second such entry is ambiguous.
    int keyPen = -1;
    if (transparency && d->key >= 0 && !p.grey) {
        for (int i = 0; i < 1 << p.bits; i++)
            if (palette[i] == ((uint32_t)d->key & 0xFFFFFF)) {
                if (keyPen >= 0) return nullptr;
                keyPen = i;
            }
    }
    if (d->flags & LV_IMGLOAD_PALETTEONLY) {
        *transparentPen = keyPen;
        return nullptr;
    }
    lvMemPtr<uint8_t> penBuffer = AllocBlock<uint8_t>(count, 0);
    if (!penBuffer || !TiffPens(d->tiff, p, penBuffer.get())) {
        if (pens) return nullptr;
        // Tiled or separated pen pictures still load as colours.
        lvMemPtr<uint32_t> argb = AllocBlock<uint32_t>(count * 4, 0);
        if (!argb || !TiffArgb(d->tiff, p, argb.get())) return nullptr;
        *transparentPen = -1;
        return (uint8_t *)argb.release();
    }
    if (pens) {
        *transparentPen = keyPen;
        return penBuffer.release();
    }
    lvMemPtr<uint32_t> argb = AllocBlock<uint32_t>(count * 4, 0);
    if (!argb) return nullptr;
    for (size_t i = 0; i < count; i++) {
        int pen = penBuffer.get()[i];
        argb.get()[i] = pen == keyPen ? palette[pen] : 0xFF000000u | palette[pen];
    }
    *transparentPen = keyPen >= 0 ? -2 : -1;
    return (uint8_t *)argb.release();
}

static uint8_t *DecodeWebpFrame(lvNativeDecoder *d, int index, int *transparentPen, int *delay)
{
    if (d->flags & LV_IMGLOAD_PALETTE) return nullptr;
    size_t bytes = (size_t)d->width * d->height * 4;
    *transparentPen = d->alpha && (d->flags & LV_IMGLOAD_TRANSPEN) ? -2 : -1;
    if (d->frames == 1) {
        lvMemPtr<uint8_t> out = AllocBlock<uint8_t>(bytes, 0);
        if (!out || !webpLib.WebPDecodeBGRAInto(d->data, d->size, out.get(), bytes, d->width * 4)) return nullptr;
        if (!d->alpha)
            for (size_t i = 3; i < bytes; i += 4) out.get()[i] = 0xFF;
        return out.release();
    }
    if (!d->anim) {
        WebPAnimDecoderOptions options;
        if (!webpLib.WebPAnimDecoderOptionsInitInternal(&options, WEBP_DEMUX_ABI_VERSION)) return nullptr;
        options.color_mode = MODE_BGRA;
        options.use_threads = 0;
        WebPData whole = {d->data, d->size};
        if (!(d->anim = webpLib.WebPAnimDecoderNewInternal(&whole, &options, WEBP_DEMUX_ABI_VERSION))) return nullptr;
        d->animNext = 0, d->lastTimestamp = 0;
    }
    if (index < d->animNext) {
        webpLib.WebPAnimDecoderReset(d->anim);
        d->animNext = 0, d->lastTimestamp = 0;
    }
    uint8_t *canvas = nullptr;
    int timestamp = 0;
    while (d->animNext <= index) {
        if (!webpLib.WebPAnimDecoderGetNext(d->anim, &canvas, &timestamp)) {
            webpLib.WebPAnimDecoderReset(d->anim);
            d->animNext = 0, d->lastTimestamp = 0;
            return nullptr;
        }
        if (d->animNext == index) *delay = timestamp - d->lastTimestamp;
        d->lastTimestamp = timestamp;
        d->animNext++;
    }
    uint8_t *out = (uint8_t *)AllocMemory(bytes, 0);
    if (out) std::memcpy(out, canvas, bytes);
    return out;
}

uint8_t *DecodeNativeFrame(lvNativeDecoder *d, int index, uint32_t **palette, int *depth, int *transparentPen,
                           int *delay, const char **formatName)
{
    int pen = -1, bits = d ? d->depth : 0, ms = 0;
    if (palette) *palette = nullptr;
    if (!d || index < 0 || index >= d->frames) return nullptr;
    if (formatName) *formatName = d->kind == NATIVE_TIFF ? "TIFF" : "WebP";
    uint32_t table[256] = {};
    uint8_t *pixels = d->kind == NATIVE_TIFF ? DecodeTiffPage(d, index, table, &bits, &pen)
                                             : DecodeWebpFrame(d, index, &pen, &ms);
    bool attributesOnly = d->flags & LV_IMGLOAD_PALETTEONLY;
    if (!pixels && !attributesOnly) return nullptr;
    if (depth) *depth = bits;
    if (transparentPen) *transparentPen = pen;
    if (delay) *delay = ms;
    if (palette && d->kind == NATIVE_TIFF && bits <= 8 && (d->flags & (LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_PALETTEONLY))) {
        *palette = (uint32_t *)AllocMemory(1024, 0);
        if (*palette) std::memcpy(*palette, table, 1024);
    }
    return pixels;
}

// ============================================================================
// Loader and anim entries
// ============================================================================

int LoadNativeImage(lvVFile *file, uint32_t flags, int64_t transparentColor, uint8_t **pixels, uint32_t **palette,
                    int *transparentPen, int *width, int *height, int *depth, int *hasAlpha, const char **formatName)
{
    *pixels = nullptr;
    *palette = nullptr;
    *transparentPen = -1;
    int penKind = 0, frames = 0;
    lvNativeDecoder *d = OpenNativeDecoder(file, flags, transparentColor, width, height, depth, hasAlpha, &penKind,
                                           &frames);
    if (!d) return ERR_LOADPICTURE2;
    *formatName = d->kind == NATIVE_TIFF ? "TIFF" : "WebP";
    if (flags & LV_IMGLOAD_SIZEONLY) {
        CloseNativeDecoder(d);
        return 0;
    }
    if ((flags & LV_IMGLOAD_PALETTE) && !penKind) {
        CloseNativeDecoder(d);
        return ERR_NOPALETTE;
    }
    int delay = 0;
    *pixels = DecodeNativeFrame(d, 0, palette, depth, transparentPen, &delay, nullptr);
    CloseNativeDecoder(d);
    if (*transparentPen == -2) *hasAlpha = 1;
    if (!*pixels && !(flags & LV_IMGLOAD_PALETTEONLY)) {
        FreeMemory(*palette);
        *palette = nullptr;
        return ERR_LOADPICTURE2;
    }
    return 0;
}

struct lvNativeAnim {
    lvNativeDecoder *decoder;
    int *delays;
};

lvNativeAnim *OpenNativeAnim(lvVFile *file, int pensWanted, int transparencyWanted, int *width, int *height,
                             int *frameCount, int *hasAlpha)
{
    uint32_t flags = (pensWanted ? LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE : 0) |
                     (transparencyWanted ? LV_IMGLOAD_TRANSPEN : 0);
    int depth, penKind, frames = 0;
    lvNativeDecoder *d = OpenNativeDecoder(file, flags, -1, width, height, &depth, hasAlpha, &penKind, &frames);
    if (!d || frames < 2) {
        CloseNativeDecoder(d);
        return nullptr;
    }
    auto *anim = (lvNativeAnim *)AllocMemory(sizeof(lvNativeAnim), 1);
    if (anim) anim->delays = (int *)AllocMemory(sizeof(int) * (size_t)frames, 1);
    if (!anim || !anim->delays) {
        FreeMemory(anim);
        CloseNativeDecoder(d);
        return nullptr;
    }
    anim->decoder = d;
    *frameCount = frames;
    return anim;
}

uint8_t *LoadNativeAnimFrame(lvNativeAnim *anim, int index, uint32_t **palette, int *depth, int *transparentPen)
{
    if (!anim) return nullptr;
    int delay = 0;
    uint8_t *pixels = DecodeNativeFrame(anim->decoder, index, palette, depth, transparentPen, &delay, nullptr);
    if (pixels) anim->delays[index] = delay;
    return pixels;
}

int GetNativeAnimDelay(const lvNativeAnim *anim, int index)
{
    if (!anim || index < 0 || index >= anim->decoder->frames) return 0;
    return anim->delays[index];
}

void CloseNativeAnim(lvNativeAnim *anim)
{
    if (!anim) return;
    CloseNativeDecoder(anim->decoder);
    FreeMemory(anim->delays);
    FreeMemory(anim);
}

const char *GetNativeFormatName(void) { return "Windows Imaging Component"; }
