// objects.h - the object-type registry: the common object header, identifiers, per-object
// user data and the generic lookups over every library's object list.
//
// Every script object begins with lvObjectHeader and lives in a singly linked list owned
// by its library; the library registers that list here under the type number that equals
// the type's script constant. Script values held as user data are registry references
// of the VM; this engine only stores them and calls back to copy or release them, so it
// needs no VM types. Used on the script thread only (no locking).
//
// Depends on: platform/lvplatform.h (allocator), runtime/encoding.h (case-blind names).
#pragma once
#include <cstddef>
#include <cstdint>

struct lvState;  // the VM's per-thread state, passed through to attribute callbacks

// An object identifier as scripts pass it: a number, or the handle the runtime made for an
// object created with Nil (then number 0 and handle the object's address).
struct lvObjectId {
    int number;    // identifier chosen by the script, 0 for a Nil-made object
    void *handle;  // the object's own address for a Nil-made object, else null
};

// One named script value attached to an object.
struct lvObjectUserData {
    lvObjectUserData *next;  // next item, null at the end
    int ref;                 // registry reference of the value
    char name[1];            // the name (stored in the same allocation)
};

// The head of every script object, in this order.
struct lvObjectHeader {
    int type;                    // object type number
    int identifier;              // the script's number, 0 for a Nil-made object
    void *handle;                // the object's own address for a Nil-made object, else null
    lvObjectUserData *userData;  // named script values (SetObjectData)
    lvObjectHeader *next;        // next object in the owning library's list
};

// Fills a header for a new object (no user data, not linked). With makeHandle it is a
// Nil-made object: identifier 0 and handle = the header's own address; else the number.
void InitObjectHeader(lvObjectHeader *header, int type, int number, bool makeHandle);
// True when the header has this identifier pair.
bool ObjectIdMatches(const lvObjectHeader *header, lvObjectId id);
// The identifier a script sees: the handle when set, else the number.
lvObjectId GetObjectIdOf(const lvObjectHeader *header);

// Attribute callback of a type: result count or an error code.
typedef int (*lvObjectAttributeFunction)(lvState *state, int attribute, lvObjectId id);
// The same for a type registered from outside the runtime (a plug-in): it also gets the
// value the type was registered with.
typedef int (*lvObjectForeignAttribute)(lvState *state, int attribute, lvObjectId id, intptr_t value);

// A registered object type (kept in ascending byte order of the plural name).
struct lvObjectType {
    lvObjectType *next;                       // next type by name
    char pluralName[64];                      // "Brushes", "Serial I/O", ...
    int number;                               // type number (the script constant)
    intptr_t value;                           // given at registration, for the owner
    lvObjectAttributeFunction attribute;      // GetAttribute handler, or null
    lvObjectHeader **listHead;                // the owning library's list head
    lvObjectForeignAttribute foreignAttribute; // used when attribute is null, or null
};

// The attribute number that counts objects of a type (ATTRCOUNT).
enum { LV_ATTRCOUNT = 60 };
// First number handed out to a type registered with number 0 or below.
enum { LV_FIRST_AUTO_OBJECT_TYPE = 67 };

// Registers a type; number <= 0 takes the next automatic number. numberOut (may be null)
// gets the number used. 0 or ERR_MEM.
int RegisterObjectType(int number, const char *pluralName, lvObjectHeader **listHead,
                       lvObjectAttributeFunction attribute, int *numberOut, intptr_t value);
// Frees every registration and resets the automatic numbers (shut-down).
void FreeObjectTypes();
// The registered types in name order, and the entry of one number (or null).
lvObjectType *FirstObjectType();
lvObjectType *FindObjectType(int number);

// An object of any registered list with this type and identifier, or null.
lvObjectHeader *FindAnyObject(int type, lvObjectId id);
// Objects of the type in all registered lists.
int CountObjectsOfType(int type);
// Calls visit for every object of the type (in list order); stops when it returns false.
// Returns the number visited.
int ForEachObjectOfType(int type, bool (*visit)(void *context, lvObjectHeader *object), void *context);
// The type of the object that has this handle, -1 when none (or handle null).
int GetTypeOfHandle(const void *handle);

// ---- User data --------------------------------------------------------------------------

// How the engine copies and releases the VM's references.
struct lvRefOps {
    void *context;                           // passed to both
    int (*copy)(void *context, int ref);     // a new reference to the same value, -1 on failure
    void (*release)(void *context, int ref); // releases a reference
};

// The item with this name (case ignored), or null.
lvObjectUserData *FindObjectUserData(lvObjectUserData *list, const char *name);
// Stores ref under name: an item of that name gets it (its old reference released),
// otherwise a new item is appended. 0, or ERR_MEM (ref then stays the caller's).
int SetObjectUserData(lvObjectHeader *header, const char *name, int ref, const lvRefOps *ops);
// Removes the item of that name (releasing its reference): 1, or 0 when none had it.
int RemoveObjectUserData(lvObjectHeader *header, const char *name, const lvRefOps *ops);
// Releases every reference and frees the items; *list becomes null.
void FreeObjectUserData(lvObjectUserData **list, const lvRefOps *ops);
// A copy with new references to the same values. 0 or ERR_MEM (nothing left over).
int CopyObjectUserData(const lvObjectUserData *list, lvObjectUserData **copyOut, const lvRefOps *ops);
// Copies every item of source to destination: an item of the same name is replaced when
// overwrite is set and kept otherwise; the others are appended. 0 or ERR_MEM.
int MergeObjectUserData(const lvObjectUserData *source, lvObjectHeader *destination, bool overwrite,
                        const lvRefOps *ops);

// ---- Resource text ----------------------------------------------------------------------

// Counts that come from the layer and sprite engines and the monitor itself.
struct lvResourceExtras {
    int layersOnScreen;   // "Layers (on screen)"
    int layersTotal;      // "Layers (total)", as it is to be shown
    int spritesOnScreen;  // "Sprites (on screen)"
    bool monitorOpen;     // the monitor's own display and BGPic are not counted
};

// One line per registered type and the three extra lines, in name order: the name, ":",
// spaces up to the longest name + 2 characters, the count and a line end. Bounded by size.
size_t BuildResourceText(char *buffer, size_t size, const lvResourceExtras *extras);
