// bullets.cpp - the texts of list bullets: symbols by font kind and encoding,
// and numbers in decimal, letters and roman numerals with their decoration.
#include <cstdio>
#include <cstring>

#include "runtime/encoding.h"
#include "text/lvtextlayout.h"

namespace {

// Appends text to out while room is left; the text is cut at the end of out.
struct BoundedText {
    char *out;
    size_t size, used;
    void Add(const char *text, size_t length)
    {
        for (size_t i = 0; i < length && used + 1 < size; i++) out[used++] = text[i];
        out[used] = 0;
    }
    void Add(const char *text) { Add(text, std::strlen(text)); }
    void AddRepeated(char c, long count)
    {
        for (long i = 0; i < count && used + 1 < size; i++) out[used++] = c;
        out[used] = 0;
    }
};

struct SymbolBullet {
    int type;
    uint32_t vector;      // system, TrueType and plug-in fonts (UTF-8)
    uint32_t bitmap;      // Amiga and image fonts (UTF-8)
    uint8_t latin1;       // ISO-8859-1
};
const SymbolBullet Symbols[] = {
    {BULLET_DASH, 0x2D, 0x2D, 0x2D},     {BULLET_CROSS, 0xD7, 0xD7, 0xD7},
    {BULLET_CIRCLE, 0x2022, '*', '*'},   {BULLET_BOX, 0x25AA, 0xB7, 0xB7},
    {BULLET_CHECKMARK, 0x2713, '-', '-'}, {BULLET_ARROW, 0x2023, 0xBB, 0xBB},
    {BULLET_DIAMOND, 0x25C6, '-', '-'},  {BULLET_HOLLOWCIRCLE, 0x25E6, '-', '-'},
};

void AddRoman(BoundedText &t, long n, bool upper)
{
    static const int values[] = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};
    static const char *const lower[] = {"m", "cm", "d", "cd", "c", "xc", "l", "xl", "x", "ix", "v", "iv", "i"};
    static const char *const capital[] = {"M", "CM", "D", "CD", "C", "XC", "L", "XL", "X", "IX", "V", "IV", "I"};
    for (int k = 0; k < 13 && n > 0 && t.used + 1 < t.size; k++) {
        while (n >= values[k] && t.used + 1 < t.size) {
            t.Add(upper ? capital[k] : lower[k]);
            n -= values[k];
        }
    }
}

}  // namespace

void FormatBulletText(int counter, int type, char *out, size_t size, int encoding, int fontType)
{
    if (!out || size == 0) return;
    BoundedText t{out, size, 0};
    out[0] = 0;
    if (type <= BULLET_NONE) return;
    if (type > BULLET_HOLLOWCIRCLE || type < BULLET_NUMERIC || type > BULLET_UROMANDOUBLE) {
        uint32_t code = (uint32_t)type;
        bool bitmapFont = fontType == LV_FONT_AMIGA || fontType == LV_FONT_AMIGACOLOR || fontType == LV_FONT_IMAGE;
        if (type <= BULLET_HOLLOWCIRCLE) {
            for (const SymbolBullet &s : Symbols)
                if (s.type == type) code = encoding == 0 ? s.latin1 : bitmapFont ? s.bitmap : s.vector;
        }
        char bytes[8];
        if (encoding == 0) {
            bytes[0] = (char)(code <= 0xFF ? code : '?');
            t.Add(bytes, 1);
        } else {
            t.Add(bytes, (size_t)PutUtf8(bytes, code));
        }
        t.Add(" ");
        return;
    }
    int family = (type - BULLET_NUMERIC) / 3, decoration = (type - BULLET_NUMERIC) % 3;
    long n = (long)counter + 1;
    if (decoration == 2) t.Add("(");
    switch (family) {
    case 0: {
        char digits[24];
        std::snprintf(digits, sizeof digits, "%ld", n);
        t.Add(digits);
        break;
    }
    case 1:
    case 2: {
        // Counters past z repeat the letter: 26 is "aa". The repetition is cut
        // at the end of the text, however large the counter.
        long c = counter < 0 ? 0 : counter;
        t.AddRepeated((char)((family == 1 ? 'a' : 'A') + c % 26), c / 26 + 1);
        break;
    }
    default:
        AddRoman(t, n, family == 4);
        break;
    }
    t.Add(decoration == 0 ? ". " : ") ");
}
