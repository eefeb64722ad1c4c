// Fuzzes the assembler with arbitrary source text: it reports errors or gives a chunk,
// and a chunk it gives reads back, prints, and assembles again to the same bytes.
#include "tools/lvasm/lvasm.h"
#include <cstdlib>
#include <string>

static void Check(bool condition)
{
    if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096) return 0;  // longer sources only repeat what short ones reach
    std::string text((const char *)data, size);
    lvAsmResult result = AsmAssembleText(text, "fuzz");
    if (!result.ok) return 0;
    lvAsmChunk chunk;
    std::string error;
    Check(AsmReadChunk(result.bytes.data(), result.bytes.size(), chunk, error));
    lvAsmResult again = AsmAssembleText(AsmDisassemble(chunk), "fuzz");
    Check(again.ok);
    Check(again.bytes == result.bytes);
    return 0;
}
