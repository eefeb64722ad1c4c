// marker.cpp - the link marker record and its reader (see marker.h for the layout).
// The record must survive into the executable exactly once, in initialised data, so
// that lvlink can find and patch it: it is writable (never merged into read-only
// constants), marked used, and read only through a volatile pointer.
#include "runtime/marker.h"
#include "runtime/version.h"
#include <cstring>

const uint8_t LinkMarkerUnlinkedOffset[4] = {0xDE, 0xAD, 0xC0, 0xDE};
const uint8_t LinkMarkerTrailer[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};

// ---- The record ---------------------------------------------------------------

extern "C" {
__attribute__((used, aligned(16))) lvLinkMarker LvLinkMarkerRecord = {
    LV_LINK_MARKER_TEXT,
    {0xDE, 0xAD, 0xC0, 0xDE},
    {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A},
    "$VER: " LV_PRODUCT_NAME " 11.0 (Linux x86_64)",
};
}

// ---- Reading ------------------------------------------------------------------

void DecodeLinkMarker(const uint8_t *bytes, lvLinkInfo *info)
{
    std::memset(info, 0, sizeof(*info));
    const uint8_t *word = bytes + 32;
    if (std::memcmp(word, LinkMarkerUnlinkedOffset, 4) != 0) {
        info->linked = 1;
        info->blockOffset = (uint32_t(word[0]) << 24) | (uint32_t(word[1]) << 16) |
                            (uint32_t(word[2]) << 8) | uint32_t(word[3]);
        info->blocksPresent = info->blockOffset != 0;
    }
    std::memcpy(info->versionLine, bytes + 44, 64);
    info->versionLine[64] = 0;
}

void ReadLinkMarker(lvLinkInfo *info)
{
    const volatile uint8_t *view = reinterpret_cast<const volatile uint8_t *>(&LvLinkMarkerRecord);
    uint8_t copy[LV_LINK_MARKER_SIZE];
    for (size_t i = 0; i < sizeof(copy); i++) copy[i] = view[i];
    DecodeLinkMarker(copy, info);
}
