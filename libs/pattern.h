// pattern.h - the pattern engine behind PatternFindStr, PatternFindStrDirect,
// PatternFindStrShort and PatternReplaceStr: one backtracking matcher over
// classes, sets, repetition, captures, back-references, balanced pairs and
// frontiers, in byte mode (ISO-8859-1 classes) or UTF-8 mode (whole characters,
// Unicode classes, positions counted in characters).
//
// Every function returns 0 or an error code (1461-1468, 1581-1583, or what a
// replacement callback returns); nothing is half-written on an error except
// the output string of ReplacePattern, which the caller then drops.
// Limits: 32 captures, 200 levels of matcher recursion.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum {
    PATTERN_MAXCAPTURES = 32,   // captures a pattern may open
    PATTERN_MAXDEPTH = 200,     // nested matcher calls before "Pattern too complex!"
    PATTERN_CAPOPEN = -1,       // capture length: still open
    PATTERN_CAPPOSITION = -2,   // capture length: position capture "()"
};

// ---- Records ----------------------------------------------------------------
struct lvPatternCapture {
    const char *start;   // where the capture begins in the subject
    long long length;    // byte length, or PATTERN_CAPOPEN / PATTERN_CAPPOSITION
};

// One match attempt; lives on the caller's stack.
struct lvMatchState {
    int matchDepth;                                      // levels left before 1581
    const char *subjectStart;                            // first byte of the subject
    const char *subjectEnd;                              // one past its last byte
    const char *patternEnd;                              // one past the pattern's last byte
    int level;                                           // captures opened so far
    lvPatternCapture captures[PATTERN_MAXCAPTURES];      // the captures
    int utf8;                                            // 1: characters are UTF-8
};

// A successful match.
struct lvPatternResult {
    int found;              // 1 when there is a match (the rest is valid only then)
    size_t startByte;       // byte offset of the match start
    size_t endByte;         // byte offset one past the match
    long long startIndex;   // match start in the caller's unit (FindPatternFirst only)
    long long lastIndex;    // its last unit, startIndex - 1 when empty (FindPatternFirst only)
    lvMatchState state;     // subject, mode and the captures of the match
};

// A capture as scripts see it: a piece of the subject or a position from 1.
struct lvCaptureValue {
    int isPosition;        // 1: a position capture, the number is in position
    double position;       // characters (or bytes) before the point, plus 1
    const char *text;      // the captured bytes (not terminated)
    size_t length;         // their count
};

// The replacement of PatternReplaceStr: fixed text with "%" escapes, or a
// callback that the command layer fills (script function, table lookup).
// The callback gets the capture values (or the whole match) and either sets
// *keep to leave the matched text, or fills *insert; it returns 0 or an error
// code (1583 for a value it cannot insert).
typedef int (*lvReplaceCallback)(void *user, const lvCaptureValue *values, int count, std::string *insert,
                                 int *keep);

struct lvReplacement {
    const char *text;            // replacement text when callback is null
    size_t textLength;           // its byte length
    lvReplaceCallback callback;  // called for each match when set
    void *user;                  // handed to the callback
};

// ---- Operations ---------------------------------------------------------------
// The byte offset of a start position in characters (utf8) or bytes; a start
// below 0 or beyond the length is 1055 (the length itself is allowed).
int PatternStartOffset(const char *subject, size_t subjectLength, long long start, bool utf8, size_t *startByte);
// First match at or after startByte; a leading "^" anchors it to startByte.
int FindPatternFirst(const char *subject, size_t subjectLength, const char *pattern, size_t patternLength,
                     size_t startByte, bool utf8, lvPatternResult *result);
// One step of the match iterator: searches from *position (a byte offset),
// stores where the next search starts (one character on after an empty match).
// "^" is an ordinary character here. A position past the end finds nothing.
int FindPatternNext(const char *subject, size_t subjectLength, const char *pattern, size_t patternLength,
                    bool utf8, size_t *position, lvPatternResult *result);
// The capture values of a match, or the whole match as one value when the
// pattern has none; values holds PATTERN_MAXCAPTURES entries. A capture left
// open is 1468.
int GetPatternCaptures(const lvPatternResult *result, lvCaptureValue *values, int *count);
// Replaces at most maxCount matches (none when maxCount <= 0); *out gets the
// new text and *count the replacements made.
int ReplacePattern(const char *subject, size_t subjectLength, const char *pattern, size_t patternLength,
                   const lvReplacement *replacement, long long maxCount, bool utf8, std::string *out,
                   long long *count);
