// cdxl_fixture.h - a CDXL file writer built from the format's chunk table (not through
// the runtime's reader), and the pictures a file's pens stand for, computed on their own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct CdxlFixture {
    int width = 16, height = 8;
    int planes = 4;
    int ham = 0;                   // 1: HAM6 (6 planes) or HAM8 (8 planes)
    std::vector<uint16_t> palette; // 0x0RGB entries
    int frames = 4;
    int audioBytes = 0;            // signed 8-bit samples per chunk
    int chunkSize = 0;             // 0: the smallest that holds a chunk
    // pens(frame, x, y) and sample(frame, i); defaults give a moving pattern and a ramp.
    uint8_t (*pens)(int frame, int x, int y) = nullptr;
    int8_t (*sample)(int frame, int i) = nullptr;
};

int CdxlMinimumChunk(const CdxlFixture &f);
std::vector<uint8_t> MakeCdxl(const CdxlFixture &f);
uint8_t CdxlPen(const CdxlFixture &f, int frame, int x, int y);
int8_t CdxlSample(const CdxlFixture &f, int frame, int i);
// The 0x00RRGGBB picture of one frame: palette colours, or HAM rows from black.
std::vector<uint32_t> CdxlReferencePicture(const CdxlFixture &f, int frame);
