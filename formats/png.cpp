// png.cpp - PNG reading and writing over libpng 1.6: the I/O and error callbacks, the
// transformations asked of libpng, and how rows become 0xAARRGGBB words or 8-bit pens.
//
// libpng recovers by longjmp: the functions that arm png_jmpbuf keep every value that
// must survive a jump in a state record reached through a pointer, and hold no C++
// object with a destructor; no exception crosses libpng.
// Dependencies: libpng, runtime/vfile.h, raster/lvbitmap.h (pen planes).
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include <csetjmp>
#include <cstring>
#include <png.h>

static void PngErrorCallback(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
// libpng only warns when a chunk is longer than the chunk limit, then allocates for it
// and reads on: such a chunk ends the read.
static void PngWarningCallback(png_structp png, png_const_charp message)
{
    if (message && std::strstr(message, "chunk data is too large")) png_longjmp(png, 1);
}

void MakeGreyRamp(uint32_t *entries, int count)
{
    for (int i = 0; i < count; i++) {
        uint32_t level = count > 1 ? 255u * i / (count - 1) : 0;
        entries[i] = level << 16 | level << 8 | level;
    }
}

// ============================================================================
// Reading
// ============================================================================

// libpng's own defaults where it is built with limits: 8 MB for one ancillary chunk
// (the largest colour profiles are a few hundred KB) and 1000 kept ancillary chunks.
static const png_alloc_size_t kPngChunkMax = 8000000;
static const png_uint_32 kPngChunkCacheMax = 1000;

// What a read keeps across libpng's jumps.
struct lvPngRead {
    lvVFile *file;
    uint32_t flags;
    png_structp png;
    png_infop info, endInfo;
    uint8_t *pixels;      // result, AllocMemory
    uint32_t *palette;    // 256 words, AllocMemory
    uint8_t *rows;        // true-colour samples before their conversion, AllocMemory
    int width, height, depth, transparentPen, hasAlpha;
};

static void PngReadCallback(png_structp png, png_bytep data, size_t length)
{
    lvVFile *file = (lvVFile *)png_get_io_ptr(png);
    if (ReadVFile(file, data, (int64_t)length) != (int64_t)length) png_error(png, "Read error!");
}

// The read proper; every libpng error comes back here as 1358.
static int ReadPngArmed(lvPngRead *s)
{
    if (setjmp(png_jmpbuf(s->png))) return ERR_LOADPICTURE2;
    png_structp png = s->png;
    png_infop info = s->info;
    png_set_read_fn(png, s->file, PngReadCallback);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(png, info, &w, &h, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    s->width = (int)w, s->height = (int)h;
    s->depth = colourType == 0 || colourType == 3 ? bitDepth : colourType == 6 ? 32 : 24;
    if (s->flags & LV_IMGLOAD_SIZEONLY) {
        s->hasAlpha = colourType == 6;
        return 0;
    }
    if (!ImagePixelsFit(w, h)) return ERR_MEM;
    bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    int bytesPerPixel = 4;
    if (s->flags & LV_IMGLOAD_PALETTE) {
        if (!(s->palette = (uint32_t *)AllocMemory(1024, 1))) return ERR_MEM;
        if (colourType == 0 && bitDepth <= 8) {
            MakeGreyRamp(s->palette, 1 << bitDepth);
        } else if (colourType == 3) {
            png_colorp entries = nullptr;
            int count = 0;
            if (!png_get_PLTE(png, info, &entries, &count)) return ERR_NOPALETTE;
            for (int i = 0; i < count && i < 256; i++)
                s->palette[i] = (uint32_t)entries[i].red << 16 | (uint32_t)entries[i].green << 8 | entries[i].blue;
            if ((s->flags & LV_IMGLOAD_TRANSPEN) && hasTrns) {
                png_bytep alpha = nullptr;
                int alphaCount = 0;
                png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
                for (int i = 0; i < alphaCount; i++)
                    if (alpha[i] == 0) {
                        s->transparentPen = i;
                        break;
                    }
            }
        } else {
            return ERR_NOPALETTE;
        }
        if (s->flags & LV_IMGLOAD_PALETTEONLY) return 0;
        if (bitDepth < 8) png_set_packing(png);
        bytesPerPixel = 1;
    } else {
        if (colourType == 3) png_set_palette_to_rgb(png);
        if ((s->flags & LV_IMGLOAD_TRANSPEN) && hasTrns) {
            png_set_tRNS_to_alpha(png);
            s->transparentPen = -2;
        } else if (colourType == 3 && hasTrns) {
            png_set_strip_alpha(png);  // libpng's palette expansion brings the tRNS along
        }
        if (colourType == 0 && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
        if (bitDepth == 16) png_set_strip_16(png);
        if (colourType == 0 || colourType == 4) png_set_gray_to_rgb(png);
    }
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    int outType = png_get_color_type(png, info);
    int channels = bytesPerPixel == 1 ? 1 : outType == 2 ? 3 : 4;
    bool ok = bytesPerPixel == 1 ? (outType == 0 || outType == 3) : (outType == 2 || outType == 6);
    if (!ok || png_get_rowbytes(png, info) != (size_t)w * channels) return ERR_LOADPICTURE2;
    if (!(s->pixels = (uint8_t *)AllocMemory((size_t)w * h * bytesPerPixel, 0))) return ERR_MEM;
    if (bytesPerPixel == 1) {
        // Pens: each pass leaves its pixels in the rows of the result itself.
        for (int pass = 0; pass < passes; pass++)
            for (png_uint_32 y = 0; y < h; y++) png_read_row(png, s->pixels + (size_t)y * w, nullptr);
    } else {
        // Samples R, G, B (, A) become words; interlaced pictures are gathered whole first.
        size_t rowBytes = (size_t)w * channels;
        if (!(s->rows = (uint8_t *)AllocMemory(passes > 1 ? rowBytes * h : rowBytes, 0))) return ERR_MEM;
        for (int pass = 0; pass < passes - 1; pass++)
            for (png_uint_32 y = 0; y < h; y++) png_read_row(png, s->rows + (size_t)y * rowBytes, nullptr);
        for (png_uint_32 y = 0; y < h; y++) {
            uint8_t *row = s->rows + (passes > 1 ? (size_t)y * rowBytes : 0);
            png_read_row(png, row, nullptr);
            uint32_t *out = (uint32_t *)s->pixels + (size_t)y * w;
            if (channels == 3) {
                for (png_uint_32 x = 0; x < w; x++, row += 3)
                    out[x] = (uint32_t)row[0] << 16 | (uint32_t)row[1] << 8 | row[2];
            } else {
                for (png_uint_32 x = 0; x < w; x++, row += 4)
                    out[x] = (uint32_t)row[3] << 24 | (uint32_t)row[0] << 16 | (uint32_t)row[1] << 8 | row[2];
            }
        }
    }
    png_read_end(png, s->endInfo);
    s->hasAlpha = colourType == 4 || colourType == 6;
    return 0;
}

void ReadPngFile(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, uint8_t **pixels,
                 uint32_t **palette, int *transparentPen, int *hasAlpha, int *result)
{
    lvPngRead s = {};
    s.file = file;
    s.flags = flags;
    s.transparentPen = -1;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorCallback, PngWarningCallback);
    if (s.png) {
        // No chunk other than the streamed image data needs more than this, whatever the
        // picture's size; a chunk that claims more fails at its header, before libpng
        // allocates for it or reads on.
        png_set_chunk_malloc_max(s.png, kPngChunkMax);
        png_set_chunk_cache_max(s.png, kPngChunkCacheMax);
        s.info = png_create_info_struct(s.png);
        s.endInfo = png_create_info_struct(s.png);
    }
    int code = s.png && s.info && s.endInfo ? ReadPngArmed(&s) : ERR_MEM;
    png_destroy_read_struct(s.png ? &s.png : nullptr, s.info ? &s.info : nullptr, s.endInfo ? &s.endInfo : nullptr);
    if (code == 0) {
        *width = s.width, *height = s.height, *depth = s.depth;
        if (hasAlpha) *hasAlpha = s.hasAlpha;
        if (transparentPen) *transparentPen = s.transparentPen;
        if (pixels) *pixels = s.pixels, s.pixels = nullptr;
        bool wantPalette = s.depth <= 8 && (flags & (LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_PALETTEONLY));
        if (palette && wantPalette) *palette = s.palette, s.palette = nullptr;
    }
    FreeMemory(s.pixels);
    FreeMemory(s.palette);
    FreeMemory(s.rows);
    *result = code;
}

// ============================================================================
// Writing
// ============================================================================

// What a write keeps across libpng's jumps.
struct lvPngWrite {
    lvPngEncodeRequest *request;
    png_structp png;
    png_infop info;
    lvVFile *file;
    uint8_t *row;       // packed pens of one row
    int writeFailed;    // the file took fewer bytes than given
};

static void PngWriteCallback(png_structp png, png_bytep data, size_t length)
{
    lvPngWrite *s = (lvPngWrite *)png_get_io_ptr(png);
    if (WriteVFile(s->file, data, (int64_t)length) != (int64_t)length) {
        s->writeFailed = 1;
        png_error(png, "Write error!");
    }
}
static void PngFlushCallback(png_structp png)
{
    lvPngWrite *s = (lvPngWrite *)png_get_io_ptr(png);
    FlushVFile(s->file);
}

static int WritePngArmed(lvPngWrite *s)
{
    if (setjmp(png_jmpbuf(s->png))) return s->writeFailed ? ERR_WRITE : ERR_MEM;
    lvPngEncodeRequest *r = s->request;
    png_structp png = s->png;
    png_set_write_fn(png, s, PngWriteCallback, PngFlushCallback);
    if (r->pens) {
        int bitDepth = r->depth <= 1 ? 1 : r->depth == 2 ? 2 : r->depth <= 4 ? 4 : 8;
        png_set_IHDR(png, s->info, (png_uint_32)r->width, (png_uint_32)r->height, bitDepth, PNG_COLOR_TYPE_PALETTE,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_color entries[256];
        int count = 1 << bitDepth;
        for (int i = 0; i < count; i++) {
            uint32_t c = r->palette ? r->palette[i] : 0;
            entries[i] = {(png_byte)(c >> 16), (png_byte)(c >> 8), (png_byte)c};
        }
        png_set_PLTE(png, s->info, entries, count);
        png_byte alpha[256];
        if (r->transparentPen >= 0 && r->transparentPen < count) {
            std::memset(alpha, 255, sizeof alpha);
            alpha[r->transparentPen] = 0;
            png_set_tRNS(png, s->info, alpha, r->transparentPen + 1, nullptr);
        }
        png_write_info(png, s->info);
        for (int y = 0; y < r->height; y++) {
            std::memset(s->row, 0, (size_t)r->width * 4);
            PackPixelRows(r->pens + (size_t)y * r->penRowBytes, s->row, r->width, bitDepth);
            png_write_row(png, s->row);
        }
    } else {
        png_set_IHDR(png, s->info, (png_uint_32)r->width, (png_uint_32)r->height, 8,
                     r->hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, s->info);
        // The words' bytes B, G, R, A are written as R, G, B (and A) by libpng itself.
        png_set_bgr(png);
        if (!r->hasAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
        for (int y = 0; y < r->height; y++)
            png_write_row(png, (png_bytep)((const uint8_t *)r->argb + (size_t)y * r->argbRowBytes));
    }
    png_write_end(png, s->info);
    return 0;
}

void EncodePngFile(lvPngEncodeRequest *request)
{
    lvPngWrite s = {};
    s.request = request;
    if (!ImagePixelsFit(request->width, request->height)) {
        request->result = ERR_MEM;
        return;
    }
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorCallback, PngWarningCallback);
    if (s.png) s.info = png_create_info_struct(s.png);
    s.row = (uint8_t *)AllocMemory((size_t)request->width * 4, 1);
    int code = s.png && s.info && s.row ? 0 : ERR_MEM;
    if (!code) {
        s.file = OpenVFile(request->path, LV_VF_WRITE | LV_VF_ADAPTERS, request->adapter, request->userTags);
        if (!s.file) code = ERR_WRITEFILE;
    }
    if (!code) code = WritePngArmed(&s);
    if (s.file && !CloseVFile(s.file) && !code) code = ERR_CLOSEFILE;
    png_destroy_write_struct(s.png ? &s.png : nullptr, s.info ? &s.info : nullptr);
    FreeMemory(s.row);
    request->result = code;
}

int WritePngImage(const char *path, const char *adapter, const void *userTags, const uint32_t *argb, int width,
                  int height, lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen,
                  int hasAlpha)
{
    lvPngEncodeRequest request = {};
    request.path = path;
    request.adapter = adapter;
    request.userTags = userTags;
    request.argb = argb;
    request.argbRowBytes = width * 4;
    request.palette = palette;
    request.transparentPen = transparentPen;
    request.width = width;
    request.height = height;
    request.depth = depth;
    request.hasAlpha = hasAlpha;
    uintptr_t token = 0;
    if (penPlane) {
        uint8_t *plane = nullptr;
        int rowBytes = 0;
        if (!(token = GetPlanePixels(penPlane, &plane, &rowBytes, 0))) {
            SetErrorStringArg(path);
            return ERR_LOCKBMAP;
        }
        request.pens = plane;
        request.penRowBytes = rowBytes;
    }
    EncodePngFile(&request);
    if (token) ReleasePlanePixels(token);
    if (request.result) SetErrorStringArg(path);
    return request.result;
}
