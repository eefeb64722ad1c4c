// Bitmap handles, pixel formats, conversions, nearest pens, row layouts, lock
// pairing and the routing between the native back-end and a display adapter.
#include <gtest/gtest.h>

#include "raster/lvbitmap.h"
#include "raster/lvraster.h"
#include "raster_fakes.h"
#include "base/lverrors.h"

namespace {

struct FormatCase {
    int format, depth, bytes;
    uint32_t pixelKeep, pixelDrop;  // ArgbToPixel(0x12345678, format, keep / no keep)
    uint32_t back;                  // PixelToArgb(pixelDrop, format, 0)
};

// 0x12345678: alpha 0x12, red 0x34, green 0x56, blue 0x78. 15/16-bit channels
// keep their top bits and widen by shifting: 0x34 -> 0x30, 0x56 -> 0x50 (5 bits)
// or 0x54 (6 bits), 0x78 -> 0x78.
const FormatCase Formats[] = {
    {PIXFMT_RGB15, 15, 2, 0x194F, 0x194F, 0x305078},
    {PIXFMT_BGR15, 15, 2, 0x3D46, 0x3D46, 0x305078},
    {PIXFMT_RGB15SWAP, 15, 2, 0x4F19, 0x4F19, 0x305078},
    {PIXFMT_BGR15SWAP, 15, 2, 0x463D, 0x463D, 0x305078},
    {PIXFMT_RGB16, 16, 2, 0x32AF, 0x32AF, 0x305478},
    {PIXFMT_BGR16, 16, 2, 0x7AA6, 0x7AA6, 0x305478},
    {PIXFMT_RGB16SWAP, 16, 2, 0xAF32, 0xAF32, 0x305478},
    {PIXFMT_BGR16SWAP, 16, 2, 0xA67A, 0xA67A, 0x305478},
    {PIXFMT_RGB24, 24, 3, 0x345678, 0x345678, 0},
    {PIXFMT_BGR24, 24, 3, 0x785634, 0x785634, 0},
    {PIXFMT_ARGB32, 32, 4, 0x12345678, 0x00345678, 0x345678},
    {PIXFMT_BGRA32, 32, 4, 0x78563412, 0x78563400, 0x345678},
    {PIXFMT_RGBA32, 32, 4, 0x34567812, 0x34567800, 0x345678},
    {PIXFMT_ABGR32, 32, 4, 0x12785634, 0x00785634, 0x345678},
    {PIXFMT_CLUT8, 8, 1, 0, 0, 0},
};

TEST(PixelFormats, ConversionTable) {
    for (const FormatCase &c : Formats) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(GetPixelFormatDepth(c.format), c.depth);
        EXPECT_EQ(GetPixelFormatBytes(c.format), c.bytes);
        EXPECT_EQ(ArgbToPixel(0x12345678, c.format, 1), c.pixelKeep);
        EXPECT_EQ(ArgbToPixel(0x12345678, c.format, 0), c.pixelDrop);
        EXPECT_EQ(PixelToArgb(c.pixelDrop, c.format, 0), c.back);
    }
    EXPECT_EQ(GetPixelFormatDepth(16), 0);
    EXPECT_EQ(GetPixelFormatBytes(-1), 0);
    // Alpha survives the 32-bit formats only when asked.
    EXPECT_EQ(PixelToArgb(0x78563412, PIXFMT_BGRA32, 1), 0x12345678u);
    EXPECT_EQ(PixelToArgb(0x34567812, PIXFMT_RGBA32, 1), 0x12345678u);
    EXPECT_EQ(PixelToArgb(0x12785634, PIXFMT_ABGR32, 1), 0x12345678u);
    EXPECT_EQ(PixelToArgb(0x7FFF, PIXFMT_RGB15, 0), 0xF8F8F8u);
    EXPECT_EQ(PixelToArgb(0xFFFF, PIXFMT_RGB16, 0), 0xF8FCF8u);
}

TEST(PixelFormats, Reorderings32) {
    EXPECT_EQ(ArgbToPixel32(PIXFMT_BGRA32, 0x11223344), 0x44332211u);
    EXPECT_EQ(ArgbToPixel32(PIXFMT_RGBA32, 0x11223344), 0x22334400u);
    EXPECT_EQ(ArgbToPixel32(PIXFMT_ABGR32, 0x11223344), 0x11443322u);
    EXPECT_EQ(ArgbToPixel32(PIXFMT_ARGB32, 0x11223344), 0x11223344u);
    for (int f = PIXFMT_ARGB32; f <= PIXFMT_ABGR32; f++) {
        uint32_t keep = f == PIXFMT_RGBA32 ? 0x00FFFFFFu : 0xFFFFFFFFu;
        EXPECT_EQ(Pixel32ToArgb(f, ArgbToPixel32(f, 0x11223344)), 0x11223344u & keep) << f;
    }
}

TEST(PixelFormats, LockPixelsEveryFormat) {
    // One 3x2 buffer per format, written and read back through a lock record.
    for (int f = 0; f <= PIXFMT_ABGR32; f++) {
        SCOPED_TRACE(f);
        std::vector<uint8_t> buffer(3 * 2 * 4 + 8, 0);
        lvBitMapLock lock{};
        lock.pixels = buffer.data();
        lock.format = f;
        lock.bytesPerPixel = GetPixelFormatBytes(f);
        lock.rowLength = 3;
        lock.width = 3;
        lock.height = 2;
        WriteLockPixel(&lock, 0xFF345678, 2, 1);
        uint32_t expect = Formats[f].back ? Formats[f].back : 0x345678;
        EXPECT_EQ(ReadLockPixel(&lock, 2, 1), expect);
        EXPECT_EQ(ReadLockPixel(&lock, 1, 1), 0u);
        if (f == PIXFMT_RGB24) {
            const uint8_t *p = buffer.data() + (3 + 2) * 3;
            EXPECT_EQ(p[0], 0x34);  // R, G, B in memory
            EXPECT_EQ(p[1], 0x56);
            EXPECT_EQ(p[2], 0x78);
        }
    }
}

TEST(PixelFormats, ColourForAdapter) {
    EXPECT_EQ(ConvertColorForAdapter(0x00123456, 0), 0x00123456u);
    EXPECT_EQ(ConvertColorForAdapter(0x00123456, 1), 0xFF123456u);
    FakeAdapter a(ADAPTER_REALALPHA);
    a.Install();
    EXPECT_EQ(ConvertColorForAdapter(0x00123456, 0), 0xFF123456u);
    EXPECT_EQ(ConvertColorForAdapter(0x80123456, 0), 0x7F123456u);
    EXPECT_EQ(ConvertColorForAdapter(0xFF000000, 0), 0x00000000u);
}

TEST(Palettes, NearestPen) {
    uint32_t pal[256] = {0x000000, 0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080};
    EXPECT_EQ(FindNearestPen(0xFF0000, pal, 3), 1);   // equal entries: the lower index
    EXPECT_EQ(FindNearestPen(0xF00000, pal, 3), 1);   // nearest, ties keep the lower
    EXPECT_EQ(FindNearestPen(0x7F7F80, pal, 3), 5);
    EXPECT_EQ(FindNearestPen(0x0000F0, pal, 2), 0);   // depth 2: only pens 0..3 count
    EXPECT_EQ(FindNearestPen(0x0000F0, pal, 3), 4);
    EXPECT_EQ(FindNearestPen(0x12FFFFFF, pal, 1), 1); // the high byte is ignored
    EXPECT_EQ(FindNearestPen(0x123456, nullptr, 8), -1);
    EXPECT_EQ(FindNearestPen(0x123456, pal, 0), -1);
}

TEST(Palettes, Matching) {
    uint32_t a[256] = {1, 2, 3}, b[256] = {1, 2, 3}, c[256] = {1, 2, 4};
    EXPECT_TRUE(PalettesMatch(PALETTEMODE_PEN, a, c, -1));
    EXPECT_FALSE(PalettesMatch(PALETTEMODE_PEN, a, b, 0));
    EXPECT_TRUE(PalettesMatch(PALETTEMODE_REMAP, a, b, 0));
    EXPECT_FALSE(PalettesMatch(PALETTEMODE_REMAP, a, c, -1));
    EXPECT_TRUE(PalettesMatch(7, a, c, 0));
}

// ---- Native handles ---------------------------------------------------------

TEST(NativeBitmaps, RowLayouts) {
    lvBitMapHandle *rgb13 = AllocRgbBitmap(13, 3, 0, nullptr);
    ASSERT_TRUE(rgb13);
    EXPECT_EQ(GetBitmapHandleAttr(rgb13, 6), 16);  // rows of (13 + 3) & ~3 pixels
    EXPECT_EQ(GetBitmapHandleAttr(rgb13, 12), PIXFMT_ARGB32);
    EXPECT_EQ(GetBitmapHandleAttr(rgb13, 15), 64);
    lvBitMapHandle *friendMask = AllocMaskBitmap(rgb13, 13, 3, 1, nullptr, 0);
    lvBitMapHandle *aloneMask = AllocMaskBitmap(nullptr, 17, 3, 1, nullptr, 0);
    lvBitMapHandle *alpha = AllocAlphaBitmap(5, 2, 1, nullptr, 0);
    lvBitMapHandle *chunky = AllocChunkyBitmap(9, 2, 1);
    lvBitMapLock lock{};
    ASSERT_TRUE(LockBitmapHandle(friendMask, 0, &lock));
    EXPECT_EQ(lock.rowLength, 2);
    EXPECT_EQ(lock.format, PIXFMT_MASK1);
    EXPECT_TRUE(lock.plane);
    UnlockBitmapHandle(&lock);
    ASSERT_TRUE(LockBitmapHandle(aloneMask, 0, &lock));
    EXPECT_EQ(lock.rowLength, 4);
    UnlockBitmapHandle(&lock);
    ASSERT_TRUE(LockBitmapHandle(alpha, 0, &lock));
    EXPECT_EQ(lock.rowLength, 8);
    EXPECT_EQ(lock.format, PIXFMT_CLUT8);
    UnlockBitmapHandle(&lock);
    ASSERT_TRUE(LockBitmapHandle(chunky, 0, &lock));
    EXPECT_EQ(lock.rowLength, 12);
    UnlockBitmapHandle(&lock);
    // A cleared plane really is cleared.
    for (int x = 0; x < 5; x++) EXPECT_EQ(ByteAt(alpha, x, 1), 0);
    // Raw mode takes the backing itself.
    ASSERT_TRUE(LockBitmapHandle(alpha->backing, LOCK_RAW, &lock));
    EXPECT_EQ(lock.width, 5);
    EXPECT_EQ(lock.bytesPerPixel, 1);
    UnlockBitmapHandle(&lock);
    FreeBitmapHandle(rgb13);
    FreeBitmapHandle(friendMask);
    FreeBitmapHandle(aloneMask);
    FreeBitmapHandle(alpha);
    FreeBitmapHandle(chunky);
}

TEST(NativeBitmaps, BadSizesGiveNull) {
    EXPECT_EQ(AllocRgbBitmap(0, 5, 0, nullptr), nullptr);
    EXPECT_EQ(AllocAlphaBitmap(5, -1, 0, nullptr, 0), nullptr);
    EXPECT_EQ(AllocMaskBitmap(nullptr, 0, 0, 0, nullptr, 0), nullptr);
    EXPECT_EQ(AllocChunkyBitmap(-3, 3, 0), nullptr);
}

TEST(NativeBitmaps, ExternalHandles) {
    uint32_t pixels[6] = {1, 2, 3, 4, 5, 6};
    lvBitMapHandle *h = AllocRgbBitmap(3, 2, BMF_EXTERNAL, pixels);
    ASSERT_TRUE(h);
    lvBitMapLock lock{};
    ASSERT_TRUE(LockBitmapHandle(h, LOCK_READONLY, &lock));
    EXPECT_EQ(lock.format, PIXFMT_ARGB32);
    EXPECT_EQ(lock.rowLength, 3);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(lock.pixels), pixels);
    UnlockBitmapHandle(&lock);
    EXPECT_EQ(GetBitmapHandleAttr(h, 6), 3);
    EXPECT_EQ(GetBitmapHandleAttr(h, 12), PIXFMT_ARGB32);
    FreeRgbBitmap(h);  // frees the handle, never the caller's words
    EXPECT_EQ(pixels[5], 6u);
    // External alpha and mask planes keep the caller's memory too.
    uint8_t bytes[16] = {};
    lvBitMapHandle *a = AllocAlphaBitmap(4, 4, 0, bytes, 4);
    SetByte(a, 3, 2, 0x42);
    EXPECT_EQ(bytes[11], 0x42);
    FreePlaneBitmap(a);
    lvBitMapHandle *m = AllocMaskBitmap(nullptr, 8, 2, 0, bytes, 2);
    SetBit(m, 0, 1, 1);
    EXPECT_EQ(bytes[2], 0x80);
    FreePlaneBitmap(m);
}

TEST(NativeBitmaps, AlphaFromArgbAndAttributes) {
    uint32_t argb[4] = {0x10000000, 0x20FFFFFF, 0x30000000, 0xFF123456};
    lvBitMapHandle *a = CreateAlphaBitmapFromPixels(argb, 2, 2, 2);
    ASSERT_TRUE(a);
    EXPECT_EQ(ByteAt(a, 0, 0), 0x10);
    EXPECT_EQ(ByteAt(a, 1, 0), 0x20);
    EXPECT_EQ(ByteAt(a, 0, 1), 0x30);
    EXPECT_EQ(ByteAt(a, 1, 1), 0xFF);
    EXPECT_EQ(GetBitmapHandleAttr(a, 0), 2);
    EXPECT_EQ(GetBitmapHandleAttr(a, 7), 2);
    EXPECT_EQ(GetBitmapHandleAttr(nullptr, 0), 0);
    EXPECT_EQ(GetPlaneAttr(a->backing, 0), 2);
    FreePlaneBitmap(a);
    lvBitMapHandle *rgb = AllocRgbBitmap(4, 4, BMF_TRANSPARENCY, nullptr);
    EXPECT_EQ(GetBitmapHandleAttr(rgb, 10), 1);  // the has-transparency bit
    EXPECT_EQ(GetBitmapHandleAttr(rgb, 9), 0);
    FreeRgbBitmap(rgb);
}

// ---- Display adapter routing ------------------------------------------------

TEST(AdapterBitmaps, OwnedBitmapsGoThroughTheAdapter) {
    FakeAdapter a(ADAPTER_OWNSBITMAPS);
    a.Install();
    lvBitMapHandle *rgb = AllocRgbBitmap(10, 4, 0, nullptr);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(a.calls.back(), "AllocBitMap 0 10x4 clear=0");
    EXPECT_EQ(GetBitmapHandleAttr(rgb, 6), 11);  // row bytes / 4 of the adapter's layout
    lvBitMapHandle *mask = AllocMaskBitmap(rgb, 10, 4, 1, nullptr, 0);
    EXPECT_EQ(a.calls.back(), "AllocBitMap 2 10x4 clear=1 tag1");
    lvBitMapHandle *chunky = AllocChunkyBitmap(10, 4, 0);
    EXPECT_EQ(a.calls.back(), "AllocBitMap 1 10x4 clear=0");  // no true chunky kind: an alpha bitmap
    lvBitMapLock lock{};
    ASSERT_TRUE(LockBitmapHandle(rgb, LOCK_READONLY, &lock));
    EXPECT_EQ(a.calls.back(), "LockBitMap ro=1");
    EXPECT_EQ(lock.rowLength, 11);
    UnlockBitmapHandle(&lock);
    EXPECT_EQ(a.calls.back(), "UnLockBitMap");
    EXPECT_EQ(a.openLocks, 0);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(mask);
    FreeBitmapHandle(chunky);
    EXPECT_TRUE(a.live.empty());
}

TEST(AdapterBitmaps, ChunkyKindAndFriendTag) {
    FakeAdapter a(ADAPTER_OWNSBITMAPS | ADAPTER_CHUNKYKIND);
    a.Install();
    lvBitMapHandle *chunky = AllocChunkyBitmap(3, 3, 1);
    EXPECT_EQ(a.calls.back(), "AllocBitMap 3 3x3 clear=1");
    lvBitMapHandle *rgb = AllocRgbBitmap(3, 3, 0, nullptr);
    lvBitMapHandle *mask = AllocMaskBitmap(rgb, 3, 3, 0, nullptr, 0);
    EXPECT_EQ(a.calls.back(), "AllocBitMap 2 3x3 clear=0 tag1");  // the friend's backing
    uint8_t outside[8];
    lvBitMapHandle *ext = AllocAlphaBitmap(3, 2, 0, outside, 4);
    EXPECT_EQ(a.calls.back(), "AllocBitMap 1 3x2 clear=0 tag2 tag3");
    FreeBitmapHandle(ext);
    FreeBitmapHandle(mask);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(chunky);
    EXPECT_TRUE(a.live.empty());
}

TEST(AdapterBitmaps, VideoBitmapsAndTransparency) {
    FakeAdapter a(ADAPTER_VIDEOBITMAPS, 0, 0x3F);
    a.Install();
    uint32_t argb[4] = {};
    lvVideoSource src{};
    src.argb = argb;
    src.rawPixels = 1;
    src.sourceWidth = 2;
    src.sourceHeight = 2;
    src.scale = 1;
    lvBitMapHandle *v = AllocRgbBitmap(2, 2, BMF_VIDEO | BMF_TRANSPARENCY, &src);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->video, 1);
    EXPECT_EQ(a.calls.back(), "AllocVideoBitMap 2x2 flags=9 tag1 tag2 tag3 tag4");
    EXPECT_EQ(v->aux, 1);
    v->aux = 0;
    EnableVideoBitmapTransparency(v);
    EnableVideoBitmapTransparency(v);  // only the first time
    int methods = 0;
    for (auto &c : a.calls) methods += c == "DoVideoBitMapMethod 1 1";
    EXPECT_EQ(methods, 1);
    FreeRgbBitmap(v);
    EXPECT_EQ(a.calls.back(), "FreeVideoBitMap");
    // Without the video flag a plain native buffer is made (the adapter does not own bitmaps).
    lvBitMapHandle *plain = AllocRgbBitmap(2, 2, 0, nullptr);
    EXPECT_EQ(plain->video, 0);
    FreeRgbBitmap(plain);
    EXPECT_EQ(ComputeBitmapCaps(0xFFFF), 8u | 4 | 0x10 | 0x40 | 0x80 | 0x200 | 0x400);
    EXPECT_EQ(QueryBitmapCaps(0x10), 0x10u);
}

TEST(AdapterBitmaps, ReadingVideoBitmapsBack) {
    FakeAdapter a(ADAPTER_VIDEOBITMAPS);
    a.Install();
    lvBitMapHandle *target = AllocRgbBitmap(2, 1, 0, nullptr);
    lvBitMapHandle *alpha = nullptr;
    EXPECT_EQ(ReadVideoBitmapPixels(nullptr, target, 2, 1, &alpha), ERR_READVIDEOPIXELS);
    // BGRA words with alpha: colours converted, alpha from byte 0.
    a.videoPixels = {0x78563412, 0x332211FF};
    a.videoFormat = PIXFMT_BGRA32;
    a.videoHasAlpha = 1;
    EXPECT_EQ(ReadVideoBitmapPixels(nullptr, target, 2, 1, &alpha), 0);
    ASSERT_TRUE(alpha);
    EXPECT_EQ(PixelAt(target, 0, 0), 0x00345678u);
    EXPECT_EQ(PixelAt(target, 1, 0), 0x00112233u);
    EXPECT_EQ(ByteAt(alpha, 0, 0), 0x12);
    EXPECT_EQ(ByteAt(alpha, 1, 0), 0xFF);
    FreeBitmapHandle(alpha);
    alpha = nullptr;
    // Alpha reported in a 16-bit format is refused; the buffer still goes back.
    a.videoFormat = PIXFMT_RGB16;
    EXPECT_EQ(ReadVideoBitmapPixels(nullptr, target, 2, 1, &alpha), ERR_WRONGUSAGE);
    EXPECT_EQ(alpha, nullptr);
    EXPECT_EQ(a.videoBuffersOut, 0);
    FreeRgbBitmap(target);
}

TEST(AdapterBitmaps, NoVideoBitmapsWithoutAdapter) {
    EXPECT_EQ(QueryBitmapCaps(0xFFFF), 0u);
    EXPECT_EQ(ComputeBitmapCaps(0xFFFF), 0u);
}

}  // namespace
