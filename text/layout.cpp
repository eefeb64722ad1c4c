// layout.cpp - the run builder: text and inline format tags become styled runs
// placed on lines, with word wrapping (recorded or replayed through the wrap
// table), tab stops (recorded or replayed through the tab table), soft hyphens,
// zero-width spaces and list items with their bullets.
#include <algorithm>
#include <cctype>
#include <string>
#include <cstring>
#include <new>

#include "base/lverrors.h"
#include "runtime/config.h"
#include "runtime/encoding.h"
#include "text/lvtextlayout.h"

void InitTextOptions(lvTextOptions *o, int encoding)
{
    *o = lvTextOptions{};
    o->encoding = encoding;
    o->align = TEXTALIGN_LEFT;
    o->frameCount = 1;
    o->frameMode = FRAMEMODE_FULL;
    o->style.style = FORM_NORMAL;
    for (int i = 0; i < LV_TEXT_LEVELS; i++) {
        o->listBullet[i] = BULLET_DASH;
        o->listIndent[i] = 4;
    }
}

lvTextLayout::lvTextLayout() : runs(nullptr), bullets(nullptr), buffer(nullptr), fontHeight(0), baseline(0),
    lineHeight(0), spaceWidth(0), finalX(0), finalY(0) {}
lvTextLayout::~lvTextLayout() { Clear(); }

void lvTextLayout::Clear()
{
    while (lvTextRun *r = runs) {
        runs = r->next;
        delete[] r->hyphenText;
        delete r;
    }
    while (lvBulletText *b = bullets) {
        bullets = b->next;
        delete b;
    }
    delete[] buffer;
    buffer = nullptr;
}

namespace {

bool IsZeroWidthSpace(const char *t, size_t i, size_t n)
{
    return i + 2 < n && (uint8_t)t[i] == 0xE2 && (uint8_t)t[i + 1] == 0x80 && (uint8_t)t[i + 2] == 0x8B;
}
bool IsSoftHyphen(const char *t, size_t i, size_t n)
{
    return i + 1 < n && (uint8_t)t[i] == 0xC2 && (uint8_t)t[i + 1] == 0xAD;
}

struct ParseError {
    int code;
};

// The state of one ParseFormatTags call.
struct Parser {
    lvFontManager *fm;
    lvFont *font;
    lvTextOptions *o;
    lvTextLayout *lay;
    const char *t;
    size_t n;
    bool utf8, tags, tabsBlank, justified;
    int lineHeight;

    lvTextRun *head = nullptr, **tail = &head;
    lvTextRun *lastRun = nullptr;
    char *out = nullptr;
    size_t outPos = 0;
    size_t pendStart = 0;       // start of the pending run in out
    int pendX = 0, y = 0;
    bool pendWordStart = false; // the pending run begins a word
    lvFontStyle style{};
    std::vector<uint32_t> colourStack{};
    size_t colourStackLimit = 0;

    // Words.
    bool inWord = false;
    size_t wordOut = 0;         // where the word begins in out
    lvTextRun *wordBefore = nullptr; // last run closed before the word
    int wordIndex = 0;
    size_t wrapNext = 0;        // next entry of a given wrap table
    bool afterHyphen = false;   // the word continues a soft-hyphen piece
    int lineStartX = 0;
    int tabIndex = 0;

    // Lists.
    bool atLineStart = true;
    int level = 0, previousLevel = 0, openDepth = -1;
    int levelStyle[LV_TEXT_LEVELS] = {};
    int counter[LV_TEXT_LEVELS] = {};
    int numberWidth[LV_TEXT_LEVELS] = {};
    int nextStyleIndex = 0;
    int itemIndex = 0;
    bool itemStarted = false;   // bullet and indent of the current item are done
    bool spacingDue = false;
    size_t lineBegin = 0;       // input offset of the current line
    lvTextRun *lastBullet = nullptr;

    lvTextRun *NewRun()
    {
        lvTextRun *r = new (std::nothrow) lvTextRun{};
        if (!r) throw ParseError{ERR_MEM};
        return r;
    }
    void Append(lvTextRun *r)
    {
        *tail = r;
        tail = &r->next;
        lastRun = r;
    }
    void Measure(lvTextRun *r)
    {
        if (int err = MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &r->style, &r->metrics, r->text,
                                          (size_t)r->length))
            throw ParseError{err};
    }
    int Advance(const char *text, size_t length, const lvFontStyle &s)
    {
        lvTextMetrics m;
        if (int err = MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &s, &m, text, length))
            throw ParseError{err};
        return m.advance;
    }

    // Closes the pending text as a run; x moves past it.
    lvTextRun *ClosePending(bool softHyphen = false)
    {
        if (pendStart == outPos) return nullptr;
        lvTextRun *r = NewRun();
        r->text = out + pendStart;
        r->length = (int)(outPos - pendStart);
        r->x = pendX;
        r->y = y;
        r->style = style;
        r->wordStart = pendWordStart;
        r->listItem = itemIndex;
        r->softHyphen = softHyphen;
        Measure(r);
        Append(r);
        pendX += r->metrics.advance;
        pendStart = outPos;
        pendWordStart = false;
        return r;
    }
    void NewLine()
    {
        y += lineHeight;
        pendX = 0;
        lineStartX = 0;
    }
    void Put(char c)
    {
        if (pendStart == outPos && inWord && outPos == wordOut) pendWordStart = !afterHyphen;
        out[outPos++] = c;
    }

    // ---- Words ---------------------------------------------------------------------

    void StartWord()
    {
        if (o->listMode) StartItem();
        inWord = true;
        wordOut = outPos;
        wordBefore = lastRun;
    }

    // The line extent of the pending text (with "-" at a soft hyphen).
    // The advance of the pending text before the current word, kept across
    // the words of a run so that each word is measured once.
    size_t measuredStart = (size_t)-1, measuredEnd = 0;
    int measuredAdvance = 0;

    size_t CharStart(size_t end) const
    {
        size_t p = end - 1;
        if (utf8)
            while (p > 0 && ((uint8_t)out[p] & 0xC0) == 0x80) p--;
        return p;
    }
    size_t CharEnd(size_t start) const
    {
        if (!utf8) return start + 1;
        uint8_t lead = (uint8_t)out[start];
        size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        return std::min(start + n, outPos);
    }
    // Kerning between the characters either side of at (start < at < outPos).
    int KerningAt(size_t at) const
    {
        size_t a = CharStart(at), b = CharEnd(at);
        int flags = style.style & FORM_NORMAL ? 0 : style.style;
        return GetFontKerning(fm, font, out + a, b - a, flags & (FORM_BOLD | FORM_ITALIC | FORM_ANTIALIAS),
                              o->encoding);
    }

    int PendingExtent(bool hyphen)
    {
        if (pendStart == outPos && !hyphen) {
            if (!lastRun || lastRun->y != y) return 0;
            return lastRun->x + lastRun->metrics.totalWidth + lastRun->metrics.rightExtension;
        }
        size_t prefixEnd = std::min(std::max(wordOut, pendStart), outPos);
        if (measuredStart != pendStart) {
            measuredStart = measuredEnd = pendStart;
            measuredAdvance = 0;
        }
        if (measuredEnd > prefixEnd) {
            measuredEnd = pendStart;
            measuredAdvance = 0;
        }
        if (prefixEnd > measuredEnd) {
            if (measuredEnd > pendStart) measuredAdvance += KerningAt(measuredEnd);
            measuredAdvance += Advance(out + measuredEnd, prefixEnd - measuredEnd, style);
            measuredEnd = prefixEnd;
        }
        std::string word(out + prefixEnd, outPos - prefixEnd);
        if (hyphen) word += '-';
        lvTextMetrics m;
        if (int err = MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &style, &m, word.data(),
                                          word.size()))
            throw ParseError{err};
        if (prefixEnd == pendStart) return pendX + m.totalWidth + m.rightExtension;
        int before = measuredAdvance + (prefixEnd < outPos ? KerningAt(prefixEnd) : 0);
        return pendX + std::max(before + m.advance, before + m.maxX + 1) + m.rightExtension;
    }

    void EndWord(bool softHyphen)
    {
        if (!inWord) return;
        inWord = false;
        bool empty = outPos == wordOut && (wordBefore == lastRun);
        int index = wordIndex++;
        bool breakHere = false;
        if (!empty) {
            if (o->wrapTableGiven) {
                breakHere = wrapNext < o->wrapTable.size() && o->wrapTable[wrapNext] == index;
                if (breakHere) wrapNext++;
            } else if (o->wrapWidth > 0 && PendingExtent(softHyphen) > o->wrapWidth) {
                breakHere = true;
            }
        }
        if (breakHere) {
            bool moved = BreakBeforeWord();
            if (moved && !o->wrapTableGiven) o->wrapTable.push_back(index);
        }
        if (softHyphen) {
            ClosePending(true);
            afterHyphen = true;
        } else {
            afterHyphen = false;
        }
    }

    // Moves the word just ended to the next line; false when it already
    // begins the line (it overflows).
    bool BreakBeforeWord()
    {
        lvTextRun *first = wordBefore ? wordBefore->next : head;
        // Runs closed by a tag at the word's start hold only text before it.
        while (first && first->text >= out && first->text + first->length <= out + wordOut) first = first->next;
        // x and y where the word begins.
        int wordX;
        if (first) {
            size_t before = (size_t)(out + wordOut > first->text && out + wordOut < first->text + first->length
                                         ? out + wordOut - first->text : 0);
            wordX = first->x + (before ? Advance(first->text, before, first->style) : 0);
            if (first->y == y && wordX <= lineStartX) return false;
            if (before) {
                // The run holds earlier text of the line: split it at the word.
                lvTextRun *second = NewRun();
                *second = *first;
                second->hyphenText = nullptr;
                second->text = first->text + before;
                second->length = first->length - (int)before;
                second->x = wordX;
                second->wordStart = !afterHyphen;
                first->length = (int)before;
                first->next = second;
                first->softHyphen = 0;
                Measure(first);
                Measure(second);
                if (lastRun == first) {
                    lastRun = second;
                    tail = &second->next;
                }
                first = second;
            }
        } else {
            size_t before = wordOut - pendStart;
            wordX = pendX + (before ? Advance(out + pendStart, before, style) : 0);
            if (wordX <= lineStartX) return false;
            if (before) {
                size_t end = outPos;
                outPos = wordOut;
                ClosePending();
                outPos = end;
                pendX = wordX;
                pendWordStart = !afterHyphen;
            }
        }
        int dx = lineStartX - wordX;
        for (lvTextRun *r = first; r; r = r->next) {
            r->x += dx;
            r->y += lineHeight;
        }
        pendX += dx;
        y += lineHeight;
        return true;
    }

    // ---- Tabs ----------------------------------------------------------------------

    void Tab()
    {
        ClosePending();
        int choice = -1;
        if (o->tabTableGiven) {
            choice = (size_t)tabIndex < o->tabTable.size() ? o->tabTable[tabIndex] : -2;
        }
        if (choice == -2 || !o->tabTableGiven) {
            choice = -1;
            for (int k = 0; k < o->tabCount; k++) {
                int s = o->tabs[k];
                if (pendX + o->leftMargin < s) {
                    // The stops are absolute, the wrap width counts from the left margin.
                    if (o->wrapWidth == 0 || s - o->leftMargin < o->wrapWidth) choice = k;
                    break;
                }
            }
            if (!o->tabTableGiven) o->tabTable.push_back(choice);
        }
        tabIndex++;
        if (choice >= 0 && choice < o->tabCount) {
            pendX = o->tabs[choice] - o->leftMargin;
        } else {
            NewLine();
        }
    }

    // ---- Lists ---------------------------------------------------------------------

    int StyleOf(int l) const { return std::min(levelStyle[l], LV_TEXT_LEVELS - 1); }

    lvFontStyle BulletStyle() const
    {
        lvFontStyle s = style;
        s.colour = style.secondColour;
        s.drawPen = style.bulletPen;
        s.style &= ~(FORM_BOLD | FORM_ITALIC | FORM_UNDERLINED);
        if (!(s.style & ~FORM_NORMAL)) s.style = FORM_NORMAL;
        else s.style &= ~FORM_NORMAL;
        return s;
    }

    const char *BulletText(int type, int number)
    {
        for (lvBulletText *b = lay->bullets; b; b = b->next)
            if (b->type == type && b->number == number) return b->text;
        lvBulletText *b = new (std::nothrow) lvBulletText{};
        if (!b) throw ParseError{ERR_MEM};
        b->type = type;
        b->number = number;
        FormatBulletText(number, type, b->text, sizeof b->text, o->encoding, font ? font->type : LV_FONT_AMIGA);
        b->next = lay->bullets;
        lay->bullets = b;
        return b->text;
    }

    static bool Numbered(int type) { return type >= BULLET_NUMERIC && type <= BULLET_UROMANDOUBLE; }

    // The widest number the items of this level will show.
    int WidestNumber(int l, int type)
    {
        lvFontStyle bs = BulletStyle();
        int widest = 0, k = 0;
        size_t i = lineBegin;
        while (i < n) {
            int tabs = 0;
            while (i < n && t[i] == '\t') tabs++, i++;
            if (tabs < l) break;
            if (tabs == l) {
                const char *text = BulletText(type, counter[l] + k++);
                widest = std::max(widest, Advance(text, std::strlen(text), bs));
            }
            while (i < n && t[i] != '\n') i++;
            if (i < n) i++;
        }
        return widest;
    }

    // The level, indent, spacing and bullet of an item, once, before its
    // first word (or at the line feed or the end of an empty item).
    void StartItem()
    {
        if (itemStarted) return;
        itemStarted = true;
        atLineStart = false;
        if (level > openDepth) {
            for (int l = openDepth + 1; l <= level; l++) {
                levelStyle[l] = o->simpleList ? l : nextStyleIndex++;
                counter[l] = o->listOffset[StyleOf(l)];
                numberWidth[l] = 0;
            }
        } else if (level < openDepth) {
            for (int l = level + 1; l <= openDepth; l++) counter[l] = 0, numberWidth[l] = 0;
        }
        openDepth = level;
        if (spacingDue) {
            y += o->listSpacing[StyleOf(std::min(level, previousLevel))];
            spacingDue = false;
        }
        int x = 0;
        for (int l = 0; l <= level; l++) x += o->listIndent[StyleOf(l)] * lay->spaceWidth;
        pendX = x;
        int type = o->listBullet[StyleOf(level)];
        if (type != BULLET_NONE) {
            bool numbered = Numbered(type);
            if (numbered && numberWidth[level] == 0) numberWidth[level] = std::max(1, WidestNumber(level, type));
            lvTextRun *r = NewRun();
            r->text = BulletText(type, numbered ? counter[level] : 0);
            r->length = (int)std::strlen(r->text);
            r->x = pendX;
            r->y = y;
            r->style = BulletStyle();
            r->bulletType = type;
            r->listItem = itemIndex;
            Measure(r);
            Append(r);
            lastBullet = r;
            if (numbered) {
                counter[level]++;
                pendX += numberWidth[level];
            } else {
                pendX += r->metrics.advance;
            }
        }
        lineStartX = pendX;
        pendStart = outPos;
    }

    // ---- Tags ----------------------------------------------------------------------

    static bool Blank(char c) { return c == ' ' || c == '\t'; }

    int TagValue(size_t &i)
    {
        if (i < n && t[i] == '"') throw ParseError{ERR_VALUEEXPECTED};
        if (i < n && t[i] == '#') {
            size_t s = ++i;
            while (i < n && (std::isalnum((unsigned char)t[i]) || t[i] == '_')) i++;
            int value = 0;
            if (!o->lookup) throw ParseError{ERR_VALUEEXPECTED};
            if (int err = o->lookup(o->lookupContext, t + s, i - s, &value)) throw ParseError{err};
            return value;
        }
        char literal[64];
        size_t k = 0;
        while (i + k < n && k + 1 < sizeof literal && t[i + k] != ',' && t[i + k] != ']' && !Blank(t[i + k])) {
            literal[k] = t[i + k];
            k++;
        }
        literal[k] = 0;
        int consumed = 0, error = 0;
        double v = ParseNumberLiteral(literal, &consumed, &error);
        if (error || consumed == 0) throw ParseError{ERR_TEXTARG};
        i += (size_t)consumed;
        if (!(v > -9.2e18 && v < 9.2e18)) return 0;
        return (int)(uint32_t)(int64_t)v;
    }

    // Comma-separated values after "="; an empty one keeps the current value.
    void TagArguments(size_t &i, int *values, bool *given, int max)
    {
        int index = 0;
        for (;;) {
            while (i < n && Blank(t[i])) i++;
            if (i >= n || t[i] == ']') return;
            if (index >= max) throw ParseError{ERR_TEXTARG};
            if (t[i] != ',') {
                values[index] = TagValue(i);
                given[index] = true;
                while (i < n && Blank(t[i])) i++;
            }
            index++;
            if (i < n && t[i] == ',') {
                i++;
                continue;
            }
            return;
        }
    }

    void Tag(size_t &i)
    {
        size_t p = i + 1;
        while (p < n && Blank(t[p])) p++;
        bool closing = false;
        if (p < n && t[p] == '/') {
            closing = true;
            p++;
            while (p < n && Blank(t[p])) p++;
        }
        auto lower = [&](size_t k) { return k < n ? (char)std::tolower((unsigned char)t[k]) : 0; };
        auto prefix = [&](const char *name) {
            size_t len = std::strlen(name);
            for (size_t k = 0; k < len; k++)
                if (lower(p + k) != name[k]) return false;
            return true;
        };
        lvFontStyle before = style;
        char c0 = lower(p);
        int flag = 0;
        enum { NONE, COLOR, BULLETCOLOR, BULLETPEN, PEN, SHADOW, EDGE } kind = NONE;
        bool single = (c0 == 'b' || c0 == 'i' || c0 == 'u') && !(c0 == 'b' && (lower(p + 1) == 'u' ||
                                                                                lower(p + 1) == 'o'));
        if (single) {
            char next = p + 1 < n ? t[p + 1] : ']';
            if (!(Blank(next) || next == ']')) throw ParseError{ERR_UNKTEXTFMT};
            flag = c0 == 'b' ? FORM_BOLD : c0 == 'i' ? FORM_ITALIC : FORM_UNDERLINED;
            p++;
        } else {
            static const struct { const char *name; int kind; } names[] = {
                {"color", COLOR}, {"bulletcolor", BULLETCOLOR}, {"bulletpen", BULLETPEN}, {"pen", PEN},
                {"shadow", SHADOW}, {"edge", EDGE}, {"border", EDGE}};
            for (const auto &e : names) {
                if (prefix(e.name)) {
                    kind = (decltype(kind))e.kind;
                    p += std::strlen(e.name);
                    break;
                }
            }
            if (kind == NONE) throw ParseError{ERR_UNKTEXTFMT};
        }
        while (p < n && Blank(t[p])) p++;
        bool hasArgs = false;
        int values[3] = {};
        bool given[3] = {};
        if (!closing && p < n && t[p] == '=') {
            p++;
            hasArgs = true;
            if (kind == NONE) throw ParseError{ERR_UNKTEXTFMT};
            int max = kind == SHADOW ? 3 : kind == EDGE ? 2 : 1;
            TagArguments(p, values, given, max);
            while (p < n && Blank(t[p])) p++;
        }
        if (p >= n) throw ParseError{ERR_SQBRACKETCLOSE};
        if (t[p] != ']') throw ParseError{kind == NONE ? ERR_UNKTEXTFMT : ERR_TEXTSYNTAX};
        i = p + 1;

        bool pens = o->paletteMode != 0;
        if (kind != NONE) o->tagsUsed = 1;
        switch (kind) {
        case NONE:
            if (closing) style.style &= ~flag;
            else style.style |= flag;
            break;
        case COLOR:
        case PEN: {
            if (kind == COLOR && pens) throw ParseError{ERR_NOPALETTEMODE};
            if (kind == PEN && !pens) throw ParseError{ERR_PALETTEMODE};
            if (closing) {
                if (colourStack.empty()) throw ParseError{ERR_TEXTSYNTAX};
                uint32_t v = colourStack.back();
                colourStack.pop_back();
                if (pens) style.drawPen = (int)v;
                else style.colour = v;
            } else {
                if (!hasArgs || !given[0]) throw ParseError{ERR_TEXTARG};
                if (colourStack.size() >= colourStackLimit) throw ParseError{ERR_INTERNAL};
                colourStack.push_back(pens ? (uint32_t)style.drawPen : style.colour);
                if (pens) style.drawPen = values[0];
                else style.colour = (uint32_t)values[0];
            }
            break;
        }
        case BULLETCOLOR:
        case BULLETPEN:
            if (kind == BULLETCOLOR && pens) throw ParseError{ERR_NOPALETTEMODE};
            if (kind == BULLETPEN && !pens) throw ParseError{ERR_PALETTEMODE};
            if (closing) throw ParseError{ERR_TEXTSYNTAX};
            if (!hasArgs || !given[0]) throw ParseError{ERR_TEXTARG};
            if (pens) style.bulletPen = values[0];
            else style.secondColour = (uint32_t)values[0];
            if (lastBullet) {
                lastBullet->style.colour = style.secondColour;
                lastBullet->style.drawPen = style.bulletPen;
            }
            break;
        case SHADOW:
            if (closing) {
                style.style &= ~FORM_SHADOW;
                break;
            }
            style.style |= FORM_SHADOW;
            if (hasArgs) {
                if (given[0]) {
                    if (pens) style.shadowPen = values[0];
                    else style.shadowColour = (uint32_t)values[0];
                }
                if (given[1]) {
                    if (values[1] < 1 || values[1] > 64) throw ParseError{ERR_WRONGUSAGE};
                    style.shadowSize = values[1];
                }
                if (given[2]) style.shadowDirection = (uint8_t)values[2];
            }
            break;
        case EDGE:
            if (closing) {
                style.style &= ~FORM_BORDER;
                break;
            }
            style.style |= FORM_BORDER;
            if (hasArgs) {
                if (given[0]) {
                    if (pens) style.borderPen = values[0];
                    else style.borderColour = (uint32_t)values[0];
                }
                if (given[1]) {
                    if (values[1] < 1 || values[1] > 8) throw ParseError{ERR_WRONGUSAGE};
                    style.borderSize = values[1];
                }
            }
            break;
        }
        if (style.style & ~FORM_NORMAL) style.style &= ~FORM_NORMAL;
        else style.style = FORM_NORMAL;
        if (std::memcmp(&before, &style, sizeof style) != 0) {
            lvFontStyle now = style;
            style = before;
            // Text of the word before the tag: the run closes, the word goes on.
            bool wordRun = pendStart == wordOut && inWord;
            ClosePending();
            style = now;
            if (inWord && !wordRun) pendWordStart = false;
        }
    }

    // ---- The loop ------------------------------------------------------------------

    void Run()
    {
        style = o->style;
        for (size_t i = 0; i < n;) {
            char c = t[i];
            if (o->listMode && atLineStart && c == '\t') {
                level++;
                if (level >= LV_TEXT_LEVELS) throw ParseError{ERR_INTERNAL};
                i++;
                continue;
            }
            if (utf8 && IsZeroWidthSpace(t, i, n)) {
                EndWord(false);
                i += 3;
                continue;
            }
            if (utf8 && IsSoftHyphen(t, i, n)) {
                if (inWord) EndWord(true);
                while (IsSoftHyphen(t, i, n)) i += 2;
                continue;
            }
            if (c == '\r') {
                EndWord(false);
                i++;
                continue;
            }
            if (c == '\t' && !tabsBlank) {
                EndWord(false);
                Tab();
                afterHyphen = false;
                i++;
                continue;
            }
            if (c == '\n') {
                EndWord(false);
                if (o->listMode) StartItem();
                lvTextRun *r = ClosePending();
                if (!r && lastRun && lastRun->y == y) r = lastRun;
                if (r) r->lineBreakAfter = 1;
                NewLine();
                afterHyphen = false;
                if (o->listMode) {
                    previousLevel = level;
                    level = 0;
                    itemIndex++;
                    itemStarted = false;
                    atLineStart = true;
                    spacingDue = true;
                }
                lineBegin = i + 1;
                i++;
                continue;
            }
            if (c == ' ' || c == '\t') {
                EndWord(false);
                afterHyphen = false;
                if (o->listMode) StartItem();
                if (justified) {
                    ClosePending();
                    pendX += lay->spaceWidth;
                } else {
                    out[outPos++] = ' ';
                }
                i++;
                continue;
            }
            if (!inWord) StartWord();
            if (tags && c == '[') {
                if (i + 1 < n && t[i + 1] == '[') {
                    Put('[');
                    i += 2;
                } else {
                    Tag(i);
                }
                continue;
            }
            if (tags && c == ']') {
                if (i + 1 < n && t[i + 1] == ']') {
                    Put(']');
                    i += 2;
                    continue;
                }
                throw ParseError{ERR_TEXTSYNTAX};
            }
            Put(c);
            i++;
        }
        EndWord(false);
        if (o->listMode) StartItem();
        ClosePending();
    }
};

// Lines of a list: tabs only at a line start, each line at most one deeper
// than the one before.
int CheckListText(const char *t, size_t n)
{
    int previous = 0;
    size_t i = 0;
    while (i <= n) {
        int tabs = 0;
        while (i < n && t[i] == '\t') tabs++, i++;
        if (tabs > previous + 1) return ERR_WRONGUSAGE;
        previous = tabs;
        while (i < n && t[i] != '\n') {
            if (t[i] == '\t') return ERR_WRONGUSAGE;
            i++;
        }
        i++;
    }
    return 0;
}

int CountTagOccurrences(const char *t, size_t n)
{
    int count = 0;
    for (size_t i = 0; i < n; i++) {
        if (t[i] != '[') continue;
        if (i + 1 < n && t[i + 1] == '[') {
            i++;
            continue;
        }
        size_t p = i + 1;
        while (p < n && (t[p] == ' ' || t[p] == '\t')) p++;
        if (p < n && t[p] == '/') continue;
        auto is = [&](const char *name) {
            for (size_t k = 0; name[k]; k++)
                if (p + k >= n || std::tolower((unsigned char)t[p + k]) != name[k]) return false;
            return true;
        };
        if (is("color") || is("pen")) count++;
    }
    return count;
}

// Gives every soft-hyphen run at a line end its "-"; takes trailing blanks
// off runs that end a wrapped line. The text's last run is left as it is.
void FinishLineEnds(lvFontManager *fm, lvFont *font, const lvTextOptions *o, lvTextRun *runs)
{
    for (lvTextRun *r = runs; r && r->next; r = r->next) {
        lvTextRun *next = r->next;
        if (next->y == r->y) continue;
        if (r->softHyphen) {
            char *copy = new (std::nothrow) char[(size_t)r->length + 2];
            if (!copy) throw ParseError{ERR_MEM};
            std::memcpy(copy, r->text, (size_t)r->length);
            copy[r->length] = '-';
            copy[r->length + 1] = 0;
            r->hyphenText = copy;
            r->text = copy;
            r->length++;
            if (int err = MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &r->style, &r->metrics, r->text,
                                              (size_t)r->length))
                throw ParseError{err};
        } else if (!r->lineBreakAfter && ((r->style.style & FORM_UNDERLINED) || o->align != TEXTALIGN_LEFT)) {
            int length = r->length;
            while (length > 0 && r->text[length - 1] == ' ') length--;
            if (length != r->length) {
                r->length = length;
                if (int err = MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &r->style, &r->metrics,
                                                  r->text, (size_t)r->length))
                    throw ParseError{err};
            }
        }
    }
    // Runs left empty are freed.
    for (lvTextRun *r = runs; r && r->next;) {
        lvTextRun *next = r->next;
        if (next->length == 0 && next->next && next->bulletType == 0) {
            r->next = next->next;
            delete[] next->hyphenText;
            delete next;
            continue;
        }
        r = next;
    }
}

}  // namespace

int CheckTextRequest(lvFontManager *, lvFont *font, const lvTextOptions *o)
{
    if (!font) return ERR_OPENFONT;
    if ((o->style.style & FORM_ANTIALIAS) && !(o->style.style & FORM_NORMAL) && !font->antialiased &&
        font->type != LV_FONT_TRUETYPE && font->type != LV_FONT_SYSTEM)
        return ERR_ANTIALIAS;
    if (o->encoding == 1 && !ValidateUtf8(o->text ? o->text : "", o->length, nullptr)) return ERR_INVALIDUTF8;
    if (o->lineSpacing < -font->height || o->wrapWidth < 0 || (o->listMode && o->align != TEXTALIGN_LEFT))
        return ERR_WRONGUSAGE;
    if (o->listMode && font->selfLayout) return ERR_PLUGINSUPPORT;
    return 0;
}

int LayoutTextRuns(lvFontManager *fm, lvFont *font, lvTextOptions *o, lvTextLayout *layout)
{
    layout->Clear();
    if (!font) font = fm->topaz;
    if (int err = CheckTextRequest(fm, font, o)) return err;
    // Such a font has no runs: it is handed the whole text (LayoutText).
    if (font->selfLayout) return ERR_PLUGINSUPPORT;

    const char *text = o->text && o->length ? o->text : " ";
    size_t length = o->text && o->length ? o->length : 1;
    if (o->listMode) {
        if (int err = CheckListText(text, length)) return err;
        int feeds = (int)std::count(text, text + length, '\n');
        o->frameCount = feeds + (o->frameMode == FRAMEMODE_SINGLE ? 2 : 1);
        if (o->frame < 0 || o->frame >= o->frameCount) return ERR_ANIMFRAME;
    }
    layout->fontHeight = font->height;
    layout->baseline = font->baseline;
    layout->lineHeight = font->height + o->lineSpacing;
    {
        lvTextMetrics m;
        lvFontStyle plain = o->style;
        if (int err = MeasureStyledTextIn(fm, font, o->encoding, o->charSpacing, &plain, &m, " ", 1)) return err;
        layout->spaceWidth = m.advance;
    }
    layout->buffer = new (std::nothrow) char[length + 2];
    if (!layout->buffer) return ERR_MEM;
    if (!o->wrapTableGiven) o->wrapTable.clear();
    if (!o->tabTableGiven) o->tabTable.clear();

    Parser p{fm, font, o, layout, text, length, o->encoding == 1, !o->formatTagsOff,
             o->objectType != LV_TEXT_PRINT && !o->listMode && o->tabCount == 0, o->align == TEXTALIGN_JUSTIFIED,
             layout->lineHeight};
    p.out = layout->buffer;
    p.colourStackLimit = (size_t)CountTagOccurrences(text, length) + 1;
    p.colourStack.reserve(p.colourStackLimit);
    if (o->objectType == LV_TEXT_PRINT) p.pendX = o->cursorX - o->leftMargin;
    p.lineStartX = 0;
    int code = 0;
    try {
        p.Run();
        layout->runs = p.head;
        p.head = nullptr;
        FinishLineEnds(fm, font, o, layout->runs);
    } catch (const ParseError &e) {
        code = e.code;
    } catch (const std::bad_alloc &) {
        code = ERR_MEM;
    }
    while (lvTextRun *r = p.head) {
        p.head = r->next;
        delete[] r->hyphenText;
        delete r;
    }
    if (code) {
        layout->Clear();
        if (!o->wrapTableGiven) o->wrapTable.clear();
        if (!o->tabTableGiven) o->tabTable.clear();
        return code;
    }
    layout->finalX = p.pendX;
    layout->finalY = p.y;
    o->finalX = p.pendX;
    o->finalY = p.y;
    return 0;
}
