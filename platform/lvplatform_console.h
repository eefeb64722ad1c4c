// lvplatform_console.h - the console's standard streams: lines and keys read from standard
// input, the terminal mode of key reads, the console-opened flag and the terminal title.
//
// Input is read through one buffer of our own (never stdio), so that line reads and key
// reads share what the other left behind. Every blocking read polls in steps of at most
// 100 ms and asks the caller's stop query between steps. Script thread only.
#ifndef LVPLATFORM_CONSOLE_H
#define LVPLATFORM_CONSOLE_H

#include <cstddef>
#include <cstdint>

// Non-zero when the running script is to stop.
typedef int (*lvConsoleStopQuery)(void);

// Results of the console reads.
enum {
    LV_CONSOLE_READ_OK = 1,        // a line or a key was read
    LV_CONSOLE_READ_END = 0,       // end of input, nothing read
    LV_CONSOLE_READ_STOPPED = -1,  // the stop query answered non-zero
};

// The most characters one line read takes; the rest of a longer line is left for the
// next read.
#define LV_CONSOLE_LINE_CHARS 2048

// Reads one line of standard input (UTF-8 as the terminal sends it) into buffer: at most
// LV_CONSOLE_LINE_CHARS characters (an invalid byte counts as one), without the trailing
// carriage returns and line feeds, NUL-terminated; NUL bytes of the input are dropped.
// size must hold 4 bytes per character plus one. A last line without a line end is a
// line; LV_CONSOLE_READ_END only when nothing was left.
int ReadConsoleInputLine(char *buffer, size_t size, lvConsoleStopQuery stop);

// Waits for one key: a whole character (UTF-8 decoded; an invalid byte is its own value).
// On a terminal the read runs non-canonical and without echo, and the terminal's mode is
// restored before it returns.
int WaitConsoleInputKey(uint32_t *key, lvConsoleStopQuery stop);

// A key that is waiting, without blocking: LV_CONSOLE_READ_OK with *key, or
// LV_CONSOLE_READ_END when none is there.
int PollConsoleInputKey(uint32_t *key);

// Restores a terminal mode that a key read changed (at the end of the run, and from the
// exit handler the first change installs). Safe to call at any time.
void RestoreConsoleTerminal(void);

// The console-opened flag: opening succeeds when standard input or standard output is
// open (no terminal emulator is started); 1 or 0.
int OpenConsoleStreams(void);
void CloseConsoleStreams(void);
int HaveConsoleStreams(void);

// Sets the title of the terminal behind fd (OSC 0) when fd is a terminal; 1 when sent.
int SetTerminalTitle(int fd, const char *utf8Title);

// Forgets buffered input (tests).
void ResetConsoleInput(void);

#endif
