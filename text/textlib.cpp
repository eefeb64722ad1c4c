// textlib.cpp - the text library's state for a run: the font manager made at
// open and freed at close, the current font and style, font objects and the
// measuring of styled text.
#include "text/lvtextlib.h"

#include <algorithm>
#include <new>

#include "runtime/errors.h"
#include "runtime/encoding.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_menus.h"
#include "base/lverrors.h"
#include <cstring>

static int RenderMenuLabel(const char *text, int pixels, uint8_t **coverage, int *width, int *height);
static const lvMenuLabelServices menuLabels = {RenderMenuLabel};
#include "text/lvtextobject.h"
#include "text/lvtextout.h"

static lvTextLibrary TextLibrary;

lvTextLibrary *GetTextLibrary() { return &TextLibrary; }

static void FreeFontObject(lvObjectHeader *h)
{
    if (TextLibrary.refOps.release) FreeObjectUserData(&h->userData, &TextLibrary.refOps);
    delete reinterpret_cast<lvFontObject *>(h);
}

static int TextObjectAttribute(lvState *, int, lvObjectId) { return ERR_UNKNOWNATTR; }

int OpenTextEngine(lvObjectAttributeFunction fontAttribute, const lvRefOps *refOps,
                   lvObjectAttributeFunction textObjectAttribute)
{
    if (TextLibrary.open) CloseTextEngine();
    TextLibrary = lvTextLibrary{};
    if (refOps) TextLibrary.refOps = *refOps;
    if (int err = InitFontManager(&TextLibrary.fonts)) {
        DoneFontManager(&TextLibrary.fonts);
        return err;
    }
    TextLibrary.open = 1;
    TextLibrary.formatTags = 1;
    if (int err = SetupDefaultFont()) {
        CloseTextEngine();
        return err;
    }
    if (RegisterObjectType(LV_TYPE_TEXTOBJECT, "Text objects", &TextLibrary.textObjects,
                           textObjectAttribute ? textObjectAttribute : TextObjectAttribute,
                           nullptr, 0) ||
        RegisterObjectType(LV_TYPE_FONT, "Fonts", &TextLibrary.fontObjects, fontAttribute, nullptr, 0)) {
        CloseTextEngine();
        return ERR_MEM;
    }
    InstallTextObjectPictures(true);
    SetMenuLabelServices(&menuLabels);
    return 0;
}

void CloseTextEngine()
{
    if (!TextLibrary.open) return;
    InstallTextObjectPictures(false);
    SetMenuLabelServices(nullptr);
    while (lvObjectHeader *h = TextLibrary.fontObjects) {
        TextLibrary.fontObjects = h->next;
        FreeFontObject(h);
    }
    FreeAllTextObjects();
    FreeAllVectorFonts(&TextLibrary.vectorFonts);
    while (lvOwnedFont *owned = TextLibrary.imageFonts) {
        TextLibrary.imageFonts = owned->next;
        DestroyFont(&TextLibrary.fonts, owned->font);
        delete owned;
    }
    FreeDisplayTabs();
    DoneFontManager(&TextLibrary.fonts);
    TextLibrary.currentFont = nullptr;
    TextLibrary.open = 0;
}

// Menu labels in the built-in sans face, drawn for the windows' strips and popups.
static int RenderMenuLabel(const char *text, int pixels, uint8_t **coverage, int *width, int *height)
{
    *coverage = nullptr;
    *width = *height = 0;
    if (!TextLibrary.open) return ERR_WRONGUSAGE;
    lvFontManager *fm = &TextLibrary.fonts;
    lvFont *font = nullptr;
    if (int err = OpenFontByName(fm, LV_SANS_DEFAULT, pixels, 1, 0, CHARMAP_DEFAULT, nullptr, 0, "inbuilt", "", &font))
        return err;
    size_t length = std::strlen(text);
    lvFontExtent e = {};
    if (int err = MeasureFontText(fm, font, text, length, FORM_NORMAL, 0, LV_ENCODING_UTF8, &e)) return err;
    int w = std::max(e.advance, e.maxX), h = e.height;
    if (w < 1 || h < 1 || w > 4096 || h > 256) return ERR_WRONGUSAGE;
    uint8_t *pixelsOut = (uint8_t *)AllocMemory((size_t)w * h, 1);
    if (!pixelsOut) return ERR_MEM;
    lvFontPlane plane = {pixelsOut, w, w, h, LV_PLANE_ALPHA8};
    if (int err = RenderFontText(fm, font, &plane, 0, 0, text, length, FORM_NORMAL, 0, LV_ENCODING_UTF8, nullptr)) {
        FreeMemory(pixelsOut);
        return err;
    }
    *coverage = pixelsOut;
    *width = w;
    *height = h;
    return 0;
}

int SetupDefaultFont()
{
    lvFont *font = nullptr;
    if (int err = OpenFontByName(&TextLibrary.fonts, LV_BITMAP_DEFAULT, 8, 1, 0, CHARMAP_DEFAULT, nullptr, 0,
                                 "native", "", &font))
        return err;
    TextLibrary.currentFont = font;
    return 0;
}

void SelectTextFont(lvFont *font)
{
    TextLibrary.currentFont = font ? font : TextLibrary.fonts.topaz;
    GetFontStyle()->style = FORM_NORMAL;
}

// ---- Font objects -----------------------------------------------------------------

static int NotFound(lvObjectId id)
{
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDFONT2;
}

int FindFontById(lvObjectId id, lvFontObject **out)
{
    *out = nullptr;
    for (lvObjectHeader *h = TextLibrary.fontObjects; h; h = h->next) {
        if (ObjectIdMatches(h, id)) {
            *out = reinterpret_cast<lvFontObject *>(h);
            return 0;
        }
    }
    return NotFound(id);
}

int RemoveFontObject(lvObjectId id)
{
    for (lvObjectHeader **link = &TextLibrary.fontObjects; *link; link = &(*link)->next) {
        if (ObjectIdMatches(*link, id)) {
            lvObjectHeader *h = *link;
            *link = h->next;
            FreeFontObject(h);
            return 0;
        }
    }
    return NotFound(id);
}

int AddFontObject(int number, bool makeHandle, lvFont *font, lvFontObject **out)
{
    if (!makeHandle) RemoveFontObject(lvObjectId{number, nullptr});
    lvFontObject *object = new (std::nothrow) lvFontObject{};
    if (!object) return ERR_MEM;
    InitObjectHeader(&object->header, LV_TYPE_FONT, number, makeHandle);
    object->font = font;
    lvObjectHeader **tail = &TextLibrary.fontObjects;
    while (*tail) tail = &(*tail)->next;
    *tail = &object->header;
    *out = object;
    return 0;
}

// ---- Styles and measuring ----------------------------------------------------------

void ClampTextStyle(lvFontStyle *style)
{
    style->shadowSize = std::clamp(style->shadowSize, 1, 64);
    style->borderSize = std::clamp(style->borderSize, 1, 64);
    if (style->shadowDirection < SHDWNORTH || style->shadowDirection > SHDWNORTHWEST)
        style->shadowDirection = SHDWSOUTHEAST;
}

// FreeType faces make bold and italic themselves (from the family's faces or
// by emboldening and shearing) and measure them; other fonts get them drawn
// over the plain glyphs.
bool StyleIsNative(const lvFont *font, int style)
{
    // TrueType faces make bold and italic themselves only for anti-aliased glyphs:
    // hard-edged text takes the same synthetic pass as bitmap fonts.
    return font->type == LV_FONT_SYSTEM || (font->type == LV_FONT_TRUETYPE && (style & FORM_ANTIALIAS));
}

int MeasureStyledText(int encoding, int charSpacing, const lvFontStyle *style, lvTextMetrics *out,
                      const char *text, size_t length)
{
    *out = {};
    if (!style) style = GetFontStyle();
    lvFont *font = TextLibrary.currentFont ? TextLibrary.currentFont : TextLibrary.fonts.topaz;
    return MeasureStyledTextIn(&TextLibrary.fonts, font, encoding, charSpacing, style, out, text, length);
}

int MeasureStyledTextIn(lvFontManager *fm, lvFont *font, int encoding, int charSpacing, const lvFontStyle *style,
                        lvTextMetrics *out, const char *text, size_t length)
{
    *out = {};
    if (!font) font = fm->topaz;
    if (!font) return ERR_OPENFONT;
    int flags = style->style & FORM_NORMAL ? 0 : style->style;
    lvFontExtent e;
    const bool native = StyleIsNative(font, flags);
    if (int err = MeasureFontText(fm, font, text, length,
                                  flags & (native || font->type != LV_FONT_TRUETYPE ? FORM_BOLD | FORM_ITALIC | FORM_ANTIALIAS
                                                                                    : FORM_ANTIALIAS),
                                  charSpacing, encoding, &e))
        return err;
    out->advance = e.advance;
    out->height = e.height;
    out->minX = e.minX, out->minY = e.minY, out->maxX = e.maxX, out->maxY = e.maxY;
    if (!native) {
        if ((flags & FORM_BOLD) && !(flags & FORM_ANTIALIAS)) out->maxX += 1;
        if (flags & FORM_ITALIC) {
            out->maxX += font->baseline / 2;
            out->minX += (font->height - font->baseline) / -2;
        }
    }
    if (flags & FORM_BORDER) {
        int s = std::clamp(style->borderSize, 1, 64);
        out->topExtension = -s, out->bottomExtension = s, out->leftExtension = -s, out->rightExtension = s;
    }
    if (flags & FORM_SHADOW) {
        int s = std::clamp(style->shadowSize, 1, 64);
        if (font->type == LV_FONT_PLUGIN && font->depth == 32) s += 10; // soft shadows spread further
        int direction = style->shadowDirection;
        if (direction < SHDWNORTH || direction > SHDWNORTHWEST) direction = SHDWSOUTHEAST;
        int left, top, right, bottom;
        GetShadowOffsets(s, direction, &left, &top, &right, &bottom);
        out->topExtension -= top;
        out->bottomExtension += bottom;
        out->leftExtension -= left;
        out->rightExtension += right;
    }
    out->totalWidth = std::max(out->advance, out->maxX + 1);
    return 0;
}

int KeepImageFont(lvFont *font)
{
    lvOwnedFont *owned = new (std::nothrow) lvOwnedFont{TextLibrary.imageFonts, font};
    if (!owned) return ERR_MEM;
    TextLibrary.imageFonts = owned;
    return 0;
}
