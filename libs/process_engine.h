// process_engine.h - the engine behind the dos library's Execute and Run: program jobs
// with their worker threads, captured output, copies of programs linked into the applet.
//
// A job thread starts the program (platform RunProgramWithPipes), reads its output and
// waits for its end. It reports to the script side only through the system event queue
// (SYSEVENT_RUNOUTPUT with an lvOutputChunk, SYSEVENT_RUNEXIT with the job) or, for
// Execute (which always waits through a job, capturing or not), by filling the job's
// buffer when it captures, setting the finished flag and waking the main loop. The job list and the program copies belong to the script
// thread; a job's output buffer is written only by its thread until the finished flag
// is set.
//
// Depends on: platform/lvplatform.h (threads, events, programs), runtime/vfile.h (linked
// programs), runtime/objects.h (lvRefOps), runtime/errors.h (message arguments).
// No script-machine types: the command layer reads arguments and handler states and
// hands them over in an lvRunRequest.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/lvplatform.h"
#include "runtime/objects.h"

// ---- Records --------------------------------------------------------------------------

// One started program that has a job thread.
struct lvRunJob {
    lvRunJob *next;               // the job list, in start order
    lvThread *thread;             // the job thread
    lvSignal *endSignal;          // raised when a capturing job has finished
    char *program;                // program path (stored behind the record)
    char *arguments;              // argument text (behind the record), or nullptr
    char verb[64];                // shell verb, or ""
    int runUserData;              // reference of the run userdata, -1 for none
    int flags;                    // LV_RUN_ bits
    int pipes;                    // output and error output are read through a pipe
    char directory[LV_PATH_SIZE]; // working directory, "" for none
    int ignoreRunFinished;        // RunFinished is not to be reported
    int waited;                   // Execute waits for it: its end goes to the waiter, never an event
    std::atomic<int> exitCode;    // the program's exit code once finished
    std::atomic<int> finished;    // set by the job thread after its last write
    uint8_t *output;              // captured output (LV_RUN_CAPTUREOUTPUT), or nullptr
    size_t outputLength;          // bytes in output
    size_t outputCapacity;        // bytes allocated at output
};

// One piece of output, posted with SYSEVENT_RUNOUTPUT (the event owns it).
struct lvOutputChunk {
    lvRunJob *job;   // the job that read it
    size_t length;   // bytes in text
    char text[1];    // the bytes, then a zero byte
};

// What Execute or Run asks for. Options have the defaults of the commands when the
// record is zero-filled except runUserData (-1).
struct lvRunRequest {
    int isRun;                   // 1 Run, 0 Execute
    const char *program;         // program (after the linked-file lookup); with arguments
                                 // nullptr the whole command line
    const char *arguments;       // argument text, nullptr when the program text holds them;
                                 // "" counts as none
    int forceExe;                // "forceexe"
    int hide;                    // "hide"
    int consoleMode;             // "consolemode"
    int captureOutput;           // "captureoutput" (Execute)
    int rawMode;                 // "rawmode" (Run)
    int returnCode;              // "returncode" (Run)
    const char *directory;       // "directory", nullptr or "" for none
    const char *verb;            // "verb", nullptr or "" for none
    const char *ignoreHandlers;  // "ignorehandlers", handler names separated by '|'
    int runUserData;             // reference of "userdata", -1 for none
    int resetKeys;               // "resetkeys" (on by default): the current display's key
                                 // and button states are cleared once the program started
    int haveRunFinishedHandler;  // the script has a RunFinished handler installed
    int haveRunOutputHandler;    // the script has a RunOutput handler installed
    // Execute waits through this until the job has finished: it blocks briefly (until a
    // wake-up or a tenth of a second) and looks at the stop request; 0 or an error code
    // that ends the wait. nullptr: the engine blocks on the job itself.
    int (*WaitEvents)(void *context);
    void *waitContext;           // passed to WaitEvents
};

// What StartProgram did.
struct lvRunOutcome {
    int captured;         // 1 when exitCode and output hold Execute's results
    int exitCode;         // the program's exit code (captured)
    uint8_t *output;      // captured bytes (AllocMemory; the caller frees it), or nullptr
    size_t outputLength;  // their count
    lvRunJob *job;        // Run with a job thread: the job (in the job list), else nullptr
    int userDataTaken;    // 1 when a job took over runUserData (else the caller releases it)
};

// ---- Operations --------------------------------------------------------------------------

// Execute and Run. 0 with the outcome, or an error code: ERR_WRONGUSAGE (empty program,
// unclosed quote), ERR_LOCK2 (directory), ERR_READFILE / ERR_WRITEFILE / ERR_WRITE
// (copying a linked program), ERR_THREAD or ERR_MEM (no job thread), ERR_TEXTCONVERT,
// or the code WaitEvents returned. A program that cannot be started is no error: with a
// job it ends with exit code 127.
int StartProgram(const lvRunRequest *request, lvRunOutcome *outcome);

// Unlinks the job, stops its thread, frees its output, releases its userdata reference
// (ops may be nullptr) and frees it.
void ReleaseRunJob(lvRunJob *job, const lvRefOps *ops);
// Releases every job, withdrawing the queued events that point at them, and deletes the
// temporary copies of linked programs (library close).
void FreeRunJobs(const lvRefOps *ops);
// The first job of the list (script thread), for the library's walks and tests.
lvRunJob *FirstRunJob(void);
// 1 when the job's end is to be reported to a RunFinished handler.
int RunJobWantsReport(const lvRunJob *job);
// The text of a chunk for RunOutput: as it is with rawMode, else with every byte that
// does not start a valid UTF-8 sequence replaced by '?'. A new block (AllocMemory),
// terminated; nullptr when memory ran out.
char *MakeOutputText(const lvOutputChunk *chunk, int rawMode);

// Splits a command line into the program and the argument text: a leading double quote
// runs to the next one (none: ERR_WRONGUSAGE), else the program ends at the first blank;
// blanks after it are skipped. *arguments points into line (nullptr when none is left).
// 0 or ERR_WRONGUSAGE / ERR_MEM (the program part is too long for the buffer).
int SplitCommandLine(const char *line, char *program, size_t size, const char **arguments);
// 1 when a handler name (e.g. "runfinished") is named by an "ignorehandlers" list:
// some element that is not empty starts the name, compared without regard to case.
int HandlerIgnored(const char *list, const char *handlerName);
