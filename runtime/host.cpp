// host.cpp - the runtime's implementation of the script machine's host services: error
// location and raising by the error mode, message arguments, the last-error reset before
// each command, the script's error handler, the call trace switch and output, and text
// case and collation in the run's encoding. Also the table of the core libraries.
//
// Depends on: vm/lvvm.h, runtime/errors.h, runtime/cmdsupport.h, runtime/encoding.h,
// runtime/libs_core.h.
#include <cstring>

#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/libs_core.h"
#include "runtime/startup.h"

// ==== Host slots ==================================================================================

// A raise from inside the machine or a command: the location of this raise.
static void HostCollectErrorLocation(lvState *L, int line)
{
    ResetErrorLocation();
    CollectErrorLocation(L, line);
}

static void HostSetErrorStringArg(const char *text) { SetErrorStringArg(text); }
static void HostSetErrorNumberArg(int n) { SetErrorNumberArg(n); }
static void HostHandleCommandError(lvState *L, int code) { HandleCommandError(L, code); }

static void HostBeforeCommand(lvState *, lvCommandFunction f)
{
    if (f != GetLastErrorCommand) GetErrorState()->lastError = 0;
}

static int HostCanRunErrorHandler(lvState *L) { return CanRunErrorHandler(L) ? 1 : 0; }
static int HostRunErrorHandler(lvState *L, int code) { return CallErrorHandler(L, code); }
static void HostPrintOutput(const char *text) { PrintOutput(text); }

static int HostTraceCalls()
{
    const lvStartupSwitches *d = GetStartupSwitches();
    return d->debugOutput && !d->noDebug;
}

static void HostLowerStrInPlace(char *text) { LowerStrInPlace(text); }

static int HostCollateStrings(const char *a, size_t la, const char *b, size_t lb)
{
    // The collation reads NUL-terminated texts (the machine's strings are); texts with
    // embedded NULs compare by the part before it and then bytewise.
    int r = CollateStrings(a, b, 1);
    if (r != 0) return r;
    r = std::memcmp(a, b, la < lb ? la : lb);
    if (r != 0) return r;
    return la < lb ? -1 : (la > lb ? 1 : 0);
}

void InstallRuntimeHost()
{
    static const lvVMHost host = {
        HostCollectErrorLocation, HostSetErrorStringArg, HostSetErrorNumberArg, HostHandleCommandError,
        HostBeforeCommand,        HostCanRunErrorHandler, HostRunErrorHandler,  HostPrintOutput,
        HostTraceCalls,           HostLowerStrInPlace,    HostCollateStrings,
    };
    SetVMHost(&host);
}

// ==== Core libraries =================================================================================

const lvLibraryEntry lvCoreLibraries[] = {
    {"amiga", OpenAmigaLibrary, nullptr},
    {"compress", OpenCompressLibrary, nullptr},
    {"error", OpenErrorLibrary, GetErrorConstants},
    {"mobile", OpenMobileLibrary, nullptr},
    {"object", OpenObjectLibrary, GetObjectConstants},
    {"base", OpenBaseLibrary, GetBaseConstants},
    {nullptr, nullptr, nullptr},
};

int OpenCoreLibraries(lvState *L)
{
    for (const lvLibraryEntry *library = lvCoreLibraries; library->name; library++) {
        if (library->constants) DefineConstants(L, library->name, library->constants(), 0);
        int code = library->open(L);
        if (code != 0) return code;
    }
    return 0;
}
