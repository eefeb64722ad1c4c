// formats_native_test.cpp - the native decoder against TIFF files written by libtiff and
// WebP files written by libwebp (stills and WebPAnimEncoder anims) at test time.
#include "formats/lvnative.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include <cstring>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace {

struct TiffPage {
    int width = 5, height = 3, bits = 8, samples = 3, photometric = PHOTOMETRIC_RGB;
    int extra = -1;                       // EXTRASAMPLE_ kind of the 4th sample
    std::vector<uint8_t> rows;            // packed rows as stored
    std::vector<uint16_t> colormap;       // 3 x 2^bits entries (16-bit)
};

void WriteTiff(const std::string &path, const std::vector<TiffPage> &pages)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(t);
    for (const TiffPage &p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
        if (p.extra >= 0) {
            uint16_t kind = (uint16_t)p.extra;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
        }
        if (!p.colormap.empty()) {
            size_t n = p.colormap.size() / 3;
            TIFFSetField(t, TIFFTAG_COLORMAP, p.colormap.data(), p.colormap.data() + n, p.colormap.data() + 2 * n);
        }
        size_t rowBytes = p.rows.size() / p.height;
        for (int y = 0; y < p.height; y++)
            ASSERT_EQ(TIFFWriteScanline(t, (void *)(p.rows.data() + y * rowBytes), y, 0), 1);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
}

struct Native {
    int code = -1, width = 0, height = 0, depth = 0, alpha = 0, pen = -1;
    std::string name;
    std::vector<uint32_t> words;
    std::vector<uint32_t> palette;
};

Native Load(const std::string &path, uint32_t flags, int64_t key = -1)
{
    lvVFile *file = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr);
    Native n;
    uint8_t *pixels = nullptr;
    uint32_t *palette = nullptr;
    const char *name = nullptr;
    n.code = LoadNativeImage(file, flags, key, &pixels, &palette, &n.pen, &n.width, &n.height, &n.depth, &n.alpha,
                             &name);
    CloseVFile(file);
    if (name) n.name = name;
    if (pixels) {
        size_t count = (size_t)n.width * n.height;
        if (flags & LV_IMGLOAD_PALETTE) n.words.assign(pixels, pixels + count);
        else n.words.assign((uint32_t *)pixels, (uint32_t *)pixels + count);
    }
    if (palette) n.palette.assign(palette, palette + 256);
    FreeMemory(pixels);
    FreeMemory(palette);
    return n;
}

TEST(NativeTiff, TrueColourPagesDecodeExactly)
{
    ScratchDir dir;
    TiffPage rgb;
    for (int i = 0; i < 15; i++) rgb.rows.insert(rgb.rows.end(), {(uint8_t)(i * 17), (uint8_t)(255 - i), (uint8_t)(i * 3)});
    WriteTiff(dir.File("rgb.tif"), {rgb});
    Native n = Load(dir.File("rgb.tif"), 0);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.name, "TIFF");
    EXPECT_EQ(n.depth, 24);
    EXPECT_EQ(n.alpha, 0);
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(n.words[i], 0xFF000000u | (uint32_t)(i * 17) << 16 | (uint32_t)(255 - i) << 8 | (uint32_t)(i * 3));
    EXPECT_EQ(Load(dir.File("rgb.tif"), LV_IMGLOAD_PALETTE).code, ERR_NOPALETTE);

    TiffPage rgba = rgb;
    rgba.samples = 4, rgba.extra = EXTRASAMPLE_UNASSALPHA;
    rgba.rows.clear();
    for (int i = 0; i < 15; i++) rgba.rows.insert(rgba.rows.end(), {(uint8_t)(i * 17), 9, 200, (uint8_t)(i * 18)});
    WriteTiff(dir.File("rgba.tif"), {rgba});
    n = Load(dir.File("rgba.tif"), LV_IMGLOAD_TRANSPEN);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.depth, 32);
    EXPECT_EQ(n.alpha, 1);
    EXPECT_EQ(n.pen, -2);
    for (int i = 0; i < 15; i++) EXPECT_EQ(n.words[i], (uint32_t)(i * 18) << 24 | (uint32_t)(i * 17) << 16 | 9u << 8 | 200u) << i;
}

TEST(NativeTiff, PenPicturesPalettesAndTransparentEntries)
{
    ScratchDir dir;
    TiffPage pal;
    pal.width = 4, pal.height = 2, pal.bits = 8, pal.samples = 1, pal.photometric = PHOTOMETRIC_PALETTE;
    pal.rows = {0, 1, 2, 3, 3, 2, 1, 0};
    pal.colormap.assign(3 * 256, 0);
    for (int i = 0; i < 256; i++) pal.colormap[i] = (uint16_t)(i * 257), pal.colormap[512 + i] = 0x8080;
    pal.colormap[2] = 0xFFFF, pal.colormap[256 + 2] = 0, pal.colormap[512 + 2] = 0xFFFF;  // entry 2: magenta
    WriteTiff(dir.File("pal.tif"), {pal});
    Native n = Load(dir.File("pal.tif"), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_COPYPALETTE, 0xFF00FF);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.depth, 8);
    EXPECT_EQ(n.words, (std::vector<uint32_t>{0, 1, 2, 3, 3, 2, 1, 0}));
    EXPECT_EQ(n.pen, 2);
    EXPECT_EQ(n.palette[1], 0x010080u);
    EXPECT_EQ(n.palette[2], 0xFF00FFu);
    // In ARGB the transparent entry's pixels have alpha 0.
    n = Load(dir.File("pal.tif"), LV_IMGLOAD_TRANSPEN, 0xFF00FF);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.pen, -2);
    EXPECT_EQ(n.alpha, 1);
    EXPECT_EQ(n.words[2], 0x00FF00FFu);
    EXPECT_EQ(n.words[1], 0xFF010080u);
    // A second entry of the transparent colour fails the decode.
    pal.colormap[3] = 0xFFFF, pal.colormap[256 + 3] = 0, pal.colormap[512 + 3] = 0xFFFF;
    WriteTiff(dir.File("pal2.tif"), {pal});
    EXPECT_EQ(Load(dir.File("pal2.tif"), LV_IMGLOAD_PALETTE | LV_IMGLOAD_TRANSPEN, 0xFF00FF).code, ERR_LOADPICTURE2);
    EXPECT_EQ(Load(dir.File("pal2.tif"), LV_IMGLOAD_PALETTE).code, 0);

    // 4-bit grey of width 5: three bytes a row, unpacked high nibble first.
    TiffPage grey;
    grey.width = 5, grey.height = 2, grey.bits = 4, grey.samples = 1, grey.photometric = PHOTOMETRIC_MINISBLACK;
    grey.rows = {0x01, 0x23, 0x40, 0xFE, 0xDC, 0xB0};
    WriteTiff(dir.File("grey.tif"), {grey});
    n = Load(dir.File("grey.tif"), LV_IMGLOAD_PALETTE | LV_IMGLOAD_COPYPALETTE);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.depth, 4);
    EXPECT_EQ(n.words, (std::vector<uint32_t>{0, 1, 2, 3, 4, 15, 14, 13, 12, 11}));
    EXPECT_EQ(n.palette[15], 0xFFFFFFu);
    EXPECT_EQ(n.palette[1], 0x111111u);
    n = Load(dir.File("grey.tif"), 0);
    EXPECT_EQ(n.words[4], 0xFF444444u);
}

TEST(NativeTiff, TwoPagesAreAnAnim)
{
    ScratchDir dir;
    TiffPage a, b;
    a.width = b.width = 2, a.height = b.height = 1;
    a.rows = {1, 2, 3, 4, 5, 6};
    b.rows = {7, 8, 9, 10, 11, 12};
    WriteTiff(dir.File("two.tif"), {a, b});
    lvVFile *file = OpenVFile(dir.File("two.tif").c_str(), LV_VF_READ, nullptr, nullptr);
    int w, h, count, alpha;
    lvNativeAnim *anim = OpenNativeAnim(file, 0, 0, &w, &h, &count, &alpha);
    ASSERT_TRUE(anim);
    EXPECT_EQ(count, 2);
    for (int i : {1, 0, 1}) {
        uint32_t *palette;
        int depth, pen;
        uint32_t *px = (uint32_t *)LoadNativeAnimFrame(anim, i, &palette, &depth, &pen);
        ASSERT_TRUE(px);
        EXPECT_EQ(px[1], i ? 0xFF0A0B0Cu : 0xFF040506u);
        EXPECT_EQ(GetNativeAnimDelay(anim, i), 0);
        FreeMemory(px);
    }
    CloseNativeAnim(anim);
    // A single page is no anim.
    WriteTiff(dir.File("one.tif"), {a});
    lvVFile *one = OpenVFile(dir.File("one.tif").c_str(), LV_VF_READ, nullptr, nullptr);
    EXPECT_FALSE(OpenNativeAnim(one, 0, 0, &w, &h, &count, &alpha));
    CloseVFile(one);
    CloseVFile(file);
    // A page of another size is refused.
    TiffPage big = b;
    big.width = 3, big.rows = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    WriteTiff(dir.File("mixed.tif"), {a, big});
    file = OpenVFile(dir.File("mixed.tif").c_str(), LV_VF_READ, nullptr, nullptr);
    anim = OpenNativeAnim(file, 0, 0, &w, &h, &count, &alpha);
    ASSERT_TRUE(anim);
    uint32_t *palette;
    int depth, pen;
    EXPECT_FALSE(LoadNativeAnimFrame(anim, 1, &palette, &depth, &pen));
    CloseNativeAnim(anim);
    CloseVFile(file);
}

// ============================================================================
// WebP
// ============================================================================

std::vector<uint8_t> Rgba(int w, int h, int seed, bool alpha)
{
    std::vector<uint8_t> px((size_t)w * h * 4);
    for (int i = 0; i < w * h; i++) {
        px[i * 4] = (uint8_t)(i * 7 + seed), px[i * 4 + 1] = (uint8_t)(i * 3 + seed * 5), px[i * 4 + 2] = (uint8_t)(200 - i);
        px[i * 4 + 3] = alpha ? (uint8_t)(i * 11 + 1) : 255;
    }
    return px;
}

uint32_t Word(const std::vector<uint8_t> &rgba, int i)
{
    return (uint32_t)rgba[i * 4 + 3] << 24 | (uint32_t)rgba[i * 4] << 16 | (uint32_t)rgba[i * 4 + 1] << 8 | rgba[i * 4 + 2];
}

TEST(NativeWebp, LosslessWithAlphaAndLossyStills)
{
    ScratchDir dir;
    const int W = 9, H = 7;
    std::vector<uint8_t> px = Rgba(W, H, 1, true);
    uint8_t *out = nullptr;
    size_t size = WebPEncodeLosslessRGBA(px.data(), W, H, W * 4, &out);
    ASSERT_GT(size, 0u);
    WriteBytes(dir.File("lossless.webp"), Bytes(out, out + size));
    WebPFree(out);
    Native n = Load(dir.File("lossless.webp"), LV_IMGLOAD_TRANSPEN);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.name, "WebP");
    EXPECT_EQ(n.alpha, 1);
    EXPECT_EQ(n.pen, -2);
    for (int i = 0; i < W * H; i++) ASSERT_EQ(n.words[i], Word(px, i)) << i;
    EXPECT_EQ(Load(dir.File("lossless.webp"), LV_IMGLOAD_PALETTE).code, ERR_NOPALETTE);

    // Lossy: smooth colours within a tolerance.
    std::vector<uint8_t> smooth((size_t)32 * 32 * 4);
    for (int i = 0; i < 32 * 32; i++)
        smooth[i * 4] = (uint8_t)(i % 32 * 4), smooth[i * 4 + 1] = (uint8_t)(i / 32 * 4), smooth[i * 4 + 2] = 128,
                   smooth[i * 4 + 3] = 255;
    size = WebPEncodeRGBA(smooth.data(), 32, 32, 32 * 4, 95, &out);
    ASSERT_GT(size, 0u);
    WriteBytes(dir.File("lossy.webp"), Bytes(out, out + size));
    WebPFree(out);
    n = Load(dir.File("lossy.webp"), 0);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.alpha, 0);
    EXPECT_EQ(n.depth, 24);
    int worst = 0;
    for (int i = 0; i < 32 * 32; i++) {
        uint32_t want = Word(smooth, i), got = n.words[i];
        EXPECT_EQ(got >> 24, 0xFFu);
        for (int s = 0; s < 24; s += 8) worst = std::max(worst, std::abs((int)(want >> s & 255) - (int)(got >> s & 255)));
    }
    EXPECT_LE(worst, 12);
}

TEST(NativeWebp, AnimatedFramesAndDurations)
{
    ScratchDir dir;
    const int W = 6, H = 4;
    WebPAnimEncoderOptions options;
    ASSERT_TRUE(WebPAnimEncoderOptionsInit(&options));
    WebPAnimEncoder *enc = WebPAnimEncoderNew(W, H, &options);
    ASSERT_TRUE(enc);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    std::vector<std::vector<uint8_t>> frames;
    int timestamp = 0;
    const int durations[3] = {100, 250, 40};
    for (int f = 0; f < 3; f++) {
        frames.push_back(Rgba(W, H, f * 40, f == 1));
        WebPPicture pic;
        WebPPictureInit(&pic);
        pic.use_argb = 1, pic.width = W, pic.height = H;
        ASSERT_TRUE(WebPPictureImportRGBA(&pic, frames.back().data(), W * 4));
        ASSERT_TRUE(WebPAnimEncoderAdd(enc, &pic, timestamp, &config));
        WebPPictureFree(&pic);
        timestamp += durations[f];
    }
    WebPAnimEncoderAdd(enc, nullptr, timestamp, nullptr);
    WebPData data;
    WebPDataInit(&data);
    ASSERT_TRUE(WebPAnimEncoderAssemble(enc, &data));
    WriteBytes(dir.File("anim.webp"), Bytes(data.bytes, data.bytes + data.size));
    WebPDataClear(&data);
    WebPAnimEncoderDelete(enc);

    lvVFile *file = OpenVFile(dir.File("anim.webp").c_str(), LV_VF_READ, nullptr, nullptr);
    int w, h, count, alpha;
    lvNativeAnim *anim = OpenNativeAnim(file, 0, 1, &w, &h, &count, &alpha);
    ASSERT_TRUE(anim);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(w, W);
    for (int i : {2, 0, 1, 2}) {
        uint32_t *palette;
        int depth, pen;
        uint32_t *px = (uint32_t *)LoadNativeAnimFrame(anim, i, &palette, &depth, &pen);
        ASSERT_TRUE(px) << i;
        for (int k = 0; k < W * H; k++) {
            uint32_t want = Word(frames[i], k);
            // A fully transparent pixel's colour is not kept by the encoder.
            if (want >> 24 == 0) EXPECT_EQ(px[k] >> 24, 0u);
            else ASSERT_EQ(px[k], want) << "frame " << i << " pixel " << k;
        }
        EXPECT_EQ(GetNativeAnimDelay(anim, i), durations[i]) << i;
        FreeMemory(px);
    }
    CloseNativeAnim(anim);
    CloseVFile(file);

    // As a still, the first frame.
    Native n = Load(dir.File("anim.webp"), 0);
    ASSERT_EQ(n.code, 0);
    EXPECT_EQ(n.words[5], Word(frames[0], 5));
}

TEST(NativeDecoder, ThroughTheDispatchAndDamagedFiles)
{
    ScratchDir dir;
    TiffPage rgb;
    rgb.width = 2, rgb.height = 1, rgb.rows = {1, 2, 3, 4, 5, 6};
    WriteTiff(dir.File("d.tif"), {rgb});
    lvVFile *file = OpenVFile(dir.File("d.tif").c_str(), LV_VF_READ, nullptr, nullptr);
    lvImageLoadRequest request = {};
    lvDecodedImage *decoded = nullptr;
    int w, h;
    EXPECT_EQ(DecodeImageFile(file, 1, &request, &decoded, &w, &h), ERR_LOADPICTURE2);  // identified, not built in
    SeekVFile(file, 0, 1);
    ASSERT_EQ(DecodeImageFile(file, 2, &request, &decoded, &w, &h), 0);
    EXPECT_EQ(request.format, IMGFMT_NATIVE);
    EXPECT_STREQ(request.formatName, "TIFF");
    EXPECT_EQ(request.loader, (void *)1);
    EXPECT_EQ(((uint32_t *)GetDecodedImagePixels(decoded))[1], 0xFF040506u);
    FreeDecodedImage(decoded);
    CloseVFile(file);

    Bytes good = ReadBytes(dir.File("d.tif"));
    for (size_t cut : {size_t(8), size_t(20), good.size() / 2, good.size() - 3}) {
        WriteBytes(dir.File("cut.tif"), Bytes(good.begin(), good.begin() + cut));
        Native n = Load(dir.File("cut.tif"), 0);
        EXPECT_TRUE(n.code == ERR_LOADPICTURE2 || n.code == 0) << cut;
    }
    WriteBytes(dir.File("bad.webp"), Bytes{'R', 'I', 'F', 'F', 30, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' ', 1});
    EXPECT_EQ(Load(dir.File("bad.webp"), 0).code, ERR_LOADPICTURE2);
    WriteBytes(dir.File("png.png"), Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0, 0});
    EXPECT_EQ(Load(dir.File("png.png"), 0).code, ERR_LOADPICTURE2);
    EXPECT_STREQ(GetNativeFormatName(), "Windows Imaging Component");
}

}  // namespace
