// Fuzzes the text readers behind ReadLine, ReadString and ReadChr over a memory file of
// arbitrary bytes, in every encoding a handle can have and every requested encoding:
// each read ends and stays inside the data and its buffers.
#include "libs/dos_engine.h"
#include "runtime/vfile.h"
#include <cstdlib>
#include <cstring>
#include <string>

static void Check(bool condition)
{
    if (!condition) abort();
}

// A read-only handle over the bytes, as OpenFile makes one for a memory file.
static bool OpenHandle(const char *name, int encoding, lvFileHandle *handle)
{
    std::memset(handle, 0, sizeof *handle);
    handle->mode = LV_MODE_READ;
    handle->access = 1;
    handle->encoding = encoding;
    handle->pendingByte = -1;
    handle->stream = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
    return handle->stream != nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    int encoding = (int)(data[0] % 3) - 1;  // -1 the default, 0 ISO-8859-1, 1 UTF-8
    int requested = data[1] & 1;
    int64_t length = data[1] >> 1;          // ReadString's length (0: to the end)
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("fuzz.txt", 0, data + 2, (int64_t)(size - 2), -1, name, sizeof name);
    if (!node) return 0;
    Check(node->size == (int64_t)(size - 2));
    lvFileHandle handle;
    if (OpenHandle(name, encoding, &handle)) {
        std::string line;
        // Every line read consumes at least one byte, so size lines are the most.
        for (size_t i = 0; i <= size; i++) {
            if (ReadHandleLine(&handle, i & 1, requested, &line) != 0) break;
            if (IsVFileEof(handle.stream) && line.empty()) break;
        }
        CloseVFile(handle.stream);
    }
    if (OpenHandle(name, encoding, &handle)) {
        std::string text;
        ReadHandleString(&handle, length, requested, 1, false, &text);
        ReadHandleString(&handle, 0, requested, 1, false, &text);
        CloseVFile(handle.stream);
    }
    if (OpenHandle(name, encoding, &handle)) {
        uint32_t code;
        for (size_t i = 0; i <= size; i++)
            if (ReadHandleChar(&handle, requested, &code) != 0) break;
        CloseVFile(handle.stream);
    }
    RemoveMemoryFile(node);
    return 0;
}
