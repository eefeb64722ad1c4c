// menu_track.cpp - the menu model: building it from nodes given in tree order, numbering
// the nodes (each submenu after its children), the radio rule, and the state changes a
// shown menu makes (checks, greying, choices, accelerators). Pure: no SDL, no threads; the
// model is owned by whoever holds it.
// Depends on: platform/lvplatform.h (allocator), platform/lvplatform_menus.h.
#include "platform/lvplatform_menus.h"

#include "base/lverrors.h"
#include "platform/lvplatform.h"

#include <cstring>

const lvMenuMetrics kMenuMetrics = {
    22,        // strip
    22,        // rows
    9,         // separators
    20,        // gutter
    7,         // marks
    13,        // label font
    0xF0F0F0,  // panel
    0x000000,  // text
    0x8C8C8C,  // disabled text
    0x3070C0,  // highlight
    0xFFFFFF,  // text on the highlight
};

static const lvMenuLabelServices *labelServices;

void SetMenuLabelServices(const lvMenuLabelServices *services)
{
    labelServices = services;
}

struct lvMenuModelBuilder {
    lvMenuNode *nodes;   // in the order given (tree pre-order)
    int count, capacity, base;
    int open[3];         // the submenus being filled, innermost last
    int depth;
    int last[4];         // the last node added at each level below the open submenus
};

static char *CopyText(const char *text, size_t length)
{
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

// Bytes of the first `chars` characters of UTF-8 text: a cut never splits a character
// (continuation bytes stay with their lead byte).
static size_t CharacterPrefix(const char *text, size_t chars)
{
    size_t i = 0, n = 0;
    while (text[i]) {
        if (((unsigned char)text[i] & 0xC0) != 0x80) {
            if (n == chars) break;
            n++;
        }
        i++;
    }
    return i;
}

// The code point of a text that holds exactly one UTF-8 character, else 0.
static uint32_t SingleCharacter(const char *text)
{
    const unsigned char *s = (const unsigned char *)text;
    if (!s[0]) return 0;
    size_t length = CharacterPrefix(text, 1);
    if (s[length]) return 0;
    if (length == 1) return s[0];
    uint32_t c = s[0] & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; i++) c = (c << 6) | (s[i] & 0x3F);
    return c;
}

int BeginMenuModel(lvMenuModelBuilder **out, int capacity, int base)
{
    *out = nullptr;
    if (capacity < 0) return ERR_MEM;
    lvMenuModelBuilder *b = (lvMenuModelBuilder *)AllocMemory(sizeof *b, 1);
    if (!b) return ERR_MEM;
    b->nodes = (lvMenuNode *)AllocMemory(sizeof(lvMenuNode) * (size_t)(capacity ? capacity : 1), 1);
    if (!b->nodes) {
        FreeMemory(b);
        return ERR_MEM;
    }
    b->capacity = capacity;
    b->base = base;
    for (int &l : b->last) l = -1;
    *out = b;
    return 0;
}

int AddMenuNode(lvMenuModelBuilder *b, const lvMenuNodeSource *source, int hasChildren)
{
    int level = b->depth;
    if (level > 2 || (hasChildren && level == 2)) return ERR_MENUCOMPLEXITY;
    if (b->count >= b->capacity) return ERR_MEM;
    int index = b->count;
    lvMenuNode &n = b->nodes[index];
    n.parent = level ? b->open[level - 1] : -1;
    n.firstChild = n.next = -1;
    n.level = level;
    n.flags = source->flags;
    n.radioFirst = n.radioLast = -1;
    b->count++;  // counted now, so a failure below frees what was copied
    if (source->title) {
        if (!(n.label = CopyText(source->title, CharacterPrefix(source->title, LV_MENU_LABEL_CHARS)))) return ERR_MEM;
        // A label that cannot be drawn is still chosen by its place and its hotkey.
        if (labelServices && n.label[0] &&
            labelServices->RenderLabel(n.label, kMenuMetrics.labelPixels, &n.labelMask, &n.labelWidth,
                                       &n.labelHeight) != 0) {
            n.labelMask = nullptr;
            n.labelWidth = n.labelHeight = 0;
        }
    }
    if (source->idText && !(n.idText = CopyText(source->idText, std::strlen(source->idText)))) return ERR_MEM;
    if (source->hotkey && source->hotkey[0]) {
        uint32_t c = SingleCharacter(source->hotkey);
        if (c) {
            size_t length = std::strlen(source->hotkey);
            if (!(n.shortcut = (char *)AllocMemory(length + 6, 0))) return ERR_MEM;
            std::memcpy(n.shortcut, "Ctrl+", 5);
            std::memcpy(n.shortcut + 5, source->hotkey, length + 1);
            n.accelerator = c >= 'a' && c <= 'z' ? c - 32 : c;
        } else if (!(n.shortcut = CopyText(source->hotkey, std::strlen(source->hotkey)))) {
            return ERR_MEM;
        }
    }
    if (b->last[level] >= 0) {
        b->nodes[b->last[level]].next = index;
    } else if (level) {
        b->nodes[b->open[level - 1]].firstChild = index;
    }
    b->last[level] = index;
    if (hasChildren) {
        b->open[b->depth++] = index;
        b->last[level + 1] = -1;
    }
    return 0;
}

void EndMenuSubmenu(lvMenuModelBuilder *b)
{
    if (b->depth > 0) b->depth--;
}

static void FreeNodes(lvMenuNode *nodes, int count)
{
    for (int i = 0; i < count; i++) {
        FreeMemory(nodes[i].label);
        FreeMemory(nodes[i].shortcut);
        FreeMemory(nodes[i].idText);
        FreeMemory(nodes[i].labelMask);
    }
    FreeMemory(nodes);
}

// Numbers a sibling list: children first, then the node (at most three levels deep).
static void NumberList(lvMenuNode *nodes, int index, int *counter, int *order)
{
    for (; index >= 0; index = nodes[index].next) {
        if (nodes[index].firstChild >= 0) NumberList(nodes, nodes[index].firstChild, counter, order);
        order[*counter] = index;
        nodes[index].number = (*counter)++;
    }
}

// Runs of radio leaves among siblings: the first selected member stays, later ones are
// cleared; every member learns the run's first and last number.
static void ApplyRadioRule(lvMenuModel *m, int index)
{
    while (index >= 0) {
        lvMenuNode *n = &m->nodes[index];
        if (n->firstChild >= 0) ApplyRadioRule(m, n->firstChild);
        if (!(n->flags & LV_MENU_RADIO) || n->firstChild >= 0) {
            index = n->next;
            continue;
        }
        int start = index, end = index;
        while (m->nodes[end].next >= 0) {
            const lvMenuNode &s = m->nodes[m->nodes[end].next];
            if (!(s.flags & LV_MENU_RADIO) || s.firstChild >= 0) break;
            end = m->nodes[end].next;
        }
        int seen = 0;
        for (int i = start;; i = m->nodes[i].next) {
            lvMenuNode &s = m->nodes[i];
            s.radioFirst = m->nodes[start].number;
            s.radioLast = m->nodes[end].number;
            if (s.flags & LV_MENU_SELECTED) {
                if (seen) s.flags &= ~(uint32_t)LV_MENU_SELECTED;
                seen = 1;
            }
            if (i == end) break;
        }
        if (!seen) m->nodes[start].flags |= LV_MENU_SELECTED;
        index = m->nodes[end].next;
    }
}

lvMenuModel *FinishMenuModel(lvMenuModelBuilder *b, int failed)
{
    lvMenuModel *m = nullptr;
    int *order = nullptr, *place = nullptr;
    lvMenuNode *sorted = nullptr;
    if (!failed && b->count > 0) {
        m = (lvMenuModel *)AllocMemory(sizeof *m, 1);
        order = (int *)AllocMemory(sizeof(int) * (size_t)b->count, 0);
        place = (int *)AllocMemory(sizeof(int) * (size_t)b->count, 0);
        sorted = (lvMenuNode *)AllocMemory(sizeof(lvMenuNode) * (size_t)b->count, 1);
    }
    if (!m || !order || !place || !sorted) {
        FreeMemory(m);
        FreeMemory(order);
        FreeMemory(place);
        FreeMemory(sorted);
        FreeNodes(b->nodes, b->count);
        FreeMemory(b);
        return nullptr;
    }
    int counter = 0;
    NumberList(b->nodes, 0, &counter, order);
    for (int i = 0; i < b->count; i++) place[order[i]] = i;
    auto remap = [&](int index) { return index < 0 ? -1 : place[index]; };
    for (int i = 0; i < b->count; i++) {
        lvMenuNode n = b->nodes[order[i]];
        n.parent = remap(n.parent);
        n.firstChild = remap(n.firstChild);
        n.next = remap(n.next);
        n.number = i + b->base;
        sorted[i] = n;
    }
    m->nodes = sorted;
    m->count = b->count;
    m->base = b->base;
    m->first = place[0];
    ApplyRadioRule(m, m->first);
    FreeMemory(order);
    FreeMemory(place);
    FreeMemory(b->nodes);
    FreeMemory(b);
    return m;
}

void FreeMenuModel(lvMenuModel *model)
{
    if (!model) return;
    FreeNodes(model->nodes, model->count);
    FreeMemory(model);
}

lvMenuNode *FindMenuNode(lvMenuModel *model, int number)
{
    if (!model) return nullptr;
    int index = number - model->base;
    return index >= 0 && index < model->count ? &model->nodes[index] : nullptr;
}

// Makes one member of a radio group the selected one.
static void SelectInGroup(lvMenuModel *m, lvMenuNode *n)
{
    for (int k = n->radioFirst; k <= n->radioLast; k++)
        if (lvMenuNode *s = FindMenuNode(m, k)) s->flags &= ~(uint32_t)LV_MENU_SELECTED;
    n->flags |= LV_MENU_SELECTED;
}

int SetMenuNodeFlags(lvMenuModel *model, int number, uint32_t set, uint32_t clear)
{
    lvMenuNode *n = FindMenuNode(model, number);
    if (!n) return ERR_FINDMENUITEM;
    if ((n->flags & LV_MENU_RADIO) && n->radioFirst >= 0) {
        if (set & LV_MENU_SELECTED) SelectInGroup(model, n);
    } else {
        if (set & LV_MENU_SELECTED) n->flags |= LV_MENU_SELECTED;
        if (clear & LV_MENU_SELECTED) n->flags &= ~(uint32_t)LV_MENU_SELECTED;
    }
    if (set & LV_MENU_DISABLED) n->flags |= LV_MENU_DISABLED;
    if (clear & LV_MENU_DISABLED) n->flags &= ~(uint32_t)LV_MENU_DISABLED;
    return 0;
}

int GetMenuNodeFlags(const lvMenuModel *model, int number)
{
    lvMenuNode *n = FindMenuNode(const_cast<lvMenuModel *>(model), number);
    if (!n) return -1;
    return (int)(n->flags & (LV_MENU_SELECTED | LV_MENU_DISABLED));
}

int ChooseMenuNode(lvMenuModel *model, int number)
{
    lvMenuNode *n = FindMenuNode(model, number);
    if (!n || n->firstChild >= 0 || !n->label || (n->flags & LV_MENU_DISABLED)) return -1;
    if ((n->flags & LV_MENU_RADIO) && n->radioFirst >= 0) {
        SelectInGroup(model, n);
        return 1;
    }
    if (n->flags & LV_MENU_TOGGLE) {
        n->flags ^= LV_MENU_SELECTED;
        return (n->flags & LV_MENU_SELECTED) ? 1 : 0;
    }
    return 0;
}

int FindMenuAccelerator(const lvMenuModel *model, uint32_t character)
{
    if (!model || !character) return -1;
    if (character >= 'a' && character <= 'z') character -= 32;
    for (int i = 0; i < model->count; i++) {
        const lvMenuNode &n = model->nodes[i];
        if (n.accelerator == (int)character && n.firstChild < 0) return n.number;
    }
    return -1;
}

void MenuStripBox(const lvMenuModel *model, int index, int *x, int *width)
{
    // Titles are as wide as their text at the label font's average advance, with a
    // margin on each side.
    int left = 0;
    for (int i = model ? model->first : -1; i >= 0; i = model->nodes[i].next) {
        const lvMenuNode &n = model->nodes[i];
        size_t chars = 0;
        for (const char *c = n.label ? n.label : ""; *c; c++) chars += ((unsigned char)*c & 0xC0) != 0x80;
        int w = 16 + (n.labelMask ? n.labelWidth : (int)chars * (kMenuMetrics.labelPixels / 2 + 1));
        if (i == index) {
            *x = left;
            *width = w;
            return;
        }
        left += w;
    }
    *x = left;
    *width = 0;
}
