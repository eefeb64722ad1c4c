// constants.cpp - the effect names of the "transitionfx" library: ids 0 to 139 (47 to 50
// under two names each), RANDOMEFFECT and RANDOMPARAMETER.
#include <cstddef>

#include "fx/lvtransition.h"
#include "vm/lvvm.h"

namespace {

// Indexed by effect id; 113 has no name (it is taken as a random pick).
const char *const EffectNames[FX_EFFECTCOUNT] = {
    "HSTRIPES", "HSTRIPES2", "HSTRIPES4", "HSTRIPES8", "HSTRIPES16", "HSTRIPES32", "HSTRIPES64",
    "VSTRIPES", "VSTRIPES2", "VSTRIPES4", "VSTRIPES8", "VSTRIPES16", "VSTRIPES32", "VSTRIPES64",
    "HBLINDS8", "HBLINDS16", "HBLINDS32", "HBLINDS64", "HBLINDS128",
    "VBLINDS8", "VBLINDS16", "VBLINDS32", "VBLINDS64", "VBLINDS128",
    "VOPENCURTAIN", "VCLOSECURTAIN", "HOPENCURTAIN", "HCLOSECURTAIN", "BARS", "QUARTERS",
    "REVEALLEFT", "REVEALRIGHT", "REVEALTOP", "REVEALBOTTOM",
    "VLINES2", "HLINES2", "HLINES", "VLINES",
    "RECTCENTER", "RECTNORTH", "RECTNORTHEAST", "RECTEAST", "RECTSOUTHEAST", "RECTSOUTH", "RECTSOUTHWEST",
    "RECTWEST", "RECTNORTHWEST",
    "SCROLLLEFT", "SCROLLRIGHT", "SCROLLTOP", "SCROLLBOTTOM", "SCROLLNORTHEAST", "SCROLLSOUTHEAST",
    "SCROLLSOUTHWEST", "SCROLLNORTHWEST",
    "STRETCHLEFT", "STRETCHRIGHT", "STRETCHTOP", "STRETCHBOTTOM", "HSTRETCHCENTER", "VSTRETCHCENTER",
    "ZOOMCENTER", "ZOOMNORTH", "ZOOMNORTHEAST", "ZOOMEAST", "ZOOMSOUTHEAST", "ZOOMSOUTH", "ZOOMSOUTHWEST",
    "ZOOMWEST", "ZOOMNORTHWEST",
    "HFLOWTOP", "HFLOWBOTTOM", "VFLOWLEFT", "VFLOWRIGHT",
    "HOPENGATE", "HCLOSEGATE", "VOPENGATE", "VCLOSEGATE",
    "PUSHLEFT", "PUSHRIGHT", "PUSHTOP", "PUSHBOTTOM",
    "PUZZLE", "DIAGONAL",
    "ROLLTOP", "ROLLLEFT", "WALLPAPERTOP", "WALLPAPERLEFT",
    "RECTBACKCENTER", "RECTBACKNORTH", "RECTBACKNORTHEAST", "RECTBACKEAST", "RECTBACKSOUTHEAST",
    "RECTBACKSOUTH", "RECTBACKSOUTHWEST", "RECTBACKWEST", "RECTBACKNORTHWEST",
    "CLOCKWIPE", "STAR", "HSTRANGEPUSH", "VSTRANGEPUSH",
    "SLIDELEFT", "SLIDERIGHT", "SLIDETOP", "SLIDEBOTTOM",
    "SPIRAL", "SWISS", "QUADRECT", "HSPLIT", "VSPLIT", "UPNDOWN", "CARDTOP", "CARDBOTTOM",
    nullptr, "SUN", "CROSSFADE", "FADE", "BLEND", "ZOOMIN", "ZOOMOUT",
    "CRUSHLEFT", "CRUSHRIGHT", "CRUSHTOP", "CRUSHBOTTOM",
    "VFLIPCOIN", "VLOWFLIPCOIN", "HFLIPCOIN", "HLOWFLIPCOIN",
    "TURNDOWNTOP", "TURNDOWNBOTTOM", "TURNDOWNLEFT", "TURNDOWNRIGHT",
    "PIXELZOOM1", "PIXELZOOM2", "WATER1", "WATER2", "WATER3", "WATER4", "STRUDEL", "DISSOLVE",
};

// The second names of the scroll effects.
struct AliasRow {
    const char *name;
    int id;
};
const AliasRow Aliases[] = {{"SCROLLWEST", 47}, {"SCROLLEAST", 48}, {"SCROLLNORTH", 49}, {"SCROLLSOUTH", 50}};

// 139 named ids, four aliases, two more constants and the end row.
lvConstantEntry Table[FX_EFFECTCOUNT - 1 + 4 + 2 + 1];

}  // namespace

const char *EffectName(int32_t id) { return id >= 0 && id < FX_EFFECTCOUNT ? EffectNames[id] : nullptr; }

const lvConstantEntry *GetTransitionConstants(void)
{
    if (Table[0].name) return Table;
    size_t n = 0;
    for (int id = 0; id < FX_EFFECTCOUNT; id++)
        if (EffectNames[id]) Table[n++] = {EffectNames[id], nullptr, (double)id};
    for (const AliasRow &a : Aliases) Table[n++] = {a.name, nullptr, (double)a.id};
    Table[n++] = {"RANDOMEFFECT", nullptr, (double)FX_RANDOMEFFECT};
    Table[n++] = {"RANDOMPARAMETER", nullptr, (double)FX_RANDOMPARAMETER};
    Table[n] = {nullptr, nullptr, 0};
    return Table;
}
