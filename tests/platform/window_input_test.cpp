// The translation of SDL events into window changes and input, without a window: key
// codes of both passes, characters from text input, AltGr, window state changes, drops,
// and the size zones of borderless windows.
#include <gtest/gtest.h>

#include "platform/linux/window_sdl.h"
#include "platform/lvplatform.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Translator {
    lvDisplayWindow window;
    lvWindowTranslation t;
    std::vector<lvWindowInput> out;

    Translator(uint32_t style = 0)
    {
        std::memset(&window, 0, sizeof window);
        window.open = 1;
        window.width = 320;
        window.height = 240;
        window.restoreState = 1;
        window.styleFlags = style;
        InitWindowTranslation(&t);
    }
    ~Translator()
    {
        for (const lvWindowInput &in : out) FreeMemory(in.payload);
        FreeWindowTranslation(&t);
    }
    void Feed(const SDL_Event &e)
    {
        lvWindowInput got[8];
        int n = TranslateWindowEvent(&e, &window, &t, got, 8);
        out.insert(out.end(), got, got + n);
    }
    void EndPump() { EndWindowPump(&t); }
    // "type:a,b,c" per output.
    std::vector<std::string> Text() const
    {
        std::vector<std::string> lines;
        for (const lvWindowInput &in : out)
            lines.push_back(std::to_string(in.type) + ":" + std::to_string(in.a) + "," + std::to_string(in.b) + "," +
                            std::to_string(in.c));
        return lines;
    }
};

SDL_Event Key(bool down, SDL_Scancode sc, SDL_Keycode sym, uint16_t mod = 0)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.scancode = sc;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    return e;
}

SDL_Event Text(const char *utf8)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", utf8);
    return e;
}

SDL_Event Window(uint8_t what, int a = 0, int b = 0)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = what;
    e.window.data1 = a;
    e.window.data2 = b;
    return e;
}

SDL_Event Drop(uint32_t type, char *file = nullptr)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.drop.file = file;
    return e;
}

SDL_Event Button(bool down, int x, int y, uint8_t button = SDL_BUTTON_LEFT)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = button;
    e.button.x = x;
    e.button.y = y;
    return e;
}

SDL_Event Motion(int x, int y)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    return e;
}

const uint32_t kShiftQ = LVQUAL_BASE | LVQUAL_LSHIFT;
const std::string Q(uint32_t q) { return std::to_string((int)q); }

// Key sequences of one pump each: what the script receives (29 raw, 3 translated,
// 28 character) and what the key state holds afterwards.
TEST(WindowInput, KeySequencesGiveRawTranslatedAndCharacterEvents)
{
    struct Case {
        const char *name;
        std::vector<SDL_Event> events;
        std::vector<std::string> expected;
    };
    const uint16_t altgr = KMOD_RALT | KMOD_LCTRL;
    std::vector<Case> cases = {
        {"shift+a",
         {Key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_LSHIFT), Key(true, SDL_SCANCODE_A, 'a', KMOD_LSHIFT),
          Text("A"), Key(false, SDL_SCANCODE_A, 'a', KMOD_LSHIFT)},
         {"29:1,0,306", "29:1,0,65", "3:1," + Q(kShiftQ) + ",65", "28:0,0,65", "29:0,0,65",
          "3:0," + Q(kShiftQ) + ",65"}},
        {"ctrl+c: raw only, no character",
         {Key(true, SDL_SCANCODE_C, 'c', KMOD_LCTRL), Key(false, SDL_SCANCODE_C, 'c', KMOD_LCTRL)},
         {"29:1,0,67", "29:0,0,67"}},
        {"AltGr+q types @ and reports right Alt without left Control",
         {Key(true, SDL_SCANCODE_Q, 'q', altgr), Text("@")},
         {"29:1,0,81", "3:1," + Q(LVQUAL_BASE | LVQUAL_RALT) + ",64", "28:0,0,64"}},
        {"keypad Enter: 273 raw, Return translated",
         {Key(true, SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER)},
         {"29:1,0,273", "3:1," + Q(LVQUAL_BASE) + ",274"}},
        {"F13", {Key(true, SDL_SCANCODE_F13, SDLK_F13)}, {"29:1,0,287", "3:1," + Q(LVQUAL_BASE) + ",287"}},
        {"a character above 313 (euro sign)",
         {Key(true, SDL_SCANCODE_E, 'e', altgr), Text("\xE2\x82\xAC"), Key(false, SDL_SCANCODE_E, 'e', altgr)},
         {"29:1,0,69", "3:1," + Q(LVQUAL_BASE | LVQUAL_RALT) + ",8364", "28:0,0,8364", "29:0,0,69",
          "3:0," + Q(LVQUAL_BASE | LVQUAL_RALT) + ",8364"}},
        {"space is a named key and types a blank",
         {Key(true, SDL_SCANCODE_SPACE, ' '), Text(" ")},
         {"29:1,0,276", "3:1," + Q(LVQUAL_BASE) + ",276", "28:0,0,32"}},
        {"alt+return asks for a mode switch only",
         {Key(true, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT), Key(false, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT)},
         {"13:0,0,0"}},
        {"alt+x is a system key: raw only, no text",
         {Key(true, SDL_SCANCODE_X, 'x', KMOD_LALT), Text("x")},
         {"29:1,0,88"}},
    };
    for (const Case &c : cases) {
        Translator tr;
        for (const SDL_Event &e : c.events) tr.Feed(e);
        tr.EndPump();
        EXPECT_EQ(tr.Text(), c.expected) << c.name;
    }
}

TEST(WindowInput, KeyStateKeepsTranslatedAndRawCodesApartAndBoundsCharacters)
{
    Translator tr;
    tr.Feed(Key(true, SDL_SCANCODE_A, 'a'));
    tr.Feed(Text("a"));
    EXPECT_EQ(tr.window.keyState['a'], 1);
    EXPECT_EQ(tr.window.keyState[LVKEY_CODES + 'A'], 1);
    EXPECT_TRUE(tr.window.changes & WCHANGE_KEYS);
    // A character beyond the key codes posts its events and touches no key byte (the
    // array ends at 628: an index by the character would write far past it).
    uint8_t before[LV_WINDOW_KEYSTATE];
    std::memcpy(before, tr.window.keyState, sizeof before);
    tr.Feed(Key(true, SDL_SCANCODE_W, 'w', KMOD_RALT));
    tr.Feed(Text("\xE4\xB8\x80"));  // U+4E00
    EXPECT_EQ(tr.out.back().c, 0x4E00);
    before[LVKEY_CODES + 'W'] = 1;
    EXPECT_EQ(std::memcmp(before, tr.window.keyState, sizeof before), 0);
    tr.Feed(Key(false, SDL_SCANCODE_A, 'a'));
    EXPECT_EQ(tr.window.keyState['a'], 0);
    EXPECT_EQ(tr.window.keyState[LVKEY_CODES + 'A'], 0);
    // Escape marks the quit key; a printable key whose text never came types nothing.
    tr.Feed(Key(true, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE));
    EXPECT_EQ(tr.window.escapePressed, 1);
    size_t count = tr.out.size();
    tr.Feed(Key(true, SDL_SCANCODE_B, 'b'));
    tr.EndPump();
    tr.Feed(Text("b"));
    ASSERT_EQ(tr.out.size(), count + 2);  // raw B, then only the character
    EXPECT_EQ(tr.out[count + 1].type, 28);
    // Ctrl+C marks the quit key.
    tr.Feed(Key(true, SDL_SCANCODE_C, 'c', KMOD_RCTRL));
    EXPECT_EQ(tr.window.ctrlCPressed, 1);
}

TEST(WindowInput, WindowStateChangesAndOwnGeometry)
{
    Translator tr(0x2);
    // Minimise and restore: hide and show, no size event.
    tr.Feed(Window(SDL_WINDOWEVENT_MINIMIZED));
    tr.Feed(Window(SDL_WINDOWEVENT_SIZE_CHANGED, 0, 0));
    tr.Feed(Window(SDL_WINDOWEVENT_RESTORED));
    EXPECT_EQ(tr.Text(), (std::vector<std::string>{"9:0,0,0", "10:0,0,0"}));
    EXPECT_EQ(tr.window.sizeState, 0);
    EXPECT_EQ(tr.window.restoreState, 1);
    EXPECT_TRUE(tr.window.changes & WCHANGE_RESTORE);
    // Maximise: one new size to fold, whatever SDL repeats.
    tr.Feed(Window(SDL_WINDOWEVENT_MAXIMIZED));
    tr.Feed(Window(SDL_WINDOWEVENT_SIZE_CHANGED, 1024, 700));
    tr.Feed(Window(SDL_WINDOWEVENT_SIZE_CHANGED, 1024, 700));
    EXPECT_EQ(tr.window.sizeState, 1);
    EXPECT_EQ(tr.window.newWidth, 1024);
    EXPECT_EQ(tr.out.size(), 2u);
    // Geometry the runtime set itself comes back late and is swallowed once.
    tr.window.changes = 0;
    tr.window.sizeState = 0;
    ExpectWindowMove(&tr.t, 40, 50);
    tr.Feed(Window(SDL_WINDOWEVENT_MOVED, 40, 50));
    EXPECT_EQ(tr.window.changes, 0u);
    tr.Feed(Window(SDL_WINDOWEVENT_MOVED, 41, 50));
    EXPECT_EQ(tr.window.moved, 1);
    EXPECT_EQ(tr.window.newX, 41);
    // Several moves of our own (a drag) come back in order, late: none is a move, and a
    // report of a later one means the earlier ones will not come.
    tr.window.changes = 0;
    tr.window.moved = 0;
    tr.window.x = 41, tr.window.y = 50;
    ExpectWindowMove(&tr.t, 60, 70);
    ExpectWindowMove(&tr.t, 80, 90);
    ExpectWindowMove(&tr.t, 100, 110);
    tr.window.x = 100, tr.window.y = 110;
    tr.Feed(Window(SDL_WINDOWEVENT_MOVED, 80, 90));
    tr.Feed(Window(SDL_WINDOWEVENT_MOVED, 100, 110));
    EXPECT_EQ(tr.window.changes, 0u);
    EXPECT_EQ(tr.t.expectMoves, 0);
    tr.Feed(Window(SDL_WINDOWEVENT_MOVED, 60, 70));  // someone else moved it back
    EXPECT_EQ(tr.window.moved, 1);
    EXPECT_EQ(tr.window.newX, 60);
    // Focus loss clears the keys.
    tr.window.keyState[65] = 1;
    tr.Feed(Window(SDL_WINDOWEVENT_FOCUS_LOST));
    EXPECT_EQ(tr.window.keyState[65], 0);
    EXPECT_EQ(tr.out.back().type, 6);
}

TEST(WindowInput, CloseBoxAndNoClose)
{
    Translator plain, noclose(0x4000);
    plain.Feed(Window(SDL_WINDOWEVENT_CLOSE));
    noclose.Feed(Window(SDL_WINDOWEVENT_CLOSE));
    EXPECT_EQ(plain.Text(), std::vector<std::string>{"7:0,0,0"});
    EXPECT_EQ(plain.window.closeClicked, 1);
    EXPECT_TRUE(noclose.out.empty());
    EXPECT_EQ(noclose.window.closeClicked, 0);
}

TEST(WindowInput, ThreeDroppedFilesAreOneEventAtThePointer)
{
    char a[] = "/tmp/a.png", b[] = "/tmp/b c.png", c[] = "/tmp/\xC3\xA4.txt";
    for (int accept : {1, 0}) {
        Translator tr;
        tr.window.acceptDrops = accept;
        tr.Feed(Motion(12, 34));
        tr.Feed(Drop(SDL_DROPBEGIN));
        for (char *name : {a, b, c}) tr.Feed(Drop(SDL_DROPFILE, name));
        tr.Feed(Drop(SDL_DROPCOMPLETE));
        if (!accept) {
            EXPECT_TRUE(tr.out.empty());
            continue;
        }
        ASSERT_EQ(tr.out.size(), 1u);
        const lvWindowInput &in = tr.out[0];
        EXPECT_EQ(in.type, 14);
        EXPECT_EQ(in.a, 12);
        EXPECT_EQ(in.b, 34);
        const char *p = (const char *)in.payload;
        std::vector<std::string> names;
        while (*p) {
            names.push_back(p);
            p += std::strlen(p) + 1;
        }
        EXPECT_EQ(names, (std::vector<std::string>{a, b, c}));
    }
}

TEST(WindowInput, SizeZonesAndDraggingABorderlessWindow)
{
    struct Zone {
        lvWindowRegion region;
        int zone;
    };
    const Zone zones[] = {
        {{14, 150, 100, 10, 10}, 3},  // the middle touches no zone
        {{14, 10, 230, 5, 5}, 1},     // x 10 at the bottom-left still counts
        {{14, 0, 0, 5, 5}, 0},        {{14, 315, 0, 5, 5}, 2},  {{14, 310, 230, 10, 10}, 3},
        {{14, 0, 100, 5, 5}, 4},      {{14, 315, 100, 5, 5}, 5}, {{14, 100, 0, 5, 5}, 6},
        {{14, 100, 235, 5, 5}, 7},
    };
    for (const Zone &z : zones) {
        int gx, gy;
        EXPECT_EQ(ComputeSizeZone(&z.region, 320, 240, z.region.x, z.region.y, &gx, &gy), z.zone)
            << z.region.x << "," << z.region.y;
    }
    int l, t, r, b;
    ComputeSizeRect(3, 500, 400, 2, 3, 100, 100, 419, 339, &l, &t, &r, &b);
    EXPECT_EQ(l, 100);
    EXPECT_EQ(r, 502);
    EXPECT_EQ(b, 403);
    ComputeSizeRect(0, 900, 900, 0, 0, 100, 100, 419, 339, &l, &t, &r, &b);
    EXPECT_EQ(r - l + 1, 1);  // never below one pixel

    // Dragging the default drag region moves the window and reports one move at release.
    Translator tr(0x1);
    tr.window.x = 100, tr.window.y = 80;
    tr.window.dragRegions[0] = {14, 0, 0, 320, 15};
    tr.window.dragRegionCount = 1;
    tr.Feed(Button(true, 10, 5));
    tr.Feed(Motion(30, 25));
    ASSERT_EQ(tr.out.size(), 1u);
    EXPECT_EQ(tr.out[0].type, WINPUT_MOVEWINDOW);
    EXPECT_EQ(tr.out[0].a, 120);
    EXPECT_EQ(tr.out[0].b, 100);
    tr.window.x = 120, tr.window.y = 100;  // what the pump does with it
    tr.Feed(Button(false, 10, 5));
    EXPECT_EQ(tr.window.moved, 1);
    EXPECT_EQ(tr.window.newX, 120);
    EXPECT_EQ(tr.window.leftButton, 0);
    EXPECT_EQ(tr.out.size(), 1u);  // no button events for a drag
    // Outside the region a press is a click.
    tr.Feed(Button(true, 50, 100));
    EXPECT_EQ(tr.Text().back(), "1:50,100,1");
    EXPECT_EQ(tr.window.leftButton, 1);
}

}  // namespace
