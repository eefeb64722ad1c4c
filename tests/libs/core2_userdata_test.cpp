// Object data that SetObjectData stores on memory blocks and timers is released with
// them: the registry slot of the value is free again once the object is gone.
#include <gtest/gtest.h>

#include "libs/lib_core2.h"
#include "runtime/libs_core.h"
#include "tests/libs/strlib_harness.h"

namespace {

class ObjectDataOfCoreObjects : public StringLibTest {
protected:
    void SetUp() override
    {
        StringLibTest::SetUp();
        ASSERT_EQ(OpenObjectLibrary(L), 0);
        ASSERT_EQ(OpenMemBlockLibrary(L), 0);
        ASSERT_EQ(OpenTimeLibrary(L), 0);
    }
    // The registry slot the next reference takes (taken and given back at once).
    int NextFreeSlot()
    {
        PushNumber(L, 1);
        int ref = CreateReference(L, LV_REGISTRYINDEX);
        ReleaseReference(L, LV_REGISTRYINDEX, ref);
        return ref;
    }
};

}  // namespace

TEST_F(ObjectDataOfCoreObjects, FreeingTheObjectReleasesItsData)
{
    struct {
        const char *make, *free;
        std::vector<lvTestArg> makeArgs;
        int type;
    } objects[] = {
        {"AllocMem", "FreeMem", {1, 8}, 39},
        {"StartTimer", "StopTimer", {1}, 53},
    };
    for (const auto &o : objects) {
        ASSERT_EQ(Call(o.make, o.makeArgs), "") << o.make;
        int slot = NextFreeSlot();
        ASSERT_EQ(Call("SetObjectData", {o.type, 1, "key", "value"}), "") << o.make;
        EXPECT_NE(NextFreeSlot(), slot) << o.make;  // the value holds the slot now
        ASSERT_EQ(Call(o.free, {1}), "") << o.free;
        EXPECT_EQ(NextFreeSlot(), slot) << o.free;
    }
}
