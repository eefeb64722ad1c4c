// strings_engine.h - the text operations of the string library, apart from its
// commands: each command reads its arguments, calls one function here and
// pushes the result.
//
// Conventions: `utf8` selects characters (UTF-8) over bytes; positions and
// lengths are in that unit, 0-based; a search that finds nothing gives -1.
// Functions that can fail return 0 or an error code (1055 for out-of-range
// arguments, as the commands document) and write their result only on success.
// Texts are byte ranges that may hold zero bytes; UTF-8 arguments are expected
// to be validated first (CheckUtf8Argument), except where noted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Value types of ByteVal and ByteStrStr (the memory-block library's numbers).
enum {
    TEXTTYPE_INTEGER = 1,   // 4 bytes, read unsigned
    TEXTTYPE_SHORT = 6,     // 2 bytes, read unsigned
    TEXTTYPE_BYTE = 7,      // 1 byte
    TEXTTYPE_FLOAT = 11,    // IEEE single
    TEXTTYPE_DOUBLE = 12,   // IEEE double
};

// The character classes of IsAlNum ... IsXDigit.
enum lvTextClass {
    TEXTCLASS_ALNUM, TEXTCLASS_ALPHA, TEXTCLASS_CNTRL, TEXTCLASS_DIGIT, TEXTCLASS_GRAPH, TEXTCLASS_LOWER,
    TEXTCLASS_PRINT, TEXTCLASS_PUNCT, TEXTCLASS_SPACE, TEXTCLASS_UPPER, TEXTCLASS_XDIGIT,
};

// Where FormatStr takes its arguments from: the command layer reads script
// arguments by their index (2 for the first after the format); each reader
// returns 0 or the argument error it raises.
struct lvFormatArgs {
    void *user;                                                       // handed to the readers
    int (*getNumber)(void *user, int index, double *value);           // argument as a number
    int (*getString)(void *user, int index, std::string *value);      // argument as a string
};

// The string library's two settings, one instance for the run; only the
// script thread touches them.
struct lvStringSettings {
    int defaultEncoding;     // default of every encoding argument: 1 UTF-8, else bytes
    int ignoreCaseDefault;   // set by IgnoreCase: searches default to ignoring case
};

// The run's settings (starts as {1, 0}; the end of the preload and
// SetDefaultEncoding change the encoding, IgnoreCase the flag).
lvStringSettings *GetStringSettings();
// An encoding argument selects characters only when it is 1 (ENCODING_UTF8).
inline bool IsUtf8Encoding(int encoding) { return encoding == 1; }

// ---- Validation and measures ------------------------------------------------------
// 0, or 1588 when utf8 is set and s is not well-formed UTF-8.
int CheckUtf8Argument(std::string_view s, bool utf8);
// Characters or bytes.
long long TextLength(std::string_view s, bool utf8);
// ValidateStr: in UTF-8 *ok 1 and *n the character count, or *ok 0 and *n the
// index of the first illegal character; other encodings 1 and -1.
void ValidateText(std::string_view s, bool utf8, int *ok, long long *n);

// ---- Pieces -------------------------------------------------------------------
int UnrightText(std::string_view s, long long n, bool utf8, std::string *out);
int UnleftText(std::string_view s, long long n, bool utf8, std::string *out);
// A negative position counts as 0; len -1 means up to the end.
void MidText(std::string_view s, long long pos, long long len, bool utf8, std::string *out);
void RightText(std::string_view s, long long n, bool utf8, std::string *out);
void LeftText(std::string_view s, long long n, bool utf8, std::string *out);
int UnmidText(std::string_view s, long long pos, long long len, bool utf8, std::string *out);
int InsertText(std::string_view s, std::string_view ins, long long pos, bool overwrite, bool utf8,
               std::string *out);
int RepeatText(std::string_view s, long long n, std::string *out);
void ReverseText(std::string_view s, bool utf8, std::string *out);
int TrimText(std::string_view s, std::string_view c, bool fromRight, bool utf8, std::string *out);
// StripStr: without leading and trailing white-space bytes.
std::string_view StripTextSpace(std::string_view s);
// EmptyStr: empty or only white-space bytes.
bool IsBlankText(std::string_view s);
// SplitStr (bytes); an empty separator is 1055.
int SplitText(std::string_view s, std::string_view sep, bool merge, std::vector<std::string_view> *pieces);

// ---- Searching ------------------------------------------------------------------
int FindText(std::string_view s, std::string_view sub, bool caseSensitive, long long start, bool utf8,
             long long *position);
// Start of ReverseFindText when the script gives none: length - 1, or 0 for an empty s.
const long long REVERSEFIND_DEFAULTSTART = INT64_MIN;
// ReverseFindStr; any other start below 0 is 1055.
int ReverseFindText(std::string_view s, std::string_view sub, bool caseSensitive, long long start, bool utf8,
                    long long *position);
int CountText(std::string_view s, std::string_view sub, bool caseSensitive, long long start, bool utf8,
              long long *count);
int ReplaceText(std::string_view s, std::string_view find, std::string_view repl, bool caseSensitive,
                long long start, bool utf8, std::string *out);
bool TextStartsWith(std::string_view s, std::string_view prefix, bool caseSensitive, bool utf8);
bool TextEndsWith(std::string_view s, std::string_view suffix, bool caseSensitive, bool utf8);

// ---- Characters -------------------------------------------------------------------
// LowerStr and UpperStr (1000 when memory runs out).
int ChangeTextCase(std::string_view s, bool upper, bool utf8, std::string *out);
// Asc: 0 for an empty s.
int TextCharCode(std::string_view s, long long pos, bool utf8, double *code);
// Chr: code 0 gives "".
int CharFromCode(double code, bool utf8, std::string *out);
// StrToArray without the closing 0.
void TextToCodes(std::string_view s, bool utf8, std::vector<double> *codes);
// ArrayToStr: the numbers up to (not including) the first 0.
int CodesToText(const double *codes, size_t count, bool utf8, std::string *out);
int TestTextClass(std::string_view s, long long pos, lvTextClass cls, bool utf8, int *result);
int TextByteOffset(std::string_view s, long long pos, bool utf8, long long *offset);
// CharOffset; s need not be valid UTF-8.
int TextCharIndex(std::string_view s, long long offset, bool utf8, long long *index);
int TextCharBytes(std::string_view s, long long pos, bool utf8, long long *bytes);
// ConvertStr between ISO-8859-1 (0) and UTF-8 (1); s is read up to its first zero byte.
int ConvertTextEncoding(std::string_view s, int from, int to, std::string *out);
// CompareStr: -1, 0 or 1 by the run's encoding (not the argument's): the
// user's locale for UTF-8, byte order or case-folded bytes for ISO-8859-1.
// Texts are compared up to a zero byte.
int CollateText(std::string_view a, std::string_view b, bool caseSensitive);

// ---- Numbers ------------------------------------------------------------------------
// Val: the number at the start of s and the bytes it takes (0, 0 when none).
void ReadLeadingNumber(std::string_view s, double *value, long long *consumed);
// StrStr.
void FormatStrStr(double n, long long decimals, std::string *out);
// HexStr: "$" and upper-case digits of the 64-bit integer (two's complement when negative).
void FormatHexStr(double n, std::string *out);
void FormatBinStr(double n, int type, std::string *out);
int PadNumber(double n, long long length, std::string *out);
// ToNumber for bases other than 10.
int ParseIntegerInBase(std::string_view s, long long base, double *value);
int FormatNumberText(double n, long long decimals, std::string_view point, std::string_view sep,
                     std::string *out);
int ReadTypedBytes(std::string_view s, int type, bool little, double *value);
int WriteTypedBytes(double n, int type, bool little, std::string *out);
// FormatStr.
int FormatText(std::string_view fmt, const lvFormatArgs *args, std::string *out);
