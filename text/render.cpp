// render.cpp - aligning laid-out runs and drawing them into one text image:
// glyphs from the font, synthetic bold, italic and underline where the font
// does not make them, shadows and borders from the glyph coverage.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "text/lvpluginfont.h"

#include "base/lverrors.h"
#include "images/lveffects.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"
#include "text/lvimagefont.h"
#include "text/lvtextlayout.h"

void StampBorderCoverage(int width, int height, const uint8_t *source, int sourceRowBytes, int radius,
                         uint32_t *accumulation, uint8_t *out, int outRowBytes)
{
    // The square sum is separable: a horizontal box sum of every row, then a
    // vertical box sum of those; 32-bit cells hold (2r + 1)^2 x 255.
    int k = 2 * radius + 1, ow = width + k, oh = height + k;
    std::vector<uint32_t> rows((size_t)ow * (size_t)height, 0);
    for (int y = 0; y < height; y++) {
        const uint8_t *s = source + (size_t)y * sourceRowBytes;
        uint32_t *r = rows.data() + (size_t)y * ow;
        for (int x = 0; x < width; x++) {
            if (!s[x]) continue;
            for (int i = 0; i < k; i++) r[x + i] += s[x];
        }
    }
    std::fill(accumulation, accumulation + (size_t)ow * oh, 0u);
    for (int y = 0; y < height; y++) {
        const uint32_t *r = rows.data() + (size_t)y * ow;
        for (int j = 0; j < k; j++) {
            uint32_t *a = accumulation + (size_t)(y + j) * ow;
            for (int x = 0; x < ow; x++) a[x] += r[x];
        }
    }
    for (int y = 0; y < oh; y++) {
        const uint32_t *a = accumulation + (size_t)y * ow;
        uint8_t *o = out + (size_t)y * outRowBytes;
        for (int x = 0; x < ow; x++) o[x] = (uint8_t)std::min<uint32_t>(255, a[x] / (uint32_t)k);
    }
}

namespace {

// 0xAARRGGBB with AA a transparency: the drawing alpha.
int AlphaOf(uint32_t colour) { return 255 - (int)(colour >> 24); }

struct Painter {
    lvTextImage *image;

    // Draws colour with coverage a (0..255) over the pixel. In pen mode the
    // pixel takes the pen whole: pens do not blend.
    void Over(int x, int y, int a, uint32_t colour, int pen)
    {
        if (a <= 0 || x < 0 || y < 0 || x >= image->width || y >= image->height) return;
        size_t i = (size_t)y * image->width + x;
        if (!image->pens.empty()) {
            image->pens[i] = (uint8_t)pen;
            image->alpha[i] = 255;
            image->rgb[i] = colour & 0xFFFFFF;
            return;
        }
        int below = image->alpha[i];
        colour &= 0xFFFFFF;
        if (a >= 255 || below == 0) {
            image->rgb[i] = colour;
            image->alpha[i] = (uint8_t)std::min(a, 255);
            return;
        }
        int outA = a + below * (255 - a) / 255;
        uint32_t c = image->rgb[i], result = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            int top = (int)(colour >> shift) & 255, bottom = (int)(c >> shift) & 255;
            int v = (top * a * 255 + bottom * below * (255 - a)) / (outA * 255);
            result |= (uint32_t)std::min(255, v) << shift;
        }
        image->rgb[i] = result;
        image->alpha[i] = (uint8_t)outA;
    }

    // A coverage buffer (w x h) drawn in one colour at (x, y).
    void Coverage(const uint8_t *cov, int w, int h, int x, int y, uint32_t colour, int pen)
    {
        int alpha = image->pens.empty() ? AlphaOf(colour) : 255;
        for (int row = 0; row < h; row++)
            for (int col = 0; col < w; col++)
                if (int c = cov[(size_t)row * w + col]) Over(x + col, y + row, c * alpha / 255, colour, pen);
    }
};

// Row r moves right by floor((baseline - r - 1) / 2).
void Shear(std::vector<uint8_t> &scratch, int w, int h, int baseline)
{
    std::vector<uint8_t> row((size_t)w);
    for (int r = 0; r < h; r++) {
        int d = baseline - r - 1;
        int shift = d >= 0 ? d / 2 : -((-d + 1) / 2);
        if (shift == 0) continue;
        uint8_t *p = scratch.data() + (size_t)r * w;
        std::fill(row.begin(), row.end(), 0);
        for (int c = 0; c < w; c++)
            if (c + shift >= 0 && c + shift < w) row[(size_t)(c + shift)] = p[c];
        std::memcpy(p, row.data(), (size_t)w);
    }
}

void ShearWords(std::vector<uint32_t> &scratch, int w, int h, int baseline)
{
    std::vector<uint32_t> row((size_t)w);
    for (int r = 0; r < h; r++) {
        int d = baseline - r - 1;
        int shift = d >= 0 ? d / 2 : -((-d + 1) / 2);
        if (shift == 0) continue;
        uint32_t *p = scratch.data() + (size_t)r * w;
        std::fill(row.begin(), row.end(), 0u);
        for (int c = 0; c < w; c++)
            if (c + shift >= 0 && c + shift < w) row[(size_t)(c + shift)] = p[c];
        std::memcpy(p, row.data(), (size_t)w * 4);
    }
}

struct RunRenderer {
    lvFontManager *fm;
    lvFont *font;
    const lvTextOptions *o;
    lvTextLayout *lay;
    Painter paint;
    bool paletteFont;

    // The glyph coverage in one colour: as Painter::Over pixel by pixel, with
    // the rows clipped once and runs of empty coverage passed eight at a time.
    void PaintPlainCoverage(const uint8_t *cov, int w, int h, int x0, int y0, int alpha, uint32_t colour, int pen)
    {
        lvTextImage *image = paint.image;
        const int iw = image->width, ih = image->height;
        const bool pens = !image->pens.empty();
        const int first = std::max(0, -x0), end = std::min(w, iw - x0);
        for (int row = 0; row < h; row++) {
            int y = y0 + row;
            if (y < 0 || y >= ih || first >= end) continue;
            const uint8_t *g = cov + (size_t)row * w;
            uint8_t *a = image->alpha.data() + (size_t)y * iw;
            uint32_t *rgb = image->rgb.data() + (size_t)y * iw;
            for (int c = first; c < end; c++) {
                if (c + 8 <= end) {
                    uint64_t eight;
                    std::memcpy(&eight, g + c, 8);
                    if (!eight) {
                        c += 7;
                        continue;
                    }
                }
                int v = g[c];
                if (!v) continue;
                int cover = v * alpha / 255;
                if (cover <= 0) continue;
                if (!pens && (cover >= 255 || a[x0 + c] == 0)) {
                    rgb[x0 + c] = colour;
                    a[x0 + c] = (uint8_t)std::min(cover, 255);
                } else {
                    paint.Over(x0 + c, y, cover, colour, pen);
                }
            }
        }
    }

    // The blurred silhouette of a coverage (w x h) grown by trunc(radius) on every
    // side, as the shadow mask builder makes it; empty when it cannot be had.
    static std::vector<uint8_t> SoftSilhouette(const std::vector<uint8_t> &cov, int w, int h, double radius,
                                               double sigma, int *grownW, int *grownH)
    {
        std::vector<uint8_t> out;
        lvBitMapHandle *source = AllocAlphaBitmap(w, h, 1, nullptr, 0);
        if (!source) return out;
        uint8_t *p;
        int row;
        if (uintptr_t t = GetPlanePixels(source, &p, &row, 1)) {
            for (int y = 0; y < h; y++) std::memcpy(p + (size_t)y * row, cov.data() + (size_t)y * w, (size_t)w);
            ReleasePlanePixels(t);
            if (lvBitMapHandle *mask = BuildShadowMask(source, nullptr, nullptr, -1, 0, 0, w, h, radius, sigma, 255,
                                                       0, 0)) {
                if (uintptr_t m = GetPlanePixels(mask, &p, &row, 0)) {
                    *grownW = mask->width, *grownH = mask->height;
                    out.resize((size_t)mask->width * mask->height);
                    for (int y = 0; y < mask->height; y++)
                        std::memcpy(out.data() + (size_t)y * mask->width, p + (size_t)y * row, (size_t)mask->width);
                    ReleasePlanePixels(m);
                }
                FreePlaneBitmap(mask);
            }
        }
        FreePlaneBitmap(source);
        return out;
    }

    int Render(lvTextRun *r, int ix, int iy, int bridge)
    {
        const lvTextMetrics &m = r->metrics;
        int left = -std::min(0, m.minX);
        int w = std::max(m.advance, m.totalWidth) + left + std::max(0, bridge - m.advance);
        int h = lay->fontHeight + 1;
        if (w <= 0 || h <= 0) return 0;
        std::vector<uint8_t> cov((size_t)w * h, 0);
        lvFontPlane plane{cov.data(), w, w, h, LV_PLANE_ALPHA8};
        int flags = r->style.style & FORM_NORMAL ? 0 : r->style.style;
        bool native = StyleIsNative(font, flags);
        bool aa = (flags & FORM_ANTIALIAS) != 0;
        int fontFlags = native ? flags & (FORM_BOLD | FORM_ITALIC | FORM_ANTIALIAS) : flags & FORM_ANTIALIAS;
        if (int err = RenderFontText(fm, font, &plane, left, 0, r->text, (size_t)r->length, fontFlags,
                                     o->charSpacing, o->encoding, nullptr))
            return err;
        // Image fonts draw in their own colours.
        std::vector<uint32_t> colours;
        bool colourFont = font->type == LV_FONT_IMAGE;
        if (colourFont) {
            colours.assign((size_t)w * h, 0);
            RenderImageFontColours(font, colours.data(), w, h, left, 0, r->text, (size_t)r->length, o->charSpacing,
                                   o->encoding);
        }
        std::vector<uint8_t> pens;
        if (paletteFont) {
            pens = cov;
            for (uint8_t &c : cov) c = c ? 255 : 0;
        }
        if (!native && !aa && !paletteFont && !colourFont && (flags & FORM_BOLD)) {
            for (int row = 0; row < h; row++) {
                uint8_t *p = cov.data() + (size_t)row * w;
                for (int c = w - 1; c > 0; c--) p[c] |= p[c - 1];
            }
        }
        if (!native && (flags & FORM_ITALIC)) {
            Shear(cov, w, h, lay->baseline);
            if (paletteFont) Shear(pens, w, h, lay->baseline);
            if (colourFont) ShearWords(colours, w, h, lay->baseline);
        }
        if (flags & FORM_UNDERLINED) {
            int fh = lay->fontHeight, b = lay->baseline, first, thick;
            if (fh - b >= 2) {
                thick = std::max(1, (fh - b) / 3);
                first = b + thick;
            } else {
                thick = 1;
                first = fh - b == 1 ? b + 1 : b;
            }
            int length = std::max(m.advance, bridge);
            for (int row = first; row < first + thick && row < h; row++)
                for (int c = left; c < left + length && c < w; c++) {
                    cov[(size_t)row * w + c] = 255;
                    if (paletteFont) pens[(size_t)row * w + c] = 0;
                    if (colourFont) colours[(size_t)row * w + c] = 0;
                }
        }
        int x0 = ix;
        int y0 = iy;
        // The bordered shape: the glyph coverage spread over the border square.
        std::vector<uint8_t> bordered;
        int r0 = 0, bw = 0, bh = 0;
        // 32-bit colour fonts take soft shadows and borders from the shadow mask builder.
        const bool soft = font->type == LV_FONT_PLUGIN && font->depth == 32;
        if (flags & FORM_BORDER) {
            r0 = std::clamp(r->style.borderSize, 1, 64);
            bw = w + 2 * r0 + 1, bh = h + 2 * r0 + 1;
            bordered.assign((size_t)bw * bh, 0);
            int sw = 0, sh = 0;
            std::vector<uint8_t> blurred;
            if (soft) blurred = SoftSilhouette(cov, w, h, r0, r0 / 3.0, &sw, &sh);
            if (soft && blurred.empty()) return ERR_MEM;
            if (soft) {
                for (int row = 0; row < sh && row < bh; row++)
                    std::memcpy(bordered.data() + (size_t)row * bw, blurred.data() + (size_t)row * sw,
                                (size_t)std::min(sw, bw));
            } else if (aa) {
                std::vector<uint32_t> acc((size_t)bw * bh);
                StampBorderCoverage(w, h, cov.data(), w, r0, acc.data(), bordered.data(), bw);
            } else {
                for (int row = 0; row < h; row++)
                    for (int c = 0; c < w; c++)
                        if (cov[(size_t)row * w + c])
                            for (int j = 0; j <= 2 * r0; j++)
                                std::memset(bordered.data() + (size_t)(row + j) * bw + c, 255, (size_t)(2 * r0 + 1));
            }
        }
        if (flags & FORM_SHADOW) {
            int s = std::clamp(r->style.shadowSize, 1, 64), dx, dy;
            static const int dirs[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
            int d = r->style.shadowDirection;
            if (d < 0 || d > 7) d = SHDWSOUTHEAST;
            dx = dirs[d][0] * s, dy = dirs[d][1] * s;
            int sw = 0, sh = 0;
            std::vector<uint8_t> blurred;
            if (soft) {
                blurred = SoftSilhouette(cov, w, h, 5.0, 5.0 / 3.0, &sw, &sh);
                if (blurred.empty()) return ERR_MEM;
            }
            if (soft)
                paint.Coverage(blurred.data(), sw, sh, x0 + dx - 5, y0 + dy - 5, r->style.shadowColour,
                               r->style.shadowPen);
            else if (flags & FORM_BORDER)
                paint.Coverage(bordered.data(), bw, bh, x0 + dx - r0, y0 + dy - r0, r->style.shadowColour,
                               r->style.shadowPen);
            else
                paint.Coverage(cov.data(), w, h, x0 + dx, y0 + dy, r->style.shadowColour, r->style.shadowPen);
        }
        if (flags & FORM_BORDER)
            paint.Coverage(bordered.data(), bw, bh, x0 - r0, y0 - r0, r->style.borderColour, r->style.borderPen);
        uint32_t colour = r->style.colour;
        bool penMode = !paint.image->pens.empty();
        int alpha = penMode ? 255 : AlphaOf(colour);
        if (alpha < 255 && (flags & FORM_BORDER)) {
            // A see-through text shows the background, not the border, through its glyphs.
            for (int row = 0; row < h; row++)
                for (int c = 0; c < w; c++) {
                    int g = cov[(size_t)row * w + c], x = x0 + c, y = y0 + row;
                    if (!g || x < 0 || y < 0 || x >= paint.image->width || y >= paint.image->height) continue;
                    uint8_t &a = paint.image->alpha[(size_t)y * paint.image->width + x];
                    a = (uint8_t)(a * (255 - g) / 255);
                }
        }
        const uint32_t *palette = paletteFont ? GetFontPalette(font) : nullptr;
        if (!palette && !colourFont) {
            PaintPlainCoverage(cov.data(), w, h, x0, y0, alpha, colour & 0xFFFFFF, r->style.drawPen);
            return 0;
        }
        for (int row = 0; row < h; row++)
            for (int c = 0; c < w; c++) {
                int g = cov[(size_t)row * w + c];
                if (!g) continue;
                uint32_t use = colour;
                int pen = r->style.drawPen;
                if (palette && pens[(size_t)row * w + c]) {
                    use = palette[pens[(size_t)row * w + c]] & 0xFFFFFF;
                    pen = pens[(size_t)row * w + c];
                }
                if (colourFont && colours[(size_t)row * w + c]) use = colours[(size_t)row * w + c] & 0xFFFFFF;
                paint.Over(x0 + c, y0 + row, g * alpha / 255, use, pen);
            }
        return 0;
    }
};

bool Hidden(const lvTextOptions *o, const lvTextRun *r)
{
    if (!o->listMode || o->frame == 0) return false;
    if (o->frameMode == FRAMEMODE_SINGLE) return r->listItem != o->frame - 1;
    return r->listItem >= o->frame;
}

// Moves the runs of each line by the alignment.
void AlignLines(const lvTextOptions *o, lvTextLayout *lay, int alignWidth)
{
    if (o->align == TEXTALIGN_LEFT) return;
    for (lvTextRun *line = lay->runs; line;) {
        lvTextRun *end = line;
        lvTextRun *last = line;
        while (end && end->y == line->y) last = end, end = end->next;
        int gap = alignWidth - (last->x + last->metrics.maxX) - 1;
        if (o->align == TEXTALIGN_RIGHT || o->align == TEXTALIGN_CENTER) {
            int d = o->align == TEXTALIGN_RIGHT ? gap : gap / 2;
            for (lvTextRun *r = line; r != end; r = r->next) r->x += d;
        } else if (gap > 0) {
            int starts = 0;
            for (lvTextRun *r = line->next; r != end; r = r->next) starts += r->wordStart != 0;
            if (starts > 0) {
                // Word starts from the line's first run up to the next line's first.
                int count = (line->wordStart ? 1 : 0) + starts + (end && end->wordStart ? 1 : 0);
                bool follows = end && end->y == line->y + lay->lineHeight;
                if (follows || gap / std::max(1, count) <= 2 * lay->spaceWidth) {
                    while (gap > 0) {
                        for (lvTextRun *r = line->next; r != end && gap > 0; r = r->next) {
                            if (!r->wordStart) continue;
                            for (lvTextRun *s = r; s != end; s = s->next) s->x++;
                            gap--;
                        }
                    }
                }
            }
        }
        line = end;
    }
}

}  // namespace

int RenderTextRuns(lvFontManager *fm, lvFont *font, const lvTextOptions *o, lvTextLayout *lay, int startX,
                   lvTextImage *image)
{
    if (!font) font = fm->topaz;
    *image = lvTextImage{};
    bool firstLineOnly = true;
    for (lvTextRun *r = lay->runs; r; r = r->next)
        if (r->y != 0) firstLineOnly = false;
    if (firstLineOnly && startX) {
        for (lvTextRun *r = lay->runs; r; r = r->next) r->x -= startX;
        image->xShift = startX;
    }
    if (!lay->runs) {
        image->width = 1;
        image->height = lay->fontHeight;
        image->rgb.assign((size_t)image->height, 0);
        image->alpha.assign((size_t)image->height, 0);
        if (o->paletteMode) image->pens.assign((size_t)image->height, 0);
        return 0;
    }
    int leftExt = 0, topExt = 0, right = 0, inkRight = 0, bottomExt = 0, lastY = 0;
    bool aa = false;
    for (lvTextRun *r = lay->runs; r; r = r->next) {
        const lvTextMetrics &m = r->metrics;
        leftExt = std::min(leftExt, r->x + std::min(0, m.minX) + m.leftExtension);
        topExt = std::min(topExt, m.topExtension);
        bottomExt = std::max(bottomExt, m.bottomExtension);
        lastY = std::max(lastY, r->y);
        right = std::max(right, r->x + std::max(m.totalWidth, m.advance) + m.rightExtension);
        inkRight = std::max(inkRight, r->x + m.maxX + 1);
        int f = r->style.style & FORM_NORMAL ? 0 : r->style.style;
        if ((f & FORM_ANTIALIAS) || (r->style.colour >> 24) || ((f & FORM_SHADOW) && (r->style.shadowColour >> 24)) ||
            ((f & FORM_BORDER) && (r->style.borderColour >> 24)))
            aa = true;
    }
    int width = right - leftExt;
    // A word wider than the wrap width overflows; the image keeps it whole
    // and the lines align within the wrap width. The alignment width is an
    // exclusive right edge, as the ink right is: the widest line stays put.
    int alignLimit = o->wrapWidth > 0 ? std::min(width, o->wrapWidth - leftExt) : width;
    int height = lastY + lay->fontHeight + 1 + bottomExt - topExt;
    AlignLines(o, lay, std::min(inkRight, alignLimit));
    // Alignment may move runs right: the image grows with them.
    for (lvTextRun *r = lay->runs; r; r = r->next)
        width = std::max(width, r->x + std::max(r->metrics.totalWidth, r->metrics.advance) +
                                    r->metrics.rightExtension - leftExt);
    if (width < 1) width = 1;
    if ((int64_t)width * height > (int64_t)1 << 28) return ERR_MEM;
    image->width = width;
    image->height = height;
    image->leftExtension = leftExt;
    image->topExtension = topExt;
    image->antialiased = aa;
    try {
        image->rgb.assign((size_t)width * height, 0);
        image->alpha.assign((size_t)width * height, 0);
        if (o->paletteMode) image->pens.assign((size_t)width * height, 0);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    RunRenderer rr{fm, font, o, lay, Painter{image}, GetFontPalette(font) != nullptr && GetFontDepth(font) > 1};
    for (lvTextRun *r = lay->runs; r; r = r->next) {
        if (r->length <= 0 || Hidden(o, r)) continue;
        int bridge = 0;
        if (o->align == TEXTALIGN_JUSTIFIED && r->next && r->next->y == r->y &&
            (r->style.style & FORM_UNDERLINED) && (r->next->style.style & FORM_UNDERLINED) &&
            !(r->next->style.style & FORM_NORMAL))
            bridge = r->next->x - r->x + 1;
        try {
            if (int err = rr.Render(r, r->x + std::min(0, r->metrics.minX) - leftExt, r->y - topExt, bridge)) {
                *image = lvTextImage{};
                return err;
            }
        } catch (const std::bad_alloc &) {
            *image = lvTextImage{};
            return ERR_MEM;
        }
    }
    return 0;
}

namespace {

// A text that needs no runs: TEXTOUT or PRINT in the plain or anti-aliased
// style of a built-in font, drawn in one opaque colour, left-aligned, with
// no tags, tabs, break hints or lists, lines only at line feeds (with a wrap
// width, one line narrower than it), and nothing that makes lines overlap.
// Its lines are split here; 0 means the general layout must run.
struct SimpleLine {
    std::string text;
    int y;
    lvTextMetrics metrics;
};

bool SimpleTextLines(lvFontManager *fm, lvFont *font, const lvTextOptions *o, std::vector<SimpleLine> &lines)
{
    if (o->objectType != LV_TEXT_TEXTOUT && o->objectType != LV_TEXT_PRINT) return false;
    if (font->type == LV_FONT_PLUGIN || font->type == LV_FONT_IMAGE || GetFontPalette(font)) return false;
    if (o->style.style & ~(FORM_NORMAL | FORM_ANTIALIAS)) return false;
    if ((o->style.colour >> 24) || o->listMode || o->wrapTableGiven || o->tabTableGiven || o->paletteMode ||
        o->align != TEXTALIGN_LEFT || o->lineSpacing < 0 || o->charSpacing < 0 || !o->text || !o->length)
        return false;
    bool tags = !o->formatTagsOff, utf8 = o->encoding == 1;
    const char *t = o->text;
    size_t n = o->length;
    std::string line;
    int y = 0, lineHeight = font->height + o->lineSpacing;
    auto close = [&]() {
        if (!line.empty()) lines.push_back({line, y, {}});
        line.clear();
    };
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)t[i];
        if (c == '\t' || (tags && (c == '[' || c == ']'))) return false;
        if (utf8 && c == 0xC2 && i + 1 < n && (unsigned char)t[i + 1] == 0xAD) return false;
        if (utf8 && c == 0xE2 && i + 2 < n && (unsigned char)t[i + 1] == 0x80 && (unsigned char)t[i + 2] == 0x8B)
            return false;
        if (c == '\r') continue;
        if (c == '\n') {
            close();
            y += lineHeight;
            continue;
        }
        line.push_back((char)c);
    }
    close();
    if (lines.empty()) return false;
    // PRINT always wraps; with a wrap width only a single line that stays
    // narrower than it is taken.
    int startX = o->objectType == LV_TEXT_PRINT ? o->cursorX - o->leftMargin : 0;
    if (o->wrapWidth > 0 && (lines.size() != 1 || y != 0)) return false;
    for (SimpleLine &l : lines) {
        lvFontStyle style = o->style;
        if (MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &style, &l.metrics, l.text.data(),
                                l.text.size()))
            return false;
        if (o->wrapWidth > 0 && startX + l.metrics.totalWidth + l.metrics.rightExtension >= o->wrapWidth) return false;
    }
    return true;
}

// The image the general layout makes of such a text, from its lines.
int RenderSimpleText(lvFontManager *fm, lvFont *font, lvTextOptions *o, std::vector<SimpleLine> &lines,
                     lvTextImage *image)
{
    *image = lvTextImage{};
    int startX = o->objectType == LV_TEXT_PRINT ? o->cursorX - o->leftMargin : 0;
    int leftExt = 0, right = 0, lastY = 0;
    for (const SimpleLine &l : lines) {
        const lvTextMetrics &m = l.metrics;
        leftExt = std::min(leftExt, std::min(0, m.minX) + m.leftExtension);
        right = std::max(right, std::max(m.totalWidth, m.advance) + m.rightExtension);
        lastY = std::max(lastY, l.y);
    }
    int width = std::max(1, right - leftExt);
    int height = lastY + font->height + 1;
    if ((int64_t)width * height > (int64_t)1 << 28) return ERR_MEM;
    int flags = o->style.style & FORM_NORMAL ? 0 : o->style.style;
    bool aa = (flags & FORM_ANTIALIAS) != 0;
    try {
        image->rgb.assign((size_t)width * height, 0);
        image->alpha.assign((size_t)width * height, 0);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    image->width = width;
    image->height = height;
    image->leftExtension = leftExt;
    image->antialiased = aa;
    if (startX && lines.size() == 1 && lines[0].y == 0) image->xShift = startX;
    Painter paint{image};
    uint32_t colour = o->style.colour & 0xFFFFFF;
    std::vector<uint8_t> cov;
    for (const SimpleLine &l : lines) {
        const lvTextMetrics &m = l.metrics;
        int left = -std::min(0, m.minX);
        int w = std::max(m.advance, m.totalWidth) + left, h = font->height + 1;
        if (w <= 0) continue;
        cov.assign((size_t)w * h, 0);
        lvFontPlane plane{cov.data(), w, w, h, LV_PLANE_ALPHA8};
        if (int err = RenderFontText(fm, font, &plane, left, 0, l.text.data(), l.text.size(),
                                     flags & FORM_ANTIALIAS, o->charSpacing, o->encoding, nullptr)) {
            *image = lvTextImage{};
            return err;
        }
        int x0 = std::min(0, m.minX) - leftExt;
        for (int row = 0; row < h; row++) {
            const uint8_t *g = cov.data() + (size_t)row * w;
            for (int c = 0; c < w; c++)
                if (g[c]) paint.Over(x0 + c, l.y + row, g[c], colour, 0);
        }
    }
    o->adjustX = image->leftExtension;
    o->adjustY = image->topExtension;
    const SimpleLine &last = lines.back();
    int feeds = 0;
    for (size_t i = 0; i < o->length; i++) feeds += o->text[i] == '\n';
    o->finalY = feeds * (font->height + o->lineSpacing);
    // The pen ends after the last line, or at the start of an empty one.
    bool endsOnLast = last.y == o->finalY;
    o->finalX = endsOnLast ? (lines.size() == 1 && last.y == 0 ? startX : 0) + last.metrics.advance
                           : 0;
    return 0;
}

}  // namespace

bool TextNeedsNoRuns(lvFontManager *fm, lvFont *font, const lvTextOptions *options)
{
    std::vector<SimpleLine> lines;
    if (!font) font = fm->topaz;
    return font && !font->selfLayout && SimpleTextLines(fm, font, options, lines);
}

int LayoutText(lvFontManager *fm, lvFont *font, lvTextOptions *options, lvTextImage *image)
{
    if (!font) font = fm->topaz;
    // Pens do not blend: pen mode draws without anti-aliasing.
    if (options->paletteMode) options->style.style &= ~FORM_ANTIALIAS;
    if (font && font->selfLayout) {
        if (int err = CheckTextRequest(fm, font, options)) return err;
        return LayoutPluginText(font, options, image);
    }
    if (font) {
        if (int err = CheckTextRequest(fm, font, options)) return err;
        std::vector<SimpleLine> lines;
        if (SimpleTextLines(fm, font, options, lines)) {
            if (!options->wrapTableGiven) options->wrapTable.clear();
            if (!options->tabTableGiven) options->tabTable.clear();
            return RenderSimpleText(fm, font, options, lines, image);
        }
    }
    return LayoutTextGeneral(fm, font, options, image);
}

int LayoutTextGeneral(lvFontManager *fm, lvFont *font, lvTextOptions *options, lvTextImage *image)
{
    lvTextLayout layout;
    if (int err = LayoutTextRuns(fm, font, options, &layout)) return err;
    int startX = options->objectType == LV_TEXT_PRINT ? options->cursorX - options->leftMargin : 0;
    if (int err = RenderTextRuns(fm, font, options, &layout, startX, image)) return err;
    options->adjustX = image->leftExtension;
    options->adjustY = image->topExtension;
    return 0;
}

namespace {
int Scaled(int v, double f) { return (int)std::lround(v * f); }
}  // namespace

int LayoutTextTransformed(lvFontManager *fm, lvFont *font, lvTextOptions *options, const double m[4],
                          lvTextImage *image, int smooth)
{
    if (!font) font = fm->topaz;
    if (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1) return LayoutText(fm, font, options, image);
    bool pureScale = m[1] == 0 && m[2] == 0;
    if (pureScale && font->scalable) {
        // The text is laid out again in the scaled font, its metrics scaled
        // with it; mirroring is what is left for the image.
        double fx = std::fabs(m[0]), fy = std::fabs(m[3]);
        lvTextOptions opt = *options;
        opt.wrapWidth = Scaled(opt.wrapWidth, fx);
        opt.leftMargin = Scaled(opt.leftMargin, fx);
        opt.charSpacing = Scaled(opt.charSpacing, fx);
        opt.lineSpacing = Scaled(opt.lineSpacing, fy);
        for (int i = 0; i < LV_TEXT_LEVELS; i++) {
            opt.listSpacing[i] = Scaled(opt.listSpacing[i], fy);
            opt.tabs[i] = Scaled(opt.tabs[i], fx);
        }
        opt.style.shadowSize = std::clamp(Scaled(opt.style.shadowSize, fx), 1, 64);
        opt.style.borderSize = std::clamp(Scaled(opt.style.borderSize, fx), 1, 64);
        if (opt.style.shadowDirection < 0 || opt.style.shadowDirection > 7) opt.style.shadowDirection = SHDWSOUTHEAST;
        ApplyFontScale(fm, font, fx, fy);
        lvTextImage laid;
        int err = LayoutText(fm, font, &opt, &laid);
        ApplyFontScale(fm, font, 1, 1);
        if (err) return err;
        options->finalX = opt.finalX, options->finalY = opt.finalY;
        options->wrapTable = opt.wrapTable, options->tabTable = opt.tabTable;
        if (m[0] < 0 || m[3] < 0)
            return TransformTextImage(laid, m[0] < 0 ? -1 : 1, 0, 0, m[3] < 0 ? -1 : 1, 0, image);
        else
            *image = std::move(laid);
        return 0;
    }
    lvTextImage base;
    if (int err = LayoutText(fm, font, options, &base)) return err;
    return TransformTextImage(base, m[0], m[1], m[2], m[3], smooth, image);
}

int LayoutTextScaledTurned(lvFontManager *fm, lvFont *font, lvTextOptions *options, double scaleX, double scaleY,
                           double angle, int smooth, lvTextImage *image)
{
    if (!font) font = fm->topaz;
    lvMatrix2D whole;
    BuildRotationMatrix(scaleX, scaleY, angle, &whole);
    if (angle == 0 || !font || !font->scalable) {
        const double m[4] = {whole.sx, whole.rx, whole.ry, whole.sy};
        return LayoutTextTransformed(fm, font, options, m, image, smooth);
    }
    // The scale lays the text out again; only the turn is left to the image.
    const double scale[4] = {scaleX, 0, 0, scaleY};
    lvTextImage laid;
    if (int err = LayoutTextTransformed(fm, font, options, scale, &laid, smooth)) return err;
    lvMatrix2D turn;
    BuildRotationMatrix(1, 1, angle, &turn);
    return TransformTextImage(laid, turn.sx, turn.rx, turn.ry, turn.sy, smooth, image);
}
