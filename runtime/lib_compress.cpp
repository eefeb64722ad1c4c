// lib_compress.cpp - the compress library: CompressFile and DecompressFile over the packed
// stream engine ("LVPK" streams between two files).
//
// Depends on: runtime/packed.h (the engine), runtime/cmdsupport.h, vm/lvvm.h.
#include "runtime/cmdsupport.h"
#include "runtime/libs_core.h"
#include "runtime/packed.h"

// CompressFile(source, destination) -> packed size, header included.
static int CmdCompressFile(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    const char *source = CheckStringArg(L, 1, nullptr);
    const char *destination = CheckStringArg(L, 2, nullptr);
    int64_t packed = 0;
    int code = CompressFile(source, destination, &packed);
    if (code != 0) return code;
    PushNumber(L, static_cast<double>(packed));
    return 1;
}

// DecompressFile(source, destination) -> unpacked size.
static int CmdDecompressFile(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    const char *source = CheckStringArg(L, 1, nullptr);
    const char *destination = CheckStringArg(L, 2, nullptr);
    int64_t unpacked = 0;
    int code = DecompressFile(source, destination, &unpacked);
    if (code != 0) return code;
    PushNumber(L, static_cast<double>(unpacked));
    return 1;
}

static const lvCommandEntry kCompressCommands[] = {
    {"CompressFile", CmdCompressFile},
    {"DecompressFile", CmdDecompressFile},
    {nullptr, nullptr},
};

int OpenCompressLibrary(lvState *L) { return RegisterCommandTable(L, kCompressCommands, "compress"); }
