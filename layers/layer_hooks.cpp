// layer_hooks.cpp - the producers on lower floors that hand their drawings to the layer
// engine (shapes, text output), and the BGPic teardown that takes a BGPic's layers with it.
//
// Depends on: layers/lvlayer.h, images/lvshape.h, text/lvtextout.h.
// Limits: script thread only.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvshape.h"
#include "layers/lvlayer.h"
#include "platform/lvplatform.h"
#include "text/lvtextout.h"

namespace {

void FreeLayersOfBGPic(lvBGPic *record) { FreeLayerList(nullptr, record, 0); }

void FreeShapeTail(void *tail) { FreeShapeLayerShape((lvShapeLayerShape *)tail); }

// A rendered shape: its images are already transformed and placed at their top-left.
int ShapeLayer(void *, void *state, int type, int x, int y, int width, int height, const lvDrawTags *, lvStyleTags *tags,
               lvShapeImages *images, lvShapeLayerShape *shape, void *, int, uint32_t colour, int)
{
    lvBGPic *b = CurrentLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    auto *g = (lvLayerGraphics *)AllocMemory(sizeof(lvLayerGraphics), 1);
    if (!g) return ERR_MEM;
    g->colourOnly = images->colourOnly;
    g->colour = colour & 0xFFFFFF;
    // The layer takes the planes on success only: on failure the caller frees them.
    lvLayerImages none = {};
    lvLayer *l = nullptr;
    // A path layer names the path it was drawn from (Undo, ATTRID).
    lvObjectId source = shape ? lvObjectId{shape->sourceNumber, shape->sourceHandle} : lvObjectId{0, nullptr};
    bool named = source.number || source.handle;
    int code = NewLayerRecord((lvState *)state, b, type, named ? &source : nullptr, x, y, width, height, nullptr, tags, &none, g, -1,
                              NEWLAYER_CALLERREFRESHES, 0, images->pens ? images->backgroundPen : -1, &l);
    if (code) return code;
    g->rgb = images->rgb, g->mask = images->mask, g->alpha = images->alpha, g->chunky = images->pens;
    g->palette = images->pens ? images->palette : nullptr;
    if (!images->pens) FreeMemory(images->palette);
    FreeBitmapHandle(images->fillImage);
    *images = lvShapeImages{};
    g->tail = shape;
    g->freeTail = FreeShapeTail;
    // The images arrived after the record was linked: draw them now.
    if (!l->hidden) RefreshLayer((lvState *)state, b, l);
    return 0;
}

// Text output: the laid-out image at its top-left.
int TextLayer(void *, void *state, int objectType, const lvTextOptions *, const lvTextImage *image, int x, int y)
{
    lvBGPic *b = CurrentLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    if (image->width <= 0 || image->height <= 0) return 0;
    lvTextImageBitmaps bitmaps;
    if (int code = MakeTextImageBitmaps(image, 0, &bitmaps)) return code;
    lvLayerImages images = {bitmaps.rgb, bitmaps.mask, bitmaps.alpha, bitmaps.pens, nullptr};
    return NewLayerRecord((lvState *)state, b, objectType, nullptr, x, y, image->width, image->height, nullptr,
                          nullptr, &images, nullptr, -1, 0, 0, -1, nullptr);
}

int TextObjectLayer(void *, void *state, lvObjectId id, const lvTextImage *image, int x, int y,
                    const lvStyleTags *style)
{
    lvBGPic *b = CurrentLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    return AddTextObjectLayerRecord((lvState *)state, b, id, image, x, y, style, -1, 0, nullptr);
}

const lvShapeLayerShape *LayerShapeOf(void *, void *layer, void *graphics, int *borderForm)
{
    const lvLayerGraphics *g = graphics ? (const lvLayerGraphics *)graphics : ((lvLayer *)layer)->graphics[0];
    if (borderForm) *borderForm = 0;
    return g && g->freeTail == FreeShapeTail ? (const lvShapeLayerShape *)g->tail : nullptr;
}

}  // namespace

int AddTextObjectLayerRecord(lvState *L, lvBGPic *b, lvObjectId id, const lvTextImage *image, int x, int y,
                             const lvStyleTags *style, int position, int flags, lvLayer **out)
{
    if (image->width <= 0 || image->height <= 0) return ERR_BADDIMENSIONS;
    // The layer keeps a copy of the object's image: the object itself may be changed or
    // freed while the layer shows it.
    lvTextImageBitmaps bitmaps;
    if (int code = MakeTextImageBitmaps(image, 0, &bitmaps)) return code;
    lvLayerImages images = {bitmaps.rgb, bitmaps.mask, bitmaps.alpha, bitmaps.pens, nullptr};
    return NewLayerRecord(L, b, LAYER_TEXTOBJECT, &id, x, y, image->width, image->height, nullptr, style, &images,
                          nullptr, position, flags, 0, -1, out);
}

void InstallProducerTables(int on)
{
    SetBGPicLayerFreer(on ? FreeLayersOfBGPic : nullptr);
    if (!on) {
        SetShapeLayerServices(nullptr);
        SetTextLayerServices(nullptr);
        return;
    }
    lvTextLayerServices text = {nullptr, TextLayer, TextObjectLayer};
    SetTextLayerServices(&text);
    lvShapeLayerServices shapes = {};
    shapes.LayerShape = LayerShapeOf;
    shapes.NewLayerRecord = ShapeLayer;
    SetShapeLayerServices(&shapes);
}
