// console_curses.h - what the console commands use of the curses side of the engine:
// the current window, cells, pens and colour start, window records and terminal modes.
// Only ui/console_curses.cpp and ui/lib_console.cpp include it (it brings in curses.h).
#pragma once
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include "ui/console.h"

#include <ncursesw/curses.h>

// The current window's curses window (the screen when no console window is current).
WINDOW *CurrentConsoleWindow();
// The terminal the screen writes to, -1 in plain mode.
int ConsoleTerminalFd();

// A line-drawing code 65000 .. 65031 as ALTCHARSET | its VT100 letter; others unchanged.
uint32_t LineDrawingCell(uint32_t code);
attr_t CellAttrsToCurses(uint32_t cell);
uint32_t CursesAttrsToCell(attr_t attrs);
cchar_t MakeCursesCell(uint32_t cell);
uint32_t CursesCellToScript(const cchar_t *cell);
short ScriptPenToCurses(int pen);
int CursesPenToScript(int pen);

// Starts colours once: 0 or ERR_COLORTERMINAL.
int StartConsoleColors();
void SetPenColor(int pen, int rgb);
int PenToRgb(int pen);

// Unlinks and frees a window record (the screen becomes current when it was).
void FreeConsoleWindowRecord(lvConsoleWindow *record);
void SetConsoleEcho(int on);
void SetConsoleCbreak(int on);
// The terminal's word-erase character.
int WordEraseChar();
