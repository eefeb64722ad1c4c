// formats_fixtures.cpp - see formats_fixtures.h.
#include "tests/formats/formats_fixtures.h"
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

ScratchDir::ScratchDir()
{
    char pattern[] = "/tmp/lv_formats_XXXXXX";
    path = mkdtemp(pattern) ? pattern : "/tmp";
}
ScratchDir::~ScratchDir()
{
    std::string command = "rm -rf '" + path + "'";
    (void)std::system(command.c_str());
}

void WriteBytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write((const char *)bytes.data(), (std::streamsize)bytes.size());
}

Bytes ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ============================================================================
// PNG
// ============================================================================

unsigned PngSample(const PngFixture &fixture, int x, int y, int s)
{
    unsigned max = (1u << fixture.bitDepth) - 1;
    if (fixture.colourType == 3) return (unsigned)(x + y * fixture.width) % (fixture.palette.size() / 3);
    return (unsigned)(x * 37 + y * 101 + s * 53 + (x ^ y) * 7) * 2654435761u % (max + 1);
}

static void AppendPng(png_structp png, png_bytep data, size_t length)
{
    Bytes *out = (Bytes *)png_get_io_ptr(png);
    out->insert(out->end(), data, data + length);
}

Bytes MakePng(const PngFixture &fixture)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPng, nullptr);
    png_set_IHDR(png, info, fixture.width, fixture.height, fixture.bitDepth, fixture.colourType,
                 fixture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    for (size_t i = 0; i + 2 < fixture.palette.size(); i += 3)
        colours.push_back({fixture.palette[i], fixture.palette[i + 1], fixture.palette[i + 2]});
    if (!colours.empty()) png_set_PLTE(png, info, colours.data(), (int)colours.size());
    if (!fixture.trns.empty()) png_set_tRNS(png, info, fixture.trns.data(), (int)fixture.trns.size(), nullptr);
    png_color_16 key = {};
    if (fixture.greyTrns) png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    int samples = fixture.colourType == 0 || fixture.colourType == 3 ? 1 : fixture.colourType == 2 ? 3 : fixture.colourType == 4 ? 2 : 4;
    size_t rowBytes = ((size_t)fixture.width * samples * fixture.bitDepth + 7) / 8;
    std::vector<std::vector<uint8_t>> rows(fixture.height, std::vector<uint8_t>(rowBytes));
    for (int y = 0; y < fixture.height; y++) {
        for (int x = 0; x < fixture.width; x++) {
            for (int s = 0; s < samples; s++) {
                unsigned v = PngSample(fixture, x, y, s);
                size_t bit = ((size_t)x * samples + s) * fixture.bitDepth;
                if (fixture.bitDepth == 16) {
                    rows[y][bit / 8] = (uint8_t)(v >> 8);
                    rows[y][bit / 8 + 1] = (uint8_t)v;
                } else {
                    rows[y][bit / 8] |= (uint8_t)(v << (8 - fixture.bitDepth - bit % 8));
                }
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (auto &row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// ============================================================================
// JPEG
// ============================================================================

uint8_t JpegSample(const JpegFixture &fixture, int x, int y, int c)
{
    int v = (x * 255 / (fixture.width > 1 ? fixture.width - 1 : 1) * (c + 1) + y * 255 / (fixture.height > 1 ? fixture.height - 1 : 1)) / (c + 2);
    if (((x / 8) + (y / 8) + c) % 3 == 0) v = 255 - v;  // blocks of detail
    return (uint8_t)v;
}

Bytes MakeExifPayload(int orientation, bool bigEndian)
{
    Bytes p = {'E', 'x', 'i', 'f', 0, 0};
    auto put16 = [&](unsigned v) {
        if (bigEndian) p.push_back((uint8_t)(v >> 8)), p.push_back((uint8_t)v);
        else p.push_back((uint8_t)v), p.push_back((uint8_t)(v >> 8));
    };
    auto put32 = [&](unsigned v) {
        if (bigEndian) put16(v >> 16), put16(v & 0xFFFF);
        else put16(v & 0xFFFF), put16(v >> 16);
    };
    p.push_back(bigEndian ? 'M' : 'I');
    p.push_back(bigEndian ? 'M' : 'I');
    put16(42);
    put32(8);
    put16(2);                                   // two entries
    put16(271), put16(2), put32(4), put32(0);   // Make: nothing useful
    put16(274), put16(3), put32(1), put16(orientation), put16(0);
    put32(0);
    return p;
}

struct JpegErrorJump {
    jpeg_error_mgr manager;
    jmp_buf jump;
};
static void JumpOnError(j_common_ptr cinfo) { longjmp(((JpegErrorJump *)cinfo->err)->jump, 1); }

Bytes MakeJpeg(const JpegFixture &fixture, const uint8_t *samples)
{
    jpeg_compress_struct cinfo;
    JpegErrorJump error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JumpOnError;
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = fixture.width;
    cinfo.image_height = fixture.height;
    cinfo.input_components = fixture.components;
    cinfo.in_color_space = fixture.components == 1 ? JCS_GRAYSCALE : fixture.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, fixture.quality, TRUE);
    if (fixture.components == 4) {
        jpeg_set_colorspace(&cinfo, JCS_CMYK);
        cinfo.write_Adobe_marker = fixture.adobe;
    }
    if (fixture.components == 3 && !fixture.subsample420) {
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    }
    cinfo.write_JFIF_header = fixture.jfif;
    if (fixture.progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    if (fixture.orientation > 0) {
        Bytes exif = MakeExifPayload(fixture.orientation, fixture.exifBigEndian);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), (unsigned)exif.size());
    }
    std::vector<uint8_t> row((size_t)fixture.width * fixture.components);
    while (cinfo.next_scanline < cinfo.image_height) {
        int y = (int)cinfo.next_scanline;
        for (int x = 0; x < fixture.width; x++)
            for (int c = 0; c < fixture.components; c++)
                row[(size_t)x * fixture.components + c] =
                    samples ? samples[((size_t)y * fixture.width + x) * fixture.components + c] : JpegSample(fixture, x, y, c);
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    free(buffer);
    return out;
}

bool ReferenceJpegRgb(const Bytes &file, int *width, int *height, std::vector<uint8_t> *rgb)
{
    jpeg_decompress_struct cinfo;
    JpegErrorJump error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JumpOnError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), (unsigned long)file.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    *width = (int)cinfo.output_width;
    *height = (int)cinfo.output_height;
    rgb->assign((size_t)*width * *height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb->data() + (size_t)cinfo.output_scanline * *width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// ============================================================================
// BMP
// ============================================================================

Bytes MakeBmp(const BmpFixture &fixture)
{
    Bytes b(54, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    size_t paletteBytes = fixture.palette.size() * 4;
    size_t size = 54 + paletteBytes + fixture.data.size();
    put32(2, fixture.fileSize >= 0 ? (uint32_t)fixture.fileSize : (uint32_t)size);
    put32(10, (uint32_t)(54 + paletteBytes));
    put32(14, 40);
    put32(18, (uint32_t)fixture.width);
    put32(22, (uint32_t)fixture.height);
    b[26] = 1;
    b[28] = (uint8_t)fixture.bits;
    put32(30, fixture.compression);
    put32(46, fixture.coloursUsed);
    for (uint32_t c : fixture.palette) {
        b.push_back((uint8_t)c), b.push_back((uint8_t)(c >> 8)), b.push_back((uint8_t)(c >> 16)), b.push_back(0);
    }
    b.insert(b.end(), fixture.data.begin(), fixture.data.end());
    return b;
}
