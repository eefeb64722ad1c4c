// lvplatform_system.h - system services of the platform layer: starting external
// programs, the bodies of the program and directory-monitor worker threads, the
// environment, volumes, special folders and the shell.
// Included by lvplatform.h; not included directly by other subsystems.
//
// The two thread bodies (RunProgramWithPipes, WatchDirectory) run under StartThread
// and hand what they see to callbacks of the caller; they never touch script state.
// Programs are started with posix_spawn: every descriptor the runtime holds is
// close-on-exec, so a child inherits only its three standard streams. Documents,
// folders and verbs go to xdg-open. One lock guards the environment, so a SetEnvVar
// never races the copy of the environment that a spawn hands to the child.
// Linux implementation: platform/linux/process.cpp, dirmonitor.cpp, sysservices.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

struct lvThread;
struct lvSystemEvent;

// ---- Programs ----------------------------------------------------------------------

// Run flags (the bits of a program job).
enum {
    LV_RUN_NOWAIT = 0x1,          // return at once (Run, and Execute with capture)
    LV_RUN_FORCEEXE = 0x2,        // accepted; nothing on this platform reads it
    LV_RUN_RETURNCODE = 0x4,      // the finished report carries the exit code
    LV_RUN_RAWMODE = 0x8,         // output is handed over without UTF-8 repair
    LV_RUN_HIDE = 0x40,           // no window (nothing to hide on this platform)
    LV_RUN_CONSOLEMODE = 0x80,    // the program shares the runtime's standard streams
    LV_RUN_CAPTUREOUTPUT = 0x100, // Execute collects the output and the exit code
};

// The exit code of a program that could not be started (the shell's convention).
#define LV_EXIT_NOT_STARTED 127

// Splits an argument text into words: blanks separate words; double quotes group blanks
// into a word; single quotes do too and keep everything inside as it stands; backslashes
// are plain characters except before a quote, where each pair gives one backslash and
// an odd one makes the quote a plain character. Returns the word count, or -1 when a
// quote is not closed.
// The words are stored one after another, each with its terminator, in *words (a new
// block from AllocMemory, nullptr when there are none); -2 when memory ran out.
int SplitArgumentText(const char *text, char **words);

// Starts a program and waits for it unless LV_RUN_NOWAIT is set. With
// LV_RUN_CONSOLEMODE it is spawned with the runtime's standard streams; otherwise an
// executable file without a verb is spawned directly and anything else (a document, a
// folder, a verb) is handed to xdg-open. A program that cannot be started is not an
// error here (0), as the shell would only have shown its own message.
// 0, ERR_TEXTCONVERT, ERR_MEM or ERR_LOCK2 (a working directory that is not there).
int RunProgram(const char *program, const char *arguments, const char *directory, const char *verb,
               int flags);

// What the program thread body reports to its owner. Both run on the job's thread.
struct lvProgramHandlers {
    void *context;                                                   // passed back
    void (*Output)(void *context, const uint8_t *bytes, size_t count);  // a chunk read
    void (*Ended)(void *context, int exitCode);                        // once, at the end
};

// What the program thread body starts.
struct lvProgramStart {
    const char *program;    // path or name (searched on PATH when it has no '/')
    const char *arguments;  // argument text (SplitArgumentText), or nullptr
    const char *directory;  // working directory, or nullptr / "" for the current one
    const char *verb;       // shell verb, or nullptr / ""
    int flags;              // LV_RUN_ bits
    int pipes;              // standard output and error go into one pipe that is read
};

// The body of a program job thread (call it from an lvThreadBody). With pipes the
// program runs with its output and error output in one pipe and an empty standard
// input; without, it is started as RunProgram would (xdg-open for documents). Reports
// start-up to StartThread: failure (ERR_MEM, ERR_TEXTCONVERT, ERR_THREAD) when the
// pipes cannot be made, success otherwise; a program that cannot be executed ends at
// once with LV_EXIT_NOT_STARTED. Then every chunk of output goes to Output and the end
// to Ended (exit code, or 128 + the signal that ended it). After that it waits only for
// the stop request. Stopping does not end the program. Returns 1 on a normal end,
// 0 when start-up failed.
int RunProgramWithPipes(const lvProgramStart *start, const lvProgramHandlers *handlers, lvThread *thread);

// ---- Directory monitor ----------------------------------------------------------------

// Change kinds of a detailed report.
enum {
    LV_DIRCHANGE_ADD = 0,     // created, or renamed to
    LV_DIRCHANGE_REMOVE = 1,  // deleted, or renamed from
    LV_DIRCHANGE_CHANGE = 2,  // written or attributes changed
};

// What the monitor thread body reports. Both run on the monitor's thread.
struct lvDirWatchHandlers {
    void *context;                                                  // passed back
    void (*Changed)(void *context);                                 // simple mode: a change notice
    void (*EntryChanged)(void *context, int kind, const char *name);  // detailed mode; name in script text
};

// The body of a directory monitor thread. systemPath is the directory in system form.
// Detailed mode reports every change of an entry of the directory itself (not of its
// sub-directories). Simple mode reports the first notice and afterwards only notices
// that come 100 ms or more after the previous notice (reported or not), unless
// everyChange is set. Returns 0 (start-up reported as failed with ERR_MONITORDIR) when
// the directory cannot be watched, else 1 after the stop request.
int WatchDirectory(const char *systemPath, int detailed, int everyChange, const lvDirWatchHandlers *handlers,
                   lvThread *thread);

// ---- Environment ------------------------------------------------------------------------

// A new copy of the variable's value in script text (FreeMemory it); nullptr when the
// variable is not set, the name cannot be converted or memory ran out.
char *GetEnvVar(const char *name);
// 0, ERR_TEXTCONVERT, or ERR_SETENV (empty name, a name with '=', the system refused).
int SetEnvVar(const char *name, const char *value);
// 0, ERR_TEXTCONVERT, or ERR_UNSETENV (empty name, a name with '=').
int UnsetEnvVar(const char *name);
// Takes and releases the environment lock (spawns hold it while the child copies it).
void LockEnvironment(void);
void UnlockEnvironment(void);

// ---- Volumes, special folders, the shell ----------------------------------------------------

// Available physical memory in bytes.
uint64_t GetFreeMemory(void);

// ---- The desktop's bell and notifications -----------------------------------------------------

// Plays the sound theme's sound of a beep type (1 error, 2 warning, 3 question,
// 4 information, others the bell) through libcanberra; the terminal bell when no sound
// can be played. Does not wait for the sound.
void PlaySystemBeep(int type);
// Shows a notification of the desktop's notification service (libnotify over the
// session bus): title (at most 63 characters) and text (at most 255) in UTF-8, icon
// 1 information, 2 error, 3 warning, others none; timeout in ms (0: the service's
// default). 0, or ERR_TRAYICON when no service took it (no library, no session bus).
int ShowDesktopNotification(const char *title, const char *text, int icon, int timeout);
// Free bytes and used bytes (total - free) of the volume of path. 0 or ERR_LOCK.
int GetVolumeSpace(const char *path, double *freeBytes, double *usedBytes);
// The label of the file system that holds path (the empty string when it has none).
// 0, or ERR_LOCK when the path cannot be examined.
int GetOsVolumeName(const char *path, char *buffer, size_t size);
// Moves an object when both paths lie on one file system: 0, ERR_WRONGUSAGE when they
// do not (the caller copies instead), or ERR_MOVEFILE.
int MoveOnSameVolume(const char *oldPath, const char *newPath);
// 1 when the path is the root of its file system (a mount point), else 0.
int IsVolumeRoot(const char *path);
// CreateTempFileName (a new empty temporary file) is part of platform start-up's services.
// Opens a document, URL or folder with the desktop's program (xdg-open), not waiting.
// 0, ERR_TEXTCONVERT or ERR_EXECUTE.
int OpenWithShell(const char *target);
// The path of a special folder by the raw folder number applets were written with
// (0 desktop, 5 documents, 0x0D music, 0x0E videos, 0x14 fonts, 0x15 templates, 0x1A
// application data, 0x1C local application data, 0x23 common application data, 0x24
// system, 0x26 programs, 0x27 pictures, 0x28 profile, 0x2E shared documents), mapped to
// the XDG user folders; the empty string for a number it does not know, or when the path
// does not fit. Returns 0.
int GetSpecialFolderById(int id, char *buffer, size_t size);
// Fills a buffer with random bytes from the kernel; 1, or 0 on failure.
int GetRandomBytes(void *buffer, size_t length);

// ---- The system event queue: withdrawing events ---------------------------------------------

// Removes every queued event for which match answers non-zero (their owned blocks are
// freed) and keeps the rest in order. Used when a record that events point at is freed
// before the events were taken. Returns the number removed.
int DropSystemEvents(int (*match)(const lvSystemEvent *event, void *context), void *context);
