// The numeric paths of drawing: bytes decoded into calls of the draw, graphics, clip-region,
// palette, brush and offscreen commands with integers at and next to the 32-bit limits,
// NaN, the infinities and huge doubles among ordinary numbers. Every call must end in a
// result or an error code of the command; sanitizer reports and crashes are the failures.
// Drawing goes into a selected 32 x 32 brush on a display record of its own.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "images/lvbrush.h"
#include "images/lvclipregion.h"
#include "images/lvdraw.h"
#include "images/lvoffscreen.h"
#include "images/lvpalette.h"
#include "raster/lvgraphics.h"
#include "raster/lvraster.h"
#include "runtime/cmdsupport.h"
#include "runtime/libs_core.h"
#include "vm/lvvm.h"

namespace {

// The bytes not yet decoded; zeros once they run out.
struct Reader {
    const uint8_t *data;
    size_t size, at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    bool Done() const { return at >= size; }
    template <typename T> T Raw()
    {
        T v{};
        uint8_t b[sizeof(T)];
        for (uint8_t &c : b) c = Byte();
        std::memcpy(&v, b, sizeof v);
        return v;
    }
};

const double Extremes[] = {-2147483648.0, -2147483647.0, -1, 0, 1, 2147483646.0, 2147483647.0, 2147483648.0,
                           -2147483649.0, 268435456.0, 268435457.0, 1e300, -1e300, NAN, INFINITY, -INFINITY,
                           0.5, -0.5, 1e9, 100000, -100000, 4294967295.0};

// A number: an extreme, a small integer, a 16-bit integer or any double the bytes spell.
double Number(Reader &r)
{
    uint8_t kind = r.Byte();
    switch (kind % 4) {
    case 0: return Extremes[r.Byte() % (sizeof Extremes / sizeof Extremes[0])];
    case 1: return double(int8_t(r.Byte()));
    case 2: return double(r.Raw<int16_t>());
    default: return r.Raw<double>();
    }
}

enum Arg { N, ID, TAGS, LIST, STR };
struct Command {
    const char *name;
    Arg args[9];
    int count;
    int pictures = 0;  // 1: makes or turns pictures of its numbers' size
};
const Command Commands[] = {
    {"box", {N, N, N, N, N, TAGS}, 6},
    {"ellipse", {N, N, N, N, N, TAGS}, 6},
    {"circle", {N, N, N, N, TAGS}, 5},
    {"arc", {N, N, N, N, N, N, N, TAGS}, 8},
    {"line", {N, N, N, N, N, TAGS}, 6},
    {"polygon", {N, N, LIST, N, N}, 5},
    {"plot", {N, N, N}, 3},
    {"readpixel", {N, N}, 2},
    {"intersection", {N, N, N, N, N, N, N, N}, 8},
    {"collision", {N, N, N, N, N, N, N, N, N}, 9},
    {"createclipregion", {ID, N, N, N, N, N}, 6},
    {"setclipregion", {ID}, 1},
    {"freeclipregion", {ID}, 1},
    {"createpalette", {ID, N}, 2},
    {"copypens", {ID, ID, N, N, N}, 5},
    {"cyclepalette", {ID, N, N, N}, 4},
    {"setpalettepen", {ID, N, N}, 3},
    {"createbrush", {ID, N, N, N}, 4, 1},
    {"scalebrush", {ID, N, N, N}, 4, 1},
    {"rotatebrush", {ID, N, N, N}, 4, 1},
    {"transformbrush", {ID, N, N, N, N}, 5, 1},
    {"cropbrush", {ID, N, N, N, N}, 5, 1},
    {"createshadowbrush", {ID, ID, N, N, N}, 5, 1},
    {"createborderbrush", {ID, ID, N, N, N}, 5, 1},
    {"displaybrush", {ID, N, N, TAGS}, 4, 1},
    {"readbrushpixel", {ID, N, N}, 3},
    {"writebrushpixel", {ID, N, N, N}, 4},
    {"selectbrush", {ID}, 1},
    {"freebrush", {ID}, 1},
    {"setfillstyle", {N, N}, 2},
    {"setformstyle", {N}, 1},
};
const int CommandCount = sizeof Commands / sizeof Commands[0];
const char *const TagNames[] = {"rotate", "scalex", "scaley", "anchorx", "anchory", "width", "height",
                                "transparency", "smoothscale", "roundlevel", "thickness", "arrowhead"};

// Pictures up to the size limits are real allocations: sizes and factors past 64 that
// would be allowed are folded below it, so that a run stays within the fuzzer's memory
// limit; the numbers that are refused (past 2^28, NaN, the infinities) stay as they are.
double Folded(double v, int pictures)
{
    if (pictures && std::isfinite(v) && std::fabs(v) > 64 && std::fabs(v) <= 268435456.0)
        return std::fmod(v, 64);
    return v;
}

void PushArg(lvState *L, Arg a, Reader &r, int pictures)
{
    switch (a) {
    case N: PushNumber(L, Folded(Number(r), pictures)); break;
    case ID: PushNumber(L, r.Byte() % 3 + 1); break;
    case STR: PushString(L, "x"); break;
    case TAGS: {
        PushNewTable(L);
        int fields = r.Byte() % 4;
        for (int i = 0; i < fields; i++) {
            PushString(L, TagNames[r.Byte() % (sizeof TagNames / sizeof TagNames[0])]);
            PushNumber(L, Folded(Number(r), pictures));
            SetTableValueRaw(L, -3);
        }
        if (r.Byte() % 4 == 0) {  // a transform matrix
            PushString(L, "transform");
            PushNewTable(L);
            for (int k = 0; k < 4; k++) {
                PushNumber(L, k);
                PushNumber(L, Folded(Number(r), pictures));
                SetTableValueRaw(L, -3);
            }
            SetTableValueRaw(L, -3);
        }
        break;
    }
    case LIST: {
        PushNewTable(L);
        int items = 2 * (r.Byte() % 6);
        for (int i = 0; i < items; i++) {
            PushNumber(L, i);
            PushNumber(L, Number(r));
            SetTableValueRaw(L, -3);
        }
        break;
    }
    }
}

// Calls one command through its global, as a script does; errors come back as the
// protected call's status.
void CallDecoded(lvState *L, const char *name, const Command *c, Reader *r, const double *values, int valueCount)
{
    SetStackTop(L, 0);
    PushString(L, name);
    GetTableValue(L, LV_GLOBALSINDEX);
    int args = 0;
    if (c) {
        for (int i = 0; i < c->count; i++, args++) PushArg(L, c->args[i], *r, c->pictures);
    } else {
        for (; args < valueCount; args++) PushNumber(L, values[args]);
    }
    ProtectedCall(L, args, 0, 0);
    SetStackTop(L, 0);
}

lvState *Setup()
{
    static lvBlitDisplay display{};
    InstallRuntimeHost();
    lvState *L = NewVMState();
    if (!L) return nullptr;
    SetMainVMState(L);
    if (OpenCoreLibraries(L) || OpenGraphicsLibrary(L) || OpenPaletteLibrary(L) || OpenBrushLibrary(L) ||
        OpenClipRegionLibrary(L) || OpenDrawLibrary(L) || OpenOffscreenLibrary(L))
        __builtin_trap();
    RasterState.currentDisplay = &display;
    // Errors come back as codes instead of ending the run.
    const double off = 0;
    CallDecoded(L, "exitonerror", nullptr, nullptr, &off, 1);
    return L;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lvState *L = Setup();
    if (!L) return 0;
    Reader r{data, size};
    // The drawing target: brush 9, 32 x 32, selected; the script's ids are 1 to 3.
    const double target[] = {9, 32, 32};
    CallDecoded(L, "createbrush", nullptr, nullptr, target, 3);
    CallDecoded(L, "selectbrush", nullptr, nullptr, target, 1);
    for (int calls = 0; calls < 64 && !r.Done(); calls++) {
        const Command &c = Commands[r.Byte() % CommandCount];
        CallDecoded(L, c.name, &c, &r, nullptr, 0);
    }
    CallDecoded(L, "endselect", nullptr, nullptr, nullptr, 0);
    for (double id : {1.0, 2.0, 3.0, 9.0}) {
        CallDecoded(L, "freebrush", nullptr, nullptr, &id, 1);
        CallDecoded(L, "freepalette", nullptr, nullptr, &id, 1);
        CallDecoded(L, "freeclipregion", nullptr, nullptr, &id, 1);
    }
    const double defaults[] = {1, 1};
    CallDecoded(L, "setfillstyle", nullptr, nullptr, defaults, 1);
    CallDecoded(L, "setformstyle", nullptr, nullptr, defaults, 1);
    return 0;
}
