// Fuzzes the reader of the registry store's value files: arbitrary bytes as a key's
// "=values" file; listing the key and reading each value stays inside the data and its
// buffers, whatever names, types and lengths the file claims.
#include "platform/lvplatform.h"
#include "platform/lvplatform_registry.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static void Check(bool condition)
{
    if (!condition) abort();
}

// One store folder for the whole run, with the key "fuzz" in it.
static const std::string &KeyFolder()
{
    static std::string key;
    if (key.empty()) {
        char pattern[] = "/tmp/lv_regstore_fuzz_XXXXXX";
        Check(mkdtemp(pattern) != nullptr);
        SetRegistryStoreFolder(pattern);
        key = std::string(pattern) + "/fuzz";
        Check(mkdir(key.c_str(), 0700) == 0);
    }
    return key;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string values = KeyFolder() + "/=values";
    FILE *f = std::fopen(values.c_str(), "wb");
    Check(f != nullptr);
    if (size) Check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
    lvRegKeyHandle *key = OpenRegKeyHandle(4, "fuzz", LV_REGKEY_READ);
    Check(key != nullptr);
    char name[1024];
    for (int i = 0; i <= (int)size; i++) {
        int isKey = 0, done = 0;
        if (NextRegKeyEntry(key, name, sizeof name, &isKey, &done) != 0 || done) break;
        Check(std::memchr(name, 0, sizeof name) != nullptr);
        if (isKey) continue;
        char buffer[256];
        size_t length = sizeof buffer;
        double number = 0;
        int isNumber = 0;
        if (ReadRegistryValue(key, name, buffer, &length, &number, &isNumber) && !isNumber)
            Check(length <= sizeof buffer);
    }
    CloseRegKeyHandle(key);
    return 0;
}
