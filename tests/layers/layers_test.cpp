// layers_test.cpp - the layer list against a BGPic record and a stand-in display: insert
// positions, moves, swaps and what they redraw, Undo's levels, names and groups, copies,
// and that every record made is freed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "layers/lvlayer.h"
#include "raster/lvblit.h"

namespace {

struct Damage {
    int x, y, width, height;
};
std::vector<Damage> damage;
void RecordDamage(void *, lvBlitDisplay *, int x, int y, int w, int h) { damage.push_back({x, y, w, h}); }

lvSelectDisplay selectDisplay;
lvSelectDisplay *CurrentSelect() { return &selectDisplay; }

class LayerList : public ::testing::Test {
protected:
    lvBGPic bgpic{};
    void SetUp() override
    {
        SetDrawingDefaults();
        bgpic.layerHead = &bgpic.layerNull;
        bgpic.layerTailPred = &bgpic.layerHead;
        bgpic.scaledWidth = 100, bgpic.scaledHeight = 100;
        selectDisplay = {};
        selectDisplay.layersOn = 1;
        selectDisplay.ownBGPic = &bgpic;
        // A selected BGPic collects what would be redrawn: that is what the tests read.
        selectDisplay.blit.target.kind = OUTPUT_BGPIC;
        selectDisplay.blit.layers = 1;
        SetSelectDisplayQuery(CurrentSelect);
        RasterState.currentDisplay = &selectDisplay.blit;
        lvRasterServices s = RasterState.services;
        s.AddDisplayDamage = RecordDamage;
        SetRasterServices(&s);
        damage.clear();
    }
    void TearDown() override
    {
        FreeLayerList(nullptr, &bgpic, 0);
        EXPECT_EQ(LiveLayerRecords(), 0);
        SetRasterServices(nullptr);
        RasterState.currentDisplay = nullptr;
        SetSelectDisplayQuery(nullptr);
    }
    // A shape-like layer holding nothing, marked by its undo key's number.
    lvLayer *Add(int key, int position = -1, int x = 0, int y = 0, const lvStyleTags *style = nullptr,
                 int type = LAYER_BOX)
    {
        lvObjectId id = {key, nullptr};
        lvLayer *l = nullptr;
        EXPECT_EQ(NewLayerRecord(nullptr, &bgpic, type, &id, x, y, 10, 10, nullptr, style, nullptr, nullptr, position,
                                 NEWLAYER_CALLERREFRESHES, 0, -1, &l),
                  0);
        return l;
    }
    std::string Order()
    {
        std::string s;
        for (lvLayer *l = FirstLayer(&bgpic); l; l = NextLayer(l)) s += std::to_string(l->undoKey.number);
        return s;
    }
};

TEST_F(LayerList, InsertPositions)
{
    Add(1), Add(2), Add(3);
    struct {
        int position;
        const char *order;
    } cases[] = {{-1, "1234"}, {1, "4123"}, {2, "1423"}, {3, "1243"}, {4, "1234"}, {9, "1234"}};
    for (auto &c : cases) {
        lvLayer *l = Add(4, c.position);
        EXPECT_EQ(Order(), c.order) << c.position;
        FreeLayerRecord(nullptr, &bgpic, l, 1);
    }
    // A style's insert position past count+1 becomes count+1.
    lvStyleTags style;
    InitStyleTags(&style);
    style.insertPos = 7;
    Add(5, -1, 0, 0, &style);
    EXPECT_EQ(GetLayerIndex(&bgpic, LastLayer(&bgpic)), 4);
    EXPECT_EQ(Order(), "1235");
    style.insertPos = 2;
    Add(6, -1, 0, 0, &style);
    EXPECT_EQ(Order(), "16235");
}

TEST_F(LayerList, MoveToPosition)
{
    struct {
        int from, to;
        const char *order;
        int moved;
    } cases[] = {{1, 1, "12345", 0}, {3, 1, "31245", 1}, {1, 0, "23451", 1}, {5, 0, "12345", 0},
                 {2, 4, "13425", 1}, {4, 2, "14235", 1}, {2, 9, "13452", 1}, {5, 9, "12345", 0}};
    for (auto &c : cases) {
        FreeLayerList(nullptr, &bgpic, 0);
        for (int i = 1; i <= 5; i++) Add(i);
        EXPECT_EQ(MoveLayerToPosition(&bgpic, GetLayerByIndex(&bgpic, c.from), c.to), c.moved) << c.from << c.to;
        EXPECT_EQ(Order(), c.order) << c.from << "->" << c.to;
    }
}

TEST_F(LayerList, SwapRedrawsTheLayersThatStayOnThePicture)
{
    Add(1, -1, 10, 10), Add(2, -1, 40, 40), Add(3, -1, 500, 500), Add(4, -1, 20, 20);
    struct {
        int a, b;
        const char *order;
        Damage expected;
    } cases[] = {
        {1, 2, "2134", {10, 10, 40, 40}},  // the union of both
        {4, 3, "2143", {20, 20, 10, 10}},  // one off the picture: the other still moved
        {1, 2, "1243", {10, 10, 40, 40}},
    };
    for (auto &c : cases) {
        damage.clear();
        ASSERT_EQ(SwapLayerPositions(nullptr, &bgpic, c.a, c.b), 0);
        EXPECT_EQ(Order(), c.order);
        ASSERT_EQ(damage.size(), 1u) << c.a << "," << c.b;
        EXPECT_EQ(damage[0].x, c.expected.x);
        EXPECT_EQ(damage[0].y, c.expected.y);
        EXPECT_EQ(damage[0].width, c.expected.width);
        EXPECT_EQ(damage[0].height, c.expected.height);
    }
    EXPECT_EQ(SwapLayerPositions(nullptr, &bgpic, 1, 9), ERR_LAYERRANGE);
    EXPECT_EQ(SwapLayerPositions(nullptr, &bgpic, 0, 1), ERR_LAYERRANGE);
}

TEST_F(LayerList, UndoCountsMatchesFromTheTop)
{
    // Keys: 7 7 8 7, bottom to top; a BOX layer with the same key is no match for BRUSH.
    Add(7, -1, 0, 0, nullptr, LAYER_BRUSH);
    Add(7, -1, 0, 0, nullptr, LAYER_BRUSH);
    Add(8, -1, 0, 0, nullptr, LAYER_BRUSH);
    Add(7, -1, 0, 0, nullptr, LAYER_BRUSH);
    Add(7);
    lvLayer *second = GetLayerByIndex(&bgpic, 2);
    ASSERT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {7, nullptr}, 2, 1), 0);
    EXPECT_EQ(Order(), "7877");
    EXPECT_EQ(GetLayerIndex(&bgpic, second), -1) << "level 2 is the second match from the top";
    ASSERT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {9, nullptr}, 1, 1), 0);
    EXPECT_EQ(CountLayers(&bgpic), 4) << "no match removes nothing";
    ASSERT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {7, nullptr}, 1, 1), 0);
    EXPECT_EQ(Order(), "787");
    EXPECT_EQ(LastLayer(&bgpic)->type, LAYER_BOX);
    // Redirected output and layers off are refused first.
    selectDisplay.blit.target.kind = OUTPUT_MASK;
    EXPECT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {7, nullptr}, 1, 1), ERR_SELECTMASK);
    selectDisplay.blit.target.kind = OUTPUT_ALPHA;
    EXPECT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {7, nullptr}, 1, 1), ERR_SELECTALPHACHANNEL);
    selectDisplay.blit.target.kind = OUTPUT_IMAGE;
    EXPECT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {7, nullptr}, 1, 1), ERR_SELECTBRUSH);
    selectDisplay.blit.target.kind = OUTPUT_BGPIC;
    selectDisplay.layersOn = 0;
    EXPECT_EQ(RemoveLayerByObject(nullptr, &bgpic, LAYER_BRUSH, {7, nullptr}, 1, 1), ERR_NOLAYERS);
}

TEST_F(LayerList, NamesAndGroups)
{
    lvLayer *a = Add(1), *b = Add(2);
    ASSERT_EQ(SetLayerNameInternal(&bgpic, "Sky", a), 0);
    ASSERT_EQ(AddLayerGroup(&bgpic, "clouds", b), 0);
    struct {
        const char *what;
        int code;
    } cases[] = {
        {"sky", SetLayerNameInternal(&bgpic, "sky", b)},           // names ignore case
        {"group as name", SetLayerNameInternal(&bgpic, "CLOUDS", a)},
        {"name as group", AddLayerGroup(&bgpic, "SKY", b)},
        {"256 bytes", SetLayerNameInternal(&bgpic, std::string(256, 'x').c_str(), b)},
        {"255 bytes", SetLayerNameInternal(&bgpic, std::string(255, 'x').c_str(), b)},
        {"same group again", AddLayerGroup(&bgpic, "Clouds", b)},
        {"own name again", SetLayerNameInternal(&bgpic, "SKY", a)},
    };
    int expected[] = {ERR_NAMEUSED, ERR_NAMEUSED, ERR_GROUPNAMEUSED, ERR_NAMETOOLONG, 0, 0, 0};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
        EXPECT_EQ(cases[i].code, expected[i]) << cases[i].what;
    EXPECT_EQ(FindLayerByName(&bgpic, "sky"), 1);
    EXPECT_EQ(std::string(b->groups), "clouds") << "a group is listed once";
    EXPECT_EQ(SetLayerNameInternal(&bgpic, "", a), 0);
    EXPECT_EQ(FindLayerByName(&bgpic, "sky"), 0);
}

TEST_F(LayerList, HiddenCopyHasNoNameGroupsOrButton)
{
    lvLayer *a = Add(1, -1, 30, 40);
    ASSERT_EQ(SetLayerNameInternal(&bgpic, "a", a), 0);
    ASSERT_EQ(AddLayerGroup(&bgpic, "g", a), 0);
    a->hidden = 1;
    int button = 0;
    a->button = &button;
    lvLayer *copy = nullptr;
    ASSERT_EQ(InsertLayerAt(nullptr, {1, nullptr}, 0, LAYER_LAYER, 0, 0, 1, 0, 0, &copy), 0);
    EXPECT_EQ(GetLayerIndex(&bgpic, copy), 2);
    EXPECT_EQ(copy->hidden, 1);
    EXPECT_EQ(copy->name, nullptr);
    EXPECT_EQ(copy->groups, nullptr);
    EXPECT_EQ(copy->button, nullptr);
    EXPECT_EQ(copy->graphics[0]->left, 30);
    EXPECT_NE(copy->graphics[0], a->graphics[0]);
    // A hidden value given applies to the copy.
    ASSERT_EQ(InsertLayerAt(nullptr, {1, nullptr}, 1, LAYER_LAYER, 0, 0, 1, 0, 1, &copy), 0);
    EXPECT_EQ(copy->hidden, 0);
    EXPECT_EQ(GetLayerIndex(&bgpic, copy), 1);
    EXPECT_EQ(InsertLayerAt(nullptr, {9, nullptr}, 0, LAYER_LAYER, 0, 0, 1, 0, 0, &copy), ERR_LAYERRANGE);
    EXPECT_EQ(InsertLayerAt(nullptr, {1, nullptr}, -1, LAYER_LAYER, 0, 0, 1, 0, 0, &copy), ERR_INVINSERT);
    a->button = nullptr;
}

TEST_F(LayerList, BoundsGrowByBorderAndShadow)
{
    lvStyleTags style;
    InitStyleTags(&style);
    style.shadow.on = 1;
    style.shadow.direction = 2;  // east
    style.shadow.size = 4;
    style.shadow.radius = 3;
    lvLayer *l = Add(1, -1, 50, 50, &style);
    int x, y, w, h;
    GetLayerBounds(l, l->graphics[0], &x, &y, &w, &h);
    // The radius on every side; the distance only to the right.
    EXPECT_EQ(x, 47);
    EXPECT_EQ(y, 47);
    EXPECT_EQ(w, 10 + 3 + 3 + 4);
    EXPECT_EQ(h, 10 + 3 + 3);
    l->border.on = 1;
    l->border.size = 5;
    GetLayerBounds(l, l->graphics[0], &x, &y, &w, &h);
    EXPECT_EQ(x, 45);
    EXPECT_EQ(w, 5 + 10 + 3 + 4);
}

int CountBrushes()
{
    int n = 0;
    for (lvObjectHeader *h = *BrushListHead(); h; h = h->next) n++;
    return n;
}

// The images library's side of shown brushes, with the layer engine's table installed.
class ShownBrushes : public LayerList {
protected:
    lvBGPic *pic = nullptr;
    void SetUp() override
    {
        LayerList::SetUp();
        InstallLayerServices();
        // Shown objects are looked for in the BGPics of the list.
        lvObjectId picId = {7, nullptr};
        ASSERT_EQ(NewBGPicRecord(&picId, 0, 50, 50, 50, nullptr, nullptr, nullptr, -1, nullptr, nullptr, nullptr, 24,
                                 nullptr, nullptr, nullptr, 0, nullptr, &pic),
                  0);
        selectDisplay.ownBGPic = pic;
        lvObjectId id = {1, nullptr};
        ASSERT_EQ(NewBrushRecord(&id, 0, 4, 4, 4, 0, nullptr, AllocRgbBitmap(4, 4, 0, nullptr), -1, nullptr,
                                 nullptr, nullptr, 24, nullptr, nullptr, nullptr, 0, nullptr, nullptr),
                  0);
    }
    void TearDown() override
    {
        FreeLayerList(nullptr, pic, 1);
        FreeAllBrushes(nullptr);
        FreeAllBGPics();
        RemoveLayerServices();
        LayerList::TearDown();
    }
    lvLayer *Show(int x)
    {
        lvLayer *l = nullptr;
        EXPECT_EQ(AddImageLayerRecord(nullptr, pic, LAYER_BRUSH, {1, nullptr}, 0, 0, x, 0, 4, 4, nullptr, nullptr,
                                      -1, 0, &l),
                  0);
        return l;
    }
};

TEST_F(ShownBrushes, ChangingAShownBrushGivesTheLayersOneCopy)
{
    lvLayer *a = Show(0), *b = Show(10);
    lvBrush *brush;
    ASSERT_EQ(FindBrushById(nullptr, {1, nullptr}, &brush, 0), 0);
    EXPECT_EQ(CountBrushes(), 1) << "a plain look-up copies nothing";
    ASSERT_EQ(FindBrushById(nullptr, {1, nullptr}, &brush, BRUSH_MODIFY), 0);
    EXPECT_EQ(CountBrushes(), 2);
    EXPECT_EQ(a->source.handle, b->source.handle) << "one copy for both layers";
    ASSERT_NE(a->source.handle, nullptr);
    EXPECT_NE(a->source.handle, (void *)brush);
    EXPECT_EQ(((lvBrush *)a->source.handle)->detached, 1);
    EXPECT_EQ(a->undoKey.number, 1);
    EXPECT_EQ(b->undoKey.number, 1);
    // Nothing shows brush 1 itself any more: a second change copies nothing.
    ASSERT_EQ(FindBrushById(nullptr, {1, nullptr}, &brush, BRUSH_MODIFY), 0);
    EXPECT_EQ(CountBrushes(), 2);
    // The copy goes with its last layer.
    FreeLayerRecord(nullptr, pic, a, 1);
    EXPECT_EQ(CountBrushes(), 2);
    FreeLayerRecord(nullptr, pic, b, 1);
    EXPECT_EQ(CountBrushes(), 1);
}

TEST_F(ShownBrushes, FreedBrushIsDetachedUntilNoLayerShowsIt)
{
    lvLayer *a = Show(0);
    ASSERT_EQ(ReleaseBrushRecord(nullptr, {1, nullptr}, 1), 0);
    EXPECT_EQ(CountBrushes(), 1);
    lvBrush *brush;
    EXPECT_EQ(FindBrushById(nullptr, {1, nullptr}, &brush, 0), ERR_FINDBRUSH) << "the script cannot reach it";
    EXPECT_EQ(a->source.number, 0);
    lvLayerPicture p;
    EXPECT_EQ(GetLayerImage(nullptr, a, a->graphics[0], &p), 0) << "the layer still draws it";
    EXPECT_NE(p.rgb, nullptr);
    // Layers that go without freeing detached objects leave it to CollectGarbage.
    FreeLayerList(nullptr, pic, 0);
    EXPECT_EQ(CountBrushes(), 1);
    CollectDetachedObjects(nullptr);
    EXPECT_EQ(CountBrushes(), 0);
}

}  // namespace
