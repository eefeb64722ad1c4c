// textchars.h - the character services the string engines need: decoding and
// stepping over UTF-8, class tests and case mapping of one character, the
// ISO-8859-1 tables, and the runtime's number-literal reader.
//
// Every engine in libs/ reaches characters only through this header, which
// maps them onto the runtime's encoding module (runtime/encoding.h) in one
// place, with the mode chosen per call rather than by the run's encoding.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- UTF-8 ------------------------------------------------------------------
// Decodes the character at p (p < end): returns its byte count and stores the
// code point. A byte that does not begin a sequence gives its own value and 1;
// at the end (p >= end) the code is 0 and the count 0.
int DecodeTextChar(const char *p, const char *end, uint32_t *code);
// The start of the character before p, never before start (over continuation bytes).
const char *StepBackTextChar(const char *p, const char *start);
// Writes code as UTF-8 (1 to 4 bytes); returns the count, 0 above 0x10FFFF.
int EncodeUtf8Char(char *out, uint32_t code);
// True when the bytes are well-formed UTF-8 (no surrogates, nothing above
// 0x10FFFF, shortest forms); *count gets the characters before the first error.
bool IsValidUtf8(const char *text, size_t length, size_t *count);

// ---- Classes and case ---------------------------------------------------------
// Class letters as patterns use them: a c d g l p s u w x z (lower case only).
// With utf8 the Unicode test of the code point, else the ISO-8859-1 byte test.
bool TestCharClass(uint32_t code, int classLetter, bool utf8);
// Printable: space or graphic.
bool IsPrintChar(uint32_t code, bool utf8);
uint32_t LowerChar(uint32_t code, bool utf8);
// The form searches without regard to case compare: Unicode case folding, or
// the ISO-8859-1 lower case.
uint32_t FoldChar(uint32_t code, bool utf8);

// ---- Numbers ----------------------------------------------------------------
// Reads a number literal at text: optional "-", "$"/"0x" hexadecimal (64-bit),
// "%" binary (unsigned 32-bit) or a decimal literal ("." and digit allowed).
// *consumed gets the bytes used; *error 0, 1018 (prefix without digits) or
// 1024 (nothing numeric). The text is read up to end.
double ParseNumberText(const char *text, const char *end, size_t *consumed, int *error);

// ---- Positions ----------------------------------------------------------------
// Characters (utf8) or bytes in the first `bytes` bytes of text.
size_t CountTextChars(const char *text, size_t bytes, bool utf8);
// Byte offset of character n (utf8) or n itself, clamped to length.
size_t CharToByteOffset(const char *text, size_t length, size_t n, bool utf8);
// Byte count of the character at p (1 in byte mode; 0 at the end).
int TextCharWidth(const char *p, const char *end, bool utf8);
