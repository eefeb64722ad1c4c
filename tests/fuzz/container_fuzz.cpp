// Fuzz target of the applet container reader: appended plug-in blocks, the header probe,
// unpacking and the record parser over arbitrary bytes. Any input must end in a result
// code, without reads outside the input, leaks or undefined behaviour.
#include "libs/lib_dos.h"
#include "runtime/container.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Linked directories and catalogs carry a stored tree that the dos library reads.
    SetLinkedTailReader(18, ReadLinkedDirTail);
    SetLinkedTailReader(20, ReadLinkedDirTail);
    lvByteSource source;
    InitMemorySource(&source, data, size);
    uint64_t offset = 0;
    if (SkipPluginBlocks(&source, &offset) != 0) offset = 0;
    lvAppletHeaderInfo header;
    ProbeAppletHeader(&source, offset, 1, &header);
    lvAppletContainer container;
    if (OpenAppletContainerFromSource(&source, "fuzz.lva", offset, nullptr, &container) != 0)
        return 0;
    lvAppletRecord record;
    InitAppletRecord(&record);
    char argument[64];
    ParseAppletRecords(&container, &record, argument, sizeof(argument));
    for (lvLinkedObject *o = record.linkedObjects; o; o = o->next) {
        char name[1024];
        MakeLinkedObjectName(&container, o, name, sizeof(name));
    }
    FreeAppletRecord(&record, 1);
    CloseAppletContainer(&container);
    return 0;
}
