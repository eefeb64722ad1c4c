// lib_menu.cpp - the "menu" library's commands: menus made from tables, their items'
// states on menu objects and on displays' strips, popups and the tray menu.
// Depends on: ui/menus.h, ui/display.h, runtime/cmdsupport.h.
// Limits: script thread only.
#include "ui/lib_menu.h"

#include "base/lverrors.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "runtime/libtable.h"
#include "runtime/startup.h"
#include "ui/display.h"
#include "ui/menus.h"
#include "vm/lvvm.h"

#include <climits>

static int CmdCreateMenu(lvState *L)
{
    CheckArgCount(L, 2, 2, 6, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    CheckTableArg(L, 2);
    // The old menu of this number goes only once the new tree stands, so a failed
    // command leaves it as it was; a display still showing it stops the command.
    lvMenu *old = nullptr;
    if (!isNil && FindMenuById({number, nullptr}, &old) == 0 && MenuInUse(old)) return ERR_MENUATTACHED;
    lvMenuItem *tree = nullptr;
    if (int err = BuildMenuTree(L, 2, 0, &tree)) return err;
    if (!tree) return ERR_EMPTYMENUTREE;
    if (old)
        if (int err = FreeMenuById(L, {number, nullptr}, 0)) {
            FreeMenuTree(tree);
            return err;
        }
    lvMenu *m = (lvMenu *)AllocMemory(sizeof(lvMenu), 1);
    if (!m) {
        FreeMenuTree(tree);
        return ERR_MEM;
    }
    InitObjectHeader(&m->header, MENU_TYPE, number, isNil != 0);
    m->first = tree;
    lvObjectHeader **tail = MenuListHead();
    while (*tail) tail = &(*tail)->next;
    *tail = &m->header;
    if (!isNil) return 0;
    PushPointer(L, m);
    return 1;
}

static int CmdFreeMenu(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeMenuById(L, GetObjectIdArg(L, 1), 1);
}

// The tree an item command works on: a menu object's, or (for a display) the strip's with
// the display to change it through. Errors in the order the commands report them.
struct lvMenuTarget {
    lvMenuItem *first;
    lvDisplay *display;  // null for a menu object
};

static int ResolveTarget(lvState *L, lvMenuTarget *t)
{
    ApplyTrayMenuChoices();
    lvObjectId id = GetObjectIdArg(L, 1);
    int ofMenu = GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL && CheckNumberArg(L, 3) != 0;
    t->display = nullptr;
    if (ofMenu) {
        lvMenu *m = nullptr;
        if (int err = FindMenuById(id, &m)) return err;
        t->first = m->first;
        return 0;
    }
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    if (id.number == 0 && !id.handle) return a ? ERR_DISPLAYADAPTERSUPPORT : ERR_NOCONTEXTMENU;
    if (a && !(a->flags & LVP_ADAPTER_MENUS)) return ERR_DISPLAYADAPTERSUPPORT;
    lvDisplay *d = nullptr;
    if (int err = FindDisplayById(id, &d)) return err;
    lvMenu *m = GetDisplayMenu(d);
    if (!m) return ERR_NOMENU;
    if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    if (IsDisplayFullScreen(d)) return ERR_FULLSCREEN;
    t->first = m->first;
    t->display = d;
    return 0;
}

static int FindTargetItem(lvState *L, lvMenuTarget *t, lvMenuItem **item, lvMenuItem **head)
{
    const char *name = CheckStringArg(L, 2, nullptr);
    *item = FindMenuItem(t->first, name, head);
    if (*item) return 0;
    SetErrorStringArg(name);
    return ERR_FINDMENUITEM;
}

static int ChangeItemState(lvState *L, uint32_t set, uint32_t clear, int needsChoice)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvMenuTarget t;
    if (int err = ResolveTarget(L, &t)) return err;
    lvMenuItem *item = nullptr, *head = nullptr;
    if (int err = FindTargetItem(L, &t, &item, &head)) return err;
    if (needsChoice && !(item->flags & (MENUITEM_TOGGLE | MENUITEM_RADIO))) return ERR_WRONGUSAGE;
    if ((item->flags & MENUITEM_RADIO) && (clear & MENUITEM_SELECTED)) return ERR_WRONGUSAGE;
    if (t.display) return SetMenuItemFlags(t.display, item, set, clear);
    if ((item->flags & MENUITEM_RADIO) && (set & MENUITEM_SELECTED) && head) {
        for (lvMenuItem *s = head; s && (s->flags & MENUITEM_RADIO) && !s->firstChild; s = s->next)
            s->flags &= ~(uint32_t)MENUITEM_SELECTED;
    }
    item->flags = (item->flags | set) & ~clear;
    return 0;
}

static int CmdSelectMenuItem(lvState *L) { return ChangeItemState(L, MENUITEM_SELECTED, 0, 1); }
static int CmdDeselectMenuItem(lvState *L) { return ChangeItemState(L, 0, MENUITEM_SELECTED, 1); }
static int CmdEnableMenuItem(lvState *L) { return ChangeItemState(L, 0, MENUITEM_DISABLED, 0); }
static int CmdDisableMenuItem(lvState *L) { return ChangeItemState(L, MENUITEM_DISABLED, 0, 0); }

static int QueryItemState(lvState *L, uint32_t bit, int needsChoice)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvMenuTarget t;
    if (int err = ResolveTarget(L, &t)) return err;
    lvMenuItem *item = nullptr, *head = nullptr;
    if (int err = FindTargetItem(L, &t, &item, &head)) return err;
    if (needsChoice && !(item->flags & (MENUITEM_TOGGLE | MENUITEM_RADIO))) return ERR_WRONGUSAGE;
    int on = 0;
    if (t.display) {
        uint32_t flags = 0;
        if (int err = GetMenuItemFlags(t.display, item, &flags)) return err;
        on = (flags & bit) != 0;
    } else if (bit == MENUITEM_SELECTED && (item->flags & MENUITEM_RADIO) && head) {
        // A run with no selected member counts its head as selected.
        int any = 0;
        for (lvMenuItem *s = head; s && (s->flags & MENUITEM_RADIO) && !s->firstChild; s = s->next)
            any |= (s->flags & MENUITEM_SELECTED) != 0;
        on = any ? (item->flags & MENUITEM_SELECTED) != 0 : item == head;
    } else {
        on = (item->flags & bit) != 0;
    }
    PushNumber(L, on);
    return 1;
}

static int CmdIsMenuItemSelected(lvState *L) { return QueryItemState(L, MENUITEM_SELECTED, 1); }
static int CmdIsMenuItemDisabled(lvState *L) { return QueryItemState(L, MENUITEM_DISABLED, 0); }

static int CoordinateArg(lvState *L, int index)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return LV_MENU_AT_POINTER;
    int64_t v = NumberToInt64(CheckNumberArg(L, index));
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : (int)v;
}

static int CmdPopupMenu(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    lvMenu *m = nullptr;
    if (int err = FindMenuById(GetObjectIdArg(L, 1), &m)) return err;
    int x = CoordinateArg(L, 2), y = CoordinateArg(L, 3);
    lvDisplay *d = GetCurrentDisplay();
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    if (a) {
        if (!(a->flags & LVP_ADAPTER_POPUPMENUS) || !a->record->OpenPopupMenu) return ERR_DISPLAYADAPTERSUPPORT;
        if (!d || !d->handle) return ERR_CLOSEDDISPLAY;
        if (int err = NoteDisplayPopupMenu(d, m)) return err;
        auto open = (lvAdapterOpenPopupMenuFunction)a->record->OpenPopupMenu;
        return open(d->handle, m->first->firstChild, x, y, 0) ? 0 : ERR_SETMENU;
    }
    if (!d || d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    return ShowPopupMenu(L, d, m, x, y);
}

static int CmdSetTrayMenu(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    lvMenu *m = nullptr;
    if (!(id.number == -1 && !id.handle))
        if (int err = FindMenuById(id, &m)) return err;
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return ERR_CLOSEDDISPLAY;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    if (a) {
        if (!(a->flags & LVP_ADAPTER_TRAYMENUS) || !a->record->SetTrayMenu) return ERR_DISPLAYADAPTERSUPPORT;
        auto set = (lvAdapterSetTrayMenuFunction)a->record->SetTrayMenu;
        if (!set(d->handle, m ? m->first->firstChild : nullptr, 0)) return ERR_SETMENU;
    }
    return SetDisplayTrayMenu(d, m);
}

static const lvConstantEntry kMenuConstants[] = {
    {"MENU", nullptr, MENU_TYPE},
    {"MENUITEM_TOGGLE", nullptr, MENUITEM_TOGGLE},
    {"MENUITEM_SELECTED", nullptr, MENUITEM_SELECTED},
    {"MENUITEM_DISABLED", nullptr, MENUITEM_DISABLED},
    {"MENUITEM_RADIO", nullptr, MENUITEM_RADIO},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetMenuConstants(void) { return kMenuConstants; }

static const lvCommandEntry kMenuCommands[] = {
    {"CreateMenu", CmdCreateMenu},
    {"FreeMenu", CmdFreeMenu},
    {"SelectMenuItem", CmdSelectMenuItem},
    {"DeselectMenuItem", CmdDeselectMenuItem},
    {"EnableMenuItem", CmdEnableMenuItem},
    {"DisableMenuItem", CmdDisableMenuItem},
    {"IsMenuItemSelected", CmdIsMenuItemSelected},
    {"IsMenuItemDisabled", CmdIsMenuItemDisabled},
    {"PopupMenu", CmdPopupMenu},
    {"SetTrayMenu", CmdSetTrayMenu},
    {nullptr, nullptr},
};

const lvCommandEntry *GetMenuCommands(void) { return kMenuCommands; }

int OpenMenuLibrary(lvState *L)
{
    if (int err = RegisterObjectType(MENU_TYPE, "Menus", MenuListHead(), nullptr, nullptr, 0)) return err;
    return RegisterCommandTable(L, kMenuCommands, "menu");
}

void CloseMenuLibrary(lvState *L, int full)
{
    ShutdownMenus(L, full);
}

void InstallMenuLibrary(void)
{
    SetLibraryRow("menu", OpenMenuLibrary, GetMenuConstants);
    SetLibraryCloseStep("menus", CloseMenuLibrary);
    SetLinkedTailReader(MENU_LINKED_KIND, LoadStoredMenu);
    lvStartupHooks startup = {};
    startup.preload[MENU_LINKED_KIND] = CreateStoredMenu;
    SetStartupHooks(&startup);
}
