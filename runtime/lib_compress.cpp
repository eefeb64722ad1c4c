// lib_compress.cpp - the compress library: CompressFile and DecompressFile over the packed
// stream engine ("LVPK" streams between two files).
//
// Depends on: runtime/packed.h (the engine), runtime/cmdsupport.h, vm/lvvm.h.
#include "runtime/cmdsupport.h"
#include "runtime/libs_core.h"
#include "runtime/packed.h"

// Both commands: (source, destination) -> the engine's size figure.
typedef int (*lvPackEngine)(const char *source, const char *destination, int64_t *size);

static int RunPackEngine(lvState *L, lvPackEngine engine)
{
    CheckArgCount(L, 2, 2, 0, 0);
    const char *source = CheckStringArg(L, 1, nullptr);
    const char *destination = CheckStringArg(L, 2, nullptr);
    int64_t size = 0;
    int code = engine(source, destination, &size);
    if (code != 0) return code;
    PushNumber(L, static_cast<double>(size));
    return 1;
}

// CompressFile(source, destination) -> packed size, header included.
static int CmdCompressFile(lvState *L) { return RunPackEngine(L, CompressFile); }

// DecompressFile(source, destination) -> unpacked size.
static int CmdDecompressFile(lvState *L) { return RunPackEngine(L, DecompressFile); }

static const lvCommandEntry kCompressCommands[] = {
    {"CompressFile", CmdCompressFile},
    {"DecompressFile", CmdDecompressFile},
    {nullptr, nullptr},
};

int OpenCompressLibrary(lvState *L) { return RegisterCommandTable(L, kCompressCommands, "compress"); }
