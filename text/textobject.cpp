// textobject.cpp - text objects: made by laying text out once, kept with their
// options, laid out again at a new scale, turned by other transforms, copied
// and freed.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "base/lverrors.h"
#include "raster/lvbitmap.h"
#include "raster/lvscale.h"
#include "runtime/errors.h"
#include "text/lvtextobject.h"

namespace {

lvTextObject *Of(lvObjectHeader *h) { return reinterpret_cast<lvTextObject *>(h); }

void FreeRecord(lvTextObject *object)
{
    lvTextLibrary *t = GetTextLibrary();
    if (t->refOps.release) FreeObjectUserData(&object->header.userData, &t->refOps);
    delete object;
}

void Unlink(lvTextObject *object)
{
    for (lvObjectHeader **link = &GetTextLibrary()->textObjects; *link; link = &(*link)->next)
        if (*link == &object->header) {
            *link = object->header.next;
            return;
        }
}

void Append(lvTextObject *object)
{
    lvObjectHeader **tail = &GetTextLibrary()->textObjects;
    while (*tail) tail = &(*tail)->next;
    object->header.next = nullptr;
    *tail = &object->header;
}

void TakeImage(lvTextObject *o, lvTextImage &image)
{
    o->image = std::move(image);
    o->width = o->image.width;
    o->height = o->image.height;
    o->adjustX = o->image.leftExtension;
    o->adjustY = o->image.topExtension;
    o->depth = 32;
}

int Render(lvFontManager *fm, lvTextObject *o, lvTextImage *out)
{
    lvTextOptions opt = o->options;
    opt.text = o->text.data();
    opt.length = o->text.size();
    opt.wrapTableGiven = 1;
    opt.tabTableGiven = 1;
    lvFont *font = o->font ? o->font : fm->topaz;
    if (o->rotation != 0) return LayoutTextScaledTurned(fm, font, &opt, o->scaleX, o->scaleY, o->rotation, o->smooth, out);
    const double m[4] = {o->sx, o->rx, o->ry, o->sy};
    return LayoutTextTransformed(fm, font, &opt, m, out, o->smooth);
}

// The matrix from the scale and the rotation, built as the draw tags build
// theirs: brushes and text turn the same way, and right angles turn exactly.
void BuildMatrix(lvTextObject *o)
{
    lvMatrix2D m;
    BuildRotationMatrix(o->scaleX, o->scaleY, o->rotation, &m);
    o->sx = m.sx;
    o->rx = m.rx;
    o->ry = m.ry;
    o->sy = m.sy;
    o->transformed = o->rotation != 0 || o->scaleX != 1 || o->scaleY != 1;
}

// On failure the old image stays; the new transform is kept.
int Rerender(lvFontManager *fm, lvTextObject *o)
{
    lvTextImage image;
    if (int err = Render(fm, o, &image)) return err;
    TakeImage(o, image);
    return 0;
}

}  // namespace

namespace {

// Mirroring turns pixels over exactly: no resampling, no size change.
void MirrorTextImage(const lvTextImage &in, bool flipX, bool flipY, lvTextImage *out)
{
    *out = in;
    out->leftExtension = flipX ? -(in.leftExtension + in.width) : in.leftExtension;
    out->topExtension = flipY ? -(in.topExtension + in.height) : in.topExtension;
    for (int y = 0; y < in.height; y++)
        for (int x = 0; x < in.width; x++) {
            size_t from = (size_t)y * in.width + x;
            size_t to = (size_t)(flipY ? in.height - 1 - y : y) * in.width + (flipX ? in.width - 1 - x : x);
            out->rgb[to] = in.rgb[from];
            out->alpha[to] = in.alpha[from];
            if (!in.pens.empty()) out->pens[to] = in.pens[from];
        }
}

struct Planes {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    void Free()
    {
        for (lvBitMapHandle *h : {rgb, mask, alpha, pens}) FreeBitmapHandle(h);
        rgb = mask = alpha = pens = nullptr;
    }
    ~Planes() { Free(); }
};

bool ReadPlane(lvBitMapHandle *plane, int width, int height, bool bits, std::vector<uint8_t> &out)
{
    uint8_t *pixels = nullptr;
    int rowBytes = 0;
    uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 0);
    if (!token || !pixels) {
        if (token) ReleasePlanePixels(token);
        return false;
    }
    out.assign((size_t)width * height, 0);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const uint8_t *row = pixels + (size_t)y * rowBytes;
            out[(size_t)y * width + x] = bits ? ((row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0) : row[x];
        }
    ReleasePlanePixels(token);
    return true;
}

}  // namespace

int TransformTextImage(const lvTextImage &in, double sx, double rx, double ry, double sy, int smooth,
                       lvTextImage *out)
{
    *out = lvTextImage{};
    if (sx * sy - rx * ry == 0) return ERR_WRONGUSAGE;
    if (rx == 0 && ry == 0 && std::fabs(sx) == 1 && std::fabs(sy) == 1) {
        MirrorTextImage(in, sx < 0, sy < 0, out);
        return 0;
    }
    if (in.width <= 0 || in.height <= 0) return ERR_WRONGUSAGE;
    int w = in.width, h = in.height;
    bool pens = !in.pens.empty();
    Planes src;
    // Colour text goes as its pixels and alpha; pen text as pens through a
    // mask, so no pen is ever blended with another.
    if (pens) {
        src.pens = AllocChunkyBitmap(w, h, 1);
        if (!src.pens) return ERR_ALLOCCHUNKY;
        src.mask = AllocMaskBitmap(nullptr, w, h, 1, nullptr, 0);
        if (!src.mask) return ERR_BITMAP;
        if (!CopyBytesToPlane(src.pens, in.pens.data(), w, h)) return ERR_ALLOCCHUNKY;
        uint8_t *pixels = nullptr;
        int rowBytes = 0;
        uintptr_t token = GetPlanePixels(src.mask, &pixels, &rowBytes, 1);
        if (!token || !pixels) {
            if (token) ReleasePlanePixels(token);
            return ERR_BITMAP;
        }
        for (int y = 0; y < h; y++) {
            std::memset(pixels + (size_t)y * rowBytes, 0, (size_t)rowBytes);
            for (int x = 0; x < w; x++)
                if (in.alpha[(size_t)y * w + x]) pixels[(size_t)y * rowBytes + (x >> 3)] |= (uint8_t)(0x80 >> (x & 7));
        }
        ReleasePlanePixels(token);
    } else {
        src.alpha = AllocAlphaBitmap(w, h, 1, nullptr, 0);
        if (!src.alpha) return ERR_ALLOCALPHA;
        if (!CopyBytesToPlane(src.alpha, in.alpha.data(), w, h)) return ERR_ALLOCALPHA;
    }
    src.rgb = AllocRgbBitmap(w, h, 0, nullptr);
    if (!src.rgb) return ERR_BITMAP;
    {
        lvScopedLock lock(src.rgb, 0);
        if (!lock.token) return ERR_LOCKBMAP;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) WriteLockPixel(&lock.lock, in.rgb[(size_t)y * w + x], x, y);
    }
    const lvMatrix2D m{sx, rx, ry, sy};
    lvImageSetOut made{};
    if (int err = TransformImageAffine(src.rgb, src.mask, src.alpha, src.pens, 0, 0, w, h, &m, smooth, -1, nullptr,
                                       &made))
        return err;
    Planes result;
    result.rgb = made.rgb, result.mask = made.mask, result.alpha = made.alpha, result.pens = made.pens;
    int nw = made.width, nh = made.height;
    if (!result.rgb || nw <= 0 || nh <= 0) return ERR_BITMAP;
    // The new corner about the layout origin: the transformed corners' least
    // coordinates, the old corner carried along.
    int tw, th;
    double minX, minY;
    GetTransformedImageSize(&m, w, h, &tw, &th, &minX, &minY, nullptr);
    double cx = sx * in.leftExtension + ry * in.topExtension, cy = rx * in.leftExtension + sy * in.topExtension;
    try {
        out->rgb.assign((size_t)nw * nh, 0);
        if (pens) {
            if (!result.pens || !ReadPlane(result.pens, nw, nh, false, out->pens)) return ERR_ALLOCCHUNKY;
            // Pixels no source pixel reached are left out by the mask.
            if (result.mask) {
                if (!ReadPlane(result.mask, nw, nh, true, out->alpha)) return ERR_BITMAP;
            } else {
                out->alpha.assign((size_t)nw * nh, 255);
            }
        } else if (!result.alpha || !ReadPlane(result.alpha, nw, nh, false, out->alpha)) {
            return ERR_ALLOCALPHA;
        }
    } catch (const std::bad_alloc &) {
        *out = lvTextImage{};
        return ERR_MEM;
    }
    {
        lvScopedLock lock(result.rgb, LOCK_READONLY);
        if (!lock.token) {
            *out = lvTextImage{};
            return ERR_LOCKBMAP;
        }
        for (int y = 0; y < nh; y++)
            for (int x = 0; x < nw; x++) out->rgb[(size_t)y * nw + x] = ReadLockPixel(&lock.lock, x, y) & 0xFFFFFF;
    }
    out->width = nw;
    out->height = nh;
    out->leftExtension = (int)std::floor(cx + minX + 1e-9);
    out->topExtension = (int)std::floor(cy + minY + 1e-9);
    out->antialiased = in.antialiased || (smooth && !pens);
    return 0;
}

int FindTextObjectById(lvObjectId id, lvTextObject **out)
{
    *out = nullptr;
    for (lvObjectHeader *h = GetTextLibrary()->textObjects; h; h = h->next)
        if (ObjectIdMatches(h, id)) {
            *out = Of(h);
            return 0;
        }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDTEXTOBJECT;
}

int FreeTextObjectById(lvObjectId id)
{
    lvTextObject *o;
    if (int err = FindTextObjectById(id, &o)) return err;
    if (o->locked) return ERR_LOCKEDOBJ;
    Unlink(o);
    FreeRecord(o);
    return 0;
}

void FreeAllTextObjects()
{
    lvTextLibrary *t = GetTextLibrary();
    while (lvObjectHeader *h = t->textObjects) {
        t->textObjects = h->next;
        FreeRecord(Of(h));
    }
}

// An object under the number goes before a new one takes it.
static int ReplaceTextObjectId(int number, bool makeHandle)
{
    if (makeHandle) return 0;
    lvTextObject *old;
    if (FindTextObjectById(lvObjectId{number, nullptr}, &old)) return 0;
    if (old->locked) return ERR_LOCKEDOBJ;
    Unlink(old);
    FreeRecord(old);
    return 0;
}

int CreateTextObjectRecord(lvFontManager *fm, lvFont *font, int number, bool makeHandle, const lvTextOptions &options,
                           lvTextObject **out)
{
    *out = nullptr;
    lvTextObject *o = new (std::nothrow) lvTextObject{};
    if (!o) return ERR_MEM;
    try {
        o->text.assign(options.text ? options.text : "", options.length);
    } catch (const std::bad_alloc &) {
        delete o;
        return ERR_MEM;
    }
    o->options = options;
    o->options.objectType = LV_TYPE_TEXTOBJECT;
    o->options.text = o->text.data();
    o->options.length = o->text.size();
    o->font = font ? font : fm->topaz;
    o->sx = o->sy = o->scaleX = o->scaleY = 1;
    lvTextImage image;
    // The first layout records the wrap and tab tables the object keeps.
    if (int err = LayoutText(fm, o->font, &o->options, &image)) {
        delete o;
        return err;
    }
    o->options.wrapTableGiven = 1;
    o->options.tabTableGiven = 1;
    TakeImage(o, image);
    o->baseWidth = o->width, o->baseHeight = o->height;
    o->baseAdjustX = o->adjustX, o->baseAdjustY = o->adjustY;
    o->paletteMode = options.paletteMode;
    o->tagsOff = options.formatTagsOff;
    if (int err = ReplaceTextObjectId(number, makeHandle)) {
        delete o;
        return err;
    }
    InitObjectHeader(&o->header, LV_TYPE_TEXTOBJECT, number, makeHandle);
    Append(o);
    *out = o;
    return 0;
}

int CopyTextObjectRecord(lvObjectId source, int number, bool makeHandle, lvTextObject **out)
{
    *out = nullptr;
    lvTextObject *from;
    if (int err = FindTextObjectById(source, &from)) return err;
    if (!makeHandle && !source.handle && source.number == number) return ERR_WRONGUSAGE;
    lvTextObject *o = new (std::nothrow) lvTextObject{};
    if (!o) return ERR_MEM;
    try {
        o->image = from->image;
        o->text = from->text;
        o->options = from->options;
    } catch (const std::bad_alloc &) {
        delete o;
        return ERR_MEM;
    }
    o->options.text = o->text.data();
    o->width = from->width, o->height = from->height;
    o->baseWidth = from->baseWidth, o->baseHeight = from->baseHeight;
    o->depth = from->depth;
    o->adjustX = from->adjustX, o->adjustY = from->adjustY;
    o->baseAdjustX = from->baseAdjustX, o->baseAdjustY = from->baseAdjustY;
    o->paletteMode = from->paletteMode, o->transformed = from->transformed;
    o->noAdjust = from->noAdjust, o->tagsOff = from->tagsOff;
    o->font = from->font;
    o->sx = from->sx, o->rx = from->rx, o->ry = from->ry, o->sy = from->sy;
    o->scaleX = from->scaleX, o->scaleY = from->scaleY, o->rotation = from->rotation;
    o->smooth = from->smooth;
    if (int err = ReplaceTextObjectId(number, makeHandle)) {
        delete o;
        return err;
    }
    InitObjectHeader(&o->header, LV_TYPE_TEXTOBJECT, number, makeHandle);
    Append(o);
    *out = o;
    return 0;
}

int ScaleTextObject(lvFontManager *fm, lvTextObject *o, int width, int height, int smooth)
{
    if (width == 0 || height == 0) return ERR_WRONGUSAGE;
    if (o->locked) return ERR_LOCKEDOBJ;
    o->scaleX = (double)width / o->baseWidth;
    o->scaleY = (double)height / o->baseHeight;
    o->smooth = smooth;
    BuildMatrix(o);
    return Rerender(fm, o);
}

int RotateTextObject(lvFontManager *fm, lvTextObject *o, double angle, int smooth)
{
    if (o->locked) return ERR_LOCKEDOBJ;
    o->rotation = std::fmod(angle, 360.0);
    if (o->rotation < 0) o->rotation += 360;
    o->smooth = smooth;
    BuildMatrix(o);
    return Rerender(fm, o);
}

int TransformTextObject(lvFontManager *fm, lvTextObject *o, double sx, double rx, double ry, double sy, int smooth)
{
    if (sx == 0 || sy == 0) return ERR_WRONGUSAGE;
    if (o->locked) return ERR_LOCKEDOBJ;
    o->sx = sx, o->rx = rx, o->ry = ry, o->sy = sy;
    o->rotation = 0;
    o->scaleX = o->scaleY = 1;
    o->transformed = 0;
    o->smooth = smooth;
    return Rerender(fm, o);
}
