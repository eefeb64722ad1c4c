// lvplatform.h - the platform layer as every other subsystem sees it.
//
// Linux implementation in platform/linux/, one source file per service:
//   memory.cpp   the allocator
//   clock.cpp    time values, the clock and sleeping
//   text.cpp     script text <-> UTF-16 / system text, bounded formatting
//   threads.cpp  mutexes, signals, worker threads
//   events.cpp   the system event queue and the main-loop wake
//   startup.cpp  platform start-up and shut-down
//
// Nothing here calls into the runtime. Where the platform must reach a higher
// layer (waking a display adapter's loop) it calls a hook that the higher layer
// registered at start-up.
//
// Process-wide rules kept by this layer: every descriptor it opens is
// close-on-exec, SIGPIPE is ignored (set by InitPlatform), the process locale is
// never changed, and numbers are formatted in the C locale whatever the
// process locale is.
#pragma once
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <pthread.h>

// ---- Memory -----------------------------------------------------------------
// One allocator for the whole system: any subsystem may free what another allocated.
// A size of 0 returns nullptr. With clear != 0 the block is zero-filled.
void *AllocMemory(size_t size, int clear);
// Releases a block from AllocMemory; nullptr is ignored.
void FreeMemory(void *block);
// Test seam: on the calling thread only, the next `count` calls of AllocMemory
// succeed and every later one returns nullptr; a negative count switches it off.
void FailAllocMemoryAfter(int64_t count);

// ---- Clock and sleep ----------------------------------------------------------
// A time value. Normalised values have microseconds in 0..999999; values are
// compared as unsigned numbers.
struct lvTimeVal {
    uint32_t seconds;       // whole seconds (since 1970; since system start with the soft timer)
    uint32_t microseconds;  // the fraction, 0..999999 when normalised
};

// Option flag bit that selects the soft timer (the SOFTTIMER start-up option).
#define LV_OPTION_SOFTTIMER 0x1u

// The sources the clock reads. Tests replace them to fake a wall-clock step.
struct lvClockSources {
    int64_t (*ReadWallMicros)(void);      // wall clock: microseconds since 1970-01-01 UTC
    int64_t (*ReadMonotonicNanos)(void);  // steady clock: nanoseconds from any fixed origin
    int64_t (*ReadUptimeMillis)(void);    // milliseconds since system start (soft timer)
};

// The current time: the steady clock anchored to the wall time read at start-up,
// so it reads as seconds since 1970 and a wall-clock step never moves it. With the
// soft-timer flag: milliseconds since system start. Before InitClockBase: the wall clock.
// Lock-free and allocation-free.
void GetTimeVal(lvTimeVal *tv);
// a := a - b in place, borrowing one second when a's microseconds are smaller.
void SubTimeVal(lvTimeVal *a, const lvTimeVal *b);
// a := a + b in place, carrying into seconds above 999999 microseconds; returns a.
lvTimeVal *AddTimeVal(lvTimeVal *a, const lvTimeVal *b);
// -1, 0 or 1: seconds first, microseconds when the seconds are equal (both unsigned).
int CmpTimeVal(const lvTimeVal *a, const lvTimeVal *b);
// Seconds since 1970 with a fraction: from the wall clock when useSystemClock != 0,
// else from GetTimeVal (so it follows the soft-timer choice).
double GetEpochSeconds(int useSystemClock);
// Blocks the calling thread for that many milliseconds (0: yields); serves no events.
void SleepMilliseconds(uint32_t milliseconds);
// The runtime hands down its option flags word (LV_OPTION_SOFTTIMER is read here).
void SetPlatformOptionFlags(uint32_t flags);
// The option flags word last set (0 before the runtime sets it).
uint32_t GetPlatformOptionFlags(void);
// Anchors the clock: reads the wall clock and the steady clock once. Called by
// InitPlatform on the main thread before other threads exist.
void InitClockBase(void);
// Replaces the clock's sources (nullptr: the system's) and clears the anchor, so
// GetTimeVal reads the wall clock until the next InitClockBase. Tests only.
void SetClockSources(const lvClockSources *sources);

// ---- Text conversions and bounded formatting --------------------------------
// Script text is UTF-8 or ISO 8859-1 by one global encoding flag; UTF-16 (char16_t)
// is still needed by file formats; the system's own text on Linux is UTF-8.
// Every result is terminated when the target has room for at least the terminator.
// Buffer capacities count target units including the terminator.

// Sets the encoding flag: non-zero means script text is UTF-8 (the default),
// zero means ISO 8859-1.
void SetScriptEncoding(int utf8);
// The encoding flag: 1 for UTF-8, 0 for ISO 8859-1.
int GetScriptEncoding(void);

// ISO 8859-1 -> UTF-16: length -1 means up to the terminator; at most capacity - 1
// characters; returns the characters written without the terminator.
int LatinToWide(const char *text, char16_t *target, int length, int capacity);
// UTF-16 -> ISO 8859-1 with the same bounds; a character above 255 (a surrogate
// pair counts as one) becomes '?'. Returns the bytes written without the terminator.
int WideToLatin(const char16_t *wide, char *target, int length, int capacity);
// Script text -> UTF-16 by the encoding flag. UTF-8: 1, or 0 when the text is not
// valid UTF-8 (target empty) or does not fit (target holds the whole characters that
// fit); count gets the units written with the terminator (0 on failure).
// ISO 8859-1: always 1, cut to fit; count gets the text's length + 1. count may be nullptr.
int TextToWide(const char *text, char16_t *target, int capacity, int *count);
// TextToWide, taking the text as UTF-8 when forceUtf8 is set whatever the flag.
int TextToWideAs(const char *text, char16_t *target, int capacity, int *count, int forceUtf8);
// UTF-16 -> script text by the encoding flag (lone surrogates become U+FFFD in
// UTF-8, '?' in ISO 8859-1). Returns 1 when all fitted, 0 when cut at a whole character.
int WideToText(const char16_t *wide, char *target, int size);
// WideToText, writing UTF-8 when forceUtf8 is set whatever the flag.
int WideToTextAs(const char16_t *wide, char *target, int size, int forceUtf8);
// A new UTF-16 copy (FreeMemory it); nullptr when invalid UTF-8 or out of memory.
char16_t *DupTextToWide(const char *text);
// DupTextToWide, taking the text as UTF-8 when forceUtf8 is set.
char16_t *DupTextToWideAs(const char *text, int forceUtf8);
// A new script-text copy of UTF-16 text (FreeMemory it); nullptr when out of memory.
char *DupWideToText(const char16_t *wide);
// Script text -> system text (UTF-8); forceUtf8 takes the text as UTF-8 already.
// Returns 1 when all fitted, 0 when cut at a whole character.
int TextToSystem(const char *text, char *target, int size, int forceUtf8);
// System text -> script text. UTF-8 passes as it stands (a file name that is not
// valid UTF-8 still names its file); in ISO 8859-1 characters above 255 become '?'
// and a byte that is not part of valid UTF-8 is taken as it stands. 1 fitted, 0 cut.
int SystemToText(const char *system, char *target, int size, int forceUtf8);
// A new system-text copy of script text (FreeMemory it); nullptr when out of memory.
char *DupTextToSystem(const char *text, int forceUtf8);
// A new script-text copy of system text (FreeMemory it); nullptr when out of memory.
char *DupSystemToText(const char *system, int forceUtf8);

// printf-style formatting bounded to size bytes, always terminated when size > 0,
// numbers in the C locale whatever the process locale. Accepts the size prefixes
// "I64" (64-bit), "I32" (32-bit) and "I" (size_t) before d, i, u, o, x, X.
// Returns the length the whole text needs without the terminator (so a result of
// size or more means the text was cut); with size 0 nothing is written; -1 on an
// invalid format.
int FormatString(char *buffer, size_t size, const char *format, ...);
// FormatString with a va_list.
int VFormatString(char *buffer, size_t size, const char *format, va_list args);

// ---- Mutexes ----------------------------------------------------------------
// A recursive lock: the owning thread may lock it again and must unlock it as often.
struct lvMutex;
// A new mutex, or nullptr (callers report ERR_SEMAPHORE).
lvMutex *NewMutex(void);
// Destroys an unlocked mutex; nullptr is ignored.
void FreeMutex(lvMutex *mutex);
// Takes the mutex, waiting while another thread holds it.
void LockMutex(lvMutex *mutex);
// Takes the mutex when it is free (or already the caller's); 1 taken, 0 busy.
int TryLockMutex(lvMutex *mutex);
// Releases one lock of the owning thread.
void UnlockMutex(lvMutex *mutex);

// ---- Signals ------------------------------------------------------------------
// An auto-reset signal over an eventfd: created clear; a raise sets it, a wait that
// it releases clears it, so one raise (or several before a wait) releases one wait.
struct lvSignal;
// A new clear signal, or nullptr (callers report ERR_CREATEEVENT).
lvSignal *NewSignal(void);
// Closes a signal; nullptr is ignored.
void CloseSignal(lvSignal *signal);
// Raises the signal; callable from any thread.
void RaiseSignal(lvSignal *signal);
// Waits without limit until the signal is raised, and clears it.
void WaitSignal(lvSignal *signal);
// Waits at most that many milliseconds (0: just test); 1 when the signal was raised
// (and is now cleared), 0 on time-out.
int WaitSignalTimeout(lvSignal *signal, int milliseconds);
// The descriptor a poll()-based loop waits on (readable while raised). Clear the
// signal after poll with WaitSignalTimeout(signal, 0).
int GetSignalDescriptor(const lvSignal *signal);

// ---- Worker threads -------------------------------------------------------------
struct lvThread;
// The body of a worker thread, given its own record (user data in thread->userData).
typedef void (*lvThreadBody)(lvThread *thread);

// One worker thread, allocated by StartThread and freed by StopThread.
struct lvThread {
    void *userData;                  // the caller's argument, read by the body
    lvThreadBody body;               // the function the thread runs
    lvSignal *startSignal;           // raised once when start-up succeeded or failed
    lvSignal *stopSignal;            // raised by StopThread and never cleared, so a body can
                                     // poll its descriptor beside its own; freed with the record
    pthread_t handle;                // the thread, joined by StopThread
    std::atomic<uint32_t> threadId;  // the kernel's id of the thread
    std::atomic<int> reported;       // 1 once start-up success or failure was reported
    std::atomic<int> failed;         // set by EndThread
    std::atomic<int> errorCode;      // ERR_THREAD until the thread reports another
    std::atomic<int> stopRequested;  // 1 once StopThread asked the thread to end
    char name[16];                   // the thread's name as the system shows it
};

// Starts `body` on a new thread and waits until it reports start-up success
// (SignalThreadStarted) or failure (EndThread with failed set). Returns the record,
// or nullptr with the error in *error (ERR_THREAD when the thread could not be made
// or its body returned without reporting, else the code the thread reported) after
// the thread has ended. reserved, hint1, hint2 and flag are accepted and unused;
// name (cut to 15 bytes) names the thread. error may be nullptr.
lvThread *StartThread(const char *name, lvThreadBody body, void *userData, void *reserved,
                      int hint1, int hint2, int flag, int *error);
// Asks the thread to stop (the stop signal stays raised), waits for it to end and
// frees the record. Safe on a thread that has already ended; nullptr is ignored.
// Never called by the thread itself.
void StopThread(lvThread *thread);
// First call of a body; returns the record (its stop signal already exists).
lvThread *EnterThread(lvThread *thread);
// Body: start-up succeeded; StartThread returns the record. Only the first report counts.
void SignalThreadStarted(lvThread *thread);
// Body: with failed != 0 reports start-up failure with the code (StartThread returns
// nullptr with it); with failed 0 marks the body's end.
void EndThread(lvThread *thread, int failed, int errorCode);
// Body: non-zero once StopThread asked to stop. Checking does not consume the
// request: later checks and waits see it too.
int CheckThreadStop(lvThread *thread);
// The caller holds mutex (locked once). Releases it, waits for the signal or, with a
// thread, for that thread's stop request, then locks the mutex again. 0 when the
// signal ended the wait (and is cleared), -1 when the stop request did.
int WaitSignalUnlocked(lvSignal *signal, lvMutex *mutex, lvThread *thread);
// Raises the calling thread's scheduling priority as far as the system allows;
// 1 when it was raised, 0 when the system refused.
int RaiseThreadPriority(void);

// ---- System event queue and the main-loop wake --------------------------------
// Event types of the system event queue; types 12 to 15 carry in data2 a block
// from AllocMemory that the queue owns until GetSystemEvent hands it over.
enum lvSystemEventType {
    SYSEVENT_SAMPLEEND = 5,        // a sample ended: data1 the sample's key
    SYSEVENT_SAMPLELOOP = 6,       // a sample looped: data1 the sample's key
    SYSEVENT_MUSICEND = 7,         // a music ended: data1 the music's key
    SYSEVENT_VIDEOEND = 8,         // a video ended: data1 the video's key
    SYSEVENT_RUNEXIT = 10,         // an external program finished: data1 the job
    SYSEVENT_DIRCHANGED = 11,      // a watched directory changed: data1 the monitor
    SYSEVENT_RUNOUTPUT = 12,       // external program output: data1 job, data2 owned chunk
    SYSEVENT_CALLBACK = 13,        // a deferred script callback: data2 owned record
    SYSEVENT_USERMESSAGE = 14,     // a user or port message: data2 owned record
    SYSEVENT_DIRCHANGEDETAIL = 15  // a directory change with details: data1 monitor, data2 owned record
};

// A node of the system event queue.
struct lvSystemEvent {
    lvSystemEvent *next;  // the next node, nullptr at the tail
    int32_t type;         // an lvSystemEventType
    uintptr_t data1;      // first data word
    uintptr_t data2;      // second data word; an owned block for types 12 to 15
    int64_t total;        // unit * (count - 1), plus offset for SYSEVENT_SAMPLEEND
    int32_t count;        // the poster's count
};

// Opens the queue (0); the code ERR_SEMAPHORE is kept for callers but cannot occur.
int InitSystemEvents(void);
// Appends an event from any thread under the queue's lock, then wakes the main loop
// when wake != 0. 0, or ERR_MEM when the event was dropped (also when the queue is not
// open); a dropped event's owned data2 is freed.
int PostSystemEvent(int type, uintptr_t data1, uintptr_t data2, int32_t unit, int32_t count,
                    int32_t offset, int wake);
// Takes the oldest event into *event (next cleared) and returns 1, ownership of an
// owned data2 passing to the caller; 0 when the queue is empty (*event untouched).
int GetSystemEvent(lvSystemEvent *event);
// Closes the queue, freeing every queued event and its owned data2.
void FreeSystemEvents(void);
// Wakes the main loop: calls the registered wake hook (a display adapter's loop)
// when there is one, else raises the main wake signal. Callable from any thread.
void WakeMainLoop(void);
// Registers the wake hook (nullptr removes it). Set at start-up, before threads run.
void SetWakeMainLoopHook(void (*hook)(void));
// The main wake signal (made by InitPlatform; nullptr before): the main loop polls
// its descriptor.
lvSignal *GetMainWakeSignal(void);

// ---- Platform start-up and shut-down ------------------------------------------------
// Main thread, before any other thread: ignores SIGPIPE, anchors the clock, makes
// the main wake signal. 0, or ERR_CREATEEVENT.
int InitPlatform(void);
// Last step of shut-down: closes the main wake signal.
void ExitPlatform(void);

// ---- Paths, files and directories -------------------------------------------
#include "platform/lvplatform_files.h"
#include "platform/lvplatform_events.h"
#include "platform/lvplatform_datetime.h"  // date, time and locale

// ---- Serial ports -------------------------------------------------------------------
#include "platform/lvplatform_serial.h"

// ---- Sockets -------------------------------------------------------------------------
#include "platform/lvplatform_sockets.h"
#include "platform/lvplatform_system.h"
#include "platform/lvplatform_startup.h"
#include "platform/lvplatform_registry.h"  // registry keys and shell links
