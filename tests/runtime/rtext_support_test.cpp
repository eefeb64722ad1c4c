// Tests of the command-support engines: node lists, string lists, user tags, bounded
// texts, constant references, the random generator, CRC-32 and the number helpers.
#include <gtest/gtest.h>

#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/lvplatform.h"
#include "runtime/lists.h"
#include "base/lverrors.h"
#include "runtime/random.h"

namespace {

// A list node with a payload, as libraries embed lvNode at the start of their records.
struct Item {
    lvNode node;
    int value;
};

std::vector<int> Values(const lvListHeader *list) {
    std::vector<int> out;
    for (lvNode *n = FirstNode(list); n; n = NextNode(n)) out.push_back(reinterpret_cast<Item *>(n)->value);
    // Walking backwards must see the same nodes.
    std::vector<int> back;
    for (lvNode *n = list->tailPred; n->prev; n = n->prev) back.insert(back.begin(), reinterpret_cast<Item *>(n)->value);
    EXPECT_EQ(out, back);
    return out;
}

}  // namespace

// ---- Node lists -----------------------------------------------------------------------

TEST(NodeLists, EmptyListShape) {
    lvListHeader list;
    InitNodeList(&list);
    EXPECT_TRUE(IsNodeListEmpty(&list));
    EXPECT_EQ(list.head, reinterpret_cast<lvNode *>(&list.null));
    EXPECT_EQ(list.null, nullptr);
    EXPECT_EQ(list.tailPred, reinterpret_cast<lvNode *>(&list.head));
    EXPECT_EQ(RemoveHeadNode(&list), nullptr);  // unchanged
    EXPECT_EQ(list.head, reinterpret_cast<lvNode *>(&list.null));
    EXPECT_EQ(list.tailPred, reinterpret_cast<lvNode *>(&list.head));
    EXPECT_EQ(FirstNode(&list), nullptr);
    EXPECT_EQ(CountNodes(&list), 0u);
}

TEST(NodeLists, AddInsertRemove) {
    lvListHeader list;
    InitNodeList(&list);
    Item items[6];
    for (int i = 0; i < 6; i++) items[i].value = i;
    AddTailNode(&list, &items[1].node);
    AddTailNode(&list, &items[2].node);
    AddHeadNode(&list, &items[0].node);
    EXPECT_EQ(Values(&list), (std::vector<int>{0, 1, 2}));
    InsertNodeAfter(&list, &items[3].node, &items[1].node);
    EXPECT_EQ(Values(&list), (std::vector<int>{0, 1, 3, 2}));
    InsertNodeAfter(&list, &items[4].node, nullptr);  // at the head
    InsertNodeAfter(&list, &items[5].node, ListTailSentinel(&list));  // at the tail
    EXPECT_EQ(Values(&list), (std::vector<int>{4, 0, 1, 3, 2, 5}));
    RemoveNode(&items[3].node);
    RemoveNode(&items[5].node);  // the last node
    EXPECT_EQ(Values(&list), (std::vector<int>{4, 0, 1, 2}));
    EXPECT_EQ(reinterpret_cast<Item *>(RemoveHeadNode(&list))->value, 4);
    InsertNodeAfter(&list, &items[5].node, &items[2].node);  // after the last node
    EXPECT_EQ(Values(&list), (std::vector<int>{0, 1, 2, 5}));
    EXPECT_EQ(CountNodes(&list), 4u);
    while (RemoveHeadNode(&list)) {
    }
    EXPECT_TRUE(IsNodeListEmpty(&list));
    EXPECT_EQ(list.tailPred, reinterpret_cast<lvNode *>(&list.head));
}

// ---- String lists and user tags -------------------------------------------------------

TEST(StringLists, AppendKeepsOrderInOnePiece) {
    lvStringNode *list = nullptr;
    for (const char *t : {"alpha", "", "gamma"}) ASSERT_EQ(AppendStringNode(&list, t), 0);
    std::vector<std::string> got;
    for (lvStringNode *p = list; p; p = p->next) {
        EXPECT_EQ(p->text, p->storage);
        got.push_back(p->text);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"alpha", "", "gamma"}));
    FreeStringList(&list);
    EXPECT_EQ(list, nullptr);
}

TEST(UserTags, CompareCopyAndFree) {
    auto make = [](std::vector<std::pair<const char *, const char *>> strings, std::map<std::string, double> numbers) {
        lvUserTag *list = nullptr;
        for (auto &s : strings) AppendUserTag(&list, NewUserTag(s.first, s.second, SIZE_MAX, 0));
        for (auto &n : numbers) AppendUserTag(&list, NewUserTag(n.first.c_str(), nullptr, 0, n.second));
        return list;
    };
    lvUserTag *a = make({{"Author", "me"}, {"note", "x"}}, {{"Level", 3}});
    lvUserTag *b = make({{"NOTE", "x"}, {"author", "me"}}, {{"level", 3}});
    lvUserTag *c = make({{"author", "me"}, {"note", "x"}}, {{"level", 4}});
    lvUserTag *d = make({{"author", "me"}, {"note", "x"}, {"level", "3"}}, {});  // string never equals number
    lvUserTag *e = make({{"author", "me"}}, {});
    EXPECT_TRUE(CompareUserTags(a, b));
    EXPECT_TRUE(CompareUserTags(b, a));
    EXPECT_FALSE(CompareUserTags(a, c));
    EXPECT_FALSE(CompareUserTags(a, d));
    EXPECT_FALSE(CompareUserTags(a, e));
    EXPECT_TRUE(CompareUserTags(nullptr, nullptr));
    EXPECT_EQ(a->length, 2u);
    EXPECT_EQ(a->next->next->length, 8u);

    // Strings may hold NUL bytes.
    lvUserTag *bin1 = NewUserTag("blob", "a\0b", 3, 0);
    lvUserTag *bin2 = NewUserTag("blob", "a\0c", 3, 0);
    EXPECT_FALSE(CompareUserTags(bin1, bin2));

    int failed = -1;
    lvUserTag *copy = CopyUserTags(a, &failed);
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(CompareUserTags(copy, a));
    EXPECT_NE(copy->name, a->name);
    EXPECT_EQ(CopyUserTags(nullptr, &failed), nullptr);
    EXPECT_EQ(failed, 0);
    for (lvUserTag *l : {a, b, c, d, e, copy, bin1, bin2}) FreeUserTags(l, 0);
}

// ---- Bounded texts ------------------------------------------------------------------

TEST(BoundedText, CopyAppendAndPercents) {
    char buf[4];
    EXPECT_FALSE(CopyStrBounded(buf, sizeof buf, "sixchr"));
    EXPECT_STREQ(buf, "six");
    EXPECT_TRUE(CopyStrBounded(buf, sizeof buf, "ab"));
    EXPECT_TRUE(AppendStrBounded(buf, sizeof buf, "c"));
    EXPECT_STREQ(buf, "abc");
    EXPECT_FALSE(AppendStrBounded(buf, sizeof buf, "d"));
    EXPECT_STREQ(buf, "abc");
    char untouched = 'q';
    EXPECT_FALSE(CopyStrBounded(&untouched, 0, "x"));
    EXPECT_EQ(untouched, 'q');

    char *d = DoublePercentSigns("100% of %s");
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d, "100%% of %%s");
    FreeMemory(d);
    EXPECT_EQ(DoublePercentSigns("plain"), nullptr);
    EXPECT_EQ(DoublePercentSigns(""), nullptr);

    EXPECT_TRUE(PathsEqual("C:\\Data\\Pic.PNG", "c:/data/pic.png"));
    EXPECT_FALSE(PathsEqual("a/b", "a/c"));
}

TEST(BoundedText, ConstantReferences) {
    auto lookup = [](void *, const char *name, const char **s, double *n) {
        if (strcmp(name, "red") == 0) {
            *s = nullptr;
            *n = 0xFF0000;
            return true;
        }
        if (strcmp(name, "my_name$") == 0) {
            *s = "text";
            *n = 0;
            return true;
        }
        return false;
    };
    size_t used = 0;
    const char *s = "unset";
    double n = -1;
    EXPECT_EQ(ParseConstantRef("#red+1", lookup, nullptr, &used, &s, &n), 0);
    EXPECT_EQ(used, 4u);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(n, 0xFF0000);
    EXPECT_EQ(ParseConstantRef("#my_name$ rest", lookup, nullptr, &used, &s, &n), 0);
    EXPECT_EQ(used, 9u);
    EXPECT_STREQ(s, "text");
    EXPECT_EQ(ParseConstantRef("red", lookup, nullptr, &used, &s, &n), ERR_WRONGUSAGE);
    EXPECT_EQ(ParseConstantRef("#1abc", lookup, nullptr, &used, &s, &n), ERR_SYNTAXERROR);
    EXPECT_EQ(ParseConstantRef("#", lookup, nullptr, &used, &s, &n), ERR_SYNTAXERROR);
    EXPECT_EQ(ParseConstantRef("#blue", lookup, nullptr, &used, &s, &n), ERR_FINDCST);
    std::string longname = "#" + std::string(100, 'a');
    EXPECT_EQ(ParseConstantRef(longname.c_str(), lookup, nullptr, &used, &s, &n), ERR_FINDCST);
}

// ---- Random generator and CRC-32 -----------------------------------------------------

TEST(Random48, FollowsTheDrand48Sequence) {
    for (long seed : {0L, 1L, 12345L, 0x7FFFFFFFL, 1700000000L}) {
        srand48(seed);
        SeedRandom48((uint32_t)seed);
        for (int i = 0; i < 200; i++) {
            double want = drand48();
            double got = NextRandomDouble();
            ASSERT_EQ(got, want) << "seed " << seed << " step " << i;
            ASSERT_GE(got, 0.0);
            ASSERT_LT(got, 1.0);
        }
    }
    lvRandom48 r;
    Random48Seed(&r, 0);
    EXPECT_EQ(r.x[0], 0x330E);
    EXPECT_EQ(r.a[2], 5);
    EXPECT_EQ(r.c, 11);
}

TEST(Crc32, EqualsZlib) {
    EXPECT_EQ(ComputeCrc32("", 0), 0u);
    EXPECT_EQ(ComputeCrc32("123456789", 9), 0xCBF43926u);  // the classic check value
    std::vector<unsigned char> data(70000);
    uint32_t s = 1;
    for (auto &b : data) b = (unsigned char)((s = s * 1103515245 + 12345) >> 16);
    for (size_t len : {1u, 3u, 255u, 4096u, 70000u}) {
        uLong z = crc32(0L, data.data(), (uInt)len);
        EXPECT_EQ(ComputeCrc32(data.data(), len), (uint32_t)z) << len;
    }
}

// ---- Number helpers ------------------------------------------------------------------

TEST(NumberHelpers, RoundHalfToEven) {
    struct Case {
        double x;
        int want;
    } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2},
                 {2.5001, 3}, {-7.6, -8}, {1e10, INT_MAX}, {-1e10, INT_MIN}, {NAN, 0},
                 {2147483646.5, 2147483646}, {-2147483648.0, INT_MIN}};
    for (auto &c : cases) EXPECT_EQ(RoundDoubleToInt(c.x), c.want) << c.x;
}

TEST(NumberHelpers, BitsAndFills) {
    EXPECT_EQ(LowestBitIndex(0), -1);
    EXPECT_EQ(LowestBitIndex(1), 0);
    EXPECT_EQ(LowestBitIndex(0x80000000u), 31);
    EXPECT_EQ(LowestBitIndex(0x0C00u), 10);
    unsigned char buf[11];
    memset(buf, 0xEE, sizeof buf);
    FillMemLong(buf + 1, 10, 0x11223344u);  // unaligned; 2 words, the rest untouched
    uint32_t w;
    memcpy(&w, buf + 1, 4);
    EXPECT_EQ(w, 0x11223344u);
    memcpy(&w, buf + 5, 4);
    EXPECT_EQ(w, 0x11223344u);
    EXPECT_EQ(buf[9], 0xEE);
    EXPECT_EQ(buf[0], 0xEE);
}

TEST(NumberHelpers, NumberOrPercentTexts) {
    struct Case {
        const char *text;
        double base;
        int above;
        int code;
        double value;
        int percent;
    } cases[] = {
        {"50%", 640, 0, 0, 320, 0},     {"150%", 640, 0, ERR_PERCENTFORMAT, 0, 0},
        {"150%", 640, 1, 0, 960, 0},    {"25%", 0, 0, 0, 0.25, 1},
        {"-5%", 100, 1, ERR_PERCENTFORMAT, 0, 0}, {"abc", 10, 0, ERR_PERCENTFORMAT, 0, 0},
        {"", 10, 0, ERR_PERCENTFORMAT, 0, 0},     {" 12.5 ", 10, 0, 0, 12.5, 0},
        {"-3", 10, 0, 0, -3, 0},       {"1e2", 10, 0, 0, 100, 0},
        {"12abc", 10, 0, ERR_PERCENTFORMAT, 0, 0}, {"10%x", 10, 0, ERR_PERCENTFORMAT, 0, 0},
        {"inf", 10, 0, ERR_PERCENTFORMAT, 0, 0},  {"100 %", 200, 0, 0, 200, 0},
    };
    for (auto &c : cases) {
        double v = -99;
        int p = -1;
        EXPECT_EQ(ParseNumberOrPercent(c.text, c.base, c.above, &p, &v), c.code) << c.text;
        if (c.code == 0) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
            EXPECT_EQ(p, c.percent) << c.text;
        }
    }
    struct IntCase {
        const char *text;
        int above, code, value;
    } ints[] = {{"25%", 0, 0, -25}, {"0%", 0, 0, 0}, {"100%", 0, 0, -100}, {"101%", 0, ERR_PERCENTFORMATSTR, 0},
                {"101%", 1, 0, -101}, {"25", 0, ERR_PERCENTFORMATSTR, 0}, {"-1%", 1, ERR_PERCENTFORMATSTR, 0},
                {"x%", 0, ERR_PERCENTFORMATSTR, 0}};
    for (auto &c : ints) {
        int v = 12345;
        EXPECT_EQ(ParseIntPercentText(c.text, c.above, &v), c.code) << c.text;
        if (c.code == 0) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}
