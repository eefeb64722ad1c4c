// lists.cpp - node lists, string lists, user tags and bounded text helpers.
//
// Depends on: platform/lvplatform.h (AllocMemory/FreeMemory), runtime/encoding.h.
// Limits: no locking; user-tag names compare without regard to case in the current
// encoding.
#include "runtime/lists.h"

#include <cctype>
#include <cstring>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"

// ==== Node lists ==========================================================================

// The header read as the head sentinel, and its middle words as the tail sentinel.
static inline lvNode *HeadSentinel(lvListHeader *list) { return reinterpret_cast<lvNode *>(&list->head); }
static inline lvNode *TailSentinel(lvListHeader *list) { return reinterpret_cast<lvNode *>(&list->null); }

void InitNodeList(lvListHeader *list) {
    list->head = TailSentinel(list);
    list->null = nullptr;
    list->tailPred = HeadSentinel(list);
}

bool IsNodeListEmpty(const lvListHeader *list) { return list->head->next == nullptr; }

lvNode *ListTailSentinel(lvListHeader *list) { return TailSentinel(list); }

static inline void LinkBetween(lvNode *node, lvNode *before, lvNode *after) {
    node->prev = before;
    node->next = after;
    before->next = node;
    after->prev = node;
}

void AddHeadNode(lvListHeader *list, lvNode *node) { LinkBetween(node, HeadSentinel(list), list->head); }

void AddTailNode(lvListHeader *list, lvNode *node) { LinkBetween(node, list->tailPred, TailSentinel(list)); }

void RemoveNode(lvNode *node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
}

lvNode *RemoveHeadNode(lvListHeader *list) {
    if (IsNodeListEmpty(list)) return nullptr;
    lvNode *node = list->head;
    RemoveNode(node);
    return node;
}

void InsertNodeAfter(lvListHeader *list, lvNode *node, lvNode *after) {
    if (!after) {
        AddHeadNode(list, node);
    } else if (after == TailSentinel(list) || after->next == nullptr) {
        AddTailNode(list, node);
    } else {
        LinkBetween(node, after, after->next);
    }
}

lvNode *FirstNode(const lvListHeader *list) { return list->head->next ? list->head : nullptr; }

lvNode *NextNode(const lvNode *node) { return node->next && node->next->next ? node->next : nullptr; }

size_t CountNodes(const lvListHeader *list) {
    size_t n = 0;
    for (const lvNode *p = list->head; p->next; p = p->next) n++;
    return n;
}

// ==== String lists ========================================================================

int AppendStringNode(lvStringNode **list, const char *text) {
    size_t length = strlen(text);
    lvStringNode *node = (lvStringNode *)AllocMemory(sizeof(lvStringNode) + length, 0);
    if (!node) return ERR_MEM;
    node->next = nullptr;
    node->text = node->storage;
    memcpy(node->storage, text, length + 1);
    lvStringNode **tail = list;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

void FreeStringList(lvStringNode **list) {
    for (lvStringNode *p = *list; p;) {
        lvStringNode *next = p->next;
        FreeMemory(p);
        p = next;
    }
    *list = nullptr;
}

// ==== User tags ===========================================================================

lvUserTag *NewUserTag(const char *name, const char *string, size_t stringLength, double number) {
    size_t nameLength = strlen(name);
    if (string && stringLength == (size_t)-1) stringLength = strlen(string);
    size_t extra = nameLength + 1 + (string ? stringLength + 1 : 0);
    lvUserTag *tag = (lvUserTag *)AllocMemory(sizeof(lvUserTag) + extra, 0);
    if (!tag) return nullptr;
    tag->next = nullptr;
    tag->name = reinterpret_cast<char *>(tag + 1);
    memcpy(tag->name, name, nameLength + 1);
    if (string) {
        tag->string = tag->name + nameLength + 1;
        memcpy(tag->string, string, stringLength);
        tag->string[stringLength] = 0;
        tag->number = 0;
        tag->length = stringLength;
    } else {
        tag->string = nullptr;
        tag->number = number;
        tag->length = 8;
    }
    return tag;
}

void AppendUserTag(lvUserTag **list, lvUserTag *tag) {
    while (*list) list = &(*list)->next;
    *list = tag;
}

size_t CountUserTags(const lvUserTag *list) {
    size_t n = 0;
    for (; list; list = list->next) n++;
    return n;
}

static bool SameTagValue(const lvUserTag *a, const lvUserTag *b) {
    if (!a->string || !b->string) return !a->string && !b->string && a->number == b->number;
    return a->length == b->length && memcmp(a->string, b->string, a->length) == 0;
}

bool CompareUserTags(const lvUserTag *a, const lvUserTag *b) {
    if (CountUserTags(a) != CountUserTags(b)) return false;
    for (const lvUserTag *t = a; t; t = t->next) {
        const lvUserTag *match = nullptr;
        for (const lvUserTag *u = b; u && !match; u = u->next)
            if (StrCmpNoCase(t->name, u->name) == 0) match = u;
        if (!match || !SameTagValue(t, match)) return false;
    }
    return true;
}

lvUserTag *CopyUserTags(const lvUserTag *list, int *failed) {
    lvUserTag *copy = nullptr;
    if (failed) *failed = 0;
    for (const lvUserTag *t = list; t; t = t->next) {
        lvUserTag *c = NewUserTag(t->name, t->string, t->string ? t->length : 0, t->number);
        if (!c) {
            FreeUserTags(copy, 0);
            if (failed) *failed = 1;
            return nullptr;
        }
        AppendUserTag(&copy, c);
    }
    return copy;
}

void FreeUserTags(lvUserTag *list, int systemAllocator) {
    (void)systemAllocator;
    while (list) {
        lvUserTag *next = list->next;
        FreeMemory(list);
        list = next;
    }
}

// ==== Bounded texts =======================================================================

bool CopyStrBounded(char *dest, size_t size, const char *src) {
    if (size == 0) return false;
    size_t length = strlen(src);
    size_t n = length < size ? length : size - 1;
    memcpy(dest, src, n);
    dest[n] = 0;
    return n == length;
}

bool AppendStrBounded(char *dest, size_t size, const char *src) {
    if (size == 0) return false;
    size_t used = strnlen(dest, size);
    if (used == size) {  // no NUL inside the buffer: end it and report the loss
        dest[size - 1] = 0;
        return *src == 0;
    }
    return CopyStrBounded(dest + used, size - used, src);
}

char *DoublePercentSigns(const char *text) {
    size_t percents = 0, length = 0;
    for (const char *p = text; *p; p++, length++)
        if (*p == '%') percents++;
    if (percents == 0) return nullptr;
    char *out = (char *)AllocMemory(length + percents + 1, 0);
    if (!out) return nullptr;
    char *o = out;
    for (const char *p = text; *p; p++) {
        *o++ = *p;
        if (*p == '%') *o++ = '%';
    }
    *o = 0;
    return out;
}

bool PathsEqual(const char *a, const char *b) {
    char x[1024], y[1024];
    CopyStrBounded(x, sizeof x, a);
    CopyStrBounded(y, sizeof y, b);
    for (char *p = x; *p; p++)
        if (*p == '\\') *p = '/';
    for (char *p = y; *p; p++)
        if (*p == '\\') *p = '/';
    return StrCmpNoCase(x, y) == 0;
}

int ParseConstantRef(const char *text, lvConstantLookup lookup, void *context, size_t *consumedOut,
                     const char **stringOut, double *numberOut) {
    if (text[0] != '#') return ERR_WRONGUSAGE;
    unsigned char first = (unsigned char)text[1];
    if (!(isalpha(first) || first == '_')) return ERR_SYNTAXERROR;
    char name[65];
    size_t n = 0;
    for (const char *p = text + 1; n < 64; p++, n++) {
        unsigned char c = (unsigned char)*p;
        if (!(isalnum(c) || c == '_' || c == '!' || c == '$')) break;
        name[n] = (char)c;
    }
    name[n] = 0;
    const char *string = nullptr;
    double number = 0;
    if (!lookup || !lookup(context, name, &string, &number)) return ERR_FINDCST;
    if (consumedOut) *consumedOut = n + 1;
    if (stringOut) *stringOut = string;
    if (numberOut) *numberOut = number;
    return 0;
}
