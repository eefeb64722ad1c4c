// digest.h - incremental MD5 and SHA-1 engines, the continued CRC-32 (zlib's;
// the runtime's ComputeCrc32 is the one-shot form), and the lower-case
// hexadecimal form every digest command shows.
// Used by the string library (MD5Str, SHA1Str, CRC32Str), the dos library
// (digests of files) and the plug-in function table (MD5 of a byte range).
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Records ----------------------------------------------------------------
struct lvMd5State {
    uint32_t countLow;      // message length in bits, low word
    uint32_t countHigh;     // message length in bits, high word
    uint32_t a, b, c, d;    // chaining words
    uint8_t buffer[64];     // bytes waiting for a complete block
};

struct lvSha1State {
    uint32_t h[5];          // chaining words H0 to H4
    uint32_t countLow;      // message length in bits, low word
    uint32_t countHigh;     // message length in bits, high word
    uint8_t buffer[64];     // bytes waiting for a complete block
};

// ---- MD5 --------------------------------------------------------------------
void BeginMd5(lvMd5State *state);
// A length of 0 or less does nothing.
void UpdateMd5(lvMd5State *state, const void *bytes, long long length);
// Pads, appends the bit count and stores the 16 digest bytes.
void FinishMd5(lvMd5State *state, uint8_t out[16]);

// ---- SHA-1 ------------------------------------------------------------------
void BeginSha1(lvSha1State *state);
void UpdateSha1(lvSha1State *state, const void *bytes, long long length);
// Note the order: output first.
void FinishSha1(uint8_t out[20], lvSha1State *state);

// ---- One-shot forms -----------------------------------------------------------
// Lower-case hexadecimal, two digits a byte; out holds 2 * count + 1 bytes.
void DigestToHex(const uint8_t *digest, size_t count, char *out);
// 32 hexadecimal digits and a NUL; an empty range gives the digest of the empty input.
void Md5HexOfRange(const void *bytes, size_t length, char out[33]);
// 40 hexadecimal digits and a NUL.
void Sha1HexOfRange(const void *bytes, size_t length, char out[41]);
// CRC-32 continued from crc (start with 0) over any length, as zlib's crc32.
uint32_t UpdateCrc32(uint32_t crc, const void *bytes, size_t length);
