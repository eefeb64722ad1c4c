// lib_string.cpp - the string library's script commands: lengths and pieces,
// searching and replacing, case, trimming and splitting, numbers as text,
// character classes, encodings and offsets, digests, FormatStr, the four
// pattern commands and Eval.
//
// Each command checks its argument count, reads its arguments (the encoding
// argument first, so that the texts it governs are validated as UTF-8 when it
// selects characters), calls one engine function and pushes the results. An
// engine's error code is the command's answer; the machine records and raises
// it. The engines live in strings_engine, pattern, eval and digest.
//
// Depends on: vm/lvvm.h, runtime/cmdsupport.h, libs/strings_engine.h, libs/pattern.h, libs/eval.h,
// libs/digest.h. Script thread only; the library's two settings are the
// engine's lvStringSettings.
#include "libs/lib_string.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libs/digest.h"
#include "libs/eval.h"
#include "libs/pattern.h"
#include "libs/strings_engine.h"
#include "runtime/cmdsupport.h"

// ============================================================================
// Arguments and results
// ============================================================================

// The case-sensitivity argument; absent: sensitive unless IgnoreCase set the flag.
static bool ReadCaseArg(lvState *L, int index)
{
    if (GetValueType(L, index) == LV_TNONE) return GetStringSettings()->ignoreCaseDefault == 0;
    return CheckNumberArg(L, index) != 0;
}

// Counts and positions truncated toward zero. Numbers beyond the 64-bit range
// saturate, so that a huge length still means "up to the end" rather than
// turning into the most negative integer; NaN counts as 0.
static long long ReadIntArg(lvState *L, int index)
{
    double d = CheckNumberArg(L, index);
    if (d != d) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<long long>(d);
}

// The encoding argument: characters only for 1 (UTF-8); absent: the library's default.
static bool ReadEncodingArg(lvState *L, int index)
{
    if (GetValueType(L, index) == LV_TNONE) return IsUtf8Encoding(GetStringSettings()->defaultEncoding);
    return IsUtf8Encoding(ReadIntArg(L, index) == 1 ? 1 : 0);
}

static long long ReadOptionalIntArg(lvState *L, int index, long long def)
{
    return GetValueType(L, index) == LV_TNONE ? def : ReadIntArg(L, index);
}

// A string argument as it stands (numbers converted in their slot).
static std::string_view ReadStringArg(lvState *L, int index)
{
    size_t n;
    const char *s = CheckStringArg(L, index, &n);
    return {s, n};
}

static std::string_view ReadOptionalStringArg(lvState *L, int index, const char *def)
{
    size_t n;
    const char *s = GetOptionalStringArg(L, index, def, &n);
    return {s, n};
}

// A string argument governed by the encoding argument: in UTF-8 mode it must be
// well-formed (1588 naming the argument).
static std::string_view ReadTextArg(lvState *L, int index, bool utf8)
{
    std::string_view s = ReadStringArg(L, index);
    if (int code = CheckUtf8Argument(s, utf8)) {
        GetVMHost()->SetErrorNumberArg(index);
        RaiseError(L, code);
    }
    return s;
}

static int PushText(lvState *L, std::string_view s)
{
    PushSizedString(L, s.data(), s.size());
    return 1;
}

static int PushOneNumber(lvState *L, double n)
{
    PushNumber(L, n);
    return 1;
}

// ============================================================================
// Pieces and measures
// ============================================================================

// LowerStr(s [, enc]) and UpperStr(s [, enc]) -> s in lower or upper case.
static int ChangeCaseCommand(lvState *L, bool upper)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    std::string_view s = ReadTextArg(L, 1, utf8);
    std::string out;
    if (int code = ChangeTextCase(s, upper, utf8, &out)) return code;
    return PushText(L, out);
}

static int CmdLowerStr(lvState *L) { return ChangeCaseCommand(L, false); }
static int CmdUpperStr(lvState *L) { return ChangeCaseCommand(L, true); }

// The commands of the form (s, n [, enc]) -> piece of s that may refuse n.
typedef int (*lvCutText)(std::string_view s, long long n, bool utf8, std::string *out);

static int CutTextCommand(lvState *L, lvCutText cut)
{
    CheckArgCount(L, 2, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long n = ReadIntArg(L, 2);
    std::string out;
    if (int code = cut(s, n, utf8, &out)) return code;
    return PushText(L, out);
}

// The same form for the pieces that accept any n.
typedef void (*lvTakeText)(std::string_view s, long long n, bool utf8, std::string *out);

static int TakeTextCommand(lvState *L, lvTakeText take)
{
    CheckArgCount(L, 2, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long n = ReadIntArg(L, 2);
    std::string out;
    take(s, n, utf8, &out);
    return PushText(L, out);
}

// UnrightStr(s, n [, enc]) -> s without its first n characters.
static int CmdUnrightStr(lvState *L) { return CutTextCommand(L, UnrightText); }
// UnleftStr(s, n [, enc]) -> s without its last n characters.
static int CmdUnleftStr(lvState *L) { return CutTextCommand(L, UnleftText); }
// RightStr(s, n [, enc]) -> the last n characters.
static int CmdRightStr(lvState *L) { return TakeTextCommand(L, RightText); }
// LeftStr(s, n [, enc]) -> the first n characters.
static int CmdLeftStr(lvState *L) { return TakeTextCommand(L, LeftText); }

// MidStr(s, pos [, len = -1 [, enc]]) -> len characters from pos.
static int CmdMidStr(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    bool utf8 = ReadEncodingArg(L, 4);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long pos = ReadIntArg(L, 2);
    long long len = ReadOptionalIntArg(L, 3, -1);
    std::string out;
    MidText(s, pos, len, utf8, &out);
    return PushText(L, out);
}

// UnmidStr(s, pos, len [, enc]) -> s without len characters from pos.
static int CmdUnmidStr(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    bool utf8 = ReadEncodingArg(L, 4);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long pos = ReadIntArg(L, 2);
    long long len = ReadIntArg(L, 3);
    std::string out;
    if (int code = UnmidText(s, pos, len, utf8, &out)) return code;
    return PushText(L, out);
}

// InsertStr(s, ins, pos [, overwrite = 0 [, enc]]) -> s with ins at pos.
static int CmdInsertStr(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    bool utf8 = ReadEncodingArg(L, 5);
    std::string_view s = ReadTextArg(L, 1, utf8);
    std::string_view ins = ReadTextArg(L, 2, utf8);
    long long pos = ReadIntArg(L, 3);
    bool overwrite = GetOptionalNumberArg(L, 4, 0) != 0;
    std::string out;
    if (int code = InsertText(s, ins, pos, overwrite, utf8, &out)) return code;
    return PushText(L, out);
}

// AddStr(a, b) -> a followed by b.
static int CmdAddStr(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    std::string_view a = ReadStringArg(L, 1);
    std::string_view b = ReadStringArg(L, 2);
    lvStringBuffer buffer;
    InitStringBuffer(L, &buffer);
    AppendBufferBytes(&buffer, a.data(), a.size());
    AppendBufferBytes(&buffer, b.data(), b.size());
    FinishStringBuffer(&buffer);
    return 1;
}

// RepeatStr(s, n) -> s n times.
static int CmdRepeatStr(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    long long n = ReadIntArg(L, 2);
    std::string out;
    if (int code = RepeatText(s, n, &out)) return code;
    return PushText(L, out);
}

// ReverseStr(s [, enc]) -> characters in reverse order (s is not validated).
static int CmdReverseStr(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    std::string_view s = ReadStringArg(L, 1);
    std::string out;
    ReverseText(s, utf8, &out);
    return PushText(L, out);
}

// TrimStr(s, c, fromright [, enc]) -> s without repetitions of c at one end.
static int CmdTrimStr(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    bool utf8 = ReadEncodingArg(L, 4);
    std::string_view s = ReadTextArg(L, 1, utf8);
    std::string_view c = ReadTextArg(L, 2, utf8);
    bool fromRight = CheckNumberArg(L, 3) != 0;
    std::string out;
    if (int code = TrimText(s, c, fromRight, utf8, &out)) return code;
    return PushText(L, out);
}

// StripStr(s) -> s without white space bytes at both ends.
static int CmdStripStr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PushText(L, StripTextSpace(ReadStringArg(L, 1)));
}

// EmptyStr(s) -> 1 when s is empty or white space only.
static int CmdEmptyStr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PushOneNumber(L, IsBlankText(ReadStringArg(L, 1)) ? 1 : 0);
}

// SplitStr(s, sep [, merge = 0]) -> table of the pieces from index 0, count.
static int CmdSplitStr(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    std::string_view sep = ReadStringArg(L, 2);
    bool merge = GetOptionalNumberArg(L, 3, 0) != 0;
    std::vector<std::string_view> pieces;
    if (int code = SplitText(s, sep, merge, &pieces)) return code;
    PushNewSizedTable(L, int(pieces.size()), 0);
    for (size_t i = 0; i < pieces.size(); i++) {
        PushSizedString(L, pieces[i].data(), pieces[i].size());
        SetTableItemRaw(L, -2, int(i));
    }
    PushNumber(L, double(pieces.size()));
    return 2;
}

// StrLen(s [, enc]) -> characters or bytes.
static int CmdStrLen(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    return PushOneNumber(L, double(TextLength(ReadTextArg(L, 1, utf8), utf8)));
}

// ByteLen(s) -> bytes.
static int CmdByteLen(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PushOneNumber(L, double(ReadStringArg(L, 1).size()));
}

// ValidateStr(s [, enc]) -> ok, characters (or the index of the first bad one).
static int CmdValidateStr(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    int ok;
    long long n;
    ValidateText(ReadStringArg(L, 1), utf8, &ok, &n);
    PushNumber(L, ok);
    PushNumber(L, double(n));
    return 2;
}

// ============================================================================
// Searching
// ============================================================================

// The arguments of the searching commands: s, sub, ..., cs, start, enc.
struct lvSearchArgs {
    std::string_view s;    // text searched
    std::string_view sub;  // text sought
    bool caseSensitive;    // compare bytes, not case-folded characters
    long long start;       // where the search starts, in the command's unit
    bool utf8;             // characters rather than bytes
};

// s is argument 1, sub argument subIndex; cs, start and enc follow from caseIndex on.
static void ReadSearchArgs(lvState *L, int subIndex, int caseIndex, long long defaultStart, lvSearchArgs *a)
{
    a->utf8 = ReadEncodingArg(L, caseIndex + 2);
    a->s = ReadTextArg(L, 1, a->utf8);
    a->sub = ReadTextArg(L, subIndex, a->utf8);
    a->caseSensitive = ReadCaseArg(L, caseIndex);
    a->start = ReadOptionalIntArg(L, caseIndex + 1, defaultStart);
}

// FindStr, ReverseFindStr and CountStr: (s, sub [, cs [, start [, enc]]]) -> a number.
typedef int (*lvSearchText)(std::string_view s, std::string_view sub, bool caseSensitive, long long start,
                            bool utf8, long long *result);

static int SearchCommand(lvState *L, lvSearchText search, long long defaultStart)
{
    CheckArgCount(L, 2, 5, 0, 0);
    lvSearchArgs a;
    ReadSearchArgs(L, 2, 3, defaultStart, &a);
    // A start the script gives never means "the default", whatever number it was.
    if (GetValueType(L, 4) != LV_TNONE && a.start == REVERSEFIND_DEFAULTSTART) a.start = -1;
    long long result;
    if (int code = search(a.s, a.sub, a.caseSensitive, a.start, a.utf8, &result)) return code;
    return PushOneNumber(L, double(result));
}

// FindStr -> first position at or after start (default 0).
static int CmdFindStr(lvState *L) { return SearchCommand(L, FindText, 0); }
// ReverseFindStr -> last position at or before start (default: the last character).
static int CmdReverseFindStr(lvState *L) { return SearchCommand(L, ReverseFindText, REVERSEFIND_DEFAULTSTART); }
// CountStr -> non-overlapping occurrences at or after start (default 0).
static int CmdCountStr(lvState *L) { return SearchCommand(L, CountText, 0); }

// ReplaceStr(s, find, repl [, cs [, start = 0 [, enc]]]) -> s with every find replaced.
static int CmdReplaceStr(lvState *L)
{
    CheckArgCount(L, 3, 6, 0, 0);
    lvSearchArgs a;
    ReadSearchArgs(L, 2, 4, 0, &a);
    std::string_view repl = ReadTextArg(L, 3, a.utf8);
    std::string out;
    if (int code = ReplaceText(a.s, a.sub, repl, a.caseSensitive, a.start, a.utf8, &out)) return code;
    return PushText(L, out);
}

// StartsWith(s, prefix [, cs [, enc]]) and EndsWith(s, suffix [, cs [, enc]]) -> 1 or 0.
static int CompareEndCommand(lvState *L, bool atEnd)
{
    CheckArgCount(L, 2, 4, 0, 0);
    bool utf8 = ReadEncodingArg(L, 4);
    std::string_view s = ReadTextArg(L, 1, utf8);
    std::string_view part = ReadTextArg(L, 2, utf8);
    bool cs = ReadCaseArg(L, 3);
    bool yes = atEnd ? TextEndsWith(s, part, cs, utf8) : TextStartsWith(s, part, cs, utf8);
    return PushOneNumber(L, yes ? 1 : 0);
}

static int CmdStartsWith(lvState *L) { return CompareEndCommand(L, false); }
static int CmdEndsWith(lvState *L) { return CompareEndCommand(L, true); }

// CompareStr(a, b [, cs [, enc]]) -> -1, 0 or 1 by the run's collation.
static int CmdCompareStr(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    bool utf8 = ReadEncodingArg(L, 4);
    std::string_view a = ReadTextArg(L, 1, utf8);
    std::string_view b = ReadTextArg(L, 2, utf8);
    bool cs = ReadCaseArg(L, 3);
    return PushOneNumber(L, CollateText(a, b, cs));
}

// IgnoreCase(flag): the default of every case-sensitivity argument.
static int CmdIgnoreCase(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    GetStringSettings()->ignoreCaseDefault = CheckNumberArg(L, 1) != 0 ? 1 : 0;
    return 0;
}

// ============================================================================
// Characters and offsets
// ============================================================================

// Asc(s [, pos = 0 [, enc]]) -> code point or byte value at pos.
static int CmdAsc(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long pos = ReadOptionalIntArg(L, 2, 0);
    double code;
    if (int err = TextCharCode(s, pos, utf8, &code)) return err;
    return PushOneNumber(L, code);
}

// Chr(code [, enc]) -> the character; 0 gives "".
static int CmdChr(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    double code = CheckNumberArg(L, 1);
    std::string out;
    if (int err = CharFromCode(code, utf8, &out)) return err;
    return PushText(L, out);
}

// ByteAsc(s [, pos = 0]) -> the byte at byte offset pos.
static int CmdByteAsc(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    long long offset;
    if (int code = TextByteOffset(s, ReadOptionalIntArg(L, 2, 0), false, &offset)) return code;
    return PushOneNumber(L, static_cast<unsigned char>(s[size_t(offset)]));
}

// ByteChr(n) -> the one-byte string n (0 included).
static int CmdByteChr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    long long n = ReadIntArg(L, 1);
    if (n < 0 || n > 255) return ERR_WRONGUSAGE;
    char byte = static_cast<char>(n);
    return PushText(L, std::string_view(&byte, 1));
}

// StrToArray(s [, enc]) -> table of the codes from index 0, then 0 at index length.
static int CmdStrToArray(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    std::vector<double> codes;
    TextToCodes(ReadTextArg(L, 1, utf8), utf8, &codes);
    PushNewSizedTable(L, int(codes.size()) + 1, 0);
    for (size_t i = 0; i < codes.size(); i++) {
        PushNumber(L, codes[i]);
        SetTableItemRaw(L, -2, int(i));
    }
    PushNumber(L, 0);
    SetTableItemRaw(L, -2, int(codes.size()));
    return 1;
}

// ArrayToStr(t [, enc]) -> the text of t[0], t[1], ... up to a 0 or a non-number.
static int CmdArrayToStr(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    bool utf8 = ReadEncodingArg(L, 2);
    CheckTableArg(L, 1);
    std::vector<double> codes;
    for (int i = 0;; i++) {
        GetTableItemRaw(L, 1, i);
        bool number = GetValueType(L, -1) == LV_TNUMBER;
        double code = number ? ValueToNumber(L, -1) : 0;
        SetStackTop(L, -2);
        if (!number || code == 0) break;
        codes.push_back(code);
    }
    std::string out;
    if (int err = CodesToText(codes.data(), codes.size(), utf8, &out)) return err;
    return PushText(L, out);
}

// ByteOffset(s, pos [, enc]) -> byte offset of character pos.
static int CmdByteOffset(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long offset;
    if (int code = TextByteOffset(s, ReadIntArg(L, 2), utf8, &offset)) return code;
    return PushOneNumber(L, double(offset));
}

// CharOffset(s, offset [, enc]) -> index of the character holding the byte (s not validated).
static int CmdCharOffset(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadStringArg(L, 1);
    long long index;
    if (int code = TextCharIndex(s, ReadIntArg(L, 2), utf8, &index)) return code;
    return PushOneNumber(L, double(index));
}

// CharWidth(s [, pos = 0 [, enc]]) -> bytes of character pos.
static int CmdCharWidth(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadTextArg(L, 1, utf8);
    long long bytes;
    if (int code = TextCharBytes(s, ReadOptionalIntArg(L, 2, 0), utf8, &bytes)) return code;
    return PushOneNumber(L, double(bytes));
}

// ConvertStr(s, from, to) -> s between ISO-8859-1 (0) and UTF-8 (1).
static int CmdConvertStr(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    long long from = ReadIntArg(L, 2);
    long long to = ReadIntArg(L, 3);
    // Only 0 and 1 form a pair; equal encodings copy s; any other pair stays unequal.
    int f = from == to ? 0 : (from == 0 || from == 1 ? int(from) : -1);
    int t = from == to ? 0 : (to == 0 || to == 1 ? int(to) : -2);
    std::string out;
    if (int code = ConvertTextEncoding(s, f, t, &out)) return code;
    return PushText(L, out);
}

// IsAlNum ... IsXDigit(s [, pos = 0 [, enc]]) -> 1 when character pos is in the class.
static int TestClassCommand(lvState *L, lvTextClass cls)
{
    CheckArgCount(L, 1, 3, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    std::string_view s = ReadTextArg(L, 1, utf8);
    int result;
    if (int code = TestTextClass(s, ReadOptionalIntArg(L, 2, 0), cls, utf8, &result)) return code;
    return PushOneNumber(L, result);
}

static int CmdIsAlNum(lvState *L) { return TestClassCommand(L, TEXTCLASS_ALNUM); }
static int CmdIsAlpha(lvState *L) { return TestClassCommand(L, TEXTCLASS_ALPHA); }
static int CmdIsCntrl(lvState *L) { return TestClassCommand(L, TEXTCLASS_CNTRL); }
static int CmdIsDigit(lvState *L) { return TestClassCommand(L, TEXTCLASS_DIGIT); }
static int CmdIsGraph(lvState *L) { return TestClassCommand(L, TEXTCLASS_GRAPH); }
static int CmdIsLower(lvState *L) { return TestClassCommand(L, TEXTCLASS_LOWER); }
static int CmdIsPrint(lvState *L) { return TestClassCommand(L, TEXTCLASS_PRINT); }
static int CmdIsPunct(lvState *L) { return TestClassCommand(L, TEXTCLASS_PUNCT); }
static int CmdIsSpace(lvState *L) { return TestClassCommand(L, TEXTCLASS_SPACE); }
static int CmdIsUpper(lvState *L) { return TestClassCommand(L, TEXTCLASS_UPPER); }
static int CmdIsXDigit(lvState *L) { return TestClassCommand(L, TEXTCLASS_XDIGIT); }

// ============================================================================
// Numbers as text
// ============================================================================

// Val(s) -> number at the start of s, bytes it takes.
static int CmdVal(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    double value;
    long long consumed;
    ReadLeadingNumber(ReadStringArg(L, 1), &value, &consumed);
    PushNumber(L, value);
    PushNumber(L, double(consumed));
    return 2;
}

// StrStr(n [, decimals = 2]) -> n with at most decimals fraction digits.
static int CmdStrStr(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    double n = CheckNumberArg(L, 1);
    std::string out;
    FormatStrStr(n, ReadOptionalIntArg(L, 2, 2), &out);
    return PushText(L, out);
}

// HexStr(n) -> "$" and upper-case hexadecimal digits.
static int CmdHexStr(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    std::string out;
    FormatHexStr(CheckNumberArg(L, 1), &out);
    return PushText(L, out);
}

// BinStr(n [, type = 1]) -> 32, 16 or 8 binary digits.
static int CmdBinStr(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    double n = CheckNumberArg(L, 1);
    long long type = ReadOptionalIntArg(L, 2, TEXTTYPE_INTEGER);
    std::string out;
    FormatBinStr(n, type >= INT32_MIN && type <= INT32_MAX ? int(type) : -1, &out);
    return PushText(L, out);
}

// PadNum(n, len) -> decimal digits of n with leading zeros up to len.
static int CmdPadNum(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    double n = CheckNumberArg(L, 1);
    std::string out;
    if (int code = PadNumber(n, ReadIntArg(L, 2), &out)) return code;
    return PushText(L, out);
}

// ToNumber(v [, base = 10]) -> v as a number.
static int CmdToNumber(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    if (GetValueType(L, 1) == LV_TPOINTER)
        return PushOneNumber(L, double(reinterpret_cast<uintptr_t>(GetUserDataPointer(L, 1))));
    long long base = ReadOptionalIntArg(L, 2, 10);
    if (base == 10) return PushOneNumber(L, ValueToNumber(L, 1));
    std::string_view s = ReadStringArg(L, 1);
    double value;
    if (int code = ParseIntegerInBase(s, base, &value)) return code;
    return PushOneNumber(L, value);
}

// ToUserData(n) -> the raw pointer value whose address is n.
static int CmdToUserData(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushPointer(L, reinterpret_cast<void *>(static_cast<uintptr_t>(ReadIntArg(L, 1))));
    return 1;
}

// FormatNumber(n [, decimals = 0 [, point = "." [, sep = ","]]]) -> grouped number text.
static int CmdFormatNumber(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    double n = CheckNumberArg(L, 1);
    long long decimals = ReadOptionalIntArg(L, 2, 0);
    std::string_view point = ReadOptionalStringArg(L, 3, ".");
    std::string_view sep = ReadOptionalStringArg(L, 4, ",");
    std::string out;
    if (int code = FormatNumberText(n, decimals, point, sep, &out)) return code;
    return PushText(L, out);
}

// ByteVal(s [, type = 1 [, little = 0]]) -> the value stored in the first bytes of s.
static int CmdByteVal(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    long long type = ReadOptionalIntArg(L, 2, TEXTTYPE_INTEGER);
    bool little = GetOptionalNumberArg(L, 3, 0) != 0;
    double value;
    if (int code = ReadTypedBytes(s, type >= INT32_MIN && type <= INT32_MAX ? int(type) : -1, little, &value))
        return code;
    return PushOneNumber(L, value);
}

// ByteStrStr(n [, type = 1 [, little = 0]]) -> n stored as the bytes of the type.
static int CmdByteStrStr(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    double n = CheckNumberArg(L, 1);
    long long type = ReadOptionalIntArg(L, 2, TEXTTYPE_INTEGER);
    bool little = GetOptionalNumberArg(L, 3, 0) != 0;
    std::string out;
    if (int code = WriteTypedBytes(n, type >= INT32_MIN && type <= INT32_MAX ? int(type) : -1, little, &out))
        return code;
    return PushText(L, out);
}

// FormatStr reads its arguments as the engine asks for them; a missing or
// unconvertible one raises the argument error naming its index.
static int ReadFormatNumber(void *user, int index, double *value)
{
    *value = CheckNumberArg(static_cast<lvState *>(user), index);
    return 0;
}

static int ReadFormatString(void *user, int index, std::string *value)
{
    size_t n;
    const char *s = CheckStringArg(static_cast<lvState *>(user), index, &n);
    value->assign(s, n);
    return 0;
}

// FormatStr(fmt, ...) -> fmt with its conversions filled from the arguments.
static int CmdFormatStr(lvState *L)
{
    CheckArgCount(L, 1, 0, 0, 0);
    std::string_view fmt = ReadStringArg(L, 1);
    lvFormatArgs args = {L, ReadFormatNumber, ReadFormatString};
    std::string out;
    if (int code = FormatText(fmt, &args, &out)) return code;
    return PushText(L, out);
}

// ============================================================================
// Digests
// ============================================================================

// MD5Str(s) -> 32 lower-case hexadecimal digits.
static int CmdMD5Str(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    char hex[33];
    Md5HexOfRange(s.data(), s.size(), hex);
    return PushText(L, std::string_view(hex, 32));
}

// SHA1Str(s) -> 40 lower-case hexadecimal digits.
static int CmdSHA1Str(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    char hex[41];
    Sha1HexOfRange(s.data(), s.size(), hex);
    return PushText(L, std::string_view(hex, 40));
}

// CRC32Str(s) -> CRC-32 of the bytes as an unsigned number.
static int CmdCRC32Str(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    std::string_view s = ReadStringArg(L, 1);
    return PushOneNumber(L, double(UpdateCrc32(0, s.data(), s.size())));
}

// ============================================================================
// Patterns
// ============================================================================

static void PushCaptureValue(lvState *L, const lvCaptureValue &v)
{
    if (v.isPosition) PushNumber(L, v.position);
    else PushSizedString(L, v.text, v.length);
}

// Pushes the captures of a match (or the whole match); 0 or an error code.
static int PushMatchCaptures(lvState *L, const lvPatternResult *match, int *count)
{
    lvCaptureValue values[PATTERN_MAXCAPTURES];
    int n;
    if (int code = GetPatternCaptures(match, values, &n)) return code;
    if (!EnsureStackSpace(L, n)) return ERR_STACK;
    for (int i = 0; i < n; i++) PushCaptureValue(L, values[i]);
    *count = n;
    return 0;
}

// The first match of PatternFindStrDirect and PatternFindStrShort:
// (s, pattern [, start = 0 [, enc]]); 0 or an error code.
static int FindFirstMatch(lvState *L, lvPatternResult *match)
{
    CheckArgCount(L, 2, 4, 0, 0);
    bool utf8 = ReadEncodingArg(L, 4);
    std::string_view s = ReadTextArg(L, 1, utf8);
    std::string_view pattern = ReadTextArg(L, 2, utf8);
    long long start = ReadOptionalIntArg(L, 3, 0);
    size_t startByte;
    if (int code = PatternStartOffset(s.data(), s.size(), start, utf8, &startByte)) return code;
    return FindPatternFirst(s.data(), s.size(), pattern.data(), pattern.size(), startByte, utf8, match);
}

// PatternFindStrDirect(s, pattern [, start [, enc]]) -> start, last, captures; -1 when none.
static int CmdPatternFindStrDirect(lvState *L)
{
    lvPatternResult match;
    if (int code = FindFirstMatch(L, &match)) return code;
    if (!match.found) return PushOneNumber(L, -1);
    PushNumber(L, double(match.startIndex));
    PushNumber(L, double(match.lastIndex));
    if (match.state.level == 0) return 2;
    int n;
    if (int code = PushMatchCaptures(L, &match, &n)) return code;
    return 2 + n;
}

// PatternFindStrShort(s, pattern [, start [, enc]]) -> the captures or the match; -1 when none.
static int CmdPatternFindStrShort(lvState *L)
{
    lvPatternResult match;
    if (int code = FindFirstMatch(L, &match)) return code;
    if (!match.found) return PushOneNumber(L, -1);
    int n;
    if (int code = PushMatchCaptures(L, &match, &n)) return code;
    return n;
}

// One call of the iterator that PatternFindStr hands out. Upvalues: the
// subject, the pattern and the byte position of the next search.
static int IteratePatternMatches(lvState *L, bool utf8)
{
    const char *s = ValueToString(L, LvUpvalueIndex(1));
    size_t sl = ValueStringLength(L, LvUpvalueIndex(1));
    const char *p = ValueToString(L, LvUpvalueIndex(2));
    size_t pl = ValueStringLength(L, LvUpvalueIndex(2));
    size_t position = size_t(ValueToNumber(L, LvUpvalueIndex(3)));
    lvPatternResult match;
    int n = 0;
    int code = FindPatternNext(s, sl, p, pl, utf8, &position, &match);
    if (code == 0 && match.found) {
        PushNumber(L, double(position));
        ReplaceValue(L, LvUpvalueIndex(3));
        code = PushMatchCaptures(L, &match, &n);
    }
    return code == 0 ? n : code;
}

static int IterateByteMatches(lvState *L) { return IteratePatternMatches(L, false); }
static int IterateUtf8Matches(lvState *L) { return IteratePatternMatches(L, true); }

// PatternFindStr(s, pattern [, enc]) -> an iterator over all matches (further arguments dropped).
static int CmdPatternFindStr(lvState *L)
{
    CheckArgCount(L, 2, 0, 0, 0);
    bool utf8 = ReadEncodingArg(L, 3);
    ReadStringArg(L, 1);
    ReadStringArg(L, 2);
    SetStackTop(L, 2);
    PushNumber(L, 0);
    PushNativeClosure(L, utf8 ? IterateUtf8Matches : IterateByteMatches, 3);
    return 1;
}

// The replacement function of PatternReplaceStr as the engine's callback.
struct lvFunctionReplacement {
    lvState *L;         // the machine running the command
    int functionIndex;  // stack index of the script's function
};

static int ReplaceByFunction(void *user, const lvCaptureValue *values, int count, std::string *insert, int *keep)
{
    lvFunctionReplacement *r = static_cast<lvFunctionReplacement *>(user);
    lvState *L = r->L;
    if (!EnsureStackSpace(L, count + 1)) return ERR_STACK;
    PushCopy(L, r->functionIndex);
    for (int i = 0; i < count; i++) PushCaptureValue(L, values[i]);
    int code = CallFunction(L, count, 1);
    int type = GetValueType(L, -1);
    if (code == 0) {
        if (type == LV_TNIL || (type == LV_TBOOLEAN && !ValueToBoolean(L, -1))) *keep = 1;
        else if (type == LV_TSTRING || type == LV_TNUMBER)
            insert->assign(ValueToString(L, -1), ValueStringLength(L, -1));
        else code = ERR_INVREPLACE;
    }
    SetStackTop(L, -2);
    return code;
}

// PatternReplaceStr(s, pattern, repl [, max [, enc]]) -> new string, replacements made.
static int CmdPatternReplaceStr(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    bool utf8 = ReadEncodingArg(L, 5);
    std::string_view s = ReadStringArg(L, 1);
    std::string_view pattern = ReadStringArg(L, 2);
    long long maxCount = ReadOptionalIntArg(L, 4, (long long)s.size() + 1);
    lvFunctionReplacement byFunction = {L, 3};
    lvReplacement replacement = {};
    int type = GetValueType(L, 3);
    if (type == LV_TSTRING || type == LV_TNUMBER) {
        std::string_view text = ReadStringArg(L, 3);
        replacement.text = text.data();
        replacement.textLength = text.size();
    } else if (type == LV_TFUNCTION) {
        replacement.callback = ReplaceByFunction;
        replacement.user = &byFunction;
    } else {
        return ERR_WRONGUSAGE;
    }
    std::string out;
    long long count;
    if (int code = ReplacePattern(s.data(), s.size(), pattern.data(), pattern.size(), &replacement, maxCount, utf8,
                                  &out, &count))
        return code;
    PushText(L, out);
    PushNumber(L, double(count));
    return 2;
}

// ============================================================================
// Eval
// ============================================================================

// The declared variables of Eval's options: copies of their names and values.
struct lvEvalDeclarations {
    std::vector<std::string> names;         // the names as declared
    std::vector<lvEvalVariable> variables;  // what the engine reads (names point into names)
};

// Reads item i of the "variables" list at the stack top; 1 when there was one,
// 0 at the end of the list, or an error code.
static int ReadEvalVariable(lvState *L, int i, lvEvalDeclarations *d, double *value)
{
    GetTableItemRaw(L, -1, i);
    int type = GetValueType(L, -1);
    int answer = 1;
    if (type == LV_TNIL) {
        answer = 0;
    } else if (type != LV_TTABLE) {
        GetVMHost()->SetErrorNumberArg(2);
        answer = ERR_TABEXPECTED;
    } else {
        if (PushFieldValue(L, -1, "name") != LV_TSTRING ||
            CheckEvalVariableName(ValueToString(L, -1), ValueStringLength(L, -1)) != 0) {
            answer = ERR_WRONGUSAGE;
        } else {
            d->names.emplace_back(ValueToString(L, -1), ValueStringLength(L, -1));
        }
        SetStackTop(L, -2);
        if (answer == 1) {
            int vt = PushFieldValue(L, -1, "value");
            *value = 0;
            if (vt != LV_TNIL) {
                // A value that is no number is the evaluator's "Number expected!", as for
                // a global that is no number.
                if (CanConvertToNumber(L, -1)) *value = ValueToNumber(L, -1);
                else answer = ERR_NUMBEREXPECTED;
            }
            SetStackTop(L, -2);
        }
    }
    SetStackTop(L, -2);
    return answer;
}

// Reads the options table at index 2 into options; 0 or an error code.
static int ReadEvalOptions(lvState *L, lvEvalDeclarations *d, lvEvalOptions *options)
{
    options->nodeclare = IsFieldOn(L, 2, "nodeclare");
    options->mapvariables = IsFieldOn(L, 2, "mapvariables");
    int type = PushFieldValue(L, 2, "variables");
    int code = 0;
    if (type == LV_TTABLE) {
        std::vector<double> values;
        for (int i = 0;; i++) {
            double value;
            int r = ReadEvalVariable(L, i, d, &value);
            if (r == 0) break;
            if (r != 1) {
                code = r;
                break;
            }
            values.push_back(value);
        }
        for (size_t i = 0; code == 0 && i < values.size(); i++)
            d->variables.push_back({d->names[i].data(), d->names[i].size(), values[i]});
    } else if (type != LV_TNIL) {
        code = ERR_WRONGUSAGE;
    }
    SetStackTop(L, -2);
    options->variables = d->variables.data();
    options->variableCount = int(d->variables.size());
    return code;
}

// The script's global variables as Eval's mapvariables reads them.
static int LookupEvalGlobal(void *user, const char *name, size_t length, double *value)
{
    lvState *L = static_cast<lvState *>(user);
    PushSizedString(L, name, length);
    GetTableValue(L, LV_GLOBALSINDEX);
    int type = GetValueType(L, -1);
    int answer = EVAL_GLOBAL_OTHER;
    if (type == LV_TNUMBER) {
        *value = ValueToNumber(L, -1);
        answer = EVAL_GLOBAL_NUMBER;
    } else if (type == LV_TNIL) {
        answer = EVAL_GLOBAL_NIL;
    }
    SetStackTop(L, -2);
    return answer;
}

// Eval(expr [, options]) -> the value of the expression.
static int CmdEval(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    std::string_view expr = ReadStringArg(L, 1);
    lvEvalDeclarations declarations;
    lvEvalOptions options = {};
    options.lookupGlobal = LookupEvalGlobal;
    options.user = L;
    if (GetStackTop(L) >= 2) {
        CheckTableArg(L, 2);
        if (int code = ReadEvalOptions(L, &declarations, &options)) return code;
    }
    double value;
    if (int code = EvaluateExpression(expr.data(), expr.size(), &options, &value)) return code;
    return PushOneNumber(L, value);
}

// ============================================================================
// The library
// ============================================================================

static const lvCommandEntry kStringCommands[] = {
    {"LowerStr", CmdLowerStr},
    {"UpperStr", CmdUpperStr},
    {"Val", CmdVal},
    {"StrStr", CmdStrStr},
    {"UnrightStr", CmdUnrightStr},
    {"UnleftStr", CmdUnleftStr},
    {"Chr", CmdChr},
    {"MidStr", CmdMidStr},
    {"RightStr", CmdRightStr},
    {"LeftStr", CmdLeftStr},
    {"FindStr", CmdFindStr},
    {"AddStr", CmdAddStr},
    {"HexStr", CmdHexStr},
    {"Asc", CmdAsc},
    {"StrLen", CmdStrLen},
    {"ReplaceStr", CmdReplaceStr},
    {"BinStr", CmdBinStr},
    {"SplitStr", CmdSplitStr},
    {"PadNum", CmdPadNum},
    {"StrToArray", CmdStrToArray},
    {"TrimStr", CmdTrimStr},
    {"ToNumber", CmdToNumber},
    {"UnmidStr", CmdUnmidStr},
    {"CountStr", CmdCountStr},
    {"InsertStr", CmdInsertStr},
    {"RepeatStr", CmdRepeatStr},
    {"MD5Str", CmdMD5Str},
    {"CRC32Str", CmdCRC32Str},
    {"FormatStr", CmdFormatStr},
    {"PatternFindStr", CmdPatternFindStr},
    {"PatternReplaceStr", CmdPatternReplaceStr},
    {"Eval", CmdEval},
    {"PatternFindStrDirect", CmdPatternFindStrDirect},
    {"PatternFindStrShort", CmdPatternFindStrShort},
    {"ArrayToStr", CmdArrayToStr},
    {"ToUserData", CmdToUserData},
    {"ByteOffset", CmdByteOffset},
    {"CharOffset", CmdCharOffset},
    {"CharWidth", CmdCharWidth},
    {"ValidateStr", CmdValidateStr},
    {"ConvertStr", CmdConvertStr},
    {"ReverseStr", CmdReverseStr},
    {"ByteLen", CmdByteLen},
    {"IsAlNum", CmdIsAlNum},
    {"IsAlpha", CmdIsAlpha},
    {"IsCntrl", CmdIsCntrl},
    {"IsDigit", CmdIsDigit},
    {"IsGraph", CmdIsGraph},
    {"IsLower", CmdIsLower},
    {"IsPrint", CmdIsPrint},
    {"IsPunct", CmdIsPunct},
    {"IsSpace", CmdIsSpace},
    {"IsUpper", CmdIsUpper},
    {"IsXDigit", CmdIsXDigit},
    {"CompareStr", CmdCompareStr},
    {"ByteAsc", CmdByteAsc},
    {"ByteChr", CmdByteChr},
    {"StartsWith", CmdStartsWith},
    {"EndsWith", CmdEndsWith},
    {"StripStr", CmdStripStr},
    {"EmptyStr", CmdEmptyStr},
    {"ByteVal", CmdByteVal},
    {"ByteStrStr", CmdByteStrStr},
    {"ReverseFindStr", CmdReverseFindStr},
    {"IgnoreCase", CmdIgnoreCase},
    {"FormatNumber", CmdFormatNumber},
    {"SHA1Str", CmdSHA1Str},
    {nullptr, nullptr},
};

const lvCommandEntry *GetStringCommands() { return kStringCommands; }

int OpenStringLibrary(lvState *L) { return RegisterCommandTable(L, kStringCommands, "string"); }
