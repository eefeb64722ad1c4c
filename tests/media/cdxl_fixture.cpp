// cdxl_fixture.cpp - see cdxl_fixture.h.
#include "cdxl_fixture.h"

namespace {

void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)(v >> 24), b[at + 1] = (uint8_t)(v >> 16), b[at + 2] = (uint8_t)(v >> 8), b[at + 3] = (uint8_t)v;
}
void Put16(std::vector<uint8_t> &b, size_t at, int v) { b[at] = (uint8_t)(v >> 8), b[at + 1] = (uint8_t)v; }
int RowBytes(int width) { return (width + 15) / 16 * 2; }

uint32_t Expand(uint16_t c)
{
    uint32_t r = (c >> 8) & 15, g = (c >> 4) & 15, b = c & 15;
    return r * 17 << 16 | g * 17 << 8 | b * 17;
}

} // namespace

uint8_t CdxlPen(const CdxlFixture &f, int frame, int x, int y)
{
    if (f.pens) return f.pens(frame, x, y);
    return (uint8_t)((x + 3 * y + 5 * frame) & ((1 << f.planes) - 1));
}

int8_t CdxlSample(const CdxlFixture &f, int frame, int i)
{
    if (f.sample) return f.sample(frame, i);
    return (int8_t)((i * 7 + frame * 13) & 0xFF);
}

int CdxlMinimumChunk(const CdxlFixture &f)
{
    return 32 + (int)f.palette.size() * 2 + f.planes * RowBytes(f.width) * f.height + f.audioBytes;
}

std::vector<uint8_t> MakeCdxl(const CdxlFixture &f)
{
    int chunk = f.chunkSize ? f.chunkSize : CdxlMinimumChunk(f);
    int rowBytes = RowBytes(f.width);
    std::vector<uint8_t> out((size_t)chunk * f.frames, 0);
    for (int n = 0; n < f.frames; n++) {
        size_t base = (size_t)chunk * n;
        out[base] = 1;
        out[base + 1] = f.ham ? 1 : 0;
        Put32(out, base + 2, (uint32_t)chunk);
        Put32(out, base + 6, n ? (uint32_t)chunk : 0);
        Put32(out, base + 10, (uint32_t)n);
        Put16(out, base + 14, f.width);
        Put16(out, base + 16, f.height);
        out[base + 19] = (uint8_t)f.planes;
        Put16(out, base + 20, (int)f.palette.size() * 2);
        Put16(out, base + 22, f.audioBytes);
        size_t at = base + 32;
        for (uint16_t c : f.palette) Put16(out, at, c), at += 2;
        for (int k = 0; k < f.planes; k++)
            for (int y = 0; y < f.height; y++)
                for (int x = 0; x < f.width; x++)
                    if (CdxlPen(f, n, x, y) >> k & 1)
                        out[at + ((size_t)k * f.height + y) * rowBytes + x / 8] |= (uint8_t)(0x80 >> (x % 8));
        at += (size_t)f.planes * f.height * rowBytes;
        for (int i = 0; i < f.audioBytes; i++) out[at + i] = (uint8_t)CdxlSample(f, n, i);
    }
    return out;
}

std::vector<uint32_t> CdxlReferencePicture(const CdxlFixture &f, int frame)
{
    std::vector<uint32_t> pal(256, 0);
    for (size_t i = 0; i < f.palette.size() && i < 256; i++) pal[i] = Expand(f.palette[i]);
    std::vector<uint32_t> out((size_t)f.width * f.height);
    int bits = f.planes > 6 ? 6 : 4; // the modify value's bits (HAM8: 6, HAM6: 4)
    for (int y = 0; y < f.height; y++) {
        uint32_t r = 0, g = 0, b = 0;
        for (int x = 0; x < f.width; x++) {
            int pen = CdxlPen(f, frame, x, y);
            uint32_t c;
            if (!f.ham) {
                c = pal[pen];
            } else {
                int control = pen >> bits, value = (pen & ((1 << bits) - 1)) << (8 - bits);
                if (control == 0) {
                    uint32_t p = pal[pen & ((1 << bits) - 1)];
                    r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
                } else if (control == 1) {
                    b = (uint32_t)value;
                } else if (control == 2) {
                    r = (uint32_t)value;
                } else {
                    g = (uint32_t)value;
                }
                c = r << 16 | g << 8 | b;
            }
            out[(size_t)y * f.width + x] = c;
        }
    }
    return out;
}
