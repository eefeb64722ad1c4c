// monitor.cpp - the resource monitor's window and text while no layer engine
// is there to keep the text as a layer: a display of its own (top right, black,
// no close gadget, never hidden) whose picture is cleared and drawn with the
// text on every update, in topaz at size 8 and the default monospaced face at
// other sizes, white, plain.
#include "text/lvmonitor.h"

#include <cstdio>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "raster/lvdrawtags.h"
#include "runtime/libs_core.h"
#include "text/lvtextlib.h"
#include "text/lvtextlayout.h"
#include "text/lvtextout.h"
#include "ui/display.h"
#include "ui/display_draw.h"

namespace {

lvObjectId MonitorId{0, nullptr};   // the monitor display, a Nil-made one

lvDisplay *FindMonitor()
{
    lvDisplay *d = nullptr;
    if (!MonitorId.handle || FindDisplayById(MonitorId, &d)) return nullptr;
    return d;
}

// The display current before is current again when the holder goes, even
// when the drawing fails.
struct CurrentDisplayKeeper {
    lvDisplay *before = GetCurrentDisplay();
    ~CurrentDisplayKeeper() { SetCurrentDisplay(before); }
};

int OpenMonitor(lvState *L, int width, int height)
{
    CurrentDisplayKeeper keep;
    lvDisplayRequest r;
    InitDisplayRequest(&r);
    r.x = -80000;  // RIGHT
    r.y = -70000;  // TOP
    r.width = width;
    r.height = height;
    r.colour = 0;
    r.styleFlags |= DSTYLE_NOHIDE | DSTYLE_NOCLOSE;
    r.resourceMonitor = 1;
    std::snprintf(r.title, sizeof r.title, "%s", "Resource monitor");
    lvDisplay *made = nullptr;
    int err = CreateDisplayFromRequest(L, 0, 1, &r, &made);
    FreeDisplayRequest(&r);
    if (err) return err;
    MonitorId = lvObjectId{0, made->header.handle};
    if ((err = OpenDisplayById(L, MonitorId, -1, LV_NOPOSITION, LV_NOPOSITION, 1))) {
        FreeDisplayById(L, MonitorId);
        MonitorId = lvObjectId{0, nullptr};
        return err;
    }
    return 0;
}

void FreeMonitor(lvState *L)
{
    if (!MonitorId.handle) return;
    if (FindMonitor()) FreeDisplayById(L, MonitorId);
    MonitorId = lvObjectId{0, nullptr};
}

int ShowMonitorText(lvState *L, const char *text, int fontSize)
{
    lvDisplay *monitor = FindMonitor();
    if (!monitor) {
        // Freed behind the monitor's back: it is closed.
        MonitorId = lvObjectId{0, nullptr};
        ResourceMonitorClosed();
        return ERR_FINDDISPLAY;
    }
    lvFontManager *fm = &GetTextLibrary()->fonts;
    lvFont *font = fontSize == 8 ? fm->topaz : nullptr;
    if (!font)
        if (int err = OpenFontByName(fm, LV_MONOSPACE_DEFAULT, fontSize, 1, 0, 0, nullptr, 0, "inbuilt", "", &font))
            return err;
    CurrentDisplayKeeper keep;
    SetCurrentDisplay(monitor);
    if (int err = ClsOutput(L, 0)) return err;
    lvTextOptions o;
    InitTextOptions(&o, 0);
    o.objectType = LV_TEXT_TEXTOUT;
    o.style = *GetFontStyle();
    o.style.style = FORM_NORMAL;
    o.style.colour = 0xFFFFFF;
    o.formatTagsOff = 1;
    o.text = text;
    o.length = std::strlen(text);
    lvTextImage image;
    if (int err = LayoutText(fm, font, &o, &image)) return err;
    return DrawTextImage(L, &image, image.leftExtension, image.topExtension);
}

// The layer lines of the text, through the layer engine's table while its library is open:
// the layers of the current display, and all layers. The monitor draws its text into its
// picture, not as a layer, so there is no layer of its own to leave out.
void CountMonitorExtras(lvState *, lvResourceExtras *extras)
{
    const lvImageLayerServices *layers = GetImageLayerServices();
    if (!layers || !layers->CountLayers) return;
    extras->layersOnScreen = layers->CountLayers(layers->context, 0);
    extras->layersTotal = layers->CountLayers(layers->context, 1);
}

const lvResourceMonitorHooks MonitorHooks = {OpenMonitor, FreeMonitor, ShowMonitorText, CountMonitorExtras};

}  // namespace

void InstallTextResourceMonitor() { SetResourceMonitorHooks(&MonitorHooks); }

void RemoveTextResourceMonitor()
{
    MonitorId = lvObjectId{0, nullptr};
    SetResourceMonitorHooks(nullptr);
}
