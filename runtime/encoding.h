// encoding.h - text encodings: the run-wide encoding flag, UTF-8 validation, decoding,
// encoding and navigation, UTF-8 <-> ISO-8859-1 conversion, character classes, case
// mapping, comparison without regard to case, and collation.
//
// Depends on: platform/lvplatform.h (AllocMemory/FreeMemory for allocated results),
// runtime/unicode_tables.h (generated range tables). No VM types.
// Limits: case mapping is simple (one code point to one code point); the ß of German
// does not fold to "ss". Collation uses the user's locale through the C library.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Encoding state -----------------------------------------------------------------

enum {
    LV_ENCODING_LATIN1 = 0,  // ISO-8859-1, one byte a character
    LV_ENCODING_UTF8 = 1,    // UTF-8
};

// The current encoding (hot path: a plain load).
int GetGlobalEncoding();
// Sets the flag (and the platform's path encoding with it). Only start-up (through the
// switch to ISO-8859-1) and tests call it.
void SetGlobalEncoding(int encoding);
// The engine of the switch to ISO-8859-1 at start-up: clears the flag and converts each
// given NUL-terminated text in place from UTF-8 (null entries are skipped). Start-up hands
// it the paths and names it holds; running the plug-ins' hooks after it is start-up's.
void SwitchTextsToLatin1(char *const *texts, size_t count);
// Writes one character in the current encoding: UTF-8 bytes, or one byte ('?' above 255).
// buffer needs 5 bytes; it is NUL-terminated. Returns the bytes written without the NUL.
int EncodeChar(char *buffer, uint32_t code);

// ---- UTF-8 ------------------------------------------------------------------------

// True when text[0..length) is well-formed UTF-8 (no overlongs, no surrogates, nothing
// above 0x10FFFF). countOut (may be null) receives the characters before the first error.
bool ValidateUtf8(const char *text, size_t length, size_t *countOut);
// Character count of a NUL-terminated text; 0 with *invalidOut = 1 when it is not UTF-8.
size_t CountValidUtf8Chars(const char *text, int *invalidOut);
// The same for text[0..length).
size_t CountUtf8CharsChecked(const char *text, size_t length, int *invalidOut);
// Decodes one character at p (before end) by the general rule: up to six bytes, overlong
// forms and surrogates decoded as they stand (ValidateUtf8 is the strict test). Returns
// the bytes used; a lead byte without its continuation bytes, or a stray continuation
// byte, gives its own value and 1; p == end gives code 0 and 0.
int DecodeUtf8(const char *p, const char *end, uint32_t *codeOut);
// Reads one character at text[*position] and moves *position past it. A run of more than
// five continuation bytes yields '?'.
uint32_t NextUtf8CodePoint(const char *text, size_t *position);
// The same, not reading at or past length.
uint32_t NextUtf8CodePointBounded(size_t *position, size_t length, const char *text);
// Writes code as 1 to 4 bytes and a NUL (buffer: 5 bytes). Returns 1; above 0x10FFFF
// writes "?" and returns 0. Surrogates are encoded as they are.
int EncodeUtf8(char *buffer, uint32_t code);
// Writes code as UTF-8 without a NUL; returns the bytes written (1 for the "?" that
// stands for a code above 0x10FFFF).
int PutUtf8(char *buffer, uint32_t code);
// Byte offset of character n (a character is a byte and up to three continuation bytes).
size_t Utf8ByteOffset(const char *text, size_t n);
// Characters in text[0..bytes).
size_t Utf8CharCount(const char *text, size_t bytes);
// The next character after p (not past end); the previous one before p (not before start).
const char *NextUtf8Char(const char *p, const char *end);
const char *PrevUtf8Char(const char *p, const char *start);
// Characters between start and end; a byte from 0xC0 up starts a decoded sequence.
size_t CountUtf8Chars(const char *start, const char *end);
// Copies a NUL-terminated text to out (same size at least), turning every byte that does
// not start a legal sequence into '?', and legal sequences of surrogates or codes above
// 0x10FFFF into one '?' a byte. Returns the bytes written without the NUL.
size_t SanitizeUtf8(const char *text, char *out);

// ---- Conversions ------------------------------------------------------------------
// length 0 means the whole NUL-terminated text. Allocated results come from AllocMemory
// and are released with FreeMemory; they are null when memory runs out.

// buffer holds 2 * length + 1 bytes; returns the bytes written (NUL-terminated).
size_t Latin1ToUtf8Into(const char *text, char *buffer, size_t length);
char *Latin1ToUtf8(const char *text, size_t length);
// buffer holds length + 1 bytes; every code above 255 becomes '?'.
size_t Utf8ToLatin1Into(const char *text, char *buffer, size_t length);
char *Utf8ToLatin1(const char *text, size_t length);
// As Utf8ToLatin1Into; also turns sourcePosition (a pointer into text) into the matching
// output position (*outputPosition; the output's end when the source position is past it).
size_t Utf8ToLatin1Range(const char *text, char *buffer, size_t length, const char *sourcePosition,
                         char **outputPosition);
// Converts in place from UTF-8 to ISO-8859-1 (the result is never longer).
void Utf8ToLatin1InPlace(char *text);
// from 1 to 0 or 0 to 1; any other pair gives null. tags: {tag, value} words ended by
// tag 0 (may be null); tag 1 gives the length in bytes.
char *ConvertTextEncoding(const char *text, int from, int to, const uint32_t *tags);

// ---- Classes and case --------------------------------------------------------------

// Current encoding: Unicode code points in UTF-8 mode, ISO-8859-1 bytes otherwise.
// Nothing calls IsGraphChar yet: kept for the text library and the format tags still to come.
bool IsGraphChar(uint32_t c);
bool IsAlphaChar(uint32_t c);
// Nothing calls IsAlNumChar yet: kept for the text library and the format tags still to come.
bool IsAlNumChar(uint32_t c);
uint32_t ToLowerChar(uint32_t c);
uint32_t ToUpperChar(uint32_t c);

// ISO-8859-1 (values above 255 are in no class and map to themselves).
bool IsGraphLatin1(uint32_t c);
bool IsAlphaLatin1(uint32_t c);
bool IsAlNumLatin1(uint32_t c);
bool IsLowerLatin1(uint32_t c);
bool IsUpperLatin1(uint32_t c);
uint32_t ToLowerLatin1(uint32_t c);
uint32_t ToUpperLatin1(uint32_t c);

// Unicode.
bool IsAlphaUnicode(uint32_t c);
bool IsLowerUnicode(uint32_t c);
bool IsUpperUnicode(uint32_t c);
bool IsCntrlUnicode(uint32_t c);
bool IsDigitUnicode(uint32_t c);
bool IsXDigitUnicode(uint32_t c);
bool IsPunctUnicode(uint32_t c);
bool IsSpaceUnicode(uint32_t c);
bool IsGraphUnicode(uint32_t c);  // not white space, and graphic or a combining mark
bool IsPrintUnicode(uint32_t c);  // white space or graphic
bool IsAlNumUnicode(uint32_t c);  // letter, digit or other number
uint32_t ToLowerUnicode(uint32_t c);
uint32_t ToUpperUnicode(uint32_t c);
uint32_t FoldCaseUnicode(uint32_t c);

// ---- Comparison and search ---------------------------------------------------------

// Current encoding; <0, 0 or >0. The N forms look at n bytes of each side at most.
int StrCmpNoCase(const char *a, const char *b);
int StrNCmpNoCase(const char *a, const char *b, size_t n);
// Folded code point by code point; the side that ends first is the smaller.
int CompareUtf8NoCase(const char *aStart, const char *aEnd, const char *bStart, const char *bEnd);
int StrCmpNoCaseUtf8(const char *a, const char *b);
int StrNCmpNoCaseUtf8(const char *a, const char *b, size_t n);
// Two byte ranges of equal length.
int CompareUtf8NoCaseN(const char *a, const char *b, size_t length);
// Difference of the upper-case mappings of the first differing bytes.
int StrCmpNoCaseLatin1(const char *a, const char *b);
int StrNCmpNoCaseLatin1(const char *a, const char *b, size_t n);
// 0 when n bytes are equal by their lower-case mapping, 1 otherwise.
int CompareLatin1NoCaseN(const char *a, const char *b, size_t n);
// First place of needle in haystack without regard to case, or null.
const char *FindStrNoCase(const char *haystack, size_t length, const char *needle, size_t needleLength,
                          int encoding);
// Locale-aware in UTF-8 mode (the user's locale; case ignored unless caseSensitive):
// -1, 0 or 1. ISO-8859-1 mode: StrCmpNoCaseLatin1 or a plain byte comparison.
int CollateStrings(const char *a, const char *b, int caseSensitive);

// ---- Case change -------------------------------------------------------------------

// In place, in the current or the given encoding. In UTF-8 a character whose mapping needs
// more bytes than it has becomes one '?' per original byte (the text cannot grow here);
// a mapping that needs fewer bytes closes the gap, so no stray bytes remain. Ill-formed
// bytes are kept. Return the new length in bytes.
size_t LowerStrInPlace(char *text);
size_t UpperStrInPlace(char *text);
size_t LowerStrInPlaceAs(char *text, int encoding);
size_t UpperStrInPlaceAs(char *text, int encoding);
// Allocated case-changed copy of text[0..length) (exact, growing where a mapping is
// longer); *lengthOut gets its length. Null when memory runs out.
char *ChangeCaseCopy(const char *text, size_t length, int encoding, int upper, size_t *lengthOut);
