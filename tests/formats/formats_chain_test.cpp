// formats_chain_test.cpp - image sources and the loader chain: the order of loaders and
// the precedence of their errors, the request flags, scaling, packed rows, vector
// pictures rendered again, reference counts and clones, the decoding dispatch, the
// probe and the plug-in entries. The loader plug-in is the "imgloader" variant of
// tests/plugins/testplugin.cpp.
#include "formats/lvformats.h"
#include "raster/lvbitmap.h"
#include "raster/lvneighbours.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/plugin.h"
#include "tests/formats/formats_fixtures.h"
#include "vm/lvvm.h"
#include <cstring>
#include <gtest/gtest.h>

namespace {

class LoaderChain : public ::testing::Test {
protected:
    lvState *L = nullptr;
    ScratchDir dir;
    lvImageLoadRequest request = {};

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
        std::string path = std::string(LV_TESTPLUGIN_DIR) + "/imgloader.lvp";
        ASSERT_EQ(LoadPluginByName(L, path.c_str(), LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr), 0);
    }
    void TearDown() override
    {
        FreeMemory(request.palette);
        FreeBitmapHandle(request.alphaBitmap);
        EXPECT_EQ(ImagesOpen(), 0);  // every plug-in handle was freed
        FreePluginLibraries(L);
        ClosePlugins();
        CloseVMState(L);
        SetAdapterHooks(nullptr);
    }

    // The plug-in's count of handles not freed yet.
    int ImagesOpen()
    {
        PushString(L, "testimagesopen");
        GetTableValueRaw(L, LV_GLOBALSINDEX);
        lvCommandFunction command = ValueToNativeFunction(L, -1);
        SetStackTop(L, 0);
        if (!command || command(L) != 1) return -1;
        int n = (int)ValueToNumber(L, -1);
        SetStackTop(L, 0);
        return n;
    }

    std::string Write(const std::string &name, const Bytes &bytes)
    {
        WriteBytes(dir.File(name), bytes);
        return dir.File(name);
    }
    std::string WriteText(const std::string &name, const std::string &text)
    {
        return Write(name, Bytes(text.begin(), text.end()));
    }
    void Reset(const char *list, uint32_t flags)
    {
        FreeMemory(request.palette);
        FreeBitmapHandle(request.alphaBitmap);
        request = {};
        request.loaderList = list;
        request.flags = flags;
    }

    struct Result {
        int code;
        lvImageSource *source;
        int width, height, lineWidth, isVector;
    };
    Result Load(const std::string &path, const char *list, uint32_t flags)
    {
        Reset(list, flags);
        Result r = {};
        r.code = LoadImageSource(path.c_str(), &request, &r.source, &r.width, &r.height, &r.lineWidth, &r.isVector);
        return r;
    }
};

// ============================================================================
// Order and errors
// ============================================================================

TEST_F(LoaderChain, LoadersRunInListOrderAndErrorsKeepTheirPrecedence)
{
    PngFixture fixture;
    fixture.colourType = 3, fixture.bitDepth = 8, fixture.palette = {1, 2, 3, 4, 5, 6};
    std::string both = Write("takeme.png", MakePng(fixture));  // the plug-in takes it by name
    std::string text = WriteText("notes.txt", "just words");
    std::string noPalette = WriteText("nopal.tst", "TSTIMG w=3 h=2 palette=0");
    std::string missing = dir.File("missing.png");

    struct Case {
        const char *name;
        std::string path;
        const char *list;
        uint32_t flags;
        int code;
        const char *formatName;
    } cases[] = {
        {"plug-in first", both, "plugin|inbuilt", 0, 0, "TAKEN"},
        {"built-in first", both, "inbuilt|plugin", 0, 0, "PNG"},
        {"default list", both, nullptr, 0, 0, "TAKEN"},
        {"plug-ins skipped", both, nullptr, LV_IMGLOAD_NOPLUGINS, 0, "PNG"},
        {"plug-in named", both, "imgloader", 0, 0, "TAKEN"},
        {"empty list, file exists", both, "", 0, ERR_LOADPICTURE2, ""},
        {"empty list, no file", missing, "", 0, ERR_READFILE, ""},
        {"no usable loader", both, "native", 0, ERR_LOADPICTURE2, ""},
        {"nobody knows it", text, nullptr, 0, ERR_LOADPICTURE2, ""},
        {"missing file", missing, nullptr, 0, ERR_READFILE, ""},
        // The plug-in's 1643 is remembered; the built-in readers' 1358 passes quietly.
        {"plug-in error beats unknown", noPalette, "plugin|inbuilt", LV_IMGLOAD_PALETTE, ERR_NOPALETTE, ""},
        {"plug-in error after unknown", noPalette, "inbuilt|plugin", LV_IMGLOAD_PALETTE, ERR_NOPALETTE, ""},
        // A later loader's success wins over an earlier error.
        {"later success", both, "plugin|inbuilt", LV_IMGLOAD_PALETTE, 0, "PNG"},
    };
    for (const Case &c : cases) {
        Result r = Load(c.path, c.list, c.flags);
        EXPECT_EQ(r.code, c.code) << c.name;
        if (r.code == 0) {
            EXPECT_STREQ(request.formatName, c.formatName) << c.name;
            EXPECT_EQ(GetImageSourceKind(r.source), strcmp(c.formatName, "PNG") ? 2u : 1u) << c.name;
            ReleaseImageSource(r.source);
        } else {
            EXPECT_EQ(r.source, nullptr) << c.name;
            EXPECT_EQ(request.palette, nullptr) << c.name;
            EXPECT_EQ(GetErrorState()->textArg, c.path) << c.name;
        }
    }
}

TEST_F(LoaderChain, RequestFlags)
{
    JpegFixture jpeg;
    std::string photo = Write("photo.jpg", MakeJpeg(jpeg));
    PngFixture rgba;
    rgba.colourType = 6, rgba.width = 5, rgba.height = 4;
    std::string withAlpha = Write("alpha.png", MakePng(rgba));
    PngFixture pal;
    pal.colourType = 3, pal.bitDepth = 2, pal.palette = {9, 9, 9, 200, 200, 200, 7, 7, 7}, pal.trns = {255, 0};
    std::string paletted = Write("pal.png", MakePng(pal));
    BmpFixture bmp;
    bmp.width = 2, bmp.height = 1, bmp.data = {1, 2, 3, 4, 5, 6, 0, 0};
    std::string plain = Write("plain.bmp", MakeBmp(bmp));
    std::string wants = WriteText("wants.tst", "TSTIMG w=2 h=2 want=1 alpha=0");
    std::string pen = WriteText("pen.tst", "TSTIMG w=2 h=2 pen=5");

    struct Case {
        const char *name;
        std::string path;
        uint32_t flags;
        int code;
        bool alphaBitmap;  // kept (flag 0x20)
    } cases[] = {
        {"alpha wanted, none there", photo, LV_IMGLOAD_ALPHA | LV_IMGLOAD_KEEPALPHA, ERR_NOALPHA, false},
        {"alpha wanted, missing ok", photo, LV_IMGLOAD_ALPHA | LV_IMGLOAD_NOALPHAOK | LV_IMGLOAD_KEEPALPHA, 0, false},
        // An excused missing alpha channel goes straight to the results: no pen check.
        {"alpha excused, pen unchecked", photo, LV_IMGLOAD_ALPHA | LV_IMGLOAD_NOALPHAOK | LV_IMGLOAD_TRANSPEN, 0, false},
        {"alpha made", withAlpha, LV_IMGLOAD_ALPHA | LV_IMGLOAD_KEEPALPHA, 0, true},
        {"alpha made, not kept", withAlpha, LV_IMGLOAD_ALPHA, 0, false},
        {"plug-in asks for alpha", wants, LV_IMGLOAD_KEEPALPHA, ERR_NOALPHA, false},
        {"pen wanted, none there", plain, LV_IMGLOAD_TRANSPEN, ERR_NOTRANSPARENCY, false},
        {"pen wanted, missing ok", plain, LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_NOPENOK, 0, false},
        {"plug-in pen", pen, LV_IMGLOAD_TRANSPEN, 0, false},
        // The PNG reader's -2 becomes an alpha channel, which satisfies flag 0x2.
        {"png tRNS becomes alpha", paletted, LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_KEEPALPHA, 0, true},
        {"palette pen", paletted, LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_PALETTE, 0, false},
    };
    for (const Case &c : cases) {
        Result r = Load(c.path, nullptr, c.flags);
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(request.alphaBitmap != nullptr, c.alphaBitmap) << c.name;
        ReleaseImageSource(r.source);
    }

    // A plug-in that fails after reporting alpha leaves no trace in the built-in reader's report.
    BmpFixture pens;
    pens.width = 2, pens.height = 1, pens.bits = 8, pens.palette = {1, 2}, pens.data = {0, 1, 0, 0};
    std::string staleAlpha = Write("takeme_alpha.bmp", MakeBmp(pens));
    Result stale = Load(staleAlpha, "plugin|inbuilt", LV_IMGLOAD_PALETTE | LV_IMGLOAD_ALPHA);
    EXPECT_EQ(stale.code, ERR_NOALPHA);
    EXPECT_STREQ(request.formatName, "BMP");

    // The alpha channel of the tRNS: pen 1 is transparent.
    Result r = Load(paletted, nullptr, LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_KEEPALPHA);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(request.transparentPen, -1);
    EXPECT_EQ(request.hasAlpha, 1);
    uint8_t *alpha;
    int rowBytes;
    uintptr_t token = GetPlanePixels(request.alphaBitmap, &alpha, &rowBytes, 0);
    ASSERT_NE(token, 0u);
    for (int x = 0; x < 4; x++) EXPECT_EQ(alpha[x], PngSample(pal, x, 0, 0) == 1 ? 0 : 255) << x;
    ReleasePlanePixels(token);
    ReleaseImageSource(r.source);
    r = Load(paletted, nullptr, LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_PALETTE);
    EXPECT_EQ(request.transparentPen, 1);
    ReleaseImageSource(r.source);

    // Palette only: the palette with no pixels; none for a JPEG.
    r = Load(paletted, nullptr, LV_IMGLOAD_PALETTE | LV_IMGLOAD_PALETTEONLY | LV_IMGLOAD_COPYPALETTE);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.source, nullptr);
    ASSERT_NE(request.palette, nullptr);
    EXPECT_EQ(request.palette[1], 0xC8C8C8u);
    r = Load(photo, nullptr, LV_IMGLOAD_PALETTEONLY);
    EXPECT_EQ(r.code, ERR_NOPALETTE);
    r = Load(photo, nullptr, LV_IMGLOAD_PALETTE | LV_IMGLOAD_PALETTEONLY);
    EXPECT_EQ(r.code, ERR_NOPALETTE);

    // Size only: the size, no pixels decoded.
    r = Load(withAlpha, nullptr, LV_IMGLOAD_SIZEONLY);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.width, 5);
    EXPECT_EQ(request.format, IMGFMT_PNG);
    ReleaseImageSource(r.source);
}

TEST_F(LoaderChain, PluginRowsArePackedAndShortRowsRefused)
{
    std::string padded = WriteText("padded.tst", "TSTIMG w=3 h=2 line=5 alpha=1 fmt=PADDED");
    Result r = Load(padded, "plugin", LV_IMGLOAD_PACKROWS);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.lineWidth, 3);
    EXPECT_STREQ(request.formatName, "PADDED");
    EXPECT_EQ(request.loader, (void *)FindPluginByModuleName("imgloader")->handle->record);
    uint32_t *pixels = TakeImageSourcePixels(r.source);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(pixels[y * 3 + x], 0x80000000u | x << 8 | y);
    ReleaseImageSource(r.source);
    // Without flag 0x2000 the padded rows stay as delivered.
    r = Load(padded, "plugin", 0);
    EXPECT_EQ(r.lineWidth, 5);
    ReleaseImageSource(r.source);

    // Rows shorter than the picture: the plug-in's load is refused, the next loader tried.
    std::string shortRows = WriteText("short.tst", "TSTIMG w=3 h=2 line=1");
    r = Load(shortRows, "plugin|inbuilt", LV_IMGLOAD_PACKROWS);
    EXPECT_EQ(r.code, ERR_LOADPICTURE2);
    // Also when only GetImage reports them.
    r = Load(WriteText("late.tst", "TSTIMG w=3 h=2 getline=2"), "plugin", 0);
    EXPECT_EQ(r.code, ERR_LOADPICTURE2);
}

// ============================================================================
// Sizes
// ============================================================================

TEST_F(LoaderChain, TargetSizes)
{
    PngFixture fixture;
    fixture.width = 5, fixture.height = 9;
    std::string path = Write("five.png", MakePng(fixture));
    struct Case {
        double scale;
        int wantedWidth, wantedHeight;
        int code, width, height;
        bool copy;
    } cases[] = {
        {1, 0, 0, 0, 5, 9, false},
        {0, 0, 0, 0, 5, 9, false},
        {0, -50, -50, 0, 2, 4, true},
        {1, 10, 3, 0, 10, 3, true},
        {2.5, 0, 0, 0, 12, 22, true},
        {1e-9, 0, 0, 0, 1, 1, true},
        {-3, 0, 0, 0, 1, 1, true},
        {1e12, 0, 0, ERR_MEM, 0, 0, false},
        {0, 200000, 200000, ERR_MEM, 0, 0, false},
    };
    for (const Case &c : cases) {
        Reset(nullptr, 0);
        request.scale = c.scale;
        request.wantedWidth = c.wantedWidth;
        request.wantedHeight = c.wantedHeight;
        lvImageSource *source = nullptr;
        int w = 0, h = 0, line = 0;
        int code = LoadImageSource(path.c_str(), &request, &source, &w, &h, &line, nullptr);
        EXPECT_EQ(code, c.code) << c.scale << " " << c.wantedWidth;
        if (code) continue;
        EXPECT_EQ(w, c.width) << c.scale << " " << c.wantedWidth;
        EXPECT_EQ(h, c.height) << c.scale << " " << c.wantedWidth;
        EXPECT_EQ(line, c.width);
        EXPECT_EQ(source->scaledPixels != nullptr, c.copy) << c.scale << " " << c.wantedWidth;
        ReleaseImageSource(source);
    }
}

TEST_F(LoaderChain, VectorPicturesAreRenderedAgainAtTheTarget)
{
    std::string vector = WriteText("shape.tst", "TSTIMG w=4 h=4 vector=1");
    Reset("plugin", 0);
    request.scale = 2;
    lvImageSource *source = nullptr;
    int w, h, line, isVector;
    ASSERT_EQ(LoadImageSource(vector.c_str(), &request, &source, &w, &h, &line, &isVector), 0);
    EXPECT_EQ(isVector, 1);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 8);
    EXPECT_EQ(line, 8);
    EXPECT_EQ(source->width, 4);  // the unscaled size
    EXPECT_EQ(source->scaledPixels, nullptr);
    EXPECT_EQ(TakeImageSourcePixels(source)[7 * 8 + 7], (7u << 8) | 7u);

    // Rendered at another size into a bitmap.
    double matrix[4] = {0.5, 0, 0, 0.5};
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    EXPECT_EQ(RenderImageSource(nullptr, source, matrix, 0, 0, 2, 2, nullptr, nullptr, nullptr, &rgb, &mask, &alpha,
                                nullptr, &line),
              0);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->width, 2);
    EXPECT_EQ(line, 0);
    FreeBitmapHandle(rgb);
    ReleaseImageSource(source);

    // A plug-in that scales a vector picture itself reports its own size as the wanted one.
    std::string scaled = WriteText("scaled.tst", "TSTIMG w=4 h=4 vector=1 scaled=1");
    Reset("plugin", 0);
    request.wantedWidth = 6;
    request.wantedHeight = 3;
    ASSERT_EQ(LoadImageSource(scaled.c_str(), &request, &source, &w, &h, &line, &isVector), 0);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(source->width, 4);
    ReleaseImageSource(source);
}

static int fallbackWidth, fallbackHeight;
static int RecordFallback(void *, int width, int height, lvBitMapHandle **, lvBitMapHandle **, lvBitMapHandle **,
                          lvBitMapHandle **)
{
    fallbackWidth = width, fallbackHeight = height;
    return 0;
}

TEST_F(LoaderChain, ScaleImageOrVectorByKind)
{
    // Raster: the planes scaled by the raster engine.
    lvBitMapHandle *rgb = AllocRgbBitmap(4, 4, 0, nullptr), *alpha = AllocAlphaBitmap(4, 4, 1, nullptr, 0);
    lvBitMapHandle *newRgb = nullptr, *newMask = nullptr, *newAlpha = nullptr, *newPens = nullptr;
    ASSERT_EQ(ScaleImageOrVector(nullptr, 0, rgb, nullptr, alpha, nullptr, nullptr, 4, 4, 8, 2, 0, nullptr, &newRgb,
                                 &newMask, &newAlpha, &newPens),
              0);
    ASSERT_NE(newRgb, nullptr);
    ASSERT_NE(newAlpha, nullptr);
    EXPECT_EQ(newRgb->width, 8);
    EXPECT_EQ(newAlpha->height, 2);
    EXPECT_EQ(newMask, nullptr);
    FreeBitmapHandle(newRgb);
    FreeBitmapHandle(newAlpha);
    FreeBitmapHandle(rgb);
    FreeBitmapHandle(alpha);

    // Vector with a source: rendered again by its plug-in at the new size.
    std::string vector = WriteText("shape.tst", "TSTIMG w=4 h=4 vector=1 alpha=1");
    Result r = Load(vector, "plugin", 0);
    ASSERT_EQ(r.code, 0);
    newRgb = newAlpha = nullptr;
    ASSERT_EQ(ScaleImageOrVector(nullptr, 1, nullptr, nullptr, nullptr, nullptr, r.source, 4, 4, 6, 3, 0, nullptr,
                                 &newRgb, &newMask, &newAlpha, &newPens),
              0);
    ASSERT_NE(newRgb, nullptr);
    EXPECT_EQ(newRgb->width, 6);
    ASSERT_NE(newAlpha, nullptr);  // the plug-in's alpha flag gives an alpha channel
    FreeBitmapHandle(newRgb);
    FreeBitmapHandle(newAlpha);
    ReleaseImageSource(r.source);

    // Into a background picture: its owner's builder gets the rendered pixels and the target.
    r = Load(vector, "plugin", 0);
    ASSERT_EQ(r.code, 0);
    static struct {
        void *fill;
        uint32_t corner;
        int width, rowLength;
        bool alpha;
    } built;
    auto build = [](void *, const uint32_t *pixels, void *fill, int64_t, int width, int, int rowLength,
                    lvBitMapHandle **, lvBitMapHandle **, lvBitMapHandle **alpha, lvBitMapHandle **) -> int {
        built = {fill, pixels[rowLength * 2 + 4], width, rowLength, *alpha != nullptr};
        return 0;
    };
    double matrix[4] = {1.25, 0, 0, 0.75};
    int target = 42, line = -1;
    newRgb = newAlpha = nullptr;
    ASSERT_EQ(RenderImageSource(nullptr, r.source, matrix, 0, 0, 5, 3, &target, build, nullptr, &newRgb, &newMask,
                                &newAlpha, nullptr, &line),
              0);
    EXPECT_EQ(built.fill, &target);
    EXPECT_EQ(built.width, 5);
    EXPECT_EQ(built.rowLength, 5);
    EXPECT_EQ(built.corner, 0x80000000u | 4u << 8 | 2u);
    EXPECT_TRUE(built.alpha);
    EXPECT_EQ(line, 0);
    FreeBitmapHandle(newAlpha);
    ReleaseImageSource(r.source);

    // Vector without a source: the caller's renderer at the new size.
    EXPECT_EQ(ScaleImageOrVector(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 4, 4, 7, 5, 0, RecordFallback,
                                 &newRgb, &newMask, &newAlpha, &newPens),
              0);
    EXPECT_EQ(fallbackWidth, 7);
    EXPECT_EQ(fallbackHeight, 5);
    EXPECT_EQ(ScaleImageOrVector(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 4, 4, 1 << 20, 1 << 20, 0,
                                 nullptr, &newRgb, &newMask, &newAlpha, &newPens),
              ERR_MEM);
}

// ============================================================================
// Sources
// ============================================================================

static int clonesMade, clonesFreed, handlesFreed;
static void *CloneHandle(void *handle) { return clonesMade++, (void *)((uintptr_t)handle + 1000); }
static void FreeClone(void *, void *) { clonesFreed++; }
static void FreeHandle(void *) { handlesFreed++; }
static int attachedFreed;
static void FreeAttached(void *) { attachedFreed++; }

TEST_F(LoaderChain, ReferenceCountsAndClones)
{
    std::string path = WriteText("counted.tst", "TSTIMG w=2 h=2");
    Result r = Load(path, "plugin", 0);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(ImagesOpen(), 1);
    RetainImageSource(r.source);
    ReleaseImageSource(r.source);
    EXPECT_EQ(ImagesOpen(), 1);
    // A clone sharing the handle does not close it.
    lvImageSource *shared = CloneImageSource(r.source, 0);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->handle, r.source->handle);
    ReleaseImageSource(shared);
    EXPECT_EQ(ImagesOpen(), 1);
    // Without a clone function no independent copy can be made.
    EXPECT_EQ(CloneImageSource(r.source, 1), nullptr);
    ReleaseImageSource(r.source);
    EXPECT_EQ(ImagesOpen(), 0);

    // Decoded files (kind 1) and pixel buffers (kind 0) have no clones.
    PngFixture fixture;
    r = Load(Write("k1.png", MakePng(fixture)), nullptr, 0);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(GetImageSourceKind(r.source), 1u);
    EXPECT_EQ(CloneImageSource(r.source, 1), nullptr);
    ReleaseImageSource(r.source);
    lvImageSource *pixels = NewImageSource(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 3, 2, nullptr,
                                           nullptr, 0);
    ASSERT_NE(pixels, nullptr);
    ASSERT_NE(pixels->pixels, nullptr);
    EXPECT_EQ(CloneImageSource(pixels, 0), nullptr);
    EXPECT_EQ(NewImageSource(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1 << 20, 1 << 20, nullptr,
                             nullptr, 0),
              nullptr);
    ReleaseImageSource(pixels);

    // Callback sources: independent clones get fresh handles, each freed once.
    clonesMade = clonesFreed = handlesFreed = attachedFreed = 0;
    lvImageSource *callback = NewImageSource(2, (void *)1, nullptr, FreeHandle, nullptr, nullptr, nullptr, 4, 4,
                                             CloneHandle, FreeClone, 7);
    AttachImageSourceObject(callback, (void *)5, FreeAttached);
    lvImageSource *own = CloneImageSource(callback, 1);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->handle, (void *)1001);
    lvImageSource *ofClone = CloneImageSource(own, 0);  // a source holding a clone clones again
    ASSERT_NE(ofClone, nullptr);
    EXPECT_EQ(ofClone->handle, (void *)2001);
    ReleaseImageSource(ofClone);
    ReleaseImageSource(own);
    ReleaseImageSource(callback);
    EXPECT_EQ(clonesMade, 2);
    EXPECT_EQ(clonesFreed, 2);
    EXPECT_EQ(handlesFreed, 1);
    EXPECT_EQ(attachedFreed, 1);
}

TEST_F(LoaderChain, RenderWithoutTransformFails)
{
    lvImageSource *source = NewImageSource(2, (void *)1, nullptr, nullptr, nullptr, nullptr, nullptr, 4, 4, nullptr,
                                           nullptr, 0);
    double matrix[4] = {1, 0, 0, 1};
    uint32_t *pixels = nullptr;
    EXPECT_EQ(RenderImageSource(nullptr, source, matrix, 0, 0, 4, 4, nullptr, nullptr, &pixels, nullptr, nullptr,
                                nullptr, nullptr, nullptr),
              ERR_TFIMAGE);
    ReleaseImageSource(source);
}

// ============================================================================
// Dispatch, probe and plug-in entries
// ============================================================================

TEST_F(LoaderChain, ProbeAndFileInfo)
{
    PngFixture fixture;
    fixture.colourType = 6, fixture.width = 7, fixture.height = 3;
    std::string png = Write("p.png", MakePng(fixture));
    std::string pen = WriteText("pen.tst", "TSTIMG w=9 h=8 pen=2 vector=1");
    std::string text = WriteText("t.txt", "hello");
    int isVector = -1, format = -1, w = -1, h = -1, depth = -1, alpha = -1, transparency = -1;
    EXPECT_EQ(ProbeImageFile(png.c_str(), nullptr, nullptr, nullptr, &isVector, &format, &w, &h, &depth, &alpha,
                             &transparency),
              1);
    EXPECT_EQ(format, IMGFMT_PNG);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(depth, 32);
    EXPECT_EQ(alpha, 1);
    EXPECT_EQ(isVector, 0);
    EXPECT_EQ(ProbeImageFile(pen.c_str(), nullptr, nullptr, nullptr, &isVector, &format, &w, &h, &depth, &alpha,
                             &transparency),
              1);
    EXPECT_EQ(format, IMGFMT_PLUGIN);
    EXPECT_EQ(w, 9);
    EXPECT_EQ(isVector, 1);
    EXPECT_EQ(transparency, 1);
    EXPECT_EQ(ProbeImageFile(pen.c_str(), "inbuilt", nullptr, nullptr, &isVector, &format, &w, &h, &depth, &alpha,
                             &transparency),
              0);
    EXPECT_EQ(ProbeImageFile(text.c_str(), nullptr, nullptr, nullptr, &isVector, &format, &w, &h, &depth, &alpha,
                             &transparency),
              0);

    // The raster engine's probe (IsPicture) reaches the same chain once the services are in.
    InstallImageLoaderEntries();
    lvImageProbe probe = {};
    const lvFileFormatServices &files = NeighbourServices.files;
    EXPECT_EQ(files.ProbeImageFile(files.context, L, pen.c_str(), nullptr, nullptr, nullptr, &probe), 1);
    EXPECT_EQ(probe.imageType, 1);
    EXPECT_EQ(probe.format, IMGFMT_PLUGIN);
    EXPECT_EQ(probe.height, 8);
    SetFileFormatServices(nullptr);
    SetPluginImageEntries(nullptr);

    // The first graphics entry: size and alpha, outputs untouched for unknown files.
    w = h = alpha = -7;
    EXPECT_EQ(GetImageFileInfo(text.c_str(), &w, &h, &alpha), 0);
    EXPECT_EQ(w, -7);
    EXPECT_EQ(GetImageFileInfo(pen.c_str(), &w, &h, &alpha), 0);  // plug-ins are not asked
    EXPECT_EQ(GetImageFileInfo(png.c_str(), &w, &h, &alpha), 1);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(alpha, 1);
}

TEST_F(LoaderChain, TaggedLoadSwapsRedAndBlueAndFillsAlpha)
{
    PngFixture rgba;
    rgba.colourType = 6, rgba.width = 3, rgba.height = 2;
    PngFixture rgb;
    rgb.colourType = 2, rgb.width = 3, rgb.height = 2;
    for (const PngFixture &fixture : {rgba, rgb}) {
        std::string path = Write("tagged.png", MakePng(fixture));
        int w = 0, h = 0, alpha = -1;
        lvImageSource *source = LoadImageSourceTagged(path.c_str(), nullptr, &w, &h, &alpha);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(alpha, fixture.colourType == 6);
        const uint8_t *bytes = (const uint8_t *)TakeImageSourcePixels(source);
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 3; x++) {
                const uint8_t *p = bytes + (y * 3 + x) * 4;
                EXPECT_EQ(p[0], PngSample(fixture, x, y, 0));
                EXPECT_EQ(p[1], PngSample(fixture, x, y, 1));
                EXPECT_EQ(p[2], PngSample(fixture, x, y, 2));
                EXPECT_EQ(p[3], fixture.colourType == 6 ? PngSample(fixture, x, y, 3) : 255u);
            }
        ReleaseImageSource(source);

        // Tag 1 keeps the runtime's words; tag 2 scales; a factor of 0 or below gives none.
        double factor = 2;
        lvPluginTag keep[] = {{1, 1}, {2, (intptr_t)&factor}, {0, 0}};
        source = LoadImageSourceTagged(path.c_str(), keep, &w, &h, &alpha);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(w, 6);
        uint32_t word = TakeImageSourcePixels(source)[0];
        EXPECT_EQ(word & 0xFFFFFF, PngSample(fixture, 0, 0, 0) << 16 | PngSample(fixture, 0, 0, 1) << 8 | PngSample(fixture, 0, 0, 2));
        ReleaseImageSource(source);
        factor = 0;
        EXPECT_EQ(LoadImageSourceTagged(path.c_str(), keep, &w, &h, &alpha), nullptr);
    }
    // The loader list tag: plug-ins only when named.
    std::string tst = WriteText("tagged.tst", "TSTIMG w=2 h=2");
    int w, h, alpha;
    EXPECT_EQ(LoadImageSourceTagged(tst.c_str(), nullptr, &w, &h, &alpha), nullptr);
    lvPluginTag list[] = {{5, (intptr_t) "plugin"}, {0, 0}};
    lvImageSource *source = LoadImageSourceTagged(tst.c_str(), list, &w, &h, &alpha);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(TakeImageSourcePixels(source)[3], 0xFF000000u | 1u << 8 | 1u << 16);  // x 1, y 1: G 1, R 1
    ReleaseImageSource(source);
}

TEST_F(LoaderChain, DecodeImageFileRecordsAndNativeAnswersUnknown)
{
    BmpFixture fixture;
    fixture.width = 1, fixture.height = 1, fixture.data = {10, 20, 30, 0};
    std::string path = Write("one.bmp", MakeBmp(fixture));
    lvVFile *file = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr);
    ASSERT_NE(file, nullptr);
    lvImageLoadRequest r = {};
    lvDecodedImage *decoded = nullptr;
    int w = 0, h = 0;
    EXPECT_EQ(DecodeImageFile(file, 2, &r, &decoded, &w, &h), ERR_LOADPICTURE2);
    EXPECT_EQ(DecodeImageFile(file, 1, &r, &decoded, &w, &h), 0);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->format, IMGFMT_BMP);
    EXPECT_EQ(r.format, IMGFMT_BMP);
    EXPECT_STREQ(r.formatName, "BMP");
    EXPECT_EQ(r.transparentPen, -1);
    EXPECT_EQ(*(uint32_t *)GetDecodedImagePixels(decoded), 0x1E140Au);
    FreeDecodedImage(decoded);
    CloseVFile(file);

    // A JPEG is identified first: its EXIF orientation turns the decoded picture.
    JpegFixture turned;
    turned.width = 24, turned.height = 8, turned.orientation = 6;
    path = Write("turned.jpg", MakeJpeg(turned));
    Result loaded = Load(path, "inbuilt", 0);
    ASSERT_EQ(loaded.code, 0);
    EXPECT_EQ(loaded.width, 8);
    EXPECT_EQ(loaded.height, 24);
    EXPECT_STREQ(request.formatName, "JPEG");
    EXPECT_EQ(request.depth, 24);
    ReleaseImageSource(loaded.source);
}

}  // namespace
