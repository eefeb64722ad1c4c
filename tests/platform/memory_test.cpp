#include "platform/lvplatform.h"
#include <gtest/gtest.h>
#include <cstring>

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
