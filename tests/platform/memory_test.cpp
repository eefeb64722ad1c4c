#include "platform/lvplatform.h"
#include <gtest/gtest.h>
#include <cstring>
#include <thread>

TEST(Memory, ZeroSizeGivesNothing)
{
    EXPECT_EQ(AllocMemory(0, 1), nullptr);
    EXPECT_EQ(AllocMemory(0, 0), nullptr);
    FreeMemory(nullptr);
}

TEST(Memory, ClearedBlocksAreZero)
{
    unsigned char *p = static_cast<unsigned char *>(AllocMemory(4096, 1));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4096; i++) ASSERT_EQ(p[i], 0) << i;
    std::memset(p, 0xAB, 4096);
    FreeMemory(p);
}

TEST(Memory, FailureSeamCountsAndStaysOnItsThread)
{
    FailAllocMemoryAfter(2);
    void *a = AllocMemory(16, 0);
    void *b = AllocMemory(16, 1);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(AllocMemory(16, 0), nullptr);
    EXPECT_EQ(AllocMemory(1, 1), nullptr);
    void *other = nullptr;
    std::thread t([&] { other = AllocMemory(16, 0); });  // other threads allocate as usual
    t.join();
    EXPECT_NE(other, nullptr);
    FailAllocMemoryAfter(-1);
    void *c = AllocMemory(16, 0);
    EXPECT_NE(c, nullptr);
    // a block from one thread is freed on another
    std::thread f([&] {
        FreeMemory(a);
        FreeMemory(other);
    });
    f.join();
    FreeMemory(b);
    FreeMemory(c);
}
