// strings_engine.cpp - text operations of the string library (see strings_engine.h).
// Dependencies: libs/textchars.h (decoding, classes, case, number literals);
// runtime/encoding.h (collation); the C library's formatting, always in the C
// locale through a locale_t made once (no global setlocale).
// Limits: one FormatStr conversion gives at most 511 bytes.

#include "libs/strings_engine.h"

#include "libs/textchars.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <new>

// ============================================================================
// Helpers
// ============================================================================

// Truncated toward zero to a 64-bit integer, saturating; NaN gives 0.
static int64_t TruncateToInt64(double x)
{
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775807.0) return INT64_MAX;
    if (x <= -9223372036854775808.0) return INT64_MIN;
    return int64_t(x);
}

static int32_t TruncateToInt32(double x) { return int32_t(uint32_t(uint64_t(TruncateToInt64(x)))); }

static const char *TextEnd(std::string_view s) { return s.data() + s.size(); }

// Byte offset of character n, clamped to the end.
static size_t UnitToByte(std::string_view s, long long n, bool utf8)
{
    if (n <= 0) return 0;
    return CharToByteOffset(s.data(), s.size(), size_t(n), utf8);
}

// Longer texts than the machine's strings can hold are refused as out of memory
// before anything is allocated.
static const size_t kMaxTextBytes = 0xFFFFFF00u;

// a + b for counts of at least 0, saturating instead of overflowing.
static long long AddCounts(long long a, long long b) { return b > INT64_MAX - a ? INT64_MAX : a + b; }

static long long ByteToUnit(std::string_view s, size_t offset, bool utf8)
{
    return (long long)CountTextChars(s.data(), offset, utf8);
}

static uint32_t CharAt(std::string_view s, size_t offset, bool utf8, int *width)
{
    uint32_t code = 0;
    if (offset >= s.size()) {
        *width = 0;
        return 0;
    }
    if (!utf8) {
        *width = 1;
        return static_cast<unsigned char>(s[offset]);
    }
    *width = DecodeTextChar(s.data() + offset, TextEnd(s), &code);
    return code;
}

static void AppendCode(std::string *out, uint32_t code, bool utf8)
{
    if (!utf8) {
        out->push_back(char(code));
        return;
    }
    char buf[4];
    int n = EncodeUtf8Char(buf, code);
    if (n == 0) out->push_back('?');
    else out->append(buf, size_t(n));
}

// Does sub occur at s[offset] without regard to case? Searches compare folded
// characters, StartsWith and EndsWith lower-case ones. *used gets the bytes of
// s it covers (the case forms of a character may differ in length).
static bool MatchesNoCaseAt(std::string_view s, size_t offset, std::string_view sub, bool utf8, size_t *used,
                            bool fold = true)
{
    size_t i = offset, j = 0;
    while (j < sub.size()) {
        if (i >= s.size()) return false;
        int wa, wb;
        uint32_t a = CharAt(s, i, utf8, &wa), b = CharAt(sub, j, utf8, &wb);
        if (fold ? FoldChar(a, utf8) != FoldChar(b, utf8) : LowerChar(a, utf8) != LowerChar(b, utf8)) return false;
        i += size_t(wa);
        j += size_t(wb);
    }
    *used = i - offset;
    return true;
}

// First occurrence of sub at or after byte offset from; npos when none.
static size_t FindFrom(std::string_view s, std::string_view sub, bool caseSensitive, size_t from, bool utf8,
                       size_t *used)
{
    if (caseSensitive) {
        *used = sub.size();
        return s.find(sub, from);
    }
    for (size_t i = from; i < s.size();) {
        if (MatchesNoCaseAt(s, i, sub, utf8, used)) return i;
        int w;
        CharAt(s, i, utf8, &w);
        i += size_t(w);
    }
    return std::string_view::npos;
}

// ============================================================================
// Settings
// ============================================================================

lvStringSettings *GetStringSettings()
{
    static lvStringSettings settings = {1, 0};
    return &settings;
}

// ============================================================================
// Validation and measures
// ============================================================================

int CheckUtf8Argument(std::string_view s, bool utf8)
{
    if (utf8 && !IsValidUtf8(s.data(), s.size(), nullptr)) return ERR_INVALIDUTF8ARG;
    return 0;
}

long long TextLength(std::string_view s, bool utf8) { return (long long)CountTextChars(s.data(), s.size(), utf8); }

void ValidateText(std::string_view s, bool utf8, int *ok, long long *n)
{
    if (!utf8) {
        *ok = 1;
        *n = -1;
        return;
    }
    size_t count;
    *ok = IsValidUtf8(s.data(), s.size(), &count) ? 1 : 0;
    *n = (long long)count;
}

// ============================================================================
// Pieces
// ============================================================================

int UnrightText(std::string_view s, long long n, bool utf8, std::string *out)
{
    if (n < 0) return ERR_WRONGUSAGE;
    out->assign(s.substr(UnitToByte(s, n, utf8)));
    return 0;
}

int UnleftText(std::string_view s, long long n, bool utf8, std::string *out)
{
    if (n < 0) return ERR_WRONGUSAGE;
    long long keep = TextLength(s, utf8) - n;
    out->assign(s.substr(0, UnitToByte(s, keep, utf8)));
    return 0;
}

void MidText(std::string_view s, long long pos, long long len, bool utf8, std::string *out)
{
    out->clear();
    if (pos < 0) pos = 0; // before the start counts as the start
    long long length = TextLength(s, utf8);
    if (pos >= length || len == 0 || len < -1) return;
    size_t from = UnitToByte(s, pos, utf8);
    size_t to = len == -1 ? s.size() : UnitToByte(s, AddCounts(pos, len), utf8);
    out->assign(s.substr(from, to - from));
}

void RightText(std::string_view s, long long n, bool utf8, std::string *out)
{
    out->clear();
    if (n <= 0) return;
    long long length = TextLength(s, utf8);
    out->assign(s.substr(n >= length ? 0 : UnitToByte(s, length - n, utf8)));
}

void LeftText(std::string_view s, long long n, bool utf8, std::string *out)
{
    out->clear();
    if (n <= 0) return;
    out->assign(s.substr(0, UnitToByte(s, n, utf8)));
}

int UnmidText(std::string_view s, long long pos, long long len, bool utf8, std::string *out)
{
    if (pos < 0 || len < 0) return ERR_WRONGUSAGE;
    size_t from = UnitToByte(s, pos, utf8);
    size_t to = UnitToByte(s, AddCounts(pos, len), utf8);
    out->assign(s.substr(0, from));
    out->append(s.substr(to));
    return 0;
}

int InsertText(std::string_view s, std::string_view ins, long long pos, bool overwrite, bool utf8,
               std::string *out)
{
    if (pos < 0) return ERR_WRONGUSAGE;
    size_t at = UnitToByte(s, pos, utf8);
    size_t resume = at;
    if (overwrite) resume = at + UnitToByte(s.substr(at), TextLength(ins, utf8), utf8);
    out->assign(s.substr(0, at));
    out->append(ins);
    out->append(s.substr(resume));
    return 0;
}

int RepeatText(std::string_view s, long long n, std::string *out)
{
    if (n < 0) return ERR_WRONGUSAGE;
    out->clear();
    if (s.empty() || n == 0) return 0;
    if (uint64_t(n) > kMaxTextBytes / s.size()) return ERR_MEM;
    try {
        out->reserve(s.size() * size_t(n));
    } catch (std::bad_alloc &) {
        return ERR_MEM;
    }
    for (long long i = 0; i < n; i++) out->append(s);
    return 0;
}

void ReverseText(std::string_view s, bool utf8, std::string *out)
{
    out->clear();
    out->reserve(s.size());
    const char *start = s.data(), *p = TextEnd(s);
    while (p > start) {
        const char *q = utf8 ? StepBackTextChar(p, start) : p - 1;
        out->append(q, size_t(p - q));
        p = q;
    }
}

int TrimText(std::string_view s, std::string_view c, bool fromRight, bool utf8, std::string *out)
{
    if (TextLength(c, utf8) != 1) return ERR_WRONGUSAGE;
    int w;
    uint32_t code = CharAt(c, 0, utf8, &w);
    const char *start = s.data(), *end = TextEnd(s);
    if (!fromRight) {
        while (start < end) {
            uint32_t here = CharAt(std::string_view(start, size_t(end - start)), 0, utf8, &w);
            if (here != code) break;
            start += w;
        }
    } else {
        while (end > start) {
            const char *q = utf8 ? StepBackTextChar(end, start) : end - 1;
            if (CharAt(std::string_view(q, size_t(end - q)), 0, utf8, &w) != code) break;
            end = q;
        }
    }
    out->assign(start, size_t(end - start));
    return 0;
}

static bool IsSpaceByte(char c) { return c == ' ' || (c >= 9 && c <= 13); }

std::string_view StripTextSpace(std::string_view s)
{
    size_t a = 0, b = s.size();
    while (a < b && IsSpaceByte(s[a])) a++;
    while (b > a && IsSpaceByte(s[b - 1])) b--;
    return s.substr(a, b - a);
}

bool IsBlankText(std::string_view s) { return StripTextSpace(s).empty(); }

int SplitText(std::string_view s, std::string_view sep, bool merge, std::vector<std::string_view> *pieces)
{
    if (sep.empty()) return ERR_WRONGUSAGE;
    pieces->clear();
    size_t from = 0;
    for (;;) {
        size_t at = s.find(sep, from);
        if (at == std::string_view::npos) break;
        pieces->push_back(s.substr(from, at - from));
        from = at + sep.size();
        if (merge)
            while (s.substr(from, sep.size()) == sep) from += sep.size();
    }
    pieces->push_back(s.substr(from));
    return 0;
}

// ============================================================================
// Searching
// ============================================================================

int FindText(std::string_view s, std::string_view sub, bool caseSensitive, long long start, bool utf8,
             long long *position)
{
    if (start < 0) return ERR_WRONGUSAGE;
    *position = -1;
    if (s.empty() || sub.empty() || start >= TextLength(s, utf8)) return 0;
    size_t used;
    size_t at = FindFrom(s, sub, caseSensitive, UnitToByte(s, start, utf8), utf8, &used);
    if (at != std::string_view::npos) *position = ByteToUnit(s, at, utf8);
    return 0;
}

int ReverseFindText(std::string_view s, std::string_view sub, bool caseSensitive, long long start, bool utf8,
                    long long *position)
{
    long long length = TextLength(s, utf8);
    if (start == REVERSEFIND_DEFAULTSTART) start = length > 0 ? length - 1 : 0;
    if (start < 0 || (!s.empty() && start >= length)) return ERR_WRONGUSAGE;
    *position = -1;
    long long subLength = TextLength(sub, utf8);
    if (s.empty() || sub.empty() || subLength > length) return 0;
    if (start + subLength > length) start = length - subLength;
    size_t at = UnitToByte(s, start, utf8);
    for (;;) {
        size_t used;
        bool hit = caseSensitive ? s.substr(at, sub.size()) == sub : MatchesNoCaseAt(s, at, sub, utf8, &used);
        if (hit) {
            *position = start;
            return 0;
        }
        if (at == 0) return 0;
        at = utf8 ? size_t(StepBackTextChar(s.data() + at, s.data()) - s.data()) : at - 1;
        start--;
    }
}

int CountText(std::string_view s, std::string_view sub, bool caseSensitive, long long start, bool utf8,
              long long *count)
{
    if (start < 0) return ERR_WRONGUSAGE;
    *count = 0;
    if (s.empty() || sub.empty() || start >= TextLength(s, utf8)) return 0;
    size_t from = UnitToByte(s, start, utf8), used;
    for (;;) {
        size_t at = FindFrom(s, sub, caseSensitive, from, utf8, &used);
        if (at == std::string_view::npos) return 0;
        ++*count;
        from = at + used;
    }
}

int ReplaceText(std::string_view s, std::string_view find, std::string_view repl, bool caseSensitive,
                long long start, bool utf8, std::string *out)
{
    if (start < 0) return ERR_WRONGUSAGE;
    out->clear();
    if (find.empty()) {
        out->assign(s);
        return 0;
    }
    size_t from = UnitToByte(s, start, utf8), used;
    out->assign(s.substr(0, from));
    for (;;) {
        size_t at = FindFrom(s, find, caseSensitive, from, utf8, &used);
        if (at == std::string_view::npos) break;
        out->append(s.substr(from, at - from));
        out->append(repl);
        from = at + used;
    }
    out->append(s.substr(from));
    return 0;
}

bool TextStartsWith(std::string_view s, std::string_view prefix, bool caseSensitive, bool utf8)
{
    if (prefix.empty() || TextLength(prefix, utf8) > TextLength(s, utf8)) return false;
    if (caseSensitive) return s.substr(0, prefix.size()) == prefix;
    size_t used;
    return MatchesNoCaseAt(s, 0, prefix, utf8, &used, false);
}

bool TextEndsWith(std::string_view s, std::string_view suffix, bool caseSensitive, bool utf8)
{
    long long n = TextLength(suffix, utf8), length = TextLength(s, utf8);
    if (suffix.empty() || n > length) return false;
    if (caseSensitive) return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
    size_t at = UnitToByte(s, length - n, utf8), used;
    return MatchesNoCaseAt(s, at, suffix, utf8, &used, false) && at + used == s.size();
}

// ============================================================================
// Characters
// ============================================================================

int ChangeTextCase(std::string_view s, bool upper, bool utf8, std::string *out)
{
    size_t length = 0;
    char *copy = ChangeCaseCopy(s.data(), s.size(), utf8 ? LV_ENCODING_UTF8 : LV_ENCODING_LATIN1, upper ? 1 : 0,
                                &length);
    if (!copy) return ERR_MEM;
    out->assign(copy, length);
    FreeMemory(copy);
    return 0;
}

// Byte offset of character pos when 0 <= pos < length, else 1055.
static int CheckedCharOffset(std::string_view s, long long pos, bool utf8, size_t *offset)
{
    if (pos < 0 || pos >= TextLength(s, utf8)) return ERR_WRONGUSAGE;
    *offset = UnitToByte(s, pos, utf8);
    return 0;
}

int TextCharCode(std::string_view s, long long pos, bool utf8, double *code)
{
    if (s.empty()) {
        *code = 0;
        return 0;
    }
    size_t at;
    if (int err = CheckedCharOffset(s, pos, utf8, &at)) return err;
    int w;
    *code = CharAt(s, at, utf8, &w);
    return 0;
}

int CharFromCode(double code, bool utf8, std::string *out)
{
    int64_t c = TruncateToInt64(code);
    if (c < 0 || c > (utf8 ? 0x10FFFF : 255)) return ERR_WRONGUSAGE;
    out->clear();
    if (c != 0) AppendCode(out, uint32_t(c), utf8);
    return 0;
}

void TextToCodes(std::string_view s, bool utf8, std::vector<double> *codes)
{
    codes->clear();
    for (size_t i = 0; i < s.size();) {
        int w;
        codes->push_back(CharAt(s, i, utf8, &w));
        i += size_t(w);
    }
}

int CodesToText(const double *codes, size_t count, bool utf8, std::string *out)
{
    std::string text;
    for (size_t i = 0; i < count; i++) {
        int64_t c = TruncateToInt64(codes[i]);
        if (c == 0) break;
        if (utf8) {
            if (c < 0 || c > 0x10FFFF) return ERR_WRONGUSAGE;
            AppendCode(&text, uint32_t(c), true);
        } else {
            text.push_back(char(c & 0xFF));
        }
    }
    *out = std::move(text);
    return 0;
}

int TestTextClass(std::string_view s, long long pos, lvTextClass cls, bool utf8, int *result)
{
    size_t at;
    if (int err = CheckedCharOffset(s, pos, utf8, &at)) return err;
    int w;
    uint32_t c = CharAt(s, at, utf8, &w);
    static const char letters[] = {'w', 'a', 'c', 'd', 'g', 'l', 0, 'p', 's', 'u', 'x'};
    if (cls == TEXTCLASS_PRINT) *result = IsPrintChar(c, utf8);
    else *result = TestCharClass(c, letters[cls], utf8);
    return 0;
}

int TextByteOffset(std::string_view s, long long pos, bool utf8, long long *offset)
{
    size_t at;
    if (int err = CheckedCharOffset(s, pos, utf8, &at)) return err;
    *offset = (long long)at;
    return 0;
}

int TextCharIndex(std::string_view s, long long offset, bool utf8, long long *index)
{
    if (offset < 0 || offset >= (long long)s.size()) return ERR_WRONGUSAGE;
    if (!utf8) {
        *index = offset;
        return 0;
    }
    // A continuation byte belongs to the character of its lead byte.
    size_t at = size_t(offset);
    while (at > 0 && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) at--;
    long long n = 0;
    for (size_t i = 0; i < at;) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        i++;
        if (b >= 0xC0)
            for (int k = 0; k < 3 && i < at && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; k++) i++;
        n++;
    }
    *index = n;
    return 0;
}

int TextCharBytes(std::string_view s, long long pos, bool utf8, long long *bytes)
{
    size_t at;
    if (int err = CheckedCharOffset(s, pos, utf8, &at)) return err;
    int w;
    CharAt(s, at, utf8, &w);
    *bytes = w;
    return 0;
}

int ConvertTextEncoding(std::string_view s, int from, int to, std::string *out)
{
    s = s.substr(0, s.find('\0'));
    if (from == to) {
        out->assign(s);
        return 0;
    }
    if (!((from == 0 && to == 1) || (from == 1 && to == 0))) return ERR_TEXTCONVERT;
    out->clear();
    for (size_t i = 0; i < s.size();) {
        int w;
        uint32_t c = CharAt(s, i, from == 1, &w);
        if (to == 1) AppendCode(out, c, true);
        else out->push_back(c < 256 ? char(c) : '?');
        i += size_t(w);
    }
    return 0;
}

int CollateText(std::string_view a, std::string_view b, bool caseSensitive)
{
    // The runtime's collation reads terminated texts.
    std::string ta(a), tb(b);
    return CollateStrings(ta.c_str(), tb.c_str(), caseSensitive ? 1 : 0);
}

// ============================================================================
// Numbers
// ============================================================================

void ReadLeadingNumber(std::string_view s, double *value, long long *consumed)
{
    size_t used;
    int error;
    double v = ParseNumberText(s.data(), TextEnd(s), &used, &error);
    *value = error ? 0 : v;
    *consumed = error ? 0 : (long long)used;
}

void FormatStrStr(double n, long long decimals, std::string *out)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::general, 14);
    std::string_view text(buf, size_t(r.ptr - buf));
    size_t point = text.find('.');
    if (point == std::string_view::npos) {
        out->assign(text);
        return;
    }
    size_t e = text.find_first_of("eE");
    std::string_view exponent = e == std::string_view::npos ? std::string_view() : text.substr(e);
    std::string_view fraction = text.substr(point + 1, (e == std::string_view::npos ? text.size() : e) - point - 1);
    out->assign(text.substr(0, point));
    if (decimals != 0) {
        out->push_back('.');
        if (decimals > 0) out->append(fraction.substr(0, size_t(decimals)));
    }
    out->append(exponent);
}

void FormatHexStr(double n, std::string *out)
{
    // Negative numbers show their 64-bit two's complement.
    uint64_t v = uint64_t(TruncateToInt64(n));
    char buf[17];
    auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
    out->assign("$");
    for (char *p = buf; p < r.ptr; p++) out->push_back(*p >= 'a' ? char(*p - 32) : *p);
}

void FormatBinStr(double n, int type, std::string *out)
{
    int bits = type == TEXTTYPE_INTEGER ? 32 : type == TEXTTYPE_SHORT ? 16 : type == TEXTTYPE_BYTE ? 8 : 0;
    uint32_t v = uint32_t(uint64_t(TruncateToInt64(n)));
    out->clear();
    for (int i = bits - 1; i >= 0; i--) out->push_back((v >> i) & 1 ? '1' : '0');
}

int PadNumber(double n, long long length, std::string *out)
{
    int32_t v = TruncateToInt32(n);
    if (v < 0 || length <= 0) return ERR_WRONGUSAGE;
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    size_t digits = size_t(r.ptr - buf);
    size_t zeros = length > (long long)digits ? size_t(length) - digits : 0;
    // The length comes from the script: a text that cannot be had is 1000, not a throw.
    if (zeros > kMaxTextBytes) return ERR_MEM;
    try {
        out->reserve(zeros + digits);
    } catch (std::bad_alloc &) {
        return ERR_MEM;
    }
    out->assign(zeros, '0');
    out->append(buf, digits);
    return 0;
}

int ParseIntegerInBase(std::string_view s, long long base, double *value)
{
    if (base < 2 || base > 36) return ERR_WRONGUSAGE;
    *value = 0;
    size_t i = 0;
    while (i < s.size() && IsSpaceByte(s[i])) i++;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (base == 16 && i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) i += 2;
    uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX), v = 0;
    bool any = false, saturated = false;
    for (; i < s.size(); i++) {
        char c = s[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 99;
        if (d >= base) break;
        any = true;
        if (!saturated && v > (limit - uint64_t(d)) / uint64_t(base)) saturated = true;
        if (!saturated) v = v * uint64_t(base) + uint64_t(d);
    }
    while (i < s.size() && IsSpaceByte(s[i])) i++;
    if (!any || i < s.size()) return 0;
    if (saturated) v = limit;
    *value = negative ? -double(v) : double(v);
    return 0;
}

int FormatNumberText(double n, long long decimals, std::string_view point, std::string_view sep,
                     std::string *out)
{
    if (decimals < 0 || decimals > 17 || point.size() > 4 || sep.size() > 4) return ERR_WRONGUSAGE;
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::fixed, int(decimals));
    std::string_view text(buf, r.ec == std::errc() ? size_t(r.ptr - buf) : 0);
    size_t dot = text.find('.');
    size_t intEnd = dot == std::string_view::npos ? text.size() : dot;
    size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    size_t digits = intEnd - sign;
    size_t group = digits % 3 == 0 ? 3 : digits % 3;
    out->clear();
    out->append(text.substr(0, sign));
    for (size_t i = sign; i < intEnd; i++) {
        out->push_back(text[i]);
        size_t done = i - sign + 1;
        bool groupEnds = done >= group && (done - group) % 3 == 0;
        if (groupEnds && i + 1 < intEnd && text[i + 1] >= '0' && text[i + 1] <= '9') out->append(sep);
    }
    if (dot != std::string_view::npos) {
        out->append(point);
        out->append(text.substr(dot + 1));
    }
    return 0;
}

static int TypedSize(int type)
{
    switch (type) {
    case TEXTTYPE_INTEGER: return 4;
    case TEXTTYPE_SHORT: return 2;
    case TEXTTYPE_BYTE: return 1;
    case TEXTTYPE_FLOAT: return 4;
    case TEXTTYPE_DOUBLE: return 8;
    default: return 0;
    }
}

int ReadTypedBytes(std::string_view s, int type, bool little, double *value)
{
    int size = TypedSize(type);
    if (!size) return ERR_WRONGUSAGE;
    if (s.size() < size_t(size)) return ERR_MEMRANGE;
    uint64_t bits = 0;
    for (int i = 0; i < size; i++) {
        int k = little ? size - 1 - i : i;
        bits = (bits << 8) | static_cast<unsigned char>(s[size_t(k)]);
    }
    if (type == TEXTTYPE_FLOAT) {
        uint32_t b32 = uint32_t(bits);
        float f;
        std::memcpy(&f, &b32, 4);
        *value = f;
    } else if (type == TEXTTYPE_DOUBLE) {
        double d;
        std::memcpy(&d, &bits, 8);
        *value = d;
    } else {
        *value = double(bits);
    }
    return 0;
}

int WriteTypedBytes(double n, int type, bool little, std::string *out)
{
    int size = TypedSize(type);
    if (!size) return ERR_WRONGUSAGE;
    uint64_t bits;
    if (type == TEXTTYPE_FLOAT) {
        float f = float(n);
        uint32_t b32;
        std::memcpy(&b32, &f, 4);
        bits = b32;
    } else if (type == TEXTTYPE_DOUBLE) {
        std::memcpy(&bits, &n, 8);
    } else {
        bits = uint64_t(TruncateToInt64(n));
    }
    out->assign(size_t(size), '\0');
    for (int i = 0; i < size; i++) {
        int k = little ? i : size - 1 - i;
        (*out)[size_t(k)] = char((bits >> (8 * i)) & 0xFF);
    }
    return 0;
}

// ============================================================================
// FormatStr
// ============================================================================

enum { FORMAT_MAXSPEC = 32, FORMAT_MAXPIECE = 511 };

// The C locale for number formatting, made once.
static locale_t FormattingLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

// Formats one number conversion built from checked parts only (flags, width,
// precision, conversion letter), never from user text as such.
template <typename T>
static void AppendFormatted(std::string *out, const std::string &conv_text, T value)
{
    char buf[FORMAT_MAXPIECE + 1];
    locale_t old = uselocale(FormattingLocale());
    int n = std::snprintf(buf, sizeof buf, conv_text.c_str(), value);
    uselocale(old);
    if (n < 0) return;
    out->append(buf, size_t(n) < sizeof buf ? size_t(n) : size_t(FORMAT_MAXPIECE));
}

// "%s" by hand, so that zero bytes inside the string survive.
static void AppendFormattedString(std::string *out, std::string_view text, bool left, long long width,
                                  long long precision)
{
    if (precision >= 0 && (long long)text.size() > precision) text = text.substr(0, size_t(precision));
    std::string piece;
    size_t pad = width > (long long)text.size() ? size_t(width) - text.size() : 0;
    if (!left) piece.append(pad, ' ');
    piece.append(text);
    if (left) piece.append(pad, ' ');
    out->append(piece.substr(0, FORMAT_MAXPIECE));
}

static void AppendQuoted(std::string *out, std::string_view text)
{
    out->push_back('"');
    for (char c : text) {
        if (c == '"' || c == '\\' || c == '\n') {
            out->push_back('\\');
            out->push_back(c);
        } else if (c == '\0') {
            out->append("\\000");
        } else {
            out->push_back(c);
        }
    }
    out->push_back('"');
}

int FormatText(std::string_view fmt, const lvFormatArgs *args, std::string *result)
{
    std::string text;
    std::string *out = &text;
    int argIndex = 2;
    for (size_t i = 0; i < fmt.size();) {
        char c = fmt[i];
        if (c != '%') {
            out->push_back(c);
            i++;
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            out->push_back('%');
            i += 2;
            continue;
        }
        size_t begin = i++;
        std::string flags;
        while (i < fmt.size() && std::strchr("-+ #0", fmt[i]) && fmt[i]) flags.push_back(fmt[i++]);
        long long width = -1, precision = -1;
        auto readDigits = [&](long long *v) {
            if (i >= fmt.size() || fmt[i] < '0' || fmt[i] > '9') return;
            *v = 0;
            for (; i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9'; i++)
                *v = *v > FORMAT_MAXPIECE ? *v : *v * 10 + (fmt[i] - '0');
        };
        readDigits(&width);
        if (i < fmt.size() && fmt[i] == '.') {
            i++;
            precision = 0;
            readDigits(&precision);
        }
        if (i >= fmt.size() || i - begin + 1 > FORMAT_MAXSPEC) return ERR_WRONGUSAGE;
        char conv = fmt[i++];
        if (!std::strchr("eEfgGdicouxXsq", conv)) return ERR_WRONGUSAGE;
        // Width and precision beyond one piece's bound change nothing visible.
        if (width > FORMAT_MAXPIECE) width = FORMAT_MAXPIECE;
        if (precision > FORMAT_MAXPIECE) precision = FORMAT_MAXPIECE;
        std::string conv_text = "%" + flags;
        if (width >= 0) conv_text += std::to_string(width);
        if (precision >= 0) conv_text += "." + std::to_string(precision);
        int code;
        if (conv == 's' || conv == 'q') {
            std::string arg;
            if ((code = args->getString(args->user, argIndex++, &arg))) return code;
            if (conv == 'q') AppendQuoted(out, arg);
            else if (precision >= 0 || arg.size() < 100)
                AppendFormattedString(out, arg, flags.find('-') != std::string::npos, width, precision);
            else out->append(arg);
            continue;
        }
        double v;
        if ((code = args->getNumber(args->user, argIndex++, &v))) return code;
        conv_text.push_back(conv);
        if (std::strchr("eEfgG", conv)) AppendFormatted(out, conv_text, v);
        else if (conv == 'c') AppendFormatted(out, conv_text, int(static_cast<unsigned char>(TruncateToInt32(v))));
        else if (conv == 'd' || conv == 'i') AppendFormatted(out, conv_text, int(TruncateToInt32(v)));
        else AppendFormatted(out, conv_text, unsigned(uint32_t(uint64_t(TruncateToInt64(v)))));
    }
    *result = std::move(text);
    return 0;
}
