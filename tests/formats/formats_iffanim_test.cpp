// formats_iffanim_test.cpp - the IFF ANIM reader against hand-built deltas of every method
// (with their expected planes worked out by hand) and against faulty deltas, and the
// writer in round trips and in its bytes.
#include "formats/lviffanim.h"
#include "formats/lvilbm.h"
#include "base/lverrors.h"
#include "tests/formats/anim_builder.h"
#include "tests/formats/formats_fixtures.h"
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Reader {
    lvIffAnimReader *r = nullptr;
    int width = 0, height = 0, frames = 0;
    Reader(const std::string &path, int paletteMode = 1, int transparency = 0, int deinterlace = 0)
    {
        if (lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr))
            r = OpenIffAnimReader(f, deinterlace, paletteMode, transparency, &width, &height, &frames);
    }
    ~Reader() { CloseIffAnimReader(r); }
    // Pens of a frame (palette mode), empty when it cannot be decoded.
    Bytes Pens(int frame, std::vector<uint32_t> *palette = nullptr, int *pen = nullptr)
    {
        uint32_t *pal = nullptr;
        int depth, tp;
        uint8_t *p = (uint8_t *)GetIffAnimFrame(r, frame, &pal, &depth, &tp);
        Bytes out;
        if (p) out.assign(p, p + (size_t)width * height);
        if (palette && pal) palette->assign(pal, pal + 256);
        if (pen) *pen = tp;
        FreeMemory(p);
        FreeMemory(pal);
        return out;
    }
};

// One plane of 32 x 4 (4 bytes a row) given as its 16 bytes, as pens.
Bytes PlanePens(const Bytes &plane, int width = 32, int height = 4)
{
    int rowBytes = IlbmRowBytes(width);
    Bytes pens((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) pens[(size_t)y * width + x] = plane[(size_t)y * rowBytes + x / 8] >> (7 - x % 8) & 1;
    return pens;
}

IffFixture Blank(int width = 32, int height = 4, int planes = 1)
{
    IffFixture f;
    f.width = width, f.height = height, f.planes = planes;
    f.cmap = {0x000000, 0xFFFFFF};
    f.pixels.assign((size_t)width * height, 0);
    return f;
}

AnimDeltaFrame Delta(int op, Bytes dlta, int interleave = 0, uint32_t bits = 0)
{
    AnimDeltaFrame d;
    d.operation = op, d.dlta = std::move(dlta), d.interleave = interleave, d.bits = bits;
    return d;
}

Bytes Be16s(std::initializer_list<int> words)
{
    Bytes b;
    for (int w : words) IffPut16(b, w);
    return b;
}
Bytes Be32s(std::initializer_list<uint32_t> words)
{
    Bytes b;
    for (uint32_t w : words) IffPut32(b, w);
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes b;
    for (const Bytes &p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// ============================================================================
// Reading hand-built deltas
// ============================================================================

TEST(IffAnimReader, EveryMethodDecodesToItsHandComputedPlane)
{
    ScratchDir dir;
    struct Case {
        const char *name;
        AnimDeltaFrame delta;
        Bytes plane;  // 16 bytes: 4 rows of 4
    };
    std::vector<Case> cases = {
        {"method 5: literal, skip then literal, run, untouched column",
         Delta(5, AnimDlta({{1, 0x82, 0xFF, 0x0F, /**/ 2, 0x02, 0x81, 0xAA, /**/ 1, 0, 4, 0x55, /**/ 0}})),
         {0xFF, 0, 0x55, 0, 0x0F, 0, 0x55, 0, 0, 0xAA, 0x55, 0, 0, 0, 0x55, 0}},
        {"method 7, 16-bit columns: values from the data list",
         Delta(7, AnimDlta({{1, 0x81, /**/ 1, 0, 2}}, {Be16s({0x1234, 0xBEEF})})),
         {0x12, 0x34, 0xBE, 0xEF, 0, 0, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"method 7, 32-bit columns",
         Delta(7, AnimDlta({{2, 0x03, 0x81}}, {Be32s({0xA1B2C3D4})}), 0, 1),
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0xB2, 0xC3, 0xD4}},
        {"method 8, 32-bit words: skip, copy two",
         Delta(8, AnimDlta({Be32s({2, 1, 0x80000002u, 0x11223344, 0x55667788})}), 0, 1),
         {0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0, 0, 0, 0}},
        {"method 8, 16-bit words: run in the second column",
         Delta(8, AnimDlta({Be16s({0, /**/ 1, 0, 3, 0x0F0F})})),
         {0, 0, 0x0F, 0x0F, 0, 0, 0x0F, 0x0F, 0, 0, 0x0F, 0x0F, 0, 0, 0, 0}},
        {"method 100: a repeat group",
         Delta(100, AnimDlta({Be32s({1, 2, 8, 0xDEADBEEF})})),
         {0, 0, 0, 0, 0, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0xDE, 0xAD, 0xBE, 0xEF}},
        {"method 101: a copy group and a repeat group",
         Delta(101, AnimDlta({Cat({Be16s({2, 0xFFFE}), Be32s({4}), Be16s({0xCAFE, 0xF00D, 3}), Be32s({2}),
                                   Be16s({0x0101})})})),
         {0, 0, 1, 1, 0xCA, 0xFE, 1, 1, 0xF0, 0x0D, 1, 1, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        // Copies of the delta: methods 100 and 101 end with two loop frames.
        WriteBytes(dir.File("a.anim"), MakeAnim(Blank(), {c.delta, c.delta, c.delta, c.delta}));
        Reader r(dir.File("a.anim"));
        ASSERT_TRUE(r.r) << c.name;
        EXPECT_EQ(r.Pens(0), Bytes(128, 0)) << c.name;
        EXPECT_EQ(r.Pens(1), PlanePens(c.plane)) << c.name;
    }
}

TEST(IffAnimReader, InterleaveOneXorsIntoThePreviousFrame)
{
    ScratchDir dir;
    Bytes set = AnimDlta({{1, 0x82, 0xF0, 0xF0, 0, 0, 0}});   // column 0 rows 0-1
    Bytes flip = AnimDlta({{1, 0x81, 0xFF, 0, 0, 0}});        // column 0 row 0
    WriteBytes(dir.File("x.anim"), MakeAnim(Blank(), {Delta(5, set, 1), Delta(5, flip, 1)}));
    Reader r(dir.File("x.anim"));
    ASSERT_TRUE(r.r);
    Bytes one(16, 0), two(16, 0);
    one[0] = 0xF0, one[4] = 0xF0;
    two[0] = 0x0F, two[4] = 0xF0;
    EXPECT_EQ(r.Pens(1), PlanePens(one));
    EXPECT_EQ(r.Pens(2), PlanePens(two));
    // Played again from the start, the XOR lands on the same planes.
    EXPECT_EQ(r.Pens(1), PlanePens(one));
}

TEST(IffAnimReader, DeltasAlternateBuffersAndRewindWhenGoingBack)
{
    ScratchDir dir;
    std::vector<AnimDeltaFrame> frames;
    for (int i = 1; i <= 6; i++) frames.push_back(Delta(5, AnimDlta({{1, 0x81, (uint8_t)i, 0, 0, 0}})));
    WriteBytes(dir.File("c.anim"), MakeAnim(Blank(), frames));
    Reader r(dir.File("c.anim"));
    ASSERT_TRUE(r.r);
    EXPECT_EQ(r.frames, 7);
    auto firstByte = [&](int frame) {
        Bytes p = r.Pens(frame);
        int v = 0;
        for (int x = 0; x < 8; x++) v = v << 1 | p[(size_t)x];
        return v;
    };
    int64_t before = GetIffAnimDeltaCount(r.r);
    EXPECT_EQ(firstByte(0), 0);
    EXPECT_EQ(GetIffAnimDeltaCount(r.r) - before, 0);
    EXPECT_EQ(firstByte(1), 1);
    EXPECT_EQ(GetIffAnimDeltaCount(r.r) - before, 1);
    EXPECT_EQ(firstByte(2), 2);
    EXPECT_EQ(GetIffAnimDeltaCount(r.r) - before, 2);
    EXPECT_EQ(firstByte(5), 5);
    EXPECT_EQ(GetIffAnimDeltaCount(r.r) - before, 5);
    EXPECT_EQ(firstByte(1), 1);
    EXPECT_EQ(GetIffAnimDeltaCount(r.r) - before, 6) << "frame 1 after frame 5: a rewind and one delta";
}

TEST(IffAnimReader, FrameCountFromDpanOrFormsAndLoopFrames)
{
    ScratchDir dir;
    Bytes d5 = AnimDlta({{0, 0, 0, 0}});
    Bytes d100 = AnimDlta({Be32s({0})});
    struct Case {
        const char *name;
        Bytes file;
        int frames;
    };
    std::vector<Case> cases = {
        {"FORM count", MakeAnim(Blank(), {Delta(5, d5), Delta(5, d5), Delta(5, d5)}), 4},
        {"DPAN count wins", MakeAnim(Blank(), {Delta(5, d5), Delta(5, d5), Delta(5, d5)}, 9), 9},
        {"method 100: the last two are loop frames",
         MakeAnim(Blank(), {Delta(100, d100), Delta(100, d100), Delta(100, d100), Delta(100, d100), Delta(100, d100)}), 4},
    };
    for (const Case &c : cases) {
        WriteBytes(dir.File("n.anim"), c.file);
        Reader r(dir.File("n.anim"));
        ASSERT_TRUE(r.r) << c.name;
        EXPECT_EQ(r.frames, c.frames) << c.name;
    }
    // A DPAN that claims more frames than there are: the missing ones are no frame.
    WriteBytes(dir.File("n.anim"), cases[1].file);
    Reader r(dir.File("n.anim"));
    EXPECT_FALSE(r.Pens(3).empty());
    EXPECT_TRUE(r.Pens(5).empty());
    EXPECT_FALSE(r.Pens(2).empty()) << "a failed frame leaves the reader usable";
}

TEST(IffAnimReader, FieldDeltasRebuildWholeFrames)
{
    ScratchDir dir;
    // Field deltas: rows two apart. Frame 1 carries the odd rows, frame 2 the even ones.
    Bytes odd = AnimDlta({Cat({Be16s({1, 0xFFFE}), Be32s({4}), Be16s({0xAAAA, 0xBBBB})})});
    Bytes even = AnimDlta({Cat({Be16s({1, 0xFFFE}), Be32s({0}), Be16s({0xCCCC, 0xDDDD})})});
    std::vector<AnimDeltaFrame> frames = {Delta(101, odd, 0, 0x40), Delta(101, even, 0, 0x40),
                                          Delta(101, odd, 0, 0x40), Delta(101, even, 0, 0x40)};
    WriteBytes(dir.File("f.anim"), MakeAnim(Blank(), frames));
    {
        Reader r(dir.File("f.anim"));
        ASSERT_TRUE(r.r);
        EXPECT_EQ(r.frames, 3) << "two loop frames";
        Bytes one = {0, 0, 0, 0, 0xAA, 0xAA, 0, 0, 0, 0, 0, 0, 0xBB, 0xBB, 0, 0};
        EXPECT_EQ(r.Pens(1), PlanePens(one));
        // Frame 2's odd rows are frame 1's: the field it did not carry.
        Bytes two = {0xCC, 0xCC, 0, 0, 0xAA, 0xAA, 0, 0, 0xDD, 0xDD, 0, 0, 0xBB, 0xBB, 0, 0};
        EXPECT_EQ(r.Pens(2), PlanePens(two));
    }
    {
        Reader r(dir.File("f.anim"), 1, 0, 1);
        ASSERT_TRUE(r.r);
        // Line doubling: the rows frame 1 did not carry are copies of their neighbours.
        Bytes one = {0xAA, 0xAA, 0, 0, 0xAA, 0xAA, 0, 0, 0xAA, 0xAA, 0, 0, 0xBB, 0xBB, 0, 0};
        EXPECT_EQ(r.Pens(1), PlanePens(one));
    }
}

TEST(IffAnimReader, DeltasOutsideTheirChunkOrPlanesGiveNoFrame)
{
    ScratchDir dir;
    struct Case {
        const char *name;
        AnimDeltaFrame delta;
    };
    Bytes offsetPastEnd(64, 0);
    offsetPastEnd[3] = 200;
    std::vector<Case> cases = {
        {"plane offset past the DLTA", Delta(5, offsetPastEnd)},
        {"method 5: op count larger than the ops", Delta(5, AnimDlta({{200, 0x81}}))},
        {"method 5: skip past the plane, then a write", Delta(5, AnimDlta({{2, 0x7F, 0x81, 1}}))},
        {"method 5: run longer than the column", Delta(5, AnimDlta({{1, 0, 200, 1}}))},
        {"method 5: literal past the plane", Delta(5, AnimDlta({{1, 0xFF, 1, 2, 3}}))},
        {"method 7: data list past the DLTA", Delta(7, AnimDlta({{1, 0x81}}, {Bytes{}}))},
        {"method 7: data list too short", Delta(7, AnimDlta({{1, 0x82}}, {Bytes{1, 2}}))},
        {"method 8: skip past the plane", Delta(8, AnimDlta({Be16s({2, 0x7000, 0x8001, 5})}))},
        {"method 100: offset outside the plane", Delta(100, AnimDlta({Be32s({1, 1, 0xFFFFFF, 7})}))},
        {"method 100: copy count past the DLTA", Delta(100, AnimDlta({Be32s({1, 0xFFFFFFF0u, 0, 7})}))},
        {"method 101: offset at the plane's last byte", Delta(101, AnimDlta({Cat({Be16s({1, 1}), Be32s({15}), Be16s({7})})}))},
        {"method 101: group count past the DLTA", Delta(101, AnimDlta({Be16s({0x7FFF})}))},
        {"DLTA shorter than its offsets", Delta(5, Bytes(20, 0))},
    };
    for (const Case &c : cases) {
        WriteBytes(dir.File("bad.anim"), MakeAnim(Blank(), {c.delta, c.delta}));
        Reader r(dir.File("bad.anim"));
        ASSERT_TRUE(r.r) << c.name;
        EXPECT_TRUE(r.Pens(1).empty()) << c.name;
        EXPECT_EQ(r.Pens(0), Bytes(128, 0)) << c.name;
    }
}

TEST(IffAnimReader, RefusesWhatItCannotPlay)
{
    ScratchDir dir;
    Bytes d5 = AnimDlta({{0, 0, 0, 0}});
    IffFixture nine = Blank();
    nine.planes = 9;
    IffFixture ham = Blank(32, 4, 6);
    ham.camg = 0x800;
    struct Case {
        const char *name;
        Bytes file;
        int paletteMode;
    };
    std::vector<Case> cases = {
        {"unknown delta method", MakeAnim(Blank(), {Delta(4, d5)}), 1},
        {"no second frame", MakeAnim(Blank(), {}), 1},
        {"more than 8 planes", MakeAnim(nine, {Delta(5, d5)}), 1},
        {"HAM in palette mode", MakeAnim(ham, {Delta(5, d5)}), 1},
        {"a plain ILBM", MakeIff(Blank()), 0},
    };
    for (const Case &c : cases) {
        WriteBytes(dir.File("r.anim"), c.file);
        Reader r(dir.File("r.anim"), c.paletteMode);
        EXPECT_FALSE(r.r) << c.name;
    }
    WriteBytes(dir.File("r.anim"), MakeAnim(ham, {Delta(5, d5)}));
    Reader argb(dir.File("r.anim"), 0);
    EXPECT_TRUE(argb.r) << "HAM plays in ARGB mode";
}

TEST(IffAnimReader, PaletteChangesAndTransparency)
{
    ScratchDir dir;
    IffFixture f = Blank(32, 4, 2);
    f.cmap = {0x000000, 0x112233, 0x445566, 0x778899};
    f.masking = 2, f.transparent = 1;
    f.pixels[0] = 1, f.pixels[1] = 2;
    AnimDeltaFrame d = Delta(5, AnimDlta({{0, 0, 0, 0}}));
    d.cmap = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    WriteBytes(dir.File("p.anim"), MakeAnim(f, {d, Delta(5, AnimDlta({{0, 0, 0, 0}}))}, -1, 30));
    Reader r(dir.File("p.anim"), 1, 1);
    ASSERT_TRUE(r.r);
    std::vector<uint32_t> pal;
    int pen = 0;
    r.Pens(0, &pal, &pen);
    EXPECT_EQ(pal[1], 0x112233u);
    EXPECT_EQ(pen, 1);
    r.Pens(1, &pal);
    EXPECT_EQ(pal[1], 0x00FF00u);
    r.Pens(0, &pal);
    EXPECT_EQ(pal[1], 0x112233u) << "frame 0 has the first frame's palette";
    EXPECT_EQ(GetIffAnimDelay(r.r, 0), 500);

    Reader a(dir.File("p.anim"), 0, 1);
    ASSERT_TRUE(a.r);
    int depth, tp;
    uint32_t *argb = (uint32_t *)GetIffAnimFrame(a.r, 0, nullptr, &depth, &tp);
    ASSERT_TRUE(argb);
    EXPECT_EQ(tp, -2);
    EXPECT_EQ(argb[0], 0x112233u) << "the key pen is clear";
    EXPECT_EQ(argb[1], 0xFF445566u);
    FreeMemory(argb);
}

// ============================================================================
// Writing
// ============================================================================

struct Chunk {
    std::string id;
    size_t at;  // of the payload
    uint32_t size;
};

uint32_t ReadBe32(const Bytes &b, size_t at) { return (uint32_t)b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; }

// The frames' chunks, by an IFF walk of our own.
std::vector<std::vector<Chunk>> WalkAnim(const Bytes &b)
{
    std::vector<std::vector<Chunk>> frames;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "FORM");
    EXPECT_EQ(ReadBe32(b, 4), b.size() - 8);
    size_t at = 12;
    while (at + 12 <= b.size()) {
        EXPECT_EQ(std::string(b.begin() + at, b.begin() + at + 4), "FORM");
        uint32_t size = ReadBe32(b, at + 4);
        size_t end = at + 8 + size;
        EXPECT_LE(end, b.size());
        std::vector<Chunk> chunks;
        for (size_t c = at + 12; c + 8 <= end;) {
            uint32_t n = ReadBe32(b, c + 4);
            chunks.push_back({std::string(b.begin() + c, b.begin() + c + 4), c + 8, n});
            c += 8 + n + (n & 1);
        }
        frames.push_back(chunks);
        at = end + (size & 1);
    }
    EXPECT_EQ(at, b.size());
    return frames;
}

TEST(IffAnimWriter, TwentyFramesWithPaletteChangesRoundTrip)
{
    ScratchDir dir;
    const int w = 37, h = 23, depth = 3;
    std::vector<Bytes> pens;
    std::vector<std::vector<uint32_t>> palettes;
    lvIffAnimWriter *writer = nullptr;
    ASSERT_EQ(OpenIffAnimWriter(dir.File("rt.anim").c_str(), nullptr, nullptr, w, h, &writer), 0);
    uint32_t seed = 7;
    for (int f = 0; f < 20; f++) {
        Bytes p((size_t)w * h);
        for (size_t i = 0; i < p.size(); i++) {
            seed = seed * 1103515245 + 12345;
            // Mostly still, with a moving band and scattered changes.
            p[i] = (uint8_t)(((int)(i % w) / 5 == f % 7 || (seed >> 16) % 11 == 0) ? (seed >> 20) & 7 : (i / w) & 7);
        }
        std::vector<uint32_t> pal(8);
        for (int i = 0; i < 8; i++) pal[(size_t)i] = (uint32_t)(i * 0x202020 + (f / 4) * 0x010203);
        ASSERT_EQ(WriteIffAnimPens(writer, p.data(), w, f * 20, pal.data(), depth, -1), 0) << f;
        pens.push_back(p), palettes.push_back(pal);
    }
    ASSERT_EQ(FinishIffAnimWriter(writer), 0);

    Bytes file = ReadBytes(dir.File("rt.anim"));
    auto frames = WalkAnim(file);
    ASSERT_EQ(frames.size(), 20u);
    int cmaps = 0;
    for (auto &chunks : frames)
        for (auto &c : chunks) cmaps += c.id == "CMAP";
    EXPECT_EQ(cmaps, 5) << "a CMAP only where the palette changed";

    for (int order = 0; order < 2; order++) {
        Reader r(dir.File("rt.anim"));
        ASSERT_TRUE(r.r);
        ASSERT_EQ(r.frames, 20);
        ASSERT_EQ(r.width, w);
        for (int k = 0; k < 20; k++) {
            int f = order ? (k * 7) % 20 : k;
            std::vector<uint32_t> pal;
            EXPECT_EQ(r.Pens(f, &pal), pens[(size_t)f]) << "frame " << f;
            EXPECT_EQ(std::vector<uint32_t>(pal.begin(), pal.begin() + 8), palettes[(size_t)f]) << "frame " << f;
            EXPECT_EQ(GetIffAnimDelay(r.r, f), (int)(f * 20 / 1000.0 * 60) * 1000 / 60);
        }
    }
}

TEST(IffAnimWriter, DelaysSameFramesAndDepth)
{
    ScratchDir dir;
    const int w = 16, h = 8;
    Bytes a((size_t)w * h, 1), b((size_t)w * h, 2);
    uint32_t pal[4] = {0, 0xFF0000, 0x00FF00, 0x0000FF};
    lvIffAnimWriter *writer = nullptr;
    ASSERT_EQ(OpenIffAnimWriter(dir.File("d.anim").c_str(), nullptr, nullptr, w, h, &writer), 0);
    ASSERT_EQ(WriteIffAnimPens(writer, a.data(), w, 1000, pal, 2, -1), 0);
    ASSERT_EQ(WriteIffAnimPens(writer, b.data(), w, 1000, pal, 2, -1), 0);
    ASSERT_EQ(WriteIffAnimPens(writer, a.data(), w, 1000, pal, 2, -1), 0);
    EXPECT_EQ(WriteIffAnimPens(writer, a.data(), w, 1000, pal, 3, -1), ERR_WRONGUSAGE) << "a change of depth";
    ASSERT_EQ(FinishIffAnimWriter(writer), 0);

    Bytes file = ReadBytes(dir.File("d.anim"));
    auto frames = WalkAnim(file);
    ASSERT_EQ(frames.size(), 3u);
    for (auto &chunks : frames)
        for (auto &c : chunks)
            if (c.id == "ANHD") {
                EXPECT_EQ(ReadBe32(file, c.at + 14), 60u) << "1000 ms is 60 sixtieths";
            }
    // Frame 2 equals frame 0, the frame two back: every plane unchanged.
    const Chunk *dlta = nullptr;
    for (auto &c : frames[2]) if (c.id == "DLTA") dlta = &c;
    ASSERT_TRUE(dlta);
    EXPECT_EQ(dlta->size, 64u);
    EXPECT_EQ(Bytes(file.begin() + dlta->at, file.begin() + dlta->at + 64), Bytes(64, 0));
    Reader r(dir.File("d.anim"));
    ASSERT_TRUE(r.r);
    EXPECT_EQ(r.Pens(2), a);
    EXPECT_EQ(GetIffAnimDelay(r.r, 1), 1000);

    lvIffAnimWriter *deep = nullptr;
    ASSERT_EQ(OpenIffAnimWriter(dir.File("e.anim").c_str(), nullptr, nullptr, w, h, &deep), 0);
    EXPECT_EQ(WriteIffAnimPens(deep, a.data(), w, 0, pal, 9, -1), ERR_WRONGUSAGE);
    EXPECT_EQ(FinishIffAnimWriter(deep), 0);
    EXPECT_EQ(ReadBytes(dir.File("e.anim")).size(), 12u) << "no frame: the header only";
}

TEST(IffAnimWriter, TallColumnsKeepTheirOpCountInAByte)
{
    ScratchDir dir;
    // Every third row changes: without a limit a column would need more than 255 ops.
    const int w = 8, h = 2000;
    Bytes a((size_t)w * h, 0), b = a;
    for (int y = 0; y < h; y += 3) b[(size_t)y * w] = 1;
    uint32_t pal[2] = {0, 0xFFFFFF};
    lvIffAnimWriter *writer = nullptr;
    ASSERT_EQ(OpenIffAnimWriter(dir.File("t.anim").c_str(), nullptr, nullptr, w, h, &writer), 0);
    ASSERT_EQ(WriteIffAnimPens(writer, a.data(), w, 0, pal, 1, -1), 0);
    ASSERT_EQ(WriteIffAnimPens(writer, b.data(), w, 0, pal, 1, -1), 0);
    ASSERT_EQ(FinishIffAnimWriter(writer), 0);
    Reader r(dir.File("t.anim"));
    ASSERT_TRUE(r.r);
    EXPECT_EQ(r.Pens(1), b);
}

TEST(IffAnimWriter, ReportsFailedWritesAndOpens)
{
    ScratchDir dir;
    lvIffAnimWriter *writer = nullptr;
    EXPECT_EQ(OpenIffAnimWriter(dir.File("no/such/dir.anim").c_str(), nullptr, nullptr, 8, 8, &writer),
              ERR_WRITEFILE);
    EXPECT_EQ(OpenIffAnimWriter(dir.File("z.anim").c_str(), nullptr, nullptr, 0, 8, &writer), ERR_WRONGUSAGE);
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    ASSERT_EQ(OpenIffAnimWriter("/dev/full", nullptr, nullptr, 64, 64, &writer), 0);
    Bytes pens(64 * 64, 1);
    uint32_t pal[2] = {0, 1};
    int code = 0;
    for (int f = 0; f < 40 && !code; f++) {
        pens[(size_t)f] ^= 1;
        code = WriteIffAnimPens(writer, pens.data(), 64, 0, pal, 1, -1);
    }
    int finished = FinishIffAnimWriter(writer);
    EXPECT_TRUE(code == ERR_WRITE || finished == ERR_WRITE || finished == ERR_CLOSEFILE)
        << "a full disk is not success: " << code << " " << finished;
}

}  // namespace
