// anim_builder.h - IFF ANIM files for the tests: a first frame from the ILBM builder with
// ANHD and DPAN put in by hand, then delta frames whose DLTA bytes the test writes itself.
#pragma once
#include "tests/formats/iff_builder.h"
#include <cstdint>
#include <vector>

struct AnimDeltaFrame {
    int operation = 5, interleave = 0;
    uint32_t bits = 0, relTime = 0;
    Bytes dlta;                    // the whole DLTA payload
    std::vector<uint32_t> cmap;    // a CMAP for this frame when not empty
};

// A DLTA payload: plane p's op list at offset entry p (none when empty), and for method 7
// its data list at entry p + 8.
inline Bytes AnimDlta(const std::vector<Bytes> &ops, const std::vector<Bytes> &lists = {})
{
    Bytes b(64, 0);
    auto place = [&](int entry, const Bytes &data) {
        if (data.empty()) return;
        uint32_t at = (uint32_t)b.size();
        for (int i = 0; i < 4; i++) b[(size_t)entry * 4 + i] = (uint8_t)(at >> (24 - 8 * i));
        b.insert(b.end(), data.begin(), data.end());
    };
    for (size_t p = 0; p < ops.size(); p++) place((int)p, ops[p]);
    for (size_t p = 0; p < lists.size(); p++) place((int)p + 8, lists[p]);
    return b;
}

inline Bytes AnimAnhd(int operation, int interleave, uint32_t bits, uint32_t relTime, int width, int height)
{
    Bytes a(40, 0);
    a[0] = (uint8_t)operation;
    a[2] = (uint8_t)(width >> 8), a[3] = (uint8_t)width, a[4] = (uint8_t)(height >> 8), a[5] = (uint8_t)height;
    for (int i = 0; i < 4; i++) a[14 + i] = (uint8_t)(relTime >> (24 - 8 * i));
    a[18] = (uint8_t)interleave;
    for (int i = 0; i < 4; i++) a[20 + i] = (uint8_t)(bits >> (24 - 8 * i));
    return a;
}

inline Bytes MakeAnim(const IffFixture &first, const std::vector<AnimDeltaFrame> &frames, int dpan = -1,
                      uint32_t firstRelTime = 0)
{
    Bytes ilbm = MakeIff(first);
    Bytes extra;
    IffChunk(extra, "ANHD", AnimAnhd(0, 0, 0, firstRelTime, first.width, first.height));
    if (dpan >= 0) IffChunk(extra, "DPAN", Bytes{0, 4, (uint8_t)(dpan >> 8), (uint8_t)dpan, 0, 0, 0, 0});
    ilbm.insert(ilbm.begin() + 12, extra.begin(), extra.end());
    Bytes body;
    body.insert(body.end(), ilbm.begin() + 12, ilbm.end());
    Bytes all = {'A', 'N', 'I', 'M'};
    auto form = [&](const Bytes &chunks) {
        all.insert(all.end(), {'F', 'O', 'R', 'M'});
        IffPut32(all, (uint32_t)chunks.size() + 4);
        all.insert(all.end(), {'I', 'L', 'B', 'M'});
        all.insert(all.end(), chunks.begin(), chunks.end());
        if (chunks.size() & 1) all.push_back(0);
    };
    form(body);
    for (const AnimDeltaFrame &f : frames) {
        Bytes chunks;
        IffChunk(chunks, "ANHD", AnimAnhd(f.operation, f.interleave, f.bits, f.relTime, first.width, first.height));
        if (!f.cmap.empty()) {
            Bytes cmap;
            for (uint32_t c : f.cmap) cmap.push_back((uint8_t)(c >> 16)), cmap.push_back((uint8_t)(c >> 8)), cmap.push_back((uint8_t)c);
            IffChunk(chunks, "CMAP", cmap);
        }
        IffChunk(chunks, "DLTA", f.dlta);
        form(chunks);
    }
    Bytes file = {'F', 'O', 'R', 'M'};
    IffPut32(file, (uint32_t)all.size());
    file.insert(file.end(), all.begin(), all.end());
    return file;
}
