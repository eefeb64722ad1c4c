// builtin_libs.cpp - the command libraries linked into the runtime executable.
//
// Each library exposes its open function, constants getter and shut-down step in its own
// header; this file puts them into their rows of the library table and its shut-down
// steps. A library missing here keeps its empty row.
// Dependencies: runtime/libtable.h and each library's header.
#include "runtime/builtin_libs.h"
#include "runtime/libs_core.h"
#include "runtime/libtable.h"
#include "comm/lib_serial.h"
#include "ui/lib_event.h"
#include "libs/lib_core2.h"
#include "libs/lib_string.h"
#include "libs/lib_core4.h"

// The event library's shut-down takes no "full" flag.
static void CloseEventStep(lvState *L, int full)
{
    CloseEventLibrary(L);
}

void InstallBuiltinLibraries(void)
{
    SetLibraryRow("error", OpenErrorLibrary, GetErrorConstants);
    SetLibraryRow("object", OpenObjectLibrary, GetObjectConstants);
    SetLibraryRow("compress", OpenCompressLibrary, nullptr);
    SetLibraryRow("amiga", OpenAmigaLibrary, nullptr);
    SetLibraryRow("mobile", OpenMobileLibrary, nullptr);

    SetLibraryRow("string", OpenStringLibrary, nullptr);
    SetLibraryRow("math", OpenMathLibrary, GetMathConstants);
    SetLibraryRow("table", OpenTableLibrary, nullptr);
    SetLibraryRow("memblock", OpenMemBlockLibrary, GetMemBlockConstants);
    SetLibraryRow("time", OpenTimeLibrary, GetTimeConstants);
    SetLibraryRow("system", OpenSystemLibrary, GetSystemConstants);

    SetLibraryRow("serialize", OpenSerializeLibrary, GetSerializeConstants);
    SetLibraryRow("application", OpenApplicationLibrary, GetApplicationConstants);
    SetLibraryRow("locale", OpenLocaleLibrary, GetLocaleConstants);
    SetLibraryRow("windows", OpenWindowsLibrary, GetWindowsConstants);
    SetLibraryCloseStep("catalog", CloseLocaleLibrary);
    SetLibraryCloseStep("registry", CloseWindowsLibrary);

    SetLibraryRow("event", OpenEventLibrary, GetEventConstants);
    SetLibraryCloseStep("event", CloseEventStep);

    SetLibraryRow("serial", OpenSerialCommands, GetSerialConstants);
    SetLibraryCloseStep("serial", CloseSerialCommands);
}
