// encoding.cpp - text encodings: UTF-8 and ISO-8859-1 engines, classes, case, comparison.
//
// Depends on: runtime/unicode_tables.* (generated), platform/lvplatform.h (allocator),
// the C library's locale functions for collation (a private locale object; the process
// locale is never changed).
// Limits: simple case mapping only; class tests are one table lookup (ISO-8859-1, and
// Unicode below U+0800) or one binary search over at most 1023 rows (the rest of
// Unicode); nothing on those paths allocates.
#include "runtime/encoding.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <mutex>

#include "platform/lvplatform.h"
#include "runtime/unicode_tables.h"

// ==== Encoding state ======================================================================

// Run-wide encoding flags.
struct lvEncodingState {
    int encoding;  // current encoding: LV_ENCODING_UTF8 (initial) or LV_ENCODING_LATIN1
};

static lvEncodingState g_encoding = {LV_ENCODING_UTF8};

int GetGlobalEncoding() { return g_encoding.encoding; }
void SetGlobalEncoding(int encoding) {
    g_encoding.encoding = encoding == LV_ENCODING_LATIN1 ? LV_ENCODING_LATIN1 : LV_ENCODING_UTF8;
    // File names go to the system as UTF-8: the platform converts ISO-8859-1 names.
    SetScriptEncoding(g_encoding.encoding == LV_ENCODING_UTF8);
}

void SwitchTextsToLatin1(char *const *texts, size_t count) {
    SetGlobalEncoding(LV_ENCODING_LATIN1);
    for (size_t i = 0; i < count; i++)
        if (texts[i]) Utf8ToLatin1InPlace(texts[i]);
}

int EncodeChar(char *buffer, uint32_t code) {
    if (g_encoding.encoding == LV_ENCODING_UTF8) {
        int n = PutUtf8(buffer, code);
        buffer[n] = 0;
        return n;
    }
    buffer[0] = code < 256 ? (char)code : '?';
    buffer[1] = 0;
    return 1;
}

// ==== UTF-8 ===============================================================================

// Continuation bytes that follow each lead byte, by the general (pre-2003) rule.
static inline int TrailingBytes(unsigned char b) {
    if (b < 0xC0) return 0;
    if (b < 0xE0) return 1;
    if (b < 0xF0) return 2;
    if (b < 0xF8) return 3;
    if (b < 0xFC) return 4;
    return 5;
}

// What accumulating a sequence six bits at a time adds in its marker bits.
static const uint32_t kUtf8Offsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                         0x03C82080u, 0xFA082080u, 0x82082080u};

static inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed sequence at p (before end), 0 when it is not well-formed.
static int WellFormedLength(const unsigned char *p, const unsigned char *end) {
    unsigned char b = p[0];
    if (b < 0x80) return 1;
    if (b < 0xC2 || b > 0xF4) return 0;
    int n = TrailingBytes(b) + 1;
    if (end - p < n) return 0;
    unsigned char b1 = p[1];
    if (!IsContinuation(b1)) return 0;
    if (b == 0xE0 && b1 < 0xA0) return 0;
    if (b == 0xED && b1 > 0x9F) return 0;
    if (b == 0xF0 && b1 < 0x90) return 0;
    if (b == 0xF4 && b1 > 0x8F) return 0;
    for (int i = 2; i < n; i++)
        if (!IsContinuation(p[i])) return 0;
    return n;
}

bool ValidateUtf8(const char *text, size_t length, size_t *countOut) {
    const unsigned char *p = (const unsigned char *)text;
    const unsigned char *end = p + length;
    size_t count = 0;
    bool ok = true;
    while (p < end) {
        int n = WellFormedLength(p, end);
        if (n == 0) {
            ok = false;
            break;
        }
        p += n;
        count++;
    }
    if (countOut) *countOut = count;
    return ok;
}

size_t CountUtf8CharsChecked(const char *text, size_t length, int *invalidOut) {
    size_t count = 0;
    bool ok = ValidateUtf8(text, length, &count);
    if (invalidOut) *invalidOut = ok ? 0 : 1;
    return ok ? count : 0;
}

size_t CountValidUtf8Chars(const char *text, int *invalidOut) {
    return CountUtf8CharsChecked(text, strlen(text), invalidOut);
}

int DecodeUtf8(const char *pc, const char *endc, uint32_t *codeOut) {
    const unsigned char *p = (const unsigned char *)pc;
    const unsigned char *end = (const unsigned char *)endc;
    if (p >= end) {
        *codeOut = 0;
        return 0;
    }
    unsigned char b = p[0];
    if (b < 0xC0) {  // ASCII, or a stray continuation byte taken as itself
        *codeOut = b;
        return 1;
    }
    int n = TrailingBytes(b);
    if (end - p <= n) {
        *codeOut = b;
        return 1;
    }
    uint32_t code = b;
    for (int i = 1; i <= n; i++) {
        if (!IsContinuation(p[i])) {
            *codeOut = b;
            return 1;
        }
        code = (code << 6) + p[i];
    }
    *codeOut = code - kUtf8Offsets[n];
    return n + 1;
}

uint32_t NextUtf8CodePointBounded(size_t *position, size_t length, const char *text) {
    const unsigned char *s = (const unsigned char *)text;
    size_t pos = *position;
    if (pos >= length) return 0;
    uint32_t code = s[pos++];
    int extra = 0;
    while (pos < length && IsContinuation(s[pos])) {
        code = (code << 6) + s[pos++];
        extra++;
    }
    *position = pos;
    if (extra > 5) return '?';
    return code - kUtf8Offsets[extra];
}

uint32_t NextUtf8CodePoint(const char *text, size_t *position) {
    // A NUL is no continuation byte, so the bounded walk stops at the end by itself.
    return NextUtf8CodePointBounded(position, (size_t)-1, text);
}

int PutUtf8(char *buffer, uint32_t code) {
    unsigned char *b = (unsigned char *)buffer;
    if (code < 0x80) {
        b[0] = (unsigned char)code;
        return 1;
    }
    if (code < 0x800) {
        b[0] = (unsigned char)(0xC0 | (code >> 6));
        b[1] = (unsigned char)(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        b[0] = (unsigned char)(0xE0 | (code >> 12));
        b[1] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
        b[2] = (unsigned char)(0x80 | (code & 0x3F));
        return 3;
    }
    if (code <= 0x10FFFF) {
        b[0] = (unsigned char)(0xF0 | (code >> 18));
        b[1] = (unsigned char)(0x80 | ((code >> 12) & 0x3F));
        b[2] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
        b[3] = (unsigned char)(0x80 | (code & 0x3F));
        return 4;
    }
    b[0] = '?';
    return 1;
}

int EncodeUtf8(char *buffer, uint32_t code) {
    int n = PutUtf8(buffer, code);
    buffer[n] = 0;
    return code <= 0x10FFFF ? 1 : 0;
}

// A sequence for navigation: one byte and at most three continuation bytes after it.
static inline size_t NavSequenceLength(const unsigned char *s, size_t avail) {
    size_t n = 1;
    while (n < 4 && n < avail && IsContinuation(s[n])) n++;
    return n;
}

size_t Utf8ByteOffset(const char *text, size_t n) {
    const unsigned char *s = (const unsigned char *)text;
    size_t pos = 0;
    while (n > 0 && s[pos]) {
        pos += NavSequenceLength(s + pos, (size_t)-1);
        n--;
    }
    return pos;
}

size_t Utf8CharCount(const char *text, size_t bytes) {
    const unsigned char *s = (const unsigned char *)text;
    size_t pos = 0, count = 0;
    while (pos < bytes) {
        pos += NavSequenceLength(s + pos, bytes - pos);
        count++;
    }
    return count;
}

const char *NextUtf8Char(const char *p, const char *end) {
    if (p >= end) return end;
    return p + NavSequenceLength((const unsigned char *)p, (size_t)(end - p));
}

const char *PrevUtf8Char(const char *p, const char *start) {
    if (p <= start) return start;
    p--;
    while (p > start && IsContinuation((unsigned char)*p)) p--;
    return p;
}

size_t CountUtf8Chars(const char *start, const char *end) {
    size_t count = 0;
    while (start < end) {
        uint32_t code;
        int n = (unsigned char)*start >= 0xC0 ? DecodeUtf8(start, end, &code) : 1;
        start += n;
        count++;
    }
    return count;
}

size_t SanitizeUtf8(const char *text, char *out) {
    const unsigned char *s = (const unsigned char *)text;
    const unsigned char *end = s + strlen(text);
    size_t o = 0;
    while (s < end) {
        unsigned char b = *s;
        if (b < 0x80) {
            out[o++] = (char)b;
            s++;
            continue;
        }
        // Legal shape by the lead byte alone (as the old 5- and 6-byte forms allow); the
        // decoded value then decides.
        int n = (b >= 0xC2 && b <= 0xFD) ? TrailingBytes(b) + 1 : 0;
        bool shape = n > 0 && end - s >= n;
        for (int i = 1; shape && i < n; i++) shape = IsContinuation(s[i]);
        if (shape && n >= 3) {
            uint32_t code = b;
            for (int i = 1; i < n; i++) code = (code << 6) + s[i];
            code -= kUtf8Offsets[n - 1];
            // Overlong forms are no legal sequence at all.
            static const uint32_t kMinimum[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
            if (code < kMinimum[n]) {
                shape = false;
            } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
                for (int i = 0; i < n; i++) out[o++] = '?';
                s += n;
                continue;
            }
        }
        if (!shape) {
            out[o++] = '?';
            s++;
            continue;
        }
        memcpy(out + o, s, (size_t)n);
        o += (size_t)n;
        s += n;
    }
    out[o] = 0;
    return o;
}

// ==== Conversions =========================================================================

size_t Latin1ToUtf8Into(const char *text, char *buffer, size_t length) {
    if (length == 0) length = strlen(text);
    const unsigned char *s = (const unsigned char *)text;
    size_t o = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char b = s[i];
        if (b < 0x80) {
            buffer[o++] = (char)b;
        } else if (b < 0xC0) {
            buffer[o++] = (char)0xC2;
            buffer[o++] = (char)b;
        } else {
            buffer[o++] = (char)0xC3;
            buffer[o++] = (char)(b - 0x40);
        }
    }
    buffer[o] = 0;
    return o;
}

char *Latin1ToUtf8(const char *text, size_t length) {
    if (length == 0) length = strlen(text);
    char *out = (char *)AllocMemory(2 * length + 1, 0);
    if (!out) return nullptr;
    Latin1ToUtf8Into(text, out, length);
    return out;
}

size_t Utf8ToLatin1Range(const char *text, char *buffer, size_t length, const char *sourcePosition,
                         char **outputPosition) {
    if (length == 0) length = strlen(text);
    const char *p = text;
    const char *end = text + length;
    size_t o = 0;
    bool placed = false;
    while (p < end) {
        if (!placed && sourcePosition && p >= sourcePosition) {
            if (outputPosition) *outputPosition = buffer + o;
            placed = true;
        }
        uint32_t code;
        p += DecodeUtf8(p, end, &code);
        buffer[o++] = code < 256 ? (char)code : '?';
    }
    if (!placed && outputPosition) *outputPosition = buffer + o;
    buffer[o] = 0;
    return o;
}

size_t Utf8ToLatin1Into(const char *text, char *buffer, size_t length) {
    return Utf8ToLatin1Range(text, buffer, length, nullptr, nullptr);
}

char *Utf8ToLatin1(const char *text, size_t length) {
    if (length == 0) length = strlen(text);
    char *out = (char *)AllocMemory(length + 1, 0);
    if (!out) return nullptr;
    Utf8ToLatin1Into(text, out, length);
    return out;
}

void Utf8ToLatin1InPlace(char *text) {
    // Every output byte comes from at least one input byte, so writing never overtakes
    // reading.
    const char *end = text + strlen(text);
    const char *p = text;
    char *o = text;
    while (p < end) {
        uint32_t code;
        p += DecodeUtf8(p, end, &code);
        *o++ = code < 256 ? (char)code : '?';
    }
    *o = 0;
}

char *ConvertTextEncoding(const char *text, int from, int to, const uint32_t *tags) {
    size_t length = 0;
    for (const uint32_t *t = tags; t && t[0] != 0; t += 2)
        if (t[0] == 1) length = t[1];
    if (from == LV_ENCODING_UTF8 && to == LV_ENCODING_LATIN1) return Utf8ToLatin1(text, length);
    if (from == LV_ENCODING_LATIN1 && to == LV_ENCODING_UTF8) return Latin1ToUtf8(text, length);
    return nullptr;
}

// ==== ISO-8859-1 classes and case =========================================================

enum {
    kLatin1Graph = 1,
    kLatin1Alpha = 2,
    kLatin1Lower = 4,
    kLatin1Upper = 8,
    kLatin1Digit = 16,
};

struct lvLatin1Tables {
    unsigned char classes[256];  // kLatin1* bits of each byte
    unsigned char lower[256];    // lower-case mapping
    unsigned char upper[256];    // upper-case mapping
};

static lvLatin1Tables MakeLatin1Tables() {
    lvLatin1Tables t = {};
    auto mark = [&](int from, int to, unsigned char bit) {
        for (int c = from; c <= to; c++) t.classes[c] |= bit;
    };
    mark(0x21, 0x7E, kLatin1Graph);
    mark(0xA1, 0xFF, kLatin1Graph);
    mark(0x41, 0x5A, kLatin1Alpha);
    mark(0x61, 0x7A, kLatin1Alpha);
    mark(0xC0, 0xF6, kLatin1Alpha);
    mark(0xF8, 0xFF, kLatin1Alpha);
    mark(0x61, 0x7A, kLatin1Lower);
    for (int c : {0xA8, 0xB5, 0xB8, 0xBD}) t.classes[c] |= kLatin1Lower;
    mark(0xDF, 0xF6, kLatin1Lower);
    mark(0xF8, 0xFF, kLatin1Lower);
    mark(0x41, 0x5A, kLatin1Upper);
    for (int c : {0xA6, 0xB4, 0xBC, 0xBE}) t.classes[c] |= kLatin1Upper;
    mark(0xC0, 0xD6, kLatin1Upper);
    mark(0xD8, 0xDE, kLatin1Upper);
    mark(0x30, 0x39, kLatin1Digit);
    for (int c = 0; c < 256; c++) t.lower[c] = t.upper[c] = (unsigned char)c;
    auto shift = [&](unsigned char *map, int from, int to, int delta) {
        for (int c = from; c <= to; c++) map[c] = (unsigned char)(c + delta);
    };
    shift(t.lower, 0x41, 0x5A, 0x20);
    shift(t.lower, 0xC0, 0xD6, 0x20);
    shift(t.lower, 0xD8, 0xDD, 0x20);
    shift(t.upper, 0x61, 0x7A, -0x20);
    shift(t.upper, 0xE0, 0xF6, -0x20);
    shift(t.upper, 0xF8, 0xFD, -0x20);
    return t;
}

static const lvLatin1Tables g_latin1 = MakeLatin1Tables();

static inline bool Latin1Has(uint32_t c, unsigned char bit) { return c < 256 && (g_latin1.classes[c] & bit); }

bool IsGraphLatin1(uint32_t c) { return Latin1Has(c, kLatin1Graph); }
bool IsAlphaLatin1(uint32_t c) { return Latin1Has(c, kLatin1Alpha); }
bool IsAlNumLatin1(uint32_t c) { return Latin1Has(c, kLatin1Alpha | kLatin1Digit); }
bool IsLowerLatin1(uint32_t c) { return Latin1Has(c, kLatin1Lower); }
bool IsUpperLatin1(uint32_t c) { return Latin1Has(c, kLatin1Upper); }
uint32_t ToLowerLatin1(uint32_t c) { return c < 256 ? g_latin1.lower[c] : c; }
uint32_t ToUpperLatin1(uint32_t c) { return c < 256 ? g_latin1.upper[c] : c; }

// ==== Unicode classes and case ============================================================

// Binary search by last code point: the row whose bounds hold c, or null.
template <typename Row>
static inline const Row *FindRow(const Row *rows, int count, uint32_t c) {
    int lo = 0, hi = count;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        const Row &r = rows[mid];
        if (r.last < c)
            lo = mid + 1;
        else if (r.first > c)
            hi = mid;
        else
            return &r;
    }
    return nullptr;
}

// The step test of a row found by FindRow.
template <typename Row>
static inline bool RowMember(const Row *r, uint32_t c) {
    return r->step <= 1 ? (r->step == 1 || c == r->first) : (c - r->first) % r->step == 0;
}

static inline bool InRanges(const lvUnicodeRange *rows, int count, uint32_t c) {
    const lvUnicodeRange *r = FindRow(rows, count, c);
    return r && RowMember(r, c);
}

// A code point inside a row's bounds that fails the step test maps to itself.
static inline uint32_t MapByRanges(const lvUnicodeCaseRange *rows, int count, uint32_t c) {
    const lvUnicodeCaseRange *r = FindRow(rows, count, c);
    return r && RowMember(r, c) ? (uint32_t)((int32_t)c + r->delta) : c;
}

// Class bits of lvUnicodeDirectClasses (the generator's order).
enum : uint16_t {
    kUniAlpha = 1,
    kUniLower = 2,
    kUniUpper = 4,
    kUniCntrl = 8,
    kUniDigit = 16,
    kUniXDigit = 32,
    kUniPunct = 64,
    kUniSpace = 128,
    kUniGraph = 256,
    kUniMark = 512,
    kUniNumber = 1024,
};

// Most text lives below U+0800 (Latin, Greek, Cyrillic, Hebrew, Arabic): there a class
// test or case mapping is one load from the generated direct tables; above, the binary
// search runs.
static inline bool DirectClass(uint32_t c, uint16_t bit, const lvUnicodeRange *rows, int count) {
    return c < lvUnicodeDirectLimit ? (lvUnicodeDirectClasses[c] & bit) != 0 : InRanges(rows, count, c);
}

#define LV_UNICODE_CLASS(name, bit, table) \
    bool name(uint32_t c) { return DirectClass(c, bit, table, table##Count); }

LV_UNICODE_CLASS(IsAlphaUnicode, kUniAlpha, lvUnicodeLetters)
LV_UNICODE_CLASS(IsLowerUnicode, kUniLower, lvUnicodeLower)
LV_UNICODE_CLASS(IsUpperUnicode, kUniUpper, lvUnicodeUpper)
LV_UNICODE_CLASS(IsCntrlUnicode, kUniCntrl, lvUnicodeControl)
LV_UNICODE_CLASS(IsDigitUnicode, kUniDigit, lvUnicodeDigits)
LV_UNICODE_CLASS(IsXDigitUnicode, kUniXDigit, lvUnicodeHexDigits)
LV_UNICODE_CLASS(IsPunctUnicode, kUniPunct, lvUnicodePunct)
LV_UNICODE_CLASS(IsSpaceUnicode, kUniSpace, lvUnicodeSpace)
#undef LV_UNICODE_CLASS

static inline bool IsGraphTableUnicode(uint32_t c) { return DirectClass(c, kUniGraph, lvUnicodeGraph, lvUnicodeGraphCount); }
static inline bool IsMarkUnicode(uint32_t c) { return DirectClass(c, kUniMark, lvUnicodeMarks, lvUnicodeMarksCount); }
static inline bool IsNumberUnicode(uint32_t c) {
    return DirectClass(c, kUniNumber, lvUnicodeNumbers, lvUnicodeNumbersCount);
}

bool IsGraphUnicode(uint32_t c) { return !IsSpaceUnicode(c) && (IsGraphTableUnicode(c) || IsMarkUnicode(c)); }
bool IsPrintUnicode(uint32_t c) { return IsSpaceUnicode(c) || IsGraphTableUnicode(c); }
bool IsAlNumUnicode(uint32_t c) { return IsAlphaUnicode(c) || IsNumberUnicode(c); }
uint32_t ToLowerUnicode(uint32_t c) {
    return c < lvUnicodeDirectLimit ? lvUnicodeToLowerDirect[c] : MapByRanges(lvUnicodeToLower, lvUnicodeToLowerCount, c);
}
uint32_t ToUpperUnicode(uint32_t c) {
    return c < lvUnicodeDirectLimit ? lvUnicodeToUpperDirect[c] : MapByRanges(lvUnicodeToUpper, lvUnicodeToUpperCount, c);
}
uint32_t FoldCaseUnicode(uint32_t c) {
    return c < lvUnicodeDirectLimit ? lvUnicodeFoldDirect[c] : MapByRanges(lvUnicodeFold, lvUnicodeFoldCount, c);
}

// ---- Current-encoding forms ------------------------------------------------------------

bool IsGraphChar(uint32_t c) { return g_encoding.encoding ? IsGraphUnicode(c) : IsGraphLatin1(c); }
bool IsAlphaChar(uint32_t c) { return g_encoding.encoding ? IsAlphaUnicode(c) : IsAlphaLatin1(c); }
bool IsAlNumChar(uint32_t c) { return g_encoding.encoding ? IsAlNumUnicode(c) : IsAlNumLatin1(c); }
uint32_t ToLowerChar(uint32_t c) { return g_encoding.encoding ? ToLowerUnicode(c) : ToLowerLatin1(c); }
uint32_t ToUpperChar(uint32_t c) { return g_encoding.encoding ? ToUpperUnicode(c) : ToUpperLatin1(c); }

// ==== Comparison and search ===============================================================

int CompareUtf8NoCase(const char *a, const char *aEnd, const char *b, const char *bEnd) {
    while (a < aEnd && b < bEnd) {
        uint32_t ca, cb;
        a += DecodeUtf8(a, aEnd, &ca);
        b += DecodeUtf8(b, bEnd, &cb);
        ca = FoldCaseUnicode(ca);
        cb = FoldCaseUnicode(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a < aEnd) return 1;
    if (b < bEnd) return -1;
    return 0;
}

int StrCmpNoCaseUtf8(const char *a, const char *b) {
    return CompareUtf8NoCase(a, a + strlen(a), b, b + strlen(b));
}

int StrNCmpNoCaseUtf8(const char *a, const char *b, size_t n) {
    return CompareUtf8NoCase(a, a + strnlen(a, n), b, b + strnlen(b, n));
}

int CompareUtf8NoCaseN(const char *a, const char *b, size_t length) {
    return CompareUtf8NoCase(a, a + length, b, b + length);
}

int StrNCmpNoCaseLatin1(const char *a, const char *b, size_t n) {
    const unsigned char *x = (const unsigned char *)a;
    const unsigned char *y = (const unsigned char *)b;
    for (size_t i = 0; i < n; i++) {
        int d = (int)g_latin1.upper[x[i]] - (int)g_latin1.upper[y[i]];
        if (d != 0 || x[i] == 0) return d;
    }
    return 0;
}

int StrCmpNoCaseLatin1(const char *a, const char *b) { return StrNCmpNoCaseLatin1(a, b, (size_t)-1); }

int CompareLatin1NoCaseN(const char *a, const char *b, size_t n) {
    const unsigned char *x = (const unsigned char *)a;
    const unsigned char *y = (const unsigned char *)b;
    for (size_t i = 0; i < n; i++)
        if (g_latin1.lower[x[i]] != g_latin1.lower[y[i]]) return 1;
    return 0;
}

int StrCmpNoCase(const char *a, const char *b) {
    return g_encoding.encoding ? StrCmpNoCaseUtf8(a, b) : StrCmpNoCaseLatin1(a, b);
}

int StrNCmpNoCase(const char *a, const char *b, size_t n) {
    return g_encoding.encoding ? StrNCmpNoCaseUtf8(a, b, n) : StrNCmpNoCaseLatin1(a, b, n);
}

const char *FindStrNoCase(const char *haystack, size_t length, const char *needle, size_t needleLength,
                          int encoding) {
    if (needleLength == 0) return haystack;
    const char *end = haystack + length;
    if (encoding == LV_ENCODING_UTF8) {
        const char *needleEnd = needle + needleLength;
        uint32_t first;
        int firstLength = DecodeUtf8(needle, needleEnd, &first);
        first = FoldCaseUnicode(first);
        for (const char *p = haystack; p < end;) {
            uint32_t c;
            int n = DecodeUtf8(p, end, &c);
            if (FoldCaseUnicode(c) == first) {
                // The rest of the needle against what follows, character by character;
                // folded forms may differ in byte length, so compare by characters.
                const char *q = p + n;
                const char *r = needle + firstLength;
                while (q < end && r < needleEnd) {
                    uint32_t cq, cr;
                    q += DecodeUtf8(q, end, &cq);
                    r += DecodeUtf8(r, needleEnd, &cr);
                    if (FoldCaseUnicode(cq) != FoldCaseUnicode(cr)) break;
                    if (r == needleEnd) return p;
                }
                if (r == needleEnd) return p;
            }
            p += n;
        }
        return nullptr;
    }
    if (needleLength > length) return nullptr;
    for (const char *p = haystack; p + needleLength <= end; p++)
        if (CompareLatin1NoCaseN(p, needle, needleLength) == 0) return p;
    return nullptr;
}

// The user's collation, made once; null when the C library has no usable locale. The
// texts compared are UTF-8, so a user locale of another character set gives way to
// C.UTF-8.
static locale_t UserCollationLocale() {
    static std::once_flag once;
    static locale_t loc = (locale_t)0;
    std::call_once(once, [] {
        loc = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", (locale_t)0);
        if (loc && strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") != 0) {
            freelocale(loc);
            loc = (locale_t)0;
        }
        if (!loc) loc = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    });
    return loc;
}

int CollateStrings(const char *a, const char *b, int caseSensitive) {
    if (g_encoding.encoding == LV_ENCODING_LATIN1) {
        // Without case the answer is the difference of the first differing bytes (as
        // upper case), which scripts read as a distance, not only as a sign.
        if (!caseSensitive) return StrCmpNoCaseLatin1(a, b);
        int d = strcmp(a, b);
        return d < 0 ? -1 : d > 0 ? 1 : 0;
    }
    char *fa = nullptr;
    char *fb = nullptr;
    if (!caseSensitive) {
        size_t la = 0, lb = 0;
        fa = ChangeCaseCopy(a, strlen(a), LV_ENCODING_UTF8, 0, &la);
        fb = ChangeCaseCopy(b, strlen(b), LV_ENCODING_UTF8, 0, &lb);
        if (!fa || !fb) {
            FreeMemory(fa);
            FreeMemory(fb);
            int d = StrCmpNoCaseUtf8(a, b);
            return d < 0 ? -1 : d > 0 ? 1 : 0;
        }
        a = fa;
        b = fb;
    }
    locale_t loc = UserCollationLocale();
    int d = loc ? strcoll_l(a, b, loc) : strcmp(a, b);
    if (d == 0) d = strcmp(a, b);  // equal by the locale but not the same bytes: keep an order
    FreeMemory(fa);
    FreeMemory(fb);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

// ==== Case change =========================================================================

static inline uint32_t MapCase(uint32_t c, int upper) { return upper ? ToUpperUnicode(c) : ToLowerUnicode(c); }

static size_t ChangeCaseInPlace(char *text, int encoding, int upper) {
    unsigned char *s = (unsigned char *)text;
    if (encoding != LV_ENCODING_UTF8) {
        const unsigned char *map = upper ? g_latin1.upper : g_latin1.lower;
        size_t i = 0;
        for (; s[i]; i++) s[i] = map[s[i]];
        return i;
    }
    size_t length = strlen(text);
    const unsigned char *end = s + length;
    size_t r = 0, w = 0;  // read and write offsets; w never passes r
    while (s + r < end) {
        unsigned char b = s[r];
        if (b < 0x80) {  // ASCII: the common case, mapped in place
            s[w++] = (unsigned char)MapCase(b, upper);
            r++;
            continue;
        }
        int n = WellFormedLength(s + r, end);
        if (n == 0) {  // ill-formed byte: kept as it is
            s[w++] = s[r++];
            continue;
        }
        uint32_t code;
        DecodeUtf8((const char *)s + r, (const char *)end, &code);
        char bytes[4];
        int m = PutUtf8(bytes, MapCase(code, upper));
        if (m <= n) {
            memcpy(s + w, bytes, (size_t)m);
            w += (size_t)m;
        } else {
            memset(s + w, '?', (size_t)n);
            w += (size_t)n;
        }
        r += (size_t)n;
    }
    s[w] = 0;
    return w;
}

size_t LowerStrInPlaceAs(char *text, int encoding) { return ChangeCaseInPlace(text, encoding, 0); }
size_t UpperStrInPlaceAs(char *text, int encoding) { return ChangeCaseInPlace(text, encoding, 1); }
size_t LowerStrInPlace(char *text) { return ChangeCaseInPlace(text, g_encoding.encoding, 0); }
size_t UpperStrInPlace(char *text) { return ChangeCaseInPlace(text, g_encoding.encoding, 1); }

char *ChangeCaseCopy(const char *text, size_t length, int encoding, int upper, size_t *lengthOut) {
    const unsigned char *s = (const unsigned char *)text;
    const unsigned char *end = s + length;
    if (encoding != LV_ENCODING_UTF8) {
        char *out = (char *)AllocMemory(length + 1, 0);
        if (!out) return nullptr;
        const unsigned char *map = upper ? g_latin1.upper : g_latin1.lower;
        for (size_t i = 0; i < length; i++) out[i] = (char)map[s[i]];
        out[length] = 0;
        if (lengthOut) *lengthOut = length;
        return out;
    }
    // First pass sizes the result exactly, second pass writes it.
    size_t need = 0;
    for (const unsigned char *p = s; p < end;) {
        int n = WellFormedLength(p, end);
        if (n == 0) {
            need++;
            p++;
            continue;
        }
        uint32_t code;
        DecodeUtf8((const char *)p, (const char *)end, &code);
        char bytes[4];
        need += (size_t)PutUtf8(bytes, MapCase(code, upper));
        p += n;
    }
    char *out = (char *)AllocMemory(need + 1, 0);
    if (!out) return nullptr;
    size_t w = 0;
    for (const unsigned char *p = s; p < end;) {
        int n = WellFormedLength(p, end);
        if (n == 0) {
            out[w++] = (char)*p++;
            continue;
        }
        uint32_t code;
        DecodeUtf8((const char *)p, (const char *)end, &code);
        w += (size_t)PutUtf8(out + w, MapCase(code, upper));
        p += n;
    }
    out[w] = 0;
    if (lengthOut) *lengthOut = w;
    return out;
}
