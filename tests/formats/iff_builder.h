// iff_builder.h - IFF ILBM and PBM files for the tests: chunks by hand, bodies from pens
// (or 0x00RRGGBB words for 24 planes), compressed with literal-only ByteRun1 packets so
// that the runtime's packer plays no part in making its reader's fixtures.
#pragma once
#include "tests/formats/formats_fixtures.h"
#include <cstdint>
#include <string>
#include <vector>

struct IffFixture {
    bool pbm = false;
    int width = 4, height = 2, planes = 2, masking = 0, compression = 1, transparent = 0;
    std::vector<uint32_t> cmap;     // entries; cmapBytes overrides the size when set
    int cmapBytes = -1;
    int64_t camg = -1;              // -1: no CAMG chunk
    std::vector<std::vector<uint8_t>> crng;  // 8-byte CRNG payloads
    std::vector<uint32_t> pixels;   // width x height pens, or 0x00RRGGBB for 24 planes
    bool body = true;
    int bodyCut = 0;                // bytes removed from the end of the BODY
};

inline void IffPut32(Bytes &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(v >> s));
}
inline void IffPut16(Bytes &b, int v) { b.push_back((uint8_t)(v >> 8)), b.push_back((uint8_t)v); }

inline void IffChunk(Bytes &b, const char *tag, const Bytes &data)
{
    b.insert(b.end(), tag, tag + 4);
    IffPut32(b, (uint32_t)data.size());
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
}

inline void IffLiteralRow(Bytes &out, const Bytes &row)
{
    for (size_t at = 0; at < row.size(); at += 128) {
        size_t n = std::min<size_t>(128, row.size() - at);
        out.push_back((uint8_t)(n - 1));
        out.insert(out.end(), row.begin() + at, row.begin() + at + n);
    }
}

inline Bytes MakeIff(const IffFixture &f)
{
    Bytes chunks;
    Bytes bmhd;
    IffPut16(bmhd, f.width), IffPut16(bmhd, f.height), IffPut16(bmhd, 0), IffPut16(bmhd, 0);
    bmhd.push_back((uint8_t)f.planes), bmhd.push_back((uint8_t)f.masking), bmhd.push_back((uint8_t)f.compression);
    bmhd.push_back(0);
    IffPut16(bmhd, f.transparent);
    bmhd.push_back(10), bmhd.push_back(11);
    IffPut16(bmhd, f.width), IffPut16(bmhd, f.height);
    IffChunk(chunks, "BMHD", bmhd);
    if (!f.cmap.empty() || f.cmapBytes >= 0) {
        Bytes cmap;
        for (uint32_t c : f.cmap) cmap.push_back((uint8_t)(c >> 16)), cmap.push_back((uint8_t)(c >> 8)), cmap.push_back((uint8_t)c);
        if (f.cmapBytes >= 0) cmap.resize((size_t)f.cmapBytes);
        IffChunk(chunks, "CMAP", cmap);
    }
    if (f.camg >= 0) {
        Bytes camg;
        IffPut32(camg, (uint32_t)f.camg);
        IffChunk(chunks, "CAMG", camg);
    }
    for (const auto &r : f.crng) IffChunk(chunks, "CRNG", Bytes(r.begin(), r.end()));
    IffChunk(chunks, "ANNO", Bytes{'t', 'e', 's', 't', '!'});
    if (f.body) {
        Bytes body;
        int rowBytes = ((f.width + 15) >> 3) & ~1;
        for (int y = 0; y < f.height; y++) {
            std::vector<Bytes> rows;
            if (f.pbm) {
                Bytes row;
                for (int x = 0; x < f.width; x++) row.push_back((uint8_t)f.pixels[(size_t)y * f.width + x]);
                if (f.width & 1) row.push_back(0);
                rows.push_back(row);
            } else {
                int bits = f.planes == 24 ? 24 : f.planes;
                for (int k = 0; k < bits; k++) {
                    Bytes row((size_t)rowBytes, 0);
                    for (int x = 0; x < f.width; x++) {
                        uint32_t v = f.pixels[(size_t)y * f.width + x];
                        int bit = f.planes == 24 ? (k < 8 ? 16 + k : k < 16 ? k : k - 16) : k;
                        if (v >> bit & 1) row[x >> 3] |= (uint8_t)(0x80 >> (x & 7));
                    }
                    rows.push_back(row);
                }
                if (f.masking == 1) rows.push_back(Bytes((size_t)rowBytes, 0xFF));
            }
            if (f.compression && f.planes == 24 && !f.pbm) {
                Bytes all;
                for (auto &r : rows) all.insert(all.end(), r.begin(), r.end());
                IffLiteralRow(body, all);
            } else {
                for (auto &r : rows) {
                    if (f.compression) IffLiteralRow(body, r);
                    else body.insert(body.end(), r.begin(), r.end());
                }
            }
        }
        body.resize(body.size() - (size_t)f.bodyCut);
        IffChunk(chunks, "BODY", body);
    }
    Bytes b = {'F', 'O', 'R', 'M'};
    IffPut32(b, (uint32_t)(chunks.size() + 4));
    const char *type = f.pbm ? "PBM " : "ILBM";
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}
