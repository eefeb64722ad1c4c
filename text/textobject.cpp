// textobject.cpp - text objects: made by laying text out once, kept with their
// options, laid out again at a new scale, turned by other transforms, copied
// and freed.
#include <algorithm>
#include <cmath>
#include <new>

#include "base/lverrors.h"
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
    const double m[4] = {o->sx, o->rx, o->ry, o->sy};
    return LayoutTextTransformed(fm, o->font ? o->font : fm->topaz, &opt, m, out);
}

// The matrix from the scale and the rotation (degrees, clockwise on screen).
void BuildMatrix(lvTextObject *o)
{
    double a = o->rotation * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    if (o->rotation == 90 || o->rotation == 270) c = 0;
    if (o->rotation == 180) s = 0;
    o->sx = c * o->scaleX;
    o->rx = s * o->scaleX;
    o->ry = -s * o->scaleY;
    o->sy = c * o->scaleY;
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

void TransformTextImage(const lvTextImage &in, double sx, double rx, double ry, double sy, lvTextImage *out)
{
    *out = lvTextImage{};
    out->antialiased = in.antialiased;
    double x0 = in.leftExtension, y0 = in.topExtension, x1 = x0 + in.width, y1 = y0 + in.height;
    double minX = 1e18, minY = 1e18, maxX = -1e18, maxY = -1e18;
    for (double cx : {x0, x1})
        for (double cy : {y0, y1}) {
            double tx = sx * cx + ry * cy, ty = rx * cx + sy * cy;
            minX = std::min(minX, tx), maxX = std::max(maxX, tx);
            minY = std::min(minY, ty), maxY = std::max(maxY, ty);
        }
    int left = (int)std::floor(minX + 1e-9), top = (int)std::floor(minY + 1e-9);
    int w = std::max(1, (int)std::ceil(maxX - 1e-9) - left), h = std::max(1, (int)std::ceil(maxY - 1e-9) - top);
    out->width = w, out->height = h;
    out->leftExtension = left, out->topExtension = top;
    out->rgb.assign((size_t)w * h, 0);
    out->alpha.assign((size_t)w * h, 0);
    if (!in.pens.empty()) out->pens.assign((size_t)w * h, 0);
    double det = sx * sy - rx * ry;
    if (det == 0) return;
    // Inverse: x = (sy x' - ry y') / det, y = (-rx x' + sx y') / det.
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double tx = left + x + 0.5, ty = top + y + 0.5;
            double ux = (sy * tx - ry * ty) / det - x0, uy = (-rx * tx + sx * ty) / det - y0;
            int ix = (int)std::floor(ux), iy = (int)std::floor(uy);
            if (ix < 0 || iy < 0 || ix >= in.width || iy >= in.height) continue;
            size_t from = (size_t)iy * in.width + ix, to = (size_t)y * w + x;
            out->rgb[to] = in.rgb[from];
            out->alpha[to] = in.alpha[from];
            if (!in.pens.empty()) out->pens[to] = in.pens[from];
        }
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
