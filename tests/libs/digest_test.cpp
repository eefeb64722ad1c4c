// Digest engines and CRC-32 against the published vectors, and incremental feeding.
#include "libs/digest.h"
#include "runtime/random.h"
#include <zlib.h>

#include <gtest/gtest.h>
#include <string>

static std::string Md5Hex(const std::string &s)
{
    char out[33];
    Md5HexOfRange(s.data(), s.size(), out);
    return out;
}

static std::string Sha1Hex(const std::string &s)
{
    char out[41];
    Sha1HexOfRange(s.data(), s.size(), out);
    return out;
}

TEST(Digest, Md5Vectors)
{
    struct {
        const char *in, *out;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto &r : rows) EXPECT_EQ(Md5Hex(r.in), r.out) << r.in;
}

TEST(Digest, Sha1Vectors)
{
    struct {
        const char *in, *out;
    } rows[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"The quick brown fox jumps over the lazy dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
    };
    for (auto &r : rows) EXPECT_EQ(Sha1Hex(r.in), r.out) << r.in;
}

TEST(Digest, OneMillionA)
{
    std::string block(1000, 'a');
    lvMd5State m;
    lvSha1State s;
    BeginMd5(&m);
    BeginSha1(&s);
    for (int i = 0; i < 1000; i++) {
        UpdateMd5(&m, block.data(), (long long)block.size());
        UpdateSha1(&s, block.data(), (long long)block.size());
    }
    uint8_t md[16], sd[20];
    char hex[41];
    FinishMd5(&m, md);
    DigestToHex(md, 16, hex);
    EXPECT_STREQ(hex, "7707d6ae4e027c70eea2a935c2296f21");
    FinishSha1(sd, &s);
    DigestToHex(sd, 20, hex);
    EXPECT_STREQ(hex, "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(UpdateCrc32(0, std::string(1000000, 'a').data(), 1000000), 0xdc25bfbcu);
}

// Every split point of a text longer than two blocks, fed as three pieces,
// gives the digest of the whole; pieces of 0 and negative lengths change nothing.
TEST(Digest, SplitAtEveryOffset)
{
    std::string text;
    for (int i = 0; i < 150; i++) text.push_back(char('A' + i % 53));
    text[70] = '\0'; // a NUL in the middle is hashed like any byte
    std::string md5Whole = Md5Hex(text), sha1Whole = Sha1Hex(text);
    uint32_t crcWhole = UpdateCrc32(0, text.data(), text.size());
    for (size_t i = 0; i <= text.size(); i++) {
        size_t j = (i + 63) > text.size() ? text.size() : i + 63;
        lvMd5State m;
        lvSha1State s;
        BeginMd5(&m);
        BeginSha1(&s);
        UpdateMd5(&m, text.data(), (long long)i);
        UpdateMd5(&m, text.data() + i, 0);
        UpdateMd5(&m, text.data() + i, -5);
        UpdateMd5(&m, text.data() + i, (long long)(j - i));
        UpdateMd5(&m, text.data() + j, (long long)(text.size() - j));
        UpdateSha1(&s, text.data(), (long long)i);
        UpdateSha1(&s, text.data() + i, (long long)(j - i));
        UpdateSha1(&s, text.data() + j, (long long)(text.size() - j));
        uint8_t md[16], sd[20];
        char hex[41];
        FinishMd5(&m, md);
        DigestToHex(md, 16, hex);
        ASSERT_EQ(md5Whole, hex) << "split at " << i;
        FinishSha1(sd, &s);
        DigestToHex(sd, 20, hex);
        ASSERT_EQ(sha1Whole, hex) << "split at " << i;
        uint32_t crc = UpdateCrc32(UpdateCrc32(0, text.data(), i), text.data() + i, text.size() - i);
        ASSERT_EQ(crc, crcWhole) << "split at " << i;
    }
    EXPECT_NE(md5Whole, Md5Hex(text.substr(0, 70))); // not cut at the NUL
}

TEST(Digest, Crc32Vectors)
{
    EXPECT_EQ(UpdateCrc32(0, "", 0), 0u);
    EXPECT_EQ(UpdateCrc32(0, "123456789", 9), 0xcbf43926u);
    EXPECT_EQ(UpdateCrc32(0, "The quick brown fox jumps over the lazy dog", 43), 0x414fa339u);
    // The runtime's one-shot form and zlib agree with the continued one.
    std::string text(5000, 'q');
    for (size_t i = 0; i < text.size(); i++) text[i] = char(i * 7);
    EXPECT_EQ(UpdateCrc32(UpdateCrc32(0, text.data(), 1234), text.data() + 1234, text.size() - 1234),
              ComputeCrc32(text.data(), text.size()));
    EXPECT_EQ(UpdateCrc32(0, text.data(), text.size()), uint32_t(crc32(0, (const Bytef *)text.data(), 5000)));
}

// The plug-in form used to write nothing for an empty range.
TEST(Digest, EmptyRangeGivesDigestOfEmptyInput)
{
    char out[33];
    std::fill(out, out + 33, 'Z');
    Md5HexOfRange(nullptr, 0, out);
    EXPECT_STREQ(out, "d41d8cd98f00b204e9800998ecf8427e");
}
