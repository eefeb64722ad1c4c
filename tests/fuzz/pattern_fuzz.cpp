// Fuzz target: one input is split at its first zero byte into a pattern and a
// subject (the first byte picks the mode); both are run through search,
// iteration and replacement, and the pattern as an expression and a format.
#include "libs/eval.h"
#include "libs/pattern.h"
#include "libs/strings_engine.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

static int FuzzNumber(void *, int index, double *value)
{
    *value = index * 1.5;
    return index > 6 ? 1138 : 0;
}

static int FuzzString(void *, int index, std::string *value)
{
    value->assign(size_t(index) * 40, 'x');
    return index > 6 ? 1139 : 0;
}

static int FuzzReplace(void *, const lvCaptureValue *values, int count, std::string *insert, int *keep)
{
    *keep = count > 1;
    if (!values[0].isPosition) insert->assign(values[0].text, values[0].length);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 200) return 0; // backtracking is exponential by design; keep inputs small
    bool utf8 = data[0] & 1;
    const char *text = reinterpret_cast<const char *>(data + 1);
    size_t length = size - 1;
    const char *zero = static_cast<const char *>(std::memchr(text, 0, length));
    size_t patternLength = zero ? size_t(zero - text) : length;
    // Copies without terminators, so out-of-bounds reads are caught.
    std::string pattern(text, patternLength);
    std::string subject = zero ? std::string(zero + 1, length - patternLength - 1) : std::string("abc(d)e");
    // Nested repetitions backtrack exponentially (as any backtracking matcher
    // does); a few of them over a short subject keep every run quick.
    int repeats = 0;
    for (char c : pattern) repeats += c == '*' || c == '+' || c == '-' || c == '?';
    if (repeats > 3 || subject.size() > 48) return 0;
    auto *p = new char[pattern.size()];
    auto *s = new char[subject.size()];
    std::memcpy(p, pattern.data(), pattern.size());
    std::memcpy(s, subject.data(), subject.size());

    lvPatternResult r;
    lvCaptureValue values[PATTERN_MAXCAPTURES];
    int count;
    if (FindPatternFirst(s, subject.size(), p, pattern.size(), 0, utf8, &r) == 0 && r.found)
        GetPatternCaptures(&r, values, &count);
    size_t position = 0;
    for (int i = 0; i < 50; i++) {
        if (FindPatternNext(s, subject.size(), p, pattern.size(), utf8, &position, &r) || !r.found) break;
        GetPatternCaptures(&r, values, &count);
    }
    std::string out;
    long long replaced;
    lvReplacement byText{"<%0%1>", 6, nullptr, nullptr};
    ReplacePattern(s, subject.size(), p, pattern.size(), &byText, 100, utf8, &out, &replaced);
    lvReplacement byCallback{nullptr, 0, FuzzReplace, nullptr};
    ReplacePattern(s, subject.size(), p, pattern.size(), &byCallback, 100, utf8, &out, &replaced);
    lvReplacement patternAsRepl{p, pattern.size(), nullptr, nullptr};
    ReplacePattern(s, subject.size(), "(.)", 3, &patternAsRepl, 100, utf8, &out, &replaced);

    double value;
    lvEvalVariable vars[] = {{"x", 1, 2}};
    lvEvalOptions options = {vars, 1, int(data[0] & 2), 0, nullptr, nullptr};
    EvaluateExpression(p, pattern.size(), &options, &value);
    lvFormatArgs args{nullptr, FuzzNumber, FuzzString};
    FormatText(std::string_view(p, pattern.size()), &args, &out);

    // The text operations over unchecked text and positions around its ends.
    std::string_view a(s, subject.size()), b(p, pattern.size());
    long long n = (long long)(data[0] >> 2) - 8, m = (long long)pattern.size() % 7 - 2;
    long long pos;
    std::vector<std::string_view> pieces;
    MidText(a, n, m, utf8, &out);
    UnmidText(a, n, m, utf8, &out);
    InsertText(a, b, n, data[0] & 2, utf8, &out);
    TrimText(a, b, data[0] & 2, utf8, &out);
    ReverseText(a, utf8, &out);
    ChangeTextCase(a, data[0] & 2, utf8, &out);
    FindText(a, b, data[0] & 2, n, utf8, &pos);
    ReverseFindText(a, b, data[0] & 2, n, utf8, &pos);
    CountText(a, b, data[0] & 2, n, utf8, &pos);
    ReplaceText(a, b, "<>", data[0] & 2, n, utf8, &out);
    TextStartsWith(a, b, data[0] & 2, utf8);
    TextEndsWith(a, b, data[0] & 2, utf8);
    TextCharIndex(a, n, utf8, &pos);
    SplitText(a, b, data[0] & 2, &pieces);
    ReadLeadingNumber(b, &value, &pos);

    delete[] p;
    delete[] s;
    return 0;
}
