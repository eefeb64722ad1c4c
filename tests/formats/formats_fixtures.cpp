// formats_fixtures.cpp - see formats_fixtures.h.
#include "tests/formats/formats_fixtures.h"
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

// ============================================================================
// Third-party tools
// ============================================================================

static const char kDebianPython[] = "/usr/bin/python3";

bool HaveTool(const std::string &program)
{
    return RunTool("command -v '" + program + "' >/dev/null 2>&1");
}

bool HavePillow()
{
    return RunTool(std::string(kDebianPython) + " -c 'import PIL.Image' >/dev/null 2>&1");
}

bool RunTool(const std::string &command)
{
    return std::system(command.c_str()) == 0;
}

void WritePpm(const std::string &path, int width, int height, const std::vector<uint32_t> &rgb)
{
    std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes b(head.begin(), head.end());
    for (uint32_t c : rgb) b.push_back((uint8_t)(c >> 16)), b.push_back((uint8_t)(c >> 8)), b.push_back((uint8_t)c);
    WriteBytes(path, b);
}

bool ReadPnm(const std::string &path, int *width, int *height, std::vector<uint32_t> *rgb)
{
    Bytes b = ReadBytes(path);
    size_t at = 0;
    auto number = [&]() -> long {
        while (at < b.size() && (std::isspace(b[at]) || b[at] == '#')) {
            if (b[at] == '#')
                while (at < b.size() && b[at] != '\n') at++;
            else at++;
        }
        long v = -1;
        while (at < b.size() && std::isdigit(b[at])) v = (v < 0 ? 0 : v * 10) + (b[at++] - '0');
        return v;
    };
    if (b.size() < 2 || b[0] != 'P' || (b[1] != '6' && b[1] != '5')) return false;
    int channels = b[1] == '6' ? 3 : 1;
    at = 2;
    long w = number(), h = number(), maxval = number();
    if (w <= 0 || h <= 0 || maxval != 255) return false;
    at++;
    if (b.size() - at < (size_t)(w * h * channels)) return false;
    rgb->clear();
    for (long i = 0; i < w * h; i++, at += channels)
        rgb->push_back(channels == 3 ? (uint32_t)b[at] << 16 | (uint32_t)b[at + 1] << 8 | b[at + 2]
                                     : (uint32_t)b[at] * 0x010101u);
    *width = (int)w, *height = (int)h;
    return true;
}

bool PillowRgb(const std::string &path, int *width, int *height, std::vector<uint32_t> *rgb)
{
    std::string out = path + ".pillow.ppm";
    std::string command = std::string(kDebianPython) +
                          " -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2], \"PPM\")' '" +
                          path + "' '" + out + "' 2>/dev/null";
    return RunTool(command) && ReadPnm(out, width, height, rgb);
}

// ============================================================================
// Memory ceilings
// ============================================================================

bool RunUnderAddressLimit(uint64_t extraBytes, bool absolute, int seconds, const std::function<int()> &load,
                          int *result, long *grownKb)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        close(fds[0]), close(fds[1]);
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        uint64_t mapped = 0;
        if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
            unsigned long pages = 0;
            if (std::fscanf(statm, "%lu", &pages) == 1) mapped = (uint64_t)pages * (uint64_t)sysconf(_SC_PAGESIZE);
            std::fclose(statm);
        }
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = absolute ? extraBytes : mapped + extraBytes;
        alarm((unsigned)seconds);
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        struct rusage before, after;
        getrusage(RUSAGE_SELF, &before);
        long out[2] = {load(), 0};
        getrusage(RUSAGE_SELF, &after);
        out[1] = after.ru_maxrss - before.ru_maxrss;
        _exit(write(fds[1], out, sizeof out) == (ssize_t)sizeof out ? 0 : 4);
    }
    close(fds[1]);
    long out[2] = {};
    bool got = read(fds[0], out, sizeof out) == (ssize_t)sizeof out;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    *result = (int)out[0];
    if (grownKb) *grownKb = out[1];
    return true;
}
