// A small writer of Amiga disk fonts for tests: contents files and size files
// (monochrome or colour, with space and kern tables) from glyphs drawn as
// rows of text: '.' is an empty pixel, '#' a set one, a digit a colour pen.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace amiga {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes &b, size_t at, uint32_t v) { b[at] = (uint8_t)(v >> 8); b[at + 1] = (uint8_t)v; }
inline void Put32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (24 - 8 * i));
}

struct Font {
    int ySize = 8, xSize = 8, baseline = 6, flags = 0, lo = 32, hi = 32;
    std::vector<std::vector<std::string>> glyphs; // hi - lo + 2 glyphs of ySize rows
    std::vector<int16_t> spaces, kerns;            // empty: no table
    // Colour fonts: depth, plane pick, colours (0x0RGB); planes holds the
    // plane numbers written, in order.
    bool colour = false;
    int depth = 0, planePick = 0;
    std::vector<uint16_t> colours;
};

// A monochrome font of one character and the fallback glyph.
inline Font OneCharacter(int ySize, int xSize, int baseline, int ch, std::vector<std::vector<std::string>> glyphs)
{
    Font f;
    f.ySize = ySize;
    f.xSize = xSize;
    f.baseline = baseline;
    f.lo = f.hi = ch;
    f.glyphs = std::move(glyphs);
    return f;
}

// The size file: a 32-byte hunk header, the font header, then the strip(s),
// char locations, spaces, kerns and colours; pointers count from byte 32.
inline Bytes SizeFile(const Font &f)
{
    size_t n = f.glyphs.size(), width = 0;
    for (const auto &g : f.glyphs) width += g.empty() ? 0 : g[0].size();
    size_t modulo = (width + 15) / 16 * 2;
    if (modulo == 0) modulo = 2;
    Bytes b(f.colour ? 186 : 142, 0);
    Put32(b, 0, 0x000003F3);
    Put16(b, 50, 0x0F80);
    Put16(b, 110, (uint32_t)f.ySize);
    b[112] = f.colour ? 0x40 : 0;
    b[113] = (uint8_t)f.flags;
    Put16(b, 114, (uint32_t)f.xSize);
    Put16(b, 116, (uint32_t)f.baseline);
    Put16(b, 118, 1);
    b[122] = (uint8_t)f.lo;
    b[123] = (uint8_t)f.hi;
    Put16(b, 128, (uint32_t)modulo);
    // One strip a plane: bit set when the pixel's pen has that plane's bit
    // (monochrome: '#').
    std::vector<int> planes;
    if (f.colour) {
        for (int p = 0; p < f.depth; p++)
            if (f.planePick & (1 << p)) planes.push_back(p);
    } else {
        planes.push_back(0);
    }
    for (size_t pi = 0; pi < planes.size(); pi++) {
        size_t at = b.size();
        b.resize(at + modulo * f.ySize, 0);
        uint32_t pointer = (uint32_t)(at - 32);
        if (f.colour) Put32(b, 154 + 4 * pi, pointer);
        else Put32(b, 124, pointer);
        size_t x = 0;
        for (const auto &g : f.glyphs) {
            for (int row = 0; row < f.ySize; row++)
                for (size_t col = 0; col < g[row].size(); col++) {
                    char c = g[row][col];
                    int pen = c == '#' ? 1 : (c >= '0' && c <= '9') ? c - '0' : 0;
                    bool set = f.colour ? (pen >> planes[pi]) & 1 : pen != 0;
                    if (set) b[at + row * modulo + (x + col) / 8] |= (uint8_t)(0x80 >> ((x + col) % 8));
                }
            x += g.empty() ? 0 : g[0].size();
        }
    }
    size_t at = b.size();
    b.resize(at + 4 * n);
    Put32(b, 130, (uint32_t)(at - 32));
    size_t x = 0;
    for (size_t i = 0; i < n; i++) {
        size_t w = f.glyphs[i].empty() ? 0 : f.glyphs[i][0].size();
        Put32(b, at + 4 * i, (uint32_t)(x << 16 | w));
        x += w;
    }
    for (auto [table, field] : {std::pair{&f.spaces, 134}, std::pair{&f.kerns, 138}}) {
        if (table->empty()) continue;
        at = b.size();
        b.resize(at + 2 * table->size());
        Put32(b, (size_t)field, (uint32_t)(at - 32));
        for (size_t i = 0; i < table->size(); i++) Put16(b, at + 2 * i, (uint16_t)(*table)[i]);
    }
    if (f.colour) {
        b[144] = (uint8_t)f.depth;
        b[148] = (uint8_t)f.planePick;
        at = b.size();
        b.resize(at + 8 + 2 * f.colours.size());
        Put32(b, 150, (uint32_t)(at - 32));
        Put16(b, at + 2, (uint32_t)f.colours.size());
        Put32(b, at + 4, (uint32_t)(at + 8 - 32));
        for (size_t i = 0; i < f.colours.size(); i++) Put16(b, at + 8 + 2 * i, f.colours[i]);
    }
    return b;
}

struct Entry { std::string name; int ySize; };

inline Bytes Contents(const std::vector<Entry> &entries, uint16_t id = 0x0F00)
{
    Bytes b(4, 0);
    Put16(b, 0, id);
    Put16(b, 2, (uint32_t)entries.size());
    for (const Entry &e : entries) {
        Bytes one(260, 0);
        for (size_t i = 0; i < e.name.size() && i < 255; i++) one[i] = (uint8_t)e.name[i];
        Put16(one, 256, (uint32_t)e.ySize);
        b.insert(b.end(), one.begin(), one.end());
    }
    return b;
}

} // namespace amiga
