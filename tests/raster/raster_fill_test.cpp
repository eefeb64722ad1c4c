// Flood fills and colour keys: boundary fill seeding and border rules, the
// replace fill on uniform and narrow planes, colour-key masks and replacement
// lists, and two 2000 x 2000 mazes filled by both fills on a thread with a
// 256 KiB stack (no recursion may eat it).
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

#include "raster/lvfill.h"

namespace {

struct Plane {
    int w, h;
    std::vector<uint8_t> px;
    std::vector<uint8_t> bytes;
    Plane(const std::vector<std::string> &rows) : w(int(rows[0].size())), h(int(rows.size())) {
        for (auto &r : rows)
            for (char c : r) px.push_back(c == '#' ? 1 : c == '*' ? 2 : c == '+' ? 3 : 0);
        bytes.assign(px.size(), 0);
    }
    lvFillJob Job(uint32_t border, uint32_t fill, int replace = 0) {
        lvFillJob j{};
        j.pixels = px.data();
        j.width = w;
        j.height = h;
        j.rowLength = w;
        j.bytesPerPixel = 1;
        j.borderColour = border;
        j.fillColour = fill;
        j.replace = replace;
        j.bytePlane = bytes.data();
        j.bytePlaneRowBytes = w;
        j.byteValue = 0x7F;
        return j;
    }
    std::vector<std::string> Text() const {
        std::vector<std::string> rows;
        for (int y = 0; y < h; y++) {
            std::string r;
            for (int x = 0; x < w; x++) r += ".#*+"[px[y * w + x]];
            rows.push_back(r);
        }
        return rows;
    }
};

TEST(Fill, BoundaryFillKeepsToItsRing) {
    std::vector<std::string> ring = {"..........", ".######...", ".#....#...", ".#.**.#...", ".#****#...",
                                     ".#....#...", ".######...", ".........."};
    Plane p(ring);
    lvFillJob j = p.Job(1, 2);
    BoundaryFill8(&j, 2, 2);
    EXPECT_EQ(p.Text(), (std::vector<std::string>{"..........", ".######...", ".#****#...", ".#****#...",
                                                  ".#****#...", ".#....#...", ".######...", ".........."}));
    // The row of fill colour is passed through but never seeds the row below it.
    EXPECT_EQ(p.bytes[2 * 10 + 2], 0x7F);
    EXPECT_EQ(p.bytes[5 * 10 + 2], 0);
    // Seeded on a border pixel: nothing changes.
    Plane q(ring);
    lvFillJob k = q.Job(1, 2);
    BoundaryFill8(&k, 1, 1);
    EXPECT_EQ(q.Text(), ring);
}

TEST(Fill, BoundaryFill32IgnoresTheAlphaByte) {
    // A ring of red whose alpha bytes differ; the border colour has none.
    const int w = 6, h = 5;
    std::vector<uint32_t> px(w * h, 0x00FFFFFF);
    for (int x = 0; x < w; x++) px[x] = 0x00FF0000, px[(h - 1) * w + x] = 0x80FF0000;
    for (int y = 0; y < h; y++) px[y * w] = 0x80FF0000, px[y * w + w - 1] = 0x00FF0000;
    lvFillJob j{};
    j.pixels = reinterpret_cast<uint8_t *>(px.data());
    j.width = w, j.height = h, j.rowLength = w, j.bytesPerPixel = 4;
    j.borderColour = 0xFF0000;
    j.fillColour = 0xFF00FF00;
    BoundaryFill32(&j, 2, 2, 0xFFFFFF);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            bool inside = x > 0 && y > 0 && x < w - 1 && y < h - 1;
            EXPECT_EQ(px[y * w + x] == 0xFF00FF00u, inside) << x << "," << y;
        }
}

TEST(Fill, ReplaceFillFillsUniformAndNarrowPlanes) {
    std::vector<std::string> rows(100, std::string(100, '.'));
    Plane p(rows);
    lvFillJob j = p.Job(0, 3, 1);
    SeedFillSpans(&j, 40, 70);
    for (size_t i = 0; i < p.px.size(); i++) {
        ASSERT_EQ(p.px[i], 3) << i;
        ASSERT_EQ(p.bytes[i], 0x7F) << i;
    }
    // 3 x 5: the 4-connected area of the seed, left of it and above it too.
    Plane n({"..#", "#..", ".#.", "...", "#.#"});
    lvFillJob k = n.Job(0, 2, 1);
    BoundaryFill8(&k, 2, 2);  // the replace flag routes to the span fill
    EXPECT_EQ(n.Text(), (std::vector<std::string>{"**#", "#**", "*#*", "***", "#*#"}));
    // A seed already of the fill colour, or outside the plane, does nothing.
    Plane s({"*.", ".."});
    lvFillJob m = s.Job(0, 2, 1);
    SeedFillSpans(&m, 0, 0);
    SeedFillSpans(&m, 5, 0);
    EXPECT_EQ(s.Text(), (std::vector<std::string>{"*.", ".."}));
}

TEST(Fill, ColourKeysAndReplacementLists) {
    std::vector<uint32_t> px = {0x00000000, 0xFF000000, 0x00000001, 0x12000000, 0x00FFFFFF, 0x80000000, 0, 0, 0};
    uint8_t mask[2] = {0, 0xFF};
    MaskFromColorKey(px.data(), mask, 9, 1, 2, 0, 9, 0xFFFFFF);
    EXPECT_EQ(mask[0], 0x28);  // bits of 0x00000001 and 0x00FFFFFF
    EXPECT_EQ(mask[1], 0x7F);  // bits past the width stay as they were
    const uint32_t P = 0x00112233, Q = 0x00445566, R = 0x00778899;
    std::vector<uint32_t> colours = {P, Q, R, 0xFF000000 | P};
    const uint32_t swap[] = {P, Q, Q, P, 0xFFFFFFFF};
    ReplaceColorsArgb(4, 1, swap, colours.data(), 4, 0xFFFFFF);
    EXPECT_EQ(colours, (std::vector<uint32_t>{P, P, R, P}));
    const uint32_t chain[] = {P, Q, Q, R, 0xFFFFFFFF};
    ReplaceColorsArgb(4, 1, chain, colours.data(), 4, 0xFFFFFF);
    EXPECT_EQ(colours, (std::vector<uint32_t>{R, R, R, R}));
    std::vector<uint8_t> pens = {1, 2, 3, 4};
    const uint32_t penPairs[] = {0x101, 0x202, 2, 7, 0xFFFFFFFF};
    ReplacePens(4, 1, penPairs, pens.data(), 4);
    EXPECT_EQ(pens, (std::vector<uint8_t>{7, 7, 3, 4}));  // 1 -> 2 -> 7 by the low bytes
}

// ---- Mazes on a small stack ------------------------------------------------------

enum { kSide = 2000 };

// Columns of wall with a gap at the top and the bottom in turn: one corridor
// that snakes through the whole plane.
std::vector<uint8_t> CombMaze() {
    std::vector<uint8_t> m(size_t(kSide) * kSide, 0);
    for (int x = 1; x < kSide; x += 2) {
        int gap = (x / 2) % 2 ? kSide - 1 : 0;
        for (int y = 0; y < kSide; y++)
            if (y != gap) m[size_t(y) * kSide + x] = 1;
    }
    return m;
}

// Nested square rings, each with one gap, the gaps on alternating sides.
std::vector<uint8_t> SpiralMaze() {
    std::vector<uint8_t> m(size_t(kSide) * kSide, 0);
    for (int k = 1; 2 * k < kSide / 2; k += 2) {
        int lo = k, hi = kSide - 1 - k;
        for (int i = lo; i <= hi; i++) {
            m[size_t(lo) * kSide + i] = m[size_t(hi) * kSide + i] = 1;
            m[size_t(i) * kSide + lo] = m[size_t(i) * kSide + hi] = 1;
        }
        int gap = (k / 2) % 2 ? lo + 1 : hi - 1;
        m[size_t(gap) * kSide + lo] = 0;  // a gap in the left wall
    }
    return m;
}

struct MazeRun {
    std::vector<uint8_t> *plane;
    int replace;
};

void *RunMaze(void *arg) {
    auto *r = static_cast<MazeRun *>(arg);
    lvFillJob j{};
    j.pixels = r->plane->data();
    j.width = j.height = j.rowLength = kSide;
    j.bytesPerPixel = 1;
    j.borderColour = 1;
    j.fillColour = 2;
    j.replace = r->replace;
    BoundaryFill8(&j, 0, 0);
    return nullptr;
}

TEST(Fill, MazesFillCompletelyOnA256KiBStack) {
    for (int maze = 0; maze < 2; maze++)
        for (int replace = 0; replace < 2; replace++) {
            std::vector<uint8_t> plane = maze ? SpiralMaze() : CombMaze();
            std::vector<uint8_t> before = plane;
            MazeRun run{&plane, replace};
            pthread_attr_t attr;
            pthread_attr_init(&attr);
            pthread_attr_setstacksize(&attr, 256 * 1024);
            pthread_t t;
            ASSERT_EQ(pthread_create(&t, &attr, RunMaze, &run), 0);
            pthread_join(t, nullptr);
            pthread_attr_destroy(&attr);
            size_t open = 0, wrong = 0;
            for (size_t i = 0; i < plane.size(); i++) {
                if (before[i] == 1) {
                    wrong += plane[i] != 1;
                } else {
                    open++;
                    wrong += plane[i] != 2;
                }
            }
            EXPECT_GT(open, size_t(kSide) * kSide / 3);
            EXPECT_EQ(wrong, 0u) << "maze " << maze << " replace " << replace;
        }
}

}  // namespace
