// Fuzz target of the table and function image readers: "LVT0" from memory and from a
// file, "LVT1", "LVF0" and "LVF1" from a file, and "PRFS" preferences. The first byte
// picks the reader; any input must end in a result code with the stack as it was. A
// table that reads back is written again and must read back the same way.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "libs/prefs_engine.h"
#include "libs/serialize_engine.h"
#include "runtime/vfile.h"

namespace {
lvVFile *OpenMemory(const uint8_t *data, size_t size, std::string &name)
{
    char buffer[256];
    if (!AddMemoryFile("fuzz.bin", 0, data, int64_t(size), -1, buffer, sizeof buffer)) return nullptr;
    name = buffer;
    return OpenVFile(buffer, LV_VF_READ, nullptr, nullptr);
}
}  // namespace

namespace {
struct Input {
    const uint8_t *data;
    size_t size;
};
void RunInput(lvState *L, void *context);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    lvState *L = NewVMState();
    if (!L) return 0;
    Input input{data, size};
    // Machine errors (memory) end the run of one input, never the process.
    RunProtected(L, RunInput, &input);
    CloseVMState(L);
    return 0;
}

namespace {
void RunInput(lvState *L, void *context)
{
    const uint8_t *data = static_cast<Input *>(context)->data;
    size_t size = static_cast<Input *>(context)->size;
    int pick = data[0] % 4;
    data++;
    size--;
    int rc;
    if (pick == 0) {
        rc = ReadTableImageMemory(L, data, size);
    } else if (pick == 3) {
        static std::string path = std::string("/tmp/lvcore4_prefs_fuzz_") + std::to_string(getpid());
        FILE *f = std::fopen(path.c_str(), "wb");
        if (f) {
            std::fwrite("PRFS", 1, 4, f);
            std::fwrite(data, 1, size, f);
            std::fclose(f);
        }
        rc = ReadPrefsFile(L, path.c_str(), 0, "inbuilt", nullptr);
    } else {
        std::string name;
        lvVFile *file = OpenMemory(data, size, name);
        rc = 1;
        if (file) {
            rc = pick == 1 ? ReadTableImage(L, file) : ReadFunctionImage(L, file);
            CloseVFile(file);
        }
        FreeAllMemoryFiles();
    }
    if (GetStackTop(L) != (rc ? 0 : 1)) std::abort();
    if (rc == 0 && GetValueType(L, 1) == LV_TTABLE) {
        if (PushTableImageString(L, 1) != 0) std::abort();
        std::string image(ValueToString(L, -1), ValueStringLength(L, -1));
        if (ReadTableImageMemory(L, image.data(), image.size()) != 0) std::abort();
        if (PushTableImageString(L, -1) != 0) std::abort();
        if (ValueStringLength(L, -1) != image.size()) std::abort();
    }
}
}  // namespace
