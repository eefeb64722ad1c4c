// The input engine in C++: key names, display units, buttons (hit test, search order,
// mouse-button and hover callbacks over a fake layer service) and legacy label mapping.
#include "events_fakes.h"
#include "ui/buttons.h"
#include "ui/display.h"
#include "ui/input.h"
#include "ui/legacy.h"
#include "ui/ports.h"

#include <cstring>
#include <map>
#include <string>

// ---- Key names ------------------------------------------------------------------------------

TEST(KeyNames, TableRowsAndNamingModes)
{
    struct Row {
        int32_t code;
        const char *event, *raw, *legacy;
    } rows[] = {
        {272, "        ", "TAB", "TAB"},  // TAB: eight blanks for key events, its name raw
        {274, "\n", "RETURN", "RETURN"},
        {273, "\n", "ENTER", "ENTER"},
        {276, " ", "SPACE", "SPACE"},
        {275, "ESC", "ESC", "ESC"},
        {261, "F1", "F1", "F1"},
        {305, "NPDIV", "NPDIV", "NPDIV"},
        {306, "LSHIFT", "LSHIFT", "\xC4\xB2"},  // modifiers: legacy names are the characters of their codes
        {313, "RCONTROL", "RCONTROL", "\xC4\xB9"},
        {'a', "a", "a", "a"},
        {'A', "A", "A", "A"},
    };
    for (const Row &r : rows) {
        char text[32];
        KeyCodeText(r.code, KEYNAME_EVENT, text, sizeof(text));
        EXPECT_STREQ(text, r.event) << r.code;
        KeyCodeText(r.code, KEYNAME_RAW, text, sizeof(text));
        EXPECT_STREQ(text, r.raw) << r.code;
        LegacyKeyName(text, r.code, sizeof(text));
        EXPECT_STREQ(text, r.legacy) << r.code;
    }
    EXPECT_STREQ(KeyNameTable[0].name, "TAB");
    EXPECT_STREQ(KeyNameTable[LV_KEYNAME_ROWS - 1].name, "RCONTROL");
}

TEST(KeyNames, CodeFromName)
{
    std::map<std::string, int32_t> cases = {
        {"a", 'a'}, {"A", 'A'}, {"esc", 275}, {"Esc", 275}, {"ESC", 275}, {"f12", 279},
        {"lshift", 306}, {"np5", 296}, {"", 0}, {" ", 0}, {"ESCAPE", 0}, {"\xC3\xA9", 0}};
    for (auto &c : cases) EXPECT_EQ(KeyCodeFromName(c.first.c_str()), c.second) << c.first;
    // Every row comes back from its own name.
    for (const lvKeyNameRow &row : KeyNameTable) EXPECT_EQ(KeyCodeFromName(row.name), row.code) << row.name;
}

// ---- Display units and buttons -----------------------------------------------------------------

class ButtonTest : public EventEngineTest {
protected:
    lvDisplay display{};
    lvBGPic bgpic{};
    std::vector<std::string> Ran()
    {
        machine.calls.clear();
        RunQueuedCallbacks(nullptr, nullptr);
        std::vector<std::string> actions;
        for (const FakeCall &c : machine.calls) actions.push_back(c.action + ":" + std::to_string(c.function));
        return actions;
    }
    void SetUp() override
    {
        EventEngineTest::SetUp();
        InitDisplayEvents(&display.events);
        display.bgpic = &bgpic;
        display.scaleX = display.scaleY = 1.0;
    }
    void TearDown() override
    {
        FreeBGPicButtons(nullptr, &bgpic);
        EventEngineTest::TearDown();
    }
    // A simple button whose eight functions are base + 0 .. base + 7.
    lvBGPicButton *Make(int id, int x, int y, int w, int h, int base)
    {
        lvButtonRequest r = {};
        r.id = {(uintptr_t)id, 0};
        r.type = SIMPLEBUTTON;
        r.x = x, r.y = y, r.width = w, r.height = h;
        for (int i = 0; i < BUTTONFN_COUNT; i++) r.functions[i] = base + i;
        r.userData = -1;
        lvBGPicButton *b = nullptr;
        EXPECT_EQ(MakeBGPicButton(nullptr, &bgpic, &r, &b), 0);
        return b;
    }
    void Click(int type, int x, int y, int down)
    {
        lvFetchedEvent e = {};
        e.display = &display;
        e.type = type;
        e.x = x, e.y = y, e.down = down;
        ASSERT_EQ(MatchButtonEvent(nullptr, &e), 0);
    }
    void MoveTo(int x, int y)
    {
        display.lastMouseX = x;
        display.lastMouseY = y;
        ASSERT_EQ(ButtonHoverPass(nullptr, &display), 0);
    }
};

TEST_F(ButtonTest, HitTestEdgesScaleAndMargins)
{
    lvBGPicButton *b = Make(1, 0, 0, 10, 10, 100);
    struct Case {
        double scale;
        int margin, x, hit;
    } cases[] = {{1, 0, 9, 1}, {1, 0, 10, 0}, {2, 0, 19, 1}, {2, 0, 20, 0}, {2, 10, 29, 1}, {2, 10, 8, 0}};
    for (const Case &c : cases) {
        display.scaleX = display.scaleY = c.scale;
        display.marginLeft = c.margin;
        EXPECT_EQ(ButtonHitTest(&display, c.x, 0, b), c.hit) << c.scale << " " << c.margin << " " << c.x;
    }
    // MouseX's conversion: window x 30 with margin 10 at x2 is 10.
    display.lastMouseX = 30;
    int x, y;
    DisplayMouseUnits(&display, &x, &y);
    EXPECT_EQ(x, 10);
}

TEST_F(ButtonTest, PressOverOneReleaseOverAnotherAndOverlap)
{
    Make(1, 0, 0, 10, 10, 100);   // A
    Make(2, 20, 0, 10, 10, 200);  // B
    Click(EVENT_LEFTMOUSE, 5, 5, 1);
    Click(EVENT_LEFTMOUSE, 25, 5, 0);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseDown:102"}));
    // A's press was cleared by the release: a later release over A calls nothing.
    Click(EVENT_LEFTMOUSE, 5, 5, 0);
    EXPECT_TRUE(Ran().empty());
    // Overlapping: the newest gets the click; right and middle buttons have their own functions.
    Make(3, 5, 5, 10, 10, 300);
    Click(EVENT_LEFTMOUSE, 6, 6, 1);
    Click(EVENT_LEFTMOUSE, 6, 6, 0);
    Click(EVENT_RIGHTMOUSE, 6, 6, 1);
    Click(EVENT_RIGHTMOUSE, 6, 6, 0);
    Click(EVENT_MIDMOUSE, 6, 6, 1);
    Click(EVENT_MIDMOUSE, 6, 6, 0);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseDown:302", "OnMouseUp:303", "OnRightMouseDown:304",
                                               "OnRightMouseUp:305", "OnMidMouseDown:306", "OnMidMouseUp:307"}));
}

TEST_F(ButtonTest, HoverOutBeforeOverInOnePass)
{
    Make(1, 0, 0, 10, 10, 100);
    Make(2, 10, 0, 10, 10, 200);
    MoveTo(5, 5);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseOver:100"}));
    MoveTo(5, 5);
    EXPECT_TRUE(Ran().empty());
    MoveTo(15, 5);  // straight from A onto B
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseOut:101", "OnMouseOver:200"}));
    MoveTo(50, 50);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseOut:201"}));
}

TEST_F(ButtonTest, DisabledHoveredButtonLosesFlagWithoutOut)
{
    lvBGPicButton *a = Make(1, 0, 0, 10, 10, 100);
    Make(2, 10, 0, 10, 10, 200);
    MoveTo(5, 5);
    Ran();
    SetButtonEnabled(a, 0);
    Click(EVENT_LEFTMOUSE, 5, 5, 1);
    EXPECT_TRUE(Ran().empty());
    MoveTo(15, 5);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseOver:200"}));
    EXPECT_EQ(a->hover, 0);
}

TEST_F(ButtonTest, PressedButtonKeepsHoverToItself)
{
    Make(1, 0, 0, 10, 10, 100);
    Make(2, 10, 0, 10, 10, 200);
    MoveTo(5, 5);
    Click(EVENT_LEFTMOUSE, 5, 5, 1);
    Ran();
    MoveTo(15, 5);  // held on A: B gets nothing, A goes out
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseOut:101"}));
    ResetDisplayInput(&display);  // a requester ran: presses are forgotten
    MoveTo(16, 5);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseOver:200"}));
}

TEST_F(ButtonTest, DeleteReleasesReferencesAndCancelsQueued)
{
    lvBGPicButton *a = Make(1, 0, 0, 10, 10, 100);
    Click(EVENT_LEFTMOUSE, 5, 5, 1);
    machine.released.clear();
    DeleteBGPicButton(nullptr, &bgpic, a);
    EXPECT_TRUE(Ran().empty());
    EXPECT_EQ(machine.released, (std::vector<int32_t>{100, 101, 102, 103, 104, 105, 106, 107}));
    lvBGPicButton *found;
    EXPECT_EQ(FindBGPicButton(&bgpic, {1, 0}, &found), ERR_FINDBUTTON);
    EXPECT_EQ(FindBGPicButton(&bgpic, {0, 1234}, &found), ERR_FINDARRAY);
}

TEST_F(ButtonTest, MakeRefusals)
{
    struct Case {
        int type, width, height, functions, code;
    } cases[] = {{SIMPLEBUTTON, 0, 5, 1, ERR_WRONGUSAGE},
                 {SIMPLEBUTTON, 5, -1, 1, ERR_WRONGUSAGE},
                 {SIMPLEBUTTON, 5, 5, 0, ERR_WRONGUSAGE},
                 {7, 5, 5, 1, ERR_WRONGUSAGE},
                 {LAYERBUTTON, 0, 0, 1, ERR_LAYERRANGE}};  // no layer service: no layer exists
    for (const Case &c : cases) {
        lvButtonRequest r = {};
        r.type = c.type;
        r.width = c.width, r.height = c.height;
        for (int32_t &f : r.functions) f = -1;
        if (c.functions) r.functions[2] = 42;
        r.userData = 43;
        machine.released.clear();
        EXPECT_EQ(MakeBGPicButton(nullptr, &bgpic, &r, nullptr), c.code);
        // Nothing is kept on failure: the references given are released.
        std::vector<int32_t> expected = c.functions ? std::vector<int32_t>{42, 43} : std::vector<int32_t>{43};
        EXPECT_EQ(machine.released, expected);
    }
    EXPECT_EQ(CountButtons(&bgpic), 0);
}

// A deferred call that cannot be posted gives its references back.
TEST_F(ButtonTest, DeferredCallThatCannotBePostedReleasesItsReferences)
{
    FreeSystemEvents();  // a closed queue refuses every post
    machine.released.clear();
    EXPECT_EQ(PostDeferredCall(nullptr, 5, 6), ERR_MEM);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{5, 6}));
    ASSERT_EQ(InitSystemEvents(), 0);
    machine.released.clear();
    EXPECT_EQ(PostDeferredCall(nullptr, 7, -1), 0);
    EXPECT_TRUE(machine.released.empty());
}

// ---- Layer buttons over a fake layer service ---------------------------------------------------------

struct FakeLayer {
    int x, y, w, h, visible;
    void *button;
    const char *name;
    bool opaque;
};
static std::vector<FakeLayer> fakeLayers;  // index 0 is the bottom

static const lvButtonLayerService fakeLayerService = {
    [](lvBGPic *, int position, const char *name) -> void * {
        for (size_t i = 0; i < fakeLayers.size(); i++)
            if (name ? !strcmp(fakeLayers[i].name, name) : (int)i + 1 == position) return &fakeLayers[i];
        return nullptr;
    },
    [](lvBGPic *, void *layer) -> void * {
        if (fakeLayers.empty()) return nullptr;
        if (!layer) return &fakeLayers.back();
        FakeLayer *l = (FakeLayer *)layer;
        return l == &fakeLayers.front() ? nullptr : l - 1;
    },
    [](void *layer) { return ((FakeLayer *)layer)->visible; },
    [](void *layer, int *x, int *y, int *w, int *h) {
        FakeLayer *l = (FakeLayer *)layer;
        *x = l->x, *y = l->y, *w = l->w, *h = l->h;
    },
    [](void *layer, int, int) { return ((FakeLayer *)layer)->opaque ? 1 : 0; },
    [](void *layer) { return ((FakeLayer *)layer)->button; },
    [](void *layer, void *button) { ((FakeLayer *)layer)->button = button; },
    [](lvBGPic *, void *layer) { return (int)((FakeLayer *)layer - &fakeLayers[0]) + 1; },
    [](void *layer) { return ((FakeLayer *)layer)->name; },
};

TEST_F(ButtonTest, LayerButtonsHitAndZOrder)
{
    fakeLayers = {{0, 0, 50, 50, 1, nullptr, "bottom", true},
                  {0, 0, 50, 50, 1, nullptr, "middle", false},
                  {0, 0, 50, 50, 0, nullptr, "top", true}};
    SetButtonLayerService(&fakeLayerService);
    auto layerButton = [&](int position, int zorder, int pixelExact, int noAutoHide, int base) {
        lvButtonRequest r = {};
        r.type = LAYERBUTTON;
        r.layerPosition = position;
        r.zOrder = zorder, r.pixelExact = pixelExact, r.noAutoHide = noAutoHide;
        for (int i = 0; i < BUTTONFN_COUNT; i++) r.functions[i] = base + i;
        r.userData = -1;
        return MakeBGPicButton(nullptr, &bgpic, &r, nullptr);
    };
    ASSERT_EQ(layerButton(1, 1, 0, 0, 100), 0);  // bottom, z-ordered
    ASSERT_EQ(layerButton(1, 0, 0, 0, 900), ERR_WRONGUSAGE);  // one button per layer
    ASSERT_EQ(layerButton(2, 1, 1, 0, 200), 0);  // middle: z-ordered, pixel-exact, transparent
    ASSERT_EQ(layerButton(3, 1, 0, 0, 300), 0);  // top: hidden
    Make(9, 0, 0, 50, 50, 400);                  // a plain button made after them all
    // Plain buttons first, then z-ordered layer buttons from the top down, active only.
    lvButtonIterator it;
    StartButtons(&it, &bgpic);
    std::vector<int> order;
    while (lvBGPicButton *b = NextButton(&it, 1)) order.push_back(b->functions[0]);
    EXPECT_EQ(order, (std::vector<int>{400, 200, 100}));
    // The plain button takes the click; without it the middle layer is transparent there,
    // the top one hidden, so the bottom layer's button is hit.
    Click(EVENT_LEFTMOUSE, 5, 5, 1);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseDown:402"}));
    lvBGPicButton *plain;
    ASSERT_EQ(FindBGPicButton(&bgpic, {9, 0}, &plain), 0);
    DeleteBGPicButton(nullptr, &bgpic, plain);
    Click(EVENT_LEFTMOUSE, 5, 5, 1);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseDown:102"}));
    // noautohide makes the hidden top layer's button react.
    fakeLayers[2].button = nullptr;
    FreeBGPicButtons(nullptr, &bgpic);
    ASSERT_EQ(layerButton(3, 1, 0, 1, 300), 0);
    Click(EVENT_LEFTMOUSE, 60, 5, 1);  // outside every layer
    Click(EVENT_LEFTMOUSE, 49, 49, 1);
    EXPECT_EQ(Ran(), (std::vector<std::string>{"OnMouseDown:302"}));
    FreeBGPicButtons(nullptr, &bgpic);
    SetButtonLayerService(nullptr);
    fakeLayers.clear();
}

// ---- Legacy label names ---------------------------------------------------------------------------------

TEST(LegacyTriggers, LabelNamesFromEvents)
{
    ClearLegacyTriggers();
    ASSERT_EQ(AddLegacyTrigger(ONBUTTONCLICK, 1, 10, 10, 20, 20, nullptr), 0);
    ASSERT_EQ(AddLegacyTrigger(ONKEYDOWN, 4, 0, 0, 0, 0, "esc"), 0);
    ASSERT_EQ(AddLegacyTrigger(ONBUTTONRIGHTCLICK, 1, 10, 10, 20, 20, nullptr), 0);
    struct Case {
        int type, x, y, down, key;
        const char *label;
    } cases[] = {
        {EVENT_LEFTMOUSE, 20, 20, 1, 0, "ONBUTTONCLICK1"}, {EVENT_LEFTMOUSE, 21, 20, 1, 0, ""},
        {EVENT_LEFTMOUSE, 15, 15, 0, 0, ""},               {EVENT_RIGHTMOUSE, 10, 10, 1, 0, "ONBUTTONRIGHTCLICK1"},
        {EVENT_KEY, 0, 0, 1, 275, "ONKEYDOWN4"},           {EVENT_KEY, 0, 0, 0, 275, ""},
        {EVENT_KEY, 0, 0, 1, 'e', ""},
    };
    for (const Case &c : cases) {
        lvFetchedEvent e = {};
        e.type = c.type, e.x = c.x, e.y = c.y, e.down = c.down, e.keyCode = c.key;
        char label[64];
        MapEventToLabel(&e, label, sizeof(label));
        EXPECT_STREQ(label, c.label) << c.type << " " << c.x;
    }
    EXPECT_EQ(LegacyLastKeyCode(), 275);
    ClearLegacyTriggers();
    EXPECT_FALSE(HaveLegacyTriggers());
}
