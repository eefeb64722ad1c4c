// media_fixtures.h - small RIFF WAVE and IFF 8SVX/16SV file builders for the sample
// tests, written from the formats' own layout (not through the runtime's writers), and
// a scratch folder removed with its scope.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct MediaScratch {
    std::string path;
    MediaScratch();
    ~MediaScratch();
    std::string File(const char *name) const { return path + "/" + name; }
};

void WriteFileBytes(const std::string &path, const Bytes &bytes);
Bytes ReadFileBytes(const std::string &path);

struct WavFixture {
    int channels = 1, bits = 8, rate = 8000;
    int fmtSize = 16;          // 16, 18 or 40 (the extra bytes are zero)
    int tag = 1;               // format tag
    Bytes before;              // whole chunks placed between "fmt " and "data"
    bool fmtFirst = true;      // false puts "data" before "fmt "
    int64_t declaredData = -1; // a data size field other than the real one
};
// The data bytes are stored as given (8-bit unsigned, 16-bit little-endian).
Bytes MakeWav(const WavFixture &fixture, const Bytes &data);

struct SampleIffFixture {
    bool sixteen = false;       // "16SV" with big-endian samples, else "8SVX"
    int rate = 8000;
    int chan = 0;               // CHAN value, 0 for no CHAN chunk
    uint32_t vhdrSize = 20;     // VHDR size field
    int compression = 0;        // sCompression
    Bytes before;               // whole chunks placed before BODY (after CHAN)
    int64_t declaredBody = -1;  // a BODY size field other than the real one
};
// body: the BODY bytes as they go into the file (planar for stereo, signed, big-endian).
Bytes MakeIff(const SampleIffFixture &fixture, const Bytes &body);

// A whole chunk with its pad byte.
Bytes Chunk(const char *id, const Bytes &payload, bool bigEndian);
