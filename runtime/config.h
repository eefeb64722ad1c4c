// config.h - the runtime configuration: the record a run starts with, the 74
// start-up options from the command line and the ".ini" file, their effects on
// the display defaults and run switches, and the search paths of "sysroot.conf".
// Dependencies: runtime/vfile.h (files, search paths), platform/lvplatform.h.
// Limits: text fields are bounded buffers; a value longer than its field is an
// error, never cut into another name.
#pragma once
#include "runtime/vfile.h"
#include <cstdint>

struct lvAppletRecord; // runtime/container.h

// ============================================================================
// Records
// ============================================================================

#define LV_OPTION_SLOTS 131 // option slot numbers 0..130
#define LV_OPTION_COUNT 74  // rows of the option table

// An unknown key of the command line or the ".ini" file, kept in the order met.
struct lvUserArgument {
    lvUserArgument *next; // next argument
    char *name;           // key as given (AllocMemory)
    char *value;          // value (AllocMemory), or none
};

// What a run is started with.
struct lvRuntimeConfig {
    int isApplet;                      // the opened container begins with the applet magic
    char appletPath[LV_PATH_SIZE];     // the applet's path (the executable's when appended)
    char programPath[LV_PATH_SIZE];    // the executable's full path
    char givenAppletPath[LV_PATH_SIZE];// the applet name as the command line gave it
    char absoluteAppletPath[LV_PATH_SIZE]; // its absolute form
    char requiredPlugins[LV_PATH_SIZE];// required plug-ins of the applet header, "|"-joined
    int quiet;                         // no status output
    int noSound;                       // NOSOUND
    int soundSetting;                  // handed to the sound library (default 30)
    char errorText[2048];              // the final error message
    lvUserArgument *userArguments;     // unknown keys of the command line and ".ini" file
    int noDisplayOverrides;            // options are not copied into the applet's displays
    int allDisplays;                   // ALLDISPLAYS
    int numChannels;                   // NUMCHANNELS or the applet's channel byte
    int forceSound;                    // FORCESOUND
    int overridePlacement;             // OVERRIDEPLACEMENT
    int unpackToFile;                  // unpack the applet to a temporary file
    int loadAllPlugins;                // load every plug-in of the search paths
    char *requirePluginList;           // REQUIREPLUGINS: NUL-separated, ended by two NULs
    char *requireTags;                 // REQUIRETAGS (AllocMemory)
    char *skipPluginList;              // SKIPPLUGINS: NUL-separated, ended by two NULs
    int oldApplet;                     // applet format version below 9 (unlinked runs)
};

// A BACKFILL option in full; its type, colours and picture values also go to the
// applet record's backfill block, which has no room for the brush.
struct lvBackfill {
    int type;                      // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
    int startColour;               // start colour, -1 unset
    int endColour;                 // end colour, -1 unset
    int brushId;                   // brush identifier (BRUSH), 0 unset
    char brushFile[LV_PATH_SIZE];  // brush file (BRUSHFILE)
    int scalePicture;              // SCALEPICTURE
    int pictureX;                  // picture x, -100000 centred
    int pictureY;                  // picture y, -100000 centred
    int pictureTransparency;       // -1 unset
};

// Run-wide switches set by options; start-up hands them to their owners
// (error reporting, debug channel, platform temporary folder, encodings).
struct lvStartupSwitches {
    int wantLatin1;                // ENCODING iso8859_1
    int debugDevice;               // DEBUGDEVICE given
    int hostDevice;                // the debug device is a "::hwnd" host
    char debugDeviceText[LV_PATH_SIZE]; // the DEBUGDEVICE text
    int debugOutput;               // DEBUGOUTPUT
    int forceFlush;                // FORCEFLUSH
    int noDebug;                   // NODEBUG
    int printError;                // PRINTERROR
    int formatError;               // FORMATERROR
    int errorCodeSet;              // ERRORCODE given
    int errorCode;                 // its value
    int tempDirSet;                // TEMPDIR given
    char tempDir[LV_PATH_SIZE];    // its value
    lvBackfill backfill;           // the BACKFILL option with its companions (type 0: none)
};

// Collected options: value texts (pointing into the parsed text) and switches.
struct lvOptionSlots {
    const char *text[LV_OPTION_SLOTS]; // value options: the value, or none
    int on[LV_OPTION_SLOTS];           // switches: 1 set, 0 not set (or cancelled)
};

// One row of the option table.
struct lvStartupOption {
    const char *key; // upper case; matched without regard to case
    int slot;        // slot number
    int takesValue;  // value option (1) or switch (0)
};
extern const lvStartupOption StartupOptions[LV_OPTION_COUNT];
// The row of a key, or none.
const lvStartupOption *FindStartupOption(const char *key);

// ============================================================================
// Operations
// ============================================================================

void InitRuntimeConfig(lvRuntimeConfig *config);     // zeroes and sets defaults
void InitStartupSwitches(lvStartupSwitches *switches); // zeroes; backfill values unset
void FreeRuntimeConfig(lvRuntimeConfig *config);     // user arguments and option lists
void FreeUserArguments(lvRuntimeConfig *config);

// Parses the command line (argv without the program name; one element is one
// word). textOut receives the block the slots point into (FreeMemory it after
// the options were applied). 0, ERR_MEM, ERR_CONFIG (no applet named) or ERR_ARGS.
int ParseCommandLine(lvRuntimeConfig *config, lvOptionSlots *slots, int recogniseOptions, int noAppletName,
                     int argc, const char *const *argv, char **textOut);

// The ".ini" file named after appletPath. A missing file is no error.
// 0, ERR_MEM, ERR_READ, ERR_TEXTCONVERT or ERR_INISYNTAX.
int ReadIniFile(lvOptionSlots *slots, lvRuntimeConfig *config, char **textOut);
// The same over a given text (modified in place; the slots point into it).
int ParseIniText(lvOptionSlots *slots, lvRuntimeConfig *config, char *text);

// Applies the collected options in their fixed order to the configuration, the
// applet record's display defaults and flags word, and the run switches;
// 0 or the first error (effects already made stay).
int ApplyStartupOptions(const lvOptionSlots *slots, lvRuntimeConfig *config, lvAppletRecord *record,
                        lvStartupSwitches *switches);

// 0, ERR_BACKFILL or a number error.
int ParseBackfillOption(const char *backfillType, const char *brush, const char *startColour,
                        const char *endColour, const char *brushFile, lvBackfill *block);

// Decimal, floating, "$" or "0x" hexadecimal (64-bit) and "%" binary (32-bit
// unsigned) numbers with an optional leading "-". consumedOut counts the
// characters used; errorOut is 0, ERR_SYNTAXERROR or ERR_VALUEEXPECTED.
double ParseNumberLiteral(const char *text, int *consumedOut, int *errorOut);

// Copy in which every "|" is a NUL and a second NUL ends the list; none on no memory.
char *SplitBarList(const char *text);

// Search paths: the lines of "sysroot.conf" in programDir (when readConf), then
// programDir itself. 0 or ERR_MEM; a missing file is no error.
int BuildSearchPaths(const char *programDir, int readConf);
// Replaces %APPDATA%, %COMMONAPPDATA% and %LOCALAPPDATA% in every search path and
// makes the paths of existing directories full. 0 or ERR_MEM.
int ExpandSearchPathVariables();
