// preload_tails.cpp - the applet fields of linked brushes (type 1) and background pictures
// (type 0): read into the preload record whose options the preloader hands to LoadBrush
// and LoadBGPic. The object's option value is the transparent colour (0xFFFFFFFF none),
// its option flags the load flags.
//
// Depends on: raster/lvpreload.h, raster/lvgradient_read.h, runtime/container.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "raster/lvgradient_read.h"
#include "raster/lvpreload.h"

static int Read16(lvAppletCursor *c, int *out)
{
    uint16_t v;
    if (int code = ReadAppletBE16(c, &v)) return code;
    *out = (int16_t)v;
    return 0;
}

static int Read32(lvAppletCursor *c, int *out)
{
    uint32_t v;
    if (int code = ReadAppletBE32(c, &v)) return code;
    *out = (int32_t)v;
    return 0;
}

static void FreePreloadRecord(void *payload) { FreeMemory(payload); }

static int Attach(lvLinkedObject *object, lvPreloadRecord *r)
{
    r->transparentColour = object->optionValue == 0xFFFFFFFFu ? -1 : (int64_t)(object->optionValue & 0xFFFFFFu);
    r->loadFlags = object->optionFlags;
    if (object->freePayload) object->freePayload(object->payload);
    else FreeMemory(object->payload);
    object->payload = r;
    object->freePayload = FreePreloadRecord;
    return 0;
}

static lvPreloadRecord *NewRecord(void)
{
    auto *r = (lvPreloadRecord *)AllocMemory(sizeof(lvPreloadRecord), 1);
    if (r) r->globalAlpha = -1;
    return r;
}

int ReadBrushPreloadTail(lvAppletCursor *c, lvLinkedObject *object, int major, int minor)
{
    lvPreloadRecord *r = NewRecord();
    if (!r) return ERR_MEM;
    int code = Read16(c, &r->width);
    if (!code) code = Read16(c, &r->height);
    if (!code) code = Read16(c, &r->x);
    if (!code) code = Read16(c, &r->y);
    if (!code) code = Read16(c, &r->globalAlpha);
    if (!code && major > 4) {
        uint8_t hardware;
        code = ReadAppletByte(c, &hardware);
        r->hardware = hardware;
    }
    if (!code && (major > 5 || (major == 5 && minor > 2))) {
        code = Read32(c, &r->scaleWidth);
        if (!code) code = Read32(c, &r->scaleHeight);
        if (!code) code = Read32(c, &r->smoothScale);
    }
    if (!code && major > 5) code = Read32(c, &r->display);
    if (code) {
        FreeMemory(r);
        return code;
    }
    return Attach(object, r);
}

int ReadBGPicPreloadTail(lvAppletCursor *c, lvLinkedObject *object, int major, int minor)
{
    lvPreloadRecord *r = NewRecord();
    if (!r) return ERR_MEM;
    InitGradient(&r->gradient, 0);
    int code = 0;
    if (major > 4 || (major == 4 && minor >= 7)) {
        uint8_t style;
        int colour = 0, end = 0, angle = 0, brush = 0;
        code = ReadAppletByte(c, &style);
        if (!code) code = Read32(c, &colour);
        if (!code) code = Read32(c, &end);
        if (!code) code = Read16(c, &angle);
        if (!code) code = Read32(c, &brush);
        if (!code) code = Read32(c, &r->textureX);
        if (!code) code = Read32(c, &r->textureY);
        r->fillStyle = style;
        r->fillColour = (uint32_t)colour;
        r->gradient.startColour = (uint32_t)colour;
        r->gradient.endColour = (uint32_t)end;
        r->gradient.angle = angle;
        r->textureBrush = brush;
        if (!code && major > 4) code = ReadGradientFromApplet(c, &r->gradient);
        if (!code && (major > 5 || (major == 5 && minor > 2))) {
            code = Read32(c, &r->scaleWidth);
            if (!code) code = Read32(c, &r->scaleHeight);
            if (!code) code = Read32(c, &r->smoothScale);
        }
        if (!code && major > 8) code = Read32(c, &r->fillPen);
    }
    if (code) {
        FreeMemory(r);
        return code;
    }
    return Attach(object, r);
}
