// Fuzz target: the first byte picks the parser; the rest is its input.
// 0: a packed stream (behind a valid header) unpacked into memory and nowhere;
// 1: ".ini" text applied as options; 2: virtual names opened and parsed;
// 3: command-line words (split at zero bytes) applied as options.
#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/packed.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

static void UnpackBytes(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> stream = {'L', 'V', 'P', 'K', 0, 0, 0, 0};
    stream.insert(stream.end(), data, data + size);
    char name[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("f.lvpk", 0, stream.data(), (int64_t)stream.size(), -1, name, sizeof name);
    if (!node) return;
    static uint8_t out[1 << 16];
    int64_t consumed = 0;
    UnpackStream("LVPK", name, nullptr, nullptr, 0, nullptr, &consumed, out, sizeof out);
    UnpackStream("LVPK", name, nullptr, nullptr, 0, nullptr, &consumed, nullptr, 0);
    RemoveMemoryFile(node);
}

static void ApplyIni(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back(0);
    lvRuntimeConfig config;
    lvOptionSlots slots = {};
    static lvAppletRecord record;
    static lvStartupSwitches switches;
    InitRuntimeConfig(&config);
    InitAppletRecord(&record);
    InitStartupSwitches(&switches);
    if (ParseIniText(&slots, &config, text.data()) == 0) ApplyStartupOptions(&slots, &config, &record, &switches);
    FreeRuntimeConfig(&config);
    FreeAppletRecord(&record, 1);
}

static void OpenNames(const uint8_t *data, size_t size)
{
    std::string name(reinterpret_cast<const char *>(data), size);
    name = name.substr(0, name.find('\0'));
    static const uint8_t block[64] = {1, 2, 3};
    char reg[LV_PATH_SIZE];
    lvMemFile *node = AddMemoryFile("m.bin", 0, block, sizeof block, -1, reg, sizeof reg);
    // Only names over registered memory are opened: memory names point at raw
    // addresses, and other names reach the disk (where "/dev/stdin" would block).
    lvChunkNameParts parts;
    bool overMemory = SplitChunkName(name.c_str(), &parts) &&
                      (parts.form == 'S' || (parts.form == 'R' && std::strncmp(parts.container, ":::chunkS", 9) == 0));
    if (overMemory) {
        if (lvVFile *f = OpenVFile(name.c_str(), LV_VF_READ, nullptr, nullptr)) {
            uint8_t buf[256];
            ReadVFile(f, buf, sizeof buf);
            SeekVFile(f, -3, 2);
            ReadVFileByte(f);
            CloseVFile(f);
        }
    }
    char out[64];
    uint64_t address;
    int64_t offset;
    uint32_t length;
    ParseChunkName(name.c_str(), &address, &offset, &length, out, sizeof out, out, sizeof out, out, sizeof out,
                   nullptr);
    MakeChunkName("x.bin", out, sizeof out, nullptr, 3, 4, 0, name.c_str());
    FindFilePart(name.c_str());
    RemoveMemoryFile(node);
}

static void ApplyCommandLine(const uint8_t *data, size_t size)
{
    std::string all(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> words;
    for (size_t start = 0; start <= all.size();) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        words.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char *> argv;
    for (const std::string &w : words) argv.push_back(w.c_str());
    lvRuntimeConfig config;
    lvOptionSlots slots;
    static lvAppletRecord record;
    static lvStartupSwitches switches;
    InitRuntimeConfig(&config);
    InitAppletRecord(&record);
    InitStartupSwitches(&switches);
    char *text = nullptr;
    if (ParseCommandLine(&config, &slots, 1, 1, (int)argv.size(), argv.data(), &text) == 0)
        ApplyStartupOptions(&slots, &config, &record, &switches);
    FreeMemory(text);
    FreeRuntimeConfig(&config);
    FreeAppletRecord(&record, 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    switch (data[0] % 4) {
    case 0: UnpackBytes(data + 1, size - 1); break;
    case 1: ApplyIni(data + 1, size - 1); break;
    case 2: OpenNames(data + 1, size - 1); break;
    default: ApplyCommandLine(data + 1, size - 1); break;
    }
    return 0;
}
