// console.h - the console engine: the library's state, plain-mode printing and reading
// over the debug channel and standard input, the reads that DebugPrompt, WaitKey and
// GetKey share, and advanced mode (a curses screen with windows, styles and colours).
//
// Depends on: platform/lvplatform_console.h, runtime/cmdsupport.h, ncursesw (advanced).
// Limits: script thread only; curses lives on the thread that enabled it.
#pragma once
#include "runtime/objects.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Object type of console windows.
enum { LV_CONSOLEWINDOW_TYPE = 64 };

// One window the script made in advanced mode.
struct lvConsoleWindow {
    lvObjectHeader header;  // type 64
    void *window;           // the curses WINDOW
    void *parent;           // the parent's curses WINDOW, or null
};

// Cell layout the script sees: bits 0-15 the character, 16-23 attributes, 24-31 the pair.
enum : uint32_t {
    LV_CELL_ALTCHARSET = 0x00010000u,
    LV_CELL_ITALIC = 0x00080000u,
    LV_CELL_UNDERLINE = 0x00100000u,
    LV_CELL_REVERSE = 0x00200000u,
    LV_CELL_BLINK = 0x00400000u,
    LV_CELL_BOLD = 0x00800000u,
    LV_CELL_STANDOUT = LV_CELL_REVERSE | LV_CELL_BOLD,
    LV_CELL_CHAR = 0x0000FFFFu,
    LV_CELL_ATTRS = 0x00FF0000u,
};

// Style bits of the library.
enum {
    LV_STYLE_NORMAL = 1,
    LV_STYLE_STANDOUT = 2,
    LV_STYLE_UNDERLINED = 4,
    LV_STYLE_ITALIC = 8,
    LV_STYLE_REVERSE = 16,
    LV_STYLE_BLINK = 32,
    LV_STYLE_DIM = 64,
    LV_STYLE_BOLD = 128,
    LV_STYLE_PROTECT = 256,
    LV_STYLE_INVISIBLE = 512,
    LV_STYLE_ALTCHARSET = 1024,
};

// The first line-drawing code and their number.
enum { LV_CONSOLECHR_FIRST = 65000, LV_CONSOLECHR_COUNT = 32 };

struct lvConsoleState {
    int advanced;               // advanced mode is on
    int colorStarted;           // colours were started (kept across modes)
    int useDefaultColors;       // use the terminal's default colours when starting
    int pens[256];              // RGB of allocated pens, -1 free
    lvConsoleWindow *windows;   // the script's windows, new ones at the tail
    lvConsoleWindow *current;   // the current window, null for the screen
    lvConsoleWindow *listHead;  // list head registered for type 64 (same as windows)
};

lvConsoleState *GetConsoleState();

// Non-zero when the script is to stop.
int ConsoleStopRequested();

// ---- Both modes --------------------------------------------------------------------------

// Writes text: plain mode to the debug channel as it stands, advanced mode added to the
// current window. 0 or an error code.
int WriteConsoleText(const char *text, size_t length);
// Prints one character (a code point): plain mode in the script's encoding ("?" for a
// code above 255 in ISO-8859-1), advanced mode as one cell (code with style and pair).
int PrintConsoleChr(double value);
// Reads a line after showing prompt (may be empty): plain mode from standard input (at
// most 2048 characters), advanced mode through the window's line editor (255). The line
// comes in the script's encoding. 0, ERR_USERABORT when stopped, or another error.
int PromptConsoleLine(const char *prompt, std::string *line);

// Installs the console reads as the runtime's console input (DebugPrompt, WaitKey,
// GetKey), and the library's close step work.
void InstallConsoleInput();
// Leaves advanced mode, restores the terminal and clears the console flag (shut-down).
void ShutdownConsole();

// ---- Advanced mode (console_curses.cpp) -----------------------------------------------------

// Starts curses on the terminal of standard input/output or /dev/tty: 0 or ERR_CONSOLE.
int EnterAdvancedConsole();
// Frees the windows from the last, ends curses; nothing in plain mode.
void LeaveAdvancedConsole();
int AddConsoleText(const char *utf8, size_t length);
int AddConsoleCell(uint32_t cell);
// Reads a line with the window's echo, erase, kill and word-erase (at most 255
// characters); UTF-8 result. 0, ERR_USERABORT.
int ReadAdvancedConsoleLine(std::string *utf8Line);
// Reads one key: a character code or a key code (KEY_END as 358). ERR_USERABORT on stop.
int ReadAdvancedConsoleKey(int *key);
// A waiting key of the current window without blocking, -1 when none.
int PollAdvancedConsoleKey();

// Cells and styles, usable in both modes.
uint32_t StyleToCellAttrs(int style);
int CellAttrsToStyle(uint32_t cell);
