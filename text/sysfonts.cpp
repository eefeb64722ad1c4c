// sysfonts.cpp - system fonts through fontconfig: a family with a weight and
// a slant to the file that holds it. fontconfig substitutes freely; a match
// whose families do not include the one asked for is refused, so that a
// script asking for a missing font hears so.
#include <fontconfig/fontconfig.h>
#include <string.h>
#include <strings.h>

#include <cstdio>

#include "text/lvtruetype.h"

// FONTWEIGHT_ values to the 100..900 weights of OpenType.
static int OpenTypeWeight(int weight)
{
    switch (weight) {
    case FONTWEIGHT_THIN: return 100;
    case FONTWEIGHT_EXTRALIGHT: return 200;
    case FONTWEIGHT_LIGHT: return 300;
    case FONTWEIGHT_MEDIUM: return 500;
    case FONTWEIGHT_SEMIBOLD: return 600;
    case FONTWEIGHT_BOLD: return 700;
    case FONTWEIGHT_EXTRABOLD: return 800;
    case FONTWEIGHT_HEAVY: return 900;
    default: return 400;
    }
}

int FindSystemFontFile(const char *family, int weight, int slant, char *path, size_t pathSize, int *faceIndex)
{
    if (!FcInit()) return 0;
    FcPattern *pattern = FcPatternCreate();
    if (!pattern) return 0;
    FcPatternAddString(pattern, FC_FAMILY, (const FcChar8 *)family);
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(OpenTypeWeight(weight)));
    FcPatternAddInteger(pattern, FC_SLANT, slant == FONTSLANT_ITALIC    ? FC_SLANT_ITALIC
                                           : slant == FONTSLANT_OBLIQUE ? FC_SLANT_OBLIQUE
                                                                        : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern *match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return 0;
    int ok = 0;
    FcChar8 *name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; i++) {
        if (strcasecmp((const char *)name, family) == 0) {
            ok = 1;
            break;
        }
    }
    FcChar8 *file = nullptr;
    int index = 0;
    if (ok && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        snprintf(path, pathSize, "%s", (const char *)file);
        *faceIndex = index;
    } else {
        ok = 0;
    }
    FcPatternDestroy(match);
    return ok;
}

void ForEachSystemFontFile(void (*fn)(const char *path, void *ctx), void *ctx)
{
    if (!FcInit()) return;
    FcPattern *pattern = FcPatternCreate();
    FcObjectSet *objects = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet *set = pattern && objects ? FcFontList(nullptr, pattern, objects) : nullptr;
    if (set) {
        // A collection appears once a face: each file is handed over once.
        const char *last = "";
        for (int i = 0; i < set->nfont; i++) {
            FcChar8 *file = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
            if (strcmp((const char *)file, last) == 0) continue;
            last = (const char *)file;
            fn(last, ctx);
        }
        FcFontSetDestroy(set);
    }
    if (objects) FcObjectSetDestroy(objects);
    if (pattern) FcPatternDestroy(pattern);
}

void DoneSystemFonts()
{
    // fontconfig is shared with the desktop dialogs (GTK and Pango keep their own
    // references to its configuration and caches): finalising it here would pull it
    // out from under them, and fontconfig aborts the process when its caches are still
    // in use. Its memory stays reachable from its own globals until the process ends.
}
