// media_video_test.cpp - the video stream layer: the YUV 4:2:0 conversions against the
// BT.601 formula (every Y, U, V triple, every pixel format, the scaling walk) and the CDXL
// reader against files its writer fixture builds (pictures, HAM, sound, seeking, and the
// files it must refuse or cut short).
#include "media/videostream.h"
#include "cdxl_fixture.h"
#include "raster/lvbitmap.h"
#include "runtime/vfile.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// ---- YUV -----------------------------------------------------------------------------

// The formula written out with a plain clamp: the conversion's bit tests must agree.
void Formula(int y, int u, int v, int *r, int *g, int *b)
{
    auto clamp = [](int c) { return std::min(255, std::max(0, c)); };
    *r = clamp((v * 2609823 + y * 1904000 - 363703744) / 1635200);
    *g = clamp((y * 3827562 - u * 1287801 - v * 2672387 + 447306710) / 3287200);
    *b = clamp((u * 1649289 + y * 952000 - 225932192) / 817600);
}

struct Planes {
    int width, height;
    std::vector<uint8_t> y, u, v;
    const uint8_t *ptr[3];
    int rows[3];
    Planes(int w, int h) : width(w), height(h)
    {
        int cw = (w + 1) / 2, ch = (h + 1) / 2;
        y.assign((size_t)w * h, 0);
        u.assign((size_t)cw * ch, 128);
        v.assign((size_t)cw * ch, 128);
        ptr[0] = y.data(), ptr[1] = u.data(), ptr[2] = v.data();
        rows[0] = w, rows[1] = cw, rows[2] = cw;
    }
    lvYuvConversion Request(void *out, int format, int dw = 0, int dh = 0, int rowLength = 0) const
    {
        lvYuvConversion q{};
        q.planes = ptr;
        q.rowLengths = rows;
        q.destination = out;
        q.sourceWidth = width;
        q.sourceHeight = height;
        q.destWidth = dw ? dw : width;
        q.destHeight = dh ? dh : height;
        q.destRowLength = rowLength ? rowLength : q.destWidth;
        q.pixelFormat = format;
        q.bytesPerPixel = GetPixelFormatBytes(format);
        return q;
    }
};

TEST(VideoYuv, EveryTripleMatchesTheFormulaOnBothPaths)
{
    // One picture per V: each chroma sample's 2 x 2 block and its chroma row give every
    // Y (cy x 4 + block index), each chroma column one U.
    Planes p(512, 128);
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 512; x++) p.y[(size_t)y * 512 + x] = (uint8_t)((y >> 1) * 4 + (y & 1) * 2 + (x & 1));
    for (int cy = 0; cy < 64; cy++)
        for (int cx = 0; cx < 256; cx++) p.u[(size_t)cy * 256 + cx] = (uint8_t)cx;
    bool fast = YuvFastPathAvailable();
    std::vector<uint32_t> scalar(512 * 128), quick(512 * 128);
    long mismatches = 0, fastMismatches = 0;
    for (int v = 0; v < 256; v++) {
        std::fill(p.v.begin(), p.v.end(), (uint8_t)v);
        lvYuvConversion q = p.Request(scalar.data(), PIXFMT_ARGB32);
        ConvertYuv420Scalar(&q);
        if (fast) {
            q.destination = quick.data();
            ConvertYuv420(&q);
            fastMismatches += memcmp(quick.data(), scalar.data(), scalar.size() * 4) != 0;
        }
        for (int y = 0; y < 128; y++)
            for (int x = 0; x < 512; x++) {
                int r, g, b;
                Formula(p.y[(size_t)y * 512 + x], x >> 1, v, &r, &g, &b);
                mismatches += scalar[(size_t)y * 512 + x] != ((uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b);
            }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(fastMismatches, 0);
    if (!fast) GTEST_SKIP() << "no AVX2 on this CPU: the portable rows alone were checked";
}

TEST(VideoYuv, NamedColoursAndClamps)
{
    struct Case {
        int y, u, v, r, g, b;
    } cases[] = {
        {16, 128, 128, 0, 0, 0},     // black
        {235, 128, 128, 255, 255, 255}, // white
        {81, 90, 240, 254, 0, 0},    // BT.601 red
        {255, 255, 128, 255, 229, 255}, // B's raw value passes 511: still 255
        {0, 0, 0, 0, 136, 0},        // R and B negative
        {0, 255, 255, 184, 0, 238},   // G's most negative
    };
    for (const Case &c : cases) {
        int r, g, b;
        YuvToRgb(c.y, c.u, c.v, &r, &g, &b);
        int fr, fg, fb;
        Formula(c.y, c.u, c.v, &fr, &fg, &fb);
        EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({fr, fg, fb})) << c.y << "," << c.u << "," << c.v;
        EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({c.r, c.g, c.b})) << c.y;
    }
}

// Red, blue and green columns (two pixels each) over two rows.
Planes ColourColumns()
{
    Planes p(6, 2);
    const uint8_t ys[] = {81, 81, 41, 41, 145, 145};
    for (int row = 0; row < 2; row++) memcpy(&p.y[(size_t)row * 6], ys, 6);
    p.u = {90, 240, 54};
    p.v = {240, 110, 34};
    p.ptr[1] = p.u.data(), p.ptr[2] = p.v.data();
    return p;
}

TEST(VideoYuv, EveryFormatPacksAsTheRasterEngine)
{
    Planes p = ColourColumns();
    const uint32_t colours[] = {0x00FE0000, 0x000000FF, 0x0000FF01}; // red, blue, green
    for (int format = PIXFMT_RGB15; format <= PIXFMT_ABGR32; format++) {
        int bytes = GetPixelFormatBytes(format);
        const int rowLength = 8; // two pixels of padding, left alone
        for (int scaled = 0; scaled < 2; scaled++) {
            for (int fast = 0; fast < 2; fast++) {
                SetYuvFastPath(fast);
                std::vector<uint8_t> out((size_t)rowLength * 2 * bytes, 0xAB);
                lvYuvConversion q = p.Request(out.data(), format, 0, 0, rowLength);
                if (scaled) ConvertYuv420Scaled(&q);
                else ConvertYuv420(&q);
                for (int y = 0; y < 2; y++)
                    for (int x = 0; x < rowLength; x++) {
                        const uint8_t *px = &out[((size_t)y * rowLength + x) * bytes];
                        if (x >= 6) {
                            EXPECT_EQ(px[0], 0xAB) << "padding written, format " << format;
                            continue;
                        }
                        uint32_t want = ArgbToPixel(colours[x / 2], format, 0);
                        uint8_t expect[4];
                        if (format == PIXFMT_RGB24 || format == PIXFMT_BGR24) {
                            uint32_t c = colours[x / 2];
                            uint8_t r = (uint8_t)(c >> 16), g = (uint8_t)(c >> 8), b = (uint8_t)c;
                            if (format == PIXFMT_RGB24) expect[0] = r, expect[1] = g, expect[2] = b;
                            else expect[0] = b, expect[1] = g, expect[2] = r;
                        } else {
                            memcpy(expect, &want, 4); // little-endian: the low bytes of the word
                        }
                        EXPECT_EQ(0, memcmp(px, expect, (size_t)bytes))
                            << "format " << format << " x " << x << " scaled " << scaled << " fast " << fast;
                    }
            }
        }
    }
    SetYuvFastPath(true);
    // The 32-bit words by hand, red: 0x00RRGGBB, 0xBBGGRR00, 0xRRGGBB00, 0x00BBGGRR.
    const uint32_t red[] = {0x00FE0000, 0x0000FE00, 0xFE000000, 0x000000FE};
    for (int format = PIXFMT_ARGB32; format <= PIXFMT_ABGR32; format++) {
        std::vector<uint32_t> out(12);
        lvYuvConversion q = p.Request(out.data(), format);
        ConvertYuv420(&q);
        EXPECT_EQ(out[0], red[format - PIXFMT_ARGB32]) << format;
    }
}

TEST(VideoYuv, OddSizesReadRoundedUpChromaPlanes)
{
    // 17 x 5: chroma planes of 9 x 3, the last column and row use the last samples.
    for (int fast = 0; fast < 2; fast++) {
        SetYuvFastPath(fast);
        Planes p(17, 5);
        for (size_t i = 0; i < p.y.size(); i++) p.y[i] = (uint8_t)(i * 37);
        for (size_t i = 0; i < p.u.size(); i++) p.u[i] = (uint8_t)(i * 53), p.v[i] = (uint8_t)(255 - i * 29);
        std::vector<uint32_t> out(17 * 5);
        lvYuvConversion q = p.Request(out.data(), PIXFMT_ARGB32);
        ConvertYuv420(&q);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 17; x++) {
                int r, g, b;
                Formula(p.y[(size_t)y * 17 + x], p.u[(size_t)(y / 2) * 9 + x / 2], p.v[(size_t)(y / 2) * 9 + x / 2],
                        &r, &g, &b);
                ASSERT_EQ(out[(size_t)y * 17 + x], (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b)
                    << x << "," << y << " fast " << fast;
            }
    }
    SetYuvFastPath(true);
}

TEST(VideoYuv, DoublingRepeatsEachSampleAndEndsOnTheLastRow)
{
    Planes p(320, 240);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) p.y[(size_t)y * 320 + x] = (uint8_t)(x * 3 + y * 7);
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 160; x++) p.u[(size_t)y * 160 + x] = (uint8_t)(x + y), p.v[(size_t)y * 160 + x] = (uint8_t)(x * 5 - y);
    std::vector<uint32_t> same(320 * 240), big(640 * 480);
    lvYuvConversion q = p.Request(same.data(), PIXFMT_BGRA32);
    ConvertYuv420(&q);
    q = p.Request(big.data(), PIXFMT_BGRA32, 640, 480);
    ConvertYuv420Scaled(&q);
    long wrong = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) wrong += big[(size_t)y * 640 + x] != same[(size_t)(y / 2) * 320 + x / 2];
    EXPECT_EQ(wrong, 0);
    // The last output row is source row 239 (chroma row 119).
    EXPECT_EQ(0, memcmp(&big[(size_t)479 * 640], &big[(size_t)478 * 640], 640 * 4));
    EXPECT_EQ(big[(size_t)479 * 640 + 638], same[(size_t)239 * 320 + 319]);
}

TEST(VideoYuv, TallOutputsStayOnTheLastSourceRow)
{
    // 1080 rows to 30000: the float row walk drifts past row 1079; no row beyond it is read.
    const int w = 8, h = 1080, dh = 30000;
    Planes p(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) p.y[(size_t)y * w + x] = (uint8_t)(y % 200 + 16);
    // The planes end exactly at their last row, so a read past it is a sanitizer error.
    p.y.shrink_to_fit();
    std::vector<uint32_t> out((size_t)w * dh);
    lvYuvConversion q = p.Request(out.data(), PIXFMT_ARGB32, w, dh);
    ConvertYuv420Scaled(&q);
    int r, g, b;
    YuvToRgb(1079 % 200 + 16, 128, 128, &r, &g, &b);
    EXPECT_EQ(out[(size_t)(dh - 1) * w], (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b);
}

TEST(VideoYuv, SameSizeEqualsScaledAtOneToOneForSixteenBitTargets)
{
    Planes p(37, 11);
    for (size_t i = 0; i < p.y.size(); i++) p.y[i] = (uint8_t)(i * 13);
    for (size_t i = 0; i < p.u.size(); i++) p.u[i] = (uint8_t)(i * 71), p.v[i] = (uint8_t)(i * 19 + 40);
    for (int format : {PIXFMT_RGB15, PIXFMT_BGR15SWAP, PIXFMT_RGB16, PIXFMT_BGR16SWAP, PIXFMT_BGR24}) {
        int bytes = GetPixelFormatBytes(format);
        std::vector<uint8_t> a((size_t)37 * 11 * bytes, 0), b((size_t)37 * 11 * bytes, 0xFF);
        lvYuvConversion q = p.Request(a.data(), format);
        ConvertYuv420(&q);
        q.destination = b.data();
        ConvertYuv420Scaled(&q);
        EXPECT_EQ(a, b) << format;
    }
}

// ---- CDXL ----------------------------------------------------------------------------

// A fixture file registered in memory for as long as the scope lives.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    lvMemFile *node = nullptr;
    char name[256] = {};
    explicit MemoryFile(std::vector<uint8_t> data) : bytes(std::move(data))
    {
        node = AddMemoryFile("video.cdxl", 0, bytes.data(), (int64_t)bytes.size(), -1, name, sizeof name);
    }
    ~MemoryFile()
    {
        if (node) RemoveMemoryFile(node);
    }
};

struct Opened {
    lvCdxlReader *reader = nullptr;
    lvVideoStreamInfo info{};
    explicit Opened(const MemoryFile &file)
    {
        info.fileSize = -2;
        reader = OpenCdxl(file.name, &info);
    }
    ~Opened() { CloseCdxl(reader); }
};

std::vector<uint16_t> Ramp(int n)
{
    std::vector<uint16_t> p((size_t)n);
    for (int i = 0; i < n; i++) p[(size_t)i] = (uint16_t)(((i * 5) & 15) << 8 | ((i * 3) & 15) << 4 | (i & 15));
    return p;
}

// The picture of a decoded packet as 0x00RRGGBB words (the reader gives BGRA32).
std::vector<uint32_t> Decode(lvCdxlReader *r, void *packet, int w, int h)
{
    std::vector<uint32_t> frame((size_t)w * h, 0x12345678);
    void *planes[3] = {frame.data(), nullptr, nullptr};
    int32_t rows[3] = {0, 0, 0};
    lvVideoDecodeRequest q{};
    q.planes = planes;
    q.rowLengths = rows;
    EXPECT_EQ(DecodeCdxlFrame(r, packet, &q), 0);
    EXPECT_EQ(rows[0], w * 4);
    EXPECT_EQ(q.presentationTime, -1);
    for (uint32_t &p : frame) p = __builtin_bswap32(p);
    return frame;
}

TEST(VideoCdxl, FrameRatesFollowTheDriveSpeeds)
{
    struct Case {
        int chunk;
        double fps;
    } cases[] = {{12800, 12}, {13000, 153600.0 / 13000}, {25600, 12}, {40000, 7.68}, {51200, 12}};
    for (const Case &c : cases) EXPECT_DOUBLE_EQ(CdxlFramesPerSecond(c.chunk), c.fps) << c.chunk;

    CdxlFixture f;
    f.width = 32, f.height = 16, f.planes = 4, f.palette = Ramp(16), f.audioBytes = 1000, f.chunkSize = 12800;
    f.frames = 24;
    MemoryFile file(MakeCdxl(f));
    Opened o(file);
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.info.width, 32);
    EXPECT_EQ(o.info.height, 16);
    EXPECT_EQ(o.info.durationMs, 2000);
    EXPECT_EQ(o.info.audioRate, 12000);
    EXPECT_EQ(o.info.audioChannels, 1);
    EXPECT_EQ(o.info.pixelOutput, 1);
    EXPECT_EQ(o.info.seekUnit, 0);
    EXPECT_EQ(o.info.flags & LVP_VIDEO_CANSEEK, LVP_VIDEO_CANSEEK);
    EXPECT_EQ(GetCdxlFrameCount(o.reader), 24);
    EXPECT_STREQ(GetCdxlFormatName(), "CDXL");
}

struct PictureCase {
    const char *name;
    int planes, ham, paletteEntries, width, height;
};

TEST(VideoCdxl, PicturesAndSoundEqualTheReference)
{
    const PictureCase cases[] = {
        {"4 planes", 4, 0, 16, 21, 7},
        {"8-plane palette", 8, 0, 256, 33, 5},
        {"HAM6", 6, 1, 16, 40, 6},
        {"HAM8", 8, 1, 64, 19, 9},
        {"short palette", 5, 0, 3, 16, 4}, // pens past the palette are black
    };
    for (const PictureCase &c : cases) {
        SCOPED_TRACE(c.name);
        CdxlFixture f;
        f.width = c.width, f.height = c.height, f.planes = c.planes, f.ham = c.ham;
        f.palette = Ramp(c.paletteEntries);
        f.frames = 5;
        f.audioBytes = 64;
        f.chunkSize = CdxlMinimumChunk(f) + 10; // bytes after the sound are skipped
        MemoryFile file(MakeCdxl(f));
        Opened o(file);
        ASSERT_TRUE(o.reader);
        double fps = CdxlFramesPerSecond(f.chunkSize);
        for (int n = 0; n < f.frames; n++) {
            lvVideoPacketInfo v{};
            ASSERT_EQ(NextCdxlPacket(o.reader, &v), 0);
            ASSERT_EQ(v.audio, 0);
            EXPECT_EQ(v.size, 1080 + c.planes * ((c.width + 15) / 16 * 2) * c.height + c.width * c.height);
            EXPECT_DOUBLE_EQ(v.timeStamp, n / fps);
            EXPECT_EQ(Decode(o.reader, v.packet, c.width, c.height), CdxlReferencePicture(f, n)) << "frame " << n;
            FreeCdxlPacket(v.packet);

            lvVideoPacketInfo a{};
            ASSERT_EQ(NextCdxlPacket(o.reader, &a), 0);
            ASSERT_EQ(a.audio, 1);
            EXPECT_DOUBLE_EQ(a.timeStamp, n / fps);
            std::vector<int16_t> pcm(0x20000);
            lvAudioDecodeRequest q{pcm.data(), 0x40000, 0, 0};
            DecodeCdxlAudio(o.reader, a.packet, &q);
            EXPECT_EQ(q.written, 128);
            EXPECT_EQ(q.done, 1);
            for (int i = 0; i < 64; i++) ASSERT_EQ(pcm[(size_t)i], CdxlSample(f, n, i) * 256) << i;
            FreeCdxlPacket(a.packet);
        }
        lvVideoPacketInfo end{};
        EXPECT_EQ(NextCdxlPacket(o.reader, &end), -1);
    }
}

TEST(VideoCdxl, PaletteEntriesAndHamRowsStartFromBlack)
{
    CdxlFixture f;
    f.width = 16, f.height = 2, f.planes = 6, f.ham = 1, f.frames = 2;
    f.palette = std::vector<uint16_t>(16, 0x0FFF);
    f.palette[0] = 0x0F80;
    // Row 0: pen 0 then pens that modify; row 1 starts by modifying red (control 2, 0xA).
    f.pens = [](int, int x, int y) -> uint8_t {
        if (y == 1) return x == 0 ? (uint8_t)(2 << 4 | 0xA) : (uint8_t)(1 << 4 | 3);
        return x == 0 ? (uint8_t)0 : (uint8_t)(3 << 4 | 1);
    };
    MemoryFile file(MakeCdxl(f));
    Opened o(file);
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.info.audioChannels, 0);
    lvVideoPacketInfo v{};
    ASSERT_EQ(NextCdxlPacket(o.reader, &v), 0);
    std::vector<uint32_t> pic = Decode(o.reader, v.packet, 16, 2);
    FreeCdxlPacket(v.packet);
    EXPECT_EQ(pic[0], 0x00FF8800u);       // 0x0F80
    EXPECT_EQ(pic[1], 0x00FF1000u);       // green modified to 0x10
    EXPECT_EQ(pic[16], 0x00A00000u);      // new red, green and blue from black
    EXPECT_EQ(pic[17], 0x00A00030u);
    // Without sound the next packet is the next picture.
    ASSERT_EQ(NextCdxlPacket(o.reader, &v), 0);
    EXPECT_EQ(v.audio, 0);
    FreeCdxlPacket(v.packet);
}

TEST(VideoCdxl, SeekingLandsOnTheFrameOfTheTime)
{
    CdxlFixture f;
    f.width = 16, f.height = 4, f.planes = 3, f.palette = Ramp(8), f.frames = 10, f.audioBytes = 20;
    f.chunkSize = 12800; // 12 fps
    MemoryFile file(MakeCdxl(f));
    Opened o(file);
    ASSERT_TRUE(o.reader);
    lvVideoPacketInfo v{};
    ASSERT_EQ(NextCdxlPacket(o.reader, &v), 0); // a picture; its sound is pending
    FreeCdxlPacket(v.packet);
    struct Case {
        int ms, frame;
    } cases[] = {{500, 6}, {0, 0}, {100000, 9}, {-300, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(SeekCdxl(o.reader, c.ms, 0), 0);
        ASSERT_EQ(NextCdxlPacket(o.reader, &v), 0);
        EXPECT_EQ(v.audio, 0) << "the pending sound is dropped by a seek";
        EXPECT_DOUBLE_EQ(v.timeStamp, c.frame / 12.0) << c.ms;
        EXPECT_EQ(Decode(o.reader, v.packet, 16, 4), CdxlReferencePicture(f, c.frame)) << c.ms;
        FreeCdxlPacket(v.packet);
    }
}

// A big-endian field of a chunk header set to another value.
struct FieldPatch {
    const char *name;
    size_t at;
    uint32_t value;
    int bytes;
};

void Poke(std::vector<uint8_t> &b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++) b[at + i] = (uint8_t)(v >> (8 * (bytes - 1 - i)));
}

TEST(VideoCdxl, InconsistentFirstChunksAreRefused)
{
    CdxlFixture f;
    f.width = 16, f.height = 4, f.planes = 4, f.palette = Ramp(16), f.audioBytes = 8, f.frames = 3;
    const int chunk = CdxlMinimumChunk(f);
    const FieldPatch cases[] = {
        {"type 2", 0, 2, 1},
        {"chunk size 0", 2, 0, 4},
        {"chunk smaller than its parts", 2, (uint32_t)chunk - 1, 4},
        {"palette of 258 entries", 20, 516, 2},
        {"9 planes", 19, 9, 1},
        {"no planes", 19, 0, 1},
        {"width 0", 14, 0, 2},
        {"height 0", 16, 0, 2},
        {"video bytes past int", 14, 0xFFFF, 2},
        {"second chunk of another size", (size_t)chunk + 2, (uint32_t)chunk + 2, 4},
        {"chunk as big as the file", 2, (uint32_t)chunk * 3, 4},
    };
    for (const FieldPatch &c : cases) {
        std::vector<uint8_t> bytes = MakeCdxl(f);
        Poke(bytes, c.at, c.value, c.bytes);
        if (!strcmp(c.name, "video bytes past int")) {
            // 65535 x 65535 pens: the chunk claims room enough, the sizes overflow int.
            Poke(bytes, 16, 0xFFFF, 2);
            Poke(bytes, 19, 8, 1);
            Poke(bytes, 2, 0x7FFFFFF0, 4);
        }
        MemoryFile file(bytes);
        Opened o(file);
        EXPECT_FALSE(o.reader) << c.name;
    }
    MemoryFile good(MakeCdxl(f));
    Opened o(good);
    EXPECT_TRUE(o.reader);
}

TEST(VideoCdxl, ALaterChunkUnlikeTheFirstEndsTheStream)
{
    CdxlFixture f;
    f.width = 16, f.height = 4, f.planes = 4, f.palette = Ramp(16), f.audioBytes = 8, f.frames = 4;
    const size_t chunk = (size_t)CdxlMinimumChunk(f);
    const FieldPatch cases[] = {
        {"size", 2, (uint32_t)chunk * 2, 4}, {"width", 14, 640, 2},  {"height", 16, 400, 2},
        {"planes", 19, 8, 1},               {"palette", 20, 512, 2}, {"audio", 22, 4000, 2},
    };
    for (const FieldPatch &c : cases) {
        std::vector<uint8_t> bytes = MakeCdxl(f);
        Poke(bytes, chunk * 2 + c.at, c.value, c.bytes); // the third chunk
        MemoryFile file(bytes);
        Opened o(file);
        ASSERT_TRUE(o.reader) << c.name;
        int pictures = 0, result;
        lvVideoPacketInfo p{};
        while ((result = NextCdxlPacket(o.reader, &p)) == 0) {
            if (!p.audio) {
                EXPECT_EQ(Decode(o.reader, p.packet, 16, 4), CdxlReferencePicture(f, pictures)) << c.name;
                pictures++;
            }
            FreeCdxlPacket(p.packet);
        }
        EXPECT_EQ(result, -1) << c.name;
        EXPECT_EQ(pictures, 2) << c.name;
    }
}

TEST(VideoCdxl, SoundTooSparseForARateIsLeftOut)
{
    // One byte of sound a chunk at under one chunk a second: the rate truncates to 0 Hz,
    // which no clock can divide by; the pictures still play.
    CdxlFixture f;
    f.width = 16, f.height = 2, f.planes = 2, f.palette = Ramp(4), f.audioBytes = 1, f.frames = 3;
    f.chunkSize = 700000; // 614400 / 700000 = 0.88 fps: 1 byte a chunk truncates to 0 Hz
    MemoryFile file(MakeCdxl(f));
    Opened o(file);
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.info.audioChannels, 0);
    EXPECT_EQ(o.info.audioRate, 0);
    for (int n = 0; n < 3; n++) {
        lvVideoPacketInfo p{};
        ASSERT_EQ(NextCdxlPacket(o.reader, &p), 0);
        EXPECT_EQ(p.audio, 0);
        EXPECT_EQ(Decode(o.reader, p.packet, 16, 2), CdxlReferencePicture(f, n));
        FreeCdxlPacket(p.packet);
    }
}

TEST(VideoCdxl, TheStreamTableDrivesTheReader)
{
    CdxlFixture f;
    f.width = 16, f.height = 2, f.planes = 2, f.palette = Ramp(4), f.audioBytes = 4, f.frames = 2;
    MemoryFile file(MakeCdxl(f));
    const lvVideoStreamOps *ops = GetCdxlVideoOps();
    lvVideoStreamInfo info{};
    void *h = ops->OpenVideo(file.name, &info);
    ASSERT_TRUE(h);
    EXPECT_EQ(ops->GetVideoFrames(h), 2);
    EXPECT_STREQ(ops->GetVideoFormat(h), "CDXL");
    int packets = 0;
    lvVideoPacketInfo p{};
    while (ops->NextPacket(h, &p) == 0) {
        packets++;
        ops->FreePacket(p.packet);
    }
    EXPECT_EQ(packets, 4);
    EXPECT_EQ(ops->SeekVideo(h, 0, 0), 0);
    EXPECT_EQ(ops->NextPacket(h, &p), 0);
    ops->FreePacket(p.packet);
    ops->CloseVideo(h);
    // Static layout of the records shared with plug-ins.
    static_assert(sizeof(lvVideoStreamInfo) == 72 && offsetof(lvVideoStreamInfo, frameDuration) == 40 &&
                      offsetof(lvVideoStreamInfo, fileSize) == 48 && offsetof(lvVideoStreamInfo, userTags) == 64,
                  "stream info");
    static_assert(sizeof(lvVideoPacketInfo) == 32 && offsetof(lvVideoPacketInfo, timeStamp) == 24, "packet");
    static_assert(sizeof(lvVideoDecodeRequest) == 40 && offsetof(lvVideoDecodeRequest, presentationTime) == 32,
                  "decode");
    static_assert(sizeof(lvAudioDecodeRequest) == 24 && offsetof(lvAudioDecodeRequest, done) == 16, "audio");
}

// The ffmpeg tool's own CDXL decoder as a second reference, where it is installed. A HAM
// modify value widens to 8 bits by a shift here (as in ILBM pictures: x 16 or x 4) and by
// repeating its bits there (x 17, or the top bits again), so a modified component may
// sit lower by up to the value's own width; palette colours agree exactly.
TEST(VideoCdxl, FramesEqualFfmpegsDecode)
{
    if (system("ffmpeg -hide_banner -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg tool";
    struct Case {
        const char *name;
        int planes, ham, entries, slack;
    } cases[] = {{"palette", 5, 0, 32, 0}, {"HAM6", 6, 1, 16, 15}, {"HAM8", 8, 1, 64, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CdxlFixture f;
        f.width = 32, f.height = 8, f.planes = c.planes, f.ham = c.ham, f.palette = Ramp(c.entries);
        f.frames = 3;
        f.audioBytes = 100;
        char dir[] = "/tmp/lvcdxlXXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        std::string in = std::string(dir) + "/in.cdxl", out = std::string(dir) + "/out.rgb";
        std::vector<uint8_t> bytes = MakeCdxl(f);
        FILE *w = fopen(in.c_str(), "wb");
        ASSERT_TRUE(w);
        fwrite(bytes.data(), 1, bytes.size(), w);
        fclose(w);
        std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -f cdxl -i " + in +
                          " -f rawvideo -pix_fmt rgb24 " + out;
        ASSERT_EQ(system(cmd.c_str()), 0);
        std::vector<uint8_t> rgb;
        if (FILE *r = fopen(out.c_str(), "rb")) {
            int ch;
            while ((ch = fgetc(r)) != EOF) rgb.push_back((uint8_t)ch);
            fclose(r);
        }
        ASSERT_EQ(rgb.size(), (size_t)3 * 32 * 8 * 3);
        MemoryFile file(bytes);
        Opened o(file);
        ASSERT_TRUE(o.reader);
        for (int n = 0, seen = 0; seen < 3;) {
            lvVideoPacketInfo p{};
            ASSERT_EQ(NextCdxlPacket(o.reader, &p), 0);
            if (!p.audio) {
                std::vector<uint32_t> ours = Decode(o.reader, p.packet, 32, 8);
                for (int i = 0; i < 32 * 8; i++) {
                    const uint8_t *px = &rgb[((size_t)n * 256 + i) * 3];
                    for (int k = 0; k < 3; k++) {
                        int mine = (int)(ours[(size_t)i] >> (16 - 8 * k) & 0xFF), theirs = px[k];
                        ASSERT_TRUE(mine <= theirs && theirs - mine <= c.slack)
                            << "frame " << n << " pixel " << i << " component " << k << ": " << mine << " vs "
                            << theirs;
                    }
                }
                n++, seen++;
            }
            FreeCdxlPacket(p.packet);
        }
        std::remove(in.c_str());
        std::remove(out.c_str());
        rmdir(dir);
    }
}

} // namespace
