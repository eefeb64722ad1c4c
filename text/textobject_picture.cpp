// textobject_picture.cpp - the picture a text object lends to the brush conversions: its
// current image (after any transform) as an RGB bitmap and an alpha plane made for the
// call and freed when the conversion gives the picture back.
//
// Depends on: images/lvbrush.h, text/lvtextobject.h, raster/lvbitmap.h.

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "raster/lvbitmap.h"
#include "text/lvtextlib.h"
#include "text/lvtextobject.h"

namespace {

int FindText(void *, lvState *, lvObjectId id, int, int *frameCount)
{
    lvTextObject *object;
    if (int code = FindTextObjectById(id, &object)) return code;
    *frameCount = 0;
    return 0;
}

void ReleaseText(void *, lvObjectPicture *picture)
{
    FreeBitmapHandle(picture->rgb);
    FreeBitmapHandle(picture->alpha);
    picture->rgb = picture->alpha = nullptr;
}

int TextPicture(void *, lvState *, lvObjectId id, int, int, lvObjectPicture *out)
{
    lvTextObject *object;
    if (int code = FindTextObjectById(id, &object)) return code;
    const lvTextImage &image = object->image;
    size_t pixels = (size_t)image.width * (size_t)image.height;
    if (image.width <= 0 || image.height <= 0 || image.rgb.size() < pixels || image.alpha.size() < pixels)
        return ERR_BADDIMENSIONS;
    out->width = image.width, out->height = image.height;
    out->depth = 32, out->transparent = -1;
    if (!(out->rgb = AllocRgbBitmap(image.width, image.height, 0, nullptr))) return ERR_BITMAP;
    if (!(out->alpha = AllocAlphaBitmap(image.width, image.height, 1, nullptr, 0))) return ERR_ALLOCALPHA;
    {
        lvScopedLock lock(out->rgb, 0);
        if (!lock) return ERR_LOCKBMAP;
        for (int row = 0; row < image.height; row++)
            for (int col = 0; col < image.width; col++)
                WriteLockPixel(&lock.lock, image.rgb[(size_t)row * image.width + col], col, row);
    }
    return CopyBytesToPlane(out->alpha, image.alpha.data(), image.width, image.height) ? 0 : ERR_LOCKBMAP;
}

}  // namespace

void InstallTextObjectPictures(bool install)
{
    lvObjectPictureSource source = {};
    source.Find = FindText;
    source.Picture = TextPicture;
    source.Release = ReleaseText;
    SetObjectPictureSource(LV_TYPE_TEXTOBJECT, install ? &source : nullptr);
}
