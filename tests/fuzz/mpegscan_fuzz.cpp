// Fuzz target: the MPEG audio pre-scan over the input as a file's first bytes; the
// first 8 bytes give the whole file's size.
#include "media/lvmpegscan.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8) return 0;
    int64_t fileSize;
    memcpy(&fileSize, data, 8);
    lvMpegScan scan;
    ScanMpegAudio(data + 8, size - 8, fileSize, &scan);
    return 0;
}
