// digest.cpp - MD5 (RFC 1321) and SHA-1 (FIPS 180-1) engines and the
// continued CRC-32.
// Dependencies: zlib for CRC-32. Limits: lengths beyond 2^64 bits wrap as the
// standards' length fields do.

#include "libs/digest.h"

#include <cstring>
#include <zlib.h>

// ============================================================================
// Shared helpers
// ============================================================================

static inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

static inline uint32_t LoadLittle32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

static inline uint32_t LoadBig32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

static inline void StoreLittle32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

static inline void StoreBig32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Adds bytes to a bit count of two words; returns how many bytes were already
// buffered (the count modulo 64) before the addition.
static size_t AddToBitCount(uint32_t *low, uint32_t *high, uint64_t bytes)
{
    uint64_t bits = (uint64_t(*high) << 32) | *low;
    size_t used = size_t((bits >> 3) & 63);
    bits += bytes << 3;
    *low = uint32_t(bits);
    *high = uint32_t(bits >> 32);
    return used;
}

// ============================================================================
// MD5
// ============================================================================

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (t);  \
    (a) = RotateLeft((a), (s)) + (b)

static void TransformMd5Block(lvMd5State *st, const uint8_t *block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = LoadLittle32(block + 4 * i);
    uint32_t a = st->a, b = st->b, c = st->c, d = st->d;

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

    st->a += a;
    st->b += b;
    st->c += c;
    st->d += d;
}

void BeginMd5(lvMd5State *state)
{
    std::memset(state, 0, sizeof *state);
    state->a = 0x67452301;
    state->b = 0xefcdab89;
    state->c = 0x98badcfe;
    state->d = 0x10325476;
}

void UpdateMd5(lvMd5State *state, const void *bytes, long long length)
{
    if (length <= 0) return;
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    size_t n = size_t(length);
    size_t used = AddToBitCount(&state->countLow, &state->countHigh, n);
    if (used) {
        size_t take = 64 - used;
        if (n < take) {
            std::memcpy(state->buffer + used, p, n);
            return;
        }
        std::memcpy(state->buffer + used, p, take);
        TransformMd5Block(state, state->buffer);
        p += take;
        n -= take;
    }
    // Whole blocks straight from the caller's bytes; only the tail is copied.
    for (; n >= 64; p += 64, n -= 64) TransformMd5Block(state, p);
    std::memcpy(state->buffer, p, n);
}

void FinishMd5(lvMd5State *state, uint8_t out[16])
{
    uint8_t lengthField[8];
    StoreLittle32(lengthField, state->countLow);
    StoreLittle32(lengthField + 4, state->countHigh);
    size_t used = size_t((state->countLow >> 3) & 63);
    static const uint8_t padding[64] = {0x80};
    UpdateMd5(state, padding, (long long)(used < 56 ? 56 - used : 120 - used));
    UpdateMd5(state, lengthField, 8);
    StoreLittle32(out, state->a);
    StoreLittle32(out + 4, state->b);
    StoreLittle32(out + 8, state->c);
    StoreLittle32(out + 12, state->d);
}

// ============================================================================
// SHA-1
// ============================================================================

// One step of the 80; w is the message schedule kept as a ring of 16 words.
#define SHA1_W(i) \
    (w[(i) & 15] = RotateLeft(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))
#define SHA1_R0(v, wv, x, y, z, i) \
    z += ((wv & (x ^ y)) ^ y) + w[i] + 0x5a827999 + RotateLeft(v, 5); wv = RotateLeft(wv, 30)
#define SHA1_R1(v, wv, x, y, z, i) \
    z += ((wv & (x ^ y)) ^ y) + SHA1_W(i) + 0x5a827999 + RotateLeft(v, 5); wv = RotateLeft(wv, 30)
#define SHA1_R2(v, wv, x, y, z, i) \
    z += (wv ^ x ^ y) + SHA1_W(i) + 0x6ed9eba1 + RotateLeft(v, 5); wv = RotateLeft(wv, 30)
#define SHA1_R3(v, wv, x, y, z, i) \
    z += (((wv | x) & y) | (wv & x)) + SHA1_W(i) + 0x8f1bbcdc + RotateLeft(v, 5); wv = RotateLeft(wv, 30)
#define SHA1_R4(v, wv, x, y, z, i) \
    z += (wv ^ x ^ y) + SHA1_W(i) + 0xca62c1d6 + RotateLeft(v, 5); wv = RotateLeft(wv, 30)

static void TransformSha1Block(lvSha1State *st, const uint8_t *block)
{
    uint32_t w[16];
    for (int i = 0; i < 16; i++) w[i] = LoadBig32(block + 4 * i);
    uint32_t a = st->h[0], b = st->h[1], c = st->h[2], d = st->h[3], e = st->h[4];

    SHA1_R0(a, b, c, d, e, 0); SHA1_R0(e, a, b, c, d, 1); SHA1_R0(d, e, a, b, c, 2);
    SHA1_R0(c, d, e, a, b, 3); SHA1_R0(b, c, d, e, a, 4); SHA1_R0(a, b, c, d, e, 5);
    SHA1_R0(e, a, b, c, d, 6); SHA1_R0(d, e, a, b, c, 7); SHA1_R0(c, d, e, a, b, 8);
    SHA1_R0(b, c, d, e, a, 9); SHA1_R0(a, b, c, d, e, 10); SHA1_R0(e, a, b, c, d, 11);
    SHA1_R0(d, e, a, b, c, 12); SHA1_R0(c, d, e, a, b, 13); SHA1_R0(b, c, d, e, a, 14);
    SHA1_R0(a, b, c, d, e, 15); SHA1_R1(e, a, b, c, d, 16); SHA1_R1(d, e, a, b, c, 17);
    SHA1_R1(c, d, e, a, b, 18); SHA1_R1(b, c, d, e, a, 19);

    SHA1_R2(a, b, c, d, e, 20); SHA1_R2(e, a, b, c, d, 21); SHA1_R2(d, e, a, b, c, 22);
    SHA1_R2(c, d, e, a, b, 23); SHA1_R2(b, c, d, e, a, 24); SHA1_R2(a, b, c, d, e, 25);
    SHA1_R2(e, a, b, c, d, 26); SHA1_R2(d, e, a, b, c, 27); SHA1_R2(c, d, e, a, b, 28);
    SHA1_R2(b, c, d, e, a, 29); SHA1_R2(a, b, c, d, e, 30); SHA1_R2(e, a, b, c, d, 31);
    SHA1_R2(d, e, a, b, c, 32); SHA1_R2(c, d, e, a, b, 33); SHA1_R2(b, c, d, e, a, 34);
    SHA1_R2(a, b, c, d, e, 35); SHA1_R2(e, a, b, c, d, 36); SHA1_R2(d, e, a, b, c, 37);
    SHA1_R2(c, d, e, a, b, 38); SHA1_R2(b, c, d, e, a, 39);

    SHA1_R3(a, b, c, d, e, 40); SHA1_R3(e, a, b, c, d, 41); SHA1_R3(d, e, a, b, c, 42);
    SHA1_R3(c, d, e, a, b, 43); SHA1_R3(b, c, d, e, a, 44); SHA1_R3(a, b, c, d, e, 45);
    SHA1_R3(e, a, b, c, d, 46); SHA1_R3(d, e, a, b, c, 47); SHA1_R3(c, d, e, a, b, 48);
    SHA1_R3(b, c, d, e, a, 49); SHA1_R3(a, b, c, d, e, 50); SHA1_R3(e, a, b, c, d, 51);
    SHA1_R3(d, e, a, b, c, 52); SHA1_R3(c, d, e, a, b, 53); SHA1_R3(b, c, d, e, a, 54);
    SHA1_R3(a, b, c, d, e, 55); SHA1_R3(e, a, b, c, d, 56); SHA1_R3(d, e, a, b, c, 57);
    SHA1_R3(c, d, e, a, b, 58); SHA1_R3(b, c, d, e, a, 59);

    SHA1_R4(a, b, c, d, e, 60); SHA1_R4(e, a, b, c, d, 61); SHA1_R4(d, e, a, b, c, 62);
    SHA1_R4(c, d, e, a, b, 63); SHA1_R4(b, c, d, e, a, 64); SHA1_R4(a, b, c, d, e, 65);
    SHA1_R4(e, a, b, c, d, 66); SHA1_R4(d, e, a, b, c, 67); SHA1_R4(c, d, e, a, b, 68);
    SHA1_R4(b, c, d, e, a, 69); SHA1_R4(a, b, c, d, e, 70); SHA1_R4(e, a, b, c, d, 71);
    SHA1_R4(d, e, a, b, c, 72); SHA1_R4(c, d, e, a, b, 73); SHA1_R4(b, c, d, e, a, 74);
    SHA1_R4(a, b, c, d, e, 75); SHA1_R4(e, a, b, c, d, 76); SHA1_R4(d, e, a, b, c, 77);
    SHA1_R4(c, d, e, a, b, 78); SHA1_R4(b, c, d, e, a, 79);

    st->h[0] += a;
    st->h[1] += b;
    st->h[2] += c;
    st->h[3] += d;
    st->h[4] += e;
}

void BeginSha1(lvSha1State *state)
{
    std::memset(state, 0, sizeof *state);
    state->h[0] = 0x67452301;
    state->h[1] = 0xefcdab89;
    state->h[2] = 0x98badcfe;
    state->h[3] = 0x10325476;
    state->h[4] = 0xc3d2e1f0;
}

void UpdateSha1(lvSha1State *state, const void *bytes, long long length)
{
    if (length <= 0) return;
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    size_t n = size_t(length);
    size_t used = AddToBitCount(&state->countLow, &state->countHigh, n);
    if (used) {
        size_t take = 64 - used;
        if (n < take) {
            std::memcpy(state->buffer + used, p, n);
            return;
        }
        std::memcpy(state->buffer + used, p, take);
        TransformSha1Block(state, state->buffer);
        p += take;
        n -= take;
    }
    for (; n >= 64; p += 64, n -= 64) TransformSha1Block(state, p);
    std::memcpy(state->buffer, p, n);
}

void FinishSha1(uint8_t out[20], lvSha1State *state)
{
    uint8_t lengthField[8];
    StoreBig32(lengthField, state->countHigh);
    StoreBig32(lengthField + 4, state->countLow);
    size_t used = size_t((state->countLow >> 3) & 63);
    static const uint8_t padding[64] = {0x80};
    UpdateSha1(state, padding, (long long)(used < 56 ? 56 - used : 120 - used));
    UpdateSha1(state, lengthField, 8);
    for (int i = 0; i < 5; i++) StoreBig32(out + 4 * i, state->h[i]);
}

// ============================================================================
// One-shot forms and CRC-32
// ============================================================================

void DigestToHex(const uint8_t *digest, size_t count, char *out)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; i++) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[2 * count] = 0;
}

void Md5HexOfRange(const void *bytes, size_t length, char out[33])
{
    lvMd5State st;
    uint8_t digest[16];
    BeginMd5(&st);
    UpdateMd5(&st, bytes, (long long)length);
    FinishMd5(&st, digest);
    DigestToHex(digest, 16, out);
}

void Sha1HexOfRange(const void *bytes, size_t length, char out[41])
{
    lvSha1State st;
    uint8_t digest[20];
    BeginSha1(&st);
    UpdateSha1(&st, bytes, (long long)length);
    FinishSha1(digest, &st);
    DigestToHex(digest, 20, out);
}

uint32_t UpdateCrc32(uint32_t crc, const void *bytes, size_t length)
{
    if (length == 0) return crc;
    return uint32_t(crc32_z(crc, static_cast<const Bytef *>(bytes), length));
}
