// Draw tags and style tags from script tables, the filter table, the form
// style folded into style tags, shadow geometry, the draw style's clamping,
// gradient tables, the graphics library's open and shut-down steps and the
// preload call of linked pictures with its option table.
#include <gtest/gtest.h>

#include <strings.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "raster/lvblit.h"
#include "raster/lvdrawstate.h"
#include "raster/lvdrawtags.h"
#include "raster/lvgradient_args.h"
#include "raster/lvgraphics.h"
#include "raster/lvpreload.h"
#include "raster_fakes.h"
#include "runtime/cmdsupport.h"
#include "base/lverrors.h"
#include "vm/lvvm.h"

namespace {

struct DrawTags : testing::Test {
    lvState *L = nullptr;
    void SetUp() override {
        ResetRasterModes();
        ResetDrawingState();
        L = NewVMState();
    }
    void TearDown() override {
        CloseVMState(L);
        ResetDrawingState();
    }
    // Sets a field of the table at the top from a number or a string.
    void Field(const char *key, double v) { SetFieldNumber(L, key, v); }
    void Field(const char *key, const char *v) { SetFieldString(L, key, v); }
    // A list table {items...} of numbers stored under key.
    void List(const char *key, const std::vector<double> &items) {
        PushString(L, key);
        PushNewTable(L);
        for (size_t i = 0; i < items.size(); i++) {
            PushNumber(L, static_cast<double>(i));
            PushNumber(L, items[i]);
            SetTableValue(L, -3);
        }
        SetTableValue(L, -3);
    }
    // "filters" = {{name = n, ...fields}} with one entry.
    void Filter(const char *name, std::map<std::string, double> fields, std::vector<double> args = {}) {
        PushString(L, "filters");
        PushNewTable(L);
        PushNumber(L, 0);
        PushNewTable(L);
        SetFieldString(L, "name", name);
        for (auto &[k, v] : fields) SetFieldNumber(L, k.c_str(), v);
        if (!args.empty()) List("args", args);
        SetTableValue(L, -3);
        SetTableValue(L, -3);
    }
    int Parse(lvDrawTags *tags, lvStyleTags *style, int flags = DRAWTAGS_FROMTEMPLATE, int sw = 100, int sh = 50) {
        return ParseDrawTags(L, GetStackTop(L), sw, sh, sw, sh, 0, tags, style, flags);
    }
};

TEST_F(DrawTags, KeysGiveTheMatrixScaleAndAnchor) {
    auto matrixOf = [&](const char *key, double value) {
        SetStackTop(L, 0);
        PushNewTable(L);
        Field(key, value);
        lvDrawTags t;
        EXPECT_EQ(Parse(&t, nullptr), 0) << key;
        return t;
    };
    lvDrawTags r450 = matrixOf("rotate", 450), r90 = matrixOf("rotate", 90);
    EXPECT_EQ(std::memcmp(&r450.matrix, &r90.matrix, sizeof r90.matrix), 0);
    EXPECT_EQ(r450.rotate, 90);
    lvDrawTags rm90 = matrixOf("rotate", -90), r270 = matrixOf("rotate", 270);
    for (double lvMatrix2D::*f : {&lvMatrix2D::sx, &lvMatrix2D::rx, &lvMatrix2D::ry, &lvMatrix2D::sy})
        EXPECT_NEAR(rm90.matrix.*f, r270.matrix.*f, 1e-12);
    lvDrawTags w = matrixOf("width", 200);
    EXPECT_EQ(w.scaleX, 2);
    EXPECT_EQ(w.matrix.sx, 2);
    EXPECT_EQ(w.matrix.sy, 1);

    struct Case {
        const char *key;
        double value;
        int code;
    } errors[] = {{"scalex", 0, ERR_WRONGUSAGE}, {"scaley", 0, ERR_WRONGUSAGE}, {"anchorx", 1.5, ERR_WRONGUSAGE},
                  {"anchory", -0.1, ERR_WRONGUSAGE}, {"anchorx", 1, 0}};
    for (auto &c : errors) {
        SetStackTop(L, 0);
        PushNewTable(L);
        Field(c.key, c.value);
        lvDrawTags t;
        EXPECT_EQ(Parse(&t, nullptr), c.code) << c.key;
    }
    // A "transform" replaces the matrix; a zero on its diagonal is refused.
    SetStackTop(L, 0);
    PushNewTable(L);
    List("transform", {2, 0.5, 0, 3});
    lvDrawTags t;
    ASSERT_EQ(Parse(&t, nullptr), 0);
    EXPECT_EQ(t.transformGiven, 1);
    EXPECT_EQ(t.matrix.rx, 0.5);
    SetStackTop(L, 0);
    PushNewTable(L);
    List("transform", {0, 1, 1, 1});
    EXPECT_EQ(Parse(&t, nullptr), ERR_WRONGUSAGE);
}

TEST_F(DrawTags, OnlyTheLastArgumentIsRead) {
    PushNewTable(L);
    Field("scalex", 0.0);  // would be an error if it were read
    PushNumber(L, 7);
    lvDrawTags t;
    EXPECT_EQ(ParseDrawTags(L, 1, 100, 50, 100, 50, 0, &t, nullptr, DRAWTAGS_FROMTEMPLATE), 0);
    EXPECT_EQ(t.matrix.sx, 1);
    // A table is required with flag 2; a target size alone still gives a matrix.
    EXPECT_EQ(ParseDrawTags(L, 2, 100, 50, 100, 50, 0, &t, nullptr, DRAWTAGS_NEEDTABLE), ERR_TABEXPECTED);
    EXPECT_EQ(ParseDrawTags(L, 1, 100, 50, 300, 50, 0, &t, nullptr, DRAWTAGS_FROMTEMPLATE), 0);
    EXPECT_EQ(t.matrix.sx, 3);
}

TEST_F(DrawTags, StyleKeysFiltersAndNames) {
    struct Case {
        const char *what;
        std::function<void()> fill;
        int code;
        std::function<void(const lvStyleTags &)> check;
    } cases[] = {
        {"blur defaults", [&] { Filter("blur", {}); }, 0,
         [](const lvStyleTags &s) {
             EXPECT_EQ(s.filters[0].enabled, 1);
             EXPECT_EQ(s.filters[0].floats[0], 5.0f);
             EXPECT_EQ(s.filters[0].priority, 0);
             EXPECT_EQ(s.needsStyle, 1);
         }},
        {"blur disabled", [&] { Filter("BLUR", {{"disable", 1}}); }, 0,
         [](const lvStyleTags &s) { EXPECT_EQ(s.filters[0].enabled, 0); }},
        {"priority wraps", [&] { Filter("sepiatone", {{"priority", 300}}, {50}); }, 0,
         [](const lvStyleTags &s) {
             EXPECT_EQ(s.filters[12].priority, 44);
             EXPECT_EQ(s.filters[12].ints[0], 50);
         }},
        {"waterripple mixed args", [&] { Filter("waterripple", {}, {8, 2}); }, 0,
         [](const lvStyleTags &s) {
             const lvFilterSlot &f = s.filters[17];
             EXPECT_EQ((std::vector<int>{f.ints[0], f.ints[1], f.ints[2]}), (std::vector<int>{8, 2, 0}));
             EXPECT_EQ(f.floats[0], 0.5f);
         }},
        {"unknown filter", [&] { Filter("nosuch", {}); }, ERR_UNKNOWNFILTER, nullptr},
        {"tint clamped", [&] { Field("tint", 300); }, 0,
         [](const lvStyleTags &s) {
             EXPECT_EQ(s.filters[16].enabled, 1);
             EXPECT_EQ(s.filters[16].ints[1], 255);
             EXPECT_EQ(s.filters[16].ints[0], 0xFFFFFF);
         }},
        {"transparency percent", [&] { Field("transparency", "50%"); }, 0,
         [](const lvStyleTags &s) { EXPECT_EQ(s.transparency, 127); }},
        {"name too long", [&] { Field("name", std::string(256, 'n').c_str()); }, ERR_NAMETOOLONG, nullptr},
        {"empty name", [&] { Field("name", ""); }, ERR_WRONGUSAGE, nullptr},
        {"group repeats name", [&] { Field("name", "Layer"), Field("group", "LAYER"); }, ERR_GROUPNAMEUSED, nullptr},
        {"negative insert", [&] { Field("insertpos", -1); }, ERR_INVINSERT, nullptr},
        {"insert cut", [&] { Field("insertpos", 9); }, 0,
         [](const lvStyleTags &s) { EXPECT_EQ(s.insertPos, 1); }},  // no layers: at most 0 + 1
        {"shadow radius", [&] { Field("shadow", 1), Field("shadowradius", 0.5); }, ERR_WRONGUSAGE, nullptr},
        {"border without size", [&] { Field("border", 1), Field("bordersize", 0.0); }, ERR_WRONGUSAGE, nullptr},
    };
    for (auto &c : cases) {
        SetStackTop(L, 0);
        PushNewTable(L);
        c.fill();
        lvDrawTags t;
        lvStyleTags s;
        EXPECT_EQ(Parse(&t, &s), c.code) << c.what;
        if (c.check) c.check(s);
    }
}

TEST_F(DrawTags, FormStyleFoldsIntoStyleTags) {
    lvDrawStyle ds = *GetDrawStyle();
    ds.fillStyle = FILLNONE;
    ds.lineWidth = 5;
    ds.formStyle = FORM_SHADOW;
    lvStyleTags s;
    InitStyleTags(&s);
    ASSERT_EQ(ApplyFormStyleToTags(&ds, &s, 1, 0x40FF0000, 0), 0);
    EXPECT_EQ(s.border.on, 1);
    EXPECT_EQ(s.border.size, 2);
    EXPECT_EQ(s.border.colour, 0xFF0000u);
    EXPECT_EQ(ds.lineWidth, 1);
    EXPECT_EQ(s.shadow.on, 1);
    EXPECT_EQ(s.shadow.size, 4);
    EXPECT_EQ(ds.formStyle & FORM_SHADOW, 0);
    // With palette checks, a pen beyond the depth is refused.
    ds.formStyle = FORM_BORDER;
    ds.borderPen = 4;
    InitStyleTags(&s);
    EXPECT_EQ(ApplyFormStyleToTags(&ds, &s, 0, 0, 2), ERR_PENRANGE);
}

TEST_F(DrawTags, ShadowGeometryByDirection) {
    // {left, top, right, bottom} for each direction, north clockwise.
    const int offsets[8][4] = {{0, 3, 0, 0}, {0, 3, 3, 0}, {0, 0, 3, 0}, {0, 0, 3, 3},
                               {0, 0, 0, 3}, {3, 0, 0, 3}, {3, 0, 0, 0}, {3, 3, 0, 0}};
    const int extent[8][2] = {{10, 13}, {13, 13}, {13, 10}, {13, 13}, {10, 13}, {13, 13}, {13, 10}, {13, 13}};
    for (int d = 0; d < 8; d++) {
        int l, t, r, b;
        GetShadowOffsets(3, d, &l, &t, &r, &b);
        EXPECT_EQ((std::vector<int>{l, t, r, b}), (std::vector<int>(offsets[d], offsets[d] + 4))) << d;
        int w = 10, h = 10;
        AddShadowExtent(d, 3, &w, &h);
        EXPECT_EQ(w, extent[d][0]) << d;
        EXPECT_EQ(h, extent[d][1]) << d;
    }
}

TEST_F(DrawTags, DrawStyleClampsAndDegreeTables) {
    lvDrawStyle *s = GetDrawStyle();
    s->lineWidth = -3;
    s->shadowSize = 100;
    s->borderSize = 0;
    s->shadowDirection = 8;
    s->fillStyle = 9;
    ClampDrawStyle();
    EXPECT_EQ((std::vector<int>{s->lineWidth, s->shadowSize, s->borderSize, s->shadowDirection, s->fillStyle}),
              (std::vector<int>{1, 64, 1, 3, 0}));
    EXPECT_NEAR(DrawingState.sinByDegree[90], -1, 1e-15);    // 270 degrees
    EXPECT_NEAR(DrawingState.sinByDegree[361], 1, 1e-15);    // 450 degrees
    EXPECT_NEAR(DrawingState.cosByDegree[362], -1, 1e-15);   // 540 degrees
    EXPECT_NEAR(DrawingState.sinByDegree[363], -1, 1e-15);   // 630 degrees
}

TEST_F(DrawTags, GradientTablesAndTheirRoundTrip) {
    lvGradient g;
    InitGradient(&g, 0);
    g.style = GRADIENT_RADIAL;
    PushNewTable(L);
    Field("centerx", 0.25);
    List("colors", {0xFF, 1, 0xFF0000, 0});  // out of order: kept as given
    int given = 0;
    ASSERT_EQ(ReadGradientTable(L, 1, &g, "centerx", "centery", "balance", "border", "colors", &given), 0);
    EXPECT_EQ(given, 1);
    EXPECT_EQ(g.centreX, 0.25);
    ASSERT_EQ(g.stopCount, 2);
    EXPECT_EQ(g.stops[0].position, 1);
    // Back into a table and read again: the same record.
    PushNewTable(L);
    PushGradientFields(L, "gradient", &g);
    lvGradient back;
    std::memset(&back, 0, sizeof back);
    ASSERT_EQ(ParseGradientTags(L, -1, &back, 0, 1), 0);
    EXPECT_EQ(back.style, GRADIENT_RADIAL);
    EXPECT_EQ(back.centreX, 0.25);
    EXPECT_EQ(back.stopCount, 2);
    EXPECT_EQ(back.stops[1].colour, 0xFF0000u);
    // A position outside 0..1 leaves what was read before it.
    SetStackTop(L, 0);
    PushNewTable(L);
    List("colors", {1, 0, 2, 0.5, 3, 1.5});
    InitGradient(&g, 0);
    EXPECT_EQ(ReadGradientTable(L, 1, &g, "centerx", "centery", "balance", "border", "colors", nullptr),
              ERR_WRONGUSAGE);
    EXPECT_EQ(g.stopCount, 2);
}

// ---- The library --------------------------------------------------------------

lvCommandFunction FindCommand(const char *name) {
    for (const lvCommandEntry *e = GetGraphicsCommands(); e->name; e++)
        if (!strcasecmp(e->name, name)) return e->func;
    return nullptr;
}

TEST_F(DrawTags, LibraryOpensTemplatesAndClosesClean) {
    ASSERT_EQ(OpenGraphicsLibrary(L), 0);
    ASSERT_NE(RasterState.bitmapTargetDisplay, nullptr);
    EXPECT_EQ(DrawingState.dirtyRects.capacity, 1024);
    for (const char *name : {"Red", "MixRGB", "SetDrawTagsDefault", "Matrix2D", "GetLineWidth", "IsPicture", "Collision"})
        EXPECT_NE(FindCommand(name), nullptr) << name;
    lvCommandFunction setDefault = FindCommand("SetDrawTagsDefault");
    // An unknown filter leaves both templates as they were.
    SetStackTop(L, 0);
    PushNewTable(L);
    Field("rotate", 90);
    Filter("nosuch", {});
    EXPECT_EQ(setDefault(L), ERR_UNKNOWNFILTER);
    EXPECT_EQ(DrawingState.drawTagsTemplate.rotate, 0);
    EXPECT_EQ(DrawingState.drawTagsTemplate.matrix.sx, 1);
    // A good table becomes the templates; the name is not kept; width is ignored.
    SetStackTop(L, 0);
    PushNewTable(L);
    Field("smoothscale", 1);
    Field("name", "kept?");
    Field("width", 300);
    Field("shadow", 1);
    EXPECT_EQ(setDefault(L), 0);
    EXPECT_EQ(DrawingState.drawTagsTemplate.smoothScale, 1);
    EXPECT_EQ(DrawingState.drawTagsTemplate.width, 0);
    EXPECT_EQ(DrawingState.styleTagsTemplate.shadow.on, 1);
    EXPECT_STREQ(DrawingState.styleTagsTemplate.name, "");
    CloseGraphicsLibrary(L, 1);
    EXPECT_EQ(RasterState.bitmapTargetDisplay, nullptr);
    EXPECT_EQ(DrawingState.dirtyRects.rects, nullptr);
}

TEST_F(DrawTags, RealColourFollowsTheDisplayDepth) {
    EXPECT_EQ(GetRealColor(0x12345678), 0x12345678u);
    FakeAdapter a(0);
    a.record.pixelFormat = PIXFMT_RGB16;
    a.Install();
    EXPECT_EQ(GetRealColor(0x12345678), 0x00305478u);
    a.record.pixelFormat = PIXFMT_RGB15;
    EXPECT_EQ(GetRealColor(0x12345678), 0x00305078u);
}

// ---- Preload ---------------------------------------------------------------------

std::map<std::string, std::string> Captured;
double CapturedId = -1;

int NativeLoadBrush(lvState *L) {
    CapturedId = ValueToNumber(L, 1);
    Captured.clear();
    Captured["#file"] = ValueToString(L, 2);
    PushNil(L);
    while (NextTableEntry(L, 3)) {
        std::string value = GetValueType(L, -1) == LV_TTABLE ? "table" : ValueToString(L, -1);
        PushCopy(L, -2);
        Captured[ValueToString(L, -1)] = value;
        SetStackTop(L, -3);
    }
    return 0;
}

TEST_F(DrawTags, PreloadCallsTheLoadCommandWithTheWholeOptionTable) {
    PushString(L, "loadbrush");
    PushNativeClosure(L, NativeLoadBrush, 0);
    SetTableValueRaw(L, LV_GLOBALSINDEX);
    lvLinkedObject object{};
    object.type = 1;
    object.identifier = 12;
    std::strcpy(object.loaderName, "png");
    lvPreloadRecord r{};
    r.transparentColour = 0xFF00FF;
    r.loadFlags = PRELOAD_LOADTRANSPARENCY | PRELOAD_TRANSPARENTPEN | (5u << 24);
    r.width = 64;
    r.height = 32;
    r.globalAlpha = -1;
    r.hardware = 1;
    r.display = 2;
    r.cached = 1;
    std::strcpy(r.cacheName, "tree");
    int keeps = 0;
    ASSERT_EQ(CallPreloadCommand(L, "LoadBrush", &object, "pics/tree.png", &r, &keeps), 0);
    EXPECT_EQ(CapturedId, 12);
    std::map<std::string, std::string> expected = {
        {"#file", "pics/tree.png"}, {"transparency", "16711935"}, {"loadtransparency", "1"},
        {"transparentpen", "5"}, {"width", "64"}, {"height", "32"}, {"x", "0"}, {"y", "0"},
        {"hardware", "1"}, {"scalewidth", "0"}, {"scaleheight", "0"}, {"smoothscale", "0"},
        {"display", "2"}, {"__cache", "tree"}, {"loader", "png"},
    };
    EXPECT_EQ(Captured, expected);
    EXPECT_EQ(keeps, 0);
    // A background picture with a gradient fill carries it under the "gradient" prefix.
    PushString(L, "loadbgpic");
    PushNativeClosure(L, NativeLoadBrush, 0);
    SetTableValueRaw(L, LV_GLOBALSINDEX);
    lvPreloadRecord b{};
    b.transparentColour = -1;
    b.fillStyle = FILLGRADIENT;
    b.gradient.style = GRADIENT_LINEAR;
    b.gradient.angle = 45;
    object.type = 0;
    object.loaderName[0] = 0;
    ASSERT_EQ(CallPreloadCommand(L, "LoadBGPic", &object, "bg.png", &b, &keeps), 0);
    EXPECT_EQ(Captured["fillstyle"], "2");
    EXPECT_EQ(Captured["gradientangle"], "45");
    EXPECT_EQ(Captured.count("width"), 0u);
    EXPECT_EQ(Captured.count("transparency"), 0u);
    // A command nobody registered is a library missing from the build.
    EXPECT_EQ(CallPreloadCommand(L, "LoadSprite", &object, "s.png", nullptr, &keeps), ERR_UNIMPLCMD);
}

}  // namespace
