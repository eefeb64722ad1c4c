// quantize.cpp - the colour quantiser: exact colours, median cut over a 5-6-5
// histogram, a lazily filled inverse colour map, plain and Floyd-Steinberg
// mapping, and the transparent pen of the result.
//
// Depends on: raster/lvquantize.h, raster/lvraster.h, platform/lvplatform.h.
// Limits: script thread only. Every buffer of a job comes from AllocMemory and
// is freed before the call returns; a job that cannot get one reports 0.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/lvplatform.h"
#include "raster/lvquantize.h"
#include "raster/lvraster.h"

namespace {

// ---- Records ----------------------------------------------------------------

enum : int { HIST_BLOCKS = 32, HIST_BLOCK_CELLS = 64 * 32 };

// One box of the median cut: ranges in histogram cells (inclusive).
struct lvColorBox {
    int redMin, redMax;      // 0..31
    int greenMin, greenMax;  // 0..63
    int blueMin, blueMax;    // 0..31
    int64_t volume;          // weighted squared extent
    int64_t colourCount;     // non-zero cells inside
};

// The colours pens map to, one entry per pen (an extra one for the
// transparent entry when all 256 are colours).
struct lvColorMap {
    int count;               // colours the mapper may choose
    int red[257], green[257], blue[257];
    uint8_t used[256];       // pens written for opaque pixels
};

// What a pixel turned out to be for the mappers.
enum : int { PIX_OPAQUE = 0, PIX_TRANSPARENT = 1, PIX_KEEP = 2 };

struct lvQuantizeJob {
    const uint8_t *source;        // first pixel of the source rows
    const uint32_t *sourcePalette;
    int sourceTransparentPen;     // -1 none (8-bit sources)
    int sourceFormat, sourceBytes;
    int sourceX, sourceY, sourceRow;  // row in pixels
    uint8_t *target;
    int targetX, targetY, targetRow;
    int width, height;
    uint32_t *palette;
    int colourCount;
    bool hasTransparent;          // the job has a transparent colour
    uint32_t transparentColour;   // 0x00RRGGBB
    bool reserve, dither, remap, blend;
    int constantAlpha;            // -1 none
    int64_t constantColour;       // -1 none
    int threshold;
    const uint8_t *mask;
    int maskRow;
    const uint8_t *alpha;
    int alphaRow;
    int skipPen;                  // pen the mapping must not choose (-1 none)
    // results
    int done;
    int transparentPen;
};

// The histogram blocks of the last job, kept cleared between jobs: remapping
// runs on every RGB blit onto a pen plane, and small blits should not pay for
// 128 KB of fresh memory each time.
struct lvHistogramCache {
    uint16_t *blocks[HIST_BLOCKS];
    bool filled;  // the blocks are there (all cleared)
};
lvHistogramCache HistogramCache;

// Buffers of one job, freed (or, for the histogram, cleared and kept) on every path.
struct lvJobBuffers {
    lvColorMap *map = nullptr;
    uint16_t *blocks[HIST_BLOCKS] = {};
    uint32_t dirty = 0;           // blocks written since they were cleared
    int *limit = nullptr;         // error limit table, index e + 255
    int16_t *errors = nullptr;    // (width + 2) x 3
    bool TakeBlocks() {
        if (HistogramCache.filled) {
            std::memcpy(blocks, HistogramCache.blocks, sizeof(blocks));
            HistogramCache.filled = false;
            return true;
        }
        for (auto &b : blocks)
            if (!(b = static_cast<uint16_t *>(AllocMemory(HIST_BLOCK_CELLS * sizeof(uint16_t), 1)))) return false;
        return true;
    }
    ~lvJobBuffers() {
        FreeMemory(map);
        FreeMemory(limit);
        FreeMemory(errors);
        bool complete = true;
        for (uint16_t *b : blocks) complete = complete && b;
        if (complete && !HistogramCache.filled) {
            for (int i = 0; i < HIST_BLOCKS; i++)
                if (dirty & (1u << i)) std::memset(blocks[i], 0, HIST_BLOCK_CELLS * sizeof(uint16_t));
            std::memcpy(HistogramCache.blocks, blocks, sizeof(blocks));
            HistogramCache.filled = true;
        } else {
            for (uint16_t *b : blocks) FreeMemory(b);
        }
    }
};

inline uint16_t &Cell(lvJobBuffers &buf, int r, int g, int b) { return buf.blocks[r][g * 32 + b]; }
inline uint16_t &DirtyCell(lvJobBuffers &buf, int r, int g, int b) {
    buf.dirty |= 1u << r;
    return buf.blocks[r][g * 32 + b];
}

// ---- Reading pixels -----------------------------------------------------------

inline const uint8_t *SourceAt(const lvQuantizeJob &j, int x, int y) {
    return j.source + (static_cast<ptrdiff_t>(j.sourceY + y) * j.sourceRow + j.sourceX + x) * j.sourceBytes;
}

// The pixel as 0x00RRGGBB, widened the way locked pixels are read.
uint32_t ReadPixelRgbBytes(const lvQuantizeJob &j, int x, int y) {
    const uint8_t *p = SourceAt(j, x, y);
    switch (j.sourceBytes) {
    case 1: return j.sourcePalette ? (j.sourcePalette[*p] & 0xFFFFFFu) : 0;
    case 2: return PixelToArgb(*reinterpret_cast<const uint16_t *>(p), j.sourceFormat, 0);
    case 3:
        if (j.sourceFormat == PIXFMT_BGR24) return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    default: return PixelToArgb(*reinterpret_cast<const uint32_t *>(p), j.sourceFormat, 0) & 0xFFFFFFu;
    }
}

// Key of the exact-colour pass: the pixel's bits without alpha.
uint32_t PixelKey(const lvQuantizeJob &j, int x, int y) {
    const uint8_t *p = SourceAt(j, x, y);
    switch (j.sourceBytes) {
    case 1: return j.sourcePalette ? j.sourcePalette[*p] : 0;
    case 2: return *reinterpret_cast<const uint16_t *>(p);
    case 3: return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    default: {
        uint32_t w = *reinterpret_cast<const uint32_t *>(p);
        if (j.sourceFormat == PIXFMT_BGRA32 || j.sourceFormat == PIXFMT_RGBA32) return w & 0xFFFFFF00u;
        return w & 0xFFFFFFu;
    }
    }
}

inline bool MaskBit(const lvQuantizeJob &j, int x, int y) {
    int mx = j.sourceX + x;
    return (j.mask[static_cast<ptrdiff_t>(j.sourceY + y) * j.maskRow + (mx >> 3)] >> (7 - (mx & 7))) & 1;
}
inline int AlphaByte(const lvQuantizeJob &j, int x, int y) {
    return j.alpha[static_cast<ptrdiff_t>(j.sourceY + y) * j.alphaRow + j.sourceX + x];
}

inline uint32_t MixRgb(uint32_t old, uint32_t now, int a) {
    int r0 = (old >> 16) & 0xFF, g0 = (old >> 8) & 0xFF, b0 = old & 0xFF;
    int r1 = (now >> 16) & 0xFF, g1 = (now >> 8) & 0xFF, b1 = now & 0xFF;
    int r = r0 + ((a * (r1 - r0)) >> 8), g = g0 + ((a * (g1 - g0)) >> 8), b = b0 + ((a * (b1 - b0)) >> 8);
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

// Colour and transparency of one pixel as both mappers see it. With a target
// pen (for blending) the colour comes back blended.
int ClassifyPixel(const lvQuantizeJob &j, int x, int y, const uint8_t *targetPen, uint32_t *rgb) {
    int alpha = j.constantAlpha;
    if (j.constantColour >= 0 && j.sourceBytes == 1) {
        *rgb = static_cast<uint32_t>(j.constantColour) & 0xFFFFFFu;
        alpha = (alpha < 0 ? 255 : alpha) * *SourceAt(j, x, y) / 255;
    } else {
        *rgb = j.constantColour >= 0 ? (static_cast<uint32_t>(j.constantColour) & 0xFFFFFFu)
                                     : ReadPixelRgbBytes(j, x, y);
    }
    if (j.sourceBytes == 1 && j.constantColour < 0 && *SourceAt(j, x, y) == j.sourceTransparentPen)
        return j.blend ? PIX_KEEP : PIX_TRANSPARENT;
    if (j.mask && !MaskBit(j, x, y)) return j.blend ? PIX_KEEP : PIX_TRANSPARENT;
    if (j.alpha) {
        int a = AlphaByte(j, x, y);
        if (j.blend) {
            if (a == 0) return PIX_KEEP;
            if (a < 255) {
                if (alpha < 0) {
                    if (targetPen) *rgb = MixRgb(j.palette[*targetPen], *rgb, a);
                } else {
                    alpha = (alpha * a / 255) & 0xFF;
                }
            }
        } else if (a <= j.threshold) {
            return PIX_TRANSPARENT;
        }
    } else if (!j.mask && j.hasTransparent && j.sourceBytes != 1 && *rgb == j.transparentColour) {
        return j.blend ? PIX_KEEP : PIX_TRANSPARENT;
    }
    if (alpha >= 0 && alpha != 255) {
        // Nothing of the source shows: the pen stays as it is.
        if (alpha == 0) return PIX_KEEP;
        if (targetPen) *rgb = MixRgb(j.palette[*targetPen], *rgb, alpha);
    }
    return PIX_OPAQUE;
}

inline uint8_t *TargetAt(const lvQuantizeJob &j, int x, int y) {
    return j.target + static_cast<ptrdiff_t>(j.targetY + y) * j.targetRow + j.targetX + x;
}

// ---- Exact colours ------------------------------------------------------------

// Takes the picture's colours as they are when there are few enough. true when done.
bool ExactColourPass(lvQuantizeJob &j) {
    int limit = j.colourCount - ((j.reserve || j.hasTransparent) ? 1 : 0);
    if (limit < 1) return false;
    uint32_t keys[256];
    uint32_t colours[256];
    int n = 0;
    // Open-addressed index of the keys found so far (first-seen order is kept in keys[]).
    int16_t slots[1024];
    std::fill_n(slots, 1024, int16_t(-1));
    auto find = [&](uint32_t key, bool add) -> int {
        unsigned s = (key * 2654435761u) >> 22;
        for (;; s = (s + 1) & 1023) {
            if (slots[s] < 0) {
                if (!add) return -1;
                if (n >= limit) return -2;
                keys[n] = key;
                slots[s] = static_cast<int16_t>(n);
                return n++;
            }
            if (keys[slots[s]] == key) return slots[s];
        }
    };
    for (int y = 0; y < j.height; y++)
        for (int x = 0; x < j.width; x++) {
            uint32_t key = PixelKey(j, x, y);
            int before = n;
            if (find(key, true) == -2) return false;
            if (n != before) colours[before] = j.sourceBytes == 1 ? key : ReadPixelRgbBytes(j, x, y);
        }
    for (int y = 0; y < j.height; y++)
        for (int x = 0; x < j.width; x++) {
            uint32_t rgb;
            bool transparent = j.hasTransparent && ClassifyPixel(j, x, y, nullptr, &rgb) != PIX_OPAQUE;
            *TargetAt(j, x, y) = static_cast<uint8_t>(transparent ? n : find(PixelKey(j, x, y), false));
        }
    for (int i = 0; i < n; i++) j.palette[i] = colours[i];
    if (j.hasTransparent) {
        j.palette[n] = j.transparentColour;
        j.transparentPen = n;
        j.colourCount = n + 1;
    } else {
        j.colourCount = j.reserve ? n + 1 : n;
    }
    j.done = 1;
    return true;
}

// ---- Median cut ---------------------------------------------------------------

void ShrinkColorBox(lvJobBuffers &buf, lvColorBox &box) {
    int rMin = 32, rMax = -1, gMin = 64, gMax = -1, bMin = 32, bMax = -1;
    int64_t count = 0;
    for (int r = box.redMin; r <= box.redMax; r++)
        for (int g = box.greenMin; g <= box.greenMax; g++) {
            const uint16_t *row = &Cell(buf, r, g, 0);
            for (int b = box.blueMin; b <= box.blueMax; b++) {
                if (!row[b]) continue;
                count++;
                rMin = std::min(rMin, r), rMax = std::max(rMax, r);
                gMin = std::min(gMin, g), gMax = std::max(gMax, g);
                bMin = std::min(bMin, b), bMax = std::max(bMax, b);
            }
        }
    box.colourCount = count;
    if (count) {
        box.redMin = rMin, box.redMax = rMax;
        box.greenMin = gMin, box.greenMax = gMax;
        box.blueMin = bMin, box.blueMax = bMax;
    }
    int64_t dr = (box.redMax - box.redMin) * 16, dg = (box.greenMax - box.greenMin) * 12,
            db = (box.blueMax - box.blueMin) * 8;
    box.volume = count ? dr * dr + dg * dg + db * db : 0;
}

void ComputeBoxColor(lvJobBuffers &buf, const lvColorBox &box, int *r, int *g, int *b) {
    int64_t total = 0, sr = 0, sg = 0, sb = 0;
    for (int ri = box.redMin; ri <= box.redMax; ri++)
        for (int gi = box.greenMin; gi <= box.greenMax; gi++)
            for (int bi = box.blueMin; bi <= box.blueMax; bi++) {
                int64_t c = Cell(buf, ri, gi, bi);
                if (!c) continue;
                total += c;
                sr += c * (ri * 8 + 4);
                sg += c * (gi * 4 + 2);
                sb += c * (bi * 8 + 4);
            }
    if (!total) {
        *r = *g = *b = 255;
        return;
    }
    *r = static_cast<int>((sr + total / 2) / total);
    *g = static_cast<int>((sg + total / 2) / total);
    *b = static_cast<int>((sb + total / 2) / total);
}

// Chooses up to `wanted` colours into the colour map; returns how many.
int SelectColors(lvJobBuffers &buf, int wanted, lvColorBox *boxes) {
    int count = 1;
    boxes[0] = {0, 31, 0, 63, 0, 31, 0, 0};
    ShrinkColorBox(buf, boxes[0]);
    while (count < wanted) {
        int pick = -1;
        if (count * 2 <= wanted) {
            int64_t best = 0;
            for (int i = 0; i < count; i++)
                if (boxes[i].volume > 0 && boxes[i].colourCount > best) best = boxes[i].colourCount, pick = i;
        } else {
            int64_t best = 0;
            for (int i = 0; i < count; i++)
                if (boxes[i].volume > best) best = boxes[i].volume, pick = i;
        }
        if (pick < 0) break;
        lvColorBox &old = boxes[pick];
        lvColorBox &cut = boxes[count++];
        cut = old;
        int r = (old.redMax - old.redMin) * 16, g = (old.greenMax - old.greenMin) * 12,
            b = (old.blueMax - old.blueMin) * 8;
        int axis = 1;  // green unless another is strictly larger
        if (r > g) axis = 0;
        if (b > r && b > g) axis = 2;
        int *lo[3] = {&old.redMin, &old.greenMin, &old.blueMin};
        int *hi[3] = {&old.redMax, &old.greenMax, &old.blueMax};
        int *cutLo[3] = {&cut.redMin, &cut.greenMin, &cut.blueMin};
        int mid = (*lo[axis] + *hi[axis]) / 2;
        *hi[axis] = mid;
        *cutLo[axis] = mid + 1;
        ShrinkColorBox(buf, old);
        ShrinkColorBox(buf, cut);
    }
    for (int i = 0; i < count; i++)
        ComputeBoxColor(buf, boxes[i], &buf.map->red[i], &buf.map->green[i], &buf.map->blue[i]);
    return count;
}

// ---- Inverse colour map ---------------------------------------------------------

void FillInverseMapCell(lvJobBuffers &buf, const lvQuantizeJob &j, int cr, int cg, int cb) {
    const lvColorMap &m = *buf.map;
    int r0 = cr & ~3, g0 = cg & ~7, b0 = cb & ~3;
    int lo[3] = {r0 * 8 + 4, g0 * 4 + 2, b0 * 8 + 4};
    int hi[3] = {lo[0] + 24, lo[1] + 28, lo[2] + 24};
    static const int weight[3] = {2, 3, 1};
    // Candidates: colours that can be nearest for some cell of the block.
    int64_t minDist[257];
    int64_t smallestMax = INT64_MAX;
    for (int i = 0; i < m.count; i++) {
        minDist[i] = INT64_MAX;
        if (i == j.skipPen) continue;
        int v[3] = {m.red[i], m.green[i], m.blue[i]};
        int64_t mn = 0, mx = 0;
        for (int c = 0; c < 3; c++) {
            int centre = (lo[c] + hi[c]) / 2;
            if (v[c] < lo[c]) {
                int64_t d = weight[c] * (lo[c] - v[c]);
                mn += d * d;
            } else if (v[c] > hi[c]) {
                int64_t d = weight[c] * (v[c] - hi[c]);
                mn += d * d;
            }
            int far = v[c] <= centre ? hi[c] : lo[c];
            int64_t d = weight[c] * (far - v[c]);
            mx += d * d;
        }
        minDist[i] = mn;
        smallestMax = std::min(smallestMax, mx);
    }
    int candidates[257];
    int nc = 0;
    for (int i = 0; i < m.count; i++)
        if (minDist[i] <= smallestMax) candidates[nc++] = i;
    for (int ir = 0; ir < 4; ir++)
        for (int ig = 0; ig < 8; ig++)
            for (int ib = 0; ib < 4; ib++) {
                int r = (r0 + ir) * 8 + 4, g = (g0 + ig) * 4 + 2, b = (b0 + ib) * 8 + 4;
                int best = nc ? candidates[0] : 0;
                int64_t bestDist = INT64_MAX;
                for (int k = 0; k < nc; k++) {
                    int i = candidates[k];
                    int64_t dr = 2 * (r - m.red[i]), dg = 3 * (g - m.green[i]), db = b - m.blue[i];
                    int64_t d = dr * dr + dg * dg + db * db;
                    if (d < bestDist) bestDist = d, best = i;
                }
                DirtyCell(buf, r0 + ir, g0 + ig, b0 + ib) = static_cast<uint16_t>(best + 1);
            }
}

inline int LookupPen(lvJobBuffers &buf, const lvQuantizeJob &j, uint32_t rgb) {
    int r = (rgb >> 19) & 31, g = (rgb >> 10) & 63, b = (rgb >> 3) & 31;
    uint16_t &cell = Cell(buf, r, g, b);
    if (!cell) FillInverseMapCell(buf, j, r, g, b);
    return cell - 1;
}

// ---- Mapping ----------------------------------------------------------------------

void MapPixelsToPens(lvJobBuffers &buf, const lvQuantizeJob &j, int transparentIndex) {
    if (!j.mask && !j.alpha && j.constantColour < 0 && j.constantAlpha < 0 && j.sourceBytes == 4 &&
        j.sourceFormat == PIXFMT_ARGB32 && !j.hasTransparent) {
        // Plain opaque words: nothing can be transparent or blended.
        for (int y = 0; y < j.height; y++) {
            const uint32_t *s = reinterpret_cast<const uint32_t *>(SourceAt(j, 0, y));
            uint8_t *d = TargetAt(j, 0, y);
            uint32_t last = ~0u;
            int pen = 0;
            for (int x = 0; x < j.width; x++) {
                uint32_t rgb = s[x] & 0xFFFFFFu;
                if (rgb != last) {
                    last = rgb;
                    pen = LookupPen(buf, j, rgb);
                    buf.map->used[pen] = 1;
                }
                d[x] = static_cast<uint8_t>(pen);
            }
        }
        return;
    }
    for (int y = 0; y < j.height; y++)
        for (int x = 0; x < j.width; x++) {
            uint8_t *d = TargetAt(j, x, y);
            uint32_t rgb;
            int kind = ClassifyPixel(j, x, y, d, &rgb);
            if (kind == PIX_KEEP) continue;
            if (kind == PIX_TRANSPARENT) {
                *d = static_cast<uint8_t>(transparentIndex);
                continue;
            }
            int pen = LookupPen(buf, j, rgb);
            buf.map->used[pen] = 1;
            *d = static_cast<uint8_t>(pen);
        }
}

void BuildErrorLimitTable(int *table) {
    for (int e = -255; e <= 255; e++) {
        int a = e < 0 ? -e : e, v;
        if (a <= 15) v = a;
        else if (a <= 47) v = 16 + (a - 16) / 2;
        else v = 32;
        table[e + 255] = e < 0 ? -v : v;
    }
}

void MapPixelsDithered(lvJobBuffers &buf, const lvQuantizeJob &j, int transparentIndex) {
    const lvColorMap &m = *buf.map;
    int16_t *err = buf.errors;
    for (int y = 0; y < j.height; y++) {
        int carry[3] = {0, 0, 0}, belowLeft[3] = {0, 0, 0}, below[3] = {0, 0, 0};
        int x = 0;
        for (; x < j.width; x++) {
            uint8_t *d = TargetAt(j, x, y);
            uint32_t rgb;
            int kind = ClassifyPixel(j, x, y, d, &rgb);
            if (kind != PIX_OPAQUE) {
                if (kind == PIX_TRANSPARENT) *d = static_cast<uint8_t>(transparentIndex);
                err[3 * x] = err[3 * x + 1] = err[3 * x + 2] = 0;
                continue;
            }
            int v[3] = {static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                        static_cast<int>(rgb & 0xFF)};
            for (int c = 0; c < 3; c++) {
                int e = (carry[c] + err[3 * (x + 1) + c] + 8) >> 4;
                e = std::clamp(e, -255, 255);
                v[c] = std::clamp(v[c] + buf.limit[e + 255], 0, 255);
            }
            int pen = LookupPen(buf, j, (uint32_t(v[0]) << 16) | (uint32_t(v[1]) << 8) | uint32_t(v[2]));
            buf.map->used[pen] = 1;
            *d = static_cast<uint8_t>(pen);
            int got[3] = {m.red[pen], m.green[pen], m.blue[pen]};
            for (int c = 0; c < 3; c++) {
                int e = v[c] - got[c];
                err[3 * x + c] = static_cast<int16_t>(belowLeft[c] + 3 * e);
                belowLeft[c] = below[c] + 5 * e;
                below[c] = e;
                carry[c] = 7 * e;
            }
        }
        for (int c = 0; c < 3; c++) err[3 * x + c] = static_cast<int16_t>(belowLeft[c]);
    }
}

// Frees a pen for the transparent pixels of a remap job whose pens are all
// taken: the first unused pen, else the closer pen of the closest pair, whose
// pixels move to its partner. Returns the freed pen.
int FreePenForTransparency(lvJobBuffers &buf, const lvQuantizeJob &j) {
    int count = std::min(j.colourCount, 256);
    for (int p = 0; p < count; p++)
        if (p != j.skipPen && !buf.map->used[p]) return p;
    if (count < 2) return 0;
    int best = 100000, bestB = 0, bestO = 1;
    for (int b = 0; b < count; b++)
        for (int o = 0; o < count; o++) {
            if (b == o) continue;
            int d = PaletteColourDistance(j.palette[b], j.palette[o]);
            if (d < best) best = d, bestB = b, bestO = o;
        }
    for (int y = 0; y < j.height; y++)
        for (int x = 0; x < j.width; x++) {
            uint8_t *d = TargetAt(j, x, y);
            if (*d == bestB) *d = static_cast<uint8_t>(bestO);
        }
    return bestB;
}

// Writes the transparent pen into every transparent pixel (after the mapping
// wrote a placeholder there).
void MarkTransparentPixels(const lvQuantizeJob &j, int pen) {
    for (int y = 0; y < j.height; y++)
        for (int x = 0; x < j.width; x++) {
            uint32_t rgb;
            if (ClassifyPixel(j, x, y, nullptr, &rgb) == PIX_TRANSPARENT) *TargetAt(j, x, y) = static_cast<uint8_t>(pen);
        }
}

void ExchangePens(const lvQuantizeJob &j, int a, int b) {
    for (int y = 0; y < j.height; y++)
        for (int x = 0; x < j.width; x++) {
            uint8_t *d = TargetAt(j, x, y);
            if (*d == a) *d = static_cast<uint8_t>(b);
            else if (*d == b) *d = static_cast<uint8_t>(a);
        }
}

// Median cut or remap, then mapping. false when memory ran out.
bool MedianCutPass(lvQuantizeJob &j, lvJobBuffers &buf) {
    buf.map = static_cast<lvColorMap *>(AllocMemory(sizeof(lvColorMap), 1));
    if (!buf.map) return false;
    if (!buf.TakeBlocks()) return false;
    if (j.dither) {
        buf.limit = static_cast<int *>(AllocMemory(511 * sizeof(int), 0));
        buf.errors = static_cast<int16_t *>(AllocMemory(static_cast<size_t>(j.width + 2) * 3 * sizeof(int16_t), 1));
        if (!buf.limit || !buf.errors) return false;
        BuildErrorLimitTable(buf.limit);
    }
    lvColorMap &m = *buf.map;
    int transparentIndex = -1;  // pen the mapping writes into transparent pixels
    bool freeLater = false;     // a remap that must free a pen afterwards
    if (j.remap) {
        m.count = j.colourCount;
        for (int i = 0; i < m.count; i++) {
            m.red[i] = (j.palette[i] >> 16) & 0xFF;
            m.green[i] = (j.palette[i] >> 8) & 0xFF;
            m.blue[i] = j.palette[i] & 0xFF;
        }
        if (j.hasTransparent && !j.blend) {
            if (j.skipPen >= 0) {
                transparentIndex = j.skipPen;
            } else if (j.colourCount < 256 && j.sourceTransparentPen < 0) {
                transparentIndex = j.colourCount;
            } else {
                transparentIndex = 0;  // placeholder, fixed once a pen is free
                freeLater = true;
            }
        }
    } else {
        int wanted = j.colourCount - ((j.hasTransparent || j.reserve) ? 1 : 0);
        wanted = std::max(wanted, 1);
        for (int y = 0; y < j.height; y++)
            for (int x = 0; x < j.width; x++) {
                uint32_t rgb;
                if (ClassifyPixel(j, x, y, nullptr, &rgb) != PIX_OPAQUE) continue;
                uint16_t &c = DirtyCell(buf, (rgb >> 19) & 31, (rgb >> 10) & 63, (rgb >> 3) & 31);
                if (c != 0xFFFF) c++;
            }
        lvColorBox boxes[256];
        m.count = SelectColors(buf, wanted, boxes);
        for (int i = 0; i < HIST_BLOCKS; i++)
            if (buf.dirty & (1u << i)) std::memset(buf.blocks[i], 0, HIST_BLOCK_CELLS * sizeof(uint16_t));
        buf.dirty = 0;
        if (j.hasTransparent) transparentIndex = m.count;
    }
    if (transparentIndex >= 0 && transparentIndex < 257 && transparentIndex == m.count) {
        m.red[transparentIndex] = (j.transparentColour >> 16) & 0xFF;
        m.green[transparentIndex] = (j.transparentColour >> 8) & 0xFF;
        m.blue[transparentIndex] = j.transparentColour & 0xFF;
    }
    if (j.dither) MapPixelsDithered(buf, j, transparentIndex < 0 ? 0 : transparentIndex);
    else MapPixelsToPens(buf, j, transparentIndex < 0 ? 0 : transparentIndex);
    if (j.remap) {
        if (freeLater) {
            int pen = FreePenForTransparency(buf, j);
            MarkTransparentPixels(j, pen);
            j.transparentPen = pen;
        } else if (transparentIndex >= 0) {
            j.transparentPen = transparentIndex;
            if (transparentIndex == j.colourCount) {
                j.palette[transparentIndex] = j.transparentColour;
                j.colourCount++;
            }
        }
    } else {
        for (int i = 0; i < m.count; i++)
            j.palette[i] = (uint32_t(m.red[i]) << 16) | (uint32_t(m.green[i]) << 8) | uint32_t(m.blue[i]);
        j.colourCount = m.count;
        if (j.hasTransparent) {
            j.palette[m.count] = j.transparentColour;
            j.transparentPen = m.count;
            j.colourCount++;
        } else if (j.reserve) {
            j.palette[m.count] = 0;
            j.colourCount++;
        }
    }
    j.done = 1;
    return true;
}

}  // namespace

void ReleaseQuantizerCache() {
    if (!HistogramCache.filled) return;
    for (uint16_t *&b : HistogramCache.blocks) {
        FreeMemory(b);
        b = nullptr;
    }
    HistogramCache.filled = false;
}

int PaletteColourDistance(uint32_t a, uint32_t b) {
    int ra = (a >> 16) & 0xFF, ga = (a >> 8) & 0xFF, ba = a & 0xFF;
    int rb = (b >> 16) & 0xFF, gb = (b >> 8) & 0xFF, bb = b & 0xFF;
    int64_t rMean = (ra + rb) >> 1;
    int64_t dr = ra - rb, dg = ga - gb, db = ba - bb;
    int64_t sum = (((767 - rMean) * db * db) >> 8) + (((rMean + 512) * dr * dr) >> 8) + 4 * dg * dg;
    return static_cast<int>(std::sqrt(static_cast<double>(sum)));
}

int RemapToPalette(const void *sourcePixels, const uint32_t *sourcePalette, int sourceTransparentPen,
                   int sourceFormat, int sourceBytes, int sourceX, int sourceY, uint8_t *targetPens, int targetX,
                   int targetY, int width, int height, int sourceRowLength, int targetRowLength, uint32_t *palette,
                   int wantedTransparentPen, lvBitMapHandle *mask, lvBitMapHandle *alpha, int *colourCount,
                   int32_t value, int flags, int *transparentPenOut, int alphaThreshold) {
    if (!sourcePixels || !targetPens || !palette || !colourCount || sourceBytes < 1 || sourceBytes > 4) return 0;
    lvQuantizeJob j{};
    j.source = static_cast<const uint8_t *>(sourcePixels);
    j.sourcePalette = sourcePalette;
    j.sourceTransparentPen = sourceBytes == 1 ? sourceTransparentPen : -1;
    j.sourceFormat = sourceFormat;
    j.sourceBytes = sourceBytes;
    j.sourceX = sourceX;
    j.sourceY = sourceY;
    j.sourceRow = sourceRowLength;
    j.target = targetPens;
    j.targetX = targetX;
    j.targetY = targetY;
    j.targetRow = targetRowLength;
    j.width = width;
    j.height = height;
    j.palette = palette;
    j.colourCount = std::clamp(*colourCount, 1, 256);
    j.reserve = flags & QUANT_RESERVE;
    j.dither = flags & QUANT_DITHER;
    j.remap = flags & QUANT_REMAP;
    j.blend = flags & QUANT_BLEND;
    j.constantColour = (flags & QUANT_CONSTCOLOUR) ? (value & 0xFFFFFF) : -1;
    if (flags & QUANT_PIXELALPHA) j.constantAlpha = (flags & QUANT_CONSTCOLOUR) ? ((value >> 24) & 0xFF) : value & 0xFF;
    else j.constantAlpha = (flags & QUANT_CONSTCOLOUR) ? 255 : -1;
    j.threshold = alphaThreshold > 255 ? RasterState.transparentThreshold : alphaThreshold;
    j.skipPen = -1;
    j.transparentPen = -1;
    bool transparencySource = mask || alpha || j.sourceTransparentPen >= 0;
    if (transparencySource && !j.blend) {
        j.hasTransparent = true;
        j.transparentColour =
            (value == -1 || (flags & (QUANT_PIXELALPHA | QUANT_CONSTCOLOUR))) ? 0 : (static_cast<uint32_t>(value) & 0xFFFFFFu);
    }
    uintptr_t maskToken = 0, alphaToken = 0;
    uint8_t *planePixels = nullptr;
    int rowBytes = 0;
    if (mask) {
        if (!(maskToken = GetPlanePixels(mask, &planePixels, &rowBytes, 0))) return 0;
        j.mask = planePixels;
        j.maskRow = rowBytes;
    }
    if (alpha) {
        if (!(alphaToken = GetPlanePixels(alpha, &planePixels, &rowBytes, 0))) {
            ReleasePlanePixels(maskToken);
            return 0;
        }
        j.alpha = planePixels;
        j.alphaRow = rowBytes;
    }
    // Remapping with a wanted transparent pen inside the palette: that pen is
    // kept out of the mapping and receives the transparent pixels, so the
    // palette stays as given and no pen lies past it.
    int wanted = (wantedTransparentPen >= 0 && wantedTransparentPen <= 255) ? wantedTransparentPen : -1;
    if (j.remap && j.hasTransparent && wanted >= 0 && wanted < j.colourCount && j.colourCount > 1)
        j.skipPen = wanted;
    uint32_t saved[256];
    if (flags & QUANT_KEEPPALETTE) std::memcpy(saved, palette, sizeof(saved));
    uint32_t before[256];
    std::memcpy(before, palette, sizeof(before));
    if (width > 0 && height > 0) {
        bool exact = !j.remap && !j.blend && j.constantColour < 0 && ExactColourPass(j);
        if (!exact) {
            lvJobBuffers buf;
            if (!MedianCutPass(j, buf)) std::memcpy(palette, before, sizeof(before));
        }
    } else {
        j.done = 1;
        if (!j.remap) j.colourCount = 0;
    }
    if (j.done && j.transparentPen >= 0 && wanted >= 0 && wanted != j.transparentPen) {
        int t = j.transparentPen;
        ExchangePens(j, t, wanted);
        uint32_t wantedColour = palette[wanted];
        palette[t] = wantedColour;
        // A remap keeps the caller's colour at a pen of its palette.
        palette[wanted] = (j.remap && wanted < std::clamp(*colourCount, 1, 256)) ? wantedColour : j.transparentColour;
        j.transparentPen = wanted;
        j.colourCount = std::max(j.colourCount, wanted + 1);
    }
    if (flags & QUANT_KEEPPALETTE) std::memcpy(palette, saved, sizeof(saved));
    ReleasePlanePixels(alphaToken);
    ReleasePlanePixels(maskToken);
    if (!j.done) return 0;
    *colourCount = j.colourCount;
    if (transparentPenOut) *transparentPenOut = j.transparentPen;
    return 1;
}
