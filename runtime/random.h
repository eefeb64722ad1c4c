// random.h - the run's 48-bit random generator, CRC-32 and small number helpers
// (round-half-to-even, bit scans, word fills, number-or-percent texts).
//
// Depends on: base/lverrors.h (codes of the percent parsers), zlib. No VM types.
// Limits: the generator is the POSIX drand48 recurrence and is not for secrets.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Random generator ----------------------------------------------------------------

// State of the 48-bit linear congruential generator x' = a * x + c mod 2^48.
struct lvRandom48 {
    uint16_t x[3];  // state, least significant word first
    uint16_t a[3];  // multiplier 0x5DEECE66D as {0xE66D, 0xDEEC, 5}
    uint16_t c;     // addend, 11
};

// state = {0x330E, low 16 bits of seed, high 16 bits}; multiplier and addend reset.
void Random48Seed(lvRandom48 *r, uint32_t seed);
// Advances the state and returns state / 2^48, in [0, 1).
double Random48Next(lvRandom48 *r);
// The run's generator (start-up seeds it with the time in seconds).
void SeedRandom48(uint32_t seed);
double NextRandomDouble();
// 0..32767 from the same generator (the high 15 bits of the next state): the effects'
// 15-bit draws, reproducible from one seed and untouched by other users of libc's rand().
int NextRandom15();

// ---- CRC-32 --------------------------------------------------------------------------

// CRC-32 of data (reflected polynomial 0xEDB88320, initial all ones, final complement);
// equal to zlib's crc32(0, data, length). (The string library's UpdateCrc32 continues one.)
uint32_t ComputeCrc32(const void *data, size_t length);

// ---- Number helpers --------------------------------------------------------------------

// Nearest integer, halves to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). NaN gives 0; values
// beyond the int range give INT_MIN or INT_MAX.
int RoundDoubleToInt(double x);
// Index of the lowest set bit, 0..31, or -1 for 0.
int LowestBitIndex(uint32_t mask);
// Fills bytes / 4 words at dest with value (dest needs no alignment).
void FillMemLong(void *dest, size_t bytes, uint32_t value);

// A decimal number, or a number followed by '%': a percent may not be negative nor, unless
// allowAbove100, above 100; it gives value * base / 100, or value / 100 with *isPercentOut
// set when base is 0. Spaces around are allowed. 0 or ERR_PERCENTFORMAT.
int ParseNumberOrPercent(const char *text, double base, int allowAbove100, int *isPercentOut, double *valueOut);
// "N%" with N from 0 to 100 (above only when allowed) gives -N (how option tables mark a
// percentage among plain numbers). 0 or ERR_PERCENTFORMATSTR.
int ParseIntPercentText(const char *text, int allowAbove100, int *valueOut);
