// Picture sets: ARGB buffers to bitmaps (colour keys, alpha channels, video
// bitmaps and their fallback), duplicates, conversions, tiles, visible bounds,
// the image cache and the preload duplicate marking.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvdrawtags.h"
#include "raster/lvimage.h"
#include "raster/lvneighbours.h"
#include "raster/lvplanes.h"
#include "raster_fakes.h"
#include "base/lverrors.h"

namespace {

struct Images : testing::Test {
    void SetUp() override { ResetRasterModes(); }
    void TearDown() override { ResetDrawingState(); }
};

TEST_F(Images, ArgbWithColourKeyAndAlphaChannel) {
    // A 3x2 picture with two black pixels; black is the colour key.
    std::vector<uint32_t> argb = {0x00000000, 0x10FF0000, 0x2000FF00, 0x300000FF, 0xFF000000, 0x40FFFFFF};
    struct Case {
        int64_t key;
        int flags;
        std::vector<std::string> mask;  // empty: no mask expected
        bool alpha;
    } cases[] = {
        {0, 0, {".##", "#.#"}, false},  // key black: black pixels (whatever their high byte) clear
        {-1, 0, {}, false},
        {0x00FFFFFF, ARGBF_ALPHACHANNEL, {"###", "##."}, true},
        {-1, ARGBF_ALPHA, {}, false},  // flag 2 alone asks for alpha only with a video request
    };
    for (const auto &c : cases) {
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        ASSERT_EQ(BitmapFromArgb(argb.data(), c.key, 3, 2, 3, 0, c.flags, nullptr, &rgb, &mask, &alpha), 0);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(PixelAt(rgb, 1, 0) & 0xFFFFFF, 0xFF0000u);
        EXPECT_EQ(PixelAt(rgb, 2, 1) & 0xFFFFFF, 0xFFFFFFu);
        if (c.mask.empty()) EXPECT_EQ(mask, nullptr);
        else {
            ASSERT_NE(mask, nullptr);
            EXPECT_EQ(MaskToText(mask), c.mask) << c.key;
        }
        EXPECT_EQ(alpha != nullptr, c.alpha);
        if (alpha) {
            EXPECT_EQ(ByteAt(alpha, 1, 0), 0x10);
            EXPECT_EQ(ByteAt(alpha, 1, 1), 0xFF);
        }
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
        FreeBitmapHandle(alpha);
    }
}

TEST_F(Images, ArgbRowLengthLongerThanTheWidth) {
    std::vector<uint32_t> argb = {1, 2, 99, 3, 4, 99};
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(BitmapFromArgb(argb.data(), 99, 2, 2, 3, 0, 0, nullptr, &rgb, &mask, &alpha), 0);
    EXPECT_EQ(PixelAt(rgb, 0, 1), 3u);
    EXPECT_EQ(MaskToText(mask), (std::vector<std::string>{"##", "##"}));
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(mask);
}

TEST_F(Images, ArgbToVideoBitmapsAndTheFallback) {
    std::vector<uint32_t> argb = {0x00112233, 0x00000000};
    {
        // The adapter makes it: the key becomes alpha 0 in the adapter's copy, no mask.
        FakeAdapter a(ADAPTER_VIDEOBITMAPS);
        a.Install();
        lvBitMapHandle *rgb = nullptr, *mask = reinterpret_cast<lvBitMapHandle *>(1), *alpha = nullptr;
        ASSERT_EQ(BitmapFromArgb(argb.data(), 0, 2, 1, 2, 1, 0, nullptr, &rgb, &mask, &alpha), 0);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(rgb->video, 1);
        EXPECT_EQ(mask, nullptr);
        auto *fb = static_cast<FakeBitmap *>(rgb->backing);
        EXPECT_EQ(reinterpret_cast<uint32_t *>(fb->pixels.data())[0], 0xFF112233u);
        EXPECT_EQ(reinterpret_cast<uint32_t *>(fb->pixels.data())[1], 0x00000000u);
        EXPECT_TRUE(a.Called("AllocVideoBitMap 2x1 flags=9"));
        FreeBitmapHandle(rgb);
    }
    {
        // A given alpha plane is folded into the video bitmap and released.
        FakeAdapter a(ADAPTER_VIDEOBITMAPS);
        a.Install();
        lvBitMapHandle *alpha = AllocAlphaBitmap(2, 1, 1, nullptr, 0);
        SetByte(alpha, 0, 0, 0x7F);
        lvBitMapHandle *rgb = nullptr, *mask = nullptr;
        ASSERT_EQ(BitmapFromArgb(argb.data(), -1, 2, 1, 2, 1, 0, nullptr, &rgb, &mask, &alpha), 0);
        EXPECT_EQ(alpha, nullptr);
        auto *fb = static_cast<FakeBitmap *>(rgb->backing);
        EXPECT_EQ(reinterpret_cast<uint32_t *>(fb->pixels.data())[0], 0x7F112233u);
        FreeBitmapHandle(rgb);
    }
    for (uint32_t flags : {uint32_t(ADAPTER_VIDEOBITMAPS), uint32_t(ADAPTER_VIDEOBITMAPS | ADAPTER_VIDEOFALLBACK)}) {
        // The adapter fails: with the fallback a plain bitmap, else ERR_BITMAP.
        FakeAdapter a(flags);
        a.videoFail = 1;
        a.Install();
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        int rc = BitmapFromArgb(argb.data(), 0, 2, 1, 2, 1, 0, nullptr, &rgb, &mask, &alpha);
        if (flags & ADAPTER_VIDEOFALLBACK) {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(rgb->video, 0);
            EXPECT_EQ(MaskToText(mask), (std::vector<std::string>{"#."}));
        } else {
            EXPECT_EQ(rc, ERR_BITMAP);
            EXPECT_EQ(rgb, nullptr);
        }
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
    }
}

TEST_F(Images, ArgbAllocationFailuresLeaveNothing) {
    std::vector<uint32_t> argb = {0, 1, 2, 3};
    int expected[] = {ERR_BITMAP, ERR_BITMAP, ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCMASK, ERR_ALLOCMASK,
                      ERR_ALLOCALPHA, ERR_ALLOCALPHA, ERR_ALLOCALPHA};
    int n = 0;
    for (int allowed = 0;; allowed++) {
        lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
        FailAllocMemoryAfter(allowed);
        int rc = BitmapFromArgb(argb.data(), 0, 2, 2, 2, 0, ARGBF_ALPHACHANNEL, nullptr, &rgb, &mask, &alpha);
        FailAllocMemoryAfter(-1);
        if (!rc) {
            FreeBitmapHandle(rgb);
            FreeBitmapHandle(mask);
            FreeBitmapHandle(alpha);
            break;
        }
        EXPECT_EQ(rgb, nullptr);
        EXPECT_EQ(mask, nullptr);
        EXPECT_EQ(alpha, nullptr);
        if (allowed < 9) {
            EXPECT_EQ(rc, expected[allowed]) << allowed;
        }
        n++;
    }
    EXPECT_GE(n, 3);
}

TEST_F(Images, DuplicatesCopyTheRectangleOfEveryPlane) {
    lvPictureSet src{};
    src.rgb = AllocRgbBitmap(4, 3, 0, nullptr);
    FillRgb(src.rgb, [](int x, int y) { return static_cast<uint32_t>(y << 8 | x); });
    src.mask = MaskFromText({"#..#", ".##.", "####"});
    src.chunky = AllocChunkyBitmap(4, 3, 1);
    SetByte(src.chunky, 2, 1, 7);
    src.palette = static_cast<uint32_t *>(AllocMemory(1024, 1));
    src.palette[7] = 0x123456;
    lvPictureSet out{};
    ASSERT_EQ(DuplicateImage(&src, 1, 1, 3, 2, 0, 0, nullptr, &out), 0);
    EXPECT_EQ(out.rgb->width, 3);
    EXPECT_EQ(PixelAt(out.rgb, 0, 0), 0x101u);
    EXPECT_EQ(PixelAt(out.rgb, 2, 1), 0x203u);
    EXPECT_EQ(MaskToText(out.mask), (std::vector<std::string>{"##.", "###"}));
    EXPECT_EQ(ByteAt(out.chunky, 1, 0), 7);
    ASSERT_NE(out.palette, src.palette);
    EXPECT_EQ(out.palette[7], 0x123456u);
    FreePictureSet(&out);
    // Width and height 0: the whole picture.
    ASSERT_EQ(DuplicateImage(&src, 0, 0, 0, 0, 0, 0, nullptr, &out), 0);
    EXPECT_EQ(out.mask->width, 4);
    EXPECT_EQ(out.mask->height, 3);
    FreePictureSet(&out);
    EXPECT_EQ(DuplicateImage(&src, 2, 2, 3, 3, 0, 0, nullptr, &out), ERR_WRONGUSAGE);
    FreePictureSet(&src);
}

TEST_F(Images, PensToRgbAndArgbExtraction) {
    lvBitMapHandle *pens = AllocChunkyBitmap(3, 1, 1);
    SetByte(pens, 1, 0, 1);
    SetByte(pens, 2, 0, 2);
    uint32_t palette[256] = {0x000000, 0xFF0000, 0x00FF00};
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(ChunkyToRgbBitmap(pens, 3, 1, 0, 1, palette, &rgb, &mask, &alpha), 0);
    EXPECT_EQ(PixelAt(rgb, 1, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(MaskToText(mask), (std::vector<std::string>{".##"}));
    EXPECT_EQ(alpha, nullptr);
    // From RGB with the mask: alpha 0xFF where set, the replacement where clear.
    uint32_t *argb = ExtractArgbPixels(rgb, 0, 0, 3, 1, mask, nullptr, nullptr, nullptr, -1, 0x11223344, 0);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb[0], 0x11223344u);
    EXPECT_EQ(argb[2], 0xFF00FF00u);
    FreeMemory(argb);
    // From pens: the transparent pen gets alpha 0.
    argb = ExtractArgbPixels(nullptr, 1, 0, 2, 1, nullptr, nullptr, pens, palette, 2, -1, 0);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb[0], 0xFFFF0000u);
    EXPECT_EQ(argb[1], 0x0000FF00u);
    FreeMemory(argb);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(mask);
    ASSERT_EQ(ChunkyToRgbBitmap(pens, 3, 1, 2, 0, palette, &rgb, &mask, &alpha), 0);
    EXPECT_EQ(ByteAt(alpha, 1, 0), 255);
    EXPECT_EQ(ByteAt(alpha, 2, 0), 0);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(alpha);
    FreeBitmapHandle(pens);
}

TEST_F(Images, ReadBitmapPixelsConvertsEveryFormat) {
    // 16-bit display pixels used to be copied into the ARGB buffer unconverted.
    FakeAdapter a(0);
    a.record.pixelFormat = PIXFMT_RGB16;
    a.Install();
    lvBitMapHandle *rgb = AllocRgbBitmap(2, 1, 0, nullptr);
    {
        lvScopedLock l(rgb, 0);
        ASSERT_EQ(l.lock.bytesPerPixel, 2);
        WriteLockPixel(&l.lock, 0xFF0000, 0, 0);
        WriteLockPixel(&l.lock, 0x0000FF, 1, 0);
    }
    uint32_t *out = nullptr;
    int hasAlpha = -1;
    ASSERT_EQ(ReadBitmapPixels(rgb, 0, 0, 2, 1, &hasAlpha, &out), 0);
    EXPECT_EQ(out[0] & 0xFFFFFF, 0xF80000u);
    EXPECT_EQ(out[1] & 0xFFFFFF, 0x0000F8u);
    EXPECT_EQ(hasAlpha, 0);
    FreeMemory(out);
    EXPECT_EQ(ReadBitmapPixels(rgb, 1, 0, 2, 1, &hasAlpha, &out), ERR_WRONGUSAGE);
    FreeBitmapHandle(rgb);
}

TEST_F(Images, TilesStartInsideTheTileAtTheOffset) {
    // A 10-wide tile whose pixels are their column; offset -3 starts at column 7.
    std::vector<uint32_t> tile(10 * 2);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 10; x++) tile[y * 10 + x] = static_cast<uint32_t>(y * 100 + x);
    std::vector<uint32_t> target(16 * 3, 0xEE);
    TileImageRect(nullptr, nullptr, 1, 0, 14, 3, nullptr, nullptr, nullptr, -3, 1, 10, 2, target.data(), tile.data(),
                  16);
    std::vector<uint32_t> row0(target.begin(), target.begin() + 16), row1(target.begin() + 16, target.begin() + 32);
    EXPECT_EQ(row0, (std::vector<uint32_t>{0xEE, 107, 108, 109, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 100,
                                           0xEE}));
    EXPECT_EQ(row1[1], 7u);
    EXPECT_EQ(target[32 + 1], 107u);
    // Bitmaps: the same walk with copies.
    lvBitMapHandle *src = AllocRgbBitmap(10, 2, 0, nullptr), *dst = AllocRgbBitmap(14, 3, 0, nullptr);
    FillRgb(src, [&](int x, int y) { return tile[y * 10 + x]; });
    TileImageRect(dst, nullptr, 0, 0, 14, 3, src, nullptr, nullptr, -3, 1, 10, 2, nullptr, nullptr, 0);
    EXPECT_EQ(PixelAt(dst, 0, 0), 107u);
    EXPECT_EQ(PixelAt(dst, 3, 1), 0u);
    EXPECT_EQ(PixelAt(dst, 13, 2), 100u);
    FreeBitmapHandle(src);
    FreeBitmapHandle(dst);
}

TEST_F(Images, OpaqueBounds) {
    lvBitMapHandle *m = MaskFromText({"......", "..#...", "....#.", "......"});
    int x, y, w, h;
    ASSERT_EQ(GetOpaqueBounds(m, nullptr, 6, 4, -1, &x, &y, &w, &h), 1);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{2, 1, 3, 2}));
    FillMaskRect(m, 0, 0, 6, 4, MASKINVISIBLE);
    EXPECT_EQ(GetOpaqueBounds(m, nullptr, 6, 4, -1, &x, &y, &w, &h), 0);
    lvBitMapHandle *p = AllocChunkyBitmap(3, 3, 1);
    for (int i = 0; i < 9; i++) SetByte(p, i % 3, i / 3, 5);
    SetByte(p, 2, 2, 1);
    ASSERT_EQ(GetOpaqueBounds(nullptr, p, 3, 3, 5, &x, &y, &w, &h), 1);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{2, 2, 1, 1}));
    ASSERT_EQ(GetOpaqueBounds(nullptr, nullptr, 3, 3, 5, &x, &y, &w, &h), 1);
    EXPECT_EQ(w, 3);
    FreeBitmapHandle(m);
    FreeBitmapHandle(p);
}

// Image sources counted by a fake owner.
struct FakeSources {
    static int references;
    static void Retain(void *, lvImageSource *) { references++; }
    static void Release(void *, lvImageSource *) { references--; }
};
int FakeSources::references = 0;

TEST_F(Images, CacheKeepsCopiesAndReferences) {
    lvFileFormatServices files{};
    files.RetainImageSource = FakeSources::Retain;
    files.ReleaseImageSource = FakeSources::Release;
    SetFileFormatServices(&files);
    FakeSources::references = 1;  // the loader's own
    auto *source = reinterpret_cast<lvImageSource *>(0x1000);
    lvBitMapHandle *alpha = AllocAlphaBitmap(2, 2, 1, nullptr, 0);
    SetByte(alpha, 1, 1, 99);
    uint8_t records[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    uint32_t palette[256] = {0, 0xABCDEF};
    lvCachedImage add{};
    add.width = 2;
    add.height = 2;
    add.depth = 8;
    add.source = source;
    add.alpha = alpha;
    add.palette = palette;
    add.records = records;
    add.recordCount = 2;
    std::strcpy(add.secondName, "frames");
    ASSERT_EQ(AddCachedImage("Pics/Tree.PNG", &add), 0);
    FreeBitmapHandle(alpha);  // the node has its own copy
    add.alpha = nullptr;
    add.source = nullptr;
    ASSERT_EQ(AddCachedImage("other.png", &add), 0);
    EXPECT_EQ(CountCachedImages(), 2);
    EXPECT_EQ(FakeSources::references, 2);

    lvCachedImage hit{};
    ASSERT_EQ(FindCachedImage("pics/tree.png", 1, &hit), 0);
    EXPECT_EQ(hit.source, source);
    EXPECT_EQ(FakeSources::references, 3);
    ASSERT_NE(hit.alpha, nullptr);
    EXPECT_EQ(ByteAt(hit.alpha, 1, 1), 99);
    ASSERT_NE(hit.records, nullptr);
    EXPECT_NE(hit.records, records);
    EXPECT_EQ(hit.records[11], 12);
    EXPECT_EQ(hit.palette[1], 0xABCDEFu);
    EXPECT_STREQ(hit.secondName, "frames");
    FreeBitmapHandle(hit.alpha);
    FreeMemory(hit.records);
    FakeSources::Release(nullptr, hit.source);

    EXPECT_EQ(FindCachedImage("missing.png", 0, &hit), ERR_CACHEERROR);
    EXPECT_EQ(FindCachedImage("other.png", 1, &hit), ERR_CACHEERROR);  // no alpha to copy
    FreeImageCache();
    EXPECT_EQ(CountCachedImages(), 0);
    EXPECT_EQ(FakeSources::references, 1);
    SetFileFormatServices(nullptr);
}

TEST_F(Images, DuplicatePreloadsAreMarked) {
    struct Row {
        int kind;
        const char *file;
        int64_t option;
        uint32_t bits;
        int duplicate, hasDuplicates, keepBit0;
    };
    std::vector<Row> rows = {
        {1, "a.png", 0, 0, 0, 1, 1},   // first of three brushes on a.png; a later one asks bit 0
        {1, "A.PNG", 0, 1, 1, 0, 0},   // same file in other case, bit 0 differs: still a duplicate
        {2, "a.png", 0, 2, 0, 0, 0},   // bit 1 differs: not the same picture
        {7, "a.png", 5, 0, 0, 0, 0},   // an option differs
        {1, "a.png", 0, 0, 1, 0, 0},
        {3, "a.png", 0, 0, 0, 0, 0},   // not an image kind
        {2, nullptr, 0, 0, 0, 0, 0},   // no source: skipped
        {2, "b.png", 0, 4, 0, 1, 0},
        {7, "b.png", 0, 4, 1, 0, 0},
    };
    std::vector<lvPreloadEntry> entries;
    for (auto &r : rows) entries.push_back({r.kind, r.file, {r.option, 0, 0}, r.bits, 0, 0, 0});
    MarkDuplicatePreloads(entries.data(), static_cast<int>(entries.size()));
    for (size_t i = 0; i < rows.size(); i++) {
        EXPECT_EQ(entries[i].duplicate, rows[i].duplicate) << i;
        EXPECT_EQ(entries[i].hasDuplicates, rows[i].hasDuplicates) << i;
        EXPECT_EQ(entries[i].keepBit0, rows[i].keepBit0) << i;
    }
}

// A 2x2 brush whose pixels are 1, 2 / 3, 4, found through the imaging services.
lvBitMapHandle *TextureBrush = nullptr;
int FindTexture(void *, void *, int64_t id, lvBrushView *brush) {
    if (id != 5) return ERR_FINDBRUSH;
    *brush = lvBrushView{TextureBrush, nullptr, nullptr, nullptr, nullptr, 2, 2};
    return 0;
}

TEST_F(Images, TextureFillsTileAndScaleTheBrush) {
    TextureBrush = AllocRgbBitmap(2, 2, 0, nullptr);
    FillRgb(TextureBrush, [](int x, int y) { return static_cast<uint32_t>(1 + x + 2 * y); });
    lvImagingServices im{};
    im.FindBrushById = FindTexture;
    SetImagingServices(&im);
    lvBitMapHandle *target = AllocRgbBitmap(5, 3, 0, nullptr);
    FillRgb(target, [](int, int) { return 0u; });
    lvDrawStyle style{};
    style.textureBrush = 5;
    style.textureX = 1;
    ASSERT_EQ(FillRectWithTexture(nullptr, target, nullptr, 1, 0, 4, 3, &style, nullptr), 0);
    auto row = [&](int y) {
        std::vector<uint32_t> r;
        for (int x = 0; x < 5; x++) r.push_back(PixelAt(target, x, y));
        return r;
    };
    EXPECT_EQ(row(0), (std::vector<uint32_t>{0, 2, 1, 2, 1}));
    EXPECT_EQ(row(1), (std::vector<uint32_t>{0, 4, 3, 4, 3}));
    EXPECT_EQ(row(2), (std::vector<uint32_t>{0, 2, 1, 2, 1}));
    // A pure scale of 2 doubles the brush before tiling.
    style.textureX = 0;
    lvMatrix2D twice{2, 0, 0, -2};
    ASSERT_EQ(FillRectWithTexture(nullptr, target, nullptr, 0, 0, 5, 3, &style, &twice), 0);
    EXPECT_EQ(row(0), (std::vector<uint32_t>{1, 1, 2, 2, 1}));
    EXPECT_EQ(row(2), (std::vector<uint32_t>{3, 3, 4, 4, 3}));
    style.textureBrush = 6;
    EXPECT_EQ(FillRectWithTexture(nullptr, target, nullptr, 0, 0, 5, 3, &style, nullptr), ERR_FINDBRUSH);
    SetImagingServices(nullptr);
    FreeBitmapHandle(target);
    FreeBitmapHandle(TextureBrush);
}

}  // namespace
