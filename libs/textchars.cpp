// textchars.cpp - character services of the string engines (see textchars.h).
// Dependencies: the C library's wide-character classes in a "C.UTF-8" locale.
// Limits: Unicode classes follow the C library's tables; without that locale
// the Unicode tests fall back to the ISO-8859-1 tables for code points < 256.

#include "libs/textchars.h"

#include <charconv>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

// ============================================================================
// UTF-8
// ============================================================================

int DecodeTextChar(const char *p, const char *end, uint32_t *code)
{
    if (p >= end) {
        *code = 0;
        return 0;
    }
    const unsigned char *s = reinterpret_cast<const unsigned char *>(p);
    size_t avail = static_cast<size_t>(end - p);
    unsigned c = s[0];
    *code = c;
    if (c < 0xC2 || c > 0xF4) return 1;
    int need = c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (avail < static_cast<size_t>(need) + 1) return 1;
    unsigned lo = 0x80, hi = 0xBF;
    if (c == 0xE0) lo = 0xA0;
    else if (c == 0xED) hi = 0x9F;
    else if (c == 0xF0) lo = 0x90;
    else if (c == 0xF4) hi = 0x8F;
    if (s[1] < lo || s[1] > hi) return 1;
    for (int i = 2; i <= need; i++)
        if (s[i] < 0x80 || s[i] > 0xBF) return 1;
    uint32_t v = c & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
    for (int i = 1; i <= need; i++) v = (v << 6) | (s[i] & 0x3F);
    *code = v;
    return need + 1;
}

const char *StepBackTextChar(const char *p, const char *start)
{
    if (p <= start) return start;
    // The longest well-formed sequence that ends exactly at p, else one byte:
    // the same boundaries a forward walk with DecodeTextChar finds.
    for (int k = 4; k >= 2; k--) {
        if (p - start < k) continue;
        uint32_t code;
        if (DecodeTextChar(p - k, p, &code) == k) return p - k;
    }
    return p - 1;
}

int EncodeUtf8Char(char *out, uint32_t code)
{
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    if (code > 0x10FFFF) return 0;
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

bool IsValidUtf8(const char *text, size_t length, size_t *count)
{
    const char *p = text, *end = text + length;
    size_t n = 0;
    while (p < end) {
        uint32_t code;
        int used = DecodeTextChar(p, end, &code);
        if (used == 1 && static_cast<unsigned char>(*p) >= 0x80) {
            if (count) *count = n;
            return false;
        }
        p += used;
        n++;
    }
    if (count) *count = n;
    return true;
}

// ============================================================================
// ISO-8859-1 tables
// ============================================================================

static bool IsLetterLatin1(unsigned c)
{
    return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0xC0 && c <= 0xF6) ||
           (c >= 0xF8 && c <= 0xFF);
}

static bool IsLowerLatin1(unsigned c)
{
    return (c >= 0x61 && c <= 0x7A) || c == 0xA8 || c == 0xB5 || c == 0xB8 || c == 0xBD ||
           (c >= 0xDF && c <= 0xF6) || (c >= 0xF8 && c <= 0xFF);
}

static bool IsUpperLatin1(unsigned c)
{
    return (c >= 0x41 && c <= 0x5A) || c == 0xA6 || c == 0xB4 || c == 0xBC || c == 0xBE ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xDE);
}

static bool IsGraphLatin1(unsigned c) { return (c >= 0x21 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFF); }
static bool IsDigitAscii(unsigned c) { return c >= '0' && c <= '9'; }
static bool IsXDigitAscii(unsigned c)
{
    return IsDigitAscii(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
static bool IsSpaceAscii(unsigned c) { return c == ' ' || (c >= 9 && c <= 13); }
static bool IsPunctAscii(unsigned c)
{
    return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

static uint32_t LowerLatin1(uint32_t c)
{
    if ((c >= 0x41 && c <= 0x5A) || (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xDD)) return c + 0x20;
    return c;
}

static uint32_t UpperLatin1(uint32_t c)
{
    if ((c >= 0x61 && c <= 0x7A) || (c >= 0xE0 && c <= 0xF6) || (c >= 0xF8 && c <= 0xFD)) return c - 0x20;
    return c;
}

static bool TestLatin1Class(unsigned c, int letter)
{
    switch (letter) {
    case 'a': return IsLetterLatin1(c);
    case 'c': return c < 32 || c == 127;
    case 'd': return IsDigitAscii(c);
    case 'g': return IsGraphLatin1(c);
    case 'l': return IsLowerLatin1(c);
    case 'p': return IsPunctAscii(c);
    case 's': return IsSpaceAscii(c);
    case 'u': return IsUpperLatin1(c);
    case 'w': return IsLetterLatin1(c) || IsDigitAscii(c);
    case 'x': return IsXDigitAscii(c);
    case 'z': return c == 0;
    default: return false;
    }
}

// ============================================================================
// Unicode classes and case
// ============================================================================

// The UTF-8 locale, made once; null when the system has none.
static locale_t UnicodeLocale()
{
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}

static bool TestUnicodeClass(uint32_t c, int letter)
{
    locale_t loc = UnicodeLocale();
    if (!loc) return c < 256 && TestLatin1Class(c, letter);
    wint_t w = static_cast<wint_t>(c);
    switch (letter) {
    case 'a': return iswalpha_l(w, loc);
    case 'c': return iswcntrl_l(w, loc);
    case 'd': return iswdigit_l(w, loc);
    case 'g': return iswgraph_l(w, loc);
    case 'l': return iswlower_l(w, loc);
    case 'p': return iswpunct_l(w, loc);
    case 's': return iswspace_l(w, loc) || c == 0x85 || c == 0xA0;
    case 'u': return iswupper_l(w, loc);
    case 'w': return iswalnum_l(w, loc);
    case 'x':
        // Hexadecimal digits and their full-width forms.
        return IsXDigitAscii(c) || (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF26) ||
               (c >= 0xFF41 && c <= 0xFF46);
    case 'z': return c == 0;
    default: return false;
    }
}

bool TestCharClass(uint32_t code, int classLetter, bool utf8)
{
    if (utf8) return TestUnicodeClass(code, classLetter);
    return code < 256 && TestLatin1Class(code, classLetter);
}

bool IsPrintChar(uint32_t code, bool utf8)
{
    return code == ' ' || TestCharClass(code, 'g', utf8);
}

uint32_t LowerChar(uint32_t code, bool utf8)
{
    if (!utf8 || code < 128) return code < 256 ? LowerLatin1(code) : code;
    locale_t loc = UnicodeLocale();
    if (!loc) return code < 256 ? LowerLatin1(code) : code;
    return static_cast<uint32_t>(towlower_l(static_cast<wint_t>(code), loc));
}

uint32_t UpperChar(uint32_t code, bool utf8)
{
    if (!utf8 || code < 128) return code < 256 ? UpperLatin1(code) : code;
    locale_t loc = UnicodeLocale();
    if (!loc) return code < 256 ? UpperLatin1(code) : code;
    return static_cast<uint32_t>(towupper_l(static_cast<wint_t>(code), loc));
}

// ============================================================================
// Number literals
// ============================================================================

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

double ParseNumberText(const char *text, const char *end, size_t *consumed, int *error)
{
    const char *p = text;
    bool negative = false;
    *consumed = 0;
    *error = 0;
    if (p < end && *p == '-') {
        negative = true;
        p++;
    }
    double value = 0;
    bool hex = false;
    if (p < end && *p == '$') {
        p++;
        if (p < end && *p == '-') {
            negative = !negative;
            p++;
        }
        hex = true;
    } else if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        hex = true;
    }
    if (hex) {
        uint64_t v = 0;
        const char *digits = p;
        while (p < end && HexValue(*p) >= 0) v = (v << 4) | static_cast<uint64_t>(HexValue(*p++));
        if (p == digits) {
            *error = 1018;
            return 0;
        }
        value = static_cast<double>(static_cast<int64_t>(v));
    } else if (p < end && *p == '%') {
        p++;
        uint32_t v = 0;
        while (p < end && (*p == '0' || *p == '1')) v = (v << 1) | static_cast<uint32_t>(*p++ - '0');
        value = v;
    } else if (p < end && (IsDigitAscii(static_cast<unsigned char>(*p)) ||
                           (*p == '.' && p + 1 < end && IsDigitAscii(static_cast<unsigned char>(p[1]))))) {
        const char *q = p;
        while (q < end && IsDigitAscii(static_cast<unsigned char>(*q))) q++;
        if (q < end && *q == '.') {
            q++;
            while (q < end && IsDigitAscii(static_cast<unsigned char>(*q))) q++;
        }
        if (q < end && (*q == 'e' || *q == 'E')) {
            const char *r = q + 1;
            if (r < end && (*r == '+' || *r == '-')) r++;
            if (r < end && IsDigitAscii(static_cast<unsigned char>(*r))) {
                while (r < end && IsDigitAscii(static_cast<unsigned char>(*r))) r++;
                q = r;
            }
        }
        std::from_chars(p, q, value, std::chars_format::general);
        p = q;
    } else {
        *error = 1024;
        return 0;
    }
    *consumed = static_cast<size_t>(p - text);
    return negative ? -value : value;
}

// ============================================================================
// Positions
// ============================================================================

size_t CountTextChars(const char *text, size_t bytes, bool utf8)
{
    if (!utf8) return bytes;
    const char *p = text, *end = text + bytes;
    size_t n = 0;
    uint32_t code;
    while (p < end) {
        p += DecodeTextChar(p, end, &code);
        n++;
    }
    return n;
}

size_t CharToByteOffset(const char *text, size_t length, size_t n, bool utf8)
{
    if (!utf8) return n < length ? n : length;
    const char *p = text, *end = text + length;
    uint32_t code;
    while (n > 0 && p < end) {
        p += DecodeTextChar(p, end, &code);
        n--;
    }
    return size_t(p - text);
}

int TextCharWidth(const char *p, const char *end, bool utf8)
{
    if (p >= end) return 0;
    if (!utf8) return 1;
    uint32_t code;
    return DecodeTextChar(p, end, &code);
}
