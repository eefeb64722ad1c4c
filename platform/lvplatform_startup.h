// lvplatform_startup.h - process entry, the process's own place on the machine, the
// temporary directory, the debug channel and the script thread.
// Included by lvplatform.h; not included directly by other subsystems.
//
// Linux implementation:
//   linux/process_entry.cpp        arguments, program path, temporary names
//   linux/process_entry_debug.cpp  the debug channel ("::file" devices, else stdout)
//   linux/scriptthread.cpp         the thread that runs the applet's main chunk
#pragma once
#include <cstddef>

// ---- Process entry -------------------------------------------------------------------

// The runtime's main function, called by PlatformMain with UTF-8 arguments.
typedef int (*lvRuntimeMainFunction)(int argc, char **argv);

// Copies the process arguments into strings from AllocMemory (the system's text on Linux
// is UTF-8 already; bytes that are not valid UTF-8 pass as they stand, so a file name
// still names its file). An element is nullptr when its copy could not be allocated; the
// result is nullptr when the array itself could not be. Free it with FreeArgvCopy.
char **ArgvToUtf8(int argc, char *const *argv);
// Frees a copy made by ArgvToUtf8 (nullptr elements are skipped).
void FreeArgvCopy(char **argv, int argc);
// The process entry: keeps the raw command line, converts the arguments and calls
// runtimeMain with them (count 0 and nullptr when the array could not be made); frees
// them afterwards and returns runtimeMain's result.
int PlatformMain(int argc, char **argv, lvRuntimeMainFunction runtimeMain);
// The command line as the process received it without the program name, the words
// joined by blanks, in the script encoding. 1, or 0 when it does not fit (cut).
int GetCommandLineText(char *buffer, size_t size);

// ---- The process's place -----------------------------------------------------------------

// Full path of the executable (/proc/self/exe) in the script encoding, or UTF-8 when
// forceUtf8 is set. 1, or 0 when it cannot be read or does not fit (buffer "").
int GetProgramPath(char *buffer, size_t size, int forceUtf8);
// The same path cut at its last '/' (no trailing separator; "/" for the root).
int GetProgramDir(char *buffer, size_t size, int forceUtf8);

// ---- Screen DPI ----------------------------------------------------------------------------

// The screen's DPI (default 96 by 96) and the horizontal scale factor (DPI / 96, default
// 1.0). Any thread may read them.
void GetScreenDpi(int *x, int *y);
double GetDpiScale(void);
// The applet asked to be DPI aware: from now on the DPI the window system reports counts.
// Processes here need no declaration for it; the values stay as the window system set them.
void InitDpiAwareness(void);
// The window system reports the screen's DPI (taken only once InitDpiAwareness ran).
void SetScreenDpi(int x, int y);

// ---- Temporary directory and names --------------------------------------------------------

// The temporary directory: $TMPDIR when set and absolute, else "/tmp" (the TEMPDIR
// option may replace it). The text stays valid until the next SetTempDirectory.
const char *GetTempDirectory(void);
// Replaces the temporary directory (the TEMPDIR option); 1, or 0 when it does not fit.
int SetTempDirectory(const char *path);
// Creates a new empty file with a unique name ("lumivarra" and six characters) in the
// temporary directory and returns its path. 1, or 0 when no file could be created.
int CreateTempFileName(char *buffer, size_t size);
// Creates a new empty directory with a unique name in the temporary directory (mode 0700).
// 1, or 0 when none could be created.
int CreateTempDirectory(char *buffer, size_t size);
// Deletes a directory with everything in it (symbolic links are removed, not followed).
// 1 when the directory is gone afterwards.
int DeleteDirectoryTree(const char *path);

// ---- Debug channel ------------------------------------------------------------------------

// Chooses the channel by the DEBUGDEVICE text: "::file" followed by a path writes to that
// file (created or truncated); every other text, and no device, writes to standard output.
// 1 when the device was taken, 0 when the file could not be opened (standard output stays).
int OpenDebugChannel(const char *device);
// Writes text to the channel and flushes a file channel.
void WriteDebugText(const char *text);
// printf-style output to the channel (numbers in the C locale).
void WriteDebugOutput(const char *format, ...);
// Closes a file channel; later output goes to standard output.
void CloseDebugChannel(void);
// Texts are ISO-8859-1 (on) or UTF-8: standard output gets ISO-8859-1 texts as UTF-8, a
// file channel the bytes as they are.
void SetDebugTextLatin1(int on);

// ---- Script thread ---------------------------------------------------------------------------

// The native stack of the thread that runs the applet: deep script recursion and nested
// commands need far more than a default thread stack.
#define LV_SCRIPT_STACK_SIZE ((size_t)16 << 20)

// The body the script thread runs; its result is the thread's.
typedef int (*lvScriptThreadBody)(void *state);
// Runs body(state) on a new thread with a native stack of stackSize bytes (at least
// LV_SCRIPT_STACK_SIZE when 0 or less is asked) while the calling thread waits for it,
// serving nothing else. Returns body's result, or ERR_THREAD when the thread could not be
// started. No exception leaves the thread: one that reaches its entry gives ERR_INTERNAL.
int RunScriptThread(lvScriptThreadBody body, void *state, size_t stackSize);
