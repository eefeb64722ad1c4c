// menus.cpp - the menu engine: trees from tables and from stored bytes, the menu list,
// the strips of displays (through the display adapter's menu slots, or the platform's
// model of the strip), the states saved over a close, and the menu events.
// Depends on: ui/menus.h, ui/display.h, ui/events.h, runtime/cmdsupport.h,
// runtime/container.h, runtime/encoding.h, platform/lvplatform_menus.h.
// Limits: script thread only.
#include "ui/menus.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_menus.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/events.h"

#include <cstring>
#include <mutex>
#include <vector>

static lvObjectHeader *gMenus;

// What a display uses besides its strip: kept here so the display record stays the
// display code's.
struct lvDisplayMenus {
    lvDisplayMenus *next;
    lvDisplay *display;
    lvMenu *tray;                // its window's tray menu
    lvMenu *popup;               // the last popup an adapter opened for it
    lvMenuStateEntry *saved;     // strip states while the display is closed
};
static lvDisplayMenus *gDisplayMenus;

static lvDisplayMenus *DisplayMenus(lvDisplay *d, int create)
{
    for (lvDisplayMenus *m = gDisplayMenus; m; m = m->next)
        if (m->display == d) return m;
    if (!create) return nullptr;
    lvDisplayMenus *m = (lvDisplayMenus *)AllocMemory(sizeof *m, 1);
    if (!m) return nullptr;
    m->display = d;
    m->next = gDisplayMenus;
    gDisplayMenus = m;
    return m;
}

static lvPluginRecord *MenuAdapter(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a ? a->record : nullptr;
}

// ---- Trees --------------------------------------------------------------------------

lvMenuItem *NewMenuItem(const char *title, size_t titleLength)
{
    size_t extra = title ? titleLength + 1 : 0;
    lvMenuItem *item = (lvMenuItem *)AllocMemory(sizeof(lvMenuItem) + extra, 1);
    if (!item) return nullptr;
    if (title) {
        char *copy = (char *)(item + 1);
        std::memcpy(copy, title, titleLength);
        copy[titleLength] = 0;
        item->title = copy;
    }
    item->radioFirst = item->radioLast = -1;
    return item;
}

void FreeMenuTree(lvMenuItem *first)
{
    while (first) {
        lvMenuItem *next = first->next;
        FreeMenuTree(first->firstChild);  // at most three levels deep
        FreeMemory((void *)first->id);
        FreeMemory((void *)first->hotkey);
        FreeMemory(first);
        first = next;
    }
}

int CountMenuItems(const lvMenuItem *first)
{
    int n = 0;
    for (; first; first = first->next) n += 1 + CountMenuItems(first->firstChild);
    return n;
}

// Appends to *out as it goes, so a raise at any depth leaves everything reachable from the
// caller's list.
static int BuildList(lvState *L, int t, int level, lvMenuItem **out)
{
    lvMenuItem **tail = out;
    while (*tail) tail = &(*tail)->next;
    for (int i = 0;; i++) {
        PushNumber(L, i);
        GetTableValue(L, t);
        int type = GetValueType(L, -1);
        if (type == LV_TNIL) {
            SetStackTop(L, GetStackTop(L) - 1);
            return 0;
        }
        if (type != LV_TTABLE) return ERR_TABLEORNIL;
        int e = GetStackTop(L);
        PushNumber(L, 0);
        GetTableValue(L, e);
        int titleType = GetValueType(L, -1);
        if ((titleType != LV_TNIL || level == 0) && titleType != LV_TSTRING) return ERR_STRINGEXPECTED;
        const char *title = nullptr;
        size_t length = 0;
        if (titleType == LV_TSTRING) {
            title = ValueToString(L, -1);
            length = ValueStringLength(L, -1);
            if (length == 0) {
                if (level == 0) return ERR_WRONGUSAGE;
                title = nullptr;  // a separator
            }
        }
        lvMenuItem *item = NewMenuItem(title, length);
        if (!item) return ERR_MEM;
        *tail = item;
        tail = &item->next;
        SetStackTop(L, e);
        PushNumber(L, 1);
        GetTableValue(L, e);
        int childType = GetValueType(L, -1);
        if (childType == LV_TTABLE) {
            if (level >= LV_MENU_LEVELS - 1) return ERR_MENUCOMPLEXITY;
            if (int err = BuildList(L, GetStackTop(L), level + 1, &item->firstChild)) return err;
        } else if (childType != LV_TNIL) {
            return ERR_TABLEORNIL;
        } else {
            int flags = 0, present = 0;
            GetFieldInt(L, e, "flags", &flags);
            item->flags = (uint32_t)flags;
            char *text = nullptr;
            if (!GetFieldStringDup(L, e, "id", &text, nullptr, 0, &present) && present) return ERR_MEM;
            item->id = text;
            text = nullptr;
            if (!GetFieldStringDup(L, e, "hotkey", &text, nullptr, 0, &present) && present) return ERR_MEM;
            item->hotkey = text;
            if ((item->flags & MENUITEM_RADIO) && (item->flags & MENUITEM_TOGGLE)) return ERR_RADIOTOGGLEMENU;
        }
        SetStackTop(L, e - 1);
    }
}

int BuildMenuTree(lvState *L, int index, int level, lvMenuItem **out)
{
    *out = nullptr;
    int top = GetStackTop(L);
    if (index < 0) index = top + index + 1;
    lvMenuItem *head = nullptr;
    int err;
    try {
        err = BuildList(L, index, level, &head);
    } catch (...) {
        FreeMenuTree(head);
        throw;
    }
    SetStackTop(L, top);
    if (err) {
        FreeMenuTree(head);
        return err;
    }
    *out = head;
    return 0;
}

static lvMenuItem *FindInList(lvMenuItem *first, const char *id, lvMenuItem **groupHead)
{
    lvMenuItem *head = nullptr;
    for (lvMenuItem *s = first; s; s = s->next) {
        if (!(s->flags & MENUITEM_RADIO)) head = nullptr;
        else if (!head) head = s;
        if (s->id && StrCmpNoCaseUtf8(s->id, id) == 0) {
            *groupHead = head;
            return s;
        }
        if (lvMenuItem *found = FindInList(s->firstChild, id, groupHead)) return found;
    }
    return nullptr;
}

lvMenuItem *FindMenuItem(lvMenuItem *first, const char *id, lvMenuItem **groupHead)
{
    lvMenuItem *head = nullptr;
    lvMenuItem *found = FindInList(first, id, &head);
    if (groupHead) *groupHead = found ? head : nullptr;
    return found;
}

void PushMenuTreeTable(lvState *L, const lvMenuItem *first)
{
    PushNewTable(L);
    int i = 0;
    for (const lvMenuItem *s = first; s; s = s->next, i++) {
        PushNumber(L, i);
        PushNewTable(L);
        if (s->title) {
            PushNumber(L, 0);
            PushString(L, s->title);
            SetTableValueRaw(L, -3);
        }
        SetFieldInt(L, "flags", (int)s->flags);
        if (s->id) SetFieldString(L, "id", s->id);
        if (s->hotkey) SetFieldString(L, "hotkey", s->hotkey);
        if (s->firstChild) {
            PushNumber(L, 1);
            PushMenuTreeTable(L, s->firstChild);
            SetTableValueRaw(L, -3);
        }
        SetTableValueRaw(L, -3);
    }
}

// ---- Stored form ----------------------------------------------------------------------

// A 16-bit length and its bytes as a new text (null for length 0).
static int ReadStoredText(lvAppletCursor *c, char **out)
{
    *out = nullptr;
    uint16_t length = 0;
    if (ReadAppletBE16(c, &length)) return ERR_READ;
    if (length > 32767) return ERR_READ;
    if (!length) return 0;
    char *text = (char *)AllocMemory(length + 1u, 0);
    if (!text) return ERR_MEM;
    if (ReadAppletBytes(c, text, length)) {
        FreeMemory(text);
        return ERR_READ;
    }
    text[length] = 0;
    *out = text;
    return 0;
}

// Children may go down to level 2 only: a deeper list is refused before it is read, so
// crafted bytes cannot nest without bound.
static int ReadStoredList(lvAppletCursor *c, int level, lvMenuItem **out)
{
    lvMenuItem **tail = out;
    for (;;) {
        char *title = nullptr, *id = nullptr, *hotkey = nullptr;
        int err = ReadStoredText(c, &title);
        if (!err) err = ReadStoredText(c, &id);
        if (!err) err = ReadStoredText(c, &hotkey);
        uint32_t flags = 0;
        if (!err && ReadAppletBE32(c, &flags)) err = ERR_READ;
        lvMenuItem *item = nullptr;
        if (!err && !(item = NewMenuItem(title, title ? std::strlen(title) : 0))) err = ERR_MEM;
        FreeMemory(title);
        if (err) {
            FreeMemory(id);
            FreeMemory(hotkey);
            return err;
        }
        item->id = id;
        item->hotkey = hotkey;
        item->flags = flags;
        *tail = item;
        tail = &item->next;
        uint8_t more = 0;
        if (ReadAppletByte(c, &more)) return ERR_READ;
        if (more == 2) {
            if (level >= LV_MENU_LEVELS - 1) return ERR_MENUCOMPLEXITY;
            if (int e = ReadStoredList(c, level + 1, &item->firstChild)) return e;
            if (ReadAppletByte(c, &more)) return ERR_READ;
        }
        if (more == 0) return 0;
    }
}

int ReadStoredMenuTree(lvAppletCursor *cursor, lvMenuItem **out)
{
    lvMenuItem *head = nullptr;
    int err = ReadStoredList(cursor, 0, &head);
    if (err) {
        FreeMenuTree(head);
        head = nullptr;
    }
    *out = head;
    return err;
}

static void FreeStoredMenu(void *payload)
{
    FreeMenuTree((lvMenuItem *)payload);
}

int LoadStoredMenu(lvAppletCursor *cursor, lvLinkedObject *object, int, int)
{
    lvMenuItem *tree = nullptr;
    if (int err = ReadStoredMenuTree(cursor, &tree)) return err;
    object->payload = tree;
    object->freePayload = FreeStoredMenu;
    return 0;
}

int CreateStoredMenu(void *user, lvLinkedObject *object, const char *, int *)
{
    lvState *L = static_cast<lvPreloadRun *>(user)->L;
    int top = GetStackTop(L);
    PushString(L, "createmenu");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg("CreateMenu");
        return ERR_UNIMPLCMD;
    }
    PushNumber(L, object->identifier);
    PushMenuTreeTable(L, (const lvMenuItem *)object->payload);
    int code = ProtectedCall(L, 2, 0, 0);
    SetStackTop(L, top);
    return code;
}

// ---- Menus --------------------------------------------------------------------------

lvObjectHeader **MenuListHead(void) { return &gMenus; }

int FindMenuById(lvObjectId id, lvMenu **out)
{
    for (lvObjectHeader *h = gMenus; h; h = h->next) {
        if (ObjectIdMatches(h, id)) {
            *out = (lvMenu *)h;
            return 0;
        }
    }
    *out = nullptr;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDMENU;
}

static void FreeMenuRecord(lvState *L, lvMenu *m)
{
    FreeMenuTree(m->first);
    if (L) {
        lvRefOps ops = MakeRegistryRefOps(L);
        FreeObjectUserData(&m->header.userData, &ops);
    } else {
        FreeObjectUserData(&m->header.userData, nullptr);
    }
    FreeMemory(m);
}

int MenuInUse(const lvMenu *m)
{
    // A tray menu keeps its tree in use on both roads: the adapter was handed its nodes
    // as much as the platform's tray was.
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next) {
        if ((lvMenu *)d->menu == m) return 1;
        lvDisplayMenus *dm = DisplayMenus(d, 0);
        if (dm && dm->tray == m) return 1;
    }
    return 0;
}

int FreeMenuById(lvState *L, lvObjectId id, int reportAbsence)
{
    lvMenu *m = nullptr;
    if (int err = FindMenuById(id, &m)) return reportAbsence ? err : 0;
    if (MenuInUse(m)) return ERR_MENUATTACHED;
    for (lvDisplayMenus *dm = gDisplayMenus; dm; dm = dm->next)
        if (dm->popup == m) dm->popup = nullptr;
    for (lvObjectHeader **p = &gMenus; *p; p = &(*p)->next) {
        if (*p == &m->header) {
            *p = m->header.next;
            break;
        }
    }
    FreeMenuRecord(L, m);
    return 0;
}

static int UpdateTrayMenu(void);

void ShutdownMenus(lvState *L, int full)
{
    (void)full;
    for (lvDisplayMenus *dm = gDisplayMenus; dm; dm = dm->next) dm->tray = nullptr;
    UpdateTrayMenu();
    while (gDisplayMenus) {
        lvDisplayMenus *next = gDisplayMenus->next;
        FreeMemory(gDisplayMenus->saved);
        FreeMemory(gDisplayMenus);
        gDisplayMenus = next;
    }
    while (gMenus) {
        lvMenu *m = (lvMenu *)gMenus;
        gMenus = m->header.next;
        FreeMenuRecord(L, m);
    }
}

// ---- Numbering and the platform's model ---------------------------------------------

static int AddToModel(lvMenuModelBuilder *b, const lvMenuItem *first)
{
    for (const lvMenuItem *s = first; s; s = s->next) {
        lvMenuNodeSource src = {s->title, s->id, s->hotkey, s->flags};
        if (int err = AddMenuNode(b, &src, s->firstChild != nullptr)) return err;
        if (s->firstChild) {
            if (int err = AddToModel(b, s->firstChild)) return err;
            EndMenuSubmenu(b);
        }
    }
    return 0;
}

lvMenuModel *BuildMenuModel(const lvMenuItem *first, int base)
{
    int count = CountMenuItems(first);
    if (!count) return nullptr;
    lvMenuModelBuilder *b = nullptr;
    if (BeginMenuModel(&b, count, base)) return nullptr;
    int err = AddToModel(b, first);
    return FinishMenuModel(b, err);
}

// Numbers as the model does: children first, then their submenu.
static int NumberIn(const lvMenuItem *first, const lvMenuItem *item, int *counter)
{
    for (const lvMenuItem *s = first; s; s = s->next) {
        if (s->firstChild) {
            int n = NumberIn(s->firstChild, item, counter);
            if (n >= 0) return n;
        }
        if (s == item) return *counter;
        (*counter)++;
    }
    return -1;
}

int MenuItemNumber(const lvMenuItem *first, const lvMenuItem *item)
{
    int counter = 0;
    return item ? NumberIn(first, item, &counter) : -1;
}

static lvMenuItem *ItemIn(lvMenuItem *first, int number, int *counter)
{
    for (lvMenuItem *s = first; s; s = s->next) {
        if (s->firstChild)
            if (lvMenuItem *found = ItemIn(s->firstChild, number, counter)) return found;
        if ((*counter)++ == number) return s;
    }
    return nullptr;
}

lvMenuItem *MenuItemOfNumber(lvMenuItem *first, int number)
{
    int counter = 0;
    return number < 0 ? nullptr : ItemIn(first, number, &counter);
}

// ---- Strips of displays --------------------------------------------------------------

lvMenu *GetDisplayMenu(const lvDisplay *d) { return (lvMenu *)d->menu; }

static lvMenuModel *StripModel(lvDisplay *d) { return (lvMenuModel *)d->menuBuild; }

// The window's pump reads the strip's model under the display lock: it is taken off the
// window before it is freed, and changed under that lock.
static void DropStripModel(lvDisplay *d)
{
    if (!StripModel(d)) return;
    if (d->window) SetWindowMenuStrip(d->window, nullptr);
    LockDisplayList();
    FreeMenuModel(StripModel(d));
    d->menuBuild = nullptr;
    UnlockDisplayList();
}

// The strip as the adapter or the platform shows it now.
static int PresentStrip(lvDisplay *d)
{
    if (lvPluginRecord *a = MenuAdapter()) {
        if (!d->handle || !a->SetMenuBar) return 0;
        lvMenu *m = GetDisplayMenu(d);
        int ok = ((lvAdapterSetMenuBarFunction)a->SetMenuBar)(d->handle, m ? m->first : nullptr, 0);
        return ok ? 0 : ERR_SETMENU;
    }
    DropStripModel(d);
    if (d->menu && d->state != DISPSTATE_CLOSED && !IsDisplayFullScreen(d) && !d->shaped) {
        lvMenuModel *model = BuildMenuModel(GetDisplayMenu(d)->first, 0);
        LockDisplayList();
        d->menuBuild = model;
        UnlockDisplayList();
        if (d->window && model) SetWindowMenuStrip(d->window, model);
    }
    return 0;
}

int AttachDisplayMenu(lvState *L, lvDisplay *d, int menuId)
{
    (void)L;
    lvMenu *m = nullptr;
    if (menuId != -1) {
        if (int err = FindMenuById({menuId, nullptr}, &m)) return err;
    }
    if (GetDisplayMenu(d) == m) return 0;
    d->menu = m;
    if (lvDisplayMenus *dm = DisplayMenus(d, 0)) {
        FreeMemory(dm->saved);  // states of another strip
        dm->saved = nullptr;
    }
    if (d->state == DISPSTATE_CLOSED) return 0;
    return PresentStrip(d);
}

int ShowDisplayMenu(lvState *L, lvDisplay *d)
{
    if (!d->menu) return 0;
    if (!MenuAdapter()) PresentStrip(d);  // an adapter got the strip with OpenDisplay
    return RestoreMenuItemStates(L, d);
}

int HideDisplayMenu(lvState *L, lvDisplay *d, int saveStates)
{
    int err = 0;
    if (d->menu && saveStates && d->state != DISPSTATE_CLOSED) err = SaveMenuItemStates(L, d);
    DropStripModel(d);
    return err;
}

void ForgetDisplayMenus(lvDisplay *d)
{
    DropStripModel(d);
    d->menu = nullptr;
    for (lvDisplayMenus **p = &gDisplayMenus; *p; p = &(*p)->next) {
        if ((*p)->display == d) {
            lvDisplayMenus *dm = *p;
            *p = dm->next;
            int hadTray = dm->tray != nullptr;
            FreeMemory(dm->saved);
            FreeMemory(dm);
            if (hadTray) UpdateTrayMenu();
            return;
        }
    }
}

int SetMenuItemFlags(lvDisplay *d, lvMenuItem *item, uint32_t set, uint32_t clear)
{
    if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    if (lvPluginRecord *a = MenuAdapter()) {
        if (!a->SetMenuAttributes) return ERR_DISPLAYADAPTERSUPPORT;
        return ((lvAdapterSetMenuAttributesFunction)a->SetMenuAttributes)(d->handle, item, set, clear, 0) ? 0 : 1662;
    }
    lvMenu *m = GetDisplayMenu(d);
    int number = m ? MenuItemNumber(m->first, item) : -1;
    if (number < 0) return ERR_FINDMENUITEM;
    if (StripModel(d)) {
        LockDisplayList();
        SetMenuNodeFlags(StripModel(d), number, set, clear);
        UnlockDisplayList();
        if (d->window) SetWindowMenuStrip(d->window, StripModel(d));  // shown anew
    }
    return 0;
}

int GetMenuItemFlags(lvDisplay *d, lvMenuItem *item, uint32_t *flags)
{
    *flags = 0;
    if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    if (lvPluginRecord *a = MenuAdapter()) {
        if (!a->GetMenuAttributes) return ERR_DISPLAYADAPTERSUPPORT;
        uint32_t bits = 0;
        if (!((lvAdapterGetMenuAttributesFunction)a->GetMenuAttributes)(d->handle, item, &bits, 0)) return 1661;
        *flags = bits & (MENUITEM_SELECTED | MENUITEM_DISABLED);
        return 0;
    }
    lvMenu *m = GetDisplayMenu(d);
    int number = m ? MenuItemNumber(m->first, item) : -1;
    if (number < 0) return ERR_FINDMENUITEM;
    LockDisplayList();
    int shown = GetMenuNodeFlags(StripModel(d), number);
    UnlockDisplayList();
    *flags = shown < 0 ? 0 : (uint32_t)shown;
    return 0;
}

// Walks the tree depth first storing every leaf with its group head and shown state.
static int SaveList(lvDisplay *d, lvMenuItem *first, lvMenuStateEntry **cursor)
{
    lvMenuItem *head = nullptr;
    for (lvMenuItem *s = first; s; s = s->next) {
        if (s->firstChild) {
            if (int err = SaveList(d, s->firstChild, cursor)) return err;
            continue;  // a submenu title leaves the group tracking as it is
        }
        if (!(s->flags & MENUITEM_RADIO)) head = nullptr;
        else if (!head) head = s;
        uint32_t state = 0;
        if (int err = GetMenuItemFlags(d, s, &state)) return err;
        **cursor = {s, (s->flags & MENUITEM_RADIO) ? head : nullptr, state};
        (*cursor)++;
    }
    return 0;
}

int SaveMenuItemStates(lvState *L, lvDisplay *d)
{
    (void)L;
    lvMenu *m = GetDisplayMenu(d);
    if (!m) return 0;
    int count = CountMenuItems(m->first);
    if (IsDisplayFullScreen(d)) return 0;
    lvDisplayMenus *dm = DisplayMenus(d, 1);
    if (!dm) return ERR_MEM;
    FreeMemory(dm->saved);
    dm->saved = (lvMenuStateEntry *)AllocMemory(sizeof(lvMenuStateEntry) * (size_t)(count + 1), 1);
    if (!dm->saved) return ERR_MEM;
    lvMenuStateEntry *cursor = dm->saved;
    int err = SaveList(d, m->first, &cursor);
    if (err) {
        FreeMemory(dm->saved);
        dm->saved = nullptr;
    }
    return err;
}

int RestoreMenuItemStates(lvState *L, lvDisplay *d)
{
    (void)L;
    lvDisplayMenus *dm = DisplayMenus(d, 0);
    if (!dm || !dm->saved) return 0;
    int err = 0;
    if (d->menu && !IsDisplayFullScreen(d)) {
        for (lvMenuStateEntry *e = dm->saved; e->item && !err; e++) {
            uint32_t set = 0, clear = 0;
            if (e->item->flags & MENUITEM_RADIO) {
                if (e->state & MENUITEM_SELECTED) set |= MENUITEM_SELECTED;
            } else if (e->item->flags & MENUITEM_TOGGLE) {
                (e->state & MENUITEM_SELECTED ? set : clear) |= MENUITEM_SELECTED;
            }
            (e->state & MENUITEM_DISABLED ? set : clear) |= MENUITEM_DISABLED;
            err = SetMenuItemFlags(d, e->item, set, clear);
        }
    }
    FreeMemory(dm->saved);
    dm->saved = nullptr;
    return err;
}

int ShowPopupMenu(lvState *L, lvDisplay *d, lvMenu *m, int x, int y)
{
    (void)L;
    (void)d;
    (void)m;
    (void)x;
    (void)y;
    // The platform's windows draw no popups yet: say so rather than pretend a dismissal.
    return ERR_CONTEXTMENU;
}

// ---- Events -------------------------------------------------------------------------

int PostMenuEvent(lvDisplay *d, const lvMenuItem *item, int selected)
{
    const char *id = item && item->id ? item->id : "";
    size_t length = std::strlen(id);
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return 0;
    std::memcpy(copy, id, length + 1);
    int posted = PostEvent(d, EVENT_MENUSELECT, 0, 0, selected, copy);
    if (posted != 1) FreeMemory(copy);
    return posted == 1;
}

int HandleMenuCommand(lvDisplay *d, int number)
{
    lvMenu *m = GetDisplayMenu(d);
    lvMenuItem *item = m ? MenuItemOfNumber(m->first, number) : nullptr;
    if (!item || !StripModel(d)) return 0;
    LockDisplayList();
    int selected = ChooseMenuNode(StripModel(d), number);
    UnlockDisplayList();
    if (selected < 0) return 1;  // a disabled item, a submenu or a separator: no event
    PostMenuEvent(d, item, selected);
    return 1;
}

static int TreeHolds(const lvMenuItem *first, const void *item)
{
    for (const lvMenuItem *s = first; s; s = s->next)
        if (s == item || TreeHolds(s->firstChild, item)) return 1;
    return 0;
}

int PostAdapterMenuEvent(lvDisplay *d, const void *item, uint32_t flags)
{
    if (!d || !item) return 0;
    // Only nodes of a tree this display uses are read: anything else may be a node freed
    // since the adapter was handed it, or no node at all.
    int known = d->menu && TreeHolds(GetDisplayMenu(d)->first, item);
    if (!known) {
        lvDisplayMenus *dm = DisplayMenus(d, 0);
        known = dm && ((dm->tray && TreeHolds(dm->tray->first, item)) ||
                       (dm->popup && TreeHolds(dm->popup->first, item)));
    }
    if (!known) return 0;
    return PostMenuEvent(d, (const lvMenuItem *)item, (flags & 1) ? 1 : 0);
}

// ---- Tray and popup bookkeeping used by the commands ----------------------------------

lvMenu *GetDisplayTrayMenu(lvDisplay *d)
{
    lvDisplayMenus *dm = DisplayMenus(d, 0);
    return dm ? dm->tray : nullptr;
}

// ---- The tray icon's menu -------------------------------------------------------------
// The tray shows the tray menu of the first display that has one. Its clicks arrive on
// the pumping thread: the event is posted from there (with the model's copy of the id),
// and the tree, which only the script thread touches, catches up with the choice at the
// next menu command.

struct lvTrayChoice {
    int generation, number, selected;
};
static std::mutex trayChoiceLock;
static std::vector<lvTrayChoice> trayChoices;
static int trayGeneration;   // of the model the tray shows
static lvMenu *trayShown;    // the menu it was built from

static void TrayChosen(void *user, int number, const char *idText, int selected)
{
    {
        std::lock_guard<std::mutex> hold(trayChoiceLock);
        if (trayChoices.size() < 256) trayChoices.push_back({(int)(intptr_t)user, number, selected});
    }
    size_t length = idText ? std::strlen(idText) : 0;
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return;
    if (length) std::memcpy(copy, idText, length);
    copy[length] = 0;
    LockDisplayList();
    lvDisplay *first = FirstDisplay();
    int posted = first ? PostEvent(first, EVENT_MENUSELECT, 0, 0, selected, copy) : 0;
    UnlockDisplayList();
    if (posted != 1) FreeMemory(copy);
}

void ApplyTrayMenuChoices(void)
{
    std::vector<lvTrayChoice> taken;
    {
        std::lock_guard<std::mutex> hold(trayChoiceLock);
        taken.swap(trayChoices);
    }
    for (const lvTrayChoice &c : taken) {
        if (c.generation != trayGeneration || !trayShown) continue;
        lvMenuItem *items = trayShown->first->firstChild;
        lvMenuItem *item = MenuItemOfNumber(items, c.number - 1);
        if (!item || !item->id) continue;
        lvMenuItem *head = nullptr;
        FindMenuItem(items, item->id, &head);
        if ((item->flags & MENUITEM_RADIO) && head) {
            for (lvMenuItem *s = head; s && (s->flags & MENUITEM_RADIO) && !s->firstChild; s = s->next)
                s->flags &= ~(uint32_t)MENUITEM_SELECTED;
            item->flags |= MENUITEM_SELECTED;
        } else if (item->flags & MENUITEM_TOGGLE) {
            item->flags = c.selected ? item->flags | MENUITEM_SELECTED : item->flags & ~(uint32_t)MENUITEM_SELECTED;
        }
    }
}

// Shows the tray menu of the first display that has one (an adapter shows its own).
static int UpdateTrayMenu(void)
{
    ApplyTrayMenuChoices();
    if (MenuAdapter()) return 0;
    lvMenu *wanted = nullptr;
    for (lvDisplay *d = FirstDisplay(); d && !wanted; d = (lvDisplay *)d->header.next) wanted = GetDisplayTrayMenu(d);
    if (wanted == trayShown) return 0;
    lvMenuModel *model = wanted ? BuildMenuModel(wanted->first->firstChild, 1) : nullptr;
    if (wanted && !model) return ERR_MEM;
    trayShown = wanted;
    trayGeneration++;
    return AttachTrayMenuModel(model, TrayChosen, (void *)(intptr_t)trayGeneration);
}

int SetDisplayTrayMenu(lvDisplay *d, lvMenu *m)
{
    lvDisplayMenus *dm = DisplayMenus(d, m != nullptr);
    if (!dm) return m ? ERR_MEM : 0;
    dm->tray = m;
    return UpdateTrayMenu();
}

int NoteDisplayPopupMenu(lvDisplay *d, lvMenu *m)
{
    lvDisplayMenus *dm = DisplayMenus(d, 1);
    if (!dm) return ERR_MEM;
    dm->popup = m;
    return 0;
}
