// window_input.cpp - SDL events into the changes and input of a display window.
//
// A pure function of the event, the window record and its translation state: it calls
// nothing of SDL, so a table of events checks it without a window. Keys come in two
// passes as the runtime knows them: a raw code for every key (named keys by position,
// letters and digits as their upper-case character) and a translated code (named keys,
// or the character the key types: the TEXTINPUT that follows its KEYDOWN in the same
// pump). Both land in one key-state array, translated codes first, raw ones from 314.
//
// Depends on: window_sdl.h, memory.cpp (drop blocks).
#include "platform/linux/window_sdl.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_pointers.h"

#include <cstring>

namespace {

// Style bits of the display that the window behaves by.
enum : uint32_t {
    STYLE_BORDERLESS = 0x1, STYLE_SIZEABLE = 0x2, STYLE_FIXED = 0x4, STYLE_NOCLOSE = 0x4000
};

struct lvKeyRow {
    SDL_Scancode scancode;
    int code;
};

// Named keys of both passes. The keypad rows come last: the translated pass stops
// before them (a keypad key types its character instead).
const lvKeyRow keyTable[] = {
    {SDL_SCANCODE_BACKSPACE, LVKEY_BACKSPACE}, {SDL_SCANCODE_TAB, LVKEY_TAB},
    {SDL_SCANCODE_RETURN, LVKEY_RETURN},       {SDL_SCANCODE_ESCAPE, LVKEY_ESCAPE},
    {SDL_SCANCODE_SPACE, LVKEY_SPACE},         {SDL_SCANCODE_DELETE, LVKEY_DEL},
    {SDL_SCANCODE_UP, LVKEY_UP},               {SDL_SCANCODE_DOWN, LVKEY_DOWN},
    {SDL_SCANCODE_RIGHT, LVKEY_RIGHT},         {SDL_SCANCODE_LEFT, LVKEY_LEFT},
    {SDL_SCANCODE_F1, LVKEY_F1},               {SDL_SCANCODE_F2, LVKEY_F1 + 1},
    {SDL_SCANCODE_F3, LVKEY_F1 + 2},           {SDL_SCANCODE_F4, LVKEY_F1 + 3},
    {SDL_SCANCODE_F5, LVKEY_F1 + 4},           {SDL_SCANCODE_F6, LVKEY_F1 + 5},
    {SDL_SCANCODE_F7, LVKEY_F1 + 6},           {SDL_SCANCODE_F8, LVKEY_F1 + 7},
    {SDL_SCANCODE_F9, LVKEY_F1 + 8},           {SDL_SCANCODE_F10, LVKEY_F1 + 9},
    {SDL_SCANCODE_F11, LVKEY_F11},             {SDL_SCANCODE_F12, LVKEY_F12},
    {SDL_SCANCODE_F13, LVKEY_F13},             {SDL_SCANCODE_F14, LVKEY_F13 + 1},
    {SDL_SCANCODE_F15, LVKEY_F13 + 2},         {SDL_SCANCODE_F16, LVKEY_F13 + 3},
    {SDL_SCANCODE_INSERT, LVKEY_INSERT},       {SDL_SCANCODE_HOME, LVKEY_HOME},
    {SDL_SCANCODE_END, LVKEY_END},             {SDL_SCANCODE_PAGEUP, LVKEY_PAGEUP},
    {SDL_SCANCODE_PAGEDOWN, LVKEY_PAGEDOWN},   {SDL_SCANCODE_PRINTSCREEN, LVKEY_PRINT},
    {SDL_SCANCODE_PAUSE, LVKEY_PAUSE},
    // Keypad rows.
    {SDL_SCANCODE_KP_0, LVKEY_NP0},            {SDL_SCANCODE_KP_1, LVKEY_NP0 + 1},
    {SDL_SCANCODE_KP_2, LVKEY_NP0 + 2},        {SDL_SCANCODE_KP_3, LVKEY_NP0 + 3},
    {SDL_SCANCODE_KP_4, LVKEY_NP0 + 4},        {SDL_SCANCODE_KP_5, LVKEY_NP0 + 5},
    {SDL_SCANCODE_KP_6, LVKEY_NP0 + 6},        {SDL_SCANCODE_KP_7, LVKEY_NP0 + 7},
    {SDL_SCANCODE_KP_8, LVKEY_NP0 + 8},        {SDL_SCANCODE_KP_9, LVKEY_NP0 + 9},
    {SDL_SCANCODE_KP_MULTIPLY, LVKEY_NPMUL},   {SDL_SCANCODE_KP_PLUS, LVKEY_NPADD},
    {SDL_SCANCODE_KP_MINUS, LVKEY_NPSUB},      {SDL_SCANCODE_KP_PERIOD, LVKEY_NPDEC},
    {SDL_SCANCODE_KP_DIVIDE, LVKEY_NPDIV},
};
const int keypadFirstRow = 33;  // index of SDL_SCANCODE_KP_0 above

// Modifier keys and keypad Enter exist in the raw pass only.
const lvKeyRow rawOnly[] = {
    {SDL_SCANCODE_LCTRL, LVKEY_LCONTROL}, {SDL_SCANCODE_RCTRL, LVKEY_RCONTROL},
    {SDL_SCANCODE_LSHIFT, LVKEY_LSHIFT},  {SDL_SCANCODE_RSHIFT, LVKEY_RSHIFT},
    {SDL_SCANCODE_LALT, LVKEY_LALT},      {SDL_SCANCODE_RALT, LVKEY_RALT},
    {SDL_SCANCODE_KP_ENTER, LVKEY_ENTER},
};

bool LeftAltHeld(uint16_t modifiers)
{
    return (modifiers & KMOD_LALT) != 0;
}

bool ControlHeld(uint16_t modifiers)
{
    // AltGr is right Alt (and on some systems a left Control with it): not a Control.
    if (modifiers & KMOD_RCTRL) return true;
    return (modifiers & KMOD_LCTRL) && !(modifiers & (KMOD_RALT | KMOD_MODE));
}

// Sets a key's byte; only codes 32..313 have one.
void SetKeyState(lvDisplayWindow *w, int code, int raw, int down)
{
    if (code <= 31 || code >= LVKEY_CODES) return;
    w->keyState[(raw ? LVKEY_CODES : 0) + code] = (uint8_t)(down ? 1 : 0);
    if (down) w->keyPresses[(raw ? LVKEY_CODES : 0) + code]++;
    w->changes |= WCHANGE_KEYS;
}

// The next code point of UTF-8 text; advances *p. 0 at the end or for a broken sequence.
uint32_t NextCodePoint(const unsigned char **p)
{
    const unsigned char *s = *p;
    if (!*s) return 0;
    uint32_t c = *s++;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0x80 && more == 0) { *p = s; return 0xFFFD; }
    c &= more == 3 ? 0x07 : more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
    for (int i = 0; i < more; i++) {
        if ((*s & 0xC0) != 0x80) { *p = s; return 0xFFFD; }
        c = (c << 6) | (*s++ & 0x3F);
    }
    *p = s;
    return c;
}

bool InRegion(const lvWindowRegion &r, int x, int y)
{
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

struct lvOutputs {
    lvWindowInput *out;
    int max, count;
    void Add(int type, int a = 0, int b = 0, int c = 0, int d = 0, void *payload = nullptr)
    {
        if (count < max) out[count++] = {type, a, b, c, d, payload};
        else if (payload) FreeMemory(payload);
    }
};

void KeyEvent(const SDL_KeyboardEvent &k, lvDisplayWindow *w, lvWindowTranslation *t, lvOutputs &o)
{
    int down = k.type == SDL_KEYDOWN;
    t->modifiers = k.keysym.mod;
    SDL_Scancode sc = k.keysym.scancode;
    if (sc < 0 || sc >= SDL_NUM_SCANCODES) return;
    uint32_t qualifiers = QualifiersOfModifiers(k.keysym.mod);
    // Alt+Return asks for a mode switch and is no key for the script.
    if (sc == SDL_SCANCODE_RETURN && (k.keysym.mod & KMOD_ALT) && !(k.keysym.mod & KMOD_CTRL)) {
        if (down && !k.repeat) o.Add(13);
        return;
    }
    // Raw pass.
    int raw = KeyCodeOfScancode(sc, k.keysym.sym, 0);
    if (raw > 31) {
        SetKeyState(w, raw, 1, down);
        o.Add(29, down, 0, raw);
    }
    // Translated pass.
    if (LeftAltHeld(k.keysym.mod) && sc != SDL_SCANCODE_F10) return;  // system keys
    if (down && ControlHeld(k.keysym.mod) && (k.keysym.sym == 'c' || k.keysym.sym == 'C')) {
        w->ctrlCPressed = 1;
        return;
    }
    int code = KeyCodeOfScancode(sc, k.keysym.sym, 1);
    if (sc >= SDL_SCANCODE_LCTRL && sc <= SDL_SCANCODE_RGUI) return;  // modifiers type nothing
    if (code == 0) {
        if (!down) {
            code = t->pressedCode[sc];
            t->pressedCode[sc] = 0;
        } else if (!ControlHeld(k.keysym.mod)) {
            // Its character comes with the TEXTINPUT of this pump.
            t->pendingScancode = sc;
            return;
        }
    }
    if (code <= 31) return;
    SetKeyState(w, code, 0, down);
    o.Add(3, down, (int)qualifiers, code);
    if (down && code == LVKEY_ESCAPE) w->escapePressed = 1;
}

void TextEvent(const SDL_TextInputEvent &e, lvDisplayWindow *w, lvWindowTranslation *t, lvOutputs &o)
{
    if (LeftAltHeld(t->modifiers)) return;  // Alt+key is a system key, it types nothing
    const unsigned char *p = (const unsigned char *)e.text;
    bool first = true;
    while (uint32_t c = NextCodePoint(&p)) {
        if (first && t->pendingScancode >= 0) {
            int code = (int)c;
            t->pressedCode[t->pendingScancode] = code;
            t->pendingScancode = -1;
            if (code > 31) {
                SetKeyState(w, code, 0, 1);
                o.Add(3, 1, (int)QualifiersOfModifiers(t->modifiers), code);
            }
        }
        first = false;
        if (c >= 32 && c != 127 && c != 0xFFFD) o.Add(28, 0, 0, (int)c);
    }
}

void AppendDropName(lvWindowTranslation *t, const char *name)
{
    size_t n = std::strlen(name);
    char *grown = (char *)AllocMemory(t->dropLength + n + 2, 1);
    if (!grown) return;
    if (t->dropNames) std::memcpy(grown, t->dropNames, t->dropLength);
    std::memcpy(grown + t->dropLength, name, n + 1);
    FreeMemory(t->dropNames);
    t->dropNames = grown;
    t->dropLength += n + 1;
    t->dropCount++;
}

void MouseButton(const SDL_MouseButtonEvent &b, lvDisplayWindow *w, lvWindowTranslation *t, lvOutputs &o)
{
    int down = b.type == SDL_MOUSEBUTTONDOWN;
    t->lastX = b.x;
    t->lastY = b.y;
    if (b.button == SDL_BUTTON_LEFT) {
        if (down) {
            t->pressX = b.x;
            t->pressY = b.y;
            if (w->styleFlags & STYLE_BORDERLESS) {
                if (w->styleFlags & STYLE_SIZEABLE) {
                    for (int i = 0; i < w->sizeRegionCount; i++) {
                        if (!InRegion(w->sizeRegions[i], b.x, b.y)) continue;
                        t->sizing = 1;
                        t->zone = ComputeSizeZone(&w->sizeRegions[i], w->width, w->height, b.x, b.y, &t->grabX,
                                                  &t->grabY);
                        t->startLeft = w->x;
                        t->startTop = w->y;
                        t->startRight = w->x + w->width - 1;
                        t->startBottom = w->y + w->height - 1;
                        return;
                    }
                }
                if (!(w->styleFlags & STYLE_FIXED)) {
                    for (int i = 0; i < w->dragRegionCount; i++) {
                        if (!InRegion(w->dragRegions[i], b.x, b.y)) continue;
                        t->dragging = 1;
                        t->startLeft = w->x;
                        t->startTop = w->y;
                        return;
                    }
                }
            }
        } else if (t->dragging) {
            t->dragging = 0;
            if (w->x != t->startLeft || w->y != t->startTop) {
                w->moved = 1;
                w->newX = w->x;
                w->newY = w->y;
                w->changes |= WCHANGE_MOVE;
            }
            return;
        } else if (t->sizing) {
            t->sizing = 0;
            if (w->width != t->startRight - t->startLeft + 1 || w->height != t->startBottom - t->startTop + 1) {
                w->sizeState = 1;
                w->newWidth = w->width;
                w->newHeight = w->height;
                w->changes |= WCHANGE_SIZE;
            }
            if (w->x != t->startLeft || w->y != t->startTop) {
                w->newX = w->x;
                w->newY = w->y;
                w->changes |= WCHANGE_MOVE;
            }
            return;
        }
        w->leftButton = (uint8_t)down;
        o.Add(1, b.x, b.y, down);
    } else if (b.button == SDL_BUTTON_RIGHT) {
        w->rightButton = (uint8_t)down;
        o.Add(2, b.x, b.y, down);
    } else if (b.button == SDL_BUTTON_MIDDLE) {
        w->midButton = (uint8_t)down;
        o.Add(16, b.x, b.y, down);
    }
}

void MouseMotion(const SDL_MouseMotionEvent &m, lvDisplayWindow *w, lvWindowTranslation *t, lvOutputs &o)
{
    t->lastX = m.x;
    t->lastY = m.y;
    w->pointerInside = 1;
    w->mouseX = m.x;
    w->mouseY = m.y;
    int screenX = w->x + w->borderLeft + m.x, screenY = w->y + w->borderTop + m.y;
    if (t->dragging) {
        // Motion that leaves the window where it is (the first report at the press point)
        // moves nothing.
        int x = screenX - t->pressX, y = screenY - t->pressY;
        if (x != w->x || y != w->y) o.Add(WINPUT_MOVEWINDOW, x, y);
    } else if (t->sizing) {
        int l, tp, r, bt;
        ComputeSizeRect(t->zone, screenX, screenY, t->grabX, t->grabY, t->startLeft, t->startTop, t->startRight,
                        t->startBottom, &l, &tp, &r, &bt);
        o.Add(WINPUT_SIZEWINDOW, l, tp, r - l + 1, bt - tp + 1);
    }
}

void WindowEvent(const SDL_WindowEvent &e, lvDisplayWindow *w, lvWindowTranslation *t, lvOutputs &o)
{
    switch (e.event) {
    case SDL_WINDOWEVENT_MOVED: {
        int x = e.data1 - w->borderLeft, y = e.data2 - w->borderTop;
        for (int i = 0; i < t->expectMoves; i++) {
            if (x != t->expectX[i] || y != t->expectY[i]) continue;
            // Our own move coming back late; the server reports in order, so the places
            // asked before it will not be reported any more.
            t->expectMoves -= i + 1;
            std::memmove(t->expectX, t->expectX + i + 1, t->expectMoves * sizeof(int));
            std::memmove(t->expectY, t->expectY + i + 1, t->expectMoves * sizeof(int));
            return;
        }
        // The server confirming where the window already is (its placement at opening,
        // coming late) is no move.
        if (x == w->x && y == w->y && !t->dragging) return;
        w->x = x;
        w->y = y;
        if (t->dragging) return;
        w->newX = x;
        w->newY = y;
        w->moved = 1;
        w->changes |= WCHANGE_MOVE;
        return;
    }
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        if (t->expectSize && e.data1 == t->expectWidth && e.data2 == t->expectHeight) {
            t->expectSize = 0;
            return;
        }
        if (w->restoreState == 2) return;  // a minimised window keeps its size
        w->width = e.data1;
        w->height = e.data2;
        w->newWidth = e.data1;
        w->newHeight = e.data2;
        if (!t->sizing) w->sizeState = 1;
        w->changes |= WCHANGE_SIZE;
        return;
    case SDL_WINDOWEVENT_MINIMIZED:
        if (w->restoreState == 2) return;
        w->restoreState = 2;
        w->minimised = 1;
        w->changes |= WCHANGE_RESTORE;
        o.Add(9);
        return;
    case SDL_WINDOWEVENT_RESTORED:
        if (w->restoreState != 2) return;  // back from maximised: its size change tells
        w->restoreState = 1;
        w->minimised = 0;
        w->changes |= WCHANGE_RESTORE;
        o.Add(10);
        return;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        w->active = 1;
        ApplyWindowPointer(w);
        w->changes |= WCHANGE_ACTIVE;
        o.Add(8);
        return;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        w->active = 0;
        std::memset(w->keyState, 0, sizeof w->keyState);
        for (int32_t &c : t->pressedCode) c = 0;
        w->changes |= WCHANGE_ACTIVE | WCHANGE_KEYS;
        o.Add(6);
        return;
    case SDL_WINDOWEVENT_ENTER:
        w->pointerInside = 1;
        ApplyWindowPointer(w);
        return;
    case SDL_WINDOWEVENT_LEAVE:
        w->pointerInside = 0;
        return;
    case SDL_WINDOWEVENT_CLOSE:
        if (w->styleFlags & STYLE_NOCLOSE) return;
        w->closeClicked = 1;
        o.Add(7);
        return;
    default:
        return;
    }
}

}  // namespace

int KeyCodeOfScancode(SDL_Scancode scancode, SDL_Keycode sym, int translated)
{
    int rows = translated ? keypadFirstRow : (int)(sizeof keyTable / sizeof keyTable[0]);
    for (int i = 0; i < rows; i++)
        if (keyTable[i].scancode == scancode) return keyTable[i].code;
    if (translated) return scancode == SDL_SCANCODE_KP_ENTER ? LVKEY_RETURN : 0;
    for (const lvKeyRow &r : rawOnly)
        if (r.scancode == scancode) return r.code;
    if (sym >= 'a' && sym <= 'z') return (int)(sym - 'a' + 'A');
    if (sym >= '0' && sym <= '9') return (int)sym;
    return 0;
}

uint32_t QualifiersOfModifiers(uint16_t m)
{
    uint32_t q = LVQUAL_BASE;
    if ((m & KMOD_LCTRL) && !(m & (KMOD_RALT | KMOD_MODE))) q |= LVQUAL_LCONTROL;
    if (m & KMOD_RCTRL) q |= LVQUAL_RCONTROL;
    if (m & KMOD_LALT) q |= LVQUAL_LALT;
    if (m & (KMOD_RALT | KMOD_MODE)) q |= LVQUAL_RALT;
    if (m & KMOD_LSHIFT) q |= LVQUAL_LSHIFT;
    if (m & KMOD_RSHIFT) q |= LVQUAL_RSHIFT;
    return q;
}

void InitWindowTranslation(lvWindowTranslation *t)
{
    std::memset(t, 0, sizeof *t);
    t->pendingScancode = -1;
}

void ExpectWindowMove(lvWindowTranslation *t, int x, int y)
{
    const int capacity = (int)(sizeof t->expectX / sizeof t->expectX[0]);
    if (t->expectMoves == capacity) {  // the oldest is forgotten: it may then count as a move
        std::memmove(t->expectX, t->expectX + 1, (capacity - 1) * sizeof(int));
        std::memmove(t->expectY, t->expectY + 1, (capacity - 1) * sizeof(int));
        t->expectMoves--;
    }
    t->expectX[t->expectMoves] = x;
    t->expectY[t->expectMoves] = y;
    t->expectMoves++;
}

void FreeWindowTranslation(lvWindowTranslation *t)
{
    FreeMemory(t->dropNames);
    t->dropNames = nullptr;
    t->dropLength = 0;
    t->dropCount = 0;
}

void EndWindowPump(lvWindowTranslation *t)
{
    t->pendingScancode = -1;
}

int TranslateWindowEvent(const SDL_Event *e, lvDisplayWindow *w, lvWindowTranslation *t, lvWindowInput *out,
                         int max)
{
    lvOutputs o = {out, max, 0};
    switch (e->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        KeyEvent(e->key, w, t, o);
        break;
    case SDL_TEXTINPUT:
        TextEvent(e->text, w, t, o);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        MouseButton(e->button, w, t, o);
        break;
    case SDL_MOUSEMOTION:
        MouseMotion(e->motion, w, t, o);
        break;
    case SDL_MOUSEWHEEL: {
        int y = e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e->wheel.y : e->wheel.y;
        // The wheel reports the pointer's screen position.
        o.Add(y <= 0 ? 12 : 11, w->x + w->borderLeft + t->lastX, w->y + w->borderTop + t->lastY);
        break;
    }
    case SDL_WINDOWEVENT:
        WindowEvent(e->window, w, t, o);
        break;
    case SDL_DROPBEGIN:
        FreeWindowTranslation(t);
        break;
    case SDL_DROPFILE:
        if (e->drop.file) AppendDropName(t, e->drop.file);
        break;
    case SDL_DROPCOMPLETE:
        if (w->acceptDrops && t->dropCount > 0) {
            // The block ends with an empty name: one more zero byte.
            char *block = (char *)AllocMemory(t->dropLength + 1, 1);
            if (block) {
                std::memcpy(block, t->dropNames, t->dropLength);
                o.Add(14, t->lastX, t->lastY, t->dropCount, 0, block);
            }
        }
        FreeWindowTranslation(t);
        break;
    default:
        break;
    }
    return o.count;
}

int ComputeSizeZone(const lvWindowRegion *r, int w, int h, int px, int py, int *grabX, int *grabY)
{
    struct Box {
        int x1, y1, x2, y2;
    };
    const Box zones[8] = {
        {0, 0, 9, 9},          {0, h - 10, 10, h - 1},      {w - 10, 0, w - 1, 9}, {w - 10, h - 10, w - 1, h - 1},
        {0, 0, 9, h - 1},      {w - 10, 0, w - 1, h - 1},   {0, 0, w - 1, 9},      {0, h - 10, w - 1, h - 1},
    };
    int rx2 = r->x + r->width - 1, ry2 = r->y + r->height - 1;
    int zone = 3;
    for (int i = 0; i < 8; i++) {
        const Box &z = zones[i];
        if (r->x <= z.x2 && rx2 >= z.x1 && r->y <= z.y2 && ry2 >= z.y1) {
            zone = i;
            break;
        }
    }
    *grabX = (zone == 0 || zone == 1 || zone == 4) ? px : (zone == 2 || zone == 3 || zone == 5) ? rx2 - px : 0;
    *grabY = (zone == 0 || zone == 2 || zone == 6) ? py : (zone == 1 || zone == 3 || zone == 7) ? ry2 - py : 0;
    return zone;
}

void ComputeSizeRect(int zone, int cx, int cy, int grabX, int grabY, int sl, int st, int sr, int sb, int *left,
                     int *top, int *right, int *bottom)
{
    *left = sl, *top = st, *right = sr, *bottom = sb;
    if (zone == 0 || zone == 1 || zone == 4) *left = cx - grabX;
    if (zone == 2 || zone == 3 || zone == 5) *right = cx + grabX;
    if (zone == 0 || zone == 2 || zone == 6) *top = cy - grabY;
    if (zone == 1 || zone == 3 || zone == 7) *bottom = cy + grabY;
    if (*right < *left) *right = *left;
    if (*bottom < *top) *bottom = *top;
}
