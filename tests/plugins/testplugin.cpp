// testplugin.cpp - the test plug-ins, one source built in variants (tests/runtime/
// plugins.cmake): a command library, a plug-in that requires another, an extension
// plug-in with two deferred libraries, a file and directory adapter serving "mem:" names
// from memory, an image saver, an image loader with a command that uses the runtime's
// picture entries, a network adapter that echoes, and plug-ins that must fail to load.
//
// Dependencies: runtime/lvplugin.h only; the runtime is reached through the table given
// to InitPlugin. Variants: one of LVT_CMDLIB, LVT_NEEDS, LVT_EXT, LVT_MEMFS, LVT_SAVER,
// LVT_WRONGNAME, LVT_NATIVE, LVT_TOONEW, LVT_MISSING, LVT_MISSINGPREFIXED, LVT_BADCAPS,
// LVT_INITFAIL, LVT_MIXEDPREFIX, LVT_IMGLOADER, LVT_NETADAPTER, LVT_SLOTS (a command
// library that checks the interface table's live slots), LVT_RASTER, LVT_BRUSHES (commands
// that drive the raster and brush slots), LVT_FSYS (memfs that is also the filesystem
// adapter of its "mem:" names, logging every call to the file $LVT_FSLOG), LVT_FONTS (a
// font loader serving mono, anti-aliased and pen fonts and one answer to refuse),
// LVT_FONTJPEG (a command that calls every slot of the font and JPEG sub-tables).
#if defined(LVT_FSYS)
#define LVT_MEMFS
#endif
#include "runtime/lvplugin.h"
#if defined(LVT_FONTJPEG)
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_TABLES_H
#include <jpeglib.h>
#include <unistd.h>
#endif
#include <cstdarg>
#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(LVT_MISSINGPREFIXED) || defined(LVT_MIXEDPREFIX)
#define LVT_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto lvp_##name
#else
#define LVT_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name
#endif

static const lvPluginApi *api;       // the runtime's table
static lvPluginRecord *self;         // our record

static void DescribeSelf(lvPluginRecord *r, const char *module, uint32_t caps)
{
    r->capabilities = caps;
    r->version = 2;
    r->revision = 3;
    r->name = "Test plug-in";
    r->moduleName = module;
    r->author = "Lumivarra tests";
    r->description = "A plug-in built by the test suite";
    r->copyright = "none";
    r->url = "";
    r->date = "10.12.2026";
}

// ============================================================================
// Command library (cmdlib) and the one that needs it (needs)
// ============================================================================

#if defined(LVT_CMDLIB) || defined(LVT_NEEDS) || defined(LVT_EXT) || defined(LVT_SLOTS) || defined(LVT_RASTER) || \
    defined(LVT_DRAW) || defined(LVT_BRUSHES) || defined(LVT_FONTJPEG)
static int libraryInits;   // InitLibrary calls

#if defined(LVT_CMDLIB)
// TestAdd(a, b) -> a + b
static int CmdTestAdd(lvState *L)
{
    const lvApiScriptVM *vm = api->scriptVM;
    double a = vm->CheckNumberArg(L, 1), b = vm->CheckNumberArg(L, 2);
    vm->PushNumber(L, a + b);
    return 1;
}

// TestMemFile(text) -> name of a new memory file holding text, written through the
// interface's file slots.
static int CmdTestMemFile(lvState *L)
{
    const lvApiScriptVM *vm = api->scriptVM;
    size_t length = 0;
    const char *text = vm->CheckStringArg(L, 1, &length);
    char name[1024];
    if (!api->files->NewMemoryFile(name, sizeof name)) return 1000;
    void *file = api->files->OpenFile(name, LVP_OPEN_UPDATE);
    if (!file) return 1052;
    int64_t written = api->files->WriteFile(file, text, (int64_t)length);
    api->files->CloseFile(file);
    if (written != (int64_t)length) return 1005;
    vm->PushString(L, name);
    return 1;
}

// TestInits() -> how often InitLibrary ran
static int CmdTestInits(lvState *L)
{
    api->scriptVM->PushNumber(L, libraryInits);
    return 1;
}

static const lvPluginCommand commands[] = {
    {"TestAdd", CmdTestAdd}, {"TestMemFile", CmdTestMemFile}, {"TestInits", CmdTestInits},
    {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{"TESTLIB_ANSWER", nullptr, 42}, {nullptr, nullptr, 0}};
#elif defined(LVT_NEEDS)
static int CmdNeedsHello(lvState *L)
{
    api->scriptVM->PushString(L, "needs says hello");
    return 1;
}
static const lvPluginCommand commands[] = {{"NeedsHello", CmdNeedsHello}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
#elif defined(LVT_SLOTS)
// The live slots of a sub-table: none may be empty or answer that its service is missing.
// Every slot is pointer-sized; ranges are [first, last] slot numbers, skipped lists the
// slots inside them that are empty or not built yet.
static void CheckLive(std::string &failures, const char *table, const void *sub, int first, int last,
                      std::vector<int> skipped = {})
{
    // Every slot whose service is missing holds the same entry; the icon list is one.
    const void *pending = (const void *)api->graphics->ProgramIcons;
    const void *const *slots = (const void *const *)sub;
    for (int i = first; i <= last; i++) {
        bool skip = false;
        for (int k : skipped) skip = skip || k == i;
        if (!skip && (!slots[i] || slots[i] == pending)) failures += std::string(" ") + table + "." + std::to_string(i);
    }
}

static void Expect(std::string &failures, bool ok, const char *what)
{
    if (!ok) failures += std::string(" ") + what;
}

// CheckSlots(fileName) -> "" when every live slot is there and the slots this runtime
// wired lately answer as they should, else the failures.
static int CmdCheckSlots(lvState *L)
{
    const lvApiScriptVM *vm = api->scriptVM;
    const lvApiSystem *sys = api->system;
    const lvApiChecksums *sums = api->checksums;
    std::string failures;
    CheckLive(failures, "stdRuntime", api->stdRuntime, 0, 102, {45, 100, 101});
    CheckLive(failures, "system", sys, 0, 58, {15, 16, 21, 22, 23, 24, 25, 26, 27, 28, 29, 38, 46});
    CheckLive(failures, "files", api->files, 0, 38);
    CheckLive(failures, "scriptVM", vm, 0, 80);
    CheckLive(failures, "zlib", api->zlib, 0, 14);
    CheckLive(failures, "plugins", api->plugins, 0, 4);
    CheckLive(failures, "checksums", sums, 0, 5);
    CheckLive(failures, "unicode", api->unicode, 0, 20);
    CheckLive(failures, "math", api->math, 0, 25);
    CheckLive(failures, "locale", api->locale, 0, 5);
    CheckLive(failures, "graphics", api->graphics, 0, 38, {14, 15, 32, 33, 34});
    CheckLive(failures, "requesters", api->requesters, 0, 3);

    // The current date, as text and as fields.
    char date[256];
    sys->CurrentDateText(date);
    Expect(failures, std::strlen(date) == 20 && date[2] == '-' && date[6] == '-' && date[14] == ':', "date text");
    lvPluginDateFields fields = {};
    Expect(failures, sys->CurrentDateFields(&fields) == 1 && fields.year >= 2000 && fields.month < 12, "date fields");
    // The applet installed an error handler: runtime tag 43 keeps it from running (the code
    // comes back); cleared, the handler runs once and its status (0) comes back.
    int *sixty = nullptr;
    lvPluginTag tags[] = {{35, (intptr_t)&sixty}, {43, 1}, {0, 0}};
    Expect(failures, sys->RuntimeTags(tags) == 2 && sixty && *sixty == 60, "runtime tags 35 and 43");
    Expect(failures, sys->RunErrorHandler(1018) == 1018, "error handler blocked");
    lvPluginTag unblock[] = {{43, 0}, {0, 0}};
    sys->RuntimeTags(unblock);
    Expect(failures, sys->RunErrorHandler(1018) == 0, "error handler");

    // A text built in pieces, a value among them.
    int top = vm->GetStackTop(L);
    lvPluginStringBuffer buffer;
    vm->InitStringBuffer(L, &buffer);
    vm->AppendBufferString(&buffer, "ab");
    vm->AppendBufferBytes(&buffer, "cdXX", 2);
    std::memcpy(vm->GetBufferSpace(&buffer), "e", 1);
    buffer.cursor += 1;
    vm->PushNumber(L, 5);
    vm->AppendBufferValue(&buffer);
    vm->FinishStringBuffer(&buffer);
    const char *built = vm->ValueToString(L, -1);
    Expect(failures, built && std::strcmp(built, "abcde5") == 0, "string buffer");
    vm->SetStackTop(L, top);

    // A name that no linked file has stays as it is.
    int linked = -1;
    const char *name = vm->GetLinkedFileArg(L, 1, 0, &linked);
    Expect(failures, name && std::strcmp(name, vm->CheckStringArg(L, 1, nullptr)) == 0 && linked == 0, "linked file");

    char text[16];
    Expect(failures, sums->EncodeBase64("hello", 5, text, sizeof text) == 8 && std::strcmp(text, "aGVsbG8=") == 0,
           "base64 encode");
    Expect(failures, sums->EncodeBase64("hello", 5, text, 8) == 0, "base64 encode too small");
    uint8_t bytes[16];
    size_t length = sizeof bytes;
    Expect(failures, sums->DecodeBase64("aGVsbG8=", 8, bytes, &length) == 1 && length == 5 &&
                         std::memcmp(bytes, "hello", 5) == 0, "base64 decode");
    char md5[33] = "";
    sums->Md5Hex("abc", 3, md5);
    Expect(failures, std::strcmp(md5, "900150983cd24fb0d6963f7d28e17f72") == 0, "md5");

    char tagName[] = "answer", tagText[] = "forty-two", tagName2[] = "n";
    lvPluginUserTag second = {nullptr, tagName2, nullptr, 42, 8};
    lvPluginUserTag first = {&second, tagName, tagText, 0, 9};
    int failed = 1;
    lvPluginUserTag *copy = sums->CopyUserTags(&first, &failed);
    Expect(failures, copy && !failed && copy != &first && std::strcmp(copy->name, "answer") == 0 &&
                         std::strcmp(copy->string, "forty-two") == 0 && copy->next && copy->next->number == 42 &&
                         !copy->next->string && !copy->next->next, "user tags");
    sums->FreeUserTags(copy, 0);

    // Time and file status come in the interface's records, not the C library's.
    const lvApiStdRuntime *std = api->stdRuntime;
    int64_t epoch = 86400 + 3600 + 61;  // 2 January 1970 01:01:01 UTC
    lvPluginTm *utc = std->gmtime_(&epoch);
    Expect(failures, utc && utc->size == 48 && utc->year == 70 && utc->month == 0 && utc->day == 2 &&
                         utc->hour == 1 && utc->minute == 1 && utc->second == 1 && utc->weekday == 5 &&
                         utc->yearDay == 1 && utc->zero[0] == 0 && utc->zero[1] == 0, "gmtime record");
    char formatted[32] = "";
    Expect(failures, utc && std->strftime_(formatted, sizeof formatted, "%Y-%m-%d %H:%M", utc) == 16 &&
                         std::strcmp(formatted, "1970-01-02 01:01") == 0, "strftime record");
    lvPluginTm *local = std->localtime_(&epoch);
    Expect(failures, local && local != utc && local->size == 48, "localtime record");
    if (local) {
        lvPluginTm copy = *local;
        copy.day += 31;  // normalised into February
        copy.zero[0] = 7;
        Expect(failures, std->mktime_(&copy) == epoch + 31 * 86400 && copy.month == 1 && copy.day == 2 &&
                             copy.zero[0] == 0, "mktime record");
        Expect(failures, std::strncmp(std->asctime_(local), "Fri Jan  2", 10) == 0 || local->hour != 1,
               "asctime record");
    }
    lvPluginFileStatus status;
    std::memset(&status, 0, sizeof status);
    status.word0 = 12345;
    Expect(failures, std->stat_("/", &status) == 0 && (status.flags & 0x20000) && status.word0 == 12345 &&
                         status.lastModification > 0, "stat record");
    Expect(failures, std->fstat_(0x7fffffff, &status) == -1, "fstat of no file");

    // The program runs with LC_ALL=de_CH.UTF-8 and TZ=UTC, beside a German catalog
    // "Catalogs/german/slots.catalog" holding "null", "eins", "zwei".
    const lvApiLocale *loc = api->locale;
    int32_t daylight = -1;
    Expect(failures, loc->SystemLanguage() == 1 && loc->SystemCountry() == 29, "language and country");
    Expect(failures, loc->TimeZoneBias(&daylight) == 0 && daylight == 0, "time zone");
    void *catalog = loc->OpenCatalog("slots.catalog");
    Expect(failures, catalog != nullptr, "catalog opened");
    if (catalog) {
        const char *one = loc->CatalogString(catalog, 1, "one"), *five = loc->CatalogString(catalog, 5, "five");
        Expect(failures, one && std::strcmp(one, "eins") == 0 && five && std::strcmp(five, "five") == 0,
               "catalog strings");
        loc->CloseCatalog(catalog);
    }
    // The applet started timer 5 before: objects are found by type and identifier.
    lvPluginObjectId five = {5, nullptr}, six = {6, nullptr};
    Expect(failures, sys->ObjectExists(53, &five) == 1 && sys->ObjectExists(53, &six) == 0 &&
                         sys->ObjectExists(54, &five) == 0 && sys->ObjectExists(53, nullptr) == 0, "object exists");
    double scale = 0;
    lvPluginTag scaleTag[] = {{46, (intptr_t)&scale}, {0, 0}};
    Expect(failures, sys->RuntimeTags(scaleTag) == 1 && scale >= 1.0, "runtime tag 46");
    Expect(failures, sys->Housekeeping(L, 3) == 0, "housekeeping");
    void *noData = nullptr;
    sys->FreeObjectUserData(L, &noData);
    Expect(failures, noData == nullptr, "free no user data");
    Expect(failures, sys->RegisterObjectType("", nullptr, nullptr) == 0, "type without a name");

    const char *own = loc->CatalogString(nullptr, 0, "zero");  // the script opened none
    Expect(failures, own && std::strcmp(own, "zero") == 0, "script catalog");
    Expect(failures, loc->OpenCatalog("missing.catalog") == nullptr, "missing catalog");

    vm->PushString(L, failures.c_str());
    return 1;
}
// The attribute of a plug-in's own type: attribute * 100 + the identifier's number.
static int ThingAttribute(lvState *L, int attribute, lvPluginObjectId id)
{
    api->scriptVM->PushNumber(L, attribute * 100 + id.number);
    return 1;
}
// ThingType() -> the number of a type registered through the interface (once).
static int CmdThingType(lvState *L)
{
    static int number = 0;
    if (!number) api->system->RegisterObjectType("Plug-in things", &number, ThingAttribute);
    api->scriptVM->PushNumber(L, number);
    return 1;
}
static const lvPluginCommand commands[] = {
    {"CheckSlots", CmdCheckSlots}, {"ThingType", CmdThingType}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
#elif defined(LVT_RASTER)
// The raster slots of the graphics sub-table, driven on the plug-in's own buffers.
static void Expect(std::string &failures, bool ok, const char *what)
{
    if (!ok) failures += std::string(" ") + what;
}

// CheckRasterSlots() -> "" when every raster slot answers as it should, else the failures.
static int CmdCheckRasterSlots(lvState *L)
{
    const lvApiGraphics *g = api->graphics;
    std::string failures;
    // 22: a fill needs its row length (tag 2); a clip rectangle that excludes it writes nothing.
    uint32_t px[8 * 4];
    std::fill(px, px + 32, 0u);
    g->FillRawRect((uint8_t *)px, 1, 1, 3, 2, 0xFF0000, 0, nullptr);
    Expect(failures, px[9] == 0, "fill without row length");
    lvPluginRect away = {6, 0, 2, 4};
    lvPluginTag clipAway[] = {{2, 8}, {3, (intptr_t)&away}, {0, 0}};
    g->FillRawRect((uint8_t *)px, 1, 1, 3, 2, 0xFF0000, 0, clipAway);
    Expect(failures, std::count(px, px + 32, 0u) == 32, "fill outside the clip");
    lvPluginTag row[] = {{2, 8}, {0, 0}};
    g->FillRawRect((uint8_t *)px, 1, 1, 3, 2, 0x80FF0000u, 1, row);  // half-way toward red
    Expect(failures, px[9] == 0x7F0000 && px[8 + 3] == 0x7F0000 && px[17 + 2] == 0x7F0000 && px[0] == 0 &&
                         px[8 + 4] == 0, "fill with opacity");
    // 23: one pixel, not outside the clip.
    g->WriteRawPixel((uint8_t *)px, 7, 3, 0x00FF00, 0, clipAway);
    g->WriteRawPixel((uint8_t *)px, 0, 3, 0x0000FF, 0, clipAway);
    Expect(failures, px[31] == 0x00FF00 && px[24] == 0, "write pixel and clip");
    // 21: a blit cut by the clip rectangle moves its source offsets; masks and alpha pick pixels.
    uint32_t src[4 * 2] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint32_t dst[4 * 2] = {};
    lvPluginBlitDesc d = {0, 0, 0, 0, 4, 2, 10, 4, 4, nullptr, 0, nullptr, 0};
    lvPluginRect right = {2, 1, 10, 10};
    lvPluginTag clipRight[] = {{1, (intptr_t)&right}, {0, 0}};
    g->BltRawPixels((uint8_t *)dst, (const uint8_t *)src, &d, 0, clipRight);
    Expect(failures, dst[6] == 7 && dst[7] == 8 && dst[5] == 0 && dst[2] == 0, "clipped blit");
    uint8_t mask[2 * 2] = {0xA0, 0, 0x50, 0};  // #.#. / .#.#
    d.mask = mask;
    d.maskRowBytes = 2;
    std::fill(dst, dst + 8, 0u);
    g->BltRawPixels((uint8_t *)dst, (const uint8_t *)src, &d, 0, nullptr);
    Expect(failures, dst[0] == 1 && dst[1] == 0 && dst[2] == 3 && dst[5] == 6 && dst[4] == 0, "masked blit");
    uint8_t alpha[4 * 2] = {255, 0, 255, 0, 0, 0, 0, 0};
    d.mask = nullptr;
    d.alpha = alpha;
    d.alphaRowBytes = 4;
    std::fill(dst, dst + 8, 0u);
    g->BltRawPixels((uint8_t *)dst, (const uint8_t *)src, &d, 0, nullptr);
    Expect(failures, dst[0] == 1 && dst[1] == 0 && dst[2] == 3 && dst[4] == 0, "alpha blit");
    // 27, 28: conversions.
    Expect(failures, g->ArgbToPixel(0x11223344, 11, 0) == 0x44332200u, "argb to pixel");
    Expect(failures, g->PixelToArgb(0x44332211u, 11, 0) == 0x223344u, "pixel to argb");
    // 35: a 2 x 2 buffer doubled.
    uint32_t small[4] = {1, 2, 3, 4};
    uint32_t *big = (uint32_t *)g->ScalePixels(small, 0, 0, 2, 2, nullptr, 0, 0, 4, 4, 2, 4, 10, 0);
    Expect(failures, big && big[0] == 1 && big[3] == 2 && big[15] == 4, "scale pixels");
    if (big) api->stdRuntime->free_(big);
    // 36: a write that cannot happen and a format nobody writes fail; a PNG is written.
    Expect(failures, g->SaveImage("/nonexistent-dir/never.png", small, 2, 2, 1, nullptr) == 0, "save image fails");
    Expect(failures, g->SaveImage("never.png", small, 2, 2, 9999, nullptr) == 0, "save image format");
    // 37: eight colours in, eight pens and their palette out.
    uint32_t colours[16];
    for (int i = 0; i < 16; i++) colours[i] = 0xFF000000u | (uint32_t)((i % 8) * 0x201008);
    uint8_t pens[16];
    uint32_t palette[256] = {};
    lvPluginPaletteDesc pd = {4, 4, 32, nullptr, 3, nullptr, palette, 0};
    int ok = g->RemapToPalette(colours, pens, &pd, 0, nullptr);
    bool right8 = ok == 1;
    for (int i = 0; i < 16 && right8; i++) right8 = pens[i] < 8 && palette[pens[i]] == (colours[i] & 0xFFFFFF);
    Expect(failures, right8, "remap to palette");
    // 38: CENTER of 10 in 100.
    Expect(failures, g->ResolveSpecialCoordinate(1, -100000, 10, 100, 0) == 45, "special coordinate");
    api->scriptVM->PushString(L, failures.c_str());
    return 1;
}
static const lvPluginCommand commands[] = {{"CheckRasterSlots", CmdCheckRasterSlots}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
#elif defined(LVT_FONTJPEG)
// The font sub-tables (7, 8, 10) and the JPEG sub-table (12), called slot by slot through
// the signatures of FreeType's and the JPEG library's own headers.
static void Expect(std::string &failures, bool ok, const char *what)
{
    if (!ok) failures += std::string(" ") + what;
}
template <typename F> static F As(lvApiStdFunction slot) { return reinterpret_cast<F>(slot); }
#define FT(name) As<decltype(&name)>(api->fontEngine->name)
#define JPG(name) As<decltype(&name)>(api->jpeg->name)

// The inked box of a coverage plane; false when nothing is inked.
struct InkBox {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    void Add(int x, int y)
    {
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
    bool Empty() const { return x1 < 0; }
};

static int decomposeMoves;
static int MoveTo(const FT_Vector *, void *) { return ++decomposeMoves, 0; }
static int LineTo(const FT_Vector *, void *) { return 0; }
static int ConicTo(const FT_Vector *, const FT_Vector *, void *) { return 0; }
static int CubicTo(const FT_Vector *, const FT_Vector *, const FT_Vector *, void *) { return 0; }

// The glyph of 'A' through the engine against the text library's, drawn by the applet in
// white on black into brush (id) at the size; every other FreeType slot once.
static void CheckFontEngine(std::string &failures, lvPluginObjectId brush, int size)
{
    const lvApiFontData *data = api->fontData;
    FT_Library library = nullptr;
    if (FT(FT_Init_FreeType)(&library)) return Expect(failures, false, "8.0 init");
    FT_Int major = 0, minor = 0, patch = 0;
    FT(FT_Library_Version)(library, &major, &minor, &patch);
    Expect(failures, major == 2, "8.37 version");
    FT_Face face = nullptr;
    if (FT(FT_New_Memory_Face)(library, (const FT_Byte *)data->sans, (FT_Long)data->sansSize, 0, &face)) {
        FT(FT_Done_FreeType)(library);
        return Expect(failures, false, "8.3 memory face");
    }
    Expect(failures, !FT(FT_Select_Charmap)(face, FT_ENCODING_UNICODE), "8.5 select charmap");
    Expect(failures, face->charmap && !FT(FT_Set_Charmap)(face, face->charmap), "8.6 set charmap");
    Expect(failures, !FT(FT_Set_Char_Size)(face, 0, 12 * 64, 72, 72), "8.17 char size");
    Expect(failures, !FT(FT_Set_Pixel_Sizes)(face, 0, (FT_UInt)size), "8.19 pixel sizes");
    FT(FT_Set_Transform)(face, nullptr, nullptr);
    FT_UInt index = FT(FT_Get_Char_Index)(face, 'A');
    Expect(failures, index != 0, "8.7 char index");
    FT_UInt first = 0;
    FT_ULong code = FT(FT_Get_First_Char)(face, &first);
    FT_UInt nextIndex = 0;
    Expect(failures, first != 0 && FT(FT_Get_Next_Char)(face, code, &nextIndex) > code, "8.15/16 chars");
    char glyphName[64] = "";
    FT(FT_Get_Glyph_Name)(face, index, glyphName, sizeof glyphName);
    Expect(failures, std::strcmp(glyphName, "A") == 0, "8.14 glyph name");
    const char *ps = FT(FT_Get_Postscript_Name)(face);
    Expect(failures, ps && std::strstr(ps, "Vera"), "8.34 postscript name");
    FT_SfntName name;
    Expect(failures, FT(FT_Get_Sfnt_Name_Count)(face) > 0 && !FT(FT_Get_Sfnt_Name)(face, 0, &name), "8.35/36 names");
    Expect(failures, FT(FT_Get_Sfnt_Table)(face, FT_SFNT_OS2) != nullptr, "8.20 sfnt table");
    FT_Vector kern = {1, 1};
    Expect(failures, !FT(FT_Get_Kerning)(face, FT(FT_Get_Char_Index)(face, 'A'), FT(FT_Get_Char_Index)(face, 'V'),
                                         FT_KERNING_DEFAULT, &kern) && kern.x < 0, "8.13 kerning of AV");
    Expect(failures, FT(FT_MulFix)(3 << 16, 5 << 16) == 15 << 16, "8.21 mulfix");
    Expect(failures, FT(FT_DivFix)(15 << 16, 5 << 16) == 3 << 16, "8.23 divfix");
    FT_Matrix twice = {2 << 16, 0, 0, 2 << 16};
    FT_Vector v = {3, 4};
    FT(FT_Vector_Transform)(&v, &twice);
    Expect(failures, v.x == 6 && v.y == 8, "8.22 vector transform");

    // The outline: box, decomposition, moves, embolden, a bitmap of its own.
    if (!FT(FT_Load_Glyph)(face, index, FT_LOAD_NO_BITMAP)) {
        FT_Outline *outline = &face->glyph->outline;
        FT_BBox box;
        FT(FT_Outline_Get_CBox)(outline, &box);
        Expect(failures, box.xMax > box.xMin && box.yMax > box.yMin, "8.11 outline box");
        FT_Outline_Funcs funcs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
        decomposeMoves = 0;
        Expect(failures, !FT(FT_Outline_Decompose)(outline, &funcs, nullptr) && decomposeMoves == 2,
               "8.12 decompose (A has two contours)");
        FT(FT_Outline_Translate)(outline, 64, 0);
        FT_BBox moved;
        FT(FT_Outline_Get_CBox)(outline, &moved);
        Expect(failures, moved.xMin == box.xMin + 64, "8.24 translate");
        FT(FT_Outline_Transform)(outline, &twice);
        Expect(failures, !FT(FT_Outline_Embolden)(outline, 32), "8.26 embolden");
        std::vector<uint8_t> pixels(64 * 64);
        FT_Bitmap target = {};
        target.rows = 64, target.width = 64, target.pitch = 64, target.buffer = pixels.data();
        target.num_grays = 256, target.pixel_mode = FT_PIXEL_MODE_GRAY;
        Expect(failures, !FT(FT_Outline_Get_Bitmap)(library, outline, &target), "8.27 outline bitmap");
    } else {
        Expect(failures, false, "8.8 load glyph");
    }
    // Glyph objects.
    if (!FT(FT_Load_Glyph)(face, index, FT_LOAD_DEFAULT)) {
        FT_Glyph glyph = nullptr, copy = nullptr;
        if (!FT(FT_Get_Glyph)(face->glyph, &glyph) && !FT(FT_Glyph_Copy)(glyph, &copy)) {
            FT_Vector delta = {64, 0};
            Expect(failures, !FT(FT_Glyph_Transform)(copy, nullptr, &delta), "8.30 glyph transform");
            FT_BBox a, b;
            FT(FT_Glyph_Get_CBox)(glyph, FT_GLYPH_BBOX_UNSCALED, &a);
            FT(FT_Glyph_Get_CBox)(copy, FT_GLYPH_BBOX_UNSCALED, &b);
            Expect(failures, b.xMin == a.xMin + 64, "8.31 glyph box");
            Expect(failures, !FT(FT_Glyph_To_Bitmap)(&copy, FT_RENDER_MODE_NORMAL, nullptr, 1), "8.32 to bitmap");
        } else {
            Expect(failures, false, "8.28/29 glyph");
        }
        if (glyph) FT(FT_Done_Glyph)(glyph);
        if (copy) FT(FT_Done_Glyph)(copy);
    }
    // The glyph as the text library draws it: same size, same coverage. The size asked is
    // the face's Windows ascent plus descent in pixels.
    const TT_OS2 *os2 = (const TT_OS2 *)FT(FT_Get_Sfnt_Table)(face, FT_SFNT_OS2);
    if (os2 && os2->usWinAscent + os2->usWinDescent > 0)
        FT(FT_Set_Char_Size)(face, 0, (FT_F26Dot6)((int64_t)size * 64 * face->units_per_EM /
                                                  (os2->usWinAscent + os2->usWinDescent)), 72, 72);
    if (!FT(FT_Load_Char)(face, 'A', FT_LOAD_DEFAULT) && !FT(FT_Render_Glyph)(face->glyph, FT_RENDER_MODE_NORMAL)) {
        const FT_Bitmap &bm = face->glyph->bitmap;
        InkBox mine, theirs;
        for (unsigned y = 0; y < bm.rows; y++)
            for (unsigned x = 0; x < bm.width; x++)
                if (bm.buffer[y * bm.pitch + x]) mine.Add((int)x, (int)y);
        int32_t w = 0, h = 0, opaque = 0;
        lvPluginTag tags[] = {{LVP_BRUSHARGB_WIDTH, (intptr_t)&w},
                              {LVP_BRUSHARGB_HEIGHT, (intptr_t)&h},
                              {LVP_BRUSHARGB_OPAQUE, (intptr_t)&opaque},
                              {0, 0}};
        uint32_t *argb = api->graphics->GetBrushArgbPixels(&brush, tags);
        if (!argb) return Expect(failures, false, "brush pixels");
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (argb[y * w + x] & 0xFF) theirs.Add(x, y);
        bool same = !mine.Empty() && !theirs.Empty() && mine.x1 - mine.x0 == theirs.x1 - theirs.x0 &&
                    mine.y1 - mine.y0 == theirs.y1 - theirs.y0;
        int worst = 0;
        for (int y = 0; same && y <= mine.y1 - mine.y0; y++)
            for (int x = 0; x <= mine.x1 - mine.x0; x++) {
                int a = bm.buffer[(mine.y0 + y) * bm.pitch + mine.x0 + x];
                int b = (int)(argb[(theirs.y0 + y) * w + theirs.x0 + x] & 0xFF);
                worst = std::max(worst, std::abs(a - b));
            }
        api->system->FreeMemory(argb);
        if (!(same && worst <= 1)) {
            char detail[160];
            std::snprintf(detail, sizeof detail, "8.9/10 glyph differs from the text library's (%dx%d against %dx%d, worst %d)",
                          mine.x1 - mine.x0 + 1, mine.y1 - mine.y0 + 1, theirs.x1 - theirs.x0 + 1,
                          theirs.y1 - theirs.y0 + 1, worst);
            Expect(failures, false, detail);
        }
    } else {
        Expect(failures, false, "8.9/10 render");
    }
    FT(FT_Done_Face)(face);
    // A face from a file.
    char path[] = "/tmp/lvfontjpegXXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) {
        Expect(failures, write(fd, data->mono, data->monoSize) == (ssize_t)data->monoSize, "write face");
        close(fd);
        FT_Face fileFace = nullptr;
        Expect(failures, !FT(FT_New_Face)(library, path, 0, &fileFace) && fileFace->num_glyphs > 0, "8.2 file face");
        if (fileFace) FT(FT_Done_Face)(fileFace);
        unlink(path);
    }
    Expect(failures, !FT(FT_Done_FreeType)(library), "8.1 done");
}

// 12: a 32 x 16 picture through the compressor into memory at quality 90 and back; the
// worst channel difference stays within what that quality loses on a smooth picture.
static void CheckJpeg(std::string &failures)
{
    const int W = 32, H = 16;
    std::vector<uint8_t> rgb(W * H * 3);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            uint8_t *p = &rgb[(y * W + x) * 3];
            p[0] = (uint8_t)(x * 8), p[1] = (uint8_t)(y * 16), p[2] = 128;
        }
    jpeg_compress_struct c;
    jpeg_error_mgr cerr;
    c.err = JPG(jpeg_std_error)(&cerr);
    JPG(jpeg_CreateCompress)(&c, JPEG_LIB_VERSION, sizeof c);
    unsigned char *encoded = nullptr;
    unsigned long encodedSize = 0;
    JPG(jpeg_mem_dest)(&c, &encoded, &encodedSize);
    c.image_width = W, c.image_height = H, c.input_components = 3, c.in_color_space = JCS_RGB;
    JPG(jpeg_set_defaults)(&c);
    JPG(jpeg_set_colorspace)(&c, JCS_YCbCr);
    JPG(jpeg_set_quality)(&c, 90, TRUE);
    JPG(jpeg_start_compress)(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[c.next_scanline * W * 3];
        JPG(jpeg_write_scanlines)(&c, &row, 1);
    }
    JPG(jpeg_finish_compress)(&c);
    // The tables alone, as an abbreviated stream.
    unsigned char *tables = nullptr;
    unsigned long tablesSize = 0;
    JPG(jpeg_mem_dest)(&c, &tables, &tablesSize);
    JPG(jpeg_suppress_tables)(&c, FALSE);  // the image marked them written
    JPG(jpeg_write_tables)(&c);
    if (!(tablesSize > 4 && tables && tables[0] == 0xFF && tables[1] == 0xD8)) {
        char detail[80];
        std::snprintf(detail, sizeof detail, "12.21 tables (%lu bytes)", tablesSize);
        Expect(failures, false, detail);
    }
    JPG(jpeg_destroy_compress)(&c);
    std::free(tables);
    Expect(failures, encodedSize > 100, "12.13 encode");

    jpeg_decompress_struct d;
    jpeg_error_mgr derr;
    d.err = JPG(jpeg_std_error)(&derr);
    JPG(jpeg_CreateDecompress)(&d, JPEG_LIB_VERSION, sizeof d);
    JPG(jpeg_mem_src)(&d, encoded, encodedSize);
    JPG(jpeg_save_markers)(&d, JPEG_COM, 0xFFFF);
    Expect(failures, JPG(jpeg_read_header)(&d, TRUE) == JPEG_HEADER_OK, "12.4 header");
    Expect(failures, d.src->resync_to_restart != nullptr, "12.7 resync");
    d.out_color_space = JCS_RGB;
    JPG(jpeg_start_decompress)(&d);
    std::vector<uint8_t> back(W * H * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &back[d.output_scanline * W * 3];
        JPG(jpeg_read_scanlines)(&d, &row, 1);
    }
    JPG(jpeg_finish_decompress)(&d);
    JPG(jpeg_destroy_decompress)(&d);
    int worst = 0;
    for (size_t i = 0; i < rgb.size(); i++) worst = std::max(worst, std::abs(rgb[i] - back[i]));
    Expect(failures, d.output_width == (JDIMENSION)W && worst <= 12, "12.5 round trip beyond quality 90's bound");
    // A second decompressor aborted and destroyed through the common entries.
    jpeg_decompress_struct e;
    e.err = JPG(jpeg_std_error)(&derr);
    JPG(jpeg_CreateDecompress)(&e, JPEG_LIB_VERSION, sizeof e);
    JPG(jpeg_mem_src)(&e, encoded, encodedSize);
    JPG(jpeg_read_header)(&e, TRUE);
    JPG(jpeg_abort)((j_common_ptr)&e);
    JPG(jpeg_destroy)((j_common_ptr)&e);
    std::free(encoded);
    // The raw-data entries need a raw set-up of their own: present is enough here.
    const void *pending = (const void *)api->graphics->ProgramIcons;
    for (lvApiStdFunction f : {api->jpeg->jpeg_write_raw_data, api->jpeg->jpeg_read_raw_data})
        Expect(failures, f && (const void *)f != pending, "12.20/22 raw data");
    Expect(failures, api->jpeg->empty25 == nullptr, "12.25 empty");
}

// CheckFontJpegSlots(brush, size) -> "" when every slot answers as it should, else the failures.
static int CmdCheckFontJpegSlots(lvState *L)
{
    std::string failures;
    const lvApiFontData *data = api->fontData;
    Expect(failures, data->sans && data->mono && data->serif, "10 faces");
    Expect(failures, data->sansSize == 65932 && data->monoSize == 49224 && data->serifSize == 60280, "10 sizes");
    char path[512] = "x";
    Expect(failures, !api->fontLookup->FindFontFile("No Such Family Anywhere", 12, 0, path, sizeof path) && !*path,
           "7 unknown family");
    // A family the system has: its file opens; a buffer too small for it finds nothing.
    if (api->fontLookup->FindFontFile("DejaVu Sans", 12, 0, path, sizeof path)) {
        FILE *f = std::fopen(path, "rb");
        Expect(failures, f != nullptr, "7 found file opens");
        if (f) std::fclose(f);
        char tiny[4] = "x";
        Expect(failures, !api->fontLookup->FindFontFile("DejaVu Sans", 12, 0, tiny, sizeof tiny) && !*tiny,
               "7 small buffer");
    }
    if (data->sans) {
        lvPluginObjectId brush = {(int32_t)api->scriptVM->CheckNumberArg(L, 1), nullptr};
        CheckFontEngine(failures, brush, (int)api->scriptVM->CheckNumberArg(L, 2));
    }
    CheckJpeg(failures);
    api->scriptVM->PushString(L, failures.c_str());
    return 1;
}
static const lvPluginCommand commands[] = {{"CheckFontJpegSlots", CmdCheckFontJpegSlots}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
#elif defined(LVT_DRAW)
// Graphics slots 24 and 31 (drawslots): a clipped line and two polygons into the plug-in's
// own 16 x 12 buffer between guard words, and lines that lie off the buffer.
static uint32_t drawGuarded[16 + 16 * 12 + 16];

// DrawSlots() -> checksum of the buffer (FNV-1a over its words), and "" or what was written
// outside it.
static int CmdDrawSlots(lvState *L)
{
    const lvApiGraphics *g = api->graphics;
    uint32_t *px = drawGuarded + 16;
    std::fill(drawGuarded, drawGuarded + 16 + 16 * 12 + 16, 0xDEADBEEFu);
    std::fill(px, px + 16 * 12, 0u);
    lvPluginClipBounds clip = {2, 2, 10, 7};
    lvPluginTag clipped[] = {{2, 16}, {3, (intptr_t)&clip}, {0, 0}};
    g->DrawRawLine((uint8_t *)px, -5, -3, 20, 14, 0x00FF8040, 0, clipped);
    // The clipped line once more on an empty buffer: the columns and rows it reached.
    static uint32_t alone[16 * 12];
    std::fill(alone, alone + 16 * 12, 0u);
    g->DrawRawLine((uint8_t *)alone, -5, -3, 20, 14, 0x00FF8040, 0, clipped);
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (int i = 0; i < 16 * 12; i++)
        if (alone[i]) {
            minX = std::min(minX, i % 16), maxX = std::max(maxX, i % 16);
            minY = std::min(minY, i / 16), maxY = std::max(maxY, i / 16);
        }
    std::string reached = "clip " + std::to_string(minX) + ".." + std::to_string(maxX) + " " + std::to_string(minY) +
                          ".." + std::to_string(maxY);
    lvPluginTag row[] = {{2, 16}, {0, 0}};
    g->DrawRawLine((uint8_t *)px, 0, 11, 15, 0, 0x80FFFFFFu, 1, row);
    int32_t quad[] = {3, 1, 12, 4, 6, 10, 1, 7};
    lvPluginTag moved[] = {{2, 16}, {3, 1}, {4, 0}, {0, 0}};
    int drew = g->DrawPolygon(px, quad, 4, 0x80FF00FFu, 1, moved);
    int32_t off[] = {-20, -20, -5, -20, -5, -2};  // wholly before the buffer
    int drewOff = g->DrawPolygon(px, off, 3, 0x123456, 0, row);
    // Off the buffer: left of it, right of the rows, above it.
    g->DrawRawLine((uint8_t *)px, -10, -10, -1, -1, 0xFFFFFF, 0, row);
    g->DrawRawLine((uint8_t *)px, 100, 5, 200, 5, 0xFFFFFF, 0, row);
    g->DrawRawLine((uint8_t *)px, 5, -50, 5, -1, 0xFFFFFF, 0, row);
    g->DrawRawLine((uint8_t *)px, -3, 4, -3, 9, 0xFFFFFF, 0, row);
    std::string failures;
    for (int i = 0; i < 16; i++)
        if (drawGuarded[i] != 0xDEADBEEFu || drawGuarded[16 + 16 * 12 + i] != 0xDEADBEEFu) failures = " guard";
    if (drew != 1) failures += " polygon";
    if (drewOff != 1) failures += " off polygon";
    uint32_t hash = 2166136261u;
    for (int i = 0; i < 16 * 12; i++)
        for (int k = 0; k < 4; k++) hash = (hash ^ ((px[i] >> (8 * k)) & 0xFF)) * 16777619u;
    api->scriptVM->PushNumber(L, (double)hash);
    api->scriptVM->PushString(L, failures.c_str());
    api->scriptVM->PushString(L, reached.c_str());
    return 3;
}
static const lvPluginCommand commands[] = {{"DrawSlots", CmdDrawSlots}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
#elif defined(LVT_BRUSHES)
// The brush slots of the graphics sub-table (4, 5, 6, 12, 29, 30), each reached by one
// command whose result the applet prints.
static lvPluginObjectId ArgId(lvState *L, int index)
{
    return {(int32_t)api->scriptVM->CheckNumberArg(L, index), nullptr};
}
static void PushFormat(lvState *L, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void PushFormat(lvState *L, const char *format, ...)
{
    char text[512];
    va_list list;
    va_start(list, format);
    std::vsnprintf(text, sizeof text, format, list);
    va_end(list);
    api->scriptVM->PushString(L, text);
}

// BrushLock(id, flags) -> what the lock reported ("null" when it failed), unlocked again.
// Flags: 1 read-only, 2 palette brushes accepted, 4 report the depth.
static int CmdBrushLock(lvState *L)
{
    lvPluginObjectId id = ArgId(L, 1);
    int flags = (int)api->scriptVM->CheckNumberArg(L, 2);
    lvPluginTag tags[4] = {};
    int n = 0;
    if (flags & 1) tags[n++] = {LVP_BRUSHLOCK_READONLY, 1};
    if (flags & 2) tags[n++] = {LVP_BRUSHLOCK_PALETTE, 1};
    if (flags & 4) tags[n++] = {LVP_BRUSHLOCK_DEPTH, 0};
    lvBrushPixelAccess a;
    std::memset(&a, 0, sizeof a);
    a.depth = -7;  // left alone without the depth tag
    void *lock = api->graphics->LockBrushPixels(&id, tags, &a);
    if (!lock) {
        api->scriptVM->PushString(L, "null");
        return 1;
    }
    unsigned first = a.pixels ? *(const uint32_t *)a.pixels : 0;
    int mask0 = a.maskPixels ? (a.maskPixels[0] >> 7) : -1;
    int alpha0 = a.alphaPixels ? a.alphaPixels[0] : -1;
    int pen0 = a.penPixels ? a.penPixels[0] : -1;
    unsigned pal1 = a.palette ? a.palette[1] & 0xFFFFFF : 0;
    PushFormat(L, "f%d b%d %dx%d row%d rgb%d:%08x mask%d alpha%d pens%d:%d mod%d pal%06x tpen%d depth%d",
               a.pixelFormat, a.bytesPerPixel, a.width, a.height, a.bytesPerRow >= a.width * a.bytesPerPixel,
               a.pixels != nullptr, first, mask0, alpha0, a.penPixels != nullptr, pen0, a.penModulo >= a.width,
               pal1, a.transparentPen, a.depth);
    api->graphics->UnlockBrushPixels(lock);
    return 1;
}

// BrushHold(id) -> 1 with the brush's pixels kept locked (writable) until BrushLetGo().
static void *held;
static int CmdBrushHold(lvState *L)
{
    lvPluginObjectId id = ArgId(L, 1);
    lvPluginTag tags[] = {{LVP_BRUSHLOCK_PALETTE, 1}, {0, 0}};
    lvBrushPixelAccess a;
    if (held) api->graphics->UnlockBrushPixels(held);
    held = api->graphics->LockBrushPixels(&id, tags, &a);
    api->scriptVM->PushNumber(L, held ? 1 : 0);
    return 1;
}
static int CmdBrushLetGo(lvState *)
{
    api->graphics->UnlockBrushPixels(held);
    held = nullptr;
    return 0;
}

// BrushArgb(id, flags) -> "width height opaque first-pixel last-pixel" or "null".
static int CmdBrushArgb(lvState *L)
{
    lvPluginObjectId id = ArgId(L, 1);
    int32_t w = -1, h = -1, opaque = -1;
    lvPluginTag tags[] = {{LVP_BRUSHARGB_WIDTH, (intptr_t)&w},
                          {LVP_BRUSHARGB_HEIGHT, (intptr_t)&h},
                          {LVP_BRUSHARGB_OPAQUE, (intptr_t)&opaque},
                          {LVP_BRUSHARGB_FLAGS, (intptr_t)api->scriptVM->CheckNumberArg(L, 2)},
                          {0, 0}};
    uint32_t *pixels = api->graphics->GetBrushArgbPixels(&id, tags);
    if (!pixels) {
        PushFormat(L, "null %d", w);
        return 1;
    }
    PushFormat(L, "%d %d %d %08x %08x", w, h, opaque, pixels[0], pixels[w * h - 1]);
    api->system->FreeMemory(pixels);
    return 1;
}

// BrushMake(id or nil, width, height, flags, transparent) -> error code, and the new
// brush's handle when the identifier was nil. Pixels: the first 0x80FF00FF, then
// 0xFF112233 (ARGB), or pens i % 4 over a palette of grey steps (flag 8, depth 2).
static int CmdBrushMake(lvState *L)
{
    lvPluginObjectId id = {(int32_t)api->scriptVM->GetOptionalNumberArg(L, 1, 0), nullptr};
    int w = (int)api->scriptVM->CheckNumberArg(L, 2), h = (int)api->scriptVM->CheckNumberArg(L, 3);
    uint32_t flags = api->scriptVM->CheckUnsignedArg(L, 4);
    uint32_t transparent = api->scriptVM->GetOptionalUnsignedArg(L, 5, 0);
    std::vector<uint32_t> argb(w > 0 && h > 0 ? (size_t)w * h : 1, 0xFF112233u);
    argb[0] = 0x80FF00FFu;
    std::vector<uint8_t> pens(argb.size());
    for (size_t i = 0; i < pens.size(); i++) pens[i] = (uint8_t)(i % 4);
    uint32_t palette[256] = {};
    for (int i = 0; i < 256; i++) palette[i] = 0xFF000000u | (uint32_t)(i * 0x111111);
    lvBrushPixelDesc d;
    std::memset(&d, 0, sizeof d);
    d.flags = flags & ~0x100u;
    d.transparent = transparent;
    if (!(flags & 0x100)) {  // 0x100: no pixels
        d.pixels = (flags & LVP_BRUSHPIX_PENS) ? (const void *)pens.data() : (const void *)argb.data();
        d.modulo = w;
    }
    d.depth = 2;
    d.palette = palette;
    int code = api->graphics->CreateBrushFromPixels(L, &id, w, h, &d);
    api->scriptVM->PushNumber(L, code);
    if (id.handle) api->scriptVM->PushPointer(L, id.handle);
    else api->scriptVM->PushNil(L);
    return 2;
}

// BrushKill(id) -> the error code of the FreeBrush slot.
static int CmdBrushKill(lvState *L)
{
    lvPluginObjectId id = ArgId(L, 1);
    api->scriptVM->PushNumber(L, api->graphics->FreeBrush(L, &id));
    return 1;
}

// BrushMap(id) -> "handle-or-null identifier" for an adapter handle no brush has, then the
// brush's own video bitmap.
static int CmdBrushMap(lvState *L)
{
    lvPluginObjectId id = ArgId(L, 1);
    lvPluginObjectId probe = id;
    static int unknown;
    void *found = api->graphics->MapHardwareBrushHandle(&probe, &unknown);
    void *own = api->graphics->MapHardwareBrushHandle(&id, nullptr);
    PushFormat(L, "%s %d %s", found ? "found" : "null", probe.number, own ? "video" : "null");
    return 1;
}

static const lvPluginCommand commands[] = {
    {"BrushLock", CmdBrushLock}, {"BrushHold", CmdBrushHold}, {"BrushLetGo", CmdBrushLetGo},
    {"BrushArgb", CmdBrushArgb}, {"BrushMake", CmdBrushMake}, {"BrushKill", CmdBrushKill},
    {"BrushMap", CmdBrushMap},   {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
#else
static int currentLibrary;
static int CmdExtOne(lvState *L)
{
    api->scriptVM->PushNumber(L, 1);
    return 1;
}
static int CmdExtTwo(lvState *L)
{
    api->scriptVM->PushNumber(L, 2);
    return 1;
}
static const lvPluginCommand commandsOne[] = {{"ExtOne", CmdExtOne}, {nullptr, nullptr}};
static const lvPluginCommand commandsTwo[] = {{"ExtTwo", CmdExtTwo}, {nullptr, nullptr}};
static const lvPluginConstant constantsOne[] = {{"EXT_FIRST", nullptr, 1}, {nullptr, nullptr, 0}};
static const lvPluginConstant constantsTwo[] = {{"EXT_SECOND", nullptr, 2}, {nullptr, nullptr, 0}};
LVT_EXPORT(GetLibraryCount)(void) -> int { return 2; }
LVT_EXPORT(SetCurrentLibrary)(int index) -> void { currentLibrary = index; }
LVT_EXPORT(GetExtensions)(uint32_t capability, void *) -> uint32_t
{
    // Library: two libraries (bit 1), registration deferred until required (bit 2).
    return capability == PLUGINCAPS_LIBRARY ? 1u | 2u : 0u;
}
#endif

LVT_EXPORT(GetBaseTable)(void) -> const char * { return nullptr; }
LVT_EXPORT(GetCommands)(void) -> const lvPluginCommand *
{
#if defined(LVT_EXT)
    return currentLibrary ? commandsTwo : commandsOne;
#else
    return commands;
#endif
}
LVT_EXPORT(GetConstants)(void) -> const lvPluginConstant *
{
#if defined(LVT_EXT)
    return currentLibrary ? constantsTwo : constantsOne;
#else
    return constants;
#endif
}
LVT_EXPORT(InitLibrary)(lvState *) -> int
{
    libraryInits++;
    return 0;
}
LVT_EXPORT(FreeLibrary)(lvState *) -> void {}
#endif

#if defined(LVT_NEEDS)
// Needs the command library: refuses to be required without it.
LVT_EXPORT(RequirePlugin)(lvState *, int, int, uint32_t, const lvPluginTag *) -> int
{
    lvPluginListEntry *list = api->plugins->GetPluginList();
    int found = 0;
    for (lvPluginListEntry *e = list; e; e = e->next)
        if (e->record->moduleName && std::strcmp(e->record->moduleName, "cmdlib") == 0) found = 1;
    api->plugins->FreeMemory(list);
    if (found) return 0;
    api->system->SetErrorStringArg("cmdlib.lvp");
    return 1494;
}
#endif

// ============================================================================
// File and directory adapter over an in-memory namespace (memfs)
// ============================================================================

#if defined(LVT_MEMFS) || defined(LVT_MISSING) || defined(LVT_MISSINGPREFIXED)
struct MemEntry {
    std::string name;   // name after "mem:"
    std::string data;   // contents
    uint32_t attributes = 15;  // FILEATTR_ bits
};
static std::vector<MemEntry> *files;

static MemEntry *FindEntry(const char *name)
{
    if (!files || std::strncmp(name, "mem:", 4) != 0) return nullptr;
    for (MemEntry &e : *files)
        if (e.name == name + 4) return &e;
    return nullptr;
}

struct MemStream {
    MemEntry *entry;   // the file
    size_t position;   // read/write position
};

LVT_EXPORT(FOpen)(const char *name, int mode, const lvPluginTag *tags) -> void *
{
    if (!files || std::strncmp(name, "mem:", 4) != 0 || std::strchr(name + 4, '/')) return nullptr;
    MemEntry *entry = FindEntry(name);
    if (!entry) {
        if (mode == LVP_FOPEN_READ) return nullptr;
        files->push_back({name + 4, ""});
        entry = &files->back();
    }
    // "mem:pipe..." files play a stream that cannot seek (tag 1: the stream flags word).
    if (std::strncmp(name, "mem:pipe", 8) == 0)
        for (const lvPluginTag *t = tags; t && t->tag; t++)
            if (t->tag == 1 && t->value) *(int *)t->value |= 2;
    if (mode == LVP_FOPEN_WRITE) entry->data.clear();
    return new MemStream{entry, 0};
}
LVT_EXPORT(FClose)(void *stream) -> int
{
    delete (MemStream *)stream;
    return 1;
}
LVT_EXPORT(FRead)(void *stream, void *buffer, int length) -> int
{
    MemStream *s = (MemStream *)stream;
    size_t left = s->entry->data.size() - s->position;
    size_t n = (size_t)length < left ? (size_t)length : left;
    std::memcpy(buffer, s->entry->data.data() + s->position, n);
    s->position += n;
    return (int)n;
}
LVT_EXPORT(FGetC)(void *stream) -> int
{
    MemStream *s = (MemStream *)stream;
    if (s->position >= s->entry->data.size()) return -1;
    return (unsigned char)s->entry->data[s->position++];
}
static int WriteBytes(void *stream, const void *buffer, int length)
{
    MemStream *s = (MemStream *)stream;
    if (s->position > s->entry->data.size()) s->entry->data.resize(s->position);
    s->entry->data.replace(s->position, (size_t)length, (const char *)buffer, (size_t)length);
    s->position += (size_t)length;
    return length;
}
LVT_EXPORT(FWrite)(void *stream, const void *buffer, int length) -> int { return WriteBytes(stream, buffer, length); }
LVT_EXPORT(FPutC)(void *stream, int byte) -> int
{
    char c = (char)byte;
    return WriteBytes(stream, &c, 1) == 1;
}
LVT_EXPORT(FSeek)(void *stream, int64_t offset, int origin) -> int64_t
{
    MemStream *s = (MemStream *)stream;
    int64_t old = (int64_t)s->position;
    int64_t target = origin == 1 ? offset : origin == 2 ? (int64_t)s->entry->data.size() + offset : old + offset;
    if (target < 0) return -1;
    s->position = (size_t)target;
    return old;
}
LVT_EXPORT(FFlush)(void *) -> int { return 1; }
LVT_EXPORT(FEof)(void *stream) -> int
{
    MemStream *s = (MemStream *)stream;
    return s->position >= s->entry->data.size();
}
#if !defined(LVT_MISSING) && !defined(LVT_MISSINGPREFIXED)
static void FillStat(lvPluginStat *stat, const MemEntry *e)
{
    stat->type = 0;
    stat->sizeLow = (uint32_t)e->data.size();
    stat->attributes = e->attributes;
}
LVT_EXPORT(FStat)(void *stream, lvPluginStat *stat, const lvPluginTag *) -> int
{
    FillStat(stat, ((MemStream *)stream)->entry);
    return 1;
}
LVT_EXPORT(Stat)(const char *name, int, lvPluginStat *stat, const lvPluginTag *) -> int
{
    MemEntry *e = FindEntry(name);
    if (!e) return 0;
    FillStat(stat, e);
    return 1;
}

// The namespace has one directory, "mem:" itself.
struct MemDir {
    size_t next;   // next entry to hand out
};
LVT_EXPORT(OpenDir)(const char *name, int, const lvPluginTag *tags) -> void *
{
    if (std::strcmp(name, "mem:") != 0) return nullptr;
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == 2 && t->value) *(const char **)t->value = "memfs";
    return new MemDir{0};
}
LVT_EXPORT(CloseDir)(void *dir) -> void { delete (MemDir *)dir; }
LVT_EXPORT(NextDirEntry)(void *dir, lvPluginStat *stat, const lvPluginTag *) -> int
{
    MemDir *d = (MemDir *)dir;
    if (d->next >= files->size()) return 0;
    const MemEntry &e = (*files)[d->next++];
    FillStat(stat, &e);
    stat->fullPath = e.name.c_str();
    return 1;
}
#endif
#endif

// ============================================================================
// Image saver (saver)
// ============================================================================

#if defined(LVT_SAVER)
static const struct {
    int id;            // format id
    const char *name;  // format name
    uint32_t flags;    // LVP_SAVER_ bits
} formats[] = {{7001, "TESTRAW", LVP_SAVER_TRUECOLOR | LVP_SAVER_ALPHA}, {7002, "TESTPPM", LVP_SAVER_TRUECOLOR | LVP_SAVER_PALETTE}};

LVT_EXPORT(RegisterImageSaver)(lvPluginSaverFormat *item) -> int
{
    int index = 0;
    while (index < 2 && item->formatId && formats[index].id != item->formatId) index++;
    if (item->formatId) index++;
    item->formatId = formats[index].id;
    item->name = formats[index].name;
    item->flags = formats[index].flags | (index + 1 < 2 ? LVP_SAVEIMAGE_MORE : 0);
    return 1;
}
// Writes what it received as text lines (the ctrl's fields, then the first pixel words
// or pens and palette entries) so that tests can read the record back; a name holding
// "fail" reports failure.
LVT_EXPORT(SaveImage)(const char *fileName, lvSaveImageCtrl *ctrl) -> int
{
    if (std::strstr(fileName, "fail")) return 0;
    FILE *out = std::fopen(fileName, "w");
    if (!out) return 0;
    std::fprintf(out, "width %d\nheight %d\nbytesPerRow %d\npaletteMode %d\nquality %d\ncolorCount %d\n"
                      "transparentPen %d\nflags %u\nformatId %d\nadapter %s\nhasPalette %d\n",
                 ctrl->width, ctrl->height, ctrl->bytesPerRow, ctrl->paletteMode, ctrl->quality, ctrl->colorCount,
                 ctrl->transparentPen, ctrl->flags, ctrl->formatId, ctrl->adapter ? ctrl->adapter : "-",
                 ctrl->palette != nullptr);
    if (ctrl->paletteMode) std::fprintf(out, "first %u\n", ((const uint8_t *)ctrl->pixels)[0]);
    else std::fprintf(out, "first %u\n", ((const uint32_t *)ctrl->pixels)[0]);
    return std::fclose(out) == 0;
}
#endif

#if defined(LVT_NETADAPTER)
// ============================================================================
// Network adapter (netadapter): takes the host "echo.adapter" and sends back what it
// gets; "BYE\n" makes it close once its queue is drained. Its peer address (tag 3)
// tells the tags it was opened with.
// ============================================================================
// It also moves whole transfers of "test://" URLs and of the host "https://xfer.adapter/":
// a path "/bytes/N" serves N bytes of value i * 7 mod 256; "/tags" serves the transfer's
// tags as text ("name=value" lines); an upload's bytes go to the file named after
// "/store" (e.g. test://x/store/tmp/f), and a form upload's reply lists its parts.
struct EchoConnection {
    std::string queue;   // bytes waiting to be received
    bool closing = false;
    std::string tags;    // "1=.. 2=.. 4=set 15=.. 21=set"
    bool transfer = false;
    std::string stored;  // an upload's path
    std::string upload;  // its bytes
    int64_t uploadTotal = 0, downloadTotal = 0;
};

static const char *TagText(const lvPluginTag *tags, uint32_t tag)
{
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == tag) return t->value ? (const char *)t->value : "";
    return nullptr;
}

static bool FindTag(const lvPluginTag *tags, uint32_t tag, intptr_t *value)
{
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == tag) {
            *value = t->value;
            return true;
        }
    return false;
}

// What a transfer's tags said, one "name=value" line each, in a fixed order.
static std::string DescribeTransferTags(const lvPluginTag *tags)
{
    std::string out;
    static const struct { uint32_t tag; const char *name; int kind; } rows[] = {
        {LVP_NETTAG_URL, "url", 1},           {LVP_NETTAG_UPLOAD, "upload", 0},
        {LVP_NETTAG_REDIRECT, "redirect", 0}, {LVP_NETTAG_FTPASCII, "ascii", 0},
        {LVP_NETTAG_TRANSFER, "verbose", 0},  {LVP_NETTAG_FAIL404, "fail404", 0},
        {LVP_NETTAG_ENCODED, "encoded", 0},   {LVP_NETTAG_USER, "user", 1},
        {LVP_NETTAG_PASSWORD, "password", 1}, {LVP_NETTAG_PROXY, "proxy", 1},
        {LVP_NETTAG_USERAGENT, "useragent", 1}, {LVP_NETTAG_CUSTOMHEADERS, "headers", 1},
        {LVP_NETTAG_POSTTYPE, "posttype", 1}, {LVP_NETTAG_SSL, "ssl", 0},
        {LVP_NETTAG_UPLOADSIZE, "uploadsize", 2}, {LVP_NETTAG_POSTLENGTH, "postlength", 2},
    };
    for (const auto &row : rows) {
        intptr_t value = 0;
        if (!FindTag(tags, row.tag, &value)) continue;
        out += std::string(row.name) + "=";
        if (row.kind == 1) out += value ? (const char *)value : "";
        else if (row.kind == 2) out += std::to_string((long long)*(const int64_t *)value);
        else out += std::to_string((long)value);
        out += "\n";
    }
    intptr_t post = 0, postLength = 0;
    if (FindTag(tags, LVP_NETTAG_POST, &post) && FindTag(tags, LVP_NETTAG_POSTLENGTH, &postLength))
        out += "post=" + std::string((const char *)post, (size_t)*(const int64_t *)postLength) + "\n";
    return out;
}

// A form as the reply lists it: "name|type|file|size|first bytes" lines.
static std::string DescribeForm(const lvNetFormPart *part)
{
    std::string out;
    for (; part; part = part->next) {
        std::string bytes;
        if (part->data) {
            bytes.assign((const char *)part->data, (size_t)std::min<int64_t>(part->size, 16));
        } else if (part->file) {
            char buffer[16];
            int64_t n = api->files->ReadFile(part->file, buffer, std::min<int64_t>(part->size, 16));
            if (n > 0) bytes.assign(buffer, (size_t)n);
        }
        out += std::string(part->name) + "|" + (part->mimeType ? part->mimeType : "-") + "|" +
               (part->fileName ? part->fileName : "-") + "|" + std::to_string((long long)part->size) + "|" + bytes +
               "\n";
    }
    return out;
}

static void *OpenTransfer(const char *host, const lvPluginTag *tags)
{
    const char *url = TagText(tags, LVP_NETTAG_URL);
    if (!url) return nullptr;
    bool test = std::strncmp(url, "test://", 7) == 0;
    if (!test && std::strcmp(host, "https://xfer.adapter/") != 0) return nullptr;
    const char *path = std::strchr(url + (test ? 7 : 8), '/');
    path = path ? path : "/";
    intptr_t word = 0, form = 0;
    if (!FindTag(tags, LVP_NETTAG_ADAPTERWORD, &word)) return nullptr;
    EchoConnection *c = new EchoConnection;
    c->transfer = true;
    *(int32_t *)word = 1;
    if (std::strncmp(path, "/bytes/", 7) == 0) {
        long n = std::atol(path + 7);
        for (long i = 0; i < n; i++) c->queue += (char)(i * 7 % 256);
    } else if (std::strcmp(path, "/tags") == 0) {
        c->queue = DescribeTransferTags(tags);
    } else if (std::strncmp(path, "/store", 6) == 0) {
        c->stored = path + 6;
    }
    if (FindTag(tags, LVP_NETTAG_FORMPARTS, &form)) {
        c->queue = DescribeForm((const lvNetFormPart *)form);
        for (const lvNetFormPart *p = (const lvNetFormPart *)form; p; p = p->next) c->uploadTotal += p->size;
    }
    intptr_t size = 0;
    if (FindTag(tags, LVP_NETTAG_UPLOADSIZE, &size)) c->uploadTotal = *(const int64_t *)size;
    c->downloadTotal = (int64_t)c->queue.size();
    c->closing = true;
    return c;
}

LVT_EXPORT(OpenConnection)(const char *host, int, const lvPluginTag *tags) -> void *
{
    if (void *transfer = OpenTransfer(host, tags)) return transfer;
    if (std::strcmp(host, "echo.adapter") != 0) return nullptr;
    EchoConnection *c = new EchoConnection;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (!c->tags.empty()) c->tags += " ";
        c->tags += std::to_string(t->tag) + "=";
        if (t->tag == LVP_NETTAG_ADAPTERWORD || t->tag == LVP_NETTAG_USERTAGS) c->tags += t->value ? "set" : "none";
        else c->tags += std::to_string((long)t->value);
    }
    return c;
}
LVT_EXPORT(CloseConnection)(void *handle) -> void
{
    EchoConnection *c = (EchoConnection *)handle;
    if (c->transfer && !c->stored.empty()) {
        if (FILE *f = std::fopen(c->stored.c_str(), "wb")) {
            std::fwrite(c->upload.data(), 1, c->upload.size(), f);
            std::fclose(f);
        }
    }
    delete c;
}
LVT_EXPORT(GetConnectionInfo)(void *handle, const lvPluginTag *tags) -> int
{
    EchoConnection *c = (EchoConnection *)handle;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (c->transfer && t->tag == LVP_NETINFO_DOWNLOADTOTAL) *(int64_t *)t->value = c->downloadTotal;
        else if (c->transfer && t->tag == LVP_NETINFO_UPLOADTOTAL) *(int64_t *)t->value = c->uploadTotal;
        else if (c->transfer && t->tag == LVP_NETINFO_UPLOADED) *(int64_t *)t->value = (int64_t)c->upload.size();
        else if (t->tag == LVP_NETINFO_PEERADDRESS) std::snprintf((char *)t->value, 256, "%s", c->tags.c_str());
        else if (t->tag == LVP_NETINFO_PEERPORT) *(int32_t *)t->value = 4242;
        else if (t->tag == LVP_NETINFO_LOCALADDRESS) std::snprintf((char *)t->value, 256, "echo");
        else if (t->tag == LVP_NETINFO_LOCALPORT) *(int32_t *)t->value = 1;
        else return 1055;
    }
    return 0;
}
LVT_EXPORT(ReceiveData)(void *handle, void *buffer, int size, int *received, intptr_t) -> int
{
    EchoConnection *c = (EchoConnection *)handle;
    *received = 0;
    if (c->queue.empty()) return c->closing ? LVP_NET_RECVCLOSED : LVP_NET_RECVTIMEOUT;
    int n = (int)std::min<size_t>((size_t)size, c->queue.size());
    std::memcpy(buffer, c->queue.data(), (size_t)n);
    c->queue.erase(0, (size_t)n);
    *received = n;
    return 0;
}
LVT_EXPORT(SendData)(void *handle, const void *data, int size, int *sent, intptr_t) -> int
{
    EchoConnection *c = (EchoConnection *)handle;
    if (c->transfer) {
        c->upload.append((const char *)data, (size_t)size);
        *sent = size;
        return 0;
    }
    if (c->closing) return 1410;
    c->queue.append((const char *)data, (size_t)size);
    if (c->queue.size() >= 4 && c->queue.compare(c->queue.size() - 4, 4, "BYE\n") == 0) c->closing = true;
    *sent = size;
    return 0;
}
#endif

// ============================================================================
// Image loader and picture-entry command (imgloader)
// ============================================================================

#if defined(LVT_IMGLOADER)
// Takes files that begin with "TSTIMG" followed by words "key=value": w, h, line (row
// length), alpha (has alpha), want (alpha wanted), palette (1: gives a palette), vector,
// scaled, pen, getline (the row length GetImage reports), fmt (format name). Pixels
// are 0xAARRGGBB = alpha | x << 8 | y (alpha 0x80 with alpha, else 0), padding pixels
// 0xDEADBEEF. Files whose name contains "takeme"
// are taken whatever they hold, as a 2 x 2 picture named "TAKEN" (with alpha when the
// name also holds "alpha").
#include <cstdio>
#include <cstdlib>

struct TestImage {
    int w = 2, h = 2, line = 0, alpha = 0, want = 0, palette = 0, vector = 0, scaled = 0, pen = -1, getline = 0;
    char fmt[32] = "TESTIMG";
    uint32_t *pixels = nullptr;
    uint32_t colours[256];
    int transformed = 0;     // TransformImage calls
};
static int imagesOpen;       // handles not freed yet (TestImagesOpen)

static bool ParseTestImage(const char *path, TestImage *image)
{
    if (std::strstr(path, "takeme")) {
        std::strcpy(image->fmt, "TAKEN");
        image->alpha = std::strstr(path, "alpha") != nullptr;
        return true;
    }
    void *file = api->files->OpenFile(path, 0);
    if (!file) return false;
    char text[256] = {};
    api->files->ReadFile(file, text, sizeof text - 1);
    api->files->CloseFile(file);
    if (std::strncmp(text, "TSTIMG", 6) != 0) return false;
    for (char *word = std::strtok(text + 6, " \n"); word; word = std::strtok(nullptr, " \n")) {
        char *eq = std::strchr(word, '=');
        if (!eq) continue;
        *eq = 0;
        const char *v = eq + 1;
        int n = std::atoi(v);
        if (!std::strcmp(word, "w")) image->w = n;
        else if (!std::strcmp(word, "h")) image->h = n;
        else if (!std::strcmp(word, "line")) image->line = n;
        else if (!std::strcmp(word, "alpha")) image->alpha = n;
        else if (!std::strcmp(word, "want")) image->want = n;
        else if (!std::strcmp(word, "palette")) image->palette = n;
        else if (!std::strcmp(word, "vector")) image->vector = n;
        else if (!std::strcmp(word, "scaled")) image->scaled = n;
        else if (!std::strcmp(word, "pen")) image->pen = n;
        else if (!std::strcmp(word, "getline")) image->getline = n;
        else if (!std::strcmp(word, "fmt")) std::snprintf(image->fmt, sizeof image->fmt, "%s", v);
    }
    return true;
}

static void FillTestImage(TestImage *image, int w, int h)
{
    int line = image->line ? image->line : w;
    delete[] image->pixels;
    image->pixels = new uint32_t[(size_t)line * h];
    for (int y = 0; y < h; y++)
        for (int x = 0; x < line; x++)
            image->pixels[(size_t)y * line + x] =
                x < w ? (image->alpha ? 0x80000000u : 0) | (uint32_t)(x & 0xFF) << 8 | (uint32_t)(y & 0xFF) : 0xDEADBEEFu;
}

static void DescribeCtrl(const TestImage *image, lvImageLoadCtrl *ctrl)
{
    ctrl->width = image->w;
    ctrl->height = image->h;
    ctrl->lineWidth = image->line ? image->line : image->w;
    ctrl->hasAlpha = image->alpha;
    ctrl->alphaWanted = image->want;
    ctrl->type = image->vector ? 1 : 0;
    ctrl->depth = image->alpha ? 32 : 24;
    ctrl->transparentPen = image->pen;
}

LVT_EXPORT(IsImage)(const char *path, lvImageLoadCtrl *ctrl) -> int
{
    TestImage image;
    if (!ParseTestImage(path, &image)) return 0;
    DescribeCtrl(&image, ctrl);
    if (image.pen >= 0) ctrl->flags |= LVP_IMGCTRL_HASPEN;
    return 1;
}
LVT_EXPORT(LoadImage)(const char *path, lvImageLoadCtrl *ctrl) -> void *
{
    TestImage *image = new TestImage;
    if (!ParseTestImage(path, image)) {
        delete image;
        return nullptr;
    }
    DescribeCtrl(image, ctrl);
    if (image->vector && image->scaled && ctrl->wantedWidth > 0 && ctrl->wantedHeight > 0) {
        ctrl->flags |= LVP_IMGCTRL_SCALED;
        ctrl->unscaledWidth = image->w;
        ctrl->unscaledHeight = image->h;
        ctrl->width = ctrl->wantedWidth;
        ctrl->height = ctrl->wantedHeight;
        ctrl->lineWidth = ctrl->width;
    }
    imagesOpen++;
    return image;
}
LVT_EXPORT(GetImage)(void *handle, lvImageLoadCtrl *ctrl) -> void *
{
    TestImage *image = (TestImage *)handle;
    int w = ctrl->width ? ctrl->width : image->w, h = ctrl->height ? ctrl->height : image->h;
    if (!image->pixels) FillTestImage(image, w, h);
    ctrl->lineWidth = image->getline ? image->getline : image->line ? image->line : w;
    ctrl->hasAlpha = image->alpha;
    if (image->palette) {
        for (int i = 0; i < 256; i++) image->colours[i] = 0x010101u * (uint32_t)i;
        ctrl->palette = image->colours;
    }
    return image->pixels;
}
LVT_EXPORT(FreeImage)(void *handle) -> void
{
    TestImage *image = (TestImage *)handle;
    delete[] image->pixels;
    delete image;
    imagesOpen--;
}
// A vector picture is drawn again at the size the matrix asks for.
LVT_EXPORT(TransformImage)(void *handle, const lvImageMatrix *, int width, int height) -> int
{
    TestImage *image = (TestImage *)handle;
    image->transformed++;
    image->line = width;
    FillTestImage(image, width, height);
    return 1;
}
LVT_EXPORT(GetImageFormat)(void *handle) -> const char * { return ((TestImage *)handle)->fmt; }
LVT_EXPORT(GetExtensions)(uint32_t capability, void *) -> uint32_t { return capability == PLUGINCAPS_IMAGE ? 2u : 0u; }

// TestImagesOpen() -> loader handles not freed yet
static int CmdTestImagesOpen(lvState *L)
{
    api->scriptVM->PushNumber(L, imagesOpen);
    return 1;
}

// TestPictures(dir) -> one line per file of dir (a.png, b.jpg, c.bmp, d.gif, e.ilbm,
// f.pbm, g.tif, h.webp, missing.png, text.txt): "name W H alpha crc" through the runtime's picture entries (slot 0 for
// size and alpha, 1 to load with bytes R, G, B, A, 2 for the pixels, 3 to free), or
// "name 0 none" when slot 0 does not know the file.
static int CmdTestPictures(lvState *L)
{
    const char *dir = api->scriptVM->CheckStringArg(L, 1, nullptr);
    std::string out;
    // The native loader too, for the TIFF and WebP files.
    static const lvPluginTag tags[] = {{5, (intptr_t) "inbuilt|native"}, {0, 0}};
    for (const char *name : {"a.png", "b.jpg", "c.bmp", "d.gif", "e.ilbm", "f.pbm", "g.tif", "h.webp", "missing.png",
                             "text.txt"}) {
        std::string path = std::string(dir) + "/" + name;
        int w = 0, h = 0, alpha = 0;
        char line[160];
        if (!api->graphics->IsImageFile(path.c_str(), &w, &h, &alpha)) {
            std::snprintf(line, sizeof line, "%s 0 none\n", name);
        } else {
            int lw = 0, lh = 0, la = 0;
            void *source = api->graphics->LoadImage(path.c_str(), tags, &lw, &lh, &la);
            if (!source) {
                std::snprintf(line, sizeof line, "%s load failed\n", name);
            } else {
                const void *pixels = api->graphics->TakeImagePixels(source);
                uint32_t crc = (uint32_t)api->checksums->Crc32(pixels, lw * lh * 4);
                std::snprintf(line, sizeof line, "%s %d %d %d %d %d %08x\n", name, w, h, lw == w && lh == h, alpha,
                              la, crc);
                api->graphics->FreeImageSource(source);
            }
        }
        out += line;
    }
    api->scriptVM->PushString(L, out.c_str());
    return 1;
}
static const lvPluginCommand commands[] = {
    {"TestPictures", CmdTestPictures}, {"TestImagesOpen", CmdTestImagesOpen}, {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};
LVT_EXPORT(GetBaseTable)(void) -> const char * { return nullptr; }
LVT_EXPORT(GetCommands)(void) -> const lvPluginCommand * { return commands; }
LVT_EXPORT(GetConstants)(void) -> const lvPluginConstant * { return constants; }
LVT_EXPORT(InitLibrary)(lvState *) -> int { return 0; }
LVT_EXPORT(FreeLibrary)(lvState *) -> void {}
#endif

// ============================================================================
// Entry points
// ============================================================================
// Filesystem adapter over the same namespace (memfsys)
// ============================================================================

#if defined(LVT_FSYS)
static std::string currentDir = "mem:";

// One line per call: the function, its names, the number of user tags it was handed.
static void LogCall(const char *function, const char *a, const char *b, const lvPluginTag *tags, int which = -1)
{
    int count = 0;
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == 1)
            for (const lvPluginUserTag *u = (const lvPluginUserTag *)t->value; u; u = u->next) count++;
    const char *path = std::getenv("LVT_FSLOG");
    if (!path) return;
    if (FILE *f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %s%s%s tags=%d", function, a, b ? " " : "", b ? b : "", count);
        if (which >= 0) std::fprintf(f, " which=%d", which);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

static bool IsMemName(const char *name) { return std::strncmp(name, "mem:", 4) == 0; }

LVT_EXPORT(ChangeDir)(const char *path, const lvPluginTag *tags) -> int
{
    LogCall("ChangeDir", path, nullptr, tags);
    if (!IsMemName(path)) return 0;
    currentDir = path;
    return 1;
}
LVT_EXPORT(GetCurDir)(char *buffer, int size, const lvPluginTag *tags) -> int
{
    LogCall("GetCurDir", currentDir.c_str(), nullptr, tags);
    std::snprintf(buffer, (size_t)size, "%s", currentDir.c_str());
    return 1;
}
LVT_EXPORT(MakeDir)(const char *path, const lvPluginTag *tags) -> int
{
    LogCall("MakeDir", path, nullptr, tags);
    return IsMemName(path);
}
LVT_EXPORT(DeleteFSObj)(const char *path, const lvPluginTag *tags) -> int
{
    LogCall("DeleteFSObj", path, nullptr, tags);
    for (size_t i = 0; files && i < files->size(); i++)
        if (IsMemName(path) && (*files)[i].name == path + 4) {
            files->erase(files->begin() + (long)i);
            return 1;
        }
    return 0;
}
LVT_EXPORT(RenameFSObj)(const char *path, const char *newName, const lvPluginTag *tags) -> int
{
    LogCall("RenameFSObj", path, newName, tags);
    MemEntry *e = FindEntry(path);
    if (!e) return 0;
    e->name = newName;
    return 1;
}
LVT_EXPORT(MoveFSObj)(const char *source, const char *destination, const lvPluginTag *tags) -> int
{
    LogCall("MoveFSObj", source, destination, tags);
    MemEntry *e = FindEntry(source);
    if (!e || !IsMemName(destination)) return -1;   // not ours: copy and delete
    e->name = destination + 4;
    return 1;
}
LVT_EXPORT(SetFSObjAttributes)(const char *path, int which, const lvPluginStat *stat, const lvPluginTag *tags) -> int
{
    LogCall("SetFSObjAttributes", path, nullptr, tags, which);
    MemEntry *e = FindEntry(path);
    if (!e) return (which & 4) != 0;   // a directory copy's attributes: nothing to keep here
    if (which & 1) e->attributes = stat->attributes;
    return 1;
}
#endif

// ============================================================================

LVT_EXPORT(InitPlugin)(lvPluginRecord *record, const lvPluginApi *table, const char *) -> int
{
    api = table;
    self = record;
    if (api->version != LVPLUGIN_VERSION) return 0;
#if defined(LVT_CMDLIB)
    DescribeSelf(record, "cmdlib", PLUGINCAPS_LIBRARY);
#elif defined(LVT_NEEDS)
    DescribeSelf(record, "needs", PLUGINCAPS_LIBRARY | PLUGINCAPS_REQUIRE);
#elif defined(LVT_EXT)
    DescribeSelf(record, "extplug", PLUGINCAPS_LIBRARY | PLUGINCAPS_EXTENSION);
#elif defined(LVT_SLOTS)
    DescribeSelf(record, "slotcheck", PLUGINCAPS_LIBRARY);
#elif defined(LVT_RASTER)
    DescribeSelf(record, "rasterslots", PLUGINCAPS_LIBRARY);
#elif defined(LVT_FONTJPEG)
    DescribeSelf(record, "fontjpeg", PLUGINCAPS_LIBRARY);
#elif defined(LVT_DRAW)
    DescribeSelf(record, "drawslots", PLUGINCAPS_LIBRARY);
#elif defined(LVT_BRUSHES)
    DescribeSelf(record, "brushslots", PLUGINCAPS_LIBRARY);
#elif defined(LVT_FSYS)
    DescribeSelf(record, "memfsys", PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER | PLUGINCAPS_FILESYSADAPTER);
    files = new std::vector<MemEntry>{{"hello.txt", "Hello from memfs"}, {"numbers.bin", "0123456789"}};
    api->system->AddAdapterToChain(record, PLUGINCAPS_DIRADAPTER);
    api->system->AddAdapterToChain(record, PLUGINCAPS_FILESYSADAPTER);
#elif defined(LVT_MEMFS)
    DescribeSelf(record, "memfs", PLUGINCAPS_FILEADAPTER | PLUGINCAPS_DIRADAPTER);
    files = new std::vector<MemEntry>{{"hello.txt", "Hello from memfs"}, {"numbers.bin", "0123456789"}};
    // Directories are offered by any list that admits plug-ins; files only where named.
    api->system->AddAdapterToChain(record, PLUGINCAPS_DIRADAPTER);
#elif defined(LVT_SAVER)
    DescribeSelf(record, "saver", PLUGINCAPS_SAVEIMAGE);
    api->system->AddPluginFileType(record, FILETYPE_IMAGE, "Test raw", "image/x-test", "traw", 7001,
                                   FILETYPEFLAGS_SAVE | FILETYPEFLAGS_ALPHA);
#elif defined(LVT_FONTS)
    DescribeSelf(record, "fonts", PLUGINCAPS_FONT);
    api->system->AddAdapterToChain(record, PLUGINCAPS_FONT);
#elif defined(LVT_NETADAPTER)
    DescribeSelf(record, "netadapter", PLUGINCAPS_NETWORKADAPTER);
    api->system->AddAdapterToChain(record, PLUGINCAPS_NETWORKADAPTER);
#elif defined(LVT_WRONGNAME)
    DescribeSelf(record, "othername", PLUGINCAPS_LIBRARY);
#elif defined(LVT_NATIVE)
    DescribeSelf(record, "NATIVE", PLUGINCAPS_LIBRARY);
#elif defined(LVT_TOONEW)
    DescribeSelf(record, "toonew", PLUGINCAPS_LIBRARY);
    record->hostVersion = 11;
    record->hostRevision = 1;
#elif defined(LVT_MISSING)
    DescribeSelf(record, "missing", PLUGINCAPS_FILEADAPTER);
#elif defined(LVT_MISSINGPREFIXED)
    DescribeSelf(record, "missingprefixed", PLUGINCAPS_FILEADAPTER);
#elif defined(LVT_BADCAPS)
    DescribeSelf(record, "badcaps", 0x40000000u);
    // A hook added here must go when the load fails.
    api->system->AddHook(1, nullptr, nullptr);
#elif defined(LVT_MIXEDPREFIX)
    DescribeSelf(record, "mixedprefix", PLUGINCAPS_LIBRARY);
#elif defined(LVT_IMGLOADER)
    DescribeSelf(record, "imgloader", PLUGINCAPS_IMAGE | PLUGINCAPS_LIBRARY | PLUGINCAPS_EXTENSION);
#elif defined(LVT_INITFAIL)
    DescribeSelf(record, "initfail", PLUGINCAPS_LIBRARY);
    api->system->AddHook(1, nullptr, nullptr);
    return 0;
#endif
    return 1;
}

#if defined(LVT_FONTS)
// ============================================================================
// Font loader (fonts): "TestMono" depth 1, "TestAA" anti-aliased depth 8 and
// scalable, "TestPens" 16 pens with pen 0 transparent. Each character is a box 4
// pixels wide and as tall as the font, advancing 5 (plus the char spacing); the
// anti-aliased font's coverage and the pen font's pen come from the character code
// (code, and code & 15). Names that begin with "Bitstream" get an answer the runtime
// must refuse (depth 8 without anti-aliasing); every free is printed. "TestLayout"
// (depth 1) lays text out itself: boxes as above, a line feed or a box that would
// cross the wrap width starts a new line (height + line spacing lower), lines
// right-aligned to the widest with align 1; PRINT's first line starts at its cursor.
// ============================================================================
struct TestFont {
    char name[64];
    int kind;         // 0 mono, 1 anti-aliased, 2 pens, 3 refused, 4 lays text out
    int height, size;
};
static uint32_t testPens[256];

LVT_EXPORT(LoadFont)(const char *name, int size, lvPluginFontRequest *r, void *) -> void *
{
    int kind = !std::strcmp(name, "TestMono") ? 0 : !std::strcmp(name, "TestAA") ? 1
             : !std::strcmp(name, "TestPens") ? 2 : !std::strncmp(name, "Bitstream", 9) ? 3
             : !std::strcmp(name, "TestLayout") ? 4 : -1;
    if (kind < 0) return nullptr;
    TestFont *f = new TestFont{};
    std::snprintf(f->name, sizeof f->name, "%s", name);
    f->kind = kind;
    f->height = f->size = size;
    r->height = size;
    r->baseline = size - 1;
    if (kind == 0) r->depth = 1;
    if (kind == 4) {
        r->depth = 1;
        r->flags = LV_PLUGINFONT_SELFLAYOUT;
    }
    if (kind == 1) {
        r->depth = 8;
        r->flags = LV_PLUGINFONT_ANTIALIAS | LV_PLUGINFONT_SCALABLE;
    }
    if (kind == 2) {
        for (int i = 0; i < 16; i++) testPens[i] = 0x111111u * (uint32_t)i;
        r->depth = 4;
        r->palette = testPens;
        r->transparentPen = 0;
    }
    if (kind == 3) r->depth = 8;
    r->name = f->name;
    std::printf("fontplugin loaded %s %d\n", name, size);
    std::fflush(stdout);
    return f;
}

LVT_EXPORT(FreeFont)(void *handle) -> void
{
    TestFont *f = (TestFont *)handle;
    std::printf("fontplugin freed %s\n", f->name);
    std::fflush(stdout);
    delete f;
}

// The box positions of a self-laid text: left x and line of each character
// (-1 for a line feed), the line widths; the return is the number of lines.
static int LayOutBoxes(const TestFont *f, const char *text, int length, const lvPluginFontLayout *l,
                       std::vector<std::pair<int, int>> &boxes, std::vector<int> &widths)
{
    int step = 5 + l->charSpacing, x = l->cursorX, line = 0;
    widths.assign(1, x);
    for (int i = 0; i < length; i++) {
        if (text[i] == '\n') {
            boxes.push_back({-1, line});
            widths.push_back(0);
            x = 0, line++;
            continue;
        }
        if (l->wrapWidth > 0 && x > 0 && x + 4 > l->wrapWidth) {
            widths.push_back(0);
            x = 0, line++;
        }
        boxes.push_back({x, line});
        x += step;
        widths[line] = x;
    }
    (void)f;
    return line + 1;
}

LVT_EXPORT(MeasureText)(void *handle, const char *text, int length, int, lvPluginFontMetrics *out,
                        lvPluginFontLayout *layout, void *) -> int
{
    TestFont *f = (TestFont *)handle;
    if (f->kind == 4) {
        std::vector<std::pair<int, int>> boxes;
        std::vector<int> widths;
        int lines = LayOutBoxes(f, text, length, layout, boxes, widths);
        int widest = *std::max_element(widths.begin(), widths.end());
        out->advance = widths.back();
        out->height = lines * f->height + (lines - 1) * layout->lineSpacing;
        out->minX = 0;
        out->minY = -(f->height - 1);
        out->maxX = std::max(0, widest - 2);
        out->maxY = out->height - f->height;
        return 0;
    }
    out->advance = length * (5 + layout->charSpacing);
    out->height = f->height;
    out->minX = 0;
    out->minY = -(f->height - 1);
    out->maxX = out->advance - 2;
    out->maxY = 0;
    return 0;
}

LVT_EXPORT(RenderText)(void *handle, const char *text, int length, int, lvPluginFontTarget *t, const double *,
                       lvPluginFontLayout *layout, void *) -> int
{
    TestFont *f = (TestFont *)handle;
    bool mask = t->pixelFormat == 15;
    if (f->kind == 4) {
        if (!mask || !t->mask) return 1055;
        std::vector<std::pair<int, int>> boxes;
        std::vector<int> widths;
        LayOutBoxes(f, text, length, layout, boxes, widths);
        int widest = *std::max_element(widths.begin(), widths.end());
        for (auto [left, line] : boxes) {
            if (left < 0) continue;
            if (layout->align == 1) left += widest - widths[line];
            int top = t->y + line * (f->height + layout->lineSpacing);
            for (int y = top; y < top + f->height; y++)
                for (int x = t->x + left; x < t->x + left + 4; x++)
                    if (x >= 0 && y >= 0 && x < t->width && y < t->height)
                        t->mask[y * t->maskRowBytes + (x >> 3)] |= (uint8_t)(0x80 >> (x & 7));
        }
        std::printf("fontplugin laid out colour %06x wrap %d align %d\n", layout->colour, layout->wrapWidth,
                    layout->align);
        std::fflush(stdout);
        return 0;
    }
    if ((f->kind == 0) != mask) return 1055;       // the runtime handed the wrong plane
    if (f->kind == 2 ? !t->pens : f->kind == 1 ? !t->alpha : !t->mask) return 1055;
    for (int i = 0; i < length; i++) {
        int code = (unsigned char)text[i];
        int left = t->x + i * (5 + layout->charSpacing);
        for (int y = t->y; y < t->y + f->height; y++)
            for (int x = left; x < left + 4; x++) {
                if (x < 0 || y < 0 || x >= t->width || y >= t->height) continue;
                if (mask) t->mask[y * t->maskRowBytes + (x >> 3)] |= (uint8_t)(0x80 >> (x & 7));
                else if (f->kind == 2) t->pens[y * t->penRowBytes + x] = (uint8_t)(code & 15);
                else t->alpha[y * t->alphaRowBytes + x] = (uint8_t)code;
            }
    }
    return 0;
}

LVT_EXPORT(GetKerning)(void *, const char *pair, int, void *) -> int { return !std::strcmp(pair, "AV") ? -2 : 0; }

LVT_EXPORT(SetFontScale)(void *handle, double, double sy, lvPluginTag *tags) -> void
{
    TestFont *f = (TestFont *)handle;
    f->height = (int)(f->size * sy + 0.5);
    for (; tags && tags->tag; tags++) {
        if (tags->tag == 1) *(int *)tags->value = f->height;
        if (tags->tag == 2) *(int *)tags->value = f->height - 1;
    }
}

LVT_EXPORT(GetFontFormat)(void *) -> const char * { return "TESTFONT"; }
#endif

#if defined(LVT_MIXEDPREFIX)
// lvp_InitPlugin with an unprefixed ClosePlugin: the prefixed form is incomplete.
extern "C" __attribute__((visibility("default"))) void ClosePlugin(void) {}
#else
LVT_EXPORT(ClosePlugin)(void) -> void
{
#if defined(LVT_MEMFS)
    delete files;
    files = nullptr;
#endif
}
#endif

#if defined(LVT_WRONGNAME) || defined(LVT_NATIVE) || defined(LVT_TOONEW) || defined(LVT_INITFAIL)
// Library exports so that only the check under test can fail.
LVT_EXPORT(GetBaseTable)(void) -> const char * { return nullptr; }
LVT_EXPORT(GetCommands)(void) -> const lvPluginCommand * { return nullptr; }
LVT_EXPORT(GetConstants)(void) -> const lvPluginConstant * { return nullptr; }
LVT_EXPORT(InitLibrary)(lvState *) -> int { return 0; }
LVT_EXPORT(FreeLibrary)(lvState *) -> void {}
#endif
