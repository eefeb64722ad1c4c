// text.cpp - text conversions and bounded formatting.
//
// Script text is UTF-8 or ISO 8859-1 by one global encoding flag; UTF-16 is the
// form some file formats store; the system's own text on Linux is UTF-8. Every
// conversion writes into a caller's buffer of fixed capacity (cut at a whole
// character and terminated) or into a new block from AllocMemory.
// UTF-8 input is decoded strictly: overlong forms, encoded surrogates, code points
// above U+10FFFF, stray continuation bytes and cut sequences are invalid.
// FormatString formats in the C locale through a per-thread locale switch, so a
// locale set by anyone in the process never changes a decimal point.
// Depends on: the C library (vsnprintf, newlocale/uselocale).
// Limits: sizes and capacities are ints (texts below 2 GB).
#include "platform/lvplatform.h"
#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>

// ---- State ------------------------------------------------------------------

// Non-zero while script text is UTF-8 (the default), zero for ISO 8859-1.
static std::atomic<int> scriptEncodingUtf8{1};

void SetScriptEncoding(int utf8)
{
    scriptEncodingUtf8.store(utf8 ? 1 : 0, std::memory_order_relaxed);
}

int GetScriptEncoding(void)
{
    return scriptEncodingUtf8.load(std::memory_order_relaxed);
}

static bool UseUtf8(int forceUtf8)
{
    return forceUtf8 || GetScriptEncoding();
}

// ---- Bounded output -------------------------------------------------------------

// Collects a converted text into a bounded target, whole characters only. Once a
// character did not fit nothing more is written, but the whole length is still
// counted, which is how the allocating conversions measure (target nullptr).
template <typename T> struct lvTextSink {
    T *target;      // where the text goes; nullptr only measures
    int capacity;   // units of target including the terminator
    int written;    // units written so far
    size_t needed;  // units the whole text needs, without the terminator
    bool cut;       // a character did not fit

    lvTextSink(T *t, int cap) : target(t), capacity(cap), written(0), needed(0), cut(false) {}

    void Put(const T *units, int n)
    {
        needed += (size_t)n;
        if (cut || !target) return;
        if (written + n > capacity - 1) {
            cut = true;
            return;
        }
        for (int i = 0; i < n; i++) target[written + i] = units[i];
        written += n;
    }

    void Put1(T unit) { Put(&unit, 1); }

    // Terminates the target; true when the whole text fitted.
    bool Finish()
    {
        if (target && capacity > 0) target[written] = 0;
        return target && capacity > 0 && !cut;
    }

    // Leaves only the terminator (the text was refused).
    void Clear()
    {
        written = 0;
        if (target && capacity > 0) target[0] = 0;
    }
};

// ---- Code points ------------------------------------------------------------------

// Decodes one UTF-8 character strictly; the bytes it took, or 0 when s does not
// start with a valid sequence.
static int DecodeUtf8(const unsigned char *s, uint32_t *cp)
{
    unsigned char c = s[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int len;
    uint32_t value, min;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, value = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, value = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, value = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    for (int i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminator
        value = (value << 6) | (s[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *cp = value;
    return len;
}

static int EncodeUtf8(uint32_t cp, char *out)
{
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}

// Reads one character of UTF-16 at *pos (below end); a lone surrogate gives U+FFFD.
static uint32_t NextWideChar(const char16_t *wide, size_t *pos, size_t end)
{
    uint32_t c = wide[(*pos)++];
    if (c >= 0xD800 && c <= 0xDBFF && *pos < end) {
        uint32_t low = wide[*pos];
        if (low >= 0xDC00 && low <= 0xDFFF) {
            (*pos)++;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    if (c >= 0xD800 && c <= 0xDFFF) return 0xFFFD;
    return c;
}

static size_t WideLength(const char16_t *wide)
{
    size_t n = 0;
    while (wide[n]) n++;
    return n;
}

// ---- Conversion cores ---------------------------------------------------------------

// UTF-8 -> UTF-16. False when the text is not valid UTF-8.
static bool Utf8ToWide(const char *text, lvTextSink<char16_t> &sink)
{
    const unsigned char *s = (const unsigned char *)text;
    while (*s) {
        uint32_t cp;
        int len = DecodeUtf8(s, &cp);
        if (len == 0) return false;
        s += len;
        if (cp >= 0x10000) {
            char16_t pair[2] = {(char16_t)(0xD800 + ((cp - 0x10000) >> 10)),
                                (char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF))};
            sink.Put(pair, 2);
        } else {
            sink.Put1((char16_t)cp);
        }
    }
    return true;
}

static void WideToUtf8(const char16_t *wide, lvTextSink<char> &sink)
{
    size_t end = WideLength(wide), pos = 0;
    while (pos < end) {
        char bytes[4];
        int n = EncodeUtf8(NextWideChar(wide, &pos, end), bytes);
        sink.Put(bytes, n);
    }
}

static void WideToLatinSink(const char16_t *wide, size_t end, lvTextSink<char> &sink)
{
    size_t pos = 0;
    while (pos < end) {
        uint32_t cp = NextWideChar(wide, &pos, end);
        sink.Put1(cp > 255 ? '?' : (char)cp);
    }
}

static void LatinToUtf8(const char *text, lvTextSink<char> &sink)
{
    for (const unsigned char *s = (const unsigned char *)text; *s; s++) {
        char bytes[2];
        sink.Put(bytes, EncodeUtf8(*s, bytes));
    }
}

// UTF-8 -> ISO 8859-1: '?' above 255, a byte outside valid UTF-8 as it stands.
static void Utf8ToLatin(const char *text, lvTextSink<char> &sink)
{
    const unsigned char *s = (const unsigned char *)text;
    while (*s) {
        uint32_t cp;
        int len = DecodeUtf8(s, &cp);
        if (len == 0) {
            sink.Put1((char)*s++);
            continue;
        }
        s += len;
        sink.Put1(cp > 255 ? '?' : (char)cp);
    }
}

// Copies UTF-8 (or any bytes) as they stand, one character at a time so a cut
// never splits a sequence.
static void CopyUtf8(const char *text, lvTextSink<char> &sink)
{
    const unsigned char *s = (const unsigned char *)text;
    while (*s) {
        int n = 1;
        while (n < 4 && (s[n] & 0xC0) == 0x80) n++;
        sink.Put((const char *)s, n);
        s += n;
    }
}

// ---- Bounded conversions ----------------------------------------------------------------

int LatinToWide(const char *text, char16_t *target, int length, int capacity)
{
    lvTextSink<char16_t> sink(target, capacity);
    if (text) {
        size_t n = length < 0 ? strlen(text) : (size_t)length;
        const unsigned char *s = (const unsigned char *)text;
        for (size_t i = 0; i < n && !sink.cut; i++) sink.Put1(s[i]);
    }
    sink.Finish();
    return sink.written;
}

int WideToLatin(const char16_t *wide, char *target, int length, int capacity)
{
    lvTextSink<char> sink(target, capacity);
    if (wide) WideToLatinSink(wide, length < 0 ? WideLength(wide) : (size_t)length, sink);
    sink.Finish();
    return sink.written;
}

int TextToWideAs(const char *text, char16_t *target, int capacity, int *count, int forceUtf8)
{
    if (!text) text = "";
    if (!UseUtf8(forceUtf8)) {
        LatinToWide(text, target, -1, capacity);
        if (count) *count = (int)strlen(text) + 1;
        return 1;
    }
    if (count) *count = 0;
    lvTextSink<char16_t> sink(target, capacity);
    if (!Utf8ToWide(text, sink)) {
        sink.Clear();
        return 0;
    }
    if (!sink.Finish()) return 0;
    if (count) *count = sink.written + 1;
    return 1;
}

int TextToWide(const char *text, char16_t *target, int capacity, int *count)
{
    return TextToWideAs(text, target, capacity, count, 0);
}

int WideToTextAs(const char16_t *wide, char *target, int size, int forceUtf8)
{
    lvTextSink<char> sink(target, size);
    if (wide) {
        if (UseUtf8(forceUtf8)) WideToUtf8(wide, sink);
        else WideToLatinSink(wide, WideLength(wide), sink);
    }
    return sink.Finish() ? 1 : 0;
}

int WideToText(const char16_t *wide, char *target, int size)
{
    return WideToTextAs(wide, target, size, 0);
}

// A conversion between two byte texts, chosen by the encoding.
typedef void (*lvNarrowConvert)(const char *text, lvTextSink<char> &sink);

static int ConvertNarrow(const char *text, char *target, int size, int forceUtf8,
                         lvNarrowConvert utf8, lvNarrowConvert latin)
{
    lvTextSink<char> sink(target, size);
    if (text) (UseUtf8(forceUtf8) ? utf8 : latin)(text, sink);
    return sink.Finish() ? 1 : 0;
}

int TextToSystem(const char *text, char *target, int size, int forceUtf8)
{
    return ConvertNarrow(text, target, size, forceUtf8, CopyUtf8, LatinToUtf8);
}

int SystemToText(const char *system, char *target, int size, int forceUtf8)
{
    return ConvertNarrow(system, target, size, forceUtf8, CopyUtf8, Utf8ToLatin);
}

// ---- Allocating conversions ----------------------------------------------------------------

char16_t *DupTextToWideAs(const char *text, int forceUtf8)
{
    if (!text) text = "";
    size_t units;
    if (UseUtf8(forceUtf8)) {
        lvTextSink<char16_t> measure(nullptr, 0);
        if (!Utf8ToWide(text, measure)) return nullptr;
        units = measure.needed;
    } else {
        units = strlen(text);
    }
    char16_t *copy = (char16_t *)AllocMemory((units + 1) * sizeof(char16_t), 0);
    if (!copy) return nullptr;
    TextToWideAs(text, copy, (int)units + 1, nullptr, forceUtf8);
    return copy;
}

char16_t *DupTextToWide(const char *text)
{
    return DupTextToWideAs(text, 0);
}

// Measures a conversion into char text, then runs it again into a new block.
template <typename Convert> static char *DupConverted(Convert convert)
{
    lvTextSink<char> measure(nullptr, 0);
    convert(measure);
    char *copy = (char *)AllocMemory(measure.needed + 1, 0);
    if (!copy) return nullptr;
    lvTextSink<char> sink(copy, (int)measure.needed + 1);
    convert(sink);
    sink.Finish();
    return copy;
}

char *DupWideToText(const char16_t *wide)
{
    if (!wide) wide = u"";
    bool utf8 = UseUtf8(0);
    return DupConverted([&](lvTextSink<char> &sink) {
        if (utf8) WideToUtf8(wide, sink);
        else WideToLatinSink(wide, WideLength(wide), sink);
    });
}

static char *DupNarrow(const char *text, int forceUtf8, lvNarrowConvert utf8, lvNarrowConvert latin)
{
    if (!text) text = "";
    lvNarrowConvert convert = UseUtf8(forceUtf8) ? utf8 : latin;
    return DupConverted([&](lvTextSink<char> &sink) { convert(text, sink); });
}

char *DupTextToSystem(const char *text, int forceUtf8)
{
    return DupNarrow(text, forceUtf8, CopyUtf8, LatinToUtf8);
}

char *DupSystemToText(const char *system, int forceUtf8)
{
    return DupNarrow(system, forceUtf8, CopyUtf8, Utf8ToLatin);
}

// ---- Bounded formatting ------------------------------------------------------------------

// The C locale, made once; nullptr if the system cannot make it.
static locale_t CLocale(void)
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return c;
}

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Rewrites the size prefixes "I64", "I32" and "I" into the C library's "ll", none
// and "z". out has room for strlen(format) + 1 bytes (the rewrite never grows).
static void TranslateFormat(const char *p, char *out)
{
    while (*p) {
        if (*p != '%') {
            *out++ = *p++;
            continue;
        }
        *out++ = *p++;
        if (*p == '%') {
            *out++ = *p++;
            continue;
        }
        for (int pass = 0; pass < 2; pass++) {
            while (*p && strchr("-+ #0'", *p)) *out++ = *p++;
            if (*p == '*') *out++ = *p++;
            while (IsDigit(*p)) *out++ = *p++;
            if (*p != '$') break;
            *out++ = *p++;  // a positional argument: flags and width follow
        }
        if (*p == '.') {
            *out++ = *p++;
            if (*p == '*') *out++ = *p++;
            while (IsDigit(*p)) *out++ = *p++;
        }
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            *out++ = 'l';
            *out++ = 'l';
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        } else if (p[0] == 'I' && p[1] && strchr("diouxX", p[1])) {
            *out++ = 'z';
            p++;
        }
    }
    *out = 0;
}

int VFormatString(char *buffer, size_t size, const char *format, va_list args)
{
    if (!buffer) size = 0;
    if (!format) {
        if (size) buffer[0] = 0;
        return -1;
    }
    char local[256];
    char *translated = nullptr;
    const char *use = format;
    if (strchr(format, 'I')) {
        size_t len = strlen(format);
        translated = len < sizeof(local) ? local : (char *)AllocMemory(len + 1, 0);
        if (translated) {
            TranslateFormat(format, translated);
            use = translated;
        }
    }
    locale_t c = CLocale();
    locale_t previous = c ? uselocale(c) : (locale_t)0;
    int n = vsnprintf(size ? buffer : nullptr, size, use, args);
    if (c) uselocale(previous);
    if (translated && translated != local) FreeMemory(translated);
    if (n < 0 && size) buffer[0] = 0;
    return n < 0 ? -1 : n;
}

int FormatString(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = VFormatString(buffer, size, format, args);
    va_end(args);
    return n;
}
