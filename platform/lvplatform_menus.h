// lvplatform_menus.h - the platform's model of one menu (a display's strip or a popup):
// flat nodes numbered depth-first, each submenu after all of its children, with their
// state bits, radio groups, and owned copies of the texts they show and report. The menu
// library turns its tree into this model; from then on the model stands alone (no pointer
// back into the tree), so it can be handed to whichever thread shows it. The metrics of
// the drawn strip and rows are here too, in one table.
// Depends on: nothing of the project.
#pragma once
#include <cstddef>
#include <cstdint>

// State bits, as the menu library's.
enum { LV_MENU_TOGGLE = 1, LV_MENU_SELECTED = 2, LV_MENU_DISABLED = 4, LV_MENU_RADIO = 8 };

// The longest label shown, in characters (a longer title is cut at a character boundary).
enum { LV_MENU_LABEL_CHARS = 256 };

// Metrics of the drawn menus.
struct lvMenuMetrics {
    int stripHeight;      // the strip above the picture
    int rowHeight;        // one item of a dropdown
    int separatorHeight;  // one separator
    int gutter;           // left margin of a row (room for the marks)
    int markSize;         // check and radio marks, square
    int labelPixels;      // the label font's size
    uint32_t panel, text, disabledText, highlight, highlightText;
};
extern const lvMenuMetrics kMenuMetrics;

struct lvMenuNode {
    int number;          // command number (the node's index plus the model's base)
    int parent;          // index of the submenu node holding it, -1 at the top
    int firstChild;      // index of its first child, -1 for a leaf
    int next;            // index of its next sibling, -1 at the end
    int level;           // 0 strip titles, 1 items, 2 submenu items
    uint32_t flags;      // LV_MENU_ bits
    int radioFirst, radioLast;  // command numbers of its radio group (radio leaves), else -1
    char *label;         // the title cut to LV_MENU_LABEL_CHARS, null for a separator
    char *shortcut;      // "Ctrl+Q" for a one-character hotkey, the hotkey text otherwise, or null
    char *idText;        // the item's id, or null
    int accelerator;     // the one hotkey character (upper-cased for letters), 0 for none
    uint8_t *labelMask;  // the label drawn as 8-bit coverage (labelWidth x labelHeight), or null
    int labelWidth, labelHeight;
};

// Draws labels for the models built from now on: text/ installs it as it opens (the
// layers below it cannot reach the fonts), null removes it. RenderLabel gives UTF-8 text
// drawn at `pixels` high as coverage (AllocMemory'd) and its size; 0 or an error code.
struct lvMenuLabelServices {
    int (*RenderLabel)(const char *text, int pixels, uint8_t **coverage, int *width, int *height);
};
void SetMenuLabelServices(const lvMenuLabelServices *services);

struct lvMenuModel {
    lvMenuNode *nodes;   // in command-number order
    int count;
    int base;            // 0 for a strip, 1 for a popup (0 then means nothing chosen)
    int first;           // index of the first top-level node, -1 when empty
};

// One node to add, as the builder reads it from a tree.
struct lvMenuNodeSource {
    const char *title;   // null for a separator
    const char *idText;  // or null
    const char *hotkey;  // or null
    uint32_t flags;
};

// Building: BeginMenuModel, then for each node in tree order (pre-order) AddMenuNode with
// its level and whether it has children, and EndMenuSubmenu after a submenu's children.
// Numbers are handed out as 13-style depth-first order: children before their submenu.
// The builder applies the radio rule (the first selected member of a run stays selected,
// later ones are cleared; none selected: the first counts) and fills the groups' numbers.
struct lvMenuModelBuilder;
// 0 or ERR_MEM. capacity: the number of nodes the tree holds.
int BeginMenuModel(lvMenuModelBuilder **out, int capacity, int base);
// 0, ERR_MEM, or ERR_MENUCOMPLEXITY when the nesting passes level 2.
int AddMenuNode(lvMenuModelBuilder *b, const lvMenuNodeSource *source, int hasChildren);
void EndMenuSubmenu(lvMenuModelBuilder *b);
// Hands out the model (FreeMenuModel it) and frees the builder; on failure only frees.
lvMenuModel *FinishMenuModel(lvMenuModelBuilder *b, int failed);
void FreeMenuModel(lvMenuModel *model);

// The node of a command number, or null.
lvMenuNode *FindMenuNode(lvMenuModel *model, int number);
// Changes the state as the strip shows it: a radio node selected in set becomes the one
// selected member of its group; other nodes have selected set or cleared; disabled set or
// cleared for any node. 0, or ERR_FINDMENUITEM for an unknown number.
int SetMenuNodeFlags(lvMenuModel *model, int number, uint32_t set, uint32_t clear);
// The shown state: LV_MENU_SELECTED when checked (a radio node: the selected one of its
// group), plus LV_MENU_DISABLED when greyed. -1 for an unknown number.
int GetMenuNodeFlags(const lvMenuModel *model, int number);
// A choice of a leaf: a radio node becomes selected in its group, a toggle flips. Gives
// the state to report (1 radio, the new state toggle, 0 others), or -1 when the number is
// no enabled leaf (a disabled item, a submenu or a separator reports nothing).
int ChooseMenuNode(lvMenuModel *model, int number);
// The number of the leaf whose one-character hotkey is this key (letters either case), or
// -1. A disabled leaf is found too: its key is swallowed, ChooseMenuNode refuses it.
int FindMenuAccelerator(const lvMenuModel *model, uint32_t character);

// ---- A display window's strip (window_sdl.cpp) ------------------------------------------
// Shows the model (numbered from 0) as the strip above the window's picture: the window's
// inside grows by the strip's height downward, the picture is presented below it, and the
// pointer's positions stay the picture's. The pump highlights the title under the pointer;
// a click on an enabled leaf title marks it in the model and reports it to the window's
// input sink as event 26 (c: the state, payload: a copy of its id text). Null removes the
// strip. The model stays the caller's; the pump reads it under the display lock, so the
// caller changes it under that lock too and removes it here before freeing it. Ctrl with
// a leaf's one-character hotkey chooses it the same way and gives no key input.
void SetWindowMenuStrip(struct lvDisplayWindow *window, lvMenuModel *model);
// The strip's titles from the left: the x and width of a top-level node's box.
void MenuStripBox(const lvMenuModel *model, int index, int *x, int *width);

// ---- The tray icon's menu (dbusmenu.cpp) ----------------------------------------------
// A model numbered from 1 exported as com.canonical.dbusmenu at /MenuBar on the tray
// item's connection (lvplatform_tray.h): GetLayout, GetGroupProperties, Event and
// EventGroup ("clicked" marks the node and reports it), AboutToShow(Group), the Version,
// TextDirection and Status properties, and LayoutUpdated after every change.
enum { LV_REQUEST_TRAYMENU = 29 };  // apart from the pointers' 28
// Called on the pumping thread for a click: the node's number, its id text (or null) and
// its state to report.
typedef void (*lvTrayMenuChoice)(void *user, int number, const char *idText, int selected);
// Takes the model (null detaches the menu and frees the model held) and runs on the
// pumping thread. 0, or the tray's error for the attachment.
int AttachTrayMenuModel(lvMenuModel *model, lvTrayMenuChoice chosen, void *user);
