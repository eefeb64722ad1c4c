// Fuzz target of the catalog reader: IFF and text catalogs from arbitrary bytes, then
// lookups of the first ids and of ids taken from the data.
#include <cstdlib>
#include <cstring>

#include "libs/catalog_engine.h"
#include "platform/lvplatform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t *copy = static_cast<uint8_t *>(AllocMemory(size + 8, 1));
    if (!copy) return 0;
    if (size) std::memcpy(copy, data, size);
    lvCatalog *c = ParseCatalog(copy, size);
    for (int id = -1; id < 12; id++) {
        const char *s = LookupCatalogString(c, id, "default");
        if (!s) std::abort();
        (void)std::strlen(s);
    }
    for (size_t at = 0; at + 4 <= size && at < 64; at += 4) {
        int id = int((uint32_t(data[at]) << 24) | (uint32_t(data[at + 1]) << 16) | (uint32_t(data[at + 2]) << 8) | data[at + 3]);
        (void)std::strlen(LookupCatalogString(c, id, "default"));
    }
    FreeCatalog(c);
    return 0;
}
