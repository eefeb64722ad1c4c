// startup.h - start-up and shut-down of a run: the runtime's main function, the order in
// which the platform, the configuration, the appended blocks, the options, the libraries,
// the plug-ins, the applet and its main chunk come up, and the order in which they go.
//
// Dependencies: vm/lvvm.h, runtime/config.h, runtime/container.h, runtime/errors.h,
// runtime/libtable.h, platform/lvplatform.h.
// Limits: one run per process. Start-up and shut-down run on the main thread; the main
// chunk runs on the script thread (platform/lvplatform_startup.h).
//
// Subsystems that join a run later (plug-in manager, displays, audio, requesters) hook
// into start-up and shut-down through lvStartupHooks; until they do, their steps do
// nothing and the run goes on without them.
#pragma once
#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "vm/lvvm.h"

struct lvMutex;

// What preload handlers get as their user pointer.
struct lvPreloadRun {
    lvState *L;   // the run's machine
};

// ---- Hooks of later subsystems --------------------------------------------------------
// Empty slots are filled with no-op defaults by SetStartupHooks, so start-up never tests
// for null. Each returns 0 or an error code where it returns a number.
struct lvStartupHooks {
    // Plug-in manager: loads the start-up plug-ins (temporary directory, required list).
    int (*LoadStartupPlugins)(lvState *L, lvRuntimeConfig *config, const char *pluginDirectory);
    // Display library: fills the icon slots from the applet's application icons.
    int (*ApplyAppletIcons)(lvState *L, lvAppletRecord *record);
    // Display library: copies the applet's display settings into display 1's record.
    int (*ApplyAppletDisplaySettings)(lvState *L, lvAppletRecord *record);
    // Display library: creates the applet's displays and opens the first.
    int (*OpenStartupDisplays)(lvState *L);
    // The main loop: runs body(state) on the script thread and returns its result. The
    // default is the platform's RunMainLoop with the script on a LV_SCRIPT_STACK_SIZE
    // stack; a display adapter installs its own.
    int (*RunMainLoop)(int (*body)(void *state), void *state);
    // The line hook's work: plug-in line hooks, purging and polling events (mode 1).
    int (*PollRuntimeEvents)(lvState *L, int mode);
    // Audio back-end: closes the output before the libraries close.
    void (*CloseAudio)(void);
    // Requester library: frees its resources after the final report.
    void (*FreeRequesters)(void);
    // Plug-in manager: frees the library plug-ins' state before the machine closes.
    void (*FreePluginLibraries)(lvState *L);
    // Plug-in manager: closes and unloads every plug-in after the machine closed.
    void (*UnloadAllPlugins)(void);
    // Preload handlers by linked-object type (user: an lvPreloadRun); null slots call the
    // type's preload command by name through the globals (ERR_UNIMPLCMD when the command
    // is not registered).
    lvPreloadHandler preload[LV_LINKED_TYPES];
    // Preload, first pass: requires a linked plug-in (types 12 and 23; mode 514 or 770).
    // The default fails with ERR_REQUIREPLUGIN: no plug-in manager, no plug-in.
    int (*RequirePlugin)(lvState *L, lvLinkedObject *object, int mode);
    // Preload: creates a linked display (type 10).
    int (*CreatePresetDisplay)(lvState *L, lvLinkedObject *object, int backgroundLinked);
    // String library: takes its default encoding from the run's (GetGlobalEncoding) once
    // start-up applied the applet's encoding, before the main chunk loads.
    void (*EncodingApplied)(lvState *L);
    // Requester library: an unlinked run without an applet asks for one: 0 and the path
    // when chosen (and it fits), ERR_USERABORT when cancelled, ERR_CONFIG when no
    // requester can be shown (no display server, no dialogs).
    int (*AskForApplet)(char *path, size_t size);
};

// Installs the hooks (null slots keep the defaults; null restores all defaults).
void SetStartupHooks(const lvStartupHooks *hooks);
// The hooks in force.
const lvStartupHooks *GetStartupHooks(void);

// ---- Run-wide state ------------------------------------------------------------------------

// One node of the temporary-file list.
struct lvTempFileNode {
    lvTempFileNode *next;     // next node
    char path[LV_PATH_SIZE];  // the file, deleted at shut-down
};

// Everything a run keeps between start-up and shut-down (one per process).
struct lvStartupState {
    int linked;                        // the link marker holds an offset
    uint32_t blockOffset;              // appended-block offset (0 when linked without blocks)
    int blocksPresent;                 // linked and the offset is not 0
    char versionLine[65];              // the marker's version line
    lvTempFileNode *tempFiles;         // temporary files handed out during the run
    char startupDirectory[LV_PATH_SIZE];  // current directory when the run began
    char *previousDirectory;           // directory before changing into the applet's
    char pluginDirectory[LV_PATH_SIZE];   // temporary plug-in directory, "" until made
    lvMutex *displayListLock;          // created by start-up, freed by shut-down
    lvMutex *eventQueueLock;           // created by start-up, freed by shut-down
    double startTime;                  // seconds since 1970 at start
    int shuttingDown;                  // set first thing in ShutdownRuntime
    int appletLoaded;                  // the applet's records were parsed
    int endCode;                       // exit code stored by End
    int errorExitCode;                 // ERRORCODE's value
    int errorExitCodeSet;              // ERRORCODE was given
    int noDebug;                       // NODEBUG, or the applet's no-debug flag
    lvStartupSwitches switches;        // run switches collected from the options
    lvAppletContainer container;       // the opened applet container
    int containerOpen;                 // container holds an open container
    int argc;                          // the arguments RuntimeMain got
    char **argv;                       // (UTF-8, program name first)
    lvState *state;                    // the run's machine
    lvRuntimeConfig *config;           // the run's configuration
    lvAppletRecord *record;            // the run's applet record
    double startClock;                 // GetEpochSeconds(0) at start: script timestamps count from it
};

// The one instance.
lvStartupState *GetStartupState(void);
// The run switches (no-debug, debug device, error report forms).
lvStartupSwitches *GetStartupSwitches(void);

// ---- Start-up and shut-down ------------------------------------------------------------------

// The program's main function (argv in UTF-8, program name first). Returns the exit code:
// End's code after End; 0 when the main chunk ran to its end; after an error the ERRORCODE
// option's value when it was given, else 1.
int RuntimeMain(int argc, char **argv);
// Platform, locks, configuration, marker, options, quiet mode, libraries. 0 or a code.
int StartRuntime(lvState *L, lvAppletRecord *record, lvRuntimeConfig *config, int argc, char **argv);
// Opens the applet named in the configuration and parses its records. 0 or a code.
int OpenApplet(lvRuntimeConfig *config, lvState *L, lvAppletRecord *record);
// Applies what the records collected (encoding, labels, user constants, flags) and loads
// the main chunk, which is left on the stack. 0 or a code.
int LoadAppletMainChunk(lvState *L, lvRuntimeConfig *config, lvAppletRecord *record);
// Preloads the applet's linked objects through the libraries' hooks. 0 or a code.
int PreloadAppletObjects(lvState *L, lvRuntimeConfig *config, lvAppletRecord *record);
// Installs the line hook that keeps events flowing while the script runs (only once a
// PollRuntimeEvents hook was installed: the default has nothing to poll).
void InstallLineHook(lvState *L);
// Runs every shut-down step whatever the code (the final error report among them, through
// ReportFinalErrorWithSwitches) and returns the exit code.
int ShutdownRuntime(lvState *L, int code, lvRuntimeConfig *config, lvAppletRecord *record);

// ---- Services of the run --------------------------------------------------------------------

// Stores the exit code of the End command.
void SetEndCode(int code);
// Linked with appended blocks.
int HasAppendedBlocks(void);
// Copies the directory that was current when the run began (bounded).
void GetStartupDirectory(char *buffer, size_t size);
// A new temporary file whose name is kept and deleted at shut-down. 0, or ERR_MEM /
// ERR_WRITEFILE when none could be made.
int NewTempFile(char *buffer, size_t size);
// Creates the run's temporary plug-in directory when it does not exist yet; 0 or a code.
int MakePluginDirectory(void);
// Writes the entries of the appended "LVL!" and then "LVP!" blocks of the executable as
// ".lvl" and ".lvp" files into the temporary plug-in directory; *offset moves past both.
int ExtractPluginBlocks(const char *executable, uint64_t *offset);
// Text to the debug channel (DebugPrint, status lines, printed error reports).
void PrintDebugText(const char *text);
// Display-list and event-queue locks of the run (null before start-up).
lvMutex *GetDisplayListLock(void);
// Set once shut-down began.
int IsShuttingDown(void);
