// offscreen.cpp - draw targets: redirecting drawing into a brush, a BGPic, or the mask or
// alpha channel of one, ending it, the first-draw check that makes a missing mask or alpha
// channel, the output state around nested script drawing, and the "offscreen" library.
//
// A mask or alpha channel is made at the first drawing operation, not at the select, so
// that selecting and ending without drawing leaves the image as it was.
//
// Depends on: images/lvoffscreen.h, images/lvbrush.h, raster/lvraster.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

static lvSelectDisplay fallbackDisplay;  // serves while no display exists
static lvBGPic fallbackSelection;
static int fallbackActive;
static lvSelectDisplay *(*displayQuery)(void);

void SetSelectDisplayQuery(lvSelectDisplay *(*query)(void)) { displayQuery = query; }

lvSelectDisplay *GetSelectDisplay(void)
{
    lvSelectDisplay *d = displayQuery ? displayQuery() : nullptr;
    if (d) return d;
    return fallbackActive ? &fallbackDisplay : nullptr;
}

static lvDrawTarget *TargetOf(lvSelectDisplay *d) { return &d->blit.target; }

static void SaveTextCursor(lvSelectDisplay *d, int kind, int width)
{
    d->savedLayersOn = d->layersOn;
    d->savedCursorX = d->cursorX, d->savedCursorY = d->cursorY;
    d->savedMarginLeft = d->marginLeft, d->savedMarginRight = d->marginRight;
    if (kind != OUTPUT_BGPIC) d->layersOn = 0;
    d->cursorX = d->cursorY = 0;
    d->marginLeft = 0;
    d->marginRight = width - 1;
}

static void RestoreTextCursor(lvSelectDisplay *d)
{
    d->layersOn = d->savedLayersOn;
    d->cursorX = d->savedCursorX, d->cursorY = d->savedCursorY;
    d->marginLeft = d->savedMarginLeft, d->marginRight = d->savedMarginRight;
}

static int EndCallback(void *state, lvDrawTarget *) { return EndRedirect((lvState *)state, GetSelectDisplay(), 0); }
static int CheckCallback(void *state, lvDrawTarget *) { return CheckRedirectTarget((lvState *)state); }

// The planes of the selected object.
struct lvSelected {
    void *record;
    lvBitMapHandle *rgb, *mask, *alpha, *pens;
    uint32_t *palette;
    int width, height, depth, hardware;
};

static int FindSelected(lvState *L, int type, lvObjectId id, int modify, int hardware, lvSelected *out)
{
    *out = {};
    if (type == SELECT_BRUSH) {
        lvBrush *b;
        int flags = BRUSH_NOVECTOR | BRUSH_HARDWARE | (modify ? BRUSH_MODIFY : 0);
        if (int code = FindBrushById(L, id, &b, flags)) return code;
        *out = {b, b->bitmap, b->mask, b->alpha, b->penBitmap, b->palette, b->width, b->height, b->depth, b->hardware};
        return 0;
    }
    if (type == SELECT_BGPIC) {
        lvBGPic *g;
        if (int code = FindBGPicById(id, &g, 0)) return code;
        if (g->type == 1) return ERR_BGPICTYPE;
        if (IsBGPicShown(g)) return ERR_SELECTBGPIC2;
        *out = {g, g->base.bitmap, g->base.mask, g->base.alpha, g->base.penBitmap, g->palette, g->baseWidth,
                g->baseHeight, g->depth, 0};
        return 0;
    }
    // Anims and layers select through their own libraries once those exist.
    if (type == SELECT_ANIM || type == SELECT_LAYER) return ERR_UNIMPLCMD;
    return ERR_WRONGUSAGE;
}

int RedirectOutput(lvState *L, int type, lvObjectId id, int kind, int index, int mode, int combo)
{
    lvSelectDisplay *d = GetSelectDisplay();
    if (d) {
        lvDrawTarget *t = TargetOf(d);
        lvBGPic *out = GetCurrentOutput();
        if (t->kind == kind && out && out == d->selection && out->selectedType == type &&
            out->selectedIndex == index && ObjectIdMatches(&out->header, id))
            return 0;
        if (t->kind != OUTPUT_DISPLAY && !d->doubleBufferActive) EndRedirect(L, d, 0);
    }
    lvSelected s;
    if (int code = FindSelected(L, type, id, 0, 0, &s)) return code;
    if (s.pens) {
        if (kind != OUTPUT_IMAGE) return ERR_NOPALETTEIMAGE;
        kind = OUTPUT_ALPHA;
        mode = combo = 0;
    }
    d = GetSelectDisplay();
    if (!d) {
        d = &fallbackDisplay;
        std::memset(d, 0, sizeof *d);
        d->isFallback = 1;
        d->selection = &fallbackSelection;
        ResetDrawTarget(&d->blit.target);
        fallbackActive = 1;
    } else if (!d->selection) {
        d->selection = (lvBGPic *)AllocMemory(sizeof(lvBGPic), 1);
        if (!d->selection) return ERR_MEM;
    }
    if (d->isFallback) RasterState.currentDisplay = &d->blit;
    InitBGPicRecord(d->selection, id, type, index, s.record, s.width, s.height, s.depth);
    SetCurrentOutput(d->selection);
    SaveTextCursor(d, kind, s.width);
    lvDrawTarget *t = TargetOf(d);
    ResetDrawTarget(t);
    t->kind = kind;
    t->hardware = s.hardware;
    t->palette = s.palette;
    t->depth = s.depth;
    t->selectionMode = mode;
    t->checkCallback = CheckCallback;
    t->endCallback = EndCallback;
    if (d->doubleBufferActive) {
        d->doubleBufferSuspended = 1;
        d->savedDoubleBufferArg = d->doubleBufferArg;
        d->doubleBufferActive = d->doubleBufferArg = 0;
    }
    if (kind == OUTPUT_IMAGE) {
        t->bitmap = s.rgb;
        if (mode == SELMODE_COMBO) {
            t->alpha = s.alpha;
            t->mask = s.mask;
            t->combineMode = combo;
        }
    } else if (kind == OUTPUT_MASK) {
        if (s.hardware) t->bitmap = s.rgb;
        else t->mask = s.mask;
    } else {
        if (s.hardware) t->bitmap = s.rgb;
        else if (s.pens) t->paletteBitmap = s.pens;
        else t->alpha = s.alpha;
    }
    return 0;
}

int CheckRedirectTarget(lvState *L)
{
    lvSelectDisplay *d = GetSelectDisplay();
    lvBGPic *out = GetCurrentOutput();
    if (!d || !out || (d->backBufferRecord && out == d->backBufferRecord)) return 0;
    lvDrawTarget *t = TargetOf(d);
    lvObjectId id = GetObjectIdOf(&out->header);
    lvSelected s;
    if (int code = FindSelected(L, out->selectedType, id, 1, t->hardware, &s)) return code;
    lvBitMapHandle **mask = nullptr, **alpha = nullptr;
    if (out->selectedType == SELECT_BRUSH) {
        mask = &((lvBrush *)s.record)->mask;
        alpha = &((lvBrush *)s.record)->alpha;
    } else {
        mask = &((lvBGPic *)s.record)->base.mask;
        alpha = &((lvBGPic *)s.record)->base.alpha;
    }
    if (t->kind == OUTPUT_MASK && !t->hardware) {
        if (!*mask) {
            lvBitMapHandle *m = AllocMaskBitmap(s.rgb, s.width, s.height, 1, nullptr, 0);
            if (!m) return ERR_ALLOCMASK;
            uint8_t *pixels;
            int rowBytes;
            uintptr_t token = GetPlanePixels(m, &pixels, &rowBytes, 1);
            if (token) {
                std::memset(pixels, 0xFF, (size_t)rowBytes * s.height);
                ReleasePlanePixels(token);
            }
            *mask = m;
        }
        t->mask = *mask;
        FreeBitmapHandle(*alpha);
        *alpha = nullptr;
    } else if (t->kind == OUTPUT_ALPHA && !t->paletteBitmap && !t->hardware) {
        if (!*alpha) {
            lvBitMapHandle *a = AllocAlphaBitmap(s.width, s.height, 1, nullptr, 0);
            if (!a) return ERR_ALLOCALPHA;
            uint8_t *pixels;
            int rowBytes;
            uintptr_t token = GetPlanePixels(a, &pixels, &rowBytes, 1);
            if (token) {
                std::memset(pixels, 0xFF, (size_t)rowBytes * s.height);
                ReleasePlanePixels(token);
            }
            *alpha = a;
        }
        t->alpha = *alpha;
        FreeBitmapHandle(*mask);
        *mask = nullptr;
    } else if (t->kind == OUTPUT_ALPHA && t->paletteBitmap && RasterState.paletteMode == PALETTEMODE_PEN) {
        if (RasterState.drawPen >= (1 << t->depth)) return ERR_PENRANGE;
    }
    if (out->selectedType == SELECT_BRUSH) {
        lvBrush *b = (lvBrush *)s.record;
        if (b->mask || b->alpha) b->depth = b->penBitmap ? b->depth : 32;
    }
    out->checked = 1;
    return 0;
}

int EndRedirect(lvState *L, lvSelectDisplay *d, int noRefresh)
{
    (void)noRefresh;
    if (!d) return ERR_OUTPUTDEVICE;
    lvDrawTarget *t = TargetOf(d);
    int code = 0;
    if (d->doubleBufferSuspended) {
        SetCurrentOutput(d->backBufferRecord);
        d->doubleBufferActive = 1;
        d->doubleBufferArg = d->savedDoubleBufferArg;
        d->doubleBufferSuspended = 0;
        ResetDrawTarget(t);
        // Drawing goes back into the back buffer, not onto the display.
        if (lvBGPic *back = d->backBufferRecord) {
            t->kind = OUTPUT_IMAGE;
            t->bitmap = back->base.bitmap;
            t->depth = back->depth;
            t->hardware = back->base.bitmap ? 0 : 1;
        }
    } else {
        int oldKind = t->kind;
        ResetDrawTarget(t);
        lvBGPic *out = d->selection;
        if (oldKind != OUTPUT_BGPIC && out && out->selectedType == SELECT_BGPIC && out->checked) {
            // The BGPic's shown and scaled sets follow the base set it was drawn into.
            code = RescaleBGPicFromBase((lvBGPic *)out->selectedRecord);
        }
        SetCurrentOutput(d->ownBGPic);
        if (out) out->changed = 1;
    }
    // Cursor, margins and the layers flag come back whatever happened above.
    RestoreTextCursor(d);
    if (d->isFallback) {
        fallbackActive = 0;
        RasterState.currentDisplay = nullptr;
        SetCurrentOutput(nullptr);
    }
    return code;
}

// ---- Nested script drawing ----------------------------------------------------------------

void SaveOutputForCallback(lvOutputSave *save)
{
    std::memset(save, 0, sizeof *save);
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d || d->doubleBufferActive) return;
    int kind = TargetOf(d)->kind;
    if (kind != OUTPUT_IMAGE && kind != OUTPUT_MASK && kind != OUTPUT_ALPHA) return;
    save->saved = 1;
    save->display = d;
    save->selection = *d->selection;
    save->output = GetCurrentOutput();
    save->rasterDisplay = RasterState.currentDisplay;
    save->target = *TargetOf(d);
    save->layersOn = d->layersOn, save->cursorX = d->cursorX, save->cursorY = d->cursorY;
    save->marginLeft = d->marginLeft, save->marginRight = d->marginRight;
    save->savedLayersOn = d->savedLayersOn, save->savedCursorX = d->savedCursorX;
    save->savedCursorY = d->savedCursorY, save->savedMarginLeft = d->savedMarginLeft;
    save->savedMarginRight = d->savedMarginRight;
    // The display is the output for the call; a fallback stands down.
    ResetDrawTarget(TargetOf(d));
    RestoreTextCursor(d);
    SetCurrentOutput(d->ownBGPic);
    if (d->isFallback) {
        fallbackActive = 0;
        RasterState.currentDisplay = nullptr;
    }
}

void RestoreOutputAfterCallback(lvState *L, lvOutputSave *save, int succeeded)
{
    lvSelectDisplay *d = GetSelectDisplay();
    if (d && !d->doubleBufferActive && TargetOf(d)->kind != OUTPUT_DISPLAY) EndRedirect(L, d, 0);
    (void)succeeded;
    if (!save->saved) return;
    d = save->display;
    if (d->isFallback) fallbackActive = 1;
    *d->selection = save->selection;
    *TargetOf(d) = save->target;
    d->layersOn = save->layersOn, d->cursorX = save->cursorX, d->cursorY = save->cursorY;
    d->marginLeft = save->marginLeft, d->marginRight = save->marginRight;
    d->savedLayersOn = save->savedLayersOn, d->savedCursorX = save->savedCursorX;
    d->savedCursorY = save->savedCursorY, d->savedMarginLeft = save->savedMarginLeft;
    d->savedMarginRight = save->savedMarginRight;
    SetCurrentOutput(save->output);
    RasterState.currentDisplay = save->rasterDisplay;
}

// ---- Output area for special coordinates -------------------------------------------------

static int OutputArea(void *, int axis, int *origin, int *size)
{
    lvBGPic *out = GetCurrentOutput();
    if (!out) return 0;
    if (const lvClipRegion *r = out->clipRegion) {
        *origin = axis == 0 ? r->x : r->y;
        *size = axis == 0 ? r->width : r->height;
        return 1;
    }
    *origin = 0;
    *size = axis == 0 ? out->scaledWidth : out->scaledHeight;
    return 1;
}

// ---- Commands -------------------------------------------------------------------------------

namespace {

int OptInt(lvState *L, int index, int fallback)
{
    return HasArg(L, index) ? IntArg(L, index) : fallback;
}

int CmdSelectBrush(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    return RedirectOutput(L, SELECT_BRUSH, GetObjectIdArg(L, 1), OUTPUT_IMAGE, 0, OptInt(L, 2, 0), OptInt(L, 3, 0));
}

int CmdSelectAnim(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    return ERR_UNIMPLCMD;
}

int CmdSelectBGPic(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    int mode = OptInt(L, 2, SELMODE_LAYERS);
    if (mode == SELMODE_LAYERS) {
        lvSelectDisplay *d = GetSelectDisplay();
        if (!d || !d->layersOn) return ERR_NOLAYERS;
        return ERR_UNIMPLCMD;  // layers of a BGPic come with the layers
    }
    lvObjectId id = GetObjectIdArg(L, 1);
    return RedirectOutput(L, SELECT_BGPIC, id, OUTPUT_IMAGE, 0, mode, OptInt(L, 3, 0));
}

int CmdSelectLayer(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d) return ERR_OUTPUTDEVICE;
    int kind = TargetOf(d)->kind;
    if (kind == OUTPUT_IMAGE) return ERR_SELECTBRUSH;
    if (kind == OUTPUT_MASK) return ERR_SELECTMASK;
    if (kind == OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
    if (!d->layersOn) return ERR_NOLAYERS;
    return ERR_UNIMPLCMD;
}

int SelectPlane(lvState *L, int kind)
{
    CheckArgCount(L, 1, 3, 0, 0);
    int type = OptInt(L, 2, SELECT_BRUSH);
    if (type == SELECT_ANIM && GetStackTop(L) < 3) return ERR_MISSINGPARAMTR;
    return RedirectOutput(L, type, GetObjectIdArg(L, 1), kind, OptInt(L, 3, 0), SELMODE_NORMAL, 0);
}

int CmdSelectMask(lvState *L) { return SelectPlane(L, OUTPUT_MASK); }
int CmdSelectAlphaChannel(lvState *L) { return SelectPlane(L, OUTPUT_ALPHA); }

int CmdEndSelect(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvSelectDisplay *d = GetSelectDisplay();
    if (!d) return ERR_OUTPUTDEVICE;
    if (TargetOf(d)->kind == OUTPUT_DISPLAY && !d->doubleBufferSuspended) return ERR_WRONGUSAGE;
    return EndRedirect(L, d, 0);
}

int CmdSetMaskMode(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int mode = IntArg(L, 1);
    if (mode < MASKVISIBLE || mode > MASKOR) return ERR_WRONGUSAGE;
    RasterState.maskMode = mode;
    return 0;
}

int CmdSetAlphaIntensity(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    double level = GetNumberOrPercentArg(L, 1, 255, 0, nullptr);
    int value = (int)NumberToInt64(level);
    if (value < -1 || value > 255) return ERR_WRONGUSAGE;
    RasterState.alphaIntensity = value;
    return 0;
}

const lvCommandEntry OffscreenCommands[] = {
    {"SelectBrush", CmdSelectBrush},
    {"SelectAnim", CmdSelectAnim},
    {"SelectBGPic", CmdSelectBGPic},
    {"SelectLayer", CmdSelectLayer},
    {"SelectMask", CmdSelectMask},
    {"SelectAlphaChannel", CmdSelectAlphaChannel},
    {"EndSelect", CmdEndSelect},
    {"SetMaskMode", CmdSetMaskMode},
    {"SetAlphaIntensity", CmdSetAlphaIntensity},
    {nullptr, nullptr},
};

const lvConstantEntry OffscreenConstants[] = {
    {"MASK", nullptr, 28},           {"ALPHACHANNEL", nullptr, 30},  {"MASKVISIBLE", nullptr, 0},
    {"MASKINVISIBLE", nullptr, 1},   {"MASKVANILLACOPY", nullptr, 2}, {"MASKXOR", nullptr, 3},
    {"MASKAND", nullptr, 4},         {"MASKOR", nullptr, 5},         {"VANILLACOPY", nullptr, -1},
    {"SELMODE_NORMAL", nullptr, 0},  {"SELMODE_COMBO", nullptr, 1},  {"SELMODE_LAYERS", nullptr, 2},
    {nullptr, nullptr, 0},
};

}  // namespace

const lvConstantEntry *GetOffscreenConstants(void) { return OffscreenConstants; }

void InstallOutputArea(void) { RasterState.services.GetOutputArea = OutputArea; }

int OpenOffscreenLibrary(lvState *L)
{
    InstallOutputArea();
    return RegisterCommandTable(L, OffscreenCommands, "offscreen");
}
