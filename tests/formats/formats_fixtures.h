// formats_fixtures.h - picture files made by the tests themselves: PNGs written with
// libpng, JPEGs written with libjpeg-turbo (EXIF and Adobe markers as asked), BMPs from
// a small byte builder; reference decodes by the libraries; a scratch folder.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A scratch folder removed with its files at the end of the scope.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    std::string File(const std::string &name) const { return path + "/" + name; }
};

// The bytes of a followed by those of b.
inline Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void WriteBytes(const std::string &path, const Bytes &bytes);
Bytes ReadBytes(const std::string &path);

// ---- PNG ---------------------------------------------------------------------------

struct PngFixture {
    int width = 4, height = 3;
    int colourType = 2;              // PNG_COLOR_TYPE_
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<uint8_t> palette;    // r, g, b triples (colour type 3)
    std::vector<uint8_t> trns;       // alpha per palette entry (colour type 3)
    bool greyTrns = false;           // colour type 0/2: a tRNS of sample value 0
};
// Sample s of pixel (x, y), as the PNG stores it (before any reduction to 8 bits).
unsigned PngSample(const PngFixture &fixture, int x, int y, int s);
// The file's bytes.
Bytes MakePng(const PngFixture &fixture);

// ---- JPEG ----------------------------------------------------------------------------

struct JpegFixture {
    int width = 16, height = 8;
    int components = 3;          // 1 grey, 3 RGB, 4 CMYK
    int quality = 90;
    bool progressive = false;
    bool jfif = true;            // an APP0 JFIF marker first
    bool adobe = true;           // CMYK: the Adobe APP14 marker
    int orientation = 0;         // > 0: an EXIF APP1 with this orientation
    bool exifBigEndian = false;  // "MM" byte order
    bool subsample420 = true;    // 4:2:0 chroma
};
// Sample c of pixel (x, y) written (a smooth picture with some detail).
uint8_t JpegSample(const JpegFixture &fixture, int x, int y, int c);
Bytes MakeJpeg(const JpegFixture &fixture, const uint8_t *samples = nullptr);
// The library's own RGB decode: width x height x 3 bytes; false on failure.
bool ReferenceJpegRgb(const Bytes &file, int *width, int *height, std::vector<uint8_t> *rgb);
// An EXIF APP1 payload ("Exif\0\0" and a TIFF header with one IFD entry of tag 274).
Bytes MakeExifPayload(int orientation, bool bigEndian);

// ---- BMP -----------------------------------------------------------------------------

struct BmpFixture {
    int32_t width = 4, height = 2;
    int bits = 24;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    int64_t fileSize = -1;           // -1: the real size
    std::vector<uint32_t> palette;   // 0x00RRGGBB
    Bytes data;                      // the pixel rows (or RLE stream) as stored
};
Bytes MakeBmp(const BmpFixture &fixture);

// ---- Third-party tools ----------------------------------------------------------------
// Fixtures written and decoded by netpbm, ImageMagick and Pillow at test time.

// True when the shell finds the program.
bool HaveTool(const std::string &program);
// True when Debian's Python has Pillow.
bool HavePillow();
// Runs a shell command line; true when it exits 0.
bool RunTool(const std::string &command);
// A P6 PPM of 0x00RRGGBB words.
void WritePpm(const std::string &path, int width, int height, const std::vector<uint32_t> &rgb);
// A binary PPM or PGM (P6/P5, maxval 255) as 0x00RRGGBB words; false when it is none.
bool ReadPnm(const std::string &path, int *width, int *height, std::vector<uint32_t> *rgb);
// Pillow's RGB decode of a picture file; false when Pillow cannot read it.
bool PillowRgb(const std::string &path, int *width, int *height, std::vector<uint32_t> *rgb);

// ---- Memory ceilings ------------------------------------------------------------------

// Runs load in a forked child whose address space may grow by at most extraBytes beyond
// what it has mapped at the fork (or, when absolute, whose address space is at most
// extraBytes), and hands back load's result and how far the child's peak resident size
// grew during load (KB). False when the child died or ran out of time (seconds).
// Sanitizer builds reserve huge shadow areas: callers skip there.
bool RunUnderAddressLimit(uint64_t extraBytes, bool absolute, int seconds, const std::function<int()> &load,
                          int *result, long *grownKb = nullptr);
