// driver.cpp - the transition driver: checks the output, resolves the effect id,
// prepares the new picture (and for a BGPic the old view), runs the frames with one
// presentation each, and gives everything back. The effect table maps ids to the step
// routines of the families.
#include <cstring>

#include "base/lverrors.h"
#include "fx/fx_families.h"
#include "fx/lvtransition.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "platform/lvplatform.h"
#include "raster/lvblit.h"
#include "raster/lvimage.h"
#include "raster/lvrect.h"
#include "text/lvtextobject.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"

namespace {

// One row per family: the ids it serves, its step and clean-up routines. Families still
// to come add their rows here.
struct EffectRow {
    int32_t first, last;
    lvEffectStep step;
    lvEffectCleanup cleanup;
};
const EffectRow EffectTable[] = {
    {0, 6, HStripesStep, nullptr},        {7, 13, VStripesStep, nullptr},
    {14, 18, HBlindsStep, nullptr},       {19, 23, VBlindsStep, nullptr},
    {24, 24, VOpenCurtainStep, nullptr},  {25, 25, VCloseCurtainStep, nullptr},
    {26, 26, HOpenCurtainStep, nullptr},  {27, 27, HCloseCurtainStep, nullptr},
    {28, 28, BarsStep, nullptr},          {29, 29, QuartersStep, nullptr},
    {30, 30, RevealLeftStep, nullptr},    {31, 31, RevealRightStep, nullptr},
    {32, 32, RevealTopStep, nullptr},     {33, 33, RevealBottomStep, nullptr},
    {34, 34, VLines2Step, nullptr},       {35, 35, HLines2Step, nullptr},
    {36, 36, HLinesStep, nullptr},        {37, 37, VLinesStep, nullptr},
    {38, 46, RectStep, nullptr},          {88, 96, RectBackStep, nullptr},
};

lvTransitionFrameObserver FrameObserver;
void *FrameObserverUser;

int32_t BGPicWidthOf(const lvDisplay *d) { return d->bgpic ? d->bgpic->scaledWidth : 0; }
int32_t BGPicHeightOf(const lvDisplay *d) { return d->bgpic ? d->bgpic->scaledHeight : 0; }

// Step 3: 0 when the run may draw (*matched: the selection of the very target, ended
// before drawing), 1 when nothing is drawn, or an error code.
int CheckOutput(lvTransition *t, lvDisplay *d, void *targetRecord, int *matched)
{
    *matched = 0;
    int kind = d->select.blit.target.kind;
    if (kind == OUTPUT_DISPLAY) return 0;
    lvBGPic *sel = d->select.selection;
    int selType = sel ? sel->selectedType : 0;
    void *selRecord = sel ? sel->selectedRecord : nullptr;
    // A selected BGPic is drawn into as an image here: its selection names it.
    if (kind == OUTPUT_BGPIC || (kind == OUTPUT_IMAGE && selType == SELECT_BGPIC)) {
        if (t->kind == FXKIND_BGPIC && selType == SELECT_BGPIC && selRecord == targetRecord) return *matched = 1, 0;
        return ERR_SELECTBG;
    }
    if (kind == OUTPUT_IMAGE || kind == OUTPUT_MASK || kind == OUTPUT_ALPHA) {
        if (t->kind == FXKIND_BRUSH && selType == SELECT_BRUSH && selRecord == targetRecord)
            return *matched = 1, 0;
        if (kind == OUTPUT_MASK) return ERR_SELECTMASK;
        if (kind == OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
        if (d->select.doubleBufferActive) return ERR_ENDDOUBLEBUFFER;
        if (selType == SELECT_ANIM) return ERR_SELECTANIM;
        return ERR_SELECTBRUSH;
    }
    if (d->refreshMode) return ERR_BEGINREFRESH;
    return 1;
}

// The text object's image as bitmaps (RGB through its alpha), owned by the transition.
int TakeTextObjectImages(lvTransition *t, lvTextObject *o)
{
    const lvTextImage &im = o->image;
    t->width = im.width, t->height = im.height;
    if (im.width <= 0 || im.height <= 0) return 0;
    if (!(t->newRgb = AllocRgbBitmap(im.width, im.height, 0, nullptr))) return ERR_BITMAP;
    t->ownsRgb = 1;
    if (!im.rgb.empty()) {
        lvScopedLock lock(t->newRgb, 0);
        if (!lock.token) return ERR_LOCKBMAP;
        for (int row = 0; row < im.height; row++)
            for (int col = 0; col < im.width; col++)
                WriteLockPixel(&lock.lock, im.rgb[(size_t)row * im.width + col], col, row);
    }
    if (!(t->newAlpha = AllocAlphaBitmap(im.width, im.height, 1, nullptr, 0))) return ERR_ALLOCALPHA;
    t->ownsAlpha = 1;
    if (!im.alpha.empty() && !CopyBytesToPlane(t->newAlpha, im.alpha.data(), im.width, im.height))
        return ERR_ALLOCALPHA;
    t->depth = 32;
    return 0;
}

// Step 8 for the kinds drawn at a position.
int PrepareObject(lvTransition *t, void **record)
{
    lvState *L = t->state;
    switch (t->kind) {
    case FXKIND_BRUSH: {
        lvBrush *b = nullptr;
        if (int err = FindBrushById(L, t->objectId, &b, 0)) return err;
        *record = b;
        b->lockCount++;
        t->lockCounter = (int32_t *)&b->lockCount;
        t->x = ResolveSpecialX(t->x, b->width, 0, 0.0);
        t->y = ResolveSpecialY(t->y, b->height, 0, 0.0);
        t->width = b->width, t->height = b->height;
        t->newRgb = b->bitmap, t->newMask = b->mask, t->newAlpha = b->alpha, t->newChunky = b->penBitmap;
        t->newPalette = b->palette;
        t->depth = b->depth;
        t->transparentPen = b->penBitmap ? b->transparentColour : -1;
        return 0;
    }
    case FXKIND_TEXTOBJECT: {
        lvTextObject *o = nullptr;
        if (int err = FindTextObjectById(t->objectId, &o)) return err;
        *record = o;
        o->locked++;
        t->lockCounter = (int32_t *)&o->locked;
        t->x = ResolveSpecialX(t->x, o->image.width, 0, 0.0) + (o->noAdjust ? 0 : o->image.leftExtension);
        t->y = ResolveSpecialY(t->y, o->image.height, 0, 0.0) + (o->noAdjust ? 0 : o->image.topExtension);
        return TakeTextObjectImages(t, o);
    }
    case FXKIND_BGPICPART: {
        lvBGPic *b = nullptr;
        if (int err = FindBGPicById(t->objectId, &b, 0)) return err;
        *record = b;
        b->lockCount++;
        t->lockCounter = (int32_t *)&b->lockCount;
        int px = t->partX, py = t->partY, w = t->width, h = t->height;
        ClipRectToBounds(0, 0, b->shownWidth, b->shownHeight, &px, &py, &w, &h);
        if (w <= 0 || h <= 0) return ERR_WRONGUSAGE;
        lvPictureSet source = {b->shown.bitmap, b->shown.mask, b->shown.alpha, b->shown.penBitmap, nullptr}, copy = {};
        if (int err = DuplicateImage(&source, px, py, w, h, 0, 0, nullptr, &copy)) return err;
        t->newRgb = copy.rgb, t->newMask = copy.mask, t->newAlpha = copy.alpha, t->newChunky = copy.chunky;
        t->ownsRgb = t->ownsMask = t->ownsAlpha = t->ownsChunky = 1;
        t->newPalette = b->palette;
        t->depth = b->palette ? b->depth : 24;
        t->transparentPen = b->shown.penBitmap ? b->transparentColour : -1;
        t->width = w, t->height = h;
        t->x = ResolveSpecialX(t->x, w, 0, 0.0);
        t->y = ResolveSpecialY(t->y, h, 0, 0.0);
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

// Step 8 for a BGPic: the display takes it without showing it; the old view stays in
// both work buffers until the effect draws the new picture over it.
int PrepareBGPic(lvTransition *t, lvDisplay *d, void **record)
{
    lvBGPic *b = nullptr;
    if (int err = FindBGPicById(t->objectId, &b, 0)) return err;
    *record = b;
    if (BGPicHasTransparency(b) || (d->bgpic && BGPicHasTransparency(d->bgpic))) return ERR_WRONGUSAGE;
    t->previousBGPic = d->bgpic;
    lvShowBGPicGrab g = {};
    if (int err = ShowBGPic(t->state, t->objectId, t->newDisplayX, t->newDisplayY, 1, &g)) return err;
    t->newRgb = g.newBitmap, t->newChunky = g.newPaletteBitmap, t->newPalette = g.newPalette;
    t->ownsRgb = t->newRgb != nullptr, t->ownsChunky = t->newChunky != nullptr, t->ownsPalette = g.newPalette != nullptr;
    t->depth = g.newDepth;
    t->grabbedRgb = g.oldView, t->grabbedChunky = g.oldPaletteBitmap, t->oldPalette = g.oldPalette;
    t->oldDepth = g.oldDepth;
    t->width = b->shownWidth, t->height = b->shownHeight;
    // A palette old view on a display that keeps no pens becomes RGB through its pens.
    if (t->grabbedChunky && !d->backgroundBuffer.chunky && t->oldPalette) {
        lvBitMapHandle *rgb = nullptr;
        if (int err = ChunkyToRgbBitmap(t->grabbedChunky, t->grabbedChunky->width, t->grabbedChunky->height, -1, 0,
                                        t->oldPalette, &rgb, nullptr, nullptr))
            return err;
        FreeBitmapHandle(t->grabbedChunky);
        t->grabbedChunky = nullptr;
        FreeBitmapHandle(t->grabbedRgb);
        t->grabbedRgb = rgb;
        t->oldDepth = 24;
    }
    lvBufferPair *pairs[2] = {&d->backgroundBuffer, &d->pictureBuffer};
    for (lvBufferPair *p : pairs) {
        lvBitMapHandle *target = p->rgb ? p->rgb : p->chunky;
        lvBitMapHandle *source = t->grabbedRgb ? t->grabbedRgb : t->grabbedChunky;
        if (!target || !source) continue;
        CopyRectClipped(0, source->height, 0, t->grabbedRgb, t->grabbedChunky, p->rgb, p->chunky, 0, 0, source->width,
                        source->width, source->height, target->width, target->height);
    }
    PresentDisplayRect(d, 0, 0, d->pictureBuffer.rgb ? d->pictureBuffer.rgb->width : 0,
                       d->pictureBuffer.rgb ? d->pictureBuffer.rgb->height : 0);
    return 0;
}

// Step 18: the display, its buffers and the background agree.
void CompleteBGPic(lvTransition *t, lvDisplay *d)
{
    lvBGPic *b = d->bgpic;
    if (!b) return;
    lvBufferPair *pairs[2] = {&d->backgroundBuffer, &d->pictureBuffer};
    for (lvBufferPair *p : pairs) {
        lvBitMapHandle *target = p->rgb ? p->rgb : p->chunky;
        if (!target) continue;
        CopyRectClipped(0, b->shownHeight, 0, b->shown.bitmap, b->shown.penBitmap, p->rgb, p->chunky, 0, 0,
                        b->shownWidth, b->shownWidth, b->shownHeight, target->width, target->height);
    }
    (void)t;
    if (d->pictureBuffer.rgb) PresentDisplayRect(d, 0, 0, d->pictureBuffer.rgb->width, d->pictureBuffer.rgb->height);
}

}  // namespace

int LookupEffectRoutines(int32_t id, lvEffectStep *step, lvEffectCleanup *cleanup)
{
    *step = nullptr, *cleanup = nullptr;
    if (id < 0 || id > 139 || id == 113) return ERR_WRONGUSAGE;
    for (const EffectRow &row : EffectTable)
        if (id >= row.first && id <= row.last) {
            *step = row.step, *cleanup = row.cleanup;
            return 0;
        }
    return ERR_UNIMPLCMD;
}

void SetTransitionFrameObserver(lvTransitionFrameObserver observer, void *user)
{
    FrameObserver = observer;
    FrameObserverUser = user;
}

void ReleaseTransitionState(lvTransition *t, int32_t completed)
{
    if (t->effectState) {
        if (t->cleanupRoutine) t->cleanupRoutine(t, completed);
        FreeMemory(t->effectState);
        t->effectState = nullptr;
    }
    FreeTransitionImages(t);
    FreeBitmapHandle(t->oldRgb);
    FreeBitmapHandle(t->oldChunky);
    FreeBitmapHandle(t->grabbedRgb);
    FreeBitmapHandle(t->grabbedChunky);
    FreeMemory(t->oldPalette);
    t->oldRgb = t->oldChunky = t->grabbedRgb = t->grabbedChunky = nullptr;
    t->oldPalette = nullptr;
    if (t->lockCounter) {
        (*t->lockCounter)--;
        t->lockCounter = nullptr;
    }
}

int RunPreparedTransition(lvTransition *t)
{
    if (!t->stepRoutine)
        if (int err = LookupEffectRoutines(t->effect, &t->stepRoutine, &t->cleanupRoutine)) return err;
    t->damageX1 = 1, t->damageX2 = 0;
    t->runState = 0;
    t->frameIndex = 0;
    int32_t none = 0;
    if (int err = t->stepRoutine(t, &none)) return err;
    t->runState = 1;
    lvDisplay *d = t->workSet ? nullptr : GetCurrentDisplay();
    int32_t width = d ? BGPicWidthOf(d) : 0, height = d ? BGPicHeightOf(d) : 0;
    for (;;) {
        if (d && t->state && GetDisplayAdapter()) {
            int code = PollDisplayEvents(t->state, 2);
            if (code == ERR_USERABORT) return 0;
            if (code) return code;
        }
        if (d && (BGPicWidthOf(d) != width || BGPicHeightOf(d) != height) && !d->autoscale) {
            t->sizeChanged = 1;
            if (t->kind != FXKIND_BGPIC) t->restart = 1;
            return 0;
        }
        int32_t done = 0;
        // A step that fails ends the run with its error: a step that cannot advance
        // would otherwise be called again forever.
        if (int err = t->stepRoutine(t, &done)) return err;
        if (FrameObserver) FrameObserver(t, done, FrameObserverUser);
        if (done) return 0;
        if (d && t->state && IsVWaitEnabled()) VWaitDisplay(t->state, d);
    }
}

int RunTransition(lvTransition *request)
{
    lvTransition *t = (lvTransition *)AllocMemory(sizeof(lvTransition), 1);
    if (!t) return ERR_MEM;
    *t = *request;
    lvState *L = t->state;
    t->speed = t->step;
    t->transparentPen = -1;
    t->depth = 24;
    if (t->effect == 113) t->effect = FX_RANDOMEFFECT;
    struct Release {
        lvTransition *t;
        int completed = 0;
        ~Release()
        {
            ReleaseTransitionState(t, completed);
            FreeMemory(t);
        }
    } release{t};
    if (t->async) return ERR_UNIMPLCMD;
    if (t->kind != FXKIND_BGPIC && t->kind != FXKIND_BRUSH && t->kind != FXKIND_TEXTOBJECT &&
        t->kind != FXKIND_BGPICPART)
        return ERR_UNIMPLCMD;
    lvDisplay *d = GetCurrentDisplay();
    if (!d || !d->bgpic) return ERR_OUTPUTDEVICE;
    if (d->select.layersOn) return ERR_UNIMPLCMD;
    if (d->select.doubleBufferActive)
        if (int err = EndDisplayDoubleBuffer(L, d)) return err;
    // The record the output check compares the selection with.
    void *target = nullptr;
    if (t->kind == FXKIND_BGPIC || t->kind == FXKIND_BGPICPART) {
        lvBGPic *b = nullptr;
        if (int err = FindBGPicById(t->objectId, &b, 0)) return err;
        target = b;
    } else if (t->kind == FXKIND_BRUSH) {
        lvBrush *b = nullptr;
        if (int err = FindBrushById(L, t->objectId, &b, 0)) return err;
        target = b;
    }
    int matched = 0;
    int check = CheckOutput(t, d, target, &matched);
    if (check == 1) return 0;
    if (check) return check;
    if (t->effect == FX_RANDOMEFFECT) t->effect = PickRandomEffect(t->kind != FXKIND_BGPIC && !t->bgpicEmu);
    if (t->kind != FXKIND_BGPIC && !IsEffectForObjects(t->effect)) t->effect = 0;
    if (t->effect < 0 || t->effect > 139 || t->effect == 113) return ERR_WRONGUSAGE;
    if (int err = LookupEffectRoutines(t->effect, &t->stepRoutine, &t->cleanupRoutine)) return err;
    if (matched)
        if (int err = EndRedirect(L, &d->select, 0)) return err;
    if (t->reverse) t->effect = ReverseEffectForUndo(t->effect);
    void *record = nullptr;
    int err = t->kind == FXKIND_BGPIC ? PrepareBGPic(t, d, &record) : PrepareObject(t, &record);
    if (err) return err;
    if (t->kind != FXKIND_BGPIC && !CheckTargetDepth(t->newChunky != nullptr, t->depth)) return ERR_DEPTHMISMATCH;
    // Stepping: direct draws go into the work buffer unshown; each frame is presented
    // once, as a whole, when the family ends it.
    t->directTarget = nullptr;
    t->bgpicWidth = d->blitPicture.width;
    t->bgpicHeight = d->blitPicture.height;
    t->scaledDisplay = d->autoscale && d->scaleWidth > 0;
    t->blitFlags = BLIT_BACKGROUND | BLIT_NOREFRESH;
    t->clipRegion = d->bgpic->clipRegion;
    err = RunPreparedTransition(t);
    // The display took the new BGPic already: even a run that failed ends showing it.
    if (t->kind == FXKIND_BGPIC && !t->sizeChanged) CompleteBGPic(t, d);
    if (err) return err;
    request->restart = t->restart;
    release.completed = !t->sizeChanged;
    return 0;
}
