// lib_brush_geometry.cpp - the brush commands that draw brushes and change their shape:
// DisplayBrush and DisplayBrushPart, scaling, turning and transforming, cropping,
// trimming, extending, flipping, copying and rasterizing.
//
// Depends on: images/lib_brush_cmds.h.
#include "images/lib_brush_cmds.h"

// ---- Drawing -------------------------------------------------------------------------------

int CmdDisplayBrush(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvDrawObjectRequest q = {};
    q.type = LV_TYPE_BRUSH;
    q.id = GetObjectIdArg(L, 1);
    int v[2];
    if (int code = GeometryArgs(L, 2, 3, v)) return code;
    q.x = v[0], q.y = v[1];
    q.tagsIndex = HasArg(L, 4) ? 4 : 0;
    return DrawObjectWithTags(L, &q);
}

int CmdDisplayBrushPart(lvState *L)
{
    CheckArgCount(L, 7, 8, 0, 0);
    lvDrawObjectRequest q = {};
    q.type = LV_TYPE_BRUSHPART;
    q.id = GetObjectIdArg(L, 1);
    int v[6];
    if (int code = GeometryArgs(L, 2, 7, v)) return code;
    q.sourceX = v[0], q.sourceY = v[1];
    q.x = v[2], q.y = v[3];
    q.width = v[4], q.height = v[5];
    q.tagsIndex = HasArg(L, 8) ? 8 : 0;
    return DrawObjectWithTags(L, &q);
}

// ---- Geometry, copying and transparency -------------------------------------------------

// The active-brush check and the look-up of a brush a command changes.
int FindChangingBrush(lvState *L, int index, int flags, lvBrush **b)
{
    lvObjectId id = GetObjectIdArg(L, index);
    if (int code = CheckActiveBrush(id)) return code;
    return FindBrushById(L, id, b, flags);
}

// The new planes of a transform replace the old ones; a plain bitmap in place of a video
// bitmap drops the hardware fields.
void StoreTransformedPlanes(lvBrush *b, lvImageSetOut *out)
{
    int wasVideo = b->bitmap && b->bitmap->video;
    FreeBitmapHandle(b->bitmap);
    FreeBitmapHandle(b->mask);
    FreeBitmapHandle(b->alpha);
    FreeBitmapHandle(b->penBitmap);
    b->bitmap = out->rgb, b->mask = out->mask, b->alpha = out->alpha, b->penBitmap = out->pens;
    b->width = b->sourceRowLength = out->width;
    b->height = out->height;
    if (wasVideo && !(b->bitmap && b->bitmap->video)) {
        b->hardware = 0;
        b->hardwareTransparency = 0;
        b->display = nullptr;
        b->displayId = {0, nullptr};
    }
}

namespace {

int TransformBrushImage(lvState *L, const lvMatrix2D *m, lvBrush *b, int smooth)
{
    // A result that cannot be made is refused while the brush is still whole.
    bool rerender = b->kind == 1 && b->imageSource;
    if (int code = CheckMatrixResult(m, rerender ? b->imageSource->width : b->width,
                                     rerender ? b->imageSource->height : b->height))
        return code;
    if (rerender) {
        int width, height;
        ComputeScaledSize(m, b->imageSource->width, b->imageSource->height, &width, &height, nullptr);
        double matrix[4] = {m->sx, m->rx, m->ry, m->sy};
        return RerenderBrush(L, b, matrix, width, height);
    }
    lvImageSetOut out = {};
    int pen = b->penBitmap ? b->transparentColour : -1;
    if (int code = TransformImageAffine(b->bitmap, b->mask, b->alpha, b->penBitmap, 0, 0, b->width, b->height, m,
                                        smooth, pen, b->hardware ? b->display : nullptr, &out))
        return code;
    StoreTransformedPlanes(b, &out);
    return 0;
}

}  // namespace

// ScaleBrush(id, width, height [, smooth]): a re-renderable brush is drawn again from its
// source at its own size through the new scale; a bitmap brush is scaled.
int CmdScaleBrush(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (int code = CheckActiveBrush(id)) return code;
    lvBrush *b;
    if (int code = FindBrushById(L, id, &b, BRUSH_MODIFY | BRUSH_HARDWARE)) return code;
    double givenWidth = GetNumberOrPercentArg(L, 2, b->width, 1, nullptr);
    double givenHeight = GetNumberOrPercentArg(L, 3, b->height, 1, nullptr);
    if (!std::isfinite(givenWidth) || !std::isfinite(givenHeight)) return ERR_WRONGUSAGE;
    if (givenWidth > LV_GEOMETRY_LIMIT || givenHeight > LV_GEOMETRY_LIMIT) return ERR_BITMAP;
    int width = givenWidth > 0 ? (int)givenWidth : 0, height = givenHeight > 0 ? (int)givenHeight : 0;
    if (width == 100000 && height > 0) width = (int)((double)b->width * height / b->height);
    else if (height == 100000 && width > 0) height = (int)((double)b->height * width / b->width);
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    int smooth = HasArg(L, 4) ? IntArg(L, 4) : 0;
    if (b->kind == 1 && b->imageSource) {
        double matrix[4] = {(double)width / b->imageSource->width, 0, 0, (double)height / b->imageSource->height};
        return RerenderBrush(L, b, matrix, width, height);
    }
    if (width == b->width && height == b->height) return 0;
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    if (int code = ScaleImage(b->bitmap, b->mask, b->alpha, b->penBitmap, 0, 0, nullptr, nullptr, b->width, b->height,
                              width, height, smooth, b->hardware ? b->display : nullptr, &rgb, &mask, &alpha, &pens))
        return code;
    lvImageSetOut out = {rgb, mask, alpha, pens, 0, 0, width, height};
    StoreTransformedPlanes(b, &out);
    return 0;
}

int CmdRotateBrush(lvState *L)
{
    CheckArgCount(L, 2, 5, 0, 0);
    double angle = CheckNumberArg(L, 2);
    double scaleX = HasArg(L, 3) ? CheckNumberArg(L, 3) : 1, scaleY = HasArg(L, 4) ? CheckNumberArg(L, 4) : 1;
    int smooth = HasArg(L, 5) ? IntArg(L, 5) : 0;
    if (int code = CheckActiveBrush(GetObjectIdArg(L, 1))) return code;
    if (scaleX == 0 || scaleY == 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, BRUSH_MODIFY | BRUSH_HARDWARE)) return code;
    lvMatrix2D m;
    BuildRotationMatrix(scaleX, scaleY, angle, &m);
    return TransformBrushImage(L, &m, b, smooth);
}

int CmdTransformBrush(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    lvMatrix2D m = {CheckNumberArg(L, 2), CheckNumberArg(L, 3), CheckNumberArg(L, 4), CheckNumberArg(L, 5)};
    int smooth = HasArg(L, 6) ? IntArg(L, 6) : 0;
    if (m.sx == 0 || m.sy == 0) return ERR_WRONGUSAGE;
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_HARDWARE, &b)) return code;
    return TransformBrushImage(L, &m, b, smooth);
}

int CmdCropBrush(lvState *L)
{
    CheckArgCount(L, 5, 5, 0, 0);
    int x = IntArg(L, 2), y = IntArg(L, 3), width = IntArg(L, 4), height = IntArg(L, 5);
    if (int code = CheckActiveBrush(GetObjectIdArg(L, 1))) return code;
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    lvBrush *b;
    if (int code = FindBrushById(L, GetObjectIdArg(L, 1), &b, BRUSH_MODIFY | BRUSH_NOVECTOR)) return code;
    x = ResolveSpecialX(x, width, b->width, 0);
    y = ResolveSpecialY(y, height, b->height, 0);
    return CropBrushImage(b, x, y, width, height);
}

int CmdTrimBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    int x, y;
    if (int code = TrimBrushImage(b, &x, &y)) return code;
    PushNumber(L, x);
    PushNumber(L, y);
    return 2;
}

int CmdExtendBrush(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    int left = IntArg(L, 2), top = IntArg(L, 3), right = IntArg(L, 4), bottom = IntArg(L, 5);
    int clear = 0, pen = 0;
    double colour = 0;
    if (HasArg(L, 6)) {
        CheckTableArg(L, 6);
        GetFieldBool(L, 6, "clear", &clear);
        GetFieldInt(L, 6, "pen", &pen);
        GetFieldNumber(L, 6, "color", &colour);
    }
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    return ExtendBrushImage(b, left, top, right, bottom, clear, (uint32_t)(uint64_t)NumberToInt64(colour), pen);
}

int CmdFlipBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int direction = IntArg(L, 2);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY | BRUSH_NOVECTOR, &b)) return code;
    return FlipBrushImage(b, direction);
}

int CmdCopyBrush(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvBrush *s;
    lvObjectId sourceId = GetObjectIdArg(L, 1);
    if (int code = FindBrushById(L, sourceId, &s, BRUSH_HARDWARE)) return code;
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    if (!isNil && !sourceId.handle && number == sourceId.number) return ERR_WRONGUSAGE;
    int hardware = 0, hasHardware = 0, smooth = s->smoothScale;
    lvObjectId displayOption = {0, nullptr};
    int hasDisplay = 0;
    if (HasArg(L, 3)) {
        CheckTableArg(L, 3);
        GetFieldBool(L, 3, "hardware", &hardware, &hasHardware);
        GetFieldObjectId(L, 3, "display", &displayOption, &hasDisplay);
        GetFieldBool(L, 3, "smoothscale", &smooth);
    }
    if (s->hardware && hasHardware && !hardware) return ERR_WRONGUSAGE;
    void *display = nullptr;
    lvObjectId resolved = {0, nullptr};
    if (s->hardware || hardware) {
        hardware = 1;
        if (int code = ResolveHardwareBrushDisplay(hasDisplay ? displayOption : s->displayId, &display, &resolved))
            return code;
    }
    lvObjectId id;
    if (int code = NewBrushIdArg(L, 2, &id)) return code;
    // The release may have freed the source when it was found by handle: look it up again.
    if (int code = FindBrushById(L, sourceId, &s, BRUSH_HARDWARE)) return code;
    if (int code = CopyBrushForLayer(L, &id, hardware, smooth, display, s)) return code;
    lvBrush *made;
    if (hardware && !FindBrushById(L, id, &made, BRUSH_HARDWARE) && made->hardware) made->displayId = resolved;
    return FinishNewObject(L, id);
}

int CmdRasterizeBrush(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvBrush *b;
    if (int code = FindChangingBrush(L, 1, BRUSH_MODIFY, &b)) return code;
    if (b->kind == 0) return ERR_WRONGUSAGE;
    b->kind = 0;
    b->transformed = 0;
    if (b->imageSource) {
        ReleaseImageSource(b->imageSource);
        b->imageSource = nullptr;
    }
    return 0;
}
