// gif_builder.h - GIF files for the tests, from a small encoder of our own that shares
// nothing with the runtime's writer: its LZW stream holds only root codes (a clear code
// before the table would widen the codes), or the raw codes a test lists.
#pragma once
#include "tests/formats/formats_fixtures.h"
#include <cstdint>
#include <vector>

struct GifFrameFixture {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint8_t> pens;          // width x height, row by row (display order)
    int disposal = 0;
    int transparent = -1;
    int delay = 0;                      // hundredths
    bool interlaced = false;
    std::vector<uint32_t> localTable;   // 0x00RRGGBB; empty: none
    int minCodeSize = 8;
    std::vector<int> rawCodes;          // when set: these codes replace the encoded stream
    int rawCodeWidth = 0;               // bits of every raw code
    bool noGraphicControl = false;
};

struct GifFixture {
    int width = 8, height = 6;
    std::vector<uint32_t> globalTable;  // power-of-two size or empty
    int background = 0;
    std::vector<GifFrameFixture> frames;
    bool trailer = true;
};

inline void GifPut16(Bytes &b, int v)
{
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}

inline int GifTableBits(size_t entries)
{
    int bits = 1;
    while ((size_t)1 << bits < entries) bits++;
    return bits;
}

inline void GifPutTable(Bytes &b, const std::vector<uint32_t> &table)
{
    size_t n = (size_t)1 << GifTableBits(table.size());
    for (size_t i = 0; i < n; i++) {
        uint32_t c = i < table.size() ? table[i] : 0;
        b.push_back((uint8_t)(c >> 16)), b.push_back((uint8_t)(c >> 8)), b.push_back((uint8_t)c);
    }
}

// Bits least significant first into sub-blocks of 255 bytes.
inline void GifPutCodes(Bytes &b, const std::vector<std::pair<int, int>> &codes)
{
    Bytes data;
    uint32_t acc = 0;
    int n = 0;
    for (auto [code, width] : codes) {
        acc |= (uint32_t)code << n, n += width;
        while (n >= 8) data.push_back((uint8_t)acc), acc >>= 8, n -= 8;
    }
    if (n) data.push_back((uint8_t)acc);
    for (size_t at = 0; at < data.size(); at += 255) {
        size_t len = std::min<size_t>(255, data.size() - at);
        b.push_back((uint8_t)len);
        b.insert(b.end(), data.begin() + at, data.begin() + at + len);
    }
    b.push_back(0);
}

inline Bytes MakeGif(const GifFixture &f)
{
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    GifPut16(b, f.width), GifPut16(b, f.height);
    b.push_back(f.globalTable.empty() ? 0 : (uint8_t)(0x80 | 0x70 | (GifTableBits(f.globalTable.size()) - 1)));
    b.push_back((uint8_t)f.background), b.push_back(0);
    if (!f.globalTable.empty()) GifPutTable(b, f.globalTable);
    for (const GifFrameFixture &fr : f.frames) {
        if (!fr.noGraphicControl) {
            b.insert(b.end(), {0x21, 0xF9, 0x04});
            b.push_back((uint8_t)(fr.disposal << 2 | (fr.transparent >= 0 ? 1 : 0)));
            GifPut16(b, fr.delay);
            b.push_back((uint8_t)(fr.transparent >= 0 ? fr.transparent : 0));
            b.push_back(0);
        }
        b.push_back(0x2C);
        GifPut16(b, fr.x), GifPut16(b, fr.y), GifPut16(b, fr.width), GifPut16(b, fr.height);
        uint8_t packed = fr.interlaced ? 0x40 : 0;
        if (!fr.localTable.empty()) packed |= (uint8_t)(0x80 | (GifTableBits(fr.localTable.size()) - 1));
        b.push_back(packed);
        if (!fr.localTable.empty()) GifPutTable(b, fr.localTable);
        b.push_back((uint8_t)fr.minCodeSize);
        std::vector<std::pair<int, int>> codes;
        if (!fr.rawCodes.empty()) {
            for (int c : fr.rawCodes) codes.push_back({c, fr.rawCodeWidth});
        } else {
            int clear = 1 << fr.minCodeSize, width = fr.minCodeSize + 1;
            // Stored order: interlaced frames store rows by passes.
            std::vector<int> order;
            if (fr.interlaced) {
                for (int y = 0; y < fr.height; y += 8) order.push_back(y);
                for (int y = 4; y < fr.height; y += 8) order.push_back(y);
                for (int y = 2; y < fr.height; y += 4) order.push_back(y);
                for (int y = 1; y < fr.height; y += 2) order.push_back(y);
            } else {
                for (int y = 0; y < fr.height; y++) order.push_back(y);
            }
            int sinceClear = clear;  // forces a clear first
            for (int y : order)
                for (int x = 0; x < fr.width; x++) {
                    if (sinceClear >= clear - 2) codes.push_back({clear, width}), sinceClear = 0;
                    codes.push_back({fr.pens[(size_t)y * fr.width + x], width});
                    sinceClear++;
                }
            codes.push_back({clear + 1, width});
        }
        GifPutCodes(b, codes);
    }
    if (f.trailer) b.push_back(0x3B);
    return b;
}
