// console_curses.cpp - advanced mode over ncursesw: the screen on the terminal of the
// standard streams (or /dev/tty), the script's cells made curses cells at each call, the
// line-drawing table, keys with the stop request seen every 100 ms, and a line editor of
// our own (echo, erase, kill, word erase, 255 characters).
//
// Curses runs on the script thread under a thread-local C.UTF-8 LC_CTYPE (uselocale), so
// the process locale is never changed. ncurses installs no SIGINT or SIGTERM handler,
// because the runtime's own are in place before it starts.
//
// Depends on: ncursesw, ui/console.h, vm/lvvm.h (stop request through ConsoleStopRequested).
// Limits: script thread only.
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include "ui/console_curses.h"

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"

#include <cstdio>
#include <cstring>
#include <locale.h>
#include <termios.h>
#include <unistd.h>

// ---- Screen state -----------------------------------------------------------------------------

struct lvCursesScreen {
    SCREEN *screen;      // from newterm
    FILE *terminal;      // /dev/tty when the standard streams are no terminal, else null
    FILE *in, *out;      // the streams curses uses
    locale_t utf8;       // the C.UTF-8 LC_CTYPE of the script thread
    locale_t previous;   // the thread's locale before
    int echo;            // the script's "echo" (curses starts with echo on)
    int cbreak;          // the script's "cbreak"
};

static lvCursesScreen cursesScreen;

// VT100 letters of the line-drawing characters 65000 .. 65031, in their constants' order.
static const char kLineDrawingLetters[LV_CONSOLECHR_COUNT + 1] = "0hv~a.f`zqi,ymjt|{gn+uoprs}w-lkx";

WINDOW *CurrentConsoleWindow()
{
    lvConsoleState *s = GetConsoleState();
    return s->current ? static_cast<WINDOW *>(s->current->window) : stdscr;
}

int ConsoleTerminalFd() { return cursesScreen.out ? fileno(cursesScreen.out) : -1; }

// ---- Cells ----------------------------------------------------------------------------------------

uint32_t LineDrawingCell(uint32_t code)
{
    if (code < LV_CONSOLECHR_FIRST || code >= LV_CONSOLECHR_FIRST + LV_CONSOLECHR_COUNT) return code;
    return LV_CELL_ALTCHARSET | static_cast<unsigned char>(kLineDrawingLetters[code - LV_CONSOLECHR_FIRST]);
}

attr_t CellAttrsToCurses(uint32_t cell)
{
    attr_t a = 0;
    if (cell & LV_CELL_ALTCHARSET) a |= A_ALTCHARSET;
    if (cell & LV_CELL_ITALIC) a |= A_ITALIC;
    if (cell & LV_CELL_UNDERLINE) a |= A_UNDERLINE;
    if (cell & LV_CELL_REVERSE) a |= A_REVERSE;
    if (cell & LV_CELL_BLINK) a |= A_BLINK;
    if (cell & LV_CELL_BOLD) a |= A_BOLD;
    return a;
}

uint32_t CursesAttrsToCell(attr_t a)
{
    uint32_t cell = 0;
    if (a & A_ALTCHARSET) cell |= LV_CELL_ALTCHARSET;
    if (a & A_ITALIC) cell |= LV_CELL_ITALIC;
    if (a & A_UNDERLINE) cell |= LV_CELL_UNDERLINE;
    if (a & A_REVERSE) cell |= LV_CELL_REVERSE;
    if (a & A_BLINK) cell |= LV_CELL_BLINK;
    if (a & A_BOLD) cell |= LV_CELL_BOLD;
    return cell;
}

uint32_t StyleToCellAttrs(int style)
{
    uint32_t cell = 0;
    if (style & LV_STYLE_STANDOUT) cell |= LV_CELL_STANDOUT;
    if (style & LV_STYLE_UNDERLINED) cell |= LV_CELL_UNDERLINE;
    if (style & LV_STYLE_ITALIC) cell |= LV_CELL_ITALIC;
    if (style & LV_STYLE_REVERSE) cell |= LV_CELL_REVERSE;
    if (style & LV_STYLE_BLINK) cell |= LV_CELL_BLINK;
    if (style & LV_STYLE_BOLD) cell |= LV_CELL_BOLD;
    if (style & LV_STYLE_ALTCHARSET) cell |= LV_CELL_ALTCHARSET;
    return cell;
}

int CellAttrsToStyle(uint32_t cell)
{
    int style = 0;
    if (cell & LV_CELL_STANDOUT) style |= LV_STYLE_STANDOUT;
    if (cell & LV_CELL_UNDERLINE) style |= LV_STYLE_UNDERLINED;
    if (cell & LV_CELL_ITALIC) style |= LV_STYLE_ITALIC;
    if (cell & LV_CELL_REVERSE) style |= LV_STYLE_REVERSE;
    if (cell & LV_CELL_BLINK) style |= LV_STYLE_BLINK;
    if (cell & LV_CELL_BOLD) style |= LV_STYLE_BOLD;
    if (cell & LV_CELL_ALTCHARSET) style |= LV_STYLE_ALTCHARSET;
    return style;
}

// The script's colour numbers follow the blue-first order (1 blue, 3 cyan, 4 red, 6
// yellow); curses' the red-first one. The exchange is its own inverse; pens 16 and up
// are the same in both.
short ScriptPenToCurses(int pen)
{
    static const short swap[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    if (pen < 0 || pen >= 16) return static_cast<short>(pen);
    return static_cast<short>(swap[pen & 7] | (pen & 8));
}

int CursesPenToScript(int pen) { return ScriptPenToCurses(pen); }

cchar_t MakeCursesCell(uint32_t cell)
{
    cchar_t c;
    wchar_t text[2] = {static_cast<wchar_t>(cell & LV_CELL_CHAR), 0};
    setcchar(&c, text, CellAttrsToCurses(cell), static_cast<short>(cell >> 24), nullptr);
    return c;
}

uint32_t CursesCellToScript(const cchar_t *c)
{
    wchar_t text[CCHARW_MAX + 1] = {};
    attr_t attrs = 0;
    short pair = 0;
    getcchar(c, text, &attrs, &pair, nullptr);
    uint32_t code = static_cast<uint32_t>(text[0]);
    if (code > 0xFFFF) code = '?';
    return code | CursesAttrsToCell(attrs) | (static_cast<uint32_t>(pair & 0xFF) << 24);
}

// ---- Colours -----------------------------------------------------------------------------------------

int StartConsoleColors()
{
    lvConsoleState *s = GetConsoleState();
    if (s->colorStarted) return 0;
    if (!has_colors()) return ERR_COLORTERMINAL;
    if (s->useDefaultColors) use_default_colors();
    start_color();
    s->colorStarted = 1;
    return 0;
}

void SetPenColor(int pen, int rgb)
{
    auto scale = [](int v) { return static_cast<short>(v * 3.9215686274509802); };
    init_color(ScriptPenToCurses(pen), scale((rgb >> 16) & 255), scale((rgb >> 8) & 255), scale(rgb & 255));
    GetConsoleState()->pens[pen] = rgb;
}

int PenToRgb(int pen)
{
    short r = 0, g = 0, b = 0;
    if (pen < 0) return -1;
    color_content(ScriptPenToCurses(pen), &r, &g, &b);
    auto scale = [](short v) { return static_cast<int>(v * 0.255); };
    return scale(r) * 65536 + scale(g) * 256 + scale(b);
}

// ---- Mode switch ---------------------------------------------------------------------------------------

static void UseUtf8Locale()
{
    if (!cursesScreen.utf8) cursesScreen.utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (cursesScreen.utf8) cursesScreen.previous = uselocale(cursesScreen.utf8);
}

static void DropUtf8Locale()
{
    if (cursesScreen.previous) uselocale(cursesScreen.previous);
    cursesScreen.previous = static_cast<locale_t>(0);
}

int EnterAdvancedConsole()
{
    lvConsoleState *s = GetConsoleState();
    if (s->advanced) return 0;
    UseUtf8Locale();
    FILE *in = stdin, *out = stdout;
    cursesScreen.terminal = nullptr;
    if (!isatty(0) || !isatty(1)) {
        cursesScreen.terminal = std::fopen("/dev/tty", "r+e");
        if (!cursesScreen.terminal) {
            DropUtf8Locale();
            return ERR_CONSOLE;
        }
        in = out = cursesScreen.terminal;
    }
    const char *term = getenv("TERM");
    cursesScreen.screen = newterm(term && *term ? term : nullptr, out, in);
    if (!cursesScreen.screen) {
        if (cursesScreen.terminal) std::fclose(cursesScreen.terminal);
        cursesScreen.terminal = nullptr;
        DropUtf8Locale();
        return ERR_CONSOLE;
    }
    cursesScreen.in = in;
    cursesScreen.out = out;
    set_term(cursesScreen.screen);
    cursesScreen.echo = 1;
    cursesScreen.cbreak = 0;
    s->advanced = 1;
    s->current = nullptr;
    // A fresh screen knows nothing of colours started before: start them again, with
    // the pens the script still holds.
    if (s->colorStarted && has_colors()) {
        if (s->useDefaultColors) use_default_colors();
        start_color();
        for (int pen = 8; pen < 256; pen++)
            if (s->pens[pen] != -1 && pen < COLORS) SetPenColor(pen, s->pens[pen]);
    }
    return 0;
}

void LeaveAdvancedConsole()
{
    lvConsoleState *s = GetConsoleState();
    if (!s->advanced) return;
    while (s->windows) {
        lvConsoleWindow *last = s->windows;
        while (last->header.next) last = reinterpret_cast<lvConsoleWindow *>(last->header.next);
        FreeConsoleWindowRecord(last);
    }
    s->current = nullptr;
    endwin();
    delscreen(cursesScreen.screen);
    cursesScreen.screen = nullptr;
    if (cursesScreen.terminal) std::fclose(cursesScreen.terminal);
    cursesScreen.terminal = nullptr;
    cursesScreen.in = cursesScreen.out = nullptr;
    DropUtf8Locale();
    s->advanced = 0;
}

void FreeConsoleWindowRecord(lvConsoleWindow *record)
{
    lvConsoleState *s = GetConsoleState();
    lvConsoleWindow **link = &s->windows;
    while (*link && *link != record) link = reinterpret_cast<lvConsoleWindow **>(&(*link)->header.next);
    if (*link) *link = reinterpret_cast<lvConsoleWindow *>(record->header.next);
    if (s->current == record) s->current = nullptr;
    delwin(static_cast<WINDOW *>(record->window));
    if (record->header.userData) {
        lvRefOps ops = MakeRegistryRefOps(GetMainVMState());
        FreeObjectUserData(&record->header.userData, GetMainVMState() ? &ops : nullptr);
    }
    delete record;
}

void SetConsoleEcho(int on)
{
    cursesScreen.echo = on != 0;
    on ? echo() : noecho();
}

void SetConsoleCbreak(int on)
{
    cursesScreen.cbreak = on != 0;
    on ? cbreak() : nocbreak();
}

// ---- Text and keys ------------------------------------------------------------------------------------

int AddConsoleText(const char *utf8, size_t length)
{
    std::string text(utf8, length);
    waddstr(CurrentConsoleWindow(), text.c_str());
    return 0;
}

int AddConsoleCell(uint32_t cell)
{
    cchar_t c = MakeCursesCell(LineDrawingCell(cell & LV_CELL_CHAR) | (cell & ~LV_CELL_CHAR));
    wadd_wch(CurrentConsoleWindow(), &c);
    return 0;
}

// One key of the window, the stop request seen every 100 ms. A window in no-delay mode
// answers at once (-1 without a key).
static int GetKeyOf(WINDOW *w, int *key)
{
    bool noDelay = is_nodelay(w);
    int delay = wgetdelay(w);
    for (;;) {
        if (ConsoleStopRequested()) return ERR_USERABORT;
        if (!noDelay) wtimeout(w, delay < 0 || delay > 100 ? 100 : delay);
        wint_t c = 0;
        int r = wget_wch(w, &c);
        if (!noDelay) wtimeout(w, delay);
        if (r == OK) {
            *key = static_cast<int>(c);
            return 0;
        }
        if (r == KEY_CODE_YES) {
            *key = c == KEY_END ? 358 : static_cast<int>(c);
            return 0;
        }
        // Nothing within the step: a blocking window waits on; a timed one has its answer.
        if (noDelay || (delay >= 0 && delay <= 100)) {
            *key = -1;
            return 0;
        }
    }
}

int ReadAdvancedConsoleKey(int *key) { return GetKeyOf(CurrentConsoleWindow(), key); }

int PollAdvancedConsoleKey()
{
    WINDOW *w = CurrentConsoleWindow();
    int delay = wgetdelay(w);
    wtimeout(w, 0);
    wint_t c = 0;
    int r = wget_wch(w, &c);
    wtimeout(w, delay);
    if (r == OK) return static_cast<int>(c);
    if (r == KEY_CODE_YES) return c == KEY_END ? 358 : static_cast<int>(c);
    return -1;
}

int WordEraseChar()
{
    struct termios mode;
    int fd = cursesScreen.in ? fileno(cursesScreen.in) : 0;
    if (tcgetattr(fd, &mode) != 0) return 23;
    return mode.c_cc[VWERASE];
}

int ReadAdvancedConsoleLine(std::string *utf8Line)
{
    WINDOW *w = CurrentConsoleWindow();
    wrefresh(w);
    // The editor takes keys one by one and echoes them itself, and waits for each even
    // on a window set to answer at once.
    cbreak();
    noecho();
    int windowDelay = wgetdelay(w);
    wtimeout(w, -1);
    std::wstring line;
    int erase = erasechar(), kill = killchar(), word = WordEraseChar();
    int code = 0;
    for (;;) {
        int key = 0;
        code = GetKeyOf(w, &key);
        if (code || key == -1) break;
        if (key == '\n' || key == '\r' || key == KEY_ENTER) break;
        auto eraseOne = [&]() {
            if (line.empty()) return;
            line.pop_back();
            if (cursesScreen.echo) {
                int y, x;
                getyx(w, y, x);
                if (x > 0) mvwdelch(w, y, x - 1);
            }
        };
        if (key == erase || key == KEY_BACKSPACE || key == 127 || key == 8) {
            eraseOne();
        } else if (key == kill) {
            while (!line.empty()) eraseOne();
        } else if (key == word) {
            while (!line.empty() && line.back() == L' ') eraseOne();
            while (!line.empty() && line.back() != L' ') eraseOne();
        } else if (key < KEY_MIN && key >= 0x20 && line.size() < 255) {
            line.push_back(static_cast<wchar_t>(key));
            if (cursesScreen.echo) {
                wchar_t one[2] = {static_cast<wchar_t>(key), 0};
                waddwstr(w, one);
            }
        } else if (key < KEY_MIN && key >= 0x20) {
            beep();
        }
        wrefresh(w);
    }
    wtimeout(w, windowDelay);
    cursesScreen.cbreak ? cbreak() : nocbreak();
    cursesScreen.echo ? echo() : noecho();
    utf8Line->clear();
    for (wchar_t ch : line) {
        uint32_t c = static_cast<uint32_t>(ch);
        if (c < 0x80) {
            utf8Line->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            utf8Line->push_back(static_cast<char>(0xC0 | (c >> 6)));
            utf8Line->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            utf8Line->push_back(static_cast<char>(0xE0 | (c >> 12)));
            utf8Line->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            utf8Line->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            utf8Line->push_back(static_cast<char>(0xF0 | (c >> 18)));
            utf8Line->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            utf8Line->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            utf8Line->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return code;
}
