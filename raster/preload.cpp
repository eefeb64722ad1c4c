// preload.cpp - the load commands of linked pictures called with their whole
// option table during start-up's preload.
//
// Depends on: raster/lvpreload.h, raster/lvdrawtags.h (fill styles),
// raster/lvgradient_args.h, runtime/cmdsupport.h, runtime/startup.h.
// Limits: script thread (start-up).
#include "raster/lvpreload.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "raster/lvdrawtags.h"
#include "raster/lvgradient_args.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/startup.h"
#include "vm/lvvm.h"

namespace {

void PushOptionTable(lvState *L, int kind, const lvLinkedObject *object, const lvPreloadRecord *r) {
    PushNewTable(L);
    if (r) {
        if (r->transparentColour != -1) SetFieldUInt(L, "transparency", static_cast<uint32_t>(r->transparentColour));
        if (r->loadFlags & PRELOAD_LOADALPHA) SetFieldInt(L, "loadalpha", 1);
        else if (r->loadFlags & PRELOAD_LOADTRANSPARENCY) SetFieldInt(L, "loadtransparency", 1);
        if (r->loadFlags & PRELOAD_LOADPALETTE) SetFieldInt(L, "loadpalette", 1);
        if (r->loadFlags & PRELOAD_TRANSPARENTPEN) SetFieldInt(L, "transparentpen", static_cast<int>(r->loadFlags >> 24));
        if (kind != 0) {
            SetFieldInt(L, "width", r->width);
            SetFieldInt(L, "height", r->height);
            SetFieldInt(L, "x", r->x);
            SetFieldInt(L, "y", r->y);
            if (kind == 1) {
                if (r->globalAlpha != -1) SetFieldInt(L, "globalalpha", r->globalAlpha);
                SetFieldInt(L, "hardware", r->hardware);
                SetFieldInt(L, "scalewidth", r->scaleWidth);
                SetFieldInt(L, "scaleheight", r->scaleHeight);
                SetFieldInt(L, "smoothscale", r->smoothScale);
                if (r->display) SetFieldInt(L, "display", r->display);
            } else {
                SetFieldInt(L, "frames", r->frames);
                SetFieldInt(L, "fpr", r->fpr);
                if (kind == 2) {
                    SetFieldInt(L, "fromdisk", r->fromDisk);
                    SetFieldInt(L, "skiploopframes", r->skipLoopFrames);
                    SetFieldInt(L, "deinterlace", r->deinterlace);
                }
            }
            if (r->cached) {
                SetFieldString(L, "__cache", r->cacheName);
                if (r->cacheAlpha) SetFieldInt(L, "__cachealpha", 1);
            }
            if (r->cachedLoad) SetFieldString(L, "__cachedload", r->cacheName);
        } else {
            if (r->fillStyle) {
                SetFieldInt(L, "fillstyle", r->fillStyle);
                if (r->fillStyle == FILLCOLOR) {
                    SetFieldUInt(L, "fillcolor", r->fillColour);
                    SetFieldInt(L, "fillpen", r->fillPen);
                } else if (r->fillStyle == FILLGRADIENT) {
                    PushGradientFields(L, "gradient", &r->gradient);
                } else if (r->fillStyle == FILLTEXTURE) {
                    SetFieldNumber(L, "texturebrush", static_cast<double>(r->textureBrush));
                    SetFieldInt(L, "texturex", r->textureX);
                    SetFieldInt(L, "texturey", r->textureY);
                }
            }
            SetFieldInt(L, "scalewidth", r->scaleWidth);
            SetFieldInt(L, "scaleheight", r->scaleHeight);
            SetFieldInt(L, "smoothscale", r->smoothScale);
        }
    }
    if (object->loaderName[0]) SetFieldString(L, "loader", object->loaderName);
    if (object->adapterName[0]) SetFieldString(L, "adapter", object->adapterName);
    PushUserTags(L, object->userTags);
}

// 0 background picture, 1 brush, 2 anim, 3 sprite.
int KindOfCommand(const char *name) {
    if (!strcasecmp(name, "LoadBGPic")) return 0;
    if (!strcasecmp(name, "LoadBrush")) return 1;
    if (!strcasecmp(name, "LoadAnim")) return 2;
    return 3;
}

}  // namespace

int CallPreloadCommand(lvState *L, const char *commandName, const lvLinkedObject *object, const char *fileName,
                       const lvPreloadRecord *record, int *keepsContainer) {
    char name[64];
    std::snprintf(name, sizeof name, "%s", commandName);
    for (char *p = name; *p; p++) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    int top = GetStackTop(L);
    PushString(L, name);
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg(commandName);
        return ERR_UNIMPLCMD;
    }
    int kind = KindOfCommand(commandName);
    PushNumber(L, object->identifier);
    PushString(L, fileName ? fileName : "");
    PushOptionTable(L, kind, object, record);
    // An anim read from the applet's own data keeps reading it.
    if (keepsContainer && kind == 2 && record && record->fromDisk && object->embedded) *keepsContainer = 1;
    int code = ProtectedCall(L, 3, 0, 0);
    SetStackTop(L, top);
    return code;
}

int PreloadLinkedPicture(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer) {
    lvState *L = static_cast<lvPreloadRun *>(user)->L;
    const char *command = GetPreloadCommandName(object->type);
    if (!command) return 0;
    return CallPreloadCommand(L, command, object, fileName, static_cast<const lvPreloadRecord *>(object->payload),
                              keepsContainer);
}
