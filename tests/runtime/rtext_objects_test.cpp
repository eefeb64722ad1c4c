// Tests of the object-type registry with a test object type: registration order and
// numbers, objects made by number and by Nil, generic lookups, user data and the
// resource text.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include "runtime/objects.h"

namespace {

// A test library's object: the header first, as every script object.
struct TestObject {
    lvObjectHeader header;
    int payload;
};

// A fake reference store standing in for the VM's registry: counts live references.
struct FakeRefs {
    std::map<int, std::string> values;  // ref -> value
    int next = 100;
    int copyFailsAfter = -1;  // copies left before copy fails (-1: never)

    int Make(const std::string &v) {
        values[next] = v;
        return next++;
    }
    static int Copy(void *ctx, int ref) {
        FakeRefs *f = static_cast<FakeRefs *>(ctx);
        if (f->copyFailsAfter == 0) return -1;
        if (f->copyFailsAfter > 0) f->copyFailsAfter--;
        return f->Make(f->values.at(ref));
    }
    static void Release(void *ctx, int ref) {
        FakeRefs *f = static_cast<FakeRefs *>(ctx);
        ASSERT_EQ(f->values.erase(ref), 1u) << "released twice or never made: " << ref;
    }
    lvRefOps ops{this, Copy, Release};
};

class Objects : public ::testing::Test {
  protected:
    void TearDown() override {
        FreeObjectTypes();
        for (TestObject *o : made) FreeMemory(o);
    }
    TestObject *Make(lvObjectHeader **list, int type, int number, bool nil) {
        TestObject *o = (TestObject *)AllocMemory(sizeof(TestObject), 1);
        InitObjectHeader(&o->header, type, number, nil);
        // Libraries keep creation order: append at the end.
        lvObjectHeader **at = list;
        while (*at) at = &(*at)->next;
        *at = &o->header;
        made.push_back(o);
        return o;
    }
    std::vector<TestObject *> made;
};

std::vector<std::string> TypeNames() {
    std::vector<std::string> out;
    for (lvObjectType *t = FirstObjectType(); t; t = t->next) out.push_back(t->pluralName);
    return out;
}

std::map<std::string, std::string> Items(FakeRefs &refs, lvObjectUserData *list) {
    std::map<std::string, std::string> out;
    for (; list; list = list->next) out[list->name] = refs.values.at(list->ref);
    return out;
}

}  // namespace

TEST_F(Objects, RegistrationOrderAndAutomaticNumbers) {
    lvObjectHeader *a = nullptr, *b = nullptr, *c = nullptr;
    int n1 = -1, n2 = -1, n3 = -1;
    ASSERT_EQ(RegisterObjectType(0, "Zebras", &a, nullptr, &n1, 0), 0);
    ASSERT_EQ(RegisterObjectType(-4, "Yaks", &b, nullptr, &n2, 0), 0);
    ASSERT_EQ(RegisterObjectType(60, "Serial I/O", &c, nullptr, &n3, 7), 0);
    EXPECT_EQ(n1, 67);
    EXPECT_EQ(n2, 68);
    EXPECT_EQ(n3, 60);
    EXPECT_EQ(TypeNames(), (std::vector<std::string>{"Serial I/O", "Yaks", "Zebras"}));
    EXPECT_EQ(FindObjectType(60)->value, 7);
    EXPECT_EQ(FindObjectType(61), nullptr);
    // Byte order: upper case before lower case; long names are cut to 63 bytes.
    lvObjectHeader *d = nullptr;
    RegisterObjectType(0, "brushes", &d, nullptr, nullptr, 0);
    RegisterObjectType(0, std::string(100, 'B').c_str(), &d, nullptr, nullptr, 0);
    EXPECT_EQ(TypeNames().front().size(), 63u);
    EXPECT_EQ(TypeNames().back(), "brushes");
    FreeObjectTypes();
    int n = 0;
    RegisterObjectType(0, "Again", &a, nullptr, &n, 0);
    EXPECT_EQ(n, 67);  // numbering starts over after shut-down
}

TEST_F(Objects, NumberAndNilObjectsAreToldApart) {
    lvObjectHeader *list = nullptr, *other = nullptr;
    int type = 0, otherType = 0;
    RegisterObjectType(0, "Test objects", &list, nullptr, &type, 0);
    RegisterObjectType(0, "Other objects", &other, nullptr, &otherType, 0);
    TestObject *byNumber = Make(&list, type, 1, false);
    TestObject *byNil = Make(&list, type, 0, true);
    TestObject *elsewhere = Make(&other, otherType, 1, false);

    EXPECT_EQ(byNil->header.handle, &byNil->header);
    EXPECT_EQ(byNil->header.identifier, 0);
    EXPECT_EQ(FindAnyObject(type, {1, nullptr}), &byNumber->header);
    EXPECT_EQ(FindAnyObject(type, {0, byNil->header.handle}), &byNil->header);
    EXPECT_EQ(FindAnyObject(type, {0, nullptr}), nullptr);           // the Nil one only by handle
    EXPECT_EQ(FindAnyObject(type, {1, byNil->header.handle}), nullptr);  // both parts must match
    EXPECT_EQ(FindAnyObject(otherType, {1, nullptr}), &elsewhere->header);
    EXPECT_EQ(FindAnyObject(type + 50, {1, nullptr}), nullptr);

    EXPECT_EQ(CountObjectsOfType(type), 2);
    EXPECT_EQ(CountObjectsOfType(otherType), 1);
    EXPECT_EQ(CountObjectsOfType(999), 0);  // what ATTRCOUNT reports for a type without objects
    EXPECT_EQ(GetTypeOfHandle(byNil->header.handle), type);
    EXPECT_EQ(GetTypeOfHandle(&byNumber->header), -1);  // not a handle
    EXPECT_EQ(GetTypeOfHandle(nullptr), -1);

    lvObjectId seen[2];
    int k = 0;
    auto collect = [](void *ctx, lvObjectHeader *h) {
        auto *state = static_cast<std::pair<lvObjectId *, int *> *>(ctx);
        state->first[(*state->second)++] = GetObjectIdOf(h);
        return true;
    };
    std::pair<lvObjectId *, int *> ctx{seen, &k};
    EXPECT_EQ(ForEachObjectOfType(type, collect, &ctx), 2);
    EXPECT_EQ(seen[0].number, 1);
    EXPECT_EQ(seen[0].handle, nullptr);
    EXPECT_EQ(seen[1].handle, byNil->header.handle);
}

TEST_F(Objects, UserDataSetFindRemove) {
    FakeRefs refs;
    TestObject o;
    InitObjectHeader(&o.header, 3, 1, false);
    ASSERT_EQ(SetObjectUserData(&o.header, "Score", refs.Make("1"), &refs.ops), 0);
    ASSERT_EQ(SetObjectUserData(&o.header, "SCORE", refs.Make("2"), &refs.ops), 0);  // same item
    ASSERT_EQ(SetObjectUserData(&o.header, "name", refs.Make("x"), &refs.ops), 0);
    EXPECT_EQ(Items(refs, o.header.userData), (std::map<std::string, std::string>{{"Score", "2"}, {"name", "x"}}));
    EXPECT_EQ(refs.values.size(), 2u);  // the replaced value was released
    EXPECT_NE(FindObjectUserData(o.header.userData, "sCoRe"), nullptr);
    EXPECT_EQ(FindObjectUserData(o.header.userData, "none"), nullptr);
    EXPECT_EQ(RemoveObjectUserData(&o.header, "NAME", &refs.ops), 1);
    EXPECT_EQ(RemoveObjectUserData(&o.header, "name", &refs.ops), 0);
    EXPECT_EQ(refs.values.size(), 1u);
    FreeObjectUserData(&o.header.userData, &refs.ops);
    EXPECT_EQ(o.header.userData, nullptr);
    EXPECT_TRUE(refs.values.empty());
}

TEST_F(Objects, UserDataCopyAndMerge) {
    FakeRefs refs;
    TestObject src, dst;
    InitObjectHeader(&src.header, 3, 1, false);
    InitObjectHeader(&dst.header, 3, 2, false);
    SetObjectUserData(&src.header, "a", refs.Make("src-a"), &refs.ops);
    SetObjectUserData(&src.header, "b", refs.Make("src-b"), &refs.ops);
    SetObjectUserData(&dst.header, "A", refs.Make("dst-a"), &refs.ops);

    ASSERT_EQ(MergeObjectUserData(src.header.userData, &dst.header, false, &refs.ops), 0);
    EXPECT_EQ(Items(refs, dst.header.userData), (std::map<std::string, std::string>{{"A", "dst-a"}, {"b", "src-b"}}));
    ASSERT_EQ(MergeObjectUserData(src.header.userData, &dst.header, true, &refs.ops), 0);
    EXPECT_EQ(Items(refs, dst.header.userData), (std::map<std::string, std::string>{{"A", "src-a"}, {"b", "src-b"}}));

    lvObjectUserData *copy = nullptr;
    ASSERT_EQ(CopyObjectUserData(src.header.userData, &copy, &refs.ops), 0);
    EXPECT_EQ(Items(refs, copy), Items(refs, src.header.userData));
    EXPECT_NE(copy->ref, src.header.userData->ref);
    size_t live = refs.values.size();
    // A copy that fails half-way leaves nothing behind.
    refs.copyFailsAfter = 1;
    lvObjectUserData *partial = reinterpret_cast<lvObjectUserData *>(1);
    EXPECT_EQ(CopyObjectUserData(src.header.userData, &partial, &refs.ops), ERR_MEM);
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(refs.values.size(), live);
    refs.copyFailsAfter = -1;

    FreeObjectUserData(&copy, &refs.ops);
    FreeObjectUserData(&src.header.userData, &refs.ops);
    FreeObjectUserData(&dst.header.userData, &refs.ops);
    EXPECT_TRUE(refs.values.empty());
}

TEST_F(Objects, ResourceText) {
    lvObjectHeader *displays = nullptr, *brushes = nullptr, *serial = nullptr;
    RegisterObjectType(21, "Displays", &displays, nullptr, nullptr, 0);
    RegisterObjectType(3, "Brushes", &brushes, nullptr, nullptr, 0);
    RegisterObjectType(60, "Serial I/O", &serial, nullptr, nullptr, 0);
    Make(&displays, 21, 1, false);
    Make(&displays, 21, 0, true);
    for (int i = 1; i <= 12; i++) Make(&brushes, 3, i, false);
    lvResourceExtras extras{4, 9, 2, true};
    char buf[1024];
    BuildResourceText(buf, sizeof buf, &extras);
    EXPECT_STREQ(buf,
                 "Brushes:             12\n"
                 "Displays:            1\n"
                 "Layers (on screen):  4\n"
                 "Layers (total):      9\n"
                 "Serial I/O:          0\n"
                 "Sprites (on screen): 2\n");
    char small[30];
    size_t n = BuildResourceText(small, sizeof small, &extras);
    EXPECT_EQ(n, strlen("Brushes:             12\n"));  // whole lines only
}
