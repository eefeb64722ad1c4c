// Fuzz target of the JSON reader in its three modes (the first byte picks the mode
// and the encodings). Any input must end in a result code with the stack as it was;
// a table that reads back is written in mode 0 and must read back again.
#include <cstdlib>
#include <string>

#include "libs/serialize_engine.h"

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
    lvSerializeOptions o;
    InitSerializeOptions(&o);
    o.mode = data[0] % 3;
    o.modeSet = 1;
    o.srcEncoding = (data[0] >> 2) & 1;
    o.dstEncoding = (data[0] >> 3) & 1;
    o.noLowerCase = (data[0] >> 4) & 1;
    lvSerialBuffer in{const_cast<uint8_t *>(data + 1), 0, size - 1, size - 1};
    int rc = DeserializeWithAdapter(L, &o, nullptr, &in, 0);
    if (GetStackTop(L) != (rc ? 0 : 1)) std::abort();
    if (rc == 0) {
        lvSerializeOptions w;
        InitSerializeOptions(&w);
        w.modeSet = 1;
        w.srcEncoding = w.dstEncoding = o.dstEncoding;
        lvSerialBuffer out{};
        if (SerializeWithAdapter(L, 1, &w, nullptr, &out) == 0) {
            lvSerialBuffer again{out.data, 0, out.length, out.capacity};
            lvSerializeOptions r = w;
            if (DeserializeWithAdapter(L, &r, nullptr, &again, 0) != 0) std::abort();
        }
        FreeMemory(out.data);
    }
}
}  // namespace
