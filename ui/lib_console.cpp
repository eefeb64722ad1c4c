// lib_console.cpp - the console library's commands: printing and reading in both modes,
// the mode switch, the console flag and title, and the advanced-mode commands over the
// curses side of the engine (windows, cursor, cells, styles, colours and pens).
//
// Every advanced command reads its arguments first and then fails with 1676 in plain
// mode; DecomposeConsoleChr works in both.
// Depends on: ui/console.h, ui/console_curses.h, runtime/cmdsupport.h, runtime/objects.h.
// Limits: script thread only.
#include "ui/lib_console.h"

#include "base/lverrors.h"
#include "platform/lvplatform_console.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "ui/console_curses.h"
#include "vm/lvvm.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

// ---- Helpers ----------------------------------------------------------------------------------

static int IntArg(lvState *L, int index)
{
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

static int OptIntArg(lvState *L, int index, int fallback)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return fallback;
    return IntArg(L, index);
}

static bool Advanced() { return GetConsoleState()->advanced != 0; }

#define NEED_ADVANCED()                              \
    do {                                             \
        if (!Advanced()) return ERR_ADVANCEDCONSOLE; \
    } while (0)

static bool ScriptIsLatin1() { return GetGlobalEncoding() != LV_ENCODING_UTF8; }

// A script text as UTF-8 for curses.
static std::string TextForCurses(const char *text, size_t length)
{
    if (!ScriptIsLatin1()) return std::string(text, length);
    std::vector<char> out(length * 2 + 1);
    size_t n = Latin1ToUtf8Into(text, out.data(), length);
    return std::string(out.data(), n);
}

static void PushTextInScriptEncoding(lvState *L, const std::wstring &text)
{
    std::string out;
    for (wchar_t ch : text) {
        uint32_t c = static_cast<uint32_t>(ch);
        if (ScriptIsLatin1()) {
            out.push_back(c < 256 ? static_cast<char>(c) : '?');
        } else {
            char bytes[8];
            int n = PutUtf8(bytes, c);
            out.append(bytes, static_cast<size_t>(n));
        }
    }
    PushSizedString(L, out.data(), out.size());
}

static int CursesResult(int r) { return r == ERR ? ERR_CONSOLE : 0; }

// ---- Printing and reading ----------------------------------------------------------------------

// PrintValues: each argument as "tostring" renders it, one blank between them.
static int PrintValues(lvState *L, bool lineEnd)
{
    int n = GetStackTop(L);
    if (n < 1) return ERR_MISSINGPARAMTR;
    std::string text;
    for (int i = 1; i <= n; i++) {
        if (i > 1) text.push_back(' ');
        PushString(L, "tostring");
        GetTableValue(L, LV_GLOBALSINDEX);
        PushCopy(L, i);
        CallFunction(L, 1, 1);
        size_t length = ValueStringLength(L, -1);
        const char *s = ValueToString(L, -1);
        if (s) text.append(s, length);
        SetStackTop(L, -2);
    }
    if (lineEnd) text.push_back('\n');
    return WriteConsoleText(text.data(), text.size());
}

static int CmdConsolePrint(lvState *L) { return PrintValues(L, true); }
static int CmdConsolePrintNR(lvState *L) { return PrintValues(L, false); }

static int CmdConsolePrintChr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PrintConsoleChr(CheckNumberArg(L, 1));
}

static int PushPromptedLine(lvState *L, const char *prompt)
{
    std::string line;
    if (int code = PromptConsoleLine(prompt, &line)) return code;
    PushSizedString(L, line.data(), line.size());
    return 1;
}

static int CmdConsolePrompt(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PushPromptedLine(L, CheckStringArg(L, 1, nullptr));
}

static int CmdReadConsoleStr(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    return PushPromptedLine(L, nullptr);
}

static int CmdEnableAdvancedConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    return EnterAdvancedConsole();
}

static int CmdDisableAdvancedConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    LeaveAdvancedConsole();
    return 0;
}

static int CmdOpenConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    return OpenConsoleStreams() ? 0 : ERR_CONSOLE;
}

static int CmdCloseConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    CloseConsoleStreams();
    return 0;
}

static int CmdHaveConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, HaveConsoleStreams());
    return 1;
}

static int CmdSetConsoleTitle(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    size_t length = 0;
    const char *title = CheckStringArg(L, 1, &length);
    std::string utf8 = TextForCurses(title, length);
    int fd = Advanced() ? ConsoleTerminalFd() : 1;
    if (Advanced()) fflush(nullptr);
    SetTerminalTitle(fd, utf8.c_str());
    return 0;
}

// ---- Windows ----------------------------------------------------------------------------------------

// The console window of an id: ERR_FINDCONWIN with the number, ERR_FINDARRAY for a handle.
static int FindConsoleWindowById(lvObjectId id, lvConsoleWindow **out)
{
    for (lvConsoleWindow *w = GetConsoleState()->windows; w; w = reinterpret_cast<lvConsoleWindow *>(w->header.next))
        if (ObjectIdMatches(&w->header, id)) {
            *out = w;
            return 0;
        }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDCONWIN;
}

static bool HasChild(const lvConsoleWindow *record)
{
    for (lvConsoleWindow *w = GetConsoleState()->windows; w; w = reinterpret_cast<lvConsoleWindow *>(w->header.next))
        if (w->parent && w->parent == record->window) return true;
    return false;
}

static int FreeConsoleWindowById(lvObjectId id)
{
    lvConsoleWindow *record = nullptr;
    if (int code = FindConsoleWindowById(id, &record)) return code;
    if (HasChild(record)) return ERR_FREEPARENT;
    FreeConsoleWindowRecord(record);
    return 0;
}

// CreateConsoleWindow(id or Nil, width, height, x, y[, parent[, relative]])
static int CmdCreateConsoleWindow(lvState *L)
{
    CheckArgCount(L, 5, 7, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    int width = IntArg(L, 2), height = IntArg(L, 3), x = IntArg(L, 4), y = IntArg(L, 5);
    lvObjectId parentObject = {-1, nullptr};
    if (GetStackTop(L) >= 6) parentObject = GetObjectIdArg(L, 6);
    int relative = OptIntArg(L, 7, 0);
    NEED_ADVANCED();
    if (width < 0 || height < 0) return ERR_CONWIN;
    lvConsoleState *s = GetConsoleState();
    bool hasParent = GetStackTop(L) >= 6;
    lvConsoleWindow *parent = nullptr;
    if (hasParent && !(parentObject.handle == nullptr && parentObject.number == -1)) {
        if (int code = FindConsoleWindowById(parentObject, &parent)) return code;
    }
    if (!isNil) {
        lvObjectId id = {number, nullptr};
        lvConsoleWindow *old = nullptr;
        if (FindConsoleWindowById(id, &old) == 0) {
            // Building the new window inside the one it replaces would use freed memory.
            if (parent == old) return ERR_FREEPARENT;
            if (int code = FreeConsoleWindowById(id)) return code;
        }
    }
    WINDOW *w = nullptr;
    WINDOW *parentWindow = hasParent ? (parent ? static_cast<WINDOW *>(parent->window) : stdscr) : nullptr;
    if (!hasParent) w = newwin(height, width, y, x);
    else if (relative) w = derwin(parentWindow, height, width, y, x);
    else w = subwin(parentWindow, height, width, y, x);
    if (!w) return ERR_CONWIN;
    lvConsoleWindow *record = new lvConsoleWindow();
    InitObjectHeader(&record->header, LV_CONSOLEWINDOW_TYPE, isNil ? 0 : number, isNil != 0);
    record->window = w;
    record->parent = parentWindow;
    lvConsoleWindow **link = &s->windows;
    while (*link) link = reinterpret_cast<lvConsoleWindow **>(&(*link)->header.next);
    *link = record;
    if (!isNil) return 0;
    PushPointer(L, record);
    return 1;
}

static int CmdFreeConsoleWindow(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    NEED_ADVANCED();
    return FreeConsoleWindowById(id);
}

static int CmdSelectConsoleWindow(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    NEED_ADVANCED();
    if (!id.handle && id.number == -1) {
        GetConsoleState()->current = nullptr;
        return 0;
    }
    lvConsoleWindow *record = nullptr;
    if (int code = FindConsoleWindowById(id, &record)) return code;
    GetConsoleState()->current = record;
    return 0;
}

static int CmdGetConsoleWindow(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    lvConsoleWindow *current = GetConsoleState()->current;
    if (!current) PushNumber(L, -1);
    else PushObjectId(L, GetObjectIdOf(&current->header));
    return 1;
}

static int CmdMoveConsoleWindow(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int x = IntArg(L, 1), y = IntArg(L, 2);
    NEED_ADVANCED();
    return CursesResult(mvwin(CurrentConsoleWindow(), y, x));
}

static int CmdTouchConsoleWindow(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    touchwin(CurrentConsoleWindow());
    return 0;
}

static int CmdCopyConsoleWindow(lvState *L)
{
    CheckArgCount(L, 1, 8, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int overlayMode = OptIntArg(L, 2, 0);
    int n = GetStackTop(L);
    int a[6] = {};
    if (n > 2) {
        if (n < 8) return ERR_MISSINGPARAMTR;
        for (int i = 0; i < 6; i++) a[i] = IntArg(L, 3 + i);
    }
    NEED_ADVANCED();
    lvConsoleWindow *source = nullptr;
    if (int code = FindConsoleWindowById(id, &source)) return code;
    if (source == GetConsoleState()->current) return ERR_WRONGUSAGE;
    WINDOW *from = static_cast<WINDOW *>(source->window), *to = CurrentConsoleWindow();
    if (n > 2) copywin(from, to, a[1], a[0], a[3], a[2], a[5], a[4], overlayMode);
    else if (overlayMode) overlay(from, to);
    else overwrite(from, to);
    return 0;
}

static int CmdRefreshConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    wrefresh(CurrentConsoleWindow());
    return 0;
}

static int CmdClearConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    wclear(CurrentConsoleWindow());
    return 0;
}

static int CmdEraseConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    werase(CurrentConsoleWindow());
    return 0;
}

// ---- Cursor, size and input ------------------------------------------------------------------------

static int CmdSetConsoleCursor(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int x = IntArg(L, 1), y = IntArg(L, 2);
    NEED_ADVANCED();
    wmove(CurrentConsoleWindow(), y, x);
    return 0;
}

static int PushPair(lvState *L, int a, int b)
{
    PushNumber(L, a);
    PushNumber(L, b);
    return 2;
}

static int CmdGetConsoleCursor(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    return PushPair(L, getcurx(w), getcury(w));
}

static int CmdGetConsoleSize(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    return PushPair(L, getmaxx(w), getmaxy(w));
}

static int CmdGetConsoleOrigin(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    return PushPair(L, getbegx(w), getbegy(w));
}

static int CmdShowConsoleCursor(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int normal = OptIntArg(L, 1, 1);
    NEED_ADVANCED();
    curs_set(normal ? 1 : 2);
    return 0;
}

static int CmdHideConsoleCursor(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    curs_set(0);
    return 0;
}

static int CmdReadConsoleKey(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    int key = 0;
    if (int code = ReadAdvancedConsoleKey(&key)) return code;
    PushNumber(L, key);
    return 1;
}

static int CmdSetConsoleOptions(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    int v[10], present[10] = {};
    static const char *const keys[10] = {"keypad", "scroll", "clear", "leave", "immediate",
                                         "echo", "delay", "cbreak", "newline", "halfdelay"};
    for (int i = 0; i < 10; i++) GetFieldInt(L, 1, keys[i], &v[i], &present[i]);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    if (present[9] && (v[9] < 1 || v[9] > 255)) return ERR_WRONGUSAGE;
    if (present[0]) keypad(w, v[0] != 0);
    if (present[1]) scrollok(w, v[1] != 0);
    if (present[2]) clearok(w, v[2] != 0);
    if (present[3]) {
        leaveok(w, v[3] != 0);
        curs_set(v[3] ? 0 : 1);
    }
    if (present[4]) immedok(w, v[4] != 0);
    if (present[5]) SetConsoleEcho(v[5]);
    if (present[6]) nodelay(w, v[6] == 0);
    if (present[7]) SetConsoleCbreak(v[7]);
    if (present[8]) v[8] ? nl() : nonl();
    if (present[9]) halfdelay(v[9]);
    return 0;
}

static int CmdGetConsoleControlChr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int which = IntArg(L, 1);
    NEED_ADVANCED();
    switch (which) {
    case 0: PushNumber(L, killchar()); return 1;
    case 1: PushNumber(L, erasechar()); return 1;
    case 2: PushNumber(L, WordEraseChar()); return 1;
    default: return ERR_WRONGUSAGE;
    }
}

// ---- Text and cells ------------------------------------------------------------------------------------

static uint32_t CellArg(lvState *L, int index) { return static_cast<uint32_t>(NumberToInt64(CheckNumberArg(L, index))); }

static cchar_t CursesCellOf(uint32_t cell)
{
    return MakeCursesCell(LineDrawingCell(cell & LV_CELL_CHAR) | (cell & ~LV_CELL_CHAR));
}

static int CmdInsertConsoleChr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    uint32_t cell = CellArg(L, 1);
    NEED_ADVANCED();
    cchar_t c = CursesCellOf(cell);
    return CursesResult(wins_wch(CurrentConsoleWindow(), &c));
}

static int CmdInsertConsoleStr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    size_t length = 0;
    const char *text = CheckStringArg(L, 1, &length);
    NEED_ADVANCED();
    std::string utf8 = TextForCurses(text, length);
    return CursesResult(winsstr(CurrentConsoleWindow(), utf8.c_str()));
}

static int CmdDeleteConsoleChr(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    return CursesResult(wdelch(CurrentConsoleWindow()));
}

static int CmdInsertConsoleLine(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    return CursesResult(winsertln(CurrentConsoleWindow()));
}

static int CmdDeleteConsoleLine(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    return CursesResult(wdeleteln(CurrentConsoleWindow()));
}

static int CmdScrollConsole(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int lines = IntArg(L, 1);
    NEED_ADVANCED();
    if (lines == 0) return ERR_CONSOLE;
    return CursesResult(wscrl(CurrentConsoleWindow(), lines));
}

static int CmdGetConsoleChr(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    cchar_t c;
    if (win_wch(CurrentConsoleWindow(), &c) == ERR) return ERR_CONSOLE;
    PushNumber(L, CursesCellToScript(&c));
    return 1;
}

// The text from the cursor to the end of the line, each cell's character as it stands.
static int CmdGetConsoleStr(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    int width = getmaxx(w) - getcurx(w);
    if (width < 0) return ERR_CONSOLE;
    std::vector<cchar_t> cells(static_cast<size_t>(width) + 1);
    if (win_wchnstr(w, cells.data(), width) == ERR) return ERR_CONSOLE;
    std::wstring text;
    for (int i = 0; i < width; i++) {
        wchar_t chars[CCHARW_MAX + 1] = {};
        attr_t attrs;
        short pair;
        if (getcchar(&cells[i], chars, &attrs, &pair, nullptr) == ERR || chars[0] == 0) break;
        text.push_back(chars[0]);
    }
    PushTextInScriptEncoding(L, text);
    return 1;
}

// MakeConsoleChr(character[, style[, pair]]): a pair outside -1 .. 255 or a character
// outside 0 .. 0xFFFF would spill into the other fields of the cell.
static int CmdMakeConsoleChr(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    int64_t code = NumberToInt64(CheckNumberArg(L, 1));
    int style = OptIntArg(L, 2, 0);
    int pair = OptIntArg(L, 3, -1);
    if (code < 0 || code > 0xFFFF || pair < -1 || pair > 255) return ERR_WRONGUSAGE;
    NEED_ADVANCED();
    uint32_t cell = LineDrawingCell(static_cast<uint32_t>(code)) | StyleToCellAttrs(style);
    if (pair != -1) {
        if (int c = StartConsoleColors()) return c;
        cell |= static_cast<uint32_t>(pair) << 24;
    }
    PushNumber(L, cell);
    return 1;
}

static int CmdDecomposeConsoleChr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    uint32_t cell = CellArg(L, 1);
    PushNumber(L, cell & 0xFFFF);
    PushNumber(L, CellAttrsToStyle(cell));
    PushNumber(L, cell >> 24);
    return 3;
}

static int CmdSetConsoleBackground(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    uint32_t cell = CellArg(L, 1);
    NEED_ADVANCED();
    cchar_t c = CursesCellOf(cell ? cell : ' ');
    return CursesResult(wbkgrnd(CurrentConsoleWindow(), &c));
}

static int CmdGetConsoleBackground(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    cchar_t c;
    wgetbkgrnd(CurrentConsoleWindow(), &c);
    PushNumber(L, CursesCellToScript(&c));
    return 1;
}

static int CmdBeepConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    beep();
    return 0;
}

static int CmdFlashConsole(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    NEED_ADVANCED();
    flash();
    return 0;
}

// Absent or 0: curses' own line-drawing character (a null cell pointer).
static const cchar_t *OptCell(lvState *L, int index, cchar_t *store)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return nullptr;
    uint32_t cell = CellArg(L, index);
    if (!cell) return nullptr;
    *store = CursesCellOf(cell);
    return store;
}

static int CmdDrawConsoleBorder(lvState *L)
{
    CheckArgCount(L, 0, 8, 0, 0);
    cchar_t store[8];
    const cchar_t *c[8];
    for (int i = 0; i < 8; i++) c[i] = OptCell(L, i + 1, &store[i]);
    NEED_ADVANCED();
    return CursesResult(wborder_set(CurrentConsoleWindow(), c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]));
}

static int CmdDrawConsoleBox(lvState *L)
{
    CheckArgCount(L, 0, 2, 0, 0);
    cchar_t h, v;
    const cchar_t *horizontal = OptCell(L, 1, &h), *vertical = OptCell(L, 2, &v);
    NEED_ADVANCED();
    return CursesResult(box_set(CurrentConsoleWindow(), vertical, horizontal));
}

static int DrawLine(lvState *L, bool horizontal)
{
    CheckArgCount(L, 0, 2, 0, 0);
    cchar_t store;
    const cchar_t *cell = OptCell(L, 1, &store);
    int length = OptIntArg(L, 2, -1);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    if (length < 0) length = horizontal ? getmaxx(w) : getmaxy(w);
    cchar_t fallback;
    if (!cell) {
        fallback = MakeCursesCell(LineDrawingCell(horizontal ? 65009 : 65031));
        cell = &fallback;
    }
    return CursesResult(horizontal ? whline_set(w, cell, length) : wvline_set(w, cell, length));
}

static int CmdDrawConsoleHLine(lvState *L) { return DrawLine(L, true); }
static int CmdDrawConsoleVLine(lvState *L) { return DrawLine(L, false); }

// ---- Styles and colours ------------------------------------------------------------------------------

static int CmdSetConsoleStyle(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int style = IntArg(L, 1);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    if (style & LV_STYLE_NORMAL) wstandend(w);
    else wattr_on(w, CellAttrsToCurses(StyleToCellAttrs(style)), nullptr);
    return 0;
}

static int CmdClearConsoleStyle(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int style = IntArg(L, 1);
    NEED_ADVANCED();
    wattr_off(CurrentConsoleWindow(), CellAttrsToCurses(StyleToCellAttrs(style)), nullptr);
    return 0;
}

static int CmdGetConsoleStyle(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int underCursor = OptIntArg(L, 1, 0);
    NEED_ADVANCED();
    WINDOW *w = CurrentConsoleWindow();
    uint32_t cell;
    if (underCursor) {
        cchar_t c;
        win_wch(w, &c);
        cell = CursesCellToScript(&c);
    } else {
        attr_t attrs = 0;
        short pair = 0;
        wattr_get(w, &attrs, &pair, nullptr);
        cell = CursesAttrsToCell(attrs);
    }
    PushNumber(L, CellAttrsToStyle(cell));
    return 1;
}

// A colour argument: "penN", one of the eight RGB values, or -1. -2 when invalid.
static int ParseConsoleColor(lvState *L, int index)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return -1;
    if (GetValueType(L, index) == LV_TSTRING) {
        const char *text = ValueToString(L, index);
        if (strncmp(text, "pen", 3) != 0 || !text[3]) return -2;
        char *end = nullptr;
        long pen = strtol(text + 3, &end, 10);
        return *end || pen < 0 || pen > 255 ? -2 : static_cast<int>(pen);
    }
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    static const int64_t rgb[8] = {0x000000, 0x0000FF, 0x008000, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    if (v == -1) return -1;
    for (int i = 0; i < 8; i++)
        if (v == rgb[i]) return i;
    return -2;
}

static int DefineColorPair(lvState *L, bool defineOnly)
{
    CheckArgCount(L, 1, 3, 0, 0);
    int pair = IntArg(L, 1);
    int fg = ParseConsoleColor(L, 2), bg = ParseConsoleColor(L, 3);
    NEED_ADVANCED();
    if (int code = StartConsoleColors()) return code;
    if (pair < 0 || pair >= COLOR_PAIRS || pair > 255 || fg == -2 || bg == -2) return ERR_WRONGUSAGE;
    if (pair > 0 && GetStackTop(L) > 1) {
        short f = fg < 0 ? -1 : ScriptPenToCurses(fg), b = bg < 0 ? -1 : ScriptPenToCurses(bg);
        if ((f >= COLORS) || (b >= COLORS)) return ERR_WRONGUSAGE;
        if (init_pair(static_cast<short>(pair), f, b) == ERR) return ERR_CONSOLE;
    }
    if (!defineOnly) {
        WINDOW *w = CurrentConsoleWindow();
        wcolor_set(w, static_cast<short>(pair), nullptr);
    }
    return 0;
}

static int CmdSetConsoleColor(lvState *L) { return DefineColorPair(L, false); }
static int CmdInitConsoleColor(lvState *L) { return DefineColorPair(L, true); }

static int CmdFormatConsoleLine(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    int count = IntArg(L, 1), style = IntArg(L, 2);
    int pair = OptIntArg(L, 3, 0);
    int fg = ParseConsoleColor(L, 4), bg = ParseConsoleColor(L, 5);
    NEED_ADVANCED();
    if (fg == -2 || bg == -2) return ERR_WRONGUSAGE;
    if (fg != -1 || bg != -1) {
        if (int code = StartConsoleColors()) return code;
        if (pair < 0 || pair >= COLOR_PAIRS || pair > 255) return ERR_WRONGUSAGE;
        if (pair > 0) init_pair(static_cast<short>(pair), fg < 0 ? -1 : ScriptPenToCurses(fg), bg < 0 ? -1 : ScriptPenToCurses(bg));
    }
    if (pair < 0 || pair > 255) return ERR_WRONGUSAGE;
    return CursesResult(wchgat(CurrentConsoleWindow(), count, CellAttrsToCurses(StyleToCellAttrs(style)),
                               static_cast<short>(pair), nullptr));
}

static int CmdGetConsoleColor(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    int underCursor = OptIntArg(L, 1, 0);
    NEED_ADVANCED();
    if (int code = StartConsoleColors()) return code;
    WINDOW *w = CurrentConsoleWindow();
    short pair = 0;
    if (underCursor) {
        cchar_t c;
        win_wch(w, &c);
        pair = static_cast<short>(CursesCellToScript(&c) >> 24);
    } else {
        attr_t attrs = 0;
        wattr_get(w, &attrs, &pair, nullptr);
    }
    short f = 0, b = 0;
    pair_content(pair, &f, &b);
    PushNumber(L, pair);
    PushNumber(L, f < 0 ? -1 : PenToRgb(CursesPenToScript(f)));
    PushNumber(L, b < 0 ? -1 : PenToRgb(CursesPenToScript(b)));
    return 3;
}

static int CmdStartConsoleColorMode(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    GetConsoleState()->useDefaultColors = OptIntArg(L, 1, 1) != 0;
    NEED_ADVANCED();
    lvConsoleState *s = GetConsoleState();
    if (!s->colorStarted && !has_colors()) {
        PushNumber(L, 0);
        return 1;
    }
    if (int code = StartConsoleColors()) return code;
    PushNumber(L, 1);
    return 1;
}

static int CmdAllocConsoleColor(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int rgb = static_cast<int>(NumberToInt64(CheckNumberArg(L, 1)) & 0xFFFFFF);
    NEED_ADVANCED();
    if (int code = StartConsoleColors()) return code;
    lvConsoleState *s = GetConsoleState();
    for (int pen = 8; pen < 256 && pen < COLORS; pen++) {
        if (s->pens[pen] != -1) continue;
        SetPenColor(pen, rgb);
        char name[16];
        snprintf(name, sizeof name, "pen%d", pen);
        PushString(L, name);
        return 1;
    }
    return ERR_PENRANGE;
}

// A pen name's number: ERR_WRONGUSAGE without "pen", ERR_PENRANGE out of the range.
static int PenNameArg(lvState *L, int index, int lowest, int *pen)
{
    const char *text = CheckStringArg(L, index, nullptr);
    if (strncmp(text, "pen", 3) != 0) return ERR_WRONGUSAGE;
    char *end = nullptr;
    long n = strtol(text + 3, &end, 10);
    if (end == text + 3 || *end) return ERR_WRONGUSAGE;
    if (n < lowest || n > 255) return ERR_PENRANGE;
    *pen = static_cast<int>(n);
    return 0;
}

static int CmdFreeConsoleColor(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int pen = 0;
    int code = PenNameArg(L, 1, 8, &pen);
    NEED_ADVANCED();
    if (code) return code;
    if (pen >= COLORS) return ERR_PENRANGE;
    GetConsoleState()->pens[pen] = -1;
    return 0;
}

static int CmdSetAllocConsoleColor(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int pen = 0;
    int code = PenNameArg(L, 1, 8, &pen);
    int rgb = static_cast<int>(NumberToInt64(CheckNumberArg(L, 2)) & 0xFFFFFF);
    NEED_ADVANCED();
    if (code) return code;
    if (pen >= COLORS) return ERR_PENRANGE;
    SetPenColor(pen, rgb);
    return 0;
}

static int CmdGetAllocConsoleColor(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int pen = 0;
    int code = PenNameArg(L, 1, 0, &pen);
    NEED_ADVANCED();
    if (code) return code;
    if (pen >= COLORS) return ERR_PENRANGE;
    PushNumber(L, PenToRgb(pen));
    return 1;
}

// ---- Library ---------------------------------------------------------------------------------------------

static const lvConstantEntry kConsoleConstants[] = {
    {"CONSOLEWINDOW", nullptr, 64},
    {"CONSOLEKEY_NONE", nullptr, -1},
    {"CONSOLEKEY_DOWN", nullptr, 258},
    {"CONSOLEKEY_UP", nullptr, 259},
    {"CONSOLEKEY_LEFT", nullptr, 260},
    {"CONSOLEKEY_RIGHT", nullptr, 261},
    {"CONSOLEKEY_HOME", nullptr, 262},
    {"CONSOLEKEY_BACKSPACE", nullptr, 263},
    {"CONSOLEKEY_F1", nullptr, 265},
    {"CONSOLEKEY_F2", nullptr, 266},
    {"CONSOLEKEY_F3", nullptr, 267},
    {"CONSOLEKEY_F4", nullptr, 268},
    {"CONSOLEKEY_F5", nullptr, 269},
    {"CONSOLEKEY_F6", nullptr, 270},
    {"CONSOLEKEY_F7", nullptr, 271},
    {"CONSOLEKEY_F8", nullptr, 272},
    {"CONSOLEKEY_F9", nullptr, 273},
    {"CONSOLEKEY_F10", nullptr, 274},
    {"CONSOLEKEY_F11", nullptr, 275},
    {"CONSOLEKEY_F12", nullptr, 276},
    {"CONSOLEKEY_F13", nullptr, 277},
    {"CONSOLEKEY_F14", nullptr, 278},
    {"CONSOLEKEY_F15", nullptr, 279},
    {"CONSOLEKEY_F16", nullptr, 280},
    {"CONSOLEKEY_DEL", nullptr, 330},
    {"CONSOLEKEY_INSERT", nullptr, 331},
    {"CONSOLEKEY_IC", nullptr, 331},
    {"CONSOLEKEY_EIC", nullptr, 332},
    {"CONSOLEKEY_PAGEDOWN", nullptr, 338},
    {"CONSOLEKEY_PAGEUP", nullptr, 339},
    {"CONSOLEKEY_ENTER", nullptr, 343},
    {"CONSOLEKEY_PRINT", nullptr, 346},
    {"CONSOLEKEY_END", nullptr, 358},
    {"CONSOLESTYLE_NONE", nullptr, 0},
    {"CONSOLESTYLE_NORMAL", nullptr, 1},
    {"CONSOLESTYLE_STANDOUT", nullptr, 2},
    {"CONSOLESTYLE_UNDERLINED", nullptr, 4},
    {"CONSOLESTYLE_ITALIC", nullptr, 8},
    {"CONSOLESTYLE_REVERSE", nullptr, 16},
    {"CONSOLESTYLE_BLINK", nullptr, 32},
    {"CONSOLESTYLE_DIM", nullptr, 64},
    {"CONSOLESTYLE_BOLD", nullptr, 128},
    {"CONSOLESTYLE_PROTECT", nullptr, 256},
    {"CONSOLESTYLE_INVISIBLE", nullptr, 512},
    {"CONSOLESTYLE_ALTCHARSET", nullptr, 1024},
    {"CONSOLECHR_BLOCK", nullptr, 65000},
    {"CONSOLECHR_BOARD", nullptr, 65001},
    {"CONSOLECHR_BTEE", nullptr, 65002},
    {"CONSOLECHR_BULLET", nullptr, 65003},
    {"CONSOLECHR_CKBOARD", nullptr, 65004},
    {"CONSOLECHR_DARROW", nullptr, 65005},
    {"CONSOLECHR_DEGREE", nullptr, 65006},
    {"CONSOLECHR_DIAMOND", nullptr, 65007},
    {"CONSOLECHR_GEQUAL", nullptr, 65008},
    {"CONSOLECHR_HLINE", nullptr, 65009},
    {"CONSOLECHR_LANTERN", nullptr, 65010},
    {"CONSOLECHR_LARROW", nullptr, 65011},
    {"CONSOLECHR_LEQUAL", nullptr, 65012},
    {"CONSOLECHR_LLCORNER", nullptr, 65013},
    {"CONSOLECHR_LRCORNER", nullptr, 65014},
    {"CONSOLECHR_LTEE", nullptr, 65015},
    {"CONSOLECHR_NEQUAL", nullptr, 65016},
    {"CONSOLECHR_PI", nullptr, 65017},
    {"CONSOLECHR_PLMINUS", nullptr, 65018},
    {"CONSOLECHR_PLUS", nullptr, 65019},
    {"CONSOLECHR_RARROW", nullptr, 65020},
    {"CONSOLECHR_RTEE", nullptr, 65021},
    {"CONSOLECHR_S1", nullptr, 65022},
    {"CONSOLECHR_S3", nullptr, 65023},
    {"CONSOLECHR_S7", nullptr, 65024},
    {"CONSOLECHR_S9", nullptr, 65025},
    {"CONSOLECHR_STERLING", nullptr, 65026},
    {"CONSOLECHR_TTEE", nullptr, 65027},
    {"CONSOLECHR_UARROW", nullptr, 65028},
    {"CONSOLECHR_ULCORNER", nullptr, 65029},
    {"CONSOLECHR_URCORNER", nullptr, 65030},
    {"CONSOLECHR_VLINE", nullptr, 65031},
    {"CONSOLECHR_KILL", nullptr, 0},
    {"CONSOLECHR_ERASE", nullptr, 1},
    {"CONSOLECHR_WORD", nullptr, 2},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetConsoleConstants(void) { return kConsoleConstants; }

static const lvCommandEntry kConsoleCommands[] = {
    {"ConsolePrint", CmdConsolePrint},
    {"ConsolePrintNR", CmdConsolePrintNR},
    {"ConsolePrintChr", CmdConsolePrintChr},
    {"ConsolePrompt", CmdConsolePrompt},
    {"ReadConsoleStr", CmdReadConsoleStr},
    {"EnableAdvancedConsole", CmdEnableAdvancedConsole},
    {"DisableAdvancedConsole", CmdDisableAdvancedConsole},
    {"OpenConsole", CmdOpenConsole},
    {"CloseConsole", CmdCloseConsole},
    {"HaveConsole", CmdHaveConsole},
    {"SetConsoleTitle", CmdSetConsoleTitle},
    {"CreateConsoleWindow", CmdCreateConsoleWindow},
    {"FreeConsoleWindow", CmdFreeConsoleWindow},
    {"SelectConsoleWindow", CmdSelectConsoleWindow},
    {"GetConsoleWindow", CmdGetConsoleWindow},
    {"MoveConsoleWindow", CmdMoveConsoleWindow},
    {"TouchConsoleWindow", CmdTouchConsoleWindow},
    {"CopyConsoleWindow", CmdCopyConsoleWindow},
    {"RefreshConsole", CmdRefreshConsole},
    {"ClearConsole", CmdClearConsole},
    {"EraseConsole", CmdEraseConsole},
    {"SetConsoleCursor", CmdSetConsoleCursor},
    {"GetConsoleCursor", CmdGetConsoleCursor},
    {"GetConsoleSize", CmdGetConsoleSize},
    {"GetConsoleOrigin", CmdGetConsoleOrigin},
    {"ShowConsoleCursor", CmdShowConsoleCursor},
    {"HideConsoleCursor", CmdHideConsoleCursor},
    {"ReadConsoleKey", CmdReadConsoleKey},
    {"SetConsoleOptions", CmdSetConsoleOptions},
    {"GetConsoleControlChr", CmdGetConsoleControlChr},
    {"InsertConsoleChr", CmdInsertConsoleChr},
    {"InsertConsoleStr", CmdInsertConsoleStr},
    {"DeleteConsoleChr", CmdDeleteConsoleChr},
    {"InsertConsoleLine", CmdInsertConsoleLine},
    {"DeleteConsoleLine", CmdDeleteConsoleLine},
    {"ScrollConsole", CmdScrollConsole},
    {"GetConsoleChr", CmdGetConsoleChr},
    {"GetConsoleStr", CmdGetConsoleStr},
    {"MakeConsoleChr", CmdMakeConsoleChr},
    {"DecomposeConsoleChr", CmdDecomposeConsoleChr},
    {"SetConsoleBackground", CmdSetConsoleBackground},
    {"GetConsoleBackground", CmdGetConsoleBackground},
    {"BeepConsole", CmdBeepConsole},
    {"FlashConsole", CmdFlashConsole},
    {"DrawConsoleBorder", CmdDrawConsoleBorder},
    {"DrawConsoleBox", CmdDrawConsoleBox},
    {"DrawConsoleHLine", CmdDrawConsoleHLine},
    {"DrawConsoleVLine", CmdDrawConsoleVLine},
    {"SetConsoleStyle", CmdSetConsoleStyle},
    {"ClearConsoleStyle", CmdClearConsoleStyle},
    {"GetConsoleStyle", CmdGetConsoleStyle},
    {"FormatConsoleLine", CmdFormatConsoleLine},
    {"SetConsoleColor", CmdSetConsoleColor},
    {"InitConsoleColor", CmdInitConsoleColor},
    {"GetConsoleColor", CmdGetConsoleColor},
    {"StartConsoleColorMode", CmdStartConsoleColorMode},
    {"AllocConsoleColor", CmdAllocConsoleColor},
    {"FreeConsoleColor", CmdFreeConsoleColor},
    {"SetAllocConsoleColor", CmdSetAllocConsoleColor},
    {"GetAllocConsoleColor", CmdGetAllocConsoleColor},
    {nullptr, nullptr},
};

int OpenConsoleLibrary(lvState *L)
{
    lvConsoleState *s = GetConsoleState();
    for (int &pen : s->pens) pen = -1;
    if (int code = RegisterObjectType(LV_CONSOLEWINDOW_TYPE, "Console windows",
                                      reinterpret_cast<lvObjectHeader **>(&s->windows), nullptr, nullptr, 0))
        return code;
    InstallConsoleInput();
    return RegisterCommandTable(L, kConsoleCommands, "console");
}

void CloseConsoleLibrary(lvState *L, int full)
{
    (void)L;
    (void)full;
    ShutdownConsole();
}
