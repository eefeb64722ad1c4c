// A small program carrying the link marker, for the link tests: lvlink links applets into
// copies of it, and it reports what it finds appended to itself, reading it the way the
// runtime's start-up does.
#include "runtime/container.h"
#include "runtime/marker.h"

#include <cstdio>
#include <unistd.h>

namespace {

int ShowEntry(void *user, lvByteSource *, const lvPluginBlockEntry *entry)
{
    std::printf("%s %s %u%s\n", static_cast<const char *>(user), entry->name,
                entry->storedSize, entry->packed ? " packed" : "");
    return 0;
}

} // namespace

int main()
{
    lvLinkInfo link;
    ReadLinkMarker(&link);
    std::printf("linked=%d blocks=%d offset=%u\nversion=%s\n", link.linked, link.blocksPresent,
                link.blockOffset, link.versionLine);
    if (!link.blocksPresent) return 0;
    char self[1024];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) return 2;
    self[n] = 0;
    lvByteSource source;
    if (OpenFileSource(&source, self) != 0) return 3;
    uint64_t offset = link.blockOffset;
    int err = WalkPluginBlock(&source, "LVL!", &offset, ShowEntry, const_cast<char *>("library"));
    if (!err) err = WalkPluginBlock(&source, "LVP!", &offset, ShowEntry, const_cast<char *>("plugin"));
    lvAppletHeaderInfo header;
    if (!err) ProbeAppletHeader(&source, offset, 0, &header);
    CloseByteSource(&source);
    if (err) {
        std::printf("error %d\n", err);
        return 1;
    }
    std::printf("header found=%d quiet=%d\n", header.found, header.quiet);
    lvAppletContainer container;
    lvAppletRecord record;
    InitAppletRecord(&record);
    err = OpenAppletContainer(self, offset, nullptr, &container);
    if (!err) err = ParseAppletRecords(&container, &record, nullptr, 0);
    if (!err) {
        std::printf("title=%s bytecode=%u packed=%d\n", record.title, record.bytecodeSize,
                    container.packed);
        for (const lvAppletLabel *l = record.labels; l; l = l->next)
            std::printf("label %s %d\n", l->name, l->value);
        for (const lvAppIconSlot &slot : record.icons)
            if (slot.fileName) std::printf("icon %s\n", slot.fileName);
    } else {
        std::printf("error %d\n", err);
    }
    FreeAppletRecord(&record, 1);
    CloseAppletContainer(&container);
    return err ? 1 : 0;
}
