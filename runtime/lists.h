// lists.h - the runtime's linked lists, string lists, user tags and bounded text helpers.
//
// Node lists are doubly linked with a header of three words {head, null, tailPredecessor}
// that serves as both sentinels: the first two words are the head sentinel's {next, prev},
// the last two the tail sentinel's. Nodes begin with lvNode; an empty list has head
// pointing at the null word and tailPredecessor at the header. No locking: callers that
// share a list between threads hold that list's lock.
//
// Depends on: platform/lvplatform.h (allocator), runtime/encoding.h (case-blind compares).
// No VM types: the script-facing readers of user tags sit on top of these.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Node lists -----------------------------------------------------------------------

// The head of every list node.
struct lvNode {
    lvNode *next;  // next node, or the tail sentinel (whose next is null)
    lvNode *prev;  // previous node, or the head sentinel
};

// A list header: head sentinel and tail sentinel overlapping in the null word.
struct lvListHeader {
    lvNode *head;      // first node, or the tail sentinel (&null) when empty
    lvNode *null;      // always null: the head sentinel's prev and the tail sentinel's next
    lvNode *tailPred;  // last node, or the head sentinel (the header) when empty
};

void InitNodeList(lvListHeader *list);
bool IsNodeListEmpty(const lvListHeader *list);
void AddHeadNode(lvListHeader *list, lvNode *node);
void AddTailNode(lvListHeader *list, lvNode *node);
// Unlinks a node from whatever list holds it.
void RemoveNode(lvNode *node);
// Unlinks and returns the first node; null (list unchanged) when empty.
lvNode *RemoveHeadNode(lvListHeader *list);
// Inserts node after `after`; null `after` inserts at the head, the tail sentinel (or the
// last node) at the tail.
void InsertNodeAfter(lvListHeader *list, lvNode *node, lvNode *after);
// The tail sentinel of a list (what InsertNodeAfter takes for "at the tail").
lvNode *ListTailSentinel(lvListHeader *list);
// Walking: the first node, the node after `node`; null at the end.
lvNode *FirstNode(const lvListHeader *list);
lvNode *NextNode(const lvNode *node);
// Number of nodes.
size_t CountNodes(const lvListHeader *list);

// ---- String lists ---------------------------------------------------------------------

// One text of a string list, allocated in one piece with its text.
struct lvStringNode {
    lvStringNode *next;  // next text, null at the end
    char *text;          // points at storage
    char storage[1];     // the text and its NUL
};

// Appends a copy of text at the end of *list; 0 or ERR_MEM.
int AppendStringNode(lvStringNode **list, const char *text);
// Frees every node and sets *list to null.
void FreeStringList(lvStringNode **list);

// ---- User tags ------------------------------------------------------------------------

// One user tag: a name with a string or a number, name and string in the same allocation.
struct lvUserTag {
    lvUserTag *next;  // next tag, null at the end
    char *name;       // the tag's name
    char *string;     // the string value, or null for a number
    double number;    // the number value (0 for a string)
    size_t length;    // bytes of the string without the NUL, or 8 for a number
};

// A new tag (not linked); string null makes a number tag. string may hold NULs when
// stringLength is given (SIZE_MAX: up to the first NUL). Null when memory runs out.
lvUserTag *NewUserTag(const char *name, const char *string, size_t stringLength, double number);
// Appends tag at the end of *list.
void AppendUserTag(lvUserTag **list, lvUserTag *tag);
size_t CountUserTags(const lvUserTag *list);
// True when both have as many tags and each tag of a has one of the same name (case
// ignored) in b with the same string bytes or the same number (a string never equals a
// number).
bool CompareUserTags(const lvUserTag *a, const lvUserTag *b);
// A copy, or null for an empty list and on failure (*failed tells them apart; may be null).
lvUserTag *CopyUserTags(const lvUserTag *list, int *failed);
// Frees the list (all tags come from AllocMemory; systemAllocator is kept for callers that
// pass it and has no effect here).
void FreeUserTags(lvUserTag *list, int systemAllocator);

// ---- Bounded texts -------------------------------------------------------------------

// Copy / append into dest of size bytes; true when all of src fitted. Always
// NUL-terminated; size 0 does nothing and returns false.
bool CopyStrBounded(char *dest, size_t size, const char *src);
bool AppendStrBounded(char *dest, size_t size, const char *src);
// An allocated copy with every '%' doubled; null when text is empty or holds no '%' (or
// memory runs out).
char *DoublePercentSigns(const char *text);
// Paths equal without regard to case once '\\' reads as '/' (each cut to 1023 bytes).
bool PathsEqual(const char *a, const char *b);

// Looks a constant up by name (lower-cased lookup is the caller's business): true when
// found, with *stringOut (null for a number constant) and *numberOut.
typedef bool (*lvConstantLookup)(void *context, const char *name, const char **stringOut, double *numberOut);
// Reads "#NAME" at text: the name runs over letters, digits, '_', '!' and '$' (64 bytes at
// most). Returns 0, ERR_WRONGUSAGE (no '#'), ERR_SYNTAXERROR (the first character is no
// letter or '_') or ERR_FINDCST (not found); *consumedOut = name length + 1.
int ParseConstantRef(const char *text, lvConstantLookup lookup, void *context, size_t *consumedOut,
                     const char **stringOut, double *numberOut);
