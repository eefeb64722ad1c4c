// pattern.cpp - the backtracking pattern matcher and its search, iteration and
// replacement drivers (see pattern.h).
// Dependencies: libs/textchars.h for decoding, classes and case.
// Limits: recursion is bounded by PATTERN_MAXDEPTH; every read of the pattern
// and the subject is bounded by its end pointer (neither needs a terminator).

#include "libs/pattern.h"

#include "libs/textchars.h"
#include "base/lverrors.h"

#include <charconv>
#include <cstring>

// ============================================================================
// Failures
// ============================================================================

// Thrown inside the matcher and caught at the public entry points, so a
// failure deep in the recursion abandons the whole match at once.
struct lvPatternFault {
    int code;   // the error code
};

[[noreturn]] static void RaisePatternError(int code) { throw lvPatternFault{code}; }

// Gives the level taken by one matcher call back on every way out.
struct lvDepthGuard {
    int *depth;   // the match state's depth counter
    ~lvDepthGuard() { ++*depth; }
};

// ============================================================================
// Reading characters
// ============================================================================

// One character of the pattern or the subject, bounded by end: a decoded
// UTF-8 character or a byte; 0 and a count of 0 at the end.
static int ReadModeChar(const lvMatchState *ms, const char *p, const char *end, uint32_t *code)
{
    if (p >= end) {
        *code = 0;
        return 0;
    }
    if (!ms->utf8) {
        *code = static_cast<unsigned char>(*p);
        return 1;
    }
    return DecodeTextChar(p, end, code);
}

static int ReadPatternChar(const lvMatchState *ms, const char *p, uint32_t *code)
{
    return ReadModeChar(ms, p, ms->patternEnd, code);
}

static int ReadSubjectChar(const lvMatchState *ms, const char *s, uint32_t *code)
{
    return ReadModeChar(ms, s, ms->subjectEnd, code);
}

// ============================================================================
// Single-character items
// ============================================================================

// "%" and letter: a class when the letter folds to one of the class letters
// (the upper-case form inverts it), else the letter itself.
static bool MatchClassLetter(const lvMatchState *ms, uint32_t c, uint32_t letter)
{
    uint32_t lower = LowerChar(letter, ms->utf8 != 0);
    if (lower < 128 && lower != 0 && std::strchr("acdglpsuwxz", int(lower))) {
        bool in = TestCharClass(c, int(lower), ms->utf8 != 0);
        if (!TestCharClass(letter, 'l', ms->utf8 != 0)) in = !in;
        return in;
    }
    return letter == c;
}

// One past the single-character item that starts at p (p < pattern end).
static const char *FindItemEnd(const lvMatchState *ms, const char *p)
{
    const char *end = ms->patternEnd;
    uint32_t c;
    p += ReadPatternChar(ms, p, &c);
    if (c == '%') {
        if (p >= end) RaisePatternError(ERR_MALFORMPAT1);
        return p + ReadPatternChar(ms, p, &c);
    }
    if (c == '[') {
        if (p < end && *p == '^') p++;
        // The first member is taken as it stands, so "[]]" holds "]".
        for (;;) {
            if (p >= end) RaisePatternError(ERR_MALFORMPAT2);
            p += ReadPatternChar(ms, p, &c);
            if (c == '%') {
                if (p >= end) RaisePatternError(ERR_MALFORMPAT2);
                p += ReadPatternChar(ms, p, &c);
            }
            if (p < end && *p == ']') return p + 1;
        }
    }
    return p;
}

// Set test: p at "[", close at its "]".
static bool MatchSet(const lvMatchState *ms, uint32_t c, const char *p, const char *close)
{
    bool member = true;
    p++;
    if (*p == '^') {
        member = false;
        p++;
    }
    while (p < close) {
        uint32_t pc;
        int n = ReadPatternChar(ms, p, &pc);
        if (pc == '%') {
            p += n;
            uint32_t letter;
            int m = ReadPatternChar(ms, p, &letter);
            if (MatchClassLetter(ms, c, letter)) return member;
            p += m;
            continue;
        }
        const char *q = p + n;
        if (q < close && *q == '-' && q + 1 < close) {
            uint32_t hi;
            int m = ReadPatternChar(ms, q + 1, &hi);
            if (pc <= c && c <= hi) return member;
            p = q + 1 + m;
        } else {
            if (pc == c) return member;
            p = q;
        }
    }
    return !member;
}

// Does the subject character at s match the item p..itemEnd? Fails at the end.
static bool MatchSingle(const lvMatchState *ms, const char *s, const char *p, const char *itemEnd)
{
    if (s >= ms->subjectEnd) return false;
    uint32_t c, pc;
    ReadSubjectChar(ms, s, &c);
    int n = ReadPatternChar(ms, p, &pc);
    switch (pc) {
    case '.': return true;
    case '%': {
        uint32_t letter;
        ReadPatternChar(ms, p + n, &letter);
        return MatchClassLetter(ms, c, letter);
    }
    case '[': return MatchSet(ms, c, p, itemEnd - 1);
    default: return pc == c;
    }
}

static int SubjectCharWidth(const lvMatchState *ms, const char *s)
{
    uint32_t c;
    return ReadSubjectChar(ms, s, &c);
}

// ============================================================================
// The matcher
// ============================================================================

static const char *DoPatternMatch(lvMatchState *ms, const char *s, const char *p);

static const char *ExpandGreedy(lvMatchState *ms, const char *s, const char *p, const char *itemEnd)
{
    const char *q = s;
    while (MatchSingle(ms, q, p, itemEnd)) q += SubjectCharWidth(ms, q);
    for (;;) {
        const char *r = DoPatternMatch(ms, q, itemEnd + 1);
        if (r) return r;
        if (q <= s) return nullptr;
        q = ms->utf8 ? StepBackTextChar(q, s) : q - 1;
    }
}

static const char *ExpandLazy(lvMatchState *ms, const char *s, const char *p, const char *itemEnd)
{
    for (;;) {
        const char *r = DoPatternMatch(ms, s, itemEnd + 1);
        if (r) return r;
        if (!MatchSingle(ms, s, p, itemEnd)) return nullptr;
        s += SubjectCharWidth(ms, s);
    }
}

static const char *StartCapture(lvMatchState *ms, const char *s, const char *p, long long what)
{
    if (ms->level >= PATTERN_MAXCAPTURES) RaisePatternError(ERR_TOOMANYCAPTURES);
    ms->captures[ms->level].start = s;
    ms->captures[ms->level].length = what;
    ms->level++;
    const char *r = DoPatternMatch(ms, s, p);
    if (!r) ms->level--;
    return r;
}

static const char *EndCapture(lvMatchState *ms, const char *s, const char *p)
{
    int l = ms->level - 1;
    while (l >= 0 && ms->captures[l].length != PATTERN_CAPOPEN) l--;
    if (l < 0) RaisePatternError(ERR_INVPATCAP);
    ms->captures[l].length = s - ms->captures[l].start;
    const char *r = DoPatternMatch(ms, s, p);
    if (!r) ms->captures[l].length = PATTERN_CAPOPEN;
    return r;
}

// "%b" x y at p (p just after "b"); *next gets the pattern after y.
static const char *MatchBalance(const lvMatchState *ms, const char *s, const char *p, const char **next)
{
    uint32_t open, close;
    int n1 = ReadPatternChar(ms, p, &open);
    int n2 = n1 ? ReadPatternChar(ms, p + n1, &close) : 0;
    if (n1 == 0 || n2 == 0) RaisePatternError(ERR_UNBALANCEDPAT);
    *next = p + n1 + n2;
    uint32_t c;
    int w = ReadSubjectChar(ms, s, &c);
    if (w == 0 || c != open) return nullptr;
    int depth = 1;
    s += w;
    while (s < ms->subjectEnd) {
        w = ReadSubjectChar(ms, s, &c);
        if (c == close) {
            if (--depth == 0) return s + w;
        } else if (c == open) {
            depth++;
        }
        s += w;
    }
    return nullptr;
}

static const char *MatchBackReference(const lvMatchState *ms, const char *s, uint32_t digit)
{
    int l = int(digit) - '1';
    if (l < 0 || l >= ms->level || ms->captures[l].length == PATTERN_CAPOPEN) RaisePatternError(ERR_INVCAPIDX);
    long long len = ms->captures[l].length;
    if (len == PATTERN_CAPPOSITION) len = 0; // a position holds no text
    if (ms->subjectEnd - s >= len && std::memcmp(ms->captures[l].start, s, size_t(len)) == 0) return s + len;
    return nullptr;
}

static const char *DoPatternMatch(lvMatchState *ms, const char *s, const char *p)
{
    if (ms->matchDepth-- == 0) RaisePatternError(ERR_COMPLEXPATTERN);
    lvDepthGuard guard{&ms->matchDepth};
    const char *pend = ms->patternEnd;
    for (;;) {
        if (p >= pend) return s;
        uint32_t pc;
        ReadPatternChar(ms, p, &pc);
        if (pc == '(') {
            if (p + 1 < pend && p[1] == ')') return StartCapture(ms, s, p + 2, PATTERN_CAPPOSITION);
            return StartCapture(ms, s, p + 1, PATTERN_CAPOPEN);
        }
        if (pc == ')') return EndCapture(ms, s, p + 1);
        if (pc == '$' && p + 1 == pend) return s == ms->subjectEnd ? s : nullptr;
        if (pc == '%' && p + 1 < pend) {
            uint32_t nc;
            int m = ReadPatternChar(ms, p + 1, &nc);
            if (nc == 'b') {
                s = MatchBalance(ms, s, p + 1 + m, &p);
                if (!s) return nullptr;
                continue;
            }
            if (nc == 'f') {
                const char *set = p + 1 + m;
                if (set >= pend || *set != '[') RaisePatternError(ERR_MISSINGOPBRACK);
                const char *setEnd = FindItemEnd(ms, set);
                uint32_t prev = 0, cur = 0;
                if (s > ms->subjectStart) {
                    const char *b = ms->utf8 ? StepBackTextChar(s, ms->subjectStart) : s - 1;
                    ReadSubjectChar(ms, b, &prev);
                }
                ReadSubjectChar(ms, s, &cur);
                if (!MatchSet(ms, prev, set, setEnd - 1) && MatchSet(ms, cur, set, setEnd - 1)) {
                    p = setEnd;
                    continue;
                }
                return nullptr;
            }
            if (nc >= '0' && nc <= '9') {
                s = MatchBackReference(ms, s, nc);
                if (!s) return nullptr;
                p += 1 + m;
                continue;
            }
        }
        // A single-character item with its optional repetition suffix.
        const char *ep = FindItemEnd(ms, p);
        char suffix = ep < pend ? *ep : 0;
        if (!MatchSingle(ms, s, p, ep)) {
            if (suffix == '*' || suffix == '?' || suffix == '-') {
                p = ep + 1;
                continue;
            }
            return nullptr;
        }
        int w = SubjectCharWidth(ms, s);
        switch (suffix) {
        case '?': {
            const char *r = DoPatternMatch(ms, s + w, ep + 1);
            if (r) return r;
            p = ep + 1;
            continue;
        }
        case '+': return ExpandGreedy(ms, s + w, p, ep);
        case '*': return ExpandGreedy(ms, s, p, ep);
        case '-': return ExpandLazy(ms, s, p, ep);
        default:
            s += w;
            p = ep;
            continue;
        }
    }
}

// ============================================================================
// Drivers
// ============================================================================

static void BeginMatchState(lvMatchState *ms, const char *subject, size_t subjectLength, const char *patternEnd,
                            bool utf8)
{
    ms->matchDepth = PATTERN_MAXDEPTH;
    ms->subjectStart = subject;
    ms->subjectEnd = subject + subjectLength;
    ms->patternEnd = patternEnd;
    ms->level = 0;
    ms->utf8 = utf8 ? 1 : 0;
}

// Tries candidates from s up to and including the subject end (only s when
// anchored); fills result on a match.
static void SearchCandidates(lvMatchState *ms, const char *s, const char *p, bool anchored, lvPatternResult *result)
{
    result->found = 0;
    for (;;) {
        ms->level = 0;
        ms->matchDepth = PATTERN_MAXDEPTH;
        const char *e = DoPatternMatch(ms, s, p);
        if (e) {
            result->found = 1;
            result->startByte = size_t(s - ms->subjectStart);
            result->endByte = size_t(e - ms->subjectStart);
            result->startIndex = 0;
            result->lastIndex = 0;
            result->state = *ms;
            return;
        }
        if (s >= ms->subjectEnd || anchored) return;
        s += SubjectCharWidth(ms, s);
    }
}

int PatternStartOffset(const char *subject, size_t subjectLength, long long start, bool utf8, size_t *startByte)
{
    if (start < 0 || start > (long long)CountTextChars(subject, subjectLength, utf8)) return ERR_WRONGUSAGE;
    *startByte = CharToByteOffset(subject, subjectLength, size_t(start), utf8);
    return 0;
}

int FindPatternFirst(const char *subject, size_t subjectLength, const char *pattern, size_t patternLength,
                     size_t startByte, bool utf8, lvPatternResult *result)
{
    result->found = 0;
    if (startByte > subjectLength) return 0;
    lvMatchState ms;
    BeginMatchState(&ms, subject, subjectLength, pattern + patternLength, utf8);
    bool anchored = patternLength > 0 && pattern[0] == '^';
    try {
        SearchCandidates(&ms, subject + startByte, pattern + (anchored ? 1 : 0), anchored, result);
    } catch (lvPatternFault &fault) {
        result->found = 0;
        return fault.code;
    }
    if (result->found) {
        // Counted here only: the iterator would walk the subject again at every match.
        result->startIndex = (long long)CountTextChars(subject, result->startByte, utf8);
        result->lastIndex = result->startIndex - 1 +
                            (long long)CountTextChars(subject + result->startByte,
                                                      result->endByte - result->startByte, utf8);
    }
    return 0;
}

int FindPatternNext(const char *subject, size_t subjectLength, const char *pattern, size_t patternLength,
                    bool utf8, size_t *position, lvPatternResult *result)
{
    result->found = 0;
    if (*position > subjectLength) return 0;
    lvMatchState ms;
    BeginMatchState(&ms, subject, subjectLength, pattern + patternLength, utf8);
    try {
        SearchCandidates(&ms, subject + *position, pattern, false, result);
    } catch (lvPatternFault &fault) {
        result->found = 0;
        return fault.code;
    }
    if (result->found) {
        *position = result->endByte;
        if (result->endByte == result->startByte) {
            // Step a whole character past an empty match (one byte at the end).
            int w = TextCharWidth(subject + *position, subject + subjectLength, utf8);
            *position += w ? size_t(w) : 1;
        }
    }
    return 0;
}

// Capture i of a match as a value; i = -1 is the whole match.
static int GetCaptureValue(const lvMatchState *ms, const char *matchStart, const char *matchEnd, int i,
                           lvCaptureValue *value)
{
    value->isPosition = 0;
    value->position = 0;
    if (i < 0) {
        value->text = matchStart;
        value->length = size_t(matchEnd - matchStart);
        return 0;
    }
    const lvPatternCapture &cap = ms->captures[i];
    if (cap.length == PATTERN_CAPOPEN) return ERR_UNFINISHEDCAPTURE;
    if (cap.length == PATTERN_CAPPOSITION) {
        value->isPosition = 1;
        value->position = double(CountTextChars(ms->subjectStart, size_t(cap.start - ms->subjectStart),
                                                ms->utf8 != 0)) + 1;
        value->text = cap.start;
        value->length = 0;
        return 0;
    }
    value->text = cap.start;
    value->length = size_t(cap.length);
    return 0;
}

static int CollectCaptures(const lvMatchState *ms, const char *matchStart, const char *matchEnd,
                           lvCaptureValue *values, int *count)
{
    *count = 0;
    if (ms->level == 0) {
        *count = 1;
        return GetCaptureValue(ms, matchStart, matchEnd, -1, values);
    }
    for (int i = 0; i < ms->level; i++) {
        int code = GetCaptureValue(ms, matchStart, matchEnd, i, &values[i]);
        if (code) return code;
    }
    *count = ms->level;
    return 0;
}

int GetPatternCaptures(const lvPatternResult *result, lvCaptureValue *values, int *count)
{
    const lvMatchState *ms = &result->state;
    return CollectCaptures(ms, ms->subjectStart + result->startByte, ms->subjectStart + result->endByte, values,
                           count);
}

static void AppendCaptureValue(std::string *out, const lvCaptureValue &v)
{
    if (v.isPosition) {
        char digits[32];
        auto r = std::to_chars(digits, digits + sizeof digits, (long long)v.position);
        out->append(digits, size_t(r.ptr - digits));
    } else {
        out->append(v.text, v.length);
    }
}

// Appends the replacement of the match s..e.
static int AppendReplacement(const lvMatchState *ms, const char *s, const char *e, const lvReplacement *repl,
                             std::string *out)
{
    if (repl->callback) {
        lvCaptureValue values[PATTERN_MAXCAPTURES];
        int count;
        int code = CollectCaptures(ms, s, e, values, &count);
        if (code) return code;
        std::string insert;
        int keep = 0;
        code = repl->callback(repl->user, values, count, &insert, &keep);
        if (code) return code;
        if (keep) out->append(s, size_t(e - s));
        else out->append(insert);
        return 0;
    }
    const char *r = repl->text, *rend = repl->text + repl->textLength;
    while (r < rend) {
        int w = TextCharWidth(r, rend, ms->utf8 != 0);
        if (*r != '%') {
            out->append(r, size_t(w));
            r += w;
            continue;
        }
        r++;
        if (r >= rend) return ERR_ESCREPLACE;
        char d = *r;
        if (d == '%') {
            out->push_back('%');
            r++;
            continue;
        }
        if (d < '0' || d > '9') return ERR_ESCREPLACE;
        r++;
        int index = d - '0';
        lvCaptureValue v;
        int code;
        if (index == 0 || (index == 1 && ms->level == 0)) code = GetCaptureValue(ms, s, e, -1, &v);
        else if (index > ms->level) code = ERR_INVCAPIDX;
        else code = GetCaptureValue(ms, s, e, index - 1, &v);
        if (code) return code;
        AppendCaptureValue(out, v);
    }
    return 0;
}

int ReplacePattern(const char *subject, size_t subjectLength, const char *pattern, size_t patternLength,
                   const lvReplacement *replacement, long long maxCount, bool utf8, std::string *out,
                   long long *count)
{
    *count = 0;
    out->clear();
    lvMatchState ms;
    BeginMatchState(&ms, subject, subjectLength, pattern + patternLength, utf8);
    bool anchored = patternLength > 0 && pattern[0] == '^';
    const char *p = pattern + (anchored ? 1 : 0);
    const char *s = subject, *end = subject + subjectLength;
    try {
        while (*count < maxCount) {
            ms.level = 0;
            ms.matchDepth = PATTERN_MAXDEPTH;
            const char *e = DoPatternMatch(&ms, s, p);
            if (e) {
                ++*count;
                int code = AppendReplacement(&ms, s, e, replacement, out);
                if (code) return code;
            }
            if (e && e > s) {
                s = e;
            } else if (s < end) {
                int w = TextCharWidth(s, end, utf8);
                out->append(s, size_t(w));
                s += w;
            } else {
                break;
            }
            if (anchored) break;
        }
    } catch (lvPatternFault &fault) {
        return fault.code;
    }
    out->append(s, size_t(end - s));
    return 0;
}
