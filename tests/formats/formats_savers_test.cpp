// formats_savers_test.cpp - the image savers: the preparation of true-colour and palette
// pixels, the built-in writers read back by our readers, full disks, the options of the
// saving commands, and the record a saver plug-in (the "saver" variant of
// tests/plugins/testplugin.cpp, which writes what it received into the file) gets.
#include "formats/lvsavers.h"
#include "raster/lvbitmap.h"
#include "raster/lvimage.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/plugin.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include "vm/lvvm.h"
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace {

class Savers : public ::testing::Test {
protected:
    lvState *L = nullptr;
    ScratchDir dir;

    void SetUp() override
    {
        ResetErrorState();
        GetRuntimeSwitches()->quiet = 1;
        InstallPluginManager();
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        PushCopy(L, LV_GLOBALSINDEX);
        OpenPluginLibrary(L);
        SetStackTop(L, 0);
        SetPluginScriptState(L);
        std::string path = std::string(LV_TESTPLUGIN_DIR) + "/saver.lvp";
        ASSERT_EQ(LoadPluginByName(L, path.c_str(), LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr), 0);
    }
    void TearDown() override
    {
        SetSaverPaletteMaker(nullptr);
        FreePluginLibraries(L);
        ClosePlugins();
        CloseVMState(L);
    }
};

// A set of bitmaps made from ARGB words.
struct RgbSet {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    RgbSet(const std::vector<uint32_t> &argb, int w, int h, bool withAlpha)
    {
        EXPECT_EQ(BitmapFromArgb(argb.data(), -1, w, h, w, 0, withAlpha ? ARGBF_ALPHACHANNEL : 0, nullptr, &rgb, &mask,
                                 &alpha),
                  0);
    }
    ~RgbSet() { FreeBitmapHandle(rgb), FreeBitmapHandle(mask), FreeBitmapHandle(alpha); }
};

struct PenPlane {
    lvBitMapHandle *handle;
    PenPlane(int w, int h, const std::vector<uint8_t> &pens)
    {
        handle = AllocChunkyBitmap(w, h, 1);
        uint8_t *pixels;
        int rowBytes;
        uintptr_t token = GetPlanePixels(handle, &pixels, &rowBytes, 1);
        for (int y = 0; y < h; y++) std::memcpy(pixels + y * rowBytes, &pens[(size_t)y * w], (size_t)w);
        ReleasePlanePixels(token);
    }
    ~PenPlane() { FreeBitmapHandle(handle); }
};

struct ReadBack {
    int code = -1, width = 0, height = 0, depth = 0, pen = -1;
    std::string name;
    std::vector<uint32_t> words;
    std::vector<uint32_t> palette;
};

ReadBack Decode(const std::string &path, uint32_t flags)
{
    ReadBack r;
    lvVFile *file = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr);
    if (!file) return r;
    lvImageLoadRequest request = {};
    request.flags = flags;
    lvDecodedImage *decoded = nullptr;
    r.code = DecodeImageFile(file, 1, &request, &decoded, &r.width, &r.height);
    CloseVFile(file);
    if (r.code) return r;
    r.depth = request.depth, r.pen = request.transparentPen, r.name = request.formatName;
    size_t n = (size_t)r.width * r.height;
    if (flags & LV_IMGLOAD_PALETTE) r.words.assign((uint8_t *)decoded->pixels, (uint8_t *)decoded->pixels + n);
    else r.words.assign(decoded->pixels, decoded->pixels + n);
    if (request.palette) r.palette.assign(request.palette, request.palette + 256);
    FreeMemory(request.palette);
    FreeDecodedImage(decoded);
    return r;
}

std::map<std::string, std::string> ReadRecord(const std::string &path)
{
    std::map<std::string, std::string> fields;
    std::ifstream in(path);
    std::string key, value;
    while (in >> key >> value) fields[key] = value;
    return fields;
}

// Each channel's mean within 6 levels (JPEG's tolerance in these tests).
void ExpectSameMeanColour(const std::vector<uint32_t> &got, const std::vector<uint32_t> &want)
{
    ASSERT_EQ(got.size(), want.size());
    for (int s = 0; s < 24; s += 8) {
        double a = 0, b = 0;
        for (size_t i = 0; i < got.size(); i++) a += got[i] >> s & 255, b += want[i] >> s & 255;
        EXPECT_NEAR(a / got.size(), b / want.size(), 6) << "channel at bit " << s;
    }
}

const int W = 6, H = 4;
std::vector<uint32_t> FourColours()
{
    static const uint32_t c[4] = {0xFF102030, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    std::vector<uint32_t> argb;
    for (int i = 0; i < W * H; i++) argb.push_back(c[(i + i / W) % 4]);
    return argb;
}

TEST_F(Savers, RgbToGifIsQuantisedToTheDepth)
{
    std::vector<uint32_t> argb = FourColours();
    RgbSet set(argb, W, H, false);
    std::string path = dir.File("rgb.gif");
    ASSERT_EQ(WriteImageFile(IMGFMT_GIF, set.rgb, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                             nullptr, 2, -1, 90, 0, 0),
              0);
    ReadBack r = Decode(path, 0);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.name, "GIF");
    EXPECT_EQ(r.depth, 2);
    for (int i = 0; i < W * H; i++) EXPECT_EQ(r.words[i], argb[i]) << i;

    // More colours than the depth holds: the exact builder refuses (the quantiser's work).
    EXPECT_EQ(WriteImageFile(IMGFMT_GIF, set.rgb, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                             nullptr, 1, -1, 90, 0, 0),
              ERR_UNIMPLCMD);
    // The installed quantiser gets 2^depth colours and the dither flag.
    static int askedColours, askedDither;
    SetSaverPaletteMaker([](lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int w, int h,
                            int colours, int dither, lvBitMapHandle **pens, uint32_t *palette, int *pen) {
        askedColours = colours, askedDither = dither;
        return MakeExactPaletteBitmap(rgb, mask, alpha, w, h, 256, dither, pens, palette, pen);
    });
    EXPECT_EQ(WriteImageFile(IMGFMT_GIF, set.rgb, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                             nullptr, 5, -1, 90, 1, 0),
              0);
    EXPECT_EQ(askedColours, 32);
    EXPECT_EQ(askedDither, 1);
}

TEST_F(Savers, TransparentRgbToGifKeepsATransparentPen)
{
    std::vector<uint32_t> argb = FourColours();
    argb[3] = 0x00123456;
    RgbSet set(argb, W, H, true);
    std::string path = dir.File("alpha.gif");
    ASSERT_EQ(WriteImageFile(IMGFMT_GIF, set.rgb, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, set.alpha,
                             nullptr, nullptr, 3, -1, 90, 0, 0),
              0);
    ReadBack r = Decode(path, LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_COPYPALETTE);
    ASSERT_EQ(r.code, 0);
    ASSERT_GE(r.pen, 0);
    EXPECT_EQ(r.words[3], (uint32_t)r.pen);
    EXPECT_EQ(r.palette[r.words[1]], argb[1] & 0xFFFFFF);
}

TEST_F(Savers, PaletteImagesKeepTheirPaletteWhereTheSaverTakesOne)
{
    std::vector<uint8_t> pens;
    for (int i = 0; i < W * H; i++) pens.push_back((uint8_t)(i % 5));
    PenPlane plane(W, H, pens);
    uint32_t palette[256] = {0x000000, 0x224466, 0xFFFFFF, 0x808080, 0xFF8000};
    struct Case {
        int format;
        const char *name;
        bool keepsPens;
    };
    for (Case c : {Case{IMGFMT_BMP, "BMP", true}, Case{IMGFMT_PNG, "PNG", true}, Case{IMGFMT_GIF, "GIF", true},
                   Case{IMGFMT_ILBM, "IFF ILBM", true}, Case{IMGFMT_JPEG, "JPEG", false}}) {
        std::string path = dir.File(std::string("pens.") + c.name);
        ASSERT_EQ(WriteImageFile(c.format, nullptr, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr,
                                 plane.handle, palette, 3, -1, 95, 0, 0),
                  0)
            << c.name;
        ReadBack r = Decode(path, c.keepsPens ? LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE : 0);
        ASSERT_EQ(r.code, 0) << c.name;
        EXPECT_EQ(r.name, c.name);
        if (c.keepsPens) {
            for (int i = 0; i < W * H; i++) EXPECT_EQ(r.words[i], pens[i]) << c.name << " " << i;
            EXPECT_EQ(r.palette[4] & 0xFFFFFF, 0xFF8000u) << c.name;
        } else {
            // JPEG takes the colours; chroma subsampling blurs single pixels, so the
            // picture's mean colour is compared.
            std::vector<uint32_t> want;
            for (uint8_t p : pens) want.push_back(palette[p]);
            ExpectSameMeanColour(r.words, want);
        }
    }
}

TEST_F(Savers, TrueColourRoundTripsAndFullDisks)
{
    std::vector<uint32_t> argb = FourColours();
    RgbSet set(argb, W, H, false);
    for (int format : {IMGFMT_BMP, IMGFMT_PNG, IMGFMT_JPEG, IMGFMT_ILBM, IMGFMT_GIF}) {
        std::string path = dir.File("true." + std::to_string(format));
        ASSERT_EQ(WriteImageFile(format, set.rgb, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr,
                                 nullptr, nullptr, 8, -1, 95, 0, 0),
                  0)
            << format;
        ReadBack r = Decode(path, 0);
        ASSERT_EQ(r.code, 0) << format;
        if (format == IMGFMT_BMP || format == IMGFMT_ILBM) {
            EXPECT_EQ(r.depth, 24) << format;  // never a palette image
        }
        if (format == IMGFMT_JPEG) {
            ExpectSameMeanColour(r.words, argb);
        } else {
            for (int i = 0; i < W * H; i++) EXPECT_EQ(r.words[i] & 0xFFFFFF, argb[i] & 0xFFFFFF) << format << " " << i;
        }
        // A full disk is never a success.
        int code = WriteImageFile(format, set.rgb, W, H, "/dev/full", nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                                  nullptr, 8, -1, 95, 0, 0);
        EXPECT_TRUE(code == ERR_WRITE || code == ERR_CLOSEFILE) << format << " gave " << code;
    }
}

TEST_F(Savers, PluginSaverRecord)
{
    EXPECT_TRUE(SaverTakesTrueColor(7001));
    EXPECT_FALSE(SaverTakesPalette(7001));
    EXPECT_TRUE(SaverTakesPalette(7002));
    EXPECT_FALSE(SaverTakesTrueColor(7099));
    EXPECT_FALSE(SaverTakesPalette(7099));
    EXPECT_FALSE(SaverTakesTrueColor(IMGFMT_GIF));
    EXPECT_FALSE(SaverTakesPalette(IMGFMT_JPEG));

    std::vector<uint32_t> argb = FourColours();
    argb[0] = 0x80102030;
    RgbSet set(argb, W, H, true);
    // 7001 takes alpha: flag 0x1; 7002 does not: never 0x1.
    for (int format : {7001, 7002}) {
        std::string path = dir.File("plugin." + std::to_string(format));
        ASSERT_EQ(WriteImageFile(format, set.rgb, W, H, path.c_str(), "myadapter", nullptr, nullptr, -1, set.alpha,
                                 nullptr, nullptr, 8, -1, 77, 0, 0),
                  0);
        auto rec = ReadRecord(path);
        EXPECT_EQ(rec["formatId"], std::to_string(format));
        EXPECT_EQ(rec["flags"], format == 7001 ? "1" : "0");
        EXPECT_EQ(rec["paletteMode"], "0");
        EXPECT_EQ(rec["bytesPerRow"], std::to_string(W * 4));
        EXPECT_EQ(rec["quality"], "77");
        EXPECT_EQ(rec["width"], std::to_string(W));
        EXPECT_EQ(rec["adapter"], "myadapter");
        EXPECT_EQ(rec["first"], std::to_string(0x80102030u));
    }
    // A palette image goes to 7002 as pens with its palette and pen.
    std::vector<uint8_t> pens(W * H, 3);
    PenPlane plane(W, H, pens);
    uint32_t palette[256] = {1, 2, 3, 4};
    std::string path = dir.File("plugin.pens");
    ASSERT_EQ(WriteImageFile(7002, nullptr, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr, plane.handle,
                             palette, 4, 2, 90, 0, 0),
              0);
    auto rec = ReadRecord(path);
    EXPECT_EQ(rec["paletteMode"], "1");
    EXPECT_EQ(rec["colorCount"], "16");
    EXPECT_EQ(rec["transparentPen"], "2");
    EXPECT_EQ(rec["flags"], "2");
    EXPECT_EQ(rec["hasPalette"], "1");
    EXPECT_EQ(rec["first"], "3");
    // 7001 takes no palette images: the pens become ARGB.
    ASSERT_EQ(WriteImageFile(7001, nullptr, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr, plane.handle,
                             palette, 4, -1, 90, 0, 0),
              0);
    EXPECT_EQ(ReadRecord(path)["first"], std::to_string(0xFF000004u));

    EXPECT_EQ(WriteImageFile(7099, set.rgb, W, H, path.c_str(), nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                             nullptr, 8, -1, 90, 0, 0),
              ERR_UNKNOWNIMGOUT);
    EXPECT_EQ(WriteImageFile(7001, set.rgb, W, H, dir.File("fail.x").c_str(), nullptr, nullptr, nullptr, -1, nullptr,
                             nullptr, nullptr, 8, -1, 90, 0, 0),
              ERR_SAVEIMAGE);
}

TEST_F(Savers, OptionsOfTheSavingCommands)
{
    struct Result {
        int code, format, quality, depth, dither;
        int64_t fill;
        std::string adapter;
    };
    auto parse = [&](auto push, int index) {
        SetStackTop(L, 0);
        PushNumber(L, 1);  // an argument before the options
        push();
        Result r = {0, 0, 90, 8, 0, -1, ""};
        char adapter[256] = "";
        lvUserTag *tags = nullptr;
        r.code = ParseSaveImageOptions(L, index, &r.format, &r.fill, &r.quality, &r.depth, &r.dither, adapter, &tags);
        r.adapter = adapter;
        FreeUserTags(tags, 0);
        SetStackTop(L, 0);
        return r;
    };
    auto table = [&](std::vector<std::pair<const char *, double>> numbers, const char *adapter = nullptr) {
        return [=, this] {
            PushNewTable(L);
            for (auto [k, v] : numbers) {
                PushString(L, k);
                PushNumber(L, v);
                SetTableValue(L, -3);
            }
            if (adapter) {
                PushString(L, "adapter");
                PushString(L, adapter);
                SetTableValue(L, -3);
            }
        };
    };
    Result r = parse(table({{"colors", 16}}), 2);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.depth, 4);
    EXPECT_EQ(parse(table({{"depth", 9}}), 2).code, ERR_DEPTHRANGE);
    EXPECT_EQ(parse(table({{"colors", 300}}), 2).code, ERR_DEPTHRANGE);
    r = parse(table({{"format", 3}, {"quality", 40}, {"dither", 1}, {"depth", 2}, {"fillcolor", 0xFF00FF}}, "zip"), 2);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.format, 3);
    EXPECT_EQ(r.quality, 40);
    EXPECT_EQ(r.dither, 1);
    EXPECT_EQ(r.depth, 2);
    EXPECT_EQ(r.fill, 0xFF00FF);
    EXPECT_EQ(r.adapter, "zip");
    // A number sets the quality and nothing else.
    r = parse([&] { PushNumber(L, 55); }, 2);
    EXPECT_EQ(r.quality, 55);
    EXPECT_EQ(r.depth, 8);
    EXPECT_EQ(r.format, 0);
    // Not the last argument: nothing is read.
    r = parse(table({{"quality", 10}}), 1);
    EXPECT_EQ(r.quality, 90);
}

}  // namespace
