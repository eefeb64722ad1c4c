// marker.h - the link marker: a record in the executable's initialised data that the
// link tool (tools/lvlink) patches to say where the appended blocks begin.
//
// Layout (108 bytes, byte-exact, shared with lvlink):
//   0..31   the marker text, NUL-padded
//   32..35  big-endian file offset of the appended blocks; DE AD C0 DE = nothing appended
//   36..43  the trailer C0 DE CA FE C0 CA C0 1A (not read by the runtime; lvlink matches it)
//   44..107 a NUL-padded "$VER:" version line, replaced by the applet's line when linked
// Dependencies: none. Limits: offsets are 32-bit, so appended blocks start below 4 GiB.
#pragma once
#include <cstddef>
#include <cstdint>

// The record as it lies in the executable file.
struct lvLinkMarker {
    char markerText[32];        // LV_LINK_MARKER_TEXT padded with NUL bytes
    uint8_t blockOffset[4];     // big-endian offset of the appended blocks, or DE AD C0 DE
    uint8_t trailer[8];         // C0 DE CA FE C0 CA C0 1A
    char versionLine[64];       // "$VER: ..." padded with NUL bytes
};
static_assert(sizeof(lvLinkMarker) == 108, "the link marker is 108 bytes in the file");

#define LV_LINK_MARKER_TEXT "Kelmart Dunvaley Entertainment"
#define LV_LINK_MARKER_SIZE 108
// Bytes 0..43 of an unpatched marker are what lvlink searches for.
#define LV_LINK_MARKER_PATTERN_SIZE 44
extern const uint8_t LinkMarkerUnlinkedOffset[4];   // DE AD C0 DE
extern const uint8_t LinkMarkerTrailer[8];          // C0 DE CA FE C0 CA C0 1A

// What the marker says about this run.
struct lvLinkInfo {
    int linked;                 // 1 when the offset word is not the unlinked pattern
    uint32_t blockOffset;       // file offset of the appended blocks (0 when unlinked)
    int blocksPresent;          // linked and the offset is not 0
    char versionLine[65];       // the marker's version line, NUL-terminated
};

// Decodes a 108-byte marker image (from memory or a file) into info.
void DecodeLinkMarker(const uint8_t *bytes, lvLinkInfo *info);

// Reads this executable's own marker. The marker is read through a volatile view so the
// compiler can neither fold the unlinked pattern into the code nor drop the record.
void ReadLinkMarker(lvLinkInfo *info);
