// formats_animplugin_test.cpp - anim handles and the anim writer with a plug-in anim
// loader and anim saver (tests/plugins/animplugin.cpp), and an anim served by a file
// adapter plug-in whose streams cannot seek.
#include "formats/lvanim.h"
#include "formats/lvanimwriter.h"
#include "raster/lvbitmap.h"
#include "raster/lvimage.h"
#include "runtime/errors.h"
#include "runtime/plugin.h"
#include "base/lverrors.h"
#include "tests/formats/formats_fixtures.h"
#include "tests/formats/gif_builder.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

class AnimPlugin : public ::testing::Test {
protected:
    lvState *L = nullptr;
    ScratchDir dir;
    void *self = nullptr;

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
        std::string path = std::string(LV_TESTPLUGIN_DIR) + "/animplugin.lvp";
        ASSERT_EQ(LoadPluginByName(L, path.c_str(), LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr), 0);
        self = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    }
    void TearDown() override
    {
        EXPECT_EQ(AnimsOpen(), 0) << "every plug-in anim was closed";
        if (self) dlclose(self);
        FreePluginLibraries(L);
        ClosePlugins();
        CloseVMState(L);
    }
    int AnimsOpen()
    {
        auto count = self ? (int (*)(void))dlsym(self, "TestAnimsOpen") : nullptr;
        return count ? count() : -1;
    }
    std::string Text(const std::string &path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(AnimPlugin, RasterAnimThroughTheChain)
{
    WriteBytes(dir.File("a.tanim"), Bytes{'T', 'S', 'T', 'A', 'N', 'I', 'M', '4'});
    lvAnimHandle *h = nullptr;
    lvPluginRecord *plugin = nullptr;
    int w, ht, frames, fourth, vector;
    ASSERT_EQ(OpenAnimHandle(dir.File("a.tanim").c_str(), nullptr, nullptr, nullptr, 0, 0, 0, &h, &w, &ht, &frames,
                             &fourth, &vector, &plugin),
              0);
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(fourth, 42);
    EXPECT_EQ(vector, 0);
    EXPECT_TRUE(plugin);
    EXPECT_STREQ(GetAnimFormatName(h), "TESTANIM");
    EXPECT_EQ(GetAnimFrameDelay(h, 2), 30);
    uint32_t *pal = nullptr;
    int depth, pen;
    uint32_t *px = (uint32_t *)FetchAnimFrame(h, 2, nullptr, &pal, &depth, &pen, nullptr);
    ASSERT_TRUE(px);
    EXPECT_EQ(px[4], 0x020101u);
    EXPECT_EQ(pen, -2) << "the frame has alpha";
    EXPECT_EQ(depth, 32);
    FreeAnimFrame(h, px);
    EXPECT_TRUE(IsAnimFile(dir.File("a.tanim").c_str(), nullptr, nullptr, nullptr));
    RetainAnimHandle(h);
    ReleaseAnimHandle(h);
    EXPECT_EQ(AnimsOpen(), 1);
    ReleaseAnimHandle(h);
    EXPECT_EQ(AnimsOpen(), 0);

    // Palette mode: pens and a copy of the plug-in's palette.
    ASSERT_EQ(OpenAnimHandle(dir.File("a.tanim").c_str(), "plugin", nullptr, nullptr, 0, 1, 1, &h, &w, &ht, &frames,
                             &fourth, &vector, &plugin),
              0);
    uint8_t *pens = (uint8_t *)FetchAnimFrame(h, 1, nullptr, &pal, &depth, &pen, nullptr);
    ASSERT_TRUE(pens && pal);
    EXPECT_EQ(pens[2], 3);
    EXPECT_EQ(pal[3], 0x030303u);
    EXPECT_EQ(pen, 0);
    FreeAnimFrame(h, pens);
    FreeMemory(pal);
    ReleaseAnimHandle(h);

    // Not the plug-in's and not an anim the runtime reads: 1356.
    WriteBytes(dir.File("b.tanim"), Bytes{'T', 'S', 'T', 'A', 'N', 'I', 'M', '0'});
    EXPECT_EQ(OpenAnimHandle(dir.File("b.tanim").c_str(), nullptr, nullptr, nullptr, 0, 0, 0, &h, &w, &ht, &frames,
                             &fourth, &vector, &plugin),
              ERR_OPENANIM2);
}

TEST_F(AnimPlugin, VectorFramesComeAsImageSources)
{
    WriteBytes(dir.File("v.tanim"), Bytes{'T', 'S', 'T', 'V', 'A', 'N', 'I', 'M', '2'});
    lvAnimHandle *h = nullptr;
    lvPluginRecord *plugin = nullptr;
    int w, ht, frames, fourth, vector;
    ASSERT_EQ(OpenAnimHandle(dir.File("v.tanim").c_str(), nullptr, nullptr, nullptr, 0, 0, 0, &h, &w, &ht, &frames,
                             &fourth, &vector, &plugin),
              0);
    EXPECT_EQ(vector, 1);
    auto open = self ? (int (*)(void))dlsym(self, "TestVectorFramesOpen") : nullptr;
    ASSERT_TRUE(open);
    uint32_t *pal = nullptr;
    int depth, pen;
    void *source = nullptr;
    uint32_t *px = (uint32_t *)FetchAnimFrame(h, 1, nullptr, &pal, &depth, &pen, &source);
    ASSERT_TRUE(px && source);
    EXPECT_EQ(px[0], 0x81000302u);
    EXPECT_EQ(pen, -2);
    EXPECT_EQ(open(), 1);
    FreeAnimFrame(h, px);  // the frame belongs to its image source
    EXPECT_EQ(open(), 1);
    // Rendered again at another size through the source: rows of the width, with alpha.
    double matrix[4] = {2, 0, 0, 2};
    uint32_t *again = nullptr;
    int lineWidth = 0;
    auto *src = (lvImageSource *)source;
    ASSERT_EQ(RenderImageSource(nullptr, src, matrix, 0, 0, 6, 4, nullptr, nullptr, &again, nullptr, nullptr, nullptr,
                                nullptr, &lineWidth),
              0);
    EXPECT_EQ(lineWidth, 6);
    EXPECT_EQ(again[0], 0x81000604u);
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(RenderImageSource(nullptr, src, matrix, 0, 0, 6, 4, nullptr, nullptr, nullptr, &rgb, &mask, &alpha,
                                nullptr, nullptr),
              0);
    EXPECT_TRUE(alpha) << "the frame's has-alpha field";
    FreeBitmapHandle(rgb), FreeBitmapHandle(mask), FreeBitmapHandle(alpha);
    ReleaseImageSource(src);
    EXPECT_EQ(open(), 0);
    ReleaseAnimHandle(h);
}

TEST_F(AnimPlugin, SaverReceivesTheFramesItTakes)
{
    const int W = 4, H = 2;
    std::vector<uint32_t> argb(W * H, 0x336699);
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(BitmapFromArgb(argb.data(), -1, W, H, W, 0, 0, nullptr, &rgb, &mask, &alpha), 0);

    // True colour with alpha: ARGB frames.
    lvAnimWriter *w = nullptr;
    ASSERT_EQ(BeginAnimWriter(dir.File("t.out").c_str(), nullptr, nullptr, 7101, W, H, 80, 12, &w), 0);
    ASSERT_EQ(AppendAnimFrame(w, rgb, nullptr, nullptr, nullptr, nullptr, 0, 24, -1, 40, 0, -1, 0), 0);
    ASSERT_EQ(FinishAnimWriter(w), 0);
    EXPECT_EQ(Text(dir.File("t.out")), "beginext 4 2 palette 0 quality 80 fps 12\ntag 1\n"
                                       "frame row 16 colours 0 pen 0 delay 40 flags 0 format 7101 palette 0 first 4281558681\n");

    // Palette only: RGB frames arrive as palette frames.
    ASSERT_EQ(BeginAnimWriter(dir.File("p.out").c_str(), nullptr, nullptr, 7102, W, H, 80, 12, &w), 0);
    ASSERT_EQ(AppendAnimFrame(w, rgb, nullptr, nullptr, nullptr, nullptr, 0, 2, -1, 40, 0, -1, 0), 0);
    ASSERT_EQ(FinishAnimWriter(w), 0);
    std::string text = Text(dir.File("p.out"));
    EXPECT_NE(text.find("palette 1 quality"), std::string::npos) << text;
    EXPECT_NE(text.find("colours 4 pen 0 delay 40 flags 0 format 7102 palette 1"), std::string::npos) << text;

    // Alpha for a format without alpha: 1499.
    std::vector<uint32_t> keyed(W * H, 0x336699);
    keyed[0] = 0;
    lvBitMapHandle *krgb = nullptr, *kmask = nullptr, *kalpha = nullptr;
    ASSERT_EQ(BitmapFromArgb(keyed.data(), 0, W, H, W, 0, ARGBF_TRANSPARENCY, nullptr, &krgb, &kmask, &kalpha), 0);
    ASSERT_EQ(BeginAnimWriter(dir.File("a.out").c_str(), nullptr, nullptr, 7103, W, H, 80, 12, &w), 0);
    EXPECT_EQ(AppendAnimFrame(w, krgb, kmask, kalpha, nullptr, nullptr, 0, 24, -1, 40, 0, -1, 0), ERR_SAVERALPHA);
    EXPECT_EQ(AppendAnimFrame(w, rgb, nullptr, nullptr, nullptr, nullptr, 0, 24, -1, 40, 0, -1, 0), 0);
    EXPECT_EQ(FinishAnimWriter(w), 0);
    EXPECT_EQ(BeginAnimWriter(dir.File("x.out").c_str(), nullptr, nullptr, 7999, W, H, 80, 12, &w), ERR_UNKNOWNANMOUT);
    FreeBitmapHandle(krgb), FreeBitmapHandle(kmask), FreeBitmapHandle(kalpha);
    FreeBitmapHandle(rgb), FreeBitmapHandle(mask), FreeBitmapHandle(alpha);
}

// A file adapter that flags its stream unseekable keeps the inbuilt readers off it (each
// seeks back and forth); the same bytes in a seekable stream of the adapter open.
TEST_F(AnimPlugin, InbuiltReadersSkipAnAdapterStreamThatCannotSeek)
{
    ASSERT_EQ(LoadPluginByName(L, LV_MEMFS_PLUGIN, LV_PLF_COMMANDS | LV_PLF_CONSTANTS, nullptr), 0);
    GifFixture f;
    f.width = 4, f.height = 2;
    f.globalTable = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 3; i++) {
        GifFrameFixture fr;
        fr.width = 4, fr.height = 2, fr.delay = 5;
        fr.pens.assign(8, (uint8_t)i);
        fr.minCodeSize = 2;
        f.frames.push_back(fr);
    }
    Bytes gif = MakeGif(f);
    for (const char *name : {"mem:anim.gif", "mem:pipe.gif"}) {
        lvVFile *file = OpenVFile(name, LV_VF_WRITE | LV_VF_ADAPTERS, "memfs", nullptr);
        ASSERT_TRUE(file) << name;
        EXPECT_EQ(WriteVFile(file, gif.data(), (int64_t)gif.size()), (int64_t)gif.size());
        CloseVFile(file);
    }
    lvAnimHandle *h = nullptr;
    lvPluginRecord *plugin = nullptr;
    int w = 0, ht = 0, frames = 0, fourth, vector;
    ASSERT_EQ(OpenAnimHandle("mem:anim.gif", "inbuilt", "memfs", nullptr, 0, 0, 0, &h, &w, &ht, &frames, &fourth,
                             &vector, &plugin),
              0);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(w, 4);
    ReleaseAnimHandle(h);
    h = nullptr;
    EXPECT_EQ(OpenAnimHandle("mem:pipe.gif", "inbuilt", "memfs", nullptr, 0, 0, 0, &h, &w, &ht, &frames, &fourth,
                             &vector, &plugin),
              ERR_OPENANIM2);
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(IsAnimFile("mem:pipe.gif", "inbuilt", "memfs", nullptr));
    EXPECT_TRUE(IsAnimFile("mem:anim.gif", "inbuilt", "memfs", nullptr));
}

}  // namespace
