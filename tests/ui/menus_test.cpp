// Menus without the runtime executable: trees from tables and their refusals, item states
// on menu objects, the numbering and radio rule of the platform's model, stored menus read
// from hand-built bytes, and adapter menu reports taken only for nodes a display uses.
#include <gtest/gtest.h>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_menus.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"
#include "runtime/objects.h"
#include "ui/display.h"
#include "tests/ui/headless_displays.h"
#include "ui/events.h"
#include "ui/lib_menu.h"
#include "ui/menus.h"
#include "vm/lvvm.h"

#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

// One entry of a menu table as a script writes it.
struct Entry {
    std::string title;
    std::vector<Entry> children;
    int flags = 0;
    const char *id = nullptr;
    const char *hotkey = nullptr;
    bool hasTitle = true;
    bool hasChildren = false;
};

Entry Leaf(const char *title, const char *id = nullptr, int flags = 0, const char *hotkey = nullptr)
{
    Entry e;
    e.title = title;
    e.id = id;
    e.flags = flags;
    e.hotkey = hotkey;
    return e;
}

Entry Sub(const char *title, std::vector<Entry> children)
{
    Entry e;
    e.title = title;
    e.children = std::move(children);
    e.hasChildren = true;
    return e;
}

void PushEntries(lvState *L, const std::vector<Entry> &entries)
{
    PushNewTable(L);
    for (size_t i = 0; i < entries.size(); i++) {
        const Entry &e = entries[i];
        PushNumber(L, (double)i);
        PushNewTable(L);
        if (e.hasTitle) {
            PushNumber(L, 0);
            PushString(L, e.title.c_str());
            SetTableValueRaw(L, -3);
        }
        if (e.hasChildren) {
            PushNumber(L, 1);
            PushEntries(L, e.children);
            SetTableValueRaw(L, -3);
        }
        if (e.flags) SetFieldInt(L, "flags", e.flags);
        if (e.id) SetFieldString(L, "id", e.id);
        if (e.hotkey) SetFieldString(L, "hotkey", e.hotkey);
        SetTableValueRaw(L, -3);
    }
}

lvCommandFunction FindCommand(const char *name)
{
    for (const lvCommandEntry *e = GetMenuCommands(); e->name; e++)
        if (strcasecmp(e->name, name) == 0) return e->func;
    return nullptr;
}

class MenuLibrary : public HeadlessDisplays {
protected:
    void SetUp() override
    {
        HeadlessDisplays::SetUp();
        ASSERT_EQ(OpenMenuLibrary(L), 0);
    }
    void TearDown() override
    {
        SetCurrentDisplay(nullptr);
        ShutdownDisplays(L);
        CloseMenuLibrary(L, 1);
        FreeObjectTypes();
        HeadlessDisplays::TearDown();
    }
    // A command on an empty stack: a raised error or an answered code is the status; on
    // success only the results stay on the stack.
    template <typename Push>
    int Call(const char *name, Push push)
    {
        SetStackTop(L, 0);
        push();
        struct Run {
            lvCommandFunction command;
            int answer;
        } run = {FindCommand(name), 0};
        if (!run.command) return -100;
        int status = RunProtected(
            L, [](lvState *L, void *data) { ((Run *)data)->answer = ((Run *)data)->command(L); }, &run);
        if (status) return status;
        if (run.answer >= 1000 || run.answer < 0) return run.answer;
        while (GetStackTop(L) > run.answer) RemoveValue(L, 1);
        return 0;
    }
    int Create(int id, const std::vector<Entry> &entries)
    {
        return Call("CreateMenu", [&] {
            PushNumber(L, id);
            PushEntries(L, entries);
        });
    }
    // An item command with the menu flag: its status, and for the Is... queries the answer.
    int Item(const char *command, int id, const char *item, int *answer = nullptr, int ofMenu = 1)
    {
        int status = Call(command, [&] {
            PushNumber(L, id);
            PushString(L, item);
            PushNumber(L, ofMenu);
        });
        if (answer && status == 0 && GetStackTop(L) == 1) *answer = (int)ValueToNumber(L, 1);
        return status;
    }
    lvMenu *Find(int id)
    {
        lvMenu *m = nullptr;
        FindMenuById({id, nullptr}, &m);
        return m;
    }
};

std::vector<Entry> FileMenu()
{
    return {Sub("File", {Leaf("Open", "open", 0, "o"), Leaf("Save", "save"), Leaf("Quit", "quit", 0, "q")})};
}

TEST_F(MenuLibrary, TablesThatAreRefusedLeaveNoMenuBehind)
{
    Entry numberTitle = Leaf("x");
    Entry noTopTitle;
    noTopTitle.hasTitle = false;
    Entry levelTwoSub = Sub("F", {Sub("G", {Sub("H", {Leaf("deep")})})});
    struct Case {
        const char *what;
        std::vector<Entry> entries;
        int code;
    } cases[] = {
        {"a level-2 item with a submenu", {levelTwoSub}, ERR_MENUCOMPLEXITY},
        {"radio and toggle at once", {Sub("F", {Leaf("a", "a", MENUITEM_RADIO | MENUITEM_TOGGLE)})},
         ERR_RADIOTOGGLEMENU},
        {"an empty strip title", {Sub("", {Leaf("a")})}, ERR_WRONGUSAGE},
        {"a strip title missing", {noTopTitle}, ERR_STRINGEXPECTED},
        {"an empty table", {}, ERR_EMPTYMENUTREE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Create(7, c.entries), c.code);
        EXPECT_EQ(Find(7), nullptr);
    }
    // Wrong value types inside the table.
    EXPECT_EQ(Call("CreateMenu",
                   [&] {
                       PushNumber(L, 7);
                       PushNewTable(L);
                       PushNumber(L, 0);
                       PushNumber(L, 5);  // an entry that is no table
                       SetTableValueRaw(L, -3);
                   }),
              ERR_TABLEORNIL);
    EXPECT_EQ(Call("CreateMenu",
                   [&] {
                       PushNumber(L, 7);
                       PushNewTable(L);
                       PushNumber(L, 0);
                       PushNewTable(L);
                       PushNumber(L, 0);
                       PushNumber(L, 12);  // a number is no title
                       SetTableValueRaw(L, -3);
                       SetTableValueRaw(L, -3);
                   }),
              ERR_STRINGEXPECTED);
    EXPECT_EQ(Find(7), nullptr);
}

TEST_F(MenuLibrary, ThreeLevelsSeparatorsAndTheReplacedMenu)
{
    ASSERT_EQ(Create(1, {Sub("F", {Leaf("a", "a"), Leaf(""), Sub("More", {Leaf("deep", "deep")})})}), 0);
    lvMenu *m = Find(1);
    ASSERT_NE(m, nullptr);
    const lvMenuItem *items = m->first->firstChild;
    ASSERT_NE(items->next, nullptr);
    EXPECT_EQ(items->next->title, nullptr);  // the separator
    EXPECT_STREQ(items->next->next->firstChild->id, "deep");
    EXPECT_EQ(CountMenuItems(m->first), 5);
    // A failed CreateMenu on the same number keeps the old menu; a good one replaces it.
    EXPECT_EQ(Create(1, {Sub("", {})}), ERR_WRONGUSAGE);
    EXPECT_EQ(Find(1), m);
    ASSERT_EQ(Create(1, FileMenu()), 0);
    ASSERT_NE(Find(1), nullptr);
    EXPECT_STREQ(Find(1)->first->title, "File");
    // A Nil id gives a handle; FreeMenu of an unknown number names it.
    ASSERT_EQ(Call("CreateMenu",
                   [&] {
                       PushNil(L);
                       PushEntries(L, FileMenu());
                   }),
              0);
    ASSERT_EQ(GetValueType(L, 1), LV_TPOINTER);
    void *handle = GetUserDataPointer(L, 1);
    EXPECT_EQ(Call("FreeMenu", [&] { PushPointer(L, handle); }), 0);
    EXPECT_EQ(Call("FreeMenu", [&] { PushPointer(L, handle); }), ERR_FINDARRAY);
    EXPECT_EQ(Call("FreeMenu", [&] { PushNumber(L, 99); }), ERR_FINDMENU);
}

TEST_F(MenuLibrary, ItemStatesOnMenuObjects)
{
    const int R = MENUITEM_RADIO, T = MENUITEM_TOGGLE;
    ASSERT_EQ(Create(1, {Sub("View", {Leaf("Small", "small", R), Leaf("Medium", "Medium", R), Leaf("Large", "large", R),
                                      Leaf("Grid", "grid", T), Leaf("Plain", "plain"), Leaf("Nameless")})}),
              0);
    auto selected = [&](const char *id) {
        int answer = -1;
        EXPECT_EQ(Item("IsMenuItemSelected", 1, id, &answer), 0) << id;
        return answer;
    };
    // No member selected: the first of the run counts.
    EXPECT_EQ(selected("small"), 1);
    EXPECT_EQ(selected("medium"), 0);
    EXPECT_EQ(selected("large"), 0);
    // Ids are compared without case.
    ASSERT_EQ(Item("SelectMenuItem", 1, "LARGE"), 0);
    EXPECT_EQ(selected("small"), 0);
    EXPECT_EQ(selected("large"), 1);
    ASSERT_EQ(Item("SelectMenuItem", 1, "medium"), 0);
    EXPECT_EQ(selected("large"), 0);
    EXPECT_EQ(selected("medium"), 1);
    // Toggles go both ways; radio items cannot be deselected, plain ones not selected.
    EXPECT_EQ(selected("grid"), 0);
    ASSERT_EQ(Item("SelectMenuItem", 1, "grid"), 0);
    EXPECT_EQ(selected("grid"), 1);
    ASSERT_EQ(Item("DeselectMenuItem", 1, "grid"), 0);
    EXPECT_EQ(selected("grid"), 0);
    EXPECT_EQ(Item("DeselectMenuItem", 1, "medium"), ERR_WRONGUSAGE);
    EXPECT_EQ(Item("SelectMenuItem", 1, "plain"), ERR_WRONGUSAGE);
    EXPECT_EQ(Item("IsMenuItemSelected", 1, "plain"), ERR_WRONGUSAGE);
    // Greying works on any item.
    int disabled = -1;
    ASSERT_EQ(Item("DisableMenuItem", 1, "plain"), 0);
    ASSERT_EQ(Item("IsMenuItemDisabled", 1, "plain", &disabled), 0);
    EXPECT_EQ(disabled, 1);
    ASSERT_EQ(Item("EnableMenuItem", 1, "plain"), 0);
    ASSERT_EQ(Item("IsMenuItemDisabled", 1, "plain", &disabled), 0);
    EXPECT_EQ(disabled, 0);
    // An item without an id cannot be named; neither can an unknown one.
    EXPECT_EQ(Item("DisableMenuItem", 1, "Nameless"), ERR_FINDMENUITEM);
    EXPECT_EQ(Item("DisableMenuItem", 1, "nothing"), ERR_FINDMENUITEM);
    EXPECT_EQ(Item("DisableMenuItem", 2, "plain"), ERR_FINDMENU);
    // Display 0 names no display: without an adapter there is no context menu.
    EXPECT_EQ(Item("DisableMenuItem", 0, "plain", nullptr, 0), ERR_NOCONTEXTMENU);
}

// ---- The platform's model ----------------------------------------------------------------

struct Tree {
    lvMenuItem *first = nullptr;
    ~Tree() { FreeMenuTree(first); }
};

// Texts of a tree are freed with the platform's allocator.
char *Copy(const char *text)
{
    char *c = (char *)AllocMemory(std::strlen(text) + 1, 0);
    std::strcpy(c, text);
    return c;
}

lvMenuItem *Node(const char *title, const char *id = nullptr, uint32_t flags = 0, const char *hotkey = nullptr)
{
    lvMenuItem *n = NewMenuItem(title, title ? std::strlen(title) : 0);
    if (id) n->id = Copy(id);
    if (hotkey) n->hotkey = Copy(hotkey);
    n->flags = flags;
    return n;
}

lvMenuItem *Chain(std::initializer_list<lvMenuItem *> nodes)
{
    lvMenuItem *first = nullptr, **tail = &first;
    for (lvMenuItem *n : nodes) {
        *tail = n;
        tail = &n->next;
    }
    return first;
}

lvMenuItem *WithChildren(lvMenuItem *n, lvMenuItem *children)
{
    n->firstChild = children;
    return n;
}

TEST(MenuModel, NumbersChildrenBeforeTheirSubmenu)
{
    // Strip: "Edit" holding [a submenu of two items, then a leaf].
    Tree t;
    lvMenuItem *one = Node("One", nullptr), *two = Node("Two"), *leaf = Node("Leaf");
    lvMenuItem *sub = WithChildren(Node("Sub"), Chain({one, two}));
    t.first = WithChildren(Node("Edit"), Chain({sub, leaf}));
    EXPECT_EQ(MenuItemNumber(t.first, one), 0);
    EXPECT_EQ(MenuItemNumber(t.first, two), 1);
    EXPECT_EQ(MenuItemNumber(t.first, sub), 2);
    EXPECT_EQ(MenuItemNumber(t.first, leaf), 3);
    EXPECT_EQ(MenuItemNumber(t.first, t.first), 4);
    for (int n = 0; n < 5; n++) EXPECT_EQ(MenuItemNumber(t.first, MenuItemOfNumber(t.first, n)), n);
    EXPECT_EQ(MenuItemOfNumber(t.first, 5), nullptr);

    // The model numbers the same way: from 0 for a strip, from 1 for a popup.
    for (int base : {0, 1}) {
        lvMenuModel *m = BuildMenuModel(t.first, base);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->count, 5);
        const char *labels[] = {"One", "Two", "Sub", "Leaf", "Edit"};
        for (int n = 0; n < 5; n++) {
            lvMenuNode *node = FindMenuNode(m, n + base);
            ASSERT_NE(node, nullptr);
            EXPECT_STREQ(node->label, labels[n]);
            EXPECT_EQ(node->number, n + base);
        }
        EXPECT_EQ(FindMenuNode(m, base - 1), nullptr);
        EXPECT_EQ(m->nodes[m->first].level, 0);
        EXPECT_EQ(FindMenuNode(m, base + 2)->firstChild, 0);
        EXPECT_EQ(FindMenuNode(m, base + 0)->level, 2);
        FreeMenuModel(m);
    }
}

TEST(MenuModel, RadioRuleChoicesAndShortcuts)
{
    const uint32_t R = MENUITEM_RADIO, S = MENUITEM_SELECTED, T = MENUITEM_TOGGLE, D = MENUITEM_DISABLED;
    Tree t;
    // Run A: r1 r2(sel) r3(sel), ended by a toggle; run B: r4 r5, ended by a submenu; r6
    // alone after it; a disabled item; a separator.
    t.first = WithChildren(
        Node("Menu"),
        Chain({Node("r1", "r1", R), Node("r2", "r2", R | S), Node("r3", "r3", R | S), Node("tg", "tg", T, "g"),
               Node("r4", "r4", R), Node("r5", "r5", R), WithChildren(Node("sub"), Node("inner", "inner", 0, "Ctrl+X")),
               Node("r6", "r6", R), Node("off", "off", D, "Q"), Node(nullptr), Node("quit", "quit", 0, "q")}));
    lvMenuModel *m = BuildMenuModel(t.first, 0);
    ASSERT_NE(m, nullptr);
    auto number = [&](const char *id) {
        for (int i = 0; i < m->count; i++)
            if (m->nodes[i].idText && std::strcmp(m->nodes[i].idText, id) == 0) return m->nodes[i].number;
        return -1;
    };
    auto flags = [&](const char *id) { return GetMenuNodeFlags(m, number(id)); };
    // Only the first selected member of a run stays selected; a run without one shows its head.
    EXPECT_EQ(flags("r1"), 0);
    EXPECT_EQ(flags("r2"), (int)S);
    EXPECT_EQ(flags("r3"), 0);
    EXPECT_EQ(flags("r4"), (int)S);
    EXPECT_EQ(flags("r5"), 0);
    EXPECT_EQ(flags("r6"), (int)S);  // the submenu ended run B
    lvMenuNode *r1 = FindMenuNode(m, number("r1"));
    EXPECT_EQ(r1->radioFirst, number("r1"));
    EXPECT_EQ(r1->radioLast, number("r3"));
    EXPECT_EQ(FindMenuNode(m, number("r6"))->radioLast, number("r6"));
    // Choosing: a radio item takes its group's selection; a toggle flips; a disabled item,
    // a separator and a submenu report nothing.
    EXPECT_EQ(ChooseMenuNode(m, number("r3")), 1);
    EXPECT_EQ(flags("r2"), 0);
    EXPECT_EQ(flags("r3"), (int)S);
    EXPECT_EQ(flags("r4"), (int)S);  // another group
    EXPECT_EQ(ChooseMenuNode(m, number("tg")), 1);
    EXPECT_EQ(ChooseMenuNode(m, number("tg")), 0);
    EXPECT_EQ(ChooseMenuNode(m, number("quit")), 0);
    EXPECT_EQ(ChooseMenuNode(m, number("off")), -1);
    EXPECT_EQ(ChooseMenuNode(m, number("quit") - 1), -1);  // the separator
    EXPECT_EQ(ChooseMenuNode(m, number("inner") + 1), -1);  // the submenu
    // Setting flags as the strip shows them.
    EXPECT_EQ(SetMenuNodeFlags(m, number("r5"), S, 0), 0);
    EXPECT_EQ(flags("r4"), 0);
    EXPECT_EQ(flags("r5"), (int)S);
    EXPECT_EQ(SetMenuNodeFlags(m, number("quit"), D, 0), 0);
    EXPECT_EQ(flags("quit"), (int)D);
    EXPECT_EQ(SetMenuNodeFlags(m, 999, D, 0), ERR_FINDMENUITEM);
    EXPECT_EQ(GetMenuNodeFlags(m, 999), -1);
    // Shortcuts: one character is Ctrl+key (letters either case); longer texts are shown only.
    EXPECT_STREQ(FindMenuNode(m, number("quit"))->shortcut, "Ctrl+q");
    EXPECT_STREQ(FindMenuNode(m, number("inner"))->shortcut, "Ctrl+X");
    EXPECT_EQ(FindMenuNode(m, number("inner"))->accelerator, 0);
    EXPECT_EQ(FindMenuAccelerator(m, 'Q'), number("off"));  // the first holder, disabled: swallowed
    EXPECT_EQ(FindMenuAccelerator(m, 'g'), number("tg"));
    EXPECT_EQ(FindMenuAccelerator(m, 'z'), -1);
    FreeMenuModel(m);
}

TEST(MenuModel, LongLabelsAreCutAtACharacterBoundary)
{
    std::string title;
    for (int i = 0; i < 300; i++) title += "\xC3\xA9";  // é, two bytes each
    std::string ascii(300, 'a');
    Tree t;
    t.first = WithChildren(Node("M"), Chain({Node(title.c_str()), Node(ascii.c_str()), Node("x\xE2\x82\xAC")}));
    lvMenuModel *m = BuildMenuModel(t.first, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::string(FindMenuNode(m, 0)->label), title.substr(0, 512));
    EXPECT_EQ(std::strlen(FindMenuNode(m, 1)->label), 256u);
    EXPECT_STREQ(FindMenuNode(m, 2)->label, "x\xE2\x82\xAC");
    FreeMenuModel(m);
}

// ---- Stored menus ------------------------------------------------------------------------

struct Bytes {
    std::vector<uint8_t> v;
    Bytes &Text(const char *s)
    {
        size_t n = s ? std::strlen(s) : 0;
        v.push_back((uint8_t)(n >> 8));
        v.push_back((uint8_t)n);
        if (s) v.insert(v.end(), s, s + n);
        return *this;
    }
    Bytes &Item(const char *title, const char *id, const char *hotkey, uint32_t flags, uint8_t more)
    {
        Text(title).Text(id).Text(hotkey);
        for (int shift = 24; shift >= 0; shift -= 8) v.push_back((uint8_t)(flags >> shift));
        v.push_back(more);
        return *this;
    }
    Bytes &Byte(uint8_t b)
    {
        v.push_back(b);
        return *this;
    }
};

int ReadStored(const Bytes &b, lvMenuItem **out)
{
    lvByteSource source;
    InitMemorySource(&source, b.v.data(), b.v.size());
    lvAppletCursor cursor = {&source, 0, b.v.size()};
    return ReadStoredMenuTree(&cursor, out);
}

TEST(StoredMenus, ThreeLevelsReadBackAndDeeperOrCutBytesAreRefused)
{
    // File { Open (o), More { Deep } }, View.
    Bytes good;
    good.Item("File", nullptr, nullptr, 0, 2)
        .Item("Open", "open", "o", MENUITEM_TOGGLE | MENUITEM_SELECTED, 1)
        .Item("More", nullptr, nullptr, 0, 2)
        .Item("Deep", "deep", nullptr, MENUITEM_RADIO, 0)
        .Byte(0)   // ends File's list
        .Byte(1)   // the next top-level item follows
        .Item("View", nullptr, nullptr, 0, 0);
    lvMenuItem *tree = nullptr;
    ASSERT_EQ(ReadStored(good, &tree), 0);
    ASSERT_NE(tree, nullptr);
    EXPECT_STREQ(tree->title, "File");
    const lvMenuItem *open = tree->firstChild;
    EXPECT_STREQ(open->id, "open");
    EXPECT_STREQ(open->hotkey, "o");
    EXPECT_EQ(open->flags, (uint32_t)(MENUITEM_TOGGLE | MENUITEM_SELECTED));
    EXPECT_STREQ(open->next->firstChild->id, "deep");
    EXPECT_STREQ(tree->next->title, "View");
    EXPECT_EQ(tree->next->next, nullptr);
    EXPECT_EQ(CountMenuItems(tree), 5);
    FreeMenuTree(tree);

    Bytes levelThree;
    levelThree.Item("A", nullptr, nullptr, 0, 2).Item("B", nullptr, nullptr, 0, 2).Item("C", nullptr, nullptr, 0, 2)
        .Item("D", nullptr, nullptr, 0, 0);
    // A crafted applet nesting far deeper than any menu: refused at the first level too many.
    Bytes nested;
    for (int i = 0; i < 100000; i++) nested.Item("N", nullptr, nullptr, 0, 2);
    Bytes cutText;
    cutText.Item("File", nullptr, nullptr, 0, 2).Text(nullptr);
    cutText.v.push_back(0);
    cutText.v.push_back(9);
    cutText.v.push_back('x');  // 9 bytes announced, one there
    Bytes cutFlags;
    cutFlags.Text("File").Text(nullptr).Text(nullptr).Byte(0).Byte(0);
    Bytes noEnd;
    noEnd.Text("File").Text(nullptr).Text(nullptr).Byte(0).Byte(0).Byte(0).Byte(0);
    struct Case {
        const char *what;
        const Bytes &bytes;
        int code;
    } cases[] = {
        {"level 3", levelThree, ERR_MENUCOMPLEXITY},
        {"deep nesting", nested, ERR_MENUCOMPLEXITY},
        {"a cut text", cutText, ERR_READ},
        {"cut flags", cutFlags, ERR_READ},
        {"no continuation byte", noEnd, ERR_READ},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lvMenuItem *out = reinterpret_cast<lvMenuItem *>(1);
        EXPECT_EQ(ReadStored(c.bytes, &out), c.code);
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(MenuLibrary, AStoredTreeBecomesTheSameMenuThroughItsTable)
{
    Bytes b;
    b.Item("File", nullptr, nullptr, 0, 2)
        .Item("Open", "open", "o", MENUITEM_TOGGLE | MENUITEM_SELECTED, 1)
        .Item(nullptr, nullptr, nullptr, 0, 1)
        .Item("More", nullptr, nullptr, 0, 2)
        .Item("Deep", "deep", nullptr, MENUITEM_RADIO, 0)
        .Byte(0)
        .Byte(0);
    lvMenuItem *tree = nullptr;
    ASSERT_EQ(ReadStored(b, &tree), 0);
    ASSERT_EQ(Call("CreateMenu",
                   [&] {
                       PushNumber(L, 4);
                       PushMenuTreeTable(L, tree);
                   }),
              0);
    FreeMenuTree(tree);
    lvMenu *m = Find(4);
    ASSERT_NE(m, nullptr);
    const lvMenuItem *open = m->first->firstChild;
    EXPECT_STREQ(open->title, "Open");
    EXPECT_STREQ(open->hotkey, "o");
    EXPECT_EQ(open->flags, (uint32_t)(MENUITEM_TOGGLE | MENUITEM_SELECTED));
    EXPECT_EQ(open->next->title, nullptr);
    EXPECT_STREQ(open->next->next->firstChild->id, "deep");
}

// ---- Displays -----------------------------------------------------------------------------

class MenuDisplays : public MenuLibrary {
protected:
    lvDisplay *d = nullptr;
    int handle = 0;
    void SetUp() override
    {
        MenuLibrary::SetUp();
        lvDisplayRequest request;
        InitDisplayRequest(&request);
        ASSERT_EQ(CreateDisplayFromRequest(L, 1, 0, &request, &d), 0);
        FreeDisplayRequest(&request);
        d->handle = &handle;
    }
    void TearDown() override
    {
        d->handle = nullptr;
        MenuLibrary::TearDown();
    }
    std::vector<std::pair<std::string, int>> Drain()
    {
        std::vector<std::pair<std::string, int>> out;
        LockEvents();
        lvFetchedEvent e;
        for (int n = 0; FetchEvent(L, n, &e, 0); n++)
            if (e.type == EVENT_MENUSELECT) out.push_back({(const char *)e.payload, e.down});
        UnlockEvents();
        DropEvents(L, -1, 1);
        return out;
    }
};

TEST_F(MenuDisplays, AdapterReportsAreTakenOnlyForNodesTheDisplayUses)
{
    ASSERT_EQ(Create(1, FileMenu()), 0);
    ASSERT_EQ(Create(2, FileMenu()), 0);
    ASSERT_EQ(AttachDisplayMenu(L, d, 1), 0);
    lvMenuItem *quit = FindMenuItem(Find(1)->first, "quit", nullptr);
    lvMenuItem *other = FindMenuItem(Find(2)->first, "quit", nullptr);
    lvMenuItem forged = {};
    auto report = [&](const void *item, uint32_t flags) {
        lvAdapterEvent e = {(uintptr_t)&handle, (uintptr_t)item, flags, 0, 0};
        return PostAdapterEvent(L, LVP_EVENT_MENU, &e);
    };
    EXPECT_EQ(report(quit, 1), 0);
    EXPECT_EQ(report(other, 0), 0);    // a menu the display does not use
    EXPECT_EQ(report(&forged, 0), 0);  // no node at all
    EXPECT_EQ(report(nullptr, 0), 0);
    auto events = Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, "quit");
    EXPECT_EQ(events[0].second, 1);

    // A strip's or a tray's menu cannot be freed; once detached it can, and its old nodes
    // are refused from then on.
    EXPECT_EQ(FreeMenuById(L, {1, nullptr}, 1), ERR_MENUATTACHED);
    ASSERT_EQ(SetDisplayTrayMenu(d, Find(2)), 0);
    EXPECT_EQ(FreeMenuById(L, {2, nullptr}, 1), ERR_MENUATTACHED);
    EXPECT_EQ(report(other, 0), 0);
    EXPECT_EQ(Drain().size(), 1u);  // the tray's nodes are the display's too
    EXPECT_EQ(Create(1, FileMenu()), ERR_MENUATTACHED);
    ASSERT_EQ(AttachDisplayMenu(L, d, -1), 0);
    ASSERT_EQ(SetDisplayTrayMenu(d, nullptr), 0);
    EXPECT_EQ(FreeMenuById(L, {1, nullptr}, 1), 0);
    EXPECT_EQ(FreeMenuById(L, {2, nullptr}, 1), 0);
    EXPECT_EQ(report(quit, 1), 0);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(MenuDisplays, StripCommandsNeedAnOpenWindowedDisplayWithAStrip)
{
    ASSERT_EQ(Create(1, FileMenu()), 0);
    EXPECT_EQ(Item("DisableMenuItem", 1, "save", nullptr, 0), ERR_NOMENU);
    EXPECT_EQ(Item("DisableMenuItem", 5, "save", nullptr, 0), ERR_FINDDISPLAY);
    ASSERT_EQ(AttachDisplayMenu(L, d, 1), 0);
    EXPECT_EQ(Item("DisableMenuItem", 1, "save", nullptr, 0), ERR_CLOSEDDISPLAY);
    EXPECT_EQ(AttachDisplayMenu(L, d, 9), ERR_FINDMENU);
    EXPECT_EQ(GetDisplayMenu(d), Find(1));
}

TEST_F(MenuDisplays, TheStripKeepsItsOwnStatesAndCarriesThemOverAReopen)
{
    const int R = MENUITEM_RADIO, T = MENUITEM_TOGGLE;
    ASSERT_EQ(Create(1, {Sub("View", {Leaf("Small", "small", R), Leaf("Large", "large", R), Leaf("Grid", "grid", T),
                                      Leaf("Save", "save")})}),
              0);
    ASSERT_EQ(AttachDisplayMenu(L, d, 1), 0);
    d->handle = nullptr;
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    auto shown = [&](const char *command, const char *id) {
        int answer = -1;
        EXPECT_EQ(Item(command, 1, id, &answer, 0), 0) << command << " " << id;
        return answer;
    };
    EXPECT_EQ(shown("IsMenuItemSelected", "small"), 1);
    ASSERT_EQ(Item("SelectMenuItem", 1, "large", nullptr, 0), 0);
    ASSERT_EQ(Item("SelectMenuItem", 1, "grid", nullptr, 0), 0);
    ASSERT_EQ(Item("DisableMenuItem", 1, "save", nullptr, 0), 0);
    EXPECT_EQ(shown("IsMenuItemSelected", "small"), 0);
    EXPECT_EQ(shown("IsMenuItemSelected", "large"), 1);
    EXPECT_EQ(shown("IsMenuItemDisabled", "save"), 1);
    // The strip's states are its own: the tree keeps the declared ones.
    int answer = -1;
    ASSERT_EQ(Item("IsMenuItemSelected", 1, "grid", &answer, 1), 0);
    EXPECT_EQ(answer, 0);

    // A close that will be followed by a reopen keeps them...
    ASSERT_EQ(CloseDisplayCore(L, d, 0x24), 0);
    EXPECT_EQ(Item("IsMenuItemDisabled", 1, "save", nullptr, 0), ERR_CLOSEDDISPLAY);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    EXPECT_EQ(shown("IsMenuItemSelected", "large"), 1);
    EXPECT_EQ(shown("IsMenuItemSelected", "small"), 0);
    EXPECT_EQ(shown("IsMenuItemSelected", "grid"), 1);
    EXPECT_EQ(shown("IsMenuItemDisabled", "save"), 1);
    // ...another close does not.
    ASSERT_EQ(CloseDisplayCore(L, d, 0), 0);
    ASSERT_EQ(RealizeDisplay(L, d, 0), 0);
    EXPECT_EQ(shown("IsMenuItemSelected", "small"), 1);
    EXPECT_EQ(shown("IsMenuItemSelected", "grid"), 0);
    EXPECT_EQ(shown("IsMenuItemDisabled", "save"), 0);

    // Choices made on the strip mark it and post the item's id with its state; a greyed
    // item posts nothing.
    lvMenuItem *first = GetDisplayMenu(d)->first;
    auto number = [&](const char *id) { return MenuItemNumber(first, FindMenuItem(first, id, nullptr)); };
    EXPECT_EQ(HandleMenuCommand(d, number("large")), 1);
    EXPECT_EQ(HandleMenuCommand(d, number("grid")), 1);
    EXPECT_EQ(HandleMenuCommand(d, number("grid")), 1);
    ASSERT_EQ(Item("DisableMenuItem", 1, "save", nullptr, 0), 0);
    EXPECT_EQ(HandleMenuCommand(d, number("save")), 1);
    EXPECT_EQ(HandleMenuCommand(d, 99), 0);
    auto events = Drain();
    std::vector<std::pair<std::string, int>> expected = {{"large", 1}, {"grid", 1}, {"grid", 0}};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(shown("IsMenuItemSelected", "large"), 1);
    EXPECT_EQ(shown("IsMenuItemSelected", "small"), 0);
    // A shown strip's menu cannot be replaced or freed.
    EXPECT_EQ(Create(1, FileMenu()), ERR_MENUATTACHED);
    EXPECT_EQ(Call("FreeMenu", [&] { PushNumber(L, 1); }), ERR_MENUATTACHED);
}

TEST_F(MenuDisplays, WithoutAnAdapterATrayMenuStaysInUseUntilRemoved)
{
    ASSERT_EQ(Create(2, FileMenu()), 0);
    SetCurrentDisplay(d);
    d->handle = nullptr;
    ASSERT_EQ(Call("SetTrayMenu", [&] { PushNumber(L, 2); }), 0);
    EXPECT_EQ(GetDisplayTrayMenu(d), Find(2));
    EXPECT_EQ(Call("FreeMenu", [&] { PushNumber(L, 2); }), ERR_MENUATTACHED);
    EXPECT_EQ(Create(2, FileMenu()), ERR_MENUATTACHED);
    EXPECT_EQ(Call("SetTrayMenu", [&] { PushNumber(L, 5); }), ERR_FINDMENU);
    ASSERT_EQ(Call("SetTrayMenu", [&] { PushNumber(L, -1); }), 0);
    EXPECT_EQ(GetDisplayTrayMenu(d), nullptr);
    EXPECT_EQ(Call("FreeMenu", [&] { PushNumber(L, 2); }), 0);
}

} // namespace
