// icons.cpp - icon objects and their entry lists, and the runtime's own application icon.
#include "ui/icons.h"

#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_windows.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

namespace {

lvObjectHeader *iconList;

lvObjectHeader **FindLink(lvObjectId id)
{
    for (lvObjectHeader **p = &iconList; *p; p = &(*p)->next)
        if (ObjectIdMatches(*p, id)) return p;
    return nullptr;
}

void FreeIconObject(lvObjectHeader **link)
{
    lvIcon *icon = (lvIcon *)*link;
    *link = icon->header.next;
    FreeIconEntries(icon->entries);
    FreeIconProps(&icon->props);
    if (lvState *L = GetMainVMState()) {
        lvRefOps ops = MakeRegistryRefOps(L);
        FreeObjectUserData(&icon->header.userData, &ops);
    } else {
        FreeObjectUserData(&icon->header.userData, nullptr);
    }
    FreeMemory(icon);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Copies n bytes of text into a buffer of size bytes, cutting before a UTF-8 character
// that would not fit whole.
void CopyCut(char *buffer, size_t size, const char *text, size_t n)
{
    if (n > size - 1) {
        n = size - 1;
        while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80) n--;
    }
    std::memcpy(buffer, text, n);
    buffer[n] = 0;
}

}  // namespace

void FreeIconProps(lvIconProps *props)
{
    FreeMemory(props->defaultTool);
    for (int i = 0; i < props->toolTypeCount; i++) FreeMemory(props->toolTypes[i]);
    FreeMemory(props->toolTypes);
    props->defaultTool = nullptr;
    props->toolTypes = nullptr;
    props->toolTypeCount = 0;
}

int ParseToolType(const char *text, lvToolType *out)
{
    out->key[0] = out->value[0] = 0;
    out->enabled = 1;
    const char *p = text;
    while (IsBlank(*p)) p++;
    if (!*p) return 0;
    if (*p == '(') {
        out->enabled = 0;
        p++;
    }
    if (const char *eq = std::strchr(p, '=')) {
        // The key is everything before "=" without its blanks.
        char key[1024];
        size_t n = 0;
        for (const char *k = p; k < eq && n < sizeof key; k++)
            if (!IsBlank(*k)) key[n++] = *k;
        CopyCut(out->key, sizeof out->key, key, n);
        const char *v = eq + 1;
        while (IsBlank(*v)) v++;
        const char *end;
        if (*v == '"') {
            v++;
            end = std::strchr(v, '"');
            if (!end) end = v + std::strlen(v);
        } else {
            end = std::strchr(v, ')');
            if (!end) end = v + std::strlen(v);
            while (end > v && IsBlank(end[-1])) end--;
        }
        CopyCut(out->value, sizeof out->value, v, (size_t)(end - v));
    } else {
        size_t n = std::strcspn(p, " \t)");
        CopyCut(out->key, sizeof out->key, p, n);
    }
    char first = out->key[0];
    if (first >= 'a' && first <= 'z') first = (char)(first - 'a' + 'A');
    return (first >= 'A' && first <= 'Z') || first == '_';
}

int BuildToolType(const char *key, size_t keyLength, const char *value, size_t valueLength, int enabled,
                  char **out)
{
    *out = nullptr;
    if (!value) valueLength = 0;
    // Bounded before the sum so huge lengths cannot wrap.
    if (keyLength > LV_MAX_TOOLTYPE_TEXT || valueLength > LV_MAX_TOOLTYPE_TEXT) return ERR_WRONGUSAGE;
    size_t length = keyLength + (valueLength ? 1 + valueLength : 0) + (enabled ? 0 : 2);
    if (length > LV_MAX_TOOLTYPE_TEXT) return ERR_WRONGUSAGE;
    char *text = (char *)AllocMemory(length + 1, 0);
    if (!text) return ERR_MEM;
    size_t at = 0;
    if (!enabled) text[at++] = '(';
    std::memcpy(text + at, key, keyLength);
    at += keyLength;
    if (valueLength) {
        text[at++] = '=';
        std::memcpy(text + at, value, valueLength);
        at += valueLength;
    }
    if (!enabled) text[at++] = ')';
    text[at] = 0;
    *out = text;
    return 0;
}

void FreeIconEntries(lvIconEntry *list)
{
    while (list) {
        lvIconEntry *next = list->next;
        FreeMemory(list->normal);
        FreeMemory(list->selected);
        FreeMemory(list->palette);
        FreeMemory(list->normalPens);
        FreeMemory(list->selectedPens);
        FreeMemory(list);
        list = next;
    }
}

int InsertIconEntry(lvIconEntry **list, lvIconEntry *entry)
{
    int position = 1;
    while (*list && ((*list)->width < entry->width ||
                     ((*list)->width == entry->width && IconEntryDepth(*list) <= IconEntryDepth(entry)))) {
        list = &(*list)->next;
        position++;
    }
    entry->next = *list;
    *list = entry;
    return position;
}

int CountIconEntries(const lvIconEntry *list)
{
    int n = 0;
    for (; list; list = list->next) n++;
    return n;
}

int FindIconById(lvObjectId id, lvIcon **out)
{
    lvObjectHeader **link = FindLink(id);
    if (!link) {
        if (id.handle) return ERR_FINDARRAY;
        SetErrorNumberArg(id.number);
        return ERR_FINDICON;
    }
    *out = (lvIcon *)*link;
    return 0;
}

int FreeIconById(lvObjectId id, int reportAbsence)
{
    lvObjectHeader **link = FindLink(id);
    if (!link) {
        if (!reportAbsence) return 0;
        lvIcon *unused;
        return FindIconById(id, &unused);
    }
    FreeIconObject(link);
    return 0;
}

int AddIconObject(int number, bool automatic, lvIconEntry *entries, const char *formatName, lvIcon **out)
{
    lvIcon *icon = (lvIcon *)AllocMemory(sizeof *icon, 1);
    if (!icon) {
        FreeIconEntries(entries);
        return ERR_MEM;
    }
    InitObjectHeader(&icon->header, LV_TYPE_ICON, number, automatic);
    icon->entries = entries;
    std::strncpy(icon->formatName, formatName ? formatName : "", sizeof icon->formatName - 1);
    lvObjectHeader **tail = &iconList;
    while (*tail) tail = &(*tail)->next;
    *tail = &icon->header;
    if (out) *out = icon;
    return 0;
}

lvObjectHeader **IconListHead(void)
{
    return &iconList;
}

void FreeAllIcons(void)
{
    while (iconList) FreeIconObject(&iconList);
}

const lvIconEntry *NearestIconEntry(const lvIcon *icon, int wanted)
{
    const lvIconEntry *best = nullptr;
    int bestDistance = 0;
    for (const lvIconEntry *e = icon->entries; e; e = e->next) {
        int distance = e->width > wanted ? e->width - wanted : wanted - e->width;
        if (!best || distance < bestDistance) {
            best = e;
            bestDistance = distance;
        }
    }
    return best;
}

uint32_t *DrawRuntimeIcon(int size)
{
    if (size < 1 || size > 256) return nullptr;
    uint32_t *p = (uint32_t *)AllocMemory((size_t)size * size * 4, 1);
    if (!p) return nullptr;
    // A blue disc with a white ring: readable at every size, clear around it.
    double c = (size - 1) / 2.0, r = size / 2.0;
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            double dx = x - c, dy = y - c, d2 = dx * dx + dy * dy;
            if (d2 > r * r) continue;
            double inner = r * 0.55;
            p[y * size + x] = d2 > inner * inner && d2 < (r * 0.75) * (r * 0.75) ? 0xFFFFFFFFu : 0xFF2850B4u;
        }
    return p;
}

int InstallWindowIcons(const lvWindowIconImage *applet, int count)
{
    static const int kSizes[3] = {16, 32, 48};
    uint32_t *pixels[3] = {};
    lvWindowIconImage images[16];
    int n = 0, code = 0;
    for (int i = 0; i < 3 && !code; i++) {
        bool replaced = false;
        for (int j = 0; j < count; j++)
            if (applet[j].width == kSizes[i] && applet[j].height == kSizes[i]) replaced = true;
        if (replaced) continue;
        pixels[i] = DrawRuntimeIcon(kSizes[i]);
        if (!pixels[i]) code = ERR_MEM;
        images[n++] = {pixels[i], kSizes[i], kSizes[i]};
    }
    for (int j = 0; j < count && n < 16; j++) images[n++] = applet[j];
    if (!code) code = SetWindowIconImages(images, n);
    for (uint32_t *p : pixels) FreeMemory(p);
    return code;
}
