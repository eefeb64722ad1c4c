// integ_builtin_libs.cpp - the library table of a test build of the runtime executable
// (runtime/main.cpp with this file): the error and string libraries, and the string
// library following the applet's encoding through start-up's EncodingApplied hook, as the
// shipped executable's table does.
// Dependencies: runtime/libtable.h, runtime/startup.h, libs/lib_string.h,
// libs/strings_engine.h.
#include "libs/lib_string.h"
#include "libs/strings_engine.h"
#include "runtime/builtin_libs.h"
#include "runtime/encoding.h"
#include "runtime/libs_core.h"
#include "runtime/libtable.h"
#include "runtime/startup.h"

// Encoding arguments left out default to the run's encoding.
static void FollowAppletEncoding(lvState *)
{
    GetStringSettings()->defaultEncoding = GetGlobalEncoding() == LV_ENCODING_UTF8;
}

void InstallBuiltinLibraries(void)
{
    SetLibraryRow("error", OpenErrorLibrary, GetErrorConstants);
    SetLibraryRow("string", OpenStringLibrary, nullptr);
    lvStartupHooks hooks = {};
    hooks.EncodingApplied = FollowAppletEncoding;
    SetStartupHooks(&hooks);
}
