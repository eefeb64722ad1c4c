// menus.h - the script's menus: item trees built from tables or read from an applet's
// linked objects, their state bits, the menu strips of displays (attached, saved over a
// close, restored), popups, the tray menu, and the menu events they post. The commands
// are in lib_menu.cpp; the tree turned into the platform's model in menu_native.cpp.
// Depends on: runtime/lvplugin.h (the item layout the adapters get), runtime/objects.h,
// runtime/container.h (stored menus), platform/lvplatform_menus.h, ui/display.h.
// Limits: script thread only; the tree never leaves it (the shown menus hold models).
#pragma once
#include <cstdint>

#include "runtime/lvplugin.h"
#include "runtime/objects.h"

struct lvState;
struct lvDisplay;
struct lvAppletCursor;
struct lvLinkedObject;
struct lvMenuModel;

// One node of a tree: the adapters get these nodes as they are.
typedef lvPluginMenuItem lvMenuItem;

enum {
    MENU_TYPE = 57,
    MENUITEM_TOGGLE = 1,
    MENUITEM_SELECTED = 2,
    MENUITEM_DISABLED = 4,
    MENUITEM_RADIO = 8,
    MENU_LINKED_KIND = 13,  // the linked-object kind of a stored menu
};

// The deepest level a tree has: strip titles 0, items 1, submenu items 2.
enum { LV_MENU_LEVELS = 3 };
// The coordinate that asks for the pointer's position.
enum { LV_MENU_AT_POINTER = 200000 };

struct lvMenu {
    lvObjectHeader header;
    lvMenuItem *first;   // the first top-level item
};

// The saved state of one strip item of a closed display.
struct lvMenuStateEntry {
    lvMenuItem *item;       // null ends the array
    lvMenuItem *groupHead;  // head of its radio group, or null
    uint32_t state;         // 2 selected, 4 disabled
};

// ---- Trees --------------------------------------------------------------------------

// A new item with its title copied into the same allocation (null title: a separator),
// no links; null when out of memory.
lvMenuItem *NewMenuItem(const char *title, size_t titleLength);
void FreeMenuTree(lvMenuItem *first);
// Every node, submenu titles included.
int CountMenuItems(const lvMenuItem *first);
// Builds a sibling list from the table at index (BuildMenuTree of the description):
// 0 and the list, or an error code with nothing left over. Option-table readers may raise;
// the partial tree is freed then too.
int BuildMenuTree(lvState *L, int index, int level, lvMenuItem **out);
// Depth first: the item with this id (case ignored), and its radio-group head (may be null).
lvMenuItem *FindMenuItem(lvMenuItem *first, const char *id, lvMenuItem **groupHead);
// Pushes the table form of a tree (the inverse of BuildMenuTree).
void PushMenuTreeTable(lvState *L, const lvMenuItem *first);

// The stored form of a linked menu: 0 and the list, ERR_READ for bytes that end early,
// ERR_MEM, ERR_MENUCOMPLEXITY for a level beyond 2.
int ReadStoredMenuTree(lvAppletCursor *cursor, lvMenuItem **out);

// ---- Menus --------------------------------------------------------------------------

lvObjectHeader **MenuListHead(void);
// 0 and the menu; ERR_FINDMENU with the number, ERR_FINDARRAY for a handle.
int FindMenuById(lvObjectId id, lvMenu **out);
// 1 when a display shows it as its strip or its tray menu.
int MenuInUse(const lvMenu *menu);
// reportAbsence 0: an absent menu is no error. ERR_MENUATTACHED while a display uses it.
int FreeMenuById(lvState *L, lvObjectId id, int reportAbsence);
void ShutdownMenus(lvState *L, int full);

// ---- Displays -----------------------------------------------------------------------

// The platform's model of a tree, numbered from base (0 strip, 1 popup); null when empty
// or out of memory.
lvMenuModel *BuildMenuModel(const lvMenuItem *first, int base);
// The depth-first number of an item within a tree (from 0), or -1 when it is not there.
int MenuItemNumber(const lvMenuItem *first, const lvMenuItem *item);
// The item of a number, or null.
lvMenuItem *MenuItemOfNumber(lvMenuItem *first, int number);

// The strip's menu of a display (null: none) and its attaching: option "menu" (-1 detaches).
lvMenu *GetDisplayMenu(const lvDisplay *display);
int AttachDisplayMenu(lvState *L, lvDisplay *display, int menuId);
// Called by the display code as it opens (after the window or adapter display exists) and
// closes (saveStates: it will be reopened) a display that has a strip.
int ShowDisplayMenu(lvState *L, lvDisplay *display);
int HideDisplayMenu(lvState *L, lvDisplay *display, int saveStates);
// Forgets everything of a freed display.
void ForgetDisplayMenus(lvDisplay *display);

int SetMenuItemFlags(lvDisplay *display, lvMenuItem *item, uint32_t set, uint32_t clear);
int GetMenuItemFlags(lvDisplay *display, lvMenuItem *item, uint32_t *flags);
int SaveMenuItemStates(lvState *L, lvDisplay *display);
int RestoreMenuItemStates(lvState *L, lvDisplay *display);

// A popup of the menu's first entry's children at display coordinates (200000: the
// pointer's) on the display's window; the choice updates the tree and posts the event.
int ShowPopupMenu(lvState *L, lvDisplay *display, lvMenu *menu, int x, int y);

// A choice made on a display's strip (number from 0): marks it in the strip's model and
// posts the event. 1 when the number is an item of the strip, else 0.
int HandleMenuCommand(lvDisplay *display, int number);
// Posts event 26 for the item with a copy of its id.
int PostMenuEvent(lvDisplay *display, const lvMenuItem *item, int selected);
// An adapter's menu event: the item is taken only when it is a node of a tree the display
// uses (its strip, its tray menu, its last popup); anything else is ignored.
int PostAdapterMenuEvent(lvDisplay *display, const void *item, uint32_t flags);

// The tray menu of a display's window (null: none), and the popup an adapter was last
// handed for it (its nodes may come back in events).
lvMenu *GetDisplayTrayMenu(lvDisplay *display);
// Without an adapter the tray icon's menu follows: the first display's that has one.
int SetDisplayTrayMenu(lvDisplay *display, lvMenu *menu);
// Brings the trees up to the clicks made on the tray menu since (script thread).
void ApplyTrayMenuChoices(void);
int NoteDisplayPopupMenu(lvDisplay *display, lvMenu *menu);

// ---- Linked menus -------------------------------------------------------------------

// The tail reader of kind 13: the stored tree becomes the object's payload.
int LoadStoredMenu(lvAppletCursor *cursor, lvLinkedObject *object, int formatMajor, int formatMinor);
// The preload of kind 13 (user: the preload run): CreateMenu with the object's id and the
// table form of the stored tree.
int CreateStoredMenu(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer);
