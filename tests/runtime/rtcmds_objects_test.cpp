// Tests of the object library's commands on the objects of a small test library whose
// objects are made by number and by Nil.
#include <string>
#include <vector>

#include "platform/lvplatform.h"
#include "runtime/libs_core.h"
#include "runtime/objects.h"
#include "tests/runtime/rtcmds_util.h"

namespace {

// A test object: the common header and a payload.
struct Thing {
    lvObjectHeader header;  // common head
    int size;               // what the attribute reports
};

lvObjectHeader *gThings;  // the test library's list
int gThingType;           // its registered type number

void FreeThing(lvState *L, Thing *t)
{
    lvRefOps ops = {L, [](void *c, int ref) {
                        GetTableItemRaw(static_cast<lvState *>(c), LV_REGISTRYINDEX, ref);
                        return CreateReference(static_cast<lvState *>(c), LV_REGISTRYINDEX);
                    },
                    [](void *c, int ref) { ReleaseReference(static_cast<lvState *>(c), LV_REGISTRYINDEX, ref); }};
    FreeObjectUserData(&t->header.userData, &ops);
    FreeMemory(t);
}

// CreateThing(id or Nil, size) -> the handle when made with Nil. A number in use replaces
// the old object, as object libraries do.
int CmdCreateThing(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int isNil = 0;
    int id = GetIntArgOrNil(L, 1, &isNil);
    int size = static_cast<int>(CheckNumberArg(L, 2));
    if (!isNil) {
        for (lvObjectHeader **p = &gThings; *p; p = &(*p)->next)
            if ((*p)->identifier == id && !(*p)->handle) {
                lvObjectHeader *old = *p;
                *p = old->next;
                FreeThing(L, reinterpret_cast<Thing *>(old));
                break;
            }
    }
    Thing *t = static_cast<Thing *>(AllocMemory(sizeof(Thing), 1));
    if (!t) return ERR_MEM;
    InitObjectHeader(&t->header, gThingType, id, isNil != 0);
    t->size = size;
    lvObjectHeader **tail = &gThings;
    while (*tail) tail = &(*tail)->next;
    *tail = &t->header;
    if (!isNil) return 0;
    PushPointer(L, t->header.handle);
    return 1;
}

// Attribute 1: the size; others are unknown.
int ThingAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvObjectHeader *h = FindAnyObject(gThingType, id);
    if (!h) return ERR_FINDARRAY;
    if (attribute != 1) return ERR_UNKNOWNATTR;
    PushNumber(L, reinterpret_cast<Thing *>(h)->size);
    return 1;
}

const lvCommandEntry kThingCommands[] = {{"CreateThing", CmdCreateThing}, {nullptr, nullptr}};

class RtObjectsTest : public RtCmdsTest {
protected:
    void SetUp() override
    {
        RtCmdsTest::SetUp();
        gThings = nullptr;
        ASSERT_EQ(RegisterObjectType(0, "Things", &gThings, ThingAttribute, &gThingType, 0), 0);
        ASSERT_EQ(RegisterCommandTable(L, kThingCommands, "things"), 0);
    }
    void TearDown() override
    {
        while (gThings) {
            lvObjectHeader *next = gThings->next;
            FreeThing(L, reinterpret_cast<Thing *>(gThings));
            gThings = next;
        }
        RtCmdsTest::TearDown();
    }
    // Runs body after r10 = the type, r11 = the handle of a Nil-made thing (size 5),
    // with things 1 (size 10) and 2 (size 20) made by number.
    int RunWithThings(const std::string &body)
    {
        std::string text = "loadk r10 " + std::to_string(gThingType) + R"(
            getglobal r0 "creatething"
            loadk r1 1
            loadk r2 10
            call r0 3 1
            getglobal r0 "creatething"
            loadk r1 2
            loadk r2 20
            call r0 3 1
            getglobal r0 "creatething"
            loadnil r1 r1
            loadk r2 5
            call r0 3 2
            move r11 r0
        )" + body;
        return Run(text);
    }
};

}  // namespace

TEST_F(RtObjectsTest, GetObjectsAndHaveObject)
{
    ASSERT_EQ(RunWithThings(R"(
        getglobal r0 "getobjects"
        move r1 r10
        call r0 2 3
        getglobal r2 "haveobject"
        move r3 r10
        move r4 r11
        call r2 3 2
        getglobal r3 "haveobject"
        move r4 r10
        loadk r5 3
        call r3 3 2
        getglobal r4 "haveobject"
        move r5 r10
        loadk r6 0
        call r4 3 2
        getglobal r5 "getobjecttype"
        move r6 r11
        call r5 2 2
        move r6 r11
        return r0 8
    )"), 0);
    ASSERT_EQ(GetValueType(L, 1), LV_TTABLE);
    EXPECT_EQ(Num(2), 3);
    GetTableItemRaw(L, 1, 0);
    EXPECT_EQ(Num(-1), 1);
    GetTableItemRaw(L, 1, 1);
    EXPECT_EQ(Num(-1), 2);
    GetTableItemRaw(L, 1, 2);
    ASSERT_EQ(GetValueType(L, -1), LV_TPOINTER);
    EXPECT_EQ(GetUserDataPointer(L, -1), GetUserDataPointer(L, 7));
    SetStackTop(L, 7);
    EXPECT_EQ(Num(3), 1);  // the Nil-made one through its handle
    EXPECT_EQ(Num(4), 0);  // no number 3
    EXPECT_EQ(Num(5), 0);  // the Nil-made one is not number 0
    EXPECT_EQ(Num(6), gThingType);
}

TEST_F(RtObjectsTest, GetAttributeAndCounts)
{
    ASSERT_EQ(RunWithThings(R"(
        getglobal r0 "getattribute"
        move r1 r10
        loadk r2 2
        loadk r3 1
        call r0 4 2
        getglobal r1 "getattribute"
        move r2 r10
        move r3 r11
        loadk r4 1
        call r1 4 2
        getglobal r2 "getattribute"
        move r3 r10
        loadk r4 0
        loadk r5 60
        call r2 4 2
        getglobal r3 "getattribute"
        loadk r4 63
        loadk r5 0
        loadk r6 60
        call r3 4 2
        return r0 5
    )"), 0);
    EXPECT_EQ(Num(1), 20);
    EXPECT_EQ(Num(2), 5);
    EXPECT_EQ(Num(3), 3);  // ATTRCOUNT
    EXPECT_EQ(Num(4), 0);  // ATTRCOUNT of a type without objects
    SetStackTop(L, 0);
    ResetVMRun();
    // Unknown attribute; a type without an attribute function; a layer without the layers library.
    for (const char *type : {"r10", "99", "22"}) {
        std::string body = std::string("getglobal r0 \"getattribute\"\nmove r1 ") + (type[0] == 'r' ? type : "r12") +
                           "\nloadk r2 1\nloadk r3 7\ncall r0 4 2\nreturn r0 2\n";
        std::string prefix = type[0] == 'r' ? "" : std::string("loadk r12 ") + type + "\n";
        SetStackTop(L, 0);
        ResetVMRun();
        EXPECT_EQ(RunWithThings(prefix + body), ERR_UNKNOWNATTR) << type;
        while (gThings) {
            lvObjectHeader *next = gThings->next;
            FreeThing(L, reinterpret_cast<Thing *>(gThings));
            gThings = next;
        }
    }
}

TEST_F(RtObjectsTest, ObjectDataByNumberAndHandle)
{
    ASSERT_EQ(RunWithThings(R"(
        getglobal r0 "setobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "Colour"
        loadk r4 "red"
        call r0 5 1
        getglobal r0 "setobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "COLOUR"
        loadk r4 "blue"
        call r0 5 1
        getglobal r0 "setobjectdata"
        move r1 r10
        move r2 r11
        loadk r3 "colour"
        loadk r4 99
        call r0 5 1
        getglobal r0 "getobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "colour"
        call r0 4 2
        getglobal r1 "getobjectdata"
        move r2 r10
        move r3 r11
        loadk r4 "Colour"
        call r1 4 2
        getglobal r2 "haveobjectdata"
        move r3 r10
        loadk r4 2
        loadk r5 "colour"
        call r2 4 2
        return r0 4
    )"), 0);
    EXPECT_EQ(Str(1), "blue");  // one item, the second value
    EXPECT_EQ(Num(2), 99);
    EXPECT_EQ(Num(3), 0);
    int items = 0;
    for (lvObjectUserData *u = gThings->userData; u; u = u->next) items++;
    EXPECT_EQ(items, 1);
}

TEST_F(RtObjectsTest, ObjectDataErrors)
{
    struct Case {
        const char *body;
        int code;
    } cases[] = {
        {"getglobal r0 \"getobjectdata\"\nmove r1 r10\nloadk r2 1\nloadk r3 \"nokey\"\ncall r0 4 2\n", ERR_FINDOBJECTDATA},
        {"getglobal r0 \"getobjectdata\"\nmove r1 r10\nloadk r2 7\nloadk r3 \"k\"\ncall r0 4 2\n", ERR_FINDARRAY},
        {"getglobal r0 \"setobjectdata\"\nmove r1 r10\nloadk r2 1\nloadk r3 \"\"\nloadk r4 1\ncall r0 5 1\n", ERR_WRONGUSAGE},
        {"getglobal r0 \"setobjectdata\"\nmove r1 r10\nloadk r2 1\nloadk r3 \"k\"\ncall r0 4 1\n", ERR_MISSINGPARAMTR},
        {"getglobal r0 \"clearobjectdata\"\nmove r1 r10\nloadk r2 1\nloadk r3 \"nokey\"\ncall r0 4 1\n", ERR_FINDOBJECTDATA},
        {"getglobal r0 \"setobjectdata\"\nloadk r1 22\nloadk r2 1\nloadk r3 \"k\"\nloadk r4 1\ncall r0 5 1\n", ERR_NOLAYERS},
        {"getglobal r0 \"getobjecttype\"\nloadk r1 5\ncall r0 2 2\n", ERR_UDEXPECTED},
    };
    for (const Case &c : cases) {
        SetStackTop(L, 0);
        ResetVMRun();
        EXPECT_EQ(RunWithThings(std::string(c.body) + "return r0 1\n"), c.code) << c.body;
        while (gThings) {
            lvObjectHeader *next = gThings->next;
            FreeThing(L, reinterpret_cast<Thing *>(gThings));
            gThings = next;
        }
    }
    char text[128];
    SetErrorStringArg("nokey");
    GetErrorText(ERR_FINDOBJECTDATA, text, sizeof text);
    EXPECT_NE(std::string(text).find("nokey"), std::string::npos) << text;
}

TEST_F(RtObjectsTest, CopyAndClearObjectData)
{
    // Thing 1: a=1, b=2. Nil-made thing: b=20, c=30. Copy 1 -> Nil-made without overwrite,
    // then with overwrite to thing 2; clear one key, then all.
    ASSERT_EQ(RunWithThings(R"(
        getglobal r0 "setobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "a"
        loadk r4 1
        call r0 5 1
        getglobal r0 "setobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "b"
        loadk r4 2
        call r0 5 1
        getglobal r0 "setobjectdata"
        move r1 r10
        move r2 r11
        loadk r3 "b"
        loadk r4 20
        call r0 5 1
        getglobal r0 "copyobjectdata"
        move r1 r10
        loadk r2 1
        move r3 r10
        move r4 r11
        loadk r5 0
        call r0 6 1
        getglobal r0 "getobjectdata"
        move r1 r10
        move r2 r11
        loadk r3 "b"
        call r0 4 2
        move r20 r0
        getglobal r0 "getobjectdata"
        move r1 r10
        move r2 r11
        loadk r3 "a"
        call r0 4 2
        move r21 r0
        getglobal r0 "copyobjectdata"
        move r1 r10
        move r2 r11
        move r3 r10
        loadk r4 1
        call r0 5 1
        getglobal r0 "getobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "b"
        call r0 4 2
        move r22 r0
        getglobal r0 "clearobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "a"
        call r0 4 1
        getglobal r0 "haveobjectdata"
        move r1 r10
        loadk r2 1
        loadk r3 "a"
        call r0 4 2
        move r23 r0
        getglobal r0 "clearobjectdata"
        move r1 r10
        move r2 r11
        call r0 3 1
        getglobal r0 "haveobjectdata"
        move r1 r10
        move r2 r11
        loadk r3 "b"
        call r0 4 2
        move r24 r0
        return r20 6
    )"), 0);
    EXPECT_EQ(Num(1), 20);  // kept without overwrite
    EXPECT_EQ(Num(2), 1);   // appended
    EXPECT_EQ(Num(3), 20);  // overwritten back on thing 1
    EXPECT_EQ(Num(4), 0);
    EXPECT_EQ(Num(5), 0);
}

// ---- Resource monitor ------------------------------------------------------------------------

namespace {

// A stand-in for the display and layer engines: records what the monitor asked of them.
struct MonitorDouble {
    int opens = 0, frees = 0;
    int width = 0, height = 0;
    std::vector<std::string> texts;
    std::vector<int> fontSizes;
} gMonitor;

const lvResourceMonitorHooks kMonitorHooks = {
    [](lvState *, int width, int height) {
        gMonitor.opens++;
        gMonitor.width = width;
        gMonitor.height = height;
        return 0;
    },
    [](lvState *) { gMonitor.frees++; },
    [](lvState *, const char *text, int fontSize) {
        gMonitor.texts.push_back(text);
        gMonitor.fontSizes.push_back(fontSize);
        return 0;
    },
    [](lvState *, lvResourceExtras *extras) { extras->layersTotal = 4; },
};

int CountTypes()
{
    int n = 0;
    for (lvObjectType *t = FirstObjectType(); t; t = t->next) n++;
    return n;
}

}  // namespace

TEST_F(RtObjectsTest, ResourceMonitorWithoutDisplayEnginesIsNotBuiltYet)
{
    SetResourceMonitorHooks(nullptr);
    // Arguments are checked first; closing a monitor that is not open does nothing.
    EXPECT_EQ(Run("getglobal r0 \"openresourcemonitor\"\nloadk r1 5\ncall r0 2 1\nreturn r0 1\n"), ERR_TABEXPECTED);
    ResetVMRun();
    EXPECT_EQ(Run("getglobal r0 \"openresourcemonitor\"\ncall r0 1 1\nreturn r0 1\n"), ERR_UNIMPLCMD);
    ResetVMRun();
    EXPECT_EQ(Run("getglobal r0 \"closeresourcemonitor\"\ncall r0 1 1\nreturn r0 1\n"), 0);
}

TEST_F(RtObjectsTest, ResourceMonitorOpensOnceRedrawsAtMostTwiceASecondAndCloses)
{
    gMonitor = MonitorDouble();
    SetResourceMonitorHooks(&kMonitorHooks);
    const std::string open = R"(
        getglobal r0 "openresourcemonitor"
        newtable r1 0 2
        settable r1 "fontsize" 10
        settable r1 "width" 300
        call r0 2 1
    )";
    ASSERT_EQ(Run(open + open + "return r0 1\n"), 0);
    EXPECT_EQ(gMonitor.opens, 1) << "a second opening changes nothing";
    EXPECT_EQ(gMonitor.width, 300);
    EXPECT_EQ(gMonitor.height, (CountTypes() + 3) * 10);
    ASSERT_EQ(gMonitor.texts.size(), 1u) << "the opening draws the text at once";
    EXPECT_EQ(gMonitor.fontSizes[0], 10);
    EXPECT_NE(gMonitor.texts[0].find("Layers (total):"), std::string::npos) << gMonitor.texts[0];
    EXPECT_NE(gMonitor.texts[0].find(" 4\n"), std::string::npos) << gMonitor.texts[0];

    UpdateResourceMonitor(L, 0);
    EXPECT_EQ(gMonitor.texts.size(), 1u) << "within half a second only a forced update redraws";
    UpdateResourceMonitor(L, 1);
    EXPECT_EQ(gMonitor.texts.size(), 2u);

    ResetVMRun();
    ASSERT_EQ(Run("getglobal r0 \"closeresourcemonitor\"\ncall r0 1 1\ncall r0 1 1\nreturn r0 1\n"), 0);
    EXPECT_EQ(gMonitor.frees, 1);
    UpdateResourceMonitor(L, 1);
    EXPECT_EQ(gMonitor.texts.size(), 2u) << "a closed monitor draws nothing";

    // Closed by its window: the next opening makes a new one with the kept font size.
    ResetVMRun();
    ASSERT_EQ(Run("getglobal r0 \"openresourcemonitor\"\ncall r0 1 1\nreturn r0 1\n"), 0);
    ResourceMonitorClosed();
    ResetVMRun();
    ASSERT_EQ(Run("getglobal r0 \"openresourcemonitor\"\ncall r0 1 1\nreturn r0 1\n"), 0);
    EXPECT_EQ(gMonitor.opens, 3);
    EXPECT_EQ(gMonitor.fontSizes.back(), 10);
    ResetVMRun();
    ASSERT_EQ(Run("getglobal r0 \"closeresourcemonitor\"\ncall r0 1 1\nreturn r0 1\n"), 0);
    SetResourceMonitorHooks(nullptr);
}
