// lvtextlayout.h - laying text out and drawing it: the options of one layout
// request, the styled runs placed on lines (word wrapping, tab stops, list
// bullets, inline format tags), the alignment of the lines and the text image
// the runs are rendered into (bold, italic, underline, shadows and borders).
//
// Files: layout.cpp (the run builder and the tag grammar), bullets.cpp (list
// bullets and their numbers), render.cpp (alignment and styled glyphs).
// All state of one request lives in its lvTextLayout; nothing here is static,
// so a re-render may lay text out while another layout is in progress.
//
// Depends on: text/lvtextlib.h (fonts, styles, measuring).
// Limits: script thread only (the font manager is not locked).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/lvtextlib.h"

enum : int { TEXTALIGN_LEFT = -90000, TEXTALIGN_RIGHT = -80000, TEXTALIGN_CENTER = -100000,
             TEXTALIGN_JUSTIFIED = -110001 };
enum : int { LV_TEXT_TEXTOUT = 9, LV_TEXT_PRINT = 11 };
enum : int { FRAMEMODE_FULL = 0, FRAMEMODE_SINGLE = 1 };
enum : int {
    BULLET_NONE = 0, BULLET_DASH = 1, BULLET_CROSS = 2, BULLET_CIRCLE = 3, BULLET_BOX = 4, BULLET_CHECKMARK = 5,
    BULLET_ARROW = 6, BULLET_DIAMOND = 7, BULLET_NUMERIC = 8, BULLET_NUMERICSINGLE = 9, BULLET_NUMERICDOUBLE = 10,
    BULLET_LALPHA = 11, BULLET_LALPHASINGLE = 12, BULLET_LALPHADOUBLE = 13, BULLET_UALPHA = 14,
    BULLET_UALPHASINGLE = 15, BULLET_UALPHADOUBLE = 16, BULLET_LROMAN = 17, BULLET_LROMANSINGLE = 18,
    BULLET_LROMANDOUBLE = 19, BULLET_UROMAN = 20, BULLET_UROMANSINGLE = 21, BULLET_UROMANDOUBLE = 22,
    BULLET_HOLLOWCIRCLE = 23,
};
#define LV_TEXT_LEVELS 32

// Resolves "#NAME" in a tag's value: 0 and the number, or an error code.
typedef int (*lvTagConstantLookup)(void *context, const char *name, size_t length, int *value);

// One layout request.
struct lvTextOptions {
    int x, y;                         // TEXTOUT position; re-renders
    int adjustX, adjustY;             // set by the layout: the image's left and top extension
    lvFontStyle style;
    const char *text;                 // bytes in the encoding, length of them
    size_t length;
    int objectType;                   // LV_TYPE_TEXTOBJECT, LV_TEXT_TEXTOUT, LV_TEXT_PRINT
    int align;                        // TEXTALIGN_
    int cursorX, cursorY;             // PRINT
    int leftMargin;                   // PRINT
    int wrapWidth;                    // 0 none; PRINT: the right margin
    int tabs[LV_TEXT_LEVELS];         // ascending
    int tabCount;
    std::vector<int> wrapTable;       // indices of the words that begin a line
    int wrapTableGiven;               // replay wrapTable instead of wrapping by width
    std::vector<int> tabTable;        // per tab: the stop it went to, -1 next line
    int tabTableGiven;
    int encoding;                     // 0 ISO-8859-1, 1 UTF-8
    int listMode;
    int listIndent[LV_TEXT_LEVELS], listBullet[LV_TEXT_LEVELS];
    int listOffset[LV_TEXT_LEVELS], listSpacing[LV_TEXT_LEVELS];
    int frame, frameCount, frameMode; // frame 0: the whole list
    int lineSpacing, charSpacing;
    int tagsUsed;                     // set by the layout
    int simpleList;
    int formatTagsOff;
    int paletteMode;                  // pens instead of colours in tags
    lvTagConstantLookup lookup;       // "#NAME" values (null: refused)
    void *lookupContext;
    int finalX, finalY;               // set by the layout: where PRINT's cursor goes
};

// Encoding, LEFT, one frame, the default list options; everything else 0.
void InitTextOptions(lvTextOptions *options, int encoding);

// One run of text of one style on one line.
struct lvTextRun {
    lvTextRun *next;
    const char *text;                 // into the layout's buffer, the hyphen copy or a bullet text
    int length;
    int x, y;                         // x relative to the left margin, y the top of the line
    int wordStart;
    int bulletType;                   // 0 text, 1..23 bullets, above a code point
    int listItem;
    int lineBreakAfter;
    int softHyphen;
    lvTextMetrics metrics;
    lvFontStyle style;
    char *hyphenText;                 // the text and "-" (soft-hyphen runs at a line end)
};

struct lvBulletText {
    lvBulletText *next;
    int type, number;
    char text[64];
};

// The result of laying text out: the runs and what they point into.
struct lvTextLayout {
    lvTextRun *runs;
    lvBulletText *bullets;
    char *buffer;
    int fontHeight, baseline, lineHeight, spaceWidth;
    int finalX, finalY;
    lvTextLayout();
    ~lvTextLayout();
    lvTextLayout(const lvTextLayout &) = delete;
    lvTextLayout &operator=(const lvTextLayout &) = delete;
    void Clear();
};

// The checks every request passes first, in order: 1255, 1585, 1055, and
// 1625 for list mode with a font that lays text out itself. 0 or the code.
int CheckTextRequest(lvFontManager *fm, lvFont *font, const lvTextOptions *options);

// Validates the options and builds the runs (without alignment). 0, or
// 1255, 1585, 1055, 1066, 1094, 1108, 1251, 1252, 1253, 1658, 1659, 1024, 1000.
int LayoutTextRuns(lvFontManager *fm, lvFont *font, lvTextOptions *options, lvTextLayout *layout);

// The text of a numbered or symbol bullet into out (size bytes, always ended
// by a 0; a text too long for it is cut). fontType: LV_FONT_ of the font.
void FormatBulletText(int counter, int type, char *out, size_t size, int encoding, int fontType);

// The image the runs are drawn into: RGB words (0x00RRGGBB) and 8-bit alpha.
// Monochrome text has alpha 0 or 255 only (a mask).
struct lvTextImage {
    std::vector<uint32_t> rgb;
    std::vector<uint8_t> alpha;
    std::vector<uint8_t> pens;        // pen mode on a palette output: the pen of every set pixel, else empty
    int width = 0, height = 0;
    int leftExtension = 0, topExtension = 0;
    int xShift = 0;                   // PRINT: the start x when all runs are on the first line
    int antialiased = 0;              // alpha holds coverage, not only 0 and 255
};

// Aligns the runs line by line (RIGHT, CENTER, JUSTIFIED) and renders them
// into image. startX: PRINT's start x relative to the margin (else 0).
int RenderTextRuns(lvFontManager *fm, lvFont *font, const lvTextOptions *options, lvTextLayout *layout,
                   int startX, lvTextImage *image);

// The anti-aliased border kernel: for every cell of the (w + 2r + 1) x
// (h + 2r + 1) output the sum of the source coverage shifted by every (i, j)
// with 0 <= i, j <= 2r, divided by 2r + 1 and held to 255. accumulation:
// (w + 2r + 1) x (h + 2r + 1) cells.
void StampBorderCoverage(int width, int height, const uint8_t *source, int sourceRowBytes, int radius,
                         uint32_t *accumulation, uint8_t *out, int outRowBytes);

// The whole road for TEXTOUT, PRINT and text objects: layout and render. A
// TEXTOUT or PRINT text that needs no runs (one plain or anti-aliased style
// and colour, no tags, tabs or break hints, lines only at line feeds) skips
// the run builder: the lines are drawn straight into the image, which is the
// image the general road gives.
int LayoutText(lvFontManager *fm, lvFont *font, lvTextOptions *options, lvTextImage *image);
// Whether LayoutText takes the road without runs for the request.
bool TextNeedsNoRuns(lvFontManager *fm, lvFont *font, const lvTextOptions *options);
// The general road alone: runs, then their rendering.
int LayoutTextGeneral(lvFontManager *fm, lvFont *font, lvTextOptions *options, lvTextImage *image);

// LayoutText under a matrix {sx, rx, ry, sy} (x' = sx x + ry y, y' = rx x +
// sy y): a scale alone in a font that scales lays the text out again in the
// scaled font with its metrics scaled (mirroring turns the result); anything
// else turns the image laid out at scale 1 about the layout origin through
// the raster engine's image transform (smooth: interpolated).
int LayoutTextTransformed(lvFontManager *fm, lvFont *font, lvTextOptions *options, const double m[4],
                          lvTextImage *image, int smooth = 0);
// LayoutText scaled by explicit factors and turned by angle degrees (as the
// draw tags turn): a font that scales is laid out again at the scale and only
// the turn goes to the image; other fonts have the whole transform applied to
// the image laid out at scale 1.
int LayoutTextScaledTurned(lvFontManager *fm, lvFont *font, lvTextOptions *options, double scaleX, double scaleY,
                           double angle, int smooth, lvTextImage *image);
// The image under a matrix about the layout origin by the raster engine's
// image transform (pens never blend; mirroring is exact); the extensions give
// the new corner. 0, ERR_WRONGUSAGE for a singular matrix, or an allocation
// error.
int TransformTextImage(const lvTextImage &in, double sx, double rx, double ry, double sy, int smooth,
                       lvTextImage *out);
