// jpeg.cpp - JPEG decoding and encoding over libjpeg-turbo: the error manager, a source
// manager over a file or a memory block, a destination manager that collects the
// output in memory, CMYK with the Adobe inversion rule, and the EXIF orientation turn.
//
// libjpeg recovers by longjmp: the functions that arm the jump keep every value that
// must survive it in a state record reached through a pointer and hold no C++ object
// with a destructor; no exception crosses libjpeg. The structures are created with
// this build's own sizes (jpeg_create_decompress / jpeg_create_compress).
// Dependencies: libjpeg-turbo (JCS_EXT_ colour spaces), runtime/vfile.h.
#include "formats/formats_internal.h"
#include "runtime/plugin.h"
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#if defined(__SSE2__)
#include <xmmintrin.h>
#include <emmintrin.h>
#endif
#include <jerror.h>

// The Huffman decoder takes its fast path only while a few kilobytes stand in the
// buffer, so files are read in large blocks.
enum { kJpegBufferSize = 65536, kTurnBand = 64 };

// The error manager: every error jumps back; messages are never printed.
struct lvJpegError {
    jpeg_error_mgr manager;  // first: libjpeg sees only this
    jmp_buf recovery;        // armed by the routine
};
static void JpegErrorExit(j_common_ptr cinfo)
{
    longjmp(((lvJpegError *)cinfo->err)->recovery, 1);
}
static void JpegEmitMessage(j_common_ptr, int) {}
static void JpegOutputMessage(j_common_ptr) {}
static void JpegFormatMessage(j_common_ptr, char *buffer) { buffer[0] = 0; }
static void JpegResetError(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}
static void InitJpegError(lvJpegError *error)
{
    jpeg_std_error(&error->manager);
    error->manager.error_exit = JpegErrorExit;
    error->manager.emit_message = JpegEmitMessage;
    error->manager.output_message = JpegOutputMessage;
    error->manager.format_message = JpegFormatMessage;
    error->manager.reset_error_mgr = JpegResetError;
}

// ============================================================================
// Source manager
// ============================================================================

struct lvJpegSource {
    jpeg_source_mgr manager;  // first: libjpeg sees only this
    lvVFile *file;            // the file, or null for memory
    const uint8_t *memory;    // the memory block
    size_t memoryLeft;        // bytes of it not handed over yet
    JOCTET *buffer;           // kJpegBufferSize bytes from the permanent pool
    int started;              // some data came
};

static const JOCTET jpegEndOfImage[2] = {0xFF, JPEG_EOI};

static void JpegInitSource(j_decompress_ptr cinfo) { ((lvJpegSource *)cinfo->src)->started = 0; }

static boolean JpegFillInput(j_decompress_ptr cinfo)
{
    lvJpegSource *src = (lvJpegSource *)cinfo->src;
    size_t got = 0;
    if (src->file) {
        int64_t n = ReadVFile(src->file, src->buffer, kJpegBufferSize);
        got = n > 0 ? (size_t)n : 0;
        src->manager.next_input_byte = src->buffer;
    } else {
        got = src->memoryLeft;
        src->manager.next_input_byte = src->memory;
        src->memory += got;
        src->memoryLeft = 0;
    }
    if (got == 0) {
        if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->manager.next_input_byte = jpegEndOfImage;
        got = 2;
    }
    src->manager.bytes_in_buffer = got;
    src->started = 1;
    return TRUE;
}

static void JpegSkipInput(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr *src = cinfo->src;
    if (count <= 0) return;
    while (count > (long)src->bytes_in_buffer) {
        count -= (long)src->bytes_in_buffer;
        JpegFillInput(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= (size_t)count;
}

static void JpegTermSource(j_decompress_ptr) {}

static void InstallJpegSource(j_decompress_ptr cinfo, lvVFile *file, const uint8_t *memory, size_t size)
{
    lvJpegSource *src = (lvJpegSource *)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_PERMANENT,
                                                                   sizeof(lvJpegSource));
    std::memset(src, 0, sizeof *src);
    if (file) src->buffer = (JOCTET *)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_PERMANENT, kJpegBufferSize);
    src->file = file;
    src->memory = memory;
    src->memoryLeft = size;
    src->manager.init_source = JpegInitSource;
    src->manager.fill_input_buffer = JpegFillInput;
    src->manager.skip_input_data = JpegSkipInput;
    src->manager.resync_to_restart = jpeg_resync_to_restart;
    src->manager.term_source = JpegTermSource;
    cinfo->src = &src->manager;
}

// ============================================================================
// Decoding
// ============================================================================

struct lvJpegDecode {
    lvJpegError error;
    jpeg_decompress_struct cinfo;
    lvVFile *file;
    const uint8_t *memory;
    size_t memorySize;
    int sizeOnly, orientation;
    int width, height;       // output size
    uint32_t *pixels;        // AllocMemory
    uint8_t *scanline;       // AllocMemory
};

// The output place of source pixel (r, c) for an orientation; w x h is the source size.
static inline size_t TurnedIndex(int orientation, int r, int c, int w, int h)
{
    switch (orientation) {
    case 2: return (size_t)r * w + (w - 1 - c);
    case 3: return (size_t)(h - 1 - r) * w + (w - 1 - c);
    case 4: return (size_t)(h - 1 - r) * w + c;
    case 5: return (size_t)c * h + r;
    case 6: return (size_t)c * h + (h - 1 - r);
    case 7: return (size_t)(w - 1 - c) * h + (h - 1 - r);
    case 8: return (size_t)(w - 1 - c) * h + r;
    default: return (size_t)r * w + c;
    }
}

// Orientations 5 to 8: bands of source rows, each source column written as one run.
// Called under DecodeJpegArmed's recovery point.
static int ReadTurnedBands(lvJpegDecode *s, int w, int h, int orientation)
{
    j_decompress_ptr cinfo = &s->cinfo;
    const uint32_t *bandRows = (const uint32_t *)s->scanline;
    while (cinfo->output_scanline < cinfo->output_height) {
        int first = (int)cinfo->output_scanline, count = 0;
        JSAMPROW rows[kTurnBand];
        for (int i = 0; i < kTurnBand; i++) rows[i] = s->scanline + (size_t)i * w * 4;
        while (count < kTurnBand && cinfo->output_scanline < cinfo->output_height) {
            JDIMENSION got = jpeg_read_scanlines(cinfo, rows + count, (JDIMENSION)(kTurnBand - count));
            if (got == 0) break;
            count += (int)got;
        }
        if (count == 0) break;
        // Consecutive source rows are neighbours in every output row: +1 for 5 and 8, -1 for 6 and 7.
        ptrdiff_t step = orientation == 5 || orientation == 8 ? 1 : -1;
        int c = 0;
#if defined(__SSE2__)
        // 4 x 4 tiles turned in registers: four source rows of four columns become four
        // runs of four output pixels.
        const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
        for (; c + 4 <= w; c += 4) {
            uint32_t *out[4];
            for (int k = 0; k < 4; k++) out[k] = s->pixels + TurnedIndex(orientation, first, c + k, w, h);
            int i = 0;
            for (; i + 4 <= count; i += 4) {
                const uint32_t *in = bandRows + (size_t)i * w + c;
                __m128 r0 = _mm_castsi128_ps(_mm_loadu_si128((const __m128i *)in));
                __m128 r1 = _mm_castsi128_ps(_mm_loadu_si128((const __m128i *)(in + w)));
                __m128 r2 = _mm_castsi128_ps(_mm_loadu_si128((const __m128i *)(in + 2 * (size_t)w)));
                __m128 r3 = _mm_castsi128_ps(_mm_loadu_si128((const __m128i *)(in + 3 * (size_t)w)));
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                __m128i runs[4] = {_mm_castps_si128(r0), _mm_castps_si128(r1), _mm_castps_si128(r2), _mm_castps_si128(r3)};
                for (int k = 0; k < 4; k++) {
                    __m128i run = _mm_and_si128(runs[k], colour);
                    if (step > 0) {
                        _mm_storeu_si128((__m128i *)(out[k] + i), run);
                    } else {
                        _mm_storeu_si128((__m128i *)(out[k] - i - 3), _mm_shuffle_epi32(run, 0x1B));
                    }
                }
            }
            for (int k = 0; k < 4; k++)
                for (int j = i; j < count; j++) out[k][step * j] = bandRows[(size_t)j * w + c + k] & 0x00FFFFFFu;
        }
#endif
        for (; c < w; c++) {
            uint32_t *out = s->pixels + TurnedIndex(orientation, first, c, w, h);
            for (int i = 0; i < count; i++, out += step) *out = bandRows[(size_t)i * w + c] & 0x00FFFFFFu;
        }
    }
    jpeg_finish_decompress(cinfo);
    return 0;
}

static int DecodeJpegArmed(lvJpegDecode *s)
{
    if (setjmp(s->error.recovery)) return ERR_LOADPICTURE2;
    j_decompress_ptr cinfo = &s->cinfo;
    InstallJpegSource(cinfo, s->file, s->memory, s->memorySize);
    jpeg_save_markers(cinfo, JPEG_APP0 + 14, 256);
    jpeg_read_header(cinfo, TRUE);
    bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    int orientation = cmyk || s->orientation < 2 || s->orientation > 8 ? 1 : s->orientation;
    int w = (int)cinfo->image_width, h = (int)cinfo->image_height;
    bool swap = orientation >= 5;
    s->width = swap ? h : w;
    s->height = swap ? w : h;
    if (s->sizeOnly) return 0;
    if (!ImagePixelsFit(w, h)) return ERR_MEM;
    // Huffman coding spends at least one bit on every block: a file with fewer bits than
    // the frame has blocks cannot hold the picture, and is refused before the picture is
    // allocated and filled. (Arithmetic coding has no such floor.) A file cut short that
    // could have held it still gives the rows it has.
    int64_t bytes = s->memorySize ? (int64_t)s->memorySize : GetVFileSize(s->file);
    if (!cinfo->arith_code && bytes >= 0) {
        uint64_t blocks = 0;
        for (int i = 0; i < cinfo->num_components; i++)
            blocks += (uint64_t)cinfo->comp_info[i].width_in_blocks * cinfo->comp_info[i].height_in_blocks;
        if ((uint64_t)bytes * 8 < blocks) return ERR_LOADPICTURE2;
    }
    // RGB comes as the words themselves (B, G, R, X); the X byte is cleared below.
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(cinfo);
    w = (int)cinfo->output_width, h = (int)cinfo->output_height;
    s->width = swap ? h : w;
    s->height = swap ? w : h;
    bool inverted = false;
    if (cmyk)
        for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
            if (m->marker == JPEG_APP0 + 14 && m->data_length >= 12 && std::memcmp(m->data, "Adobe", 5) == 0)
                inverted = true;
    // Turns across the diagonal gather a band of rows, so that each output row gets
    // a run of pixels at a time.
    int band = orientation >= 5 ? kTurnBand : 1;
    if (!(s->scanline = (uint8_t *)AllocMemory((size_t)w * 4 * band, 0))) return ERR_MEM;
    if (!(s->pixels = (uint32_t *)AllocMemory((size_t)w * h * 4, 0))) return ERR_MEM;
    if (orientation >= 5) return ReadTurnedBands(s, w, h, orientation);
    while (cinfo->output_scanline < cinfo->output_height) {
        int r = (int)cinfo->output_scanline;
        uint32_t *direct = s->pixels + (size_t)r * w;
        JSAMPROW row = orientation == 1 && !cmyk ? (JSAMPROW)direct : s->scanline;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) break;
        if (cmyk) {
            const uint8_t *p = s->scanline;
            for (int c = 0; c < w; c++, p += 4) {
                uint32_t cv = p[0], mv = p[1], yv = p[2], kv = p[3];
                if (inverted) cv = 255 - cv, mv = 255 - mv, yv = 255 - yv, kv = 255 - kv;
                uint32_t k = 255 - kv;
                direct[c] = (255 - cv) * k / 255 << 16 | (255 - mv) * k / 255 << 8 | (255 - yv) * k / 255;
            }
        } else if (orientation == 1) {
            for (int c = 0; c < w; c++) direct[c] &= 0x00FFFFFFu;
        } else {
            const uint32_t *in = (const uint32_t *)s->scanline;
            for (int c = 0; c < w; c++) s->pixels[TurnedIndex(orientation, r, c, w, h)] = in[c] & 0x00FFFFFFu;
        }
    }
    jpeg_finish_decompress(cinfo);
    return 0;
}

int DecodeJpegImage(const void *source, size_t memorySize, int sizeOnly, int orientation, int *width, int *height,
                    uint32_t **pixels)
{
    lvJpegDecode *s = (lvJpegDecode *)AllocMemory(sizeof(lvJpegDecode), 1);
    if (!s) return ERR_MEM;
    if (memorySize) s->memory = (const uint8_t *)source, s->memorySize = memorySize;
    else s->file = (lvVFile *)source;
    s->sizeOnly = sizeOnly;
    s->orientation = orientation;
    InitJpegError(&s->error);
    s->cinfo.err = &s->error.manager;
    jpeg_create_decompress(&s->cinfo);
    int code = DecodeJpegArmed(s);
    jpeg_destroy_decompress(&s->cinfo);
    if (code == 0) {
        *width = s->width, *height = s->height;
        if (pixels && !sizeOnly) *pixels = s->pixels, s->pixels = nullptr;
    }
    FreeMemory(s->pixels);
    FreeMemory(s->scanline);
    FreeMemory(s);
    return code;
}

// ============================================================================
// Encoding
// ============================================================================

// The encoded bytes: one growing block.
struct lvJpegOutput {
    uint8_t *data;    // AllocMemory
    size_t length;    // bytes in use
    size_t capacity;  // bytes allocated
};

struct lvJpegDestination {
    jpeg_destination_mgr manager;  // first: libjpeg sees only this
    lvJpegOutput *output;
    JOCTET *buffer;                // kJpegBufferSize bytes from the image pool
};

static void AppendJpegBytes(j_compress_ptr cinfo, const JOCTET *bytes, size_t count)
{
    lvJpegOutput *out = ((lvJpegDestination *)cinfo->dest)->output;
    if (out->length + count > out->capacity) {
        size_t capacity = out->capacity * 2 + count;
        uint8_t *grown = (uint8_t *)AllocMemory(capacity, 0);
        if (!grown) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        std::memcpy(grown, out->data, out->length);
        FreeMemory(out->data);
        out->data = grown;
        out->capacity = capacity;
    }
    std::memcpy(out->data + out->length, bytes, count);
    out->length += count;
}
static void JpegInitDestination(j_compress_ptr cinfo)
{
    lvJpegDestination *dest = (lvJpegDestination *)cinfo->dest;
    dest->buffer = (JOCTET *)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_IMAGE, kJpegBufferSize);
    dest->manager.next_output_byte = dest->buffer;
    dest->manager.free_in_buffer = kJpegBufferSize;
}
static boolean JpegEmptyOutput(j_compress_ptr cinfo)
{
    lvJpegDestination *dest = (lvJpegDestination *)cinfo->dest;
    AppendJpegBytes(cinfo, dest->buffer, kJpegBufferSize);
    dest->manager.next_output_byte = dest->buffer;
    dest->manager.free_in_buffer = kJpegBufferSize;
    return TRUE;
}
static void JpegTermDestination(j_compress_ptr cinfo)
{
    lvJpegDestination *dest = (lvJpegDestination *)cinfo->dest;
    AppendJpegBytes(cinfo, dest->buffer, kJpegBufferSize - dest->manager.free_in_buffer);
}

struct lvJpegEncode {
    lvJpegError error;
    jpeg_compress_struct cinfo;
    lvJpegEncodeRequest *request;
    lvJpegOutput *output;
};

static int EncodeJpegArmed(lvJpegEncode *s)
{
    if (setjmp(s->error.recovery)) return ERR_MEM;
    lvJpegEncodeRequest *r = s->request;
    j_compress_ptr cinfo = &s->cinfo;
    lvJpegDestination *dest = (lvJpegDestination *)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_PERMANENT,
                                                                             sizeof(lvJpegDestination));
    std::memset(dest, 0, sizeof *dest);
    dest->output = s->output;
    dest->manager.init_destination = JpegInitDestination;
    dest->manager.empty_output_buffer = JpegEmptyOutput;
    dest->manager.term_destination = JpegTermDestination;
    cinfo->dest = &dest->manager;
    cinfo->image_width = (JDIMENSION)r->width;
    cinfo->image_height = (JDIMENSION)r->height;
    // The words go in as they are: bytes B, G, R, X (or X, R, G, B) are the RGB samples.
    cinfo->input_components = 4;
    cinfo->in_color_space = r->byteOrder ? JCS_EXT_XRGB : JCS_EXT_BGRX;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, r->quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = (JSAMPROW)((const uint8_t *)r->pixels + (size_t)cinfo->next_scanline * r->rowBytes);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return 0;
}

void EncodeJpegImage(lvJpegEncodeRequest *request)
{
    request->handle = nullptr;
    request->data = nullptr;
    request->length = 0;
    if (request->width <= 0 || request->height <= 0 || !ImagePixelsFit(request->width, request->height)) {
        request->result = ERR_MEM;
        return;
    }
    lvJpegOutput *output = (lvJpegOutput *)AllocMemory(sizeof(lvJpegOutput), 1);
    lvJpegEncode *s = (lvJpegEncode *)AllocMemory(sizeof(lvJpegEncode), 1);
    size_t initial = (size_t)request->width * request->height * 3;
    if (output) output->data = (uint8_t *)AllocMemory(initial, 0), output->capacity = initial;
    if (!output || !output->data || !s) {
        if (output) FreeMemory(output->data);
        FreeMemory(output);
        FreeMemory(s);
        request->result = ERR_MEM;
        return;
    }
    s->request = request;
    s->output = output;
    InitJpegError(&s->error);
    s->cinfo.err = &s->error.manager;
    jpeg_create_compress(&s->cinfo);
    int code = EncodeJpegArmed(s);
    jpeg_destroy_compress(&s->cinfo);
    FreeMemory(s);
    if (code) {
        FreeEncodedJpeg(output);
        request->result = code;
        return;
    }
    request->handle = output;
    request->data = output->data;
    request->length = output->length;
    request->result = 0;
}

void FreeEncodedJpeg(void *handle)
{
    lvJpegOutput *output = (lvJpegOutput *)handle;
    if (!output) return;
    FreeMemory(output->data);
    FreeMemory(output);
}

int SaveJpegFile(const void *userTags, const char *adapter, const char *path, const void *pixels, int rowBytes,
                 int width, int height, int quality)
{
    lvWrittenFile out;
    if (int code = out.Open(path, adapter, userTags)) return code;
    lvJpegEncodeRequest request = {};
    request.pixels = pixels;
    request.rowBytes = rowBytes;
    request.width = width;
    request.height = height;
    request.quality = quality;
    EncodeJpegImage(&request);
    if (request.result) return request.result;
    out.Write(request.data, (int64_t)request.length);
    FreeEncodedJpeg(request.handle);
    int code = out.Close();
    if (code) SetErrorStringArg(path);
    return code;
}

// The JPEG sub-table of the plug-in interface: the library's own functions.
void InstallJpegPluginEntries(void)
{
    auto slot = [](auto *f) { return reinterpret_cast<lvApiStdFunction>(f); };
    static const lvApiJpeg entries = {
        slot(jpeg_CreateDecompress), slot(jpeg_finish_decompress), slot(jpeg_destroy_decompress),
        slot(jpeg_std_error), slot(jpeg_read_header), slot(jpeg_read_scanlines), slot(jpeg_start_decompress),
        slot(jpeg_resync_to_restart), slot(jpeg_CreateCompress), slot(jpeg_finish_compress),
        slot(jpeg_destroy_compress), slot(jpeg_start_compress), slot(jpeg_set_defaults),
        slot(jpeg_write_scanlines), slot(jpeg_set_quality), slot(jpeg_mem_dest), slot(jpeg_mem_src),
        slot(jpeg_destroy), slot(jpeg_abort), slot(jpeg_suppress_tables), slot(jpeg_write_raw_data),
        slot(jpeg_write_tables), slot(jpeg_read_raw_data), slot(jpeg_save_markers), slot(jpeg_set_colorspace),
        nullptr,
    };
    SetPluginJpegEntries(&entries);
}
