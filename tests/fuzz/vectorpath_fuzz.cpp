// Vector path fuzz target: the bytes are a sequence of path commands (move, line,
// curve, sub-path, close, arc, box) whose numbers are small integers, raw doubles
// (huge, tiny, infinite, not a number) or scaled bytes. The path is measured
// filled and stroked, asked for its current point, normalised, translated, turned
// into an outline and drawn with border and shadow onto a small brush. Every input
// must answer within the run's per-input time bound (vectorpath.cmake), so a
// loop that stops changing a huge angle shows as a hang.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "images/lvdraw.h"
#include "images/lvvectorshape.h"
#include "raster/lvbitmap.h"
#include "raster/lvdrawtags.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "text/lvvectorpath.h"

namespace {

struct Reader {
    const uint8_t *data;
    size_t size, at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    double Number()
    {
        switch (Byte() & 3) {
        case 0: return (int8_t)Byte();                      // a few pixels either way
        case 1: {                                            // up to 16,384 pixels
            int high = Byte();
            return (int16_t)(high << 8 | Byte()) / 2.0;
        }
        case 2: {                                            // any double at all
            uint8_t b[8];
            for (uint8_t &v : b) v = Byte();
            double d;
            std::memcpy(&d, b, 8);
            return d;
        }
        default: {
            static const double special[] = {1e20, -1e20, 1e300, INFINITY, -INFINITY, NAN, 32767, 1e-300};
            return special[Byte() & 7];
        }
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 4096) return 0;
    Reader in{data, size};
    lvObjectId id = {1, nullptr};
    lvPath *path = nullptr;
    if (StartPath(&id, &path)) return 0;
    const int style = in.Byte();
    for (int n = 0; n < 64 && in.at < in.size; n++) {
        int code = in.Byte() % 7;
        int rc = 0;
        switch (code) {
        case 0:
        case 1: {
            lvPathArg a[3] = {PathInt(in.Byte() & 1), PathDouble(in.Number()), PathDouble(in.Number())};
            rc = AppendPathCommandTo(path, code ? PATHCMD_LINETO : PATHCMD_MOVETO, 3, a);
            break;
        }
        case 2: {
            lvPathArg a[7] = {PathInt(in.Byte() & 1)};
            for (int i = 1; i < 7; i++) a[i] = PathDouble(in.Number());
            rc = AppendPathCommandTo(path, PATHCMD_CURVETO, 7, a);
            break;
        }
        case 3: rc = AppendPathCommandTo(path, PATHCMD_NEWSUBPATH, 0, nullptr); break;
        case 4: rc = AppendPathCommandTo(path, PATHCMD_CLOSEPATH, 0, nullptr); break;
        case 5: {
            lvPathArg a[7];
            for (int i = 0; i < 6; i++) a[i] = PathDouble(in.Number());
            a[6] = PathInt(in.Byte() & 1);
            rc = AppendPathCommandTo(path, PATHCMD_ARC, 7, a);
            break;
        }
        default: {
            lvPathArg a[8];
            for (int i = 0; i < 4; i++) a[i] = PathDouble(in.Number());
            for (int i = 4; i < 8; i++) a[i] = PathInt((int8_t)in.Byte() * 2);
            rc = AppendPathCommandTo(path, PATHCMD_BOX, 8, a);
            break;
        }
        }
        if (rc) break;
    }

    double e[4], x, y;
    GetPathExtentsOf(path, 1, 1, e);
    GetPathExtentsOf(path, 0, 1 + (style & 7), e);
    GetPathCurrentPoint(path, &x, &y);
    lvObjectId copyId = {2, nullptr};
    lvPath *copy = nullptr;
    if (CopyPath(id, &copyId, nullptr, &copy) == 0) {
        NormalizePath(copy);
        TranslatePathBy(copy, (int8_t)style, -(int8_t)style);
        RemovePath(copyId);
    }
    lvVectorStyle vs{};
    vs.fillRule = style & 1;
    vs.cap = (style >> 1) % 3;
    vs.join = (style >> 3) % 3;
    vs.miterLimit = 10;
    vs.antiAlias = (style >> 5) & 1;
    if (path->buffer) {
        FT_Outline o;
        if (PathToOutline(path->buffer, 1, &vs, 1 + (style & 3), 0, 0, (style >> 6) & 1, &x, &y, &o) == 0)
            FT_Outline_Done(GetFreeTypeLibrary(), &o);
    }

    // Drawn onto a 64 x 64 brush with border and shadow: planes of the brush's size
    // whatever the path's box.
    static lvBitMapHandle *brush = AllocRgbBitmap(64, 64, 0, nullptr);
    if (brush) {
        lvBlitDisplay display{};
        display.target.kind = OUTPUT_IMAGE;
        display.target.bitmap = brush;
        lvBlitDisplay *saved = RasterState.currentDisplay;
        RasterState.currentDisplay = &display;
        lvDrawStyle keep = *GetDrawStyle();
        lvDrawStyle &draw = *GetDrawStyle();
        draw.fillStyle = (style >> 7) ? FILLNONE : FILLCOLOR;
        draw.lineWidth = 1 + (style & 3);
        draw.formStyle = FORM_ANTIALIAS | (style & 0x40 ? FORM_BORDER | FORM_SHADOW : 0);
        draw.borderSize = 2, draw.shadowSize = 3, draw.shadowDirection = style & 7;
        DrawPathById(nullptr, id, (int8_t)in.Byte(), (int8_t)in.Byte(), 0xFF0000, nullptr, nullptr);
        *GetDrawStyle() = keep;
        RasterState.currentDisplay = saved;
    }
    RemovePath(id);
    return 0;
}
