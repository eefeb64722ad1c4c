// vectorplugin.cpp - the vector-engine test plug-in ("vecengine.lvp", capability 0x20,
// tests/text/text.cmake). Its extents are the bounds of the buffer's MoveTo, LineTo
// and Box points; DrawPath covers the whole plane it is given; TranslatePath moves
// those points; GetCurrentPoint answers 42, 42. Every slot call prints one line
// beginning with "vec" and its arguments, so an applet test sees what arrived.
//
// Dependencies: runtime/lvplugin.h only.
#include "runtime/lvplugin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#define LVV_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

namespace {

double Get(const uint8_t *p)
{
    double v;
    std::memcpy(&v, p, 8);
    return v;
}
void Put(uint8_t *p, double v) { std::memcpy(p, &v, 8); }
uint32_t Code(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Calls visit(x, y, pointer to x) for every absolute MoveTo/LineTo point and box corner.
template <class Visit> void Walk(uint8_t *b, Visit visit)
{
    for (;;) {
        uint32_t code = Code(b);
        b += 4;
        switch (code) {
        case 1:
        case 2:
            if (Code(b) == 0) visit(Get(b + 4), Get(b + 12), b + 4, 0.0, 0.0);
            b += 20;
            break;
        case 3:
        case 7: b += 52; break;
        case 5:
        case 6: break;
        case 8: visit(Get(b), Get(b + 8), b, Get(b + 16), Get(b + 24)); b += 48; break;
        default: return;  // the end, or text this engine does not draw
        }
    }
}

}  // namespace

LVV_EXPORT(InitPlugin)(lvPluginRecord *record, const lvPluginApi *table, const char *) -> int
{
    if (table->version != LVPLUGIN_VERSION) return 0;
    record->capabilities = PLUGINCAPS_VECTOR | PLUGINCAPS_EXTENSION;
    record->version = 1;
    record->revision = 0;
    record->name = "Test vector engine";
    record->moduleName = "vecengine";
    record->author = "Lumivarra tests";
    record->description = "Draws the boxes of paths";
    record->copyright = "none";
    record->url = "";
    record->date = "11.12.2026";
    return 1;
}

LVV_EXPORT(ClosePlugin)(void) -> void {}

LVV_EXPORT(GetExtensions)(uint32_t capability, void *) -> uint32_t
{
    return capability == PLUGINCAPS_VECTOR ? LVP_VECTOR_ORIGINSECOND : 0;
}

LVV_EXPORT(GetPathExtents)(lvPathExtentsRequest *r) -> void
{
    double x1 = 1e9, y1 = 1e9, x2 = -1e9, y2 = -1e9;
    Walk((uint8_t *)r->buffer, [&](double x, double y, uint8_t *, double w, double h) {
        x1 = std::min(x1, x), y1 = std::min(y1, y);
        x2 = std::max(x2, x + w), y2 = std::max(y2, y + h);
    });
    std::printf("vecextents %d %d %g\n", r->filled, r->lineWidth, r->matrix ? r->matrix[0] : -1.0);
    std::fflush(stdout);
    if (x1 > x2) return;
    r->x1 = x1 + r->xOffset, r->y1 = y1 + r->yOffset;
    r->x2 = x2 + r->xOffset, r->y2 = y2 + r->yOffset;
}

LVV_EXPORT(DrawPath)(lvPathDrawRequest *r) -> int
{
    std::printf("vecdraw %g %g %g %g %d %d %d %d\n", r->origin[0], r->origin[1], r->origin[2], r->origin[3],
                r->width, r->height, r->filled, r->style ? r->style->antiAlias : -1);
    std::fflush(stdout);
    for (int y = 0; y < r->height; y++) std::memset(r->pixels + (size_t)y * r->rowBytes, 255, (size_t)r->width);
    return 1;
}

LVV_EXPORT(TranslatePath)(lvPathTranslateRequest *r) -> void
{
    std::printf("vectranslate %g %g\n", r->dx, r->dy);
    std::fflush(stdout);
    Walk((uint8_t *)r->buffer, [&](double x, double y, uint8_t *at, double, double) {
        Put(at, x + r->dx);
        Put(at + 8, y + r->dy);
    });
}

LVV_EXPORT(GetCurrentPoint)(const void *, const lvVectorStyle *style, double *x, double *y) -> void
{
    std::printf("veccurrent %d\n", style ? style->join : -1);
    std::fflush(stdout);
    *x = 42, *y = 42;
}

LVV_EXPORT(CreateVectorFont)(void *face) -> void * { return face; }
LVV_EXPORT(FreeVectorFont)(void *) -> void {}
LVV_EXPORT(OpenFont)(const void *, int32_t) -> void * { return nullptr; }
LVV_EXPORT(CloseFont)(void *) -> void {}
