// lib_core2.h - the script commands of the math, table, memblock, time and system
// libraries: their open functions and constants getters for the library table, the
// settings the system library keeps for other subsystems, and the file lookup ReadMem and
// WriteMem use.
//
// Each open function registers its commands as lower-cased globals and as the library's
// command list, installs its shut-down step where it has one, and answers 0 or an error
// code (ERR_MEM). The constants are defined by whoever opens the library.
// Dependencies: vm/lvvm.h, runtime/objects.h. Script thread only.
#pragma once
#include <cstddef>

#include "runtime/objects.h"
#include "vm/lvvm.h"

// ---- Open functions and constants ------------------------------------------------------------

int OpenMathLibrary(lvState *L);
const lvConstantEntry *GetMathConstants(void);  // PI, NAN, INF
int OpenTableLibrary(lvState *L);               // no constants
int OpenMemBlockLibrary(lvState *L);
const lvConstantEntry *GetMemBlockConstants(void);
int OpenTimeLibrary(lvState *L);
const lvConstantEntry *GetTimeConstants(void);
int OpenSystemLibrary(lvState *L);
// CollectGarbage also frees what a higher library keeps for nobody any more (the layer
// engine's detached objects); null: nothing more.
void SetCollectGarbageHook(void (*hook)(lvState *L));
const lvConstantEntry *GetSystemConstants(void);
// The command tables, ended by a null name (the run's command lists, documentation).
const lvCommandEntry *GetMathCommands(void);
const lvCommandEntry *GetTableCommands(void);
const lvCommandEntry *GetMemBlockCommands(void);
const lvCommandEntry *GetTimeCommands(void);
const lvCommandEntry *GetSystemCommands(void);
// Shut-down steps ("memblocks", "timers"): every memory block, every timer.
void CloseMemBlockLibrary(lvState *L, int full);
void CloseTimeLibrary(lvState *L, int full);

// ---- Settings kept by the system library ------------------------------------------------------

// Slots of the default adapter and loader lists.
enum { LV_ADAPTER_SLOTS = 3, LV_LOADER_SLOTS = 6, LV_DEFAULT_LIST_SIZE = 256 };
// Copies the list of an adapter kind (0 file, 1 network, 2 serialize) or loader kind (0 image,
// 1 anim, 2 sound, 3 video, 4 icon, 5 font); "" for an unknown kind or an empty slot.
void CopyDefaultAdapter(int kind, char *buffer, size_t size);
void CopyDefaultLoader(int kind, char *buffer, size_t size);
int GetDefaultTextEncoding(void);
void SetDefaultTextEncoding(int encoding);  // start-up, from the run's encoding

// The compatibility switches, set by LegacyControl under these option names (case ignored):
// "linebasedshapes", "singlemusic" (1 once the library is open), "corvelkludge", and
// "legacygetpen" (GetPen answers the pen of the old drawing model).
struct lvLegacySwitches {
    int lineBasedShapes;  // shapes of 6.0 applets drawn line by line
    int singleMusic;      // 6.0 applets play one music at a time
    int corvelKludge;     // background-picture parts with tags drawn the old way
    int legacyGetPen;     // GetPen reads the legacy pen
};
lvLegacySwitches *GetLegacySwitches(void);

// ---- Files of ReadMem and WriteMem ----------------------------------------------------------------
struct lvMemFileRef;  // libs/memblock_engine.h
// Finds an open script file by identifier for ReadMem and WriteMem; the dos library installs
// its lookup when it opens. Until then every identifier gives ERR_FINDFILE.
typedef int (*lvMemFileLookup)(lvObjectId id, lvMemFileRef *file);
void SetMemFileLookup(lvMemFileLookup lookup);
