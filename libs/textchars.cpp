// textchars.cpp - character services of the string engines (see textchars.h),
// over the runtime's encoding module.
// Dependencies: runtime/encoding.h (decoding, Unicode and ISO-8859-1 tables).
// Limits: the decoder takes the general UTF-8 shapes as the runtime does;
// ill-formed bytes are single characters.

#include "libs/textchars.h"

#include "runtime/encoding.h"

#include <charconv>

// ============================================================================
// UTF-8
// ============================================================================

int DecodeTextChar(const char *p, const char *end, uint32_t *code) { return DecodeUtf8(p, end, code); }

const char *StepBackTextChar(const char *p, const char *start)
{
    if (p <= start) return start;
    // The longest sequence that decodes to end exactly at p, else one byte: the
    // same boundaries a forward walk finds, even over ill-formed bytes.
    for (int k = 6; k >= 2; k--) {
        if (p - start < k) continue;
        uint32_t code;
        if (DecodeUtf8(p - k, p, &code) == k) return p - k;
    }
    return p - 1;
}

int EncodeUtf8Char(char *out, uint32_t code)
{
    if (code > 0x10FFFF) return 0;
    return PutUtf8(out, code);
}

bool IsValidUtf8(const char *text, size_t length, size_t *count) { return ValidateUtf8(text, length, count); }

// ============================================================================
// Classes and case
// ============================================================================

static bool IsDigitAscii(uint32_t c) { return c >= '0' && c <= '9'; }

static bool TestLatin1Class(uint32_t c, int letter)
{
    switch (letter) {
    case 'a': return IsAlphaLatin1(c);
    case 'c': return c < 32 || c == 127;
    case 'd': return IsDigitAscii(c);
    case 'g': return IsGraphLatin1(c);
    case 'l': return IsLowerLatin1(c);
    case 'p': return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
                     (c >= 0x7B && c <= 0x7E);
    case 's': return c == ' ' || (c >= 9 && c <= 13);
    case 'u': return IsUpperLatin1(c);
    case 'w': return IsAlNumLatin1(c);
    case 'x': return IsDigitAscii(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    case 'z': return c == 0;
    default: return false;
    }
}

static bool TestUnicodeClass(uint32_t c, int letter)
{
    switch (letter) {
    case 'a': return IsAlphaUnicode(c);
    case 'c': return IsCntrlUnicode(c);
    case 'd': return IsDigitUnicode(c);
    case 'g': return IsGraphUnicode(c);
    case 'l': return IsLowerUnicode(c);
    case 'p': return IsPunctUnicode(c);
    case 's': return IsSpaceUnicode(c);
    case 'u': return IsUpperUnicode(c);
    case 'w': return IsAlNumUnicode(c);
    case 'x': return IsXDigitUnicode(c);
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
    if (utf8) return IsPrintUnicode(code);
    return code == ' ' || (code < 256 && IsGraphLatin1(code));
}

uint32_t LowerChar(uint32_t code, bool utf8)
{
    if (utf8) return ToLowerUnicode(code);
    return code < 256 ? ToLowerLatin1(code) : code;
}

uint32_t FoldChar(uint32_t code, bool utf8)
{
    if (utf8) return FoldCaseUnicode(code);
    return code < 256 ? ToLowerLatin1(code) : code;
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
