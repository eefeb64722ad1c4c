// animplugin.cpp - a test plug-in with an anim loader and an anim saver.
// Loader: takes files that begin with "TSTANIM" (or "TSTVANIM": vector frames rendered
// by GetFrame at the size TransformFrame set) followed by the frame count; frames are
// 3 x 2, pixel words frame << 16 | x << 8 | y (palette mode: pens frame + x, with a grey
// palette), delays 10 x (frame + 1) ms, format "TESTANIM"; a frame count of 0 is refused.
// Saver: formats 7101 "TESTANIM" (true colour and alpha), 7102 "TESTPAL" (palettes
// only) and 7103 "TESTRGB" (true colour without alpha); the stream writes one text line per call so that tests can read what it got.
#include "runtime/lvplugin.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define LVT_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;

struct TestAnim {
    int frames;
    int vector;
    uint32_t palette[256];
};
static int animsOpen, vectorFramesOpen;

// A vector frame: rendered at its size, 3 x 2 until TransformFrame sets another.
struct TestVectorFrame {
    int frame, width = 3, height = 2;
    uint32_t *pixels = nullptr;
};

LVT_EXPORT(OpenAnim)(const char *path, lvAnimOpenCtrl *ctrl) -> void *
{
    void *file = api->files->OpenFile(path, 0);
    if (!file) return nullptr;
    char text[64] = {};
    api->files->ReadFile(file, text, sizeof text - 1);
    api->files->CloseFile(file);
    bool vector = std::strncmp(text, "TSTVANIM", 8) == 0;
    if (std::strncmp(text, "TSTANIM", 7) != 0 && !vector) return nullptr;
    int frames = std::atoi(text + (vector ? 8 : 7));
    if (frames <= 0) return nullptr;
    TestAnim *a = new TestAnim;
    a->frames = frames;
    a->vector = vector;
    ctrl->type = vector ? 1 : 0;
    for (int i = 0; i < 256; i++) a->palette[i] = (uint32_t)i * 0x010101u;
    ctrl->width = 3, ctrl->height = 2, ctrl->frameCount = frames, ctrl->fourth = 42;
    animsOpen++;
    return a;
}
LVT_EXPORT(LoadFrame)(void *handle, int frame, lvAnimFrameCtrl *ctrl) -> void *
{
    TestAnim *a = (TestAnim *)handle;
    if (frame < 0 || frame >= a->frames) return nullptr;
    if (a->vector) {
        TestVectorFrame *f = new TestVectorFrame;
        f->frame = frame;
        vectorFramesOpen++;
        return f;
    }
    if (ctrl->flags & LVP_ANIMCTRL_PALETTE) {
        uint8_t *pens = (uint8_t *)std::malloc(6);
        for (int i = 0; i < 6; i++) pens[i] = (uint8_t)(frame + i % 3);
        ctrl->palette = a->palette, ctrl->depth = 8, ctrl->transparentPen = 0;
        return pens;
    }
    uint32_t *px = (uint32_t *)std::malloc(24);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) px[y * 3 + x] = (uint32_t)frame << 16 | (uint32_t)x << 8 | (uint32_t)y;
    ctrl->depth = 32, ctrl->hasAlpha = 1;
    return px;
}
LVT_EXPORT(FreeFrame)(void *handle, void *pixels) -> void
{
    (void)handle;
    std::free(pixels);
}
LVT_EXPORT(GetFrameDelay)(void *, int frame) -> int { return 10 * (frame + 1); }
LVT_EXPORT(CloseAnim)(void *handle) -> void
{
    delete (TestAnim *)handle;
    animsOpen--;
}
LVT_EXPORT(GetAnimFormat)(void *) -> const char * { return "TESTANIM"; }
// Pixels frame << 24 | width << 8 | height, opaque alpha in the frame number's byte.
LVT_EXPORT(GetFrame)(void *handle, lvAnimFrameCtrl *ctrl) -> void *
{
    TestVectorFrame *f = (TestVectorFrame *)handle;
    std::free(f->pixels);
    f->pixels = (uint32_t *)std::malloc((size_t)f->width * f->height * 4);
    for (int i = 0; i < f->width * f->height; i++)
        f->pixels[i] = (uint32_t)(0x80 + f->frame) << 24 | (uint32_t)f->width << 8 | (uint32_t)f->height;
    ctrl->hasAlpha = 1, ctrl->depth = 32;
    return f->pixels;
}
LVT_EXPORT(TransformFrame)(void *handle, const lvImageMatrix *, int width, int height) -> int
{
    TestVectorFrame *f = (TestVectorFrame *)handle;
    f->width = width, f->height = height;
    return 1;
}
LVT_EXPORT(FreeVectorFrame)(void *handle) -> void
{
    TestVectorFrame *f = (TestVectorFrame *)handle;
    std::free(f->pixels);
    delete f;
    vectorFramesOpen--;
}
LVT_EXPORT(TestVectorFramesOpen)(void) -> int { return vectorFramesOpen; }

// ---- Saver ----

static const struct {
    int id;
    const char *name;
    uint32_t flags;
} formats[] = {{7101, "TESTANIM", LVP_SAVER_TRUECOLOR | LVP_SAVER_ALPHA}, {7102, "TESTPAL", LVP_SAVER_PALETTE},
               {7103, "TESTRGB", LVP_SAVER_TRUECOLOR}};

LVT_EXPORT(RegisterAnimSaver)(lvPluginSaverFormat *item) -> int
{
    int index = 0;
    while (index < 3 && item->formatId && formats[index].id != item->formatId) index++;
    if (item->formatId) index++;
    item->formatId = formats[index].id;
    item->name = formats[index].name;
    item->flags = formats[index].flags | (index + 1 < 3 ? LVP_SAVEANIM_MORE : 0);
    return 1;
}
static void *Begin(const char *path, int width, int height, int paletteFrames, int quality, int fps, int ext,
                   const lvPluginTag *tags)
{
    FILE *out = std::fopen(path, "w");
    if (!out) return nullptr;
    std::fprintf(out, "begin%s %d %d palette %d quality %d fps %d\n", ext ? "ext" : "", width, height, paletteFrames,
                 quality, fps);
    for (; tags && tags->tag; tags++) std::fprintf(out, "tag %u\n", tags->tag);
    return out;
}
LVT_EXPORT(BeginAnimStream)(const char *path, int width, int height, int paletteFrames, int quality, int fps) -> void *
{
    return Begin(path, width, height, paletteFrames, quality, fps, 0, nullptr);
}
LVT_EXPORT(BeginAnimStreamExt)(const char *path, int width, int height, int paletteFrames, int quality, int fps,
                               const lvPluginTag *tags) -> void *
{
    return Begin(path, width, height, paletteFrames, quality, fps, 1, tags);
}
LVT_EXPORT(WriteAnimFrame)(void *stream, lvAnimFrameWriteCtrl *c) -> int
{
    std::fprintf((FILE *)stream, "frame row %d colours %d pen %d delay %d flags %u format %d palette %d first %u\n",
                 c->bytesPerRow, c->colourCount, c->transparentPen, c->delay, c->flags, c->formatWord,
                 c->palette != nullptr,
                 c->palette ? ((const uint8_t *)c->pixels)[0] : ((const uint32_t *)c->pixels)[0]);
    return 1;
}
LVT_EXPORT(FinishAnimStream)(void *stream) -> int { return std::fclose((FILE *)stream) == 0; }

// ---- Plug-in ----

LVT_EXPORT(GetExtensions)(uint32_t capability, void *) -> uint32_t
{
    return capability == PLUGINCAPS_ANIM ? 4u | 2u : capability == PLUGINCAPS_SAVEANIM ? 1u : 0u;
}
LVT_EXPORT(TestAnimsOpen)(void) -> int { return animsOpen; }

LVT_EXPORT(InitPlugin)(lvPluginRecord *r, const lvPluginApi *table, const char *) -> int
{
    api = table;
    if (api->version != LVPLUGIN_VERSION) return 0;
    r->capabilities = PLUGINCAPS_ANIM | PLUGINCAPS_SAVEANIM | PLUGINCAPS_EXTENSION;
    r->version = 1;
    r->revision = 0;
    r->name = "Test anim plug-in";
    r->moduleName = "animplugin";
    r->author = "Lumivarra tests";
    r->description = "An anim loader and saver built by the test suite";
    r->copyright = "none";
    r->url = "";
    r->date = "11.12.2026";
    return 1;
}
LVT_EXPORT(ClosePlugin)(void) -> void {}
