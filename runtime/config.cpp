// config.cpp - the runtime configuration: the option table, the command-line
// and ".ini" parsers, the application of options, number literals, backfill
// descriptions, and the search paths of "sysroot.conf".
// Dependencies: runtime/config.h, runtime/vfile.h, runtime/vdir.h, lverrors.h.
// Limits: keys of the ".ini" file have at most 127 characters; search-path
// lines at most 1023 (the rest forms the next line).
#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"
#include "runtime/vdir.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <strings.h>

// ============================================================================
// Option table
// ============================================================================

const lvStartupOption StartupOptions[LV_OPTION_COUNT] = {
    {"WINDOW", 1, 0},           {"BORDERLESS", 2, 0},        {"SIZEABLE", 3, 0},
    {"FIXED", 15, 0},           {"NOHIDE", 27, 0},           {"DISABLEBLANKER", 77, 0},
    {"ALLDISPLAYS", 84, 0},     {"OVERRIDEPLACEMENT", 93, 0},{"MAXIMIZED", 97, 0},
    {"WINWIDTH", 102, 1},       {"WINHEIGHT", 103, 1},       {"NATIVEUNITS", 105, 0},
    {"NOLIVERESIZE", 106, 0},   {"ALWAYSONTOP", 107, 0},     {"FULLSCREEN", 22, 0},
    {"FULLSCREENSCALE", 99, 0}, {"AUTOFULLSCREEN", 125, 0},  {"LAYERFULLSCREEN", 126, 0},
    {"FAKEFULLSCREEN", 30, 0},  {"MODEREQUESTER", 81, 0},    {"ASKDISPLAYMODE", 82, 0},
    {"SCRWIDTH", 28, 1},        {"SCRHEIGHT", 29, 1},        {"SCRDEPTH", 9, 1},
    {"MONITOR", 83, 1},         {"HIDEPOINTER", 31, 0},      {"NOMODESWITCH", 32, 0},
    {"SCALESWITCH", 117, 0},    {"NOSCALESWITCH", 118, 0},   {"BACKFILL", 4, 1},
    {"STARTCOLOR", 7, 1},       {"ENDCOLOR", 8, 1},          {"BRUSHFILE", 13, 1},
    {"BRUSH", 6, 1},            {"SCALEPICTURE", 18, 0},     {"PICXPOS", 19, 1},
    {"PICYPOS", 20, 1},         {"PICTRANS", 21, 1},         {"HIDETITLEBAR", 5, 0},
    {"AUTOSCALE", 37, 0},       {"LAYERSCALE", 41, 0},       {"SYSTEMSCALE", 108, 0},
    {"SCALEFACTOR", 109, 1},    {"SCALEWIDTH", 38, 1},       {"SCALEHEIGHT", 39, 1},
    {"SMOOTHSCALE", 40, 0},     {"NOSMOOTHSCALE", 120, 0},   {"KEEPPROPORTIONS", 63, 0},
    {"NOKEEPPROPORTIONS", 119, 0}, {"FITSCALE", 64, 0},      {"NOSCALEENGINE", 104, 0},
    {"NOSOUND", 16, 0},         {"FORCESOUND", 112, 0},      {"NUMCHANNELS", 90, 1},
    {"REQUIREPLUGINS", 76, 1},  {"REQUIRETAGS", 88, 1},      {"SKIPPLUGINS", 69, 1},
    {"GLOBALPLUGINS", 116, 0},  {"DEBUGDEVICE", 34, 1},      {"DEBUGOUTPUT", 89, 0},
    {"FORCEFLUSH", 91, 0},      {"NODEBUG", 96, 0},          {"PRINTERROR", 113, 0},
    {"FORMATERROR", 114, 0},    {"ERRORCODE", 130, 1},       {"HELP", 92, 0},
    {"QUIET", 11, 0},           {"ENCODING", 98, 1},         {"TEMPDIR", 80, 1},
    {"NOCHDIR", 94, 0},         {"SETCONSTANTS", 100, 1},    {"SOFTTIMER", 72, 0},
    {"SOFTWARERENDERER", 121, 0}, {"VSYNC", 122, 0},
};

const lvStartupOption *FindStartupOption(const char *key)
{
    for (const lvStartupOption &o : StartupOptions)
        if (strcasecmp(o.key, key) == 0) return &o;
    return nullptr;
}

// Slot numbers used by the appliers.
enum {
    SLOT_WINDOW = 1, SLOT_BORDERLESS = 2, SLOT_SIZEABLE = 3, SLOT_BACKFILL = 4, SLOT_HIDETITLEBAR = 5,
    SLOT_BRUSH = 6, SLOT_STARTCOLOR = 7, SLOT_ENDCOLOR = 8, SLOT_SCRDEPTH = 9, SLOT_QUIET = 11,
    SLOT_BRUSHFILE = 13, SLOT_FIXED = 15, SLOT_NOSOUND = 16, SLOT_SCALEPICTURE = 18, SLOT_PICXPOS = 19,
    SLOT_PICYPOS = 20, SLOT_PICTRANS = 21, SLOT_FULLSCREEN = 22, SLOT_NOHIDE = 27, SLOT_SCRWIDTH = 28,
    SLOT_SCRHEIGHT = 29, SLOT_FAKEFULLSCREEN = 30, SLOT_HIDEPOINTER = 31, SLOT_NOMODESWITCH = 32,
    SLOT_DEBUGDEVICE = 34, SLOT_AUTOSCALE = 37, SLOT_SCALEWIDTH = 38, SLOT_SCALEHEIGHT = 39,
    SLOT_SMOOTHSCALE = 40, SLOT_LAYERSCALE = 41, SLOT_KEEPPROPORTIONS = 63, SLOT_FITSCALE = 64,
    SLOT_SKIPPLUGINS = 69, SLOT_SOFTTIMER = 72, SLOT_REQUIREPLUGINS = 76, SLOT_DISABLEBLANKER = 77,
    SLOT_TEMPDIR = 80, SLOT_MODEREQUESTER = 81, SLOT_ASKDISPLAYMODE = 82, SLOT_MONITOR = 83,
    SLOT_ALLDISPLAYS = 84, SLOT_REQUIRETAGS = 88, SLOT_DEBUGOUTPUT = 89, SLOT_NUMCHANNELS = 90,
    SLOT_FORCEFLUSH = 91, SLOT_OVERRIDEPLACEMENT = 93, SLOT_NODEBUG = 96, SLOT_MAXIMIZED = 97,
    SLOT_ENCODING = 98, SLOT_FULLSCREENSCALE = 99, SLOT_WINWIDTH = 102, SLOT_WINHEIGHT = 103,
    SLOT_NOSCALEENGINE = 104, SLOT_NATIVEUNITS = 105, SLOT_NOLIVERESIZE = 106, SLOT_ALWAYSONTOP = 107,
    SLOT_SYSTEMSCALE = 108, SLOT_SCALEFACTOR = 109, SLOT_FORCESOUND = 112, SLOT_PRINTERROR = 113,
    SLOT_FORMATERROR = 114, SLOT_SCALESWITCH = 117, SLOT_NOSCALESWITCH = 118, SLOT_NOKEEPPROPORTIONS = 119,
    SLOT_NOSMOOTHSCALE = 120, SLOT_SOFTWARERENDERER = 121, SLOT_VSYNC = 122, SLOT_AUTOFULLSCREEN = 125,
    SLOT_LAYERFULLSCREEN = 126, SLOT_ERRORCODE = 130,
};

// ============================================================================
// Records
// ============================================================================

void InitRuntimeConfig(lvRuntimeConfig *config)
{
    std::memset(config, 0, sizeof *config);
    config->soundSetting = 30;
}

void InitStartupSwitches(lvStartupSwitches *switches)
{
    std::memset(switches, 0, sizeof *switches);
    switches->backfill.startColour = switches->backfill.endColour = -1;
    switches->backfill.pictureX = switches->backfill.pictureY = -100000;
    switches->backfill.pictureTransparency = -1;
}

void FreeUserArguments(lvRuntimeConfig *config)
{
    while (lvUserArgument *a = config->userArguments) {
        config->userArguments = a->next;
        FreeMemory(a->name);
        FreeMemory(a->value);
        FreeMemory(a);
    }
}

void FreeRuntimeConfig(lvRuntimeConfig *config)
{
    FreeUserArguments(config);
    FreeMemory(config->requirePluginList);
    FreeMemory(config->requireTags);
    FreeMemory(config->skipPluginList);
    config->requirePluginList = config->requireTags = config->skipPluginList = nullptr;
}

static char *DupText(const char *text, size_t length)
{
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

// Appends a user argument; its value comes later or not at all.
static lvUserArgument *AddUserArgument(lvRuntimeConfig *config, const char *name, size_t length)
{
    lvUserArgument *a = (lvUserArgument *)AllocMemory(sizeof(lvUserArgument), 1);
    if (!a) return nullptr;
    a->name = DupText(name, length);
    if (!a->name) {
        FreeMemory(a);
        return nullptr;
    }
    lvUserArgument **tail = &config->userArguments;
    while (*tail) tail = &(*tail)->next;
    *tail = a;
    return a;
}

static bool CopyField(char *field, size_t size, const char *text)
{
    size_t n = std::strlen(text);
    if (n >= size) return false;
    std::memcpy(field, text, n + 1);
    return true;
}

// ============================================================================
// Command line
// ============================================================================

static bool IsKeyChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

int ParseCommandLine(lvRuntimeConfig *config, lvOptionSlots *slots, int recogniseOptions, int noAppletName,
                     int argc, const char *const *argv, char **textOut)
{
    std::memset(slots, 0, sizeof *slots);
    *textOut = nullptr;
    // One block holds every word so that the slots can point into it.
    size_t total = 1;
    for (int i = 0; i < argc; i++) total += std::strlen(argv[i] ? argv[i] : "") + 1;
    char *block = (char *)AllocMemory(total, 1);
    if (!block) return ERR_MEM;
    *textOut = block;

    int waitingSlot = -1;              // value option waiting for its value
    lvUserArgument *waitingUser = nullptr; // user argument that may take the next plain word
    const char *appletName = nullptr;
    char *out = block;

    // A plain word goes, in this order, to a waiting option, the user argument
    // just appended, or the applet name.
    auto takePlainWord = [&](const char *word) -> int {
        if (waitingSlot >= 0) {
            slots->text[waitingSlot] = word;
            waitingSlot = -1;
        } else if (waitingUser) {
            waitingUser->value = DupText(word, std::strlen(word));
            if (!waitingUser->value) return ERR_MEM;
        } else if (!appletName) {
            appletName = word;
        }
        waitingUser = nullptr;
        return 0;
    };

    for (int i = 0; i < argc; i++) {
        const char *word = argv[i] ? argv[i] : "";
        size_t len = std::strlen(word);
        std::memcpy(out, word, len + 1);
        char *text = out;
        out += len + 1;
        if (text[0] != '-') {
            if (int err = takePlainWord(text)) return err;
            continue;
        }
        if (waitingSlot >= 0) return ERR_ARGS;
        char *key = text + 1;
        if (*key == '-') key++; // "--KEY" as Linux programs write it
        char *end = key;
        while (*end && IsKeyChar(*end)) end++;
        char *rest = *end ? end + 1 : end; // the character that ends the key is dropped
        char saved = *end;
        *end = 0;
        const lvStartupOption *option = recogniseOptions ? FindStartupOption(key) : nullptr;
        waitingUser = nullptr;
        if (option) {
            if (option->takesValue) waitingSlot = option->slot;
            else slots->on[option->slot] = 1;
        } else {
            waitingUser = AddUserArgument(config, key, (size_t)(end - key));
            if (!waitingUser) return ERR_MEM;
        }
        (void)saved;
        if (*rest) {
            if (int err = takePlainWord(rest)) return err;
        }
    }
    if (waitingSlot >= 0) return ERR_ARGS;
    if (noAppletName) return 0;
    if (!appletName) return ERR_CONFIG;
    if (!CopyField(config->appletPath, sizeof config->appletPath, appletName) ||
        !CopyField(config->givenAppletPath, sizeof config->givenAppletPath, appletName) ||
        !GetFullPath(appletName, config->absoluteAppletPath, sizeof config->absoluteAppletPath))
        return ERR_ARGS;
    return 0;
}

// ============================================================================
// ".ini" file
// ============================================================================

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

static bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A switch value: "true", "yes", "on", or a non-zero decimal number.
static int SwitchValue(const char *value)
{
    if (strcasecmp(value, "true") == 0 || strcasecmp(value, "yes") == 0 || strcasecmp(value, "on") == 0) return 1;
    const char *p = value;
    if (*p == '-' || *p == '+') p++;
    long long n = 0;
    auto r = std::from_chars(p, p + std::strlen(p), n, 10);
    (void)r;
    return n != 0;
}

int ParseIniText(lvOptionSlots *slots, lvRuntimeConfig *config, char *text)
{
    char *p = text;
    for (;;) {
        while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ') p++;
        if (!*p) return 0;
        if (*p == '#' || *p == '[') {
            while (*p && !IsLineEnd(*p)) p++;
            continue;
        }
        if (!IsLetter(*p)) return ERR_INISYNTAX;
        char *key = p;
        while (IsKeyChar(*p)) p++;
        if (p - key >= 128) return ERR_INISYNTAX;
        char *keyEnd = p;
        while (IsBlank(*p)) p++;
        if (*p != '=') return ERR_INISYNTAX;
        p++;
        *keyEnd = 0;
        while (IsBlank(*p)) p++;
        char *value = p;
        if (*p == '"') {
            value = ++p;
            while (*p && *p != '"' && !IsLineEnd(*p)) p++;
            if (*p != '"') return ERR_INISYNTAX;
            *p++ = 0; // what follows the closing quote starts the next entry
        } else {
            while (*p && !IsLineEnd(*p)) p++;
            char *end = p;
            while (end > value && IsBlank(end[-1])) end--;
            bool more = *p != 0;
            *end = 0;
            if (more) p++;
        }
        const lvStartupOption *option = FindStartupOption(key);
        if (!option) {
            lvUserArgument *a = AddUserArgument(config, key, std::strlen(key));
            if (!a || !(a->value = DupText(value, std::strlen(value)))) return ERR_MEM;
        } else if (option->takesValue) {
            slots->text[option->slot] = value;
        } else {
            slots->on[option->slot] = SwitchValue(value);
        }
    }
}

int ReadIniFile(lvOptionSlots *slots, lvRuntimeConfig *config, char **textOut)
{
    *textOut = nullptr;
    char name[LV_PATH_SIZE];
    if (!CopyField(name, sizeof name, config->appletPath)) return ERR_READ;
    char *filePart = (char *)FindFilePart(name);
    char *dot = std::strrchr(filePart, '.');
    if (dot) *dot = 0;
    if (std::strlen(name) + 4 >= sizeof name) return ERR_READ;
    std::strcat(name, ".ini");

    lvVFile *f = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
    if (!f) return 0; // no file, no options
    uint8_t *data = nullptr;
    int64_t length = 0;
    int result = ReadVFileAll(f, nullptr, 0, nullptr, nullptr, 1, &data, &length);
    CloseVFile(f);
    if (result) return result;
    size_t skip = (length >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) ? 3 : 0;
    // Text that is not UTF-8 was written as ISO-8859-1.
    const char *body = (const char *)data + skip;
    size_t bodyLength = (size_t)length - skip;
    char *text;
    if (bodyLength == 0 || (ValidateUtf8(body, bodyLength, nullptr) && !std::memchr(body, 0, bodyLength))) {
        text = (char *)AllocMemory(bodyLength + 1, 0);
        if (text) {
            std::memcpy(text, body, bodyLength);
            text[bodyLength] = 0;
        }
    } else {
        text = Latin1ToUtf8(body, bodyLength);
    }
    FreeMemory(data);
    if (!text) return ERR_TEXTCONVERT;
    *textOut = text;
    return ParseIniText(slots, config, text);
}

// ============================================================================
// Numbers and backfill
// ============================================================================

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

double ParseNumberLiteral(const char *text, int *consumedOut, int *errorOut)
{
    const char *p = text;
    bool negative = false;
    int error = 0;
    double value = 0;
    if (*p == '-') {
        negative = true;
        p++;
    }
    if (*p == '$' || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) {
        p += (*p == '$') ? 1 : 2;
        if (text[0] != '-' && *p == '-' && p[-1] == '$') {
            negative = true;
            p++;
        }
        uint64_t v = 0;
        const char *start = p;
        for (int d; (d = HexDigit(*p)) >= 0; p++) v = v * 16 + (uint64_t)d;
        if (p == start) error = ERR_SYNTAXERROR;
        value = (double)(int64_t)v;
    } else if (*p == '%') {
        p++;
        uint32_t v = 0;
        const char *start = p;
        for (; *p == '0' || *p == '1'; p++) v = v * 2 + (uint32_t)(*p - '0');
        if (p == start) error = ERR_SYNTAXERROR;
        value = v;
    } else if ((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9')) {
        auto r = std::from_chars(p, p + std::strlen(p), value, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range) {
            value = HUGE_VAL;
            while ((*p >= '0' && *p <= '9') || *p == '.') p++;
        } else {
            p = r.ptr;
        }
    } else {
        if (consumedOut) *consumedOut = 0;
        if (errorOut) *errorOut = ERR_VALUEEXPECTED;
        return 0;
    }
    if (consumedOut) *consumedOut = (int)(p - text);
    if (errorOut) *errorOut = error;
    return negative ? -value : value;
}

// A whole number option value, truncated toward zero.
static int ReadIntValue(const char *text, int *out, bool *percent = nullptr)
{
    int consumed = 0, error = 0;
    double v = ParseNumberLiteral(text, &consumed, &error);
    if (error) return error;
    if (percent) *percent = text[consumed] == '%';
    // Out-of-range values saturate symmetrically, so a percentage can be negated.
    if (!(v > -2147483648.0 && v < 2147483648.0)) v = v < 0 ? -2147483647.0 : 2147483647.0;
    *out = (int)std::trunc(v);
    return 0;
}

int ParseBackfillOption(const char *backfillType, const char *brush, const char *startColour,
                        const char *endColour, const char *brushFile, lvBackfill *block)
{
    int type;
    if (strcasecmp(backfillType, "COLOR") == 0) type = 1;
    else if (strcasecmp(backfillType, "RAINBOW") == 0 || strcasecmp(backfillType, "GRADIENT") == 0) type = 2;
    else if (strcasecmp(backfillType, "TEXTURE") == 0) type = 3;
    else if (strcasecmp(backfillType, "PICTURE") == 0) type = 4;
    else return ERR_BACKFILL;
    if (brush && brushFile) return ERR_BACKFILL;
    block->type = type;
    if (type == 1 && !startColour) return ERR_BACKFILL;
    if (type == 2 && (!startColour || !endColour)) return ERR_BACKFILL;
    if (brush) {
        if (int err = ReadIntValue(brush, &block->brushId)) return err;
    } else if (brushFile) {
        if (!CopyField(block->brushFile, sizeof block->brushFile, brushFile)) return ERR_BACKFILL;
    } else if (type == 3 || type == 4) {
        return ERR_BACKFILL;
    }
    if (startColour)
        if (int err = ReadIntValue(startColour, &block->startColour)) return err;
    if (endColour)
        if (int err = ReadIntValue(endColour, &block->endColour)) return err;
    return 0;
}

char *SplitBarList(const char *text)
{
    size_t n = std::strlen(text);
    char *list = (char *)AllocMemory(n + 2, 0);
    if (!list) return nullptr;
    for (size_t i = 0; i < n; i++) list[i] = text[i] == '|' ? 0 : text[i];
    list[n] = 0;
    list[n + 1] = 0;
    return list;
}

// ============================================================================
// Applying options
// ============================================================================

// Switches that set bits of display flag word 1.
static const struct {
    int slot;       // option slot
    uint32_t bit;   // bit of flags 1
} Flags1Switches[] = {
    {SLOT_BORDERLESS, 0x1},          {SLOT_SIZEABLE, 0x2},           {SLOT_FIXED, 0x4},
    {SLOT_NOHIDE, 0x20},             {SLOT_DISABLEBLANKER, 0x1000000}, {SLOT_MAXIMIZED, 0x10000000},
    {SLOT_NATIVEUNITS, 0x80000000u}, {SLOT_NOLIVERESIZE, 0x20000},   {SLOT_ALWAYSONTOP, 0x400000},
    {SLOT_HIDEPOINTER, 0x10},        {SLOT_NOMODESWITCH, 0x8},       {SLOT_SMOOTHSCALE, 0x80},
    {SLOT_KEEPPROPORTIONS, 0x8000},  {SLOT_FITSCALE, 0x10000},
};

// Mode options, applied last; two of them are an error.
static const struct {
    int slot; // option slot
    int mode; // display mode
} ModeOptions[] = {
    {SLOT_WINDOW, 1},        {SLOT_FULLSCREEN, 2},    {SLOT_FULLSCREENSCALE, 7},
    {SLOT_FAKEFULLSCREEN, 6}, {SLOT_MODEREQUESTER, 4}, {SLOT_ASKDISPLAYMODE, 3},
    {SLOT_SYSTEMSCALE, 8},   {SLOT_AUTOFULLSCREEN, 10}, {SLOT_LAYERFULLSCREEN, 11},
};

// A size that may end in "%": stored negated as a percentage.
static int ReadSizeValue(const char *text, int *out)
{
    bool percent = false;
    int v = 0;
    if (int err = ReadIntValue(text, &v, &percent)) return err;
    *out = percent ? -v : v;
    return 0;
}

static int ApplyDisplayOptions(const lvOptionSlots *s, lvRuntimeConfig *config, lvAppletRecord *d,
                               lvBackfill *backfill)
{
    if (s->on[SLOT_HIDETITLEBAR]) d->hideTitleBar = 1;
    // The record keeps its flag words as int; the bits are handled unsigned.
    uint32_t flags1 = (uint32_t)d->displayFlags1, flags2 = (uint32_t)d->displayFlags2;
    for (const auto &f : Flags1Switches)
        if (s->on[f.slot]) flags1 |= f.bit;
    if (s->on[SLOT_SCALESWITCH]) flags2 |= 0x2;
    if (s->on[SLOT_SOFTWARERENDERER]) flags2 |= 0x20;
    if (s->on[SLOT_VSYNC]) flags2 |= 0x40;
    if (s->on[SLOT_NOSCALESWITCH]) {
        flags2 &= ~0x2u;
        flags2 |= 0x4;
    }
    if (s->on[SLOT_NOKEEPPROPORTIONS]) {
        flags1 &= ~0x8000u;
        flags2 |= 0x8;
    }
    if (s->on[SLOT_NOSMOOTHSCALE]) {
        flags1 &= ~0x80u;
        flags2 |= 0x10;
    }
    d->displayFlags2 = (int)flags2;
    d->displayFlags1 = (int)flags1;
    if (s->text[SLOT_WINWIDTH])
        if (int err = ReadSizeValue(s->text[SLOT_WINWIDTH], &d->windowWidth)) return err;
    if (s->text[SLOT_WINHEIGHT])
        if (int err = ReadSizeValue(s->text[SLOT_WINHEIGHT], &d->windowHeight)) return err;
    if (s->on[SLOT_AUTOSCALE] && s->on[SLOT_LAYERSCALE]) return ERR_CONSOLEARG;
    if (s->on[SLOT_AUTOSCALE]) d->displayFlags1 |= 0x40;
    if (s->on[SLOT_LAYERSCALE]) d->displayFlags1 |= 0x100;
    if (s->on[SLOT_NOSCALEENGINE]) d->displayFlags1 |= 0x40000000;
    if (s->on[SLOT_ALLDISPLAYS]) config->allDisplays = 1;
    if (d->displayFlags1 & (0x40 | 0x100)) {
        if (s->text[SLOT_SCALEFACTOR]) {
            int consumed, error;
            double factor = ParseNumberLiteral(s->text[SLOT_SCALEFACTOR], &consumed, &error);
            if (error) return error;
            d->scaleFactor = factor;
        } else {
            if (s->text[SLOT_SCALEWIDTH])
                if (int err = ReadSizeValue(s->text[SLOT_SCALEWIDTH], &d->scaleWidth)) return err;
            if (s->text[SLOT_SCALEHEIGHT])
                if (int err = ReadSizeValue(s->text[SLOT_SCALEHEIGHT], &d->scaleHeight)) return err;
        }
    }
    if (s->text[SLOT_SCRDEPTH])
        if (int err = ReadIntValue(s->text[SLOT_SCRDEPTH], &d->screenDepth)) return err;
    if (s->text[SLOT_SCRWIDTH])
        if (int err = ReadIntValue(s->text[SLOT_SCRWIDTH], &d->screenWidth)) return err;
    if (s->text[SLOT_SCRHEIGHT])
        if (int err = ReadIntValue(s->text[SLOT_SCRHEIGHT], &d->screenHeight)) return err;
    if (s->text[SLOT_MONITOR]) {
        int monitor = 0;
        if (int err = ReadIntValue(s->text[SLOT_MONITOR], &monitor)) return err;
        if (monitor < 1) return ERR_MONITORRANGE;
        d->monitor = monitor - 1;
    }
    if (s->text[SLOT_BACKFILL]) {
        lvBackfill *b = backfill;
        if (int err = ParseBackfillOption(s->text[SLOT_BACKFILL], s->text[SLOT_BRUSH], s->text[SLOT_STARTCOLOR],
                                          s->text[SLOT_ENDCOLOR], s->text[SLOT_BRUSHFILE], b))
            return err;
        if (s->on[SLOT_SCALEPICTURE]) b->scalePicture = 1;
        if (s->text[SLOT_PICXPOS])
            if (int err = ReadIntValue(s->text[SLOT_PICXPOS], &b->pictureX)) return err;
        if (s->text[SLOT_PICYPOS])
            if (int err = ReadIntValue(s->text[SLOT_PICYPOS], &b->pictureY)) return err;
        if (s->text[SLOT_PICTRANS])
            if (int err = ReadIntValue(s->text[SLOT_PICTRANS], &b->pictureTransparency)) return err;
        d->backfill.type = b->type;
        d->backfill.startColor = b->startColour;
        d->backfill.endColor = b->endColour;
        d->backfill.pictureX = b->pictureX;
        d->backfill.pictureY = b->pictureY;
        d->backfill.transparency = b->pictureTransparency;
    }
    return 0;
}

static int ReplaceList(char **field, const char *text, bool split)
{
    char *list = split ? SplitBarList(text) : DupText(text, std::strlen(text));
    if (!list) return ERR_MEM;
    FreeMemory(*field);
    *field = list;
    return 0;
}

static int ApplyRunOptions(const lvOptionSlots *s, lvRuntimeConfig *config, lvAppletRecord *record,
                           lvStartupSwitches *w)
{
    if (s->on[SLOT_QUIET]) config->quiet = 1;
    if (s->on[SLOT_NOSOUND]) config->noSound = 1;
    if (s->on[SLOT_FORCESOUND]) config->forceSound = 1;
    if (s->text[SLOT_NUMCHANNELS]) {
        int channels = 0;
        if (int err = ReadIntValue(s->text[SLOT_NUMCHANNELS], &channels)) return err;
        if (channels < 1 || channels > 128) return ERR_CONSOLEARG;
        config->numChannels = channels;
    }
    if (s->text[SLOT_SKIPPLUGINS])
        if (int err = ReplaceList(&config->skipPluginList, s->text[SLOT_SKIPPLUGINS], true)) return err;
    if (s->text[SLOT_REQUIREPLUGINS])
        if (int err = ReplaceList(&config->requirePluginList, s->text[SLOT_REQUIREPLUGINS], true)) return err;
    if (s->text[SLOT_REQUIRETAGS])
        if (int err = ReplaceList(&config->requireTags, s->text[SLOT_REQUIRETAGS], false)) return err;
    if (const char *device = s->text[SLOT_DEBUGDEVICE]) {
        if (!CopyField(w->debugDeviceText, sizeof w->debugDeviceText, device)) return ERR_ARGS;
        w->debugDevice = 1;
        if (std::strncmp(device, "::hwnd", 6) == 0) w->hostDevice = 1;
    }
    if (s->on[SLOT_DEBUGOUTPUT]) w->debugOutput = 1;
    if (s->on[SLOT_NODEBUG]) w->noDebug = 1;
    if (s->on[SLOT_FORCEFLUSH]) w->forceFlush = 1;
    if (s->on[SLOT_OVERRIDEPLACEMENT]) config->overridePlacement = 1;
    if (s->on[SLOT_PRINTERROR]) w->printError = 1;
    if (s->on[SLOT_FORMATERROR]) w->formatError = 1;
    if (s->text[SLOT_ERRORCODE]) {
        if (int err = ReadIntValue(s->text[SLOT_ERRORCODE], &w->errorCode)) return err;
        w->errorCodeSet = 1;
    }
    if (s->text[SLOT_TEMPDIR]) {
        if (!CopyField(w->tempDir, sizeof w->tempDir, s->text[SLOT_TEMPDIR])) return ERR_ARGS;
        w->tempDirSet = 1;
    }
    if (s->on[SLOT_SOFTTIMER]) record->flagsBlock.flags |= LV_APPLETFLAG_SOFTTIMER;
    return 0;
}

int ApplyStartupOptions(const lvOptionSlots *slots, lvRuntimeConfig *config, lvAppletRecord *record,
                        lvStartupSwitches *switches)
{
    if (const char *encoding = slots->text[SLOT_ENCODING]) {
        if (strcasecmp(encoding, "iso8859_1") == 0) switches->wantLatin1 = 1;
        else if (strcasecmp(encoding, "utf8") != 0) return ERR_BADENCODING;
    }
    if (int err = ApplyDisplayOptions(slots, config, record, &switches->backfill)) return err;
    if (int err = ApplyRunOptions(slots, config, record, switches)) return err;
    int modes = 0;
    for (const auto &m : ModeOptions) {
        if (!slots->on[m.slot]) continue;
        if (++modes > 1) return ERR_CONSOLEARG;
        record->displayMode = m.mode;
    }
    return 0;
}

// ============================================================================
// Search paths
// ============================================================================

static bool IsWhiteLine(const std::string &line)
{
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f') return false;
    return true;
}

static int AddConfLine(std::string line, const char *programDir)
{
    if (line.empty() || IsWhiteLine(line) || line[0] == '#') return 0;
    if (line[0] == '~' && (line.size() == 1 || line[1] == '/' || line[1] == '\\'))
        line = std::string(GetHomeFolder()) + line.substr(1);
    if (line.find('%') == std::string::npos && !PathIsAbsolute(line.c_str())) {
        char joined[LV_PATH_SIZE];
        if (!CopyField(joined, sizeof joined, programDir)) return 0;
        size_t before = std::strlen(joined);
        if (!AppendPathPart(joined, line.c_str(), sizeof joined) || std::strlen(joined) - before < line.size())
            return 0; // too long: no path rather than a cut one
        line = joined;
    }
    return AppendSearchPath(line.c_str());
}

int BuildSearchPaths(const char *programDir, int readConf)
{
    if (readConf) {
        char name[LV_PATH_SIZE];
        if (CopyField(name, sizeof name, programDir) && AppendPathPart(name, "sysroot.conf", sizeof name) &&
            std::strlen(name) < sizeof name - 1) {
            if (lvVFile *f = OpenVFile(name, LV_VF_READ, nullptr, nullptr)) {
                std::string line;
                int result = 0;
                for (int c; !result && (c = ReadVFileByte(f)) >= 0;) {
                    if (c == '\n' || c == '\r') {
                        result = AddConfLine(line, programDir);
                        line.clear();
                        continue;
                    }
                    line += (char)c;
                    if (line.size() == 1023) {
                        result = AddConfLine(line, programDir);
                        line.clear();
                    }
                }
                if (!result) result = AddConfLine(line, programDir);
                CloseVFile(f);
                if (result) return result;
            }
        }
    }
    return AppendSearchPath(programDir);
}

static bool ReplaceAll(std::string &text, const char *variable, int folderId)
{
    size_t at = text.find(variable);
    if (at == std::string::npos) return true;
    char folder[LV_PATH_SIZE];
    if (!GetSystemFolderPath(folderId, folder, sizeof folder)) return false;
    for (; at != std::string::npos; at = text.find(variable, at + std::strlen(folder))) {
        text.replace(at, std::strlen(variable), folder);
    }
    return true;
}

int ExpandSearchPathVariables()
{
    for (lvSearchPath *node = GetSearchPaths(); node;) {
        lvSearchPath *next = node->next;
        std::string text = node->path;
        bool ok = ReplaceAll(text, "%APPDATA%", 3) && ReplaceAll(text, "%COMMONAPPDATA%", 4) &&
                  ReplaceAll(text, "%LOCALAPPDATA%", 14);
        // A result longer than a path field stays unexpanded: it can name no
        // other folder by being cut.
        if (ok && text.size() < LV_PATH_SIZE) {
            char full[LV_PATH_SIZE];
            if (lvVDir *d = OpenVDir(text.c_str(), LV_VD_READ | LV_VD_DIRSONLY, nullptr, nullptr)) {
                if (GetVDirPath(d, full, sizeof full)) text = full;
                CloseVDir(d);
            }
            if (text != node->path)
                if (int err = ReplaceSearchPath(node, text.c_str())) return err;
        }
        node = next;
    }
    return 0;
}
