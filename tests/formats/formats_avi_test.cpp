// formats_avi_test.cpp - the AVI reader against files of a test-side RIFF builder (DIB
// rows bottom-up, tight and padded; MJPEG frames from libjpeg-turbo with their Huffman
// tables stripped and an "AVI1" APP0; idx1 with absolute and relative offsets), and the
// MJPEG writer's files checked by a RIFF walk of the test's own.
#include "formats/lvavi.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace {

void Le32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}
void Le16(Bytes &b, int v) { b.push_back((uint8_t)v), b.push_back((uint8_t)(v >> 8)); }
uint32_t Get32(const Bytes &b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24; }
uint64_t Get64(const Bytes &b, size_t at) { return Get32(b, at) | (uint64_t)Get32(b, at + 4) << 32; }
std::string Id(const Bytes &b, size_t at) { return std::string(b.begin() + (long)at, b.begin() + (long)at + 4); }

Bytes Chunk(const char *id, const Bytes &data)
{
    Bytes b(id, id + 4);
    Le32(b, (uint32_t)data.size());
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
Bytes List(const char *type, const Bytes &content)
{
    Bytes inner(type, type + 4);
    inner.insert(inner.end(), content.begin(), content.end());
    return Chunk("LIST", inner);
}

struct AviFixture {
    int width = 8, height = 4;
    const char *handler = "MJPG";
    int bits = 24;
    uint32_t totalFrames = 0;  // 0: the frame count
    std::vector<Bytes> frames;
    enum { NoIndex, Absolute, Relative } index = Absolute;
    std::vector<Bytes> extraIdx1;  // 16-byte entries added before the real ones
    bool audio = true;
};

Bytes MakeAvi(const AviFixture &f)
{
    Bytes avih;
    Le32(avih, 40000), Le32(avih, 0), Le32(avih, 0), Le32(avih, 16);
    Le32(avih, f.totalFrames ? f.totalFrames : (uint32_t)f.frames.size());
    Le32(avih, 0), Le32(avih, f.audio ? 2 : 1), Le32(avih, 0), Le32(avih, (uint32_t)f.width), Le32(avih, (uint32_t)f.height);
    avih.resize(56, 0);
    Bytes hdrl = Chunk("avih", avih);
    if (f.audio) {
        Bytes strh = {'a', 'u', 'd', 's', 0, 0, 0, 0};
        strh.resize(56, 0);
        Bytes strf;
        Le16(strf, 1), Le16(strf, 2), Le32(strf, 44100), Le32(strf, 176400), Le16(strf, 4), Le16(strf, 16);
        hdrl = hdrl + List("strl", Chunk("strh", strh) + Chunk("strf", strf));
    }
    Bytes strh = {'v', 'i', 'd', 's'};
    strh.insert(strh.end(), f.handler, f.handler + 4);
    strh.resize(56, 0);
    Bytes strf;
    Le32(strf, 40), Le32(strf, (uint32_t)f.width), Le32(strf, (uint32_t)f.height), Le16(strf, 1), Le16(strf, f.bits);
    strf.insert(strf.end(), f.handler, f.handler + 4);
    strf.resize(40, 0);
    hdrl = hdrl + List("strl", Chunk("strh", strh) + Chunk("strf", strf));
    Bytes head = {'A', 'V', 'I', ' '};
    head = head + List("hdrl", hdrl);
    size_t moviAt = 8 + head.size() + 8;  // the "movi" fourcc
    Bytes movi, idx1;
    for (auto &e : f.extraIdx1) idx1 = idx1 + e;
    const char *videoId = f.audio ? "01dc" : "00dc";
    for (const Bytes &frame : f.frames) {
        if (f.audio) movi = movi + Chunk("00wb", Bytes(16, 0));
        size_t at = moviAt + 4 + movi.size();
        uint32_t offset = f.index == AviFixture::Relative ? (uint32_t)(at - moviAt) : (uint32_t)at;
        idx1.insert(idx1.end(), videoId, videoId + 4);
        Le32(idx1, 16), Le32(idx1, offset), Le32(idx1, (uint32_t)frame.size());
        movi = movi + Chunk(videoId, frame);
    }
    head = head + List("movi", movi);
    if (f.index != AviFixture::NoIndex) head = head + Chunk("idx1", idx1);
    return Chunk("RIFF", head);
}

struct Reader {
    lvAviReader *r = nullptr;
    int width = 0, height = 0, frames = 0;
    explicit Reader(const std::string &path)
    {
        if (lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr)) r = OpenAviReader(f, &width, &height, &frames);
    }
    ~Reader() { CloseAviReader(r); }
    std::vector<uint32_t> Frame(int n)
    {
        uint32_t *p = DecodeAviFrame(r, n);
        std::vector<uint32_t> out;
        if (p) out.assign(p, p + (size_t)width * height);
        FreeMemory(p);
        return out;
    }
};

// A JPEG without its DHT segments and with "AVI1" in its APP0, as MJPEG streams hold them.
Bytes AsMjpeg(const Bytes &jpeg)
{
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
        size_t n = (size_t)(jpeg[i + 2] << 8 | jpeg[i + 3]) + 2;
        if (jpeg[i + 1] != 0xC4) out.insert(out.end(), jpeg.begin() + (long)i, jpeg.begin() + (long)(i + n));
        i += n;
    }
    out.insert(out.end(), jpeg.begin() + (long)i, jpeg.end());
    if (Id(out, 6) == "JFIF") std::memcpy(out.data() + 6, "AVI1", 4);
    return out;
}

Bytes EightByEightJpeg()
{
    JpegFixture j;
    j.width = 8, j.height = 8;
    return MakeJpeg(j);
}

std::vector<uint32_t> Reference(const Bytes &jpeg)
{
    int w, h;
    std::vector<uint8_t> rgb;
    EXPECT_TRUE(ReferenceJpegRgb(jpeg, &w, &h, &rgb));
    std::vector<uint32_t> out;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) out.push_back((uint32_t)rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return out;
}

// ============================================================================
// Reader
// ============================================================================

TEST(AviReader, DibFramesBottomUpTightAndPadded)
{
    ScratchDir dir;
    for (int width : {4, 3}) {  // 12 bytes a row either way, or 9 bytes tight and 12 padded
        for (bool padded : {false, true}) {
            AviFixture f;
            f.width = width, f.height = 2, f.handler = "DIB ";
            std::vector<uint32_t> want;
            for (int n = 0; n < 3; n++) {
                Bytes dib;
                for (int y = 1; y >= 0; y--) {
                    for (int x = 0; x < width; x++) dib.push_back((uint8_t)(x + 10 * y)), dib.push_back((uint8_t)n), dib.push_back((uint8_t)(0x80 + y));
                    if (padded) dib.resize((dib.size() + 3) & ~size_t(3), 0);
                }
                f.frames.push_back(dib);
            }
            WriteBytes(dir.File("dib.avi"), MakeAvi(f));
            Reader r(dir.File("dib.avi"));
            ASSERT_TRUE(r.r) << width;
            EXPECT_EQ(r.frames, 3);
            for (int n : {2, 0, 1, 1}) {
                auto px = r.Frame(n);
                ASSERT_EQ(px.size(), (size_t)width * 2) << width << " " << padded << " frame " << n;
                EXPECT_EQ(px[0], 0x800000u | (uint32_t)n << 8) << "row 0 is the last stored";
                EXPECT_EQ(px[(size_t)width + 1], 0x81000Bu | (uint32_t)n << 8);
            }
        }
    }
}

TEST(AviReader, MjpegWithoutHuffmanTablesDecodesWithTheStandardOnes)
{
    ScratchDir dir;
    JpegFixture j;
    j.width = 24, j.height = 16;
    Bytes jpeg = MakeJpeg(j);
    Bytes mjpeg = AsMjpeg(jpeg);
    ASSERT_LT(mjpeg.size(), jpeg.size() - 400) << "the tables were stripped";
    for (auto index : {AviFixture::Absolute, AviFixture::Relative, AviFixture::NoIndex}) {
        AviFixture f;
        f.width = 24, f.height = 16, f.index = index;
        f.frames = {mjpeg, jpeg, mjpeg};
        WriteBytes(dir.File("mj.avi"), MakeAvi(f));
        Reader r(dir.File("mj.avi"));
        ASSERT_TRUE(r.r);
        auto want = Reference(jpeg);
        for (int n : {2, 1, 0, 2}) EXPECT_EQ(r.Frame(n), want) << "index kind " << index << " frame " << n;
    }
}

TEST(AviReader, MjpegBufferFitsSmallAndLargeFrames)
{
    // Frames far larger than w x h x 3 (high quality, tiny picture) and far smaller.
    ScratchDir dir;
    JpegFixture j;
    j.width = 1, j.height = 1, j.quality = 100;
    Bytes one = MakeJpeg(j);
    ASSERT_GT(one.size() + 420, 3u);
    AviFixture f;
    f.width = 1, f.height = 1;
    f.frames = {AsMjpeg(one), one};
    WriteBytes(dir.File("one.avi"), MakeAvi(f));
    Reader r(dir.File("one.avi"));
    ASSERT_TRUE(r.r);
    EXPECT_EQ(r.Frame(0).size(), 1u);
    EXPECT_EQ(r.Frame(1).size(), 1u);
}

TEST(AviReader, Idx1EntriesNamingNoStreamAndHugeFrameCounts)
{
    ScratchDir dir;
    Bytes jpeg = EightByEightJpeg();
    AviFixture f;
    f.width = 8, f.height = 8;
    f.frames = {jpeg, jpeg};
    Bytes stray = {'9', '9', 'd', 'c'};
    Le32(stray, 16), Le32(stray, 4), Le32(stray, 100);
    f.extraIdx1 = {stray, stray};
    WriteBytes(dir.File("s.avi"), MakeAvi(f));
    Reader r(dir.File("s.avi"));
    ASSERT_TRUE(r.r);
    EXPECT_EQ(r.frames, 2);
    EXPECT_EQ(r.Frame(1), Reference(jpeg));
    EXPECT_EQ(r.Frame(0), Reference(jpeg));
    EXPECT_TRUE(r.Frame(5).empty()) << "a frame the file does not have";
}

// The frame count is the index's (or the movi list's when there is no index): a header
// that claims more is refused, one that claims fewer is corrected.
TEST(AviReader, FrameCountComesFromTheIndex)
{
    ScratchDir dir;
    Bytes jpeg = EightByEightJpeg();
    struct Case {
        const char *name;
        uint32_t header;
        int index;  // AviFixture's index kind
        int frames;  // -1: refused
    };
    std::vector<Case> cases = {
        {"header 2^30, idx1 of 30", 1u << 30, AviFixture::Absolute, -1},
        {"header 2^31 - 1, idx1 of 30", 0x7FFFFFFF, AviFixture::Relative, -1},
        {"header 31, idx1 of 30", 31, AviFixture::Absolute, -1},
        {"header 2^30, no index", 1u << 30, AviFixture::NoIndex, -1},
        {"header 30, idx1 of 30", 30, AviFixture::Absolute, 30},
        {"header 12, idx1 of 30", 12, AviFixture::Absolute, 30},
        {"header 30, no index", 30, AviFixture::NoIndex, 30},
        {"header 5, no index", 5, AviFixture::NoIndex, 30},
    };
    for (const Case &c : cases) {
        AviFixture f;
        f.width = 8, f.height = 8, f.totalFrames = c.header;
        f.index = (decltype(f.index))c.index;
        f.frames.assign(30, jpeg);
        WriteBytes(dir.File("n.avi"), MakeAvi(f));
        Reader r(dir.File("n.avi"));
        if (c.frames < 0) {
            EXPECT_FALSE(r.r) << c.name;
            continue;
        }
        ASSERT_TRUE(r.r) << c.name;
        EXPECT_EQ(r.frames, c.frames) << c.name;
        EXPECT_EQ(r.Frame(29), Reference(jpeg)) << c.name;
        EXPECT_TRUE(r.Frame(30).empty()) << c.name;
    }
}

TEST(AviReader, RefusesOrGivesNoFrame)
{
    ScratchDir dir;
    Bytes jpeg = EightByEightJpeg();
    struct Case {
        const char *name;
        std::function<void(AviFixture &)> change;
        bool opens;
    };
    std::vector<Case> cases = {
        {"unknown handler", [](AviFixture &f) { f.handler = "XVID"; }, false},
        {"DIB of 16 bits", [](AviFixture &f) { f.handler = "dib ", f.bits = 16; }, false},
        {"raw handler in lower case, 24 bits", [](AviFixture &f) { f.handler = "raw "; }, true},
    };
    for (const Case &c : cases) {
        AviFixture f;
        f.width = 8, f.height = 8, f.frames = {Bytes(8 * 8 * 3, 1)};
        c.change(f);
        WriteBytes(dir.File("r.avi"), MakeAvi(f));
        Reader r(dir.File("r.avi"));
        EXPECT_EQ(r.r != nullptr, c.opens) << c.name;
    }
    struct FrameCase {
        const char *name;
        const char *handler;
        Bytes frame;
    };
    JpegFixture big;
    big.width = 16, big.height = 8;
    std::vector<FrameCase> frames = {
        {"DIB chunk of the wrong size", "DIB ", Bytes(8 * 8 * 3 - 1, 0)},
        {"MJPEG chunk without SOI", "MJPG", Bytes(jpeg.begin() + 2, jpeg.end())},
        {"MJPEG frame of another size", "MJPG", MakeJpeg(big)},
        {"truncated JPEG", "MJPG", Bytes(jpeg.begin(), jpeg.begin() + 40)},
        {"empty chunk", "MJPG", Bytes{}},
    };
    for (const FrameCase &c : frames) {
        AviFixture f;
        f.width = 8, f.height = 8, f.handler = c.handler, f.frames = {c.frame, c.frame};
        WriteBytes(dir.File("f.avi"), MakeAvi(f));
        Reader r(dir.File("f.avi"));
        ASSERT_TRUE(r.r) << c.name;
        EXPECT_TRUE(r.Frame(1).empty()) << c.name;
        EXPECT_TRUE(r.Frame(0).empty()) << c.name;
    }
    WriteBytes(dir.File("x.avi"), Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
    Reader r(dir.File("x.avi"));
    EXPECT_FALSE(r.r);
}

// ============================================================================
// Writer
// ============================================================================

TEST(AviWriter, AudioRatesFollowTheFrameRate)
{
    struct Case {
        int fps, micros, effective, rate, samples, code;
    };
    std::vector<Case> cases = {
        {25, 40000, 25, 44100, 1764, 0},  {30, 33333, 30, 44100, 1470, 0}, {7, 142857, 7, 44100, 6300, 0},
        {1, 1000000, 1, 44100, 44100, 0}, {1000, 1000, 1000, 44000, 44, 0}, {0, 0, 0, 0, 0, ERR_WRONGUSAGE},
        {50000, 0, 0, 0, 0, ERR_WRONGUSAGE}, {2000000, 0, 0, 0, 0, ERR_WRONGUSAGE},
    };
    for (const Case &c : cases) {
        lvAviRates r = {};
        EXPECT_EQ(ComputeAviRates(c.fps, &r), c.code) << c.fps;
        if (c.code) continue;
        EXPECT_EQ(r.microsPerFrame, c.micros) << c.fps;
        EXPECT_EQ(r.effectiveRate, c.effective) << c.fps;
        EXPECT_EQ(r.sampleRate, c.rate) << c.fps;
        EXPECT_EQ(r.samplesPerFrame, c.samples) << c.fps;
    }
    ScratchDir dir;
    lvAviWriter *w = nullptr;
    EXPECT_EQ(OpenAviWriter(dir.File("a.avi").c_str(), nullptr, nullptr, 0, 8, 8, 90, "a", &w), ERR_WRONGUSAGE);
    EXPECT_EQ(OpenAviWriter(dir.File("a.avi").c_str(), nullptr, nullptr, 2000000, 8, 8, 90, "a", &w), ERR_WRONGUSAGE);
    EXPECT_EQ(OpenAviWriter(dir.File("no/dir/a.avi").c_str(), nullptr, nullptr, 25, 8, 8, 90, "a", &w), ERR_WRITEFILE);
}

// What the walk found: every chunk by position, the parts, and the index entries.
struct Walk {
    std::map<size_t, std::string> chunks;  // header position -> id
    std::vector<std::string> parts;
    int videoChunks = 0, ixChunks = 0;
};

// A RIFF walk of the test's own: every size is checked against its container and every
// index entry (idx1, indx, ix00, ix01) must land on a chunk header of the right id.
Walk WalkAvi(const Bytes &b, int expectFrames)
{
    Walk w;
    std::function<void(size_t, size_t)> walk = [&](size_t at, size_t end) {
        while (at + 8 <= end) {
            std::string id = Id(b, at);
            uint32_t size = Get32(b, at + 4);
            EXPECT_LE(at + 8 + size, end) << id << " at " << at;
            w.chunks[at] = id;
            if (id == "LIST") walk(at + 12, at + 8 + size);
            if (id == "01dc") w.videoChunks++;
            if (id == "ix00" || id == "ix01") w.ixChunks++;
            at += 8 + size + (size & 1);
        }
        EXPECT_EQ(at, end);
    };
    for (size_t at = 0; at + 12 <= b.size();) {
        EXPECT_EQ(Id(b, at), "RIFF");
        uint32_t size = Get32(b, at + 4);
        w.parts.push_back(Id(b, at + 8));
        EXPECT_LE(at + 8 + size, b.size());
        walk(at + 12, at + 8 + size);
        at += 8 + size + (size & 1);
        if (at == b.size()) break;
    }
    EXPECT_EQ(w.videoChunks, expectFrames);
    auto lands = [&](uint64_t at, const std::string &id) {
        auto it = w.chunks.find((size_t)at);
        return it != w.chunks.end() && it->second == id;
    };
    // idx1: absolute header positions.
    for (auto &[at, id] : w.chunks) {
        if (id == "idx1") {
            uint32_t size = Get32(b, at + 4);
            for (size_t e = at + 8; e < at + 8 + size; e += 16)
                EXPECT_TRUE(lands(Get32(b, e + 8), Id(b, e))) << "idx1 entry at " << e;
        }
        if (id == "indx") {
            std::string of = Id(b, at + 16);
            int used = (int)Get32(b, at + 12);
            int64_t duration = 0;
            for (int i = 0; i < used; i++) {
                size_t e = at + 32 + (size_t)i * 16;
                EXPECT_TRUE(lands(Get64(b, e), of == "01dc" ? "ix01" : "ix00")) << "indx entry " << i;
                EXPECT_EQ(Get32(b, e + 8), 16384u);
                duration += Get32(b, e + 12);
            }
            if (of == "01dc") { EXPECT_EQ(duration, expectFrames); }
        }
        if (id == "ix00" || id == "ix01") {
            int used = (int)Get32(b, at + 12);
            uint64_t base = Get64(b, at + 20);
            for (int i = 0; i < used; i++)
                EXPECT_TRUE(lands(base + Get32(b, at + 32 + (size_t)i * 8), Id(b, at + 16))) << id << " entry " << i;
        }
    }
    return w;
}

std::vector<uint32_t> Picture(int w, int h, int n)
{
    std::vector<uint32_t> p((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) p[(size_t)y * w + x] = (uint32_t)((x * 255 / w) << 16 | (y * 255 / h) << 8 | ((n * 37) & 255));
    return p;
}

int MaxDiff(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        for (int s = 0; s < 24; s += 8) worst = std::max(worst, std::abs((int)(a[i] >> s & 255) - (int)(b[i] >> s & 255)));
    return a.size() == b.size() ? worst : 999;
}

TEST(AviWriter, WrittenFilesWalkAndReadBack)
{
    ScratchDir dir;
    lvAviWriter *w = nullptr;
    const int W = 32, H = 16;
    ASSERT_EQ(OpenAviWriter(dir.File("w.avi").c_str(), nullptr, nullptr, 25, W, H, 90, "w.avi", &w), 0);
    for (int n = 0; n < 12; n++) ASSERT_EQ(WriteAviFrame(w, Picture(W, H, n).data(), W, H), 0);
    ASSERT_EQ(FinishAviWriter(w), 0);
    Bytes file = ReadBytes(dir.File("w.avi"));
    Walk walk = WalkAvi(file, 12);
    EXPECT_EQ(walk.parts, std::vector<std::string>{"AVI "});
    EXPECT_EQ(Get32(file, 32 + 16), 12u) << "avih total frames";
    for (auto &[at, id] : walk.chunks) {
        if (id == "00wb") { EXPECT_EQ(Get32(file, at + 4), 1764u * 4); }
        if (id == "ISFT") { EXPECT_EQ(Get32(file, at + 4), 30u); }
        if (id == "ICMT") { EXPECT_EQ(Get32(file, at + 4), 152u); }
        if (id == "01dc") {
            EXPECT_EQ(Id(file, at + 8 + 6), "AVI1");
            // libjpeg-turbo decodes the chunk once "AVI1" is "JFIF" again.
            Bytes jpeg(file.begin() + (long)at + 8, file.begin() + (long)at + 8 + Get32(file, at + 4));
            std::memcpy(jpeg.data() + 6, "JFIF", 4);
            int rw, rh;
            std::vector<uint8_t> rgb;
            EXPECT_TRUE(ReferenceJpegRgb(jpeg, &rw, &rh, &rgb));
        }
    }
    Reader r(dir.File("w.avi"));
    ASSERT_TRUE(r.r);
    EXPECT_EQ(r.frames, 12);
    for (int n : {0, 1, 11, 5, 6}) EXPECT_LE(MaxDiff(r.Frame(n), Picture(W, H, n)), 24) << n;
}

TEST(AviWriter, ThreeThousandFramesSplitIntoPartsAndIndexes)
{
    ScratchDir dir;
    const int W = 8, H = 8, N = 3000;
    for (bool split : {false, true}) {
        lvAviLimits limits;
        if (split) limits.firstPart = 400000, limits.laterParts = 700000;
        lvAviWriter *w = nullptr;
        ASSERT_EQ(OpenAviWriter(dir.File("big.avi").c_str(), nullptr, nullptr, 1000, W, H, 90, "big", &w, &limits), 0);
        for (int n = 0; n < N; n++) ASSERT_EQ(WriteAviFrame(w, Picture(W, H, n).data(), W, H), 0);
        ASSERT_EQ(FinishAviWriter(w), 0);
        Bytes file = ReadBytes(dir.File("big.avi"));
        Walk walk = WalkAvi(file, N);
        if (!split) {
            EXPECT_EQ(walk.parts.size(), 1u);
            EXPECT_EQ(walk.ixChunks, 4) << "frame 2045 starts a new pair";
            // The video super index: 2044 frames, then 956.
            for (auto &[at, id] : walk.chunks)
                if (id == "indx" && Id(file, at + 16) == "01dc") {
                    EXPECT_EQ(Get32(file, at + 12), 2u);
                    EXPECT_EQ(Get32(file, at + 32 + 12), 2044u);
                    EXPECT_EQ(Get32(file, at + 48 + 12), 956u);
                }
        } else {
            ASSERT_GE(walk.parts.size(), 3u);
            EXPECT_EQ(walk.parts[0], "AVI ");
            for (size_t i = 1; i < walk.parts.size(); i++) EXPECT_EQ(walk.parts[i], "AVIX");
            int idx1 = 0;
            for (auto &[at, id] : walk.chunks) idx1 += id == "idx1";
            EXPECT_EQ(idx1, 1) << "idx1 covers the first part only";
        }
        Reader r(dir.File("big.avi"));
        ASSERT_TRUE(r.r);
        EXPECT_EQ(r.frames, N);
        int worst = 0;
        for (int n = 0; n < N; n += split ? 1 : 7) worst = std::max(worst, MaxDiff(r.Frame(n), Picture(W, H, n)));
        EXPECT_LE(worst, 24);
        // Out of order: idx1 in the first part, the standard indexes in the later ones.
        for (int n : {2999, 3, 2500, 1200, 2046, 2045, 0})
            EXPECT_LE(MaxDiff(r.Frame(n), Picture(W, H, n)), 24) << "frame " << n;
    }
}

TEST(AviWriter, SmallFramesAndFailedWrites)
{
    ScratchDir dir;
    for (int size : {1, 8}) {
        lvAviWriter *w = nullptr;
        ASSERT_EQ(OpenAviWriter(dir.File("s.avi").c_str(), nullptr, nullptr, 30, size, size, 90, "s", &w), 0);
        auto p = Picture(size, size, 1);
        ASSERT_EQ(WriteAviFrame(w, p.data(), size, size), 0);
        EXPECT_EQ(WriteAviFrame(w, p.data(), size + 1, size), ERR_WRONGUSAGE);
        ASSERT_EQ(FinishAviWriter(w), 0);
        WalkAvi(ReadBytes(dir.File("s.avi")), 1);
        Reader r(dir.File("s.avi"));
        ASSERT_TRUE(r.r);
        EXPECT_LE(MaxDiff(r.Frame(0), p), 24);
    }
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    lvAviWriter *w = nullptr;
    // The header list alone outgrows the file buffer: the open may already see the failure.
    int opened = OpenAviWriter("/dev/full", nullptr, nullptr, 25, 64, 64, 90, "full", &w);
    if (opened) {
        EXPECT_EQ(opened, ERR_WRITE);
        EXPECT_EQ(w, nullptr);
        return;
    }
    auto p = Picture(64, 64, 0);
    int code = 0;
    for (int n = 0; n < 50 && !code; n++) code = WriteAviFrame(w, p.data(), 64, 64);
    int finished = FinishAviWriter(w);
    EXPECT_TRUE(code == ERR_WRITE || finished == ERR_WRITE || finished == ERR_CLOSEFILE) << code << " " << finished;
}

}  // namespace
