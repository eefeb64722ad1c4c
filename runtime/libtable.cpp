// libtable.cpp - the library table and the shut-down steps, in their fixed orders.
//
// Rows of libraries that are not part of this build open with an empty command table and
// have shut-down steps with nothing to free; each library replaces its row's functions
// when it lands. The opening order and the shut-down order are not each other's reverse:
// shut-down frees displays first (they show every other kind of object) and the raster
// engine's caches near the end, after every object that may still point into them.
// Filling a row: replace OpenEmptyLibrary by the library's open function (and nullptr by its
// constants getter), and NothingToClose by its shut-down step, including the library's
// header here. A library that lives in another target (lv_libs, lv_ui, ...) needs that
// target linked into lv_runtime and the runtime executable.
// Dependencies: vm/lvvm.h, runtime/vfile.h (in-memory files), runtime/lib_base.h.
#include "runtime/libtable.h"
#include "runtime/lib_base.h"
#include "runtime/vfile.h"
#include <cstring>

// ---- Libraries not yet in the build ---------------------------------------------------

static const lvCommandEntry EmptyCommandTable[] = {
    {nullptr, nullptr},
};

// Registers an empty command table: the library exists, no command of it does yet.
static int OpenEmptyLibrary(lvState *L)
{
    RegisterLibrary(L, nullptr, EmptyCommandTable, 0);
    return 0;
}

// ---- Library table ---------------------------------------------------------------------

lvLibraryEntry LibraryTable[LV_LIBRARY_COUNT + 1] = {
    {"display", OpenEmptyLibrary, nullptr},
    {"error", OpenEmptyLibrary, nullptr},
    {"graphics", OpenEmptyLibrary, nullptr},
    {"event", OpenEmptyLibrary, nullptr},
    {"string", OpenEmptyLibrary, nullptr},
    {"math", OpenEmptyLibrary, nullptr},
    {"table", OpenEmptyLibrary, nullptr},
    {"memblock", OpenEmptyLibrary, nullptr},
    {"dos", OpenEmptyLibrary, nullptr},
    {"compress", OpenEmptyLibrary, nullptr},
    {"time", OpenEmptyLibrary, nullptr},
    {"locale", OpenEmptyLibrary, nullptr},
    {"async", OpenEmptyLibrary, nullptr},
    {"sound", OpenEmptyLibrary, nullptr},
    {"bgpic", OpenEmptyLibrary, nullptr},
    {"brush", OpenEmptyLibrary, nullptr},
    {"anim", OpenEmptyLibrary, nullptr},
    {"sprite", OpenEmptyLibrary, nullptr},
    {"icon", OpenEmptyLibrary, nullptr},
    {"palette", OpenEmptyLibrary, nullptr},
    {"video", OpenEmptyLibrary, nullptr},
    {"transitionfx", OpenEmptyLibrary, nullptr},
    {"moveobject", OpenEmptyLibrary, nullptr},
    {"layers", OpenEmptyLibrary, nullptr},
    {"draw", OpenEmptyLibrary, nullptr},
    {"vectorpath", OpenEmptyLibrary, nullptr},
    {"text", OpenEmptyLibrary, nullptr},
    {"console", OpenEmptyLibrary, nullptr},
    {"menu", OpenEmptyLibrary, nullptr},
    {"requester", OpenEmptyLibrary, nullptr},
    {"pointer", OpenEmptyLibrary, nullptr},
    {"clipboard", OpenEmptyLibrary, nullptr},
    {"clipregion", OpenEmptyLibrary, nullptr},
    {"offscreen", OpenEmptyLibrary, nullptr},
    {"serialize", OpenEmptyLibrary, nullptr},
    {"joystick", OpenEmptyLibrary, nullptr},
    {"object", OpenEmptyLibrary, nullptr},
    {"application", OpenEmptyLibrary, nullptr},
    {"system", OpenEmptyLibrary, nullptr},
    {"plugin", OpenEmptyLibrary, nullptr},
    {"imageio", OpenEmptyLibrary, nullptr},
    {"animio", OpenEmptyLibrary, nullptr},
    {"amiga", OpenEmptyLibrary, nullptr},
    {"windows", OpenEmptyLibrary, nullptr},
    {"mobile", OpenEmptyLibrary, nullptr},
    {"network", OpenEmptyLibrary, nullptr},
    {"serial", OpenEmptyLibrary, nullptr},
    {"base", OpenBaseLibrary, GetBaseConstants},
    {nullptr, nullptr, nullptr},
};

int SetLibraryRow(const char *name, lvLibraryOpenFunction open, lvConstantsGetter constants)
{
    for (lvLibraryEntry *row = LibraryTable; row->name; row++) {
        if (std::strcmp(row->name, name) != 0) continue;
        row->open = open ? open : OpenEmptyLibrary;
        row->constants = constants;
        return 0;
    }
    return -1;
}

int OpenLibraries(lvState *L)
{
    // Include levels of script files start counted at 0.
    PushString(L, "inclevels");
    PushNewTable(L);
    PushString(L, "count");
    PushNumber(L, 0);
    SetTableValueRaw(L, -3);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
    // "_g" is the globals table itself.
    PushString(L, "_g");
    PushCopy(L, LV_GLOBALSINDEX);
    SetTableValueRaw(L, LV_GLOBALSINDEX);
    for (const lvLibraryEntry *row = LibraryTable; row->name && row->open; row++) {
        if (row->constants) DefineConstants(L, row->name, row->constants(), 0);
        PushCopy(L, LV_GLOBALSINDEX);
        int code = row->open(L);
        SetStackTop(L, 0);
        if (code) return code;
    }
    return 0;
}

// ---- Shut-down steps ----------------------------------------------------------------------

// A step whose library is not in the build holds nothing.
static void NothingToClose(lvState *L, int full) {}

static void CloseMemoryFiles(lvState *L, int full)
{
    FreeAllMemoryFiles();
}

lvLibraryCloseStep LibraryCloseSteps[LV_CLOSE_STEP_COUNT] = {
    {"displays", NothingToClose},
    {"pointers", NothingToClose},
    {"menus", NothingToClose},
    {"network", NothingToClose},
    {"clipregions", NothingToClose},
    {"drawbuffers", NothingToClose},
    {"icons", NothingToClose},
    {"brushes", NothingToClose},
    {"bgpics", NothingToClose},
    {"videos", NothingToClose},
    {"vectorpaths", NothingToClose},
    {"sprites", NothingToClose},
    {"serial", NothingToClose},
    {"timers", NothingToClose},
    {"error", NothingToClose},
    {"fonts", NothingToClose},
    {"anims", NothingToClose},
    {"layers", NothingToClose},
    {"palettes", NothingToClose},
    {"async", NothingToClose},
    {"memoryfiles", CloseMemoryFiles},
    {"dos", NothingToClose},
    {"memblocks", NothingToClose},
    {"registry", NothingToClose},
    {"event", NothingToClose},
    {"plugin", NothingToClose},
    {"joysticks", NothingToClose},
    {"sound", NothingToClose},
    {"console", NothingToClose},
    {"object", NothingToClose},
    {"serializer", NothingToClose},
    {"imagesources", NothingToClose},
    {"imagecache", NothingToClose},
    {"catalog", NothingToClose},
};

void CloseLibraries(lvState *L, int full)
{
    for (lvLibraryCloseStep &step : LibraryCloseSteps)
        if (step.close) step.close(L, full);
}

lvLibraryCloseFunction SetLibraryCloseStep(const char *name, lvLibraryCloseFunction close)
{
    for (lvLibraryCloseStep &step : LibraryCloseSteps) {
        if (std::strcmp(step.name, name) != 0) continue;
        lvLibraryCloseFunction previous = step.close;
        step.close = close ? close : NothingToClose;
        return previous;
    }
    return nullptr;
}
