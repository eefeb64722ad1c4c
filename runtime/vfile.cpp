// vfile.cpp - the virtual file layer: virtual names, registered memory files,
// search paths, default adapter lists, and the open, close and data operations
// that dispatch a handle to its adapter, its memory window or the platform.
// Dependencies: platform/lvplatform.h (files, memory), base/lverrors.h.
// Limits: memory files grow in 64 KB steps; range names keep 32-bit fields.
#include "runtime/vfile.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <strings.h>

// ============================================================================
// Layer globals
// ============================================================================

static int DefaultReferenceNode(lvMemFile *node);
static void DefaultReleaseReference(int reference);
static void DefaultBeginScan(lvAdapterScan *scan, const char *list, uint32_t capability, int mode);
static int DefaultNextAdapter(lvAdapterScan *scan);
static int DefaultListAccepts(const char *list, const char *name, int pluginMatches);

static const lvAdapterHooks DefaultAdapterHooks = {DefaultBeginScan, DefaultNextAdapter, DefaultListAccepts};
static const lvMemFileRegistryHooks DefaultRegistryHooks = {DefaultReferenceNode, DefaultReleaseReference};

static struct {
    lvMemFile *memFiles;               // registered memory files, in registration order
    lvSearchPath *searchPaths;         // search paths in order
    char defaultAdapters[3][256];      // files and directories, network, serializers
    char defaultLoaders[6][256];       // image, anim, sound, video, icon, font
    int adapterSetupPhase;             // adapters of displays etc. may be installed
    lvAdapterHooks adapterHooks;       // the plug-in manager's chains
    lvMemFileRegistryHooks registry;   // the script registry
    int nextReference;                 // local reference counter (without the registry)
} Layer = {nullptr, nullptr, {}, {}, 0, DefaultAdapterHooks, DefaultRegistryHooks, 3};

// ============================================================================
// Adapter scans (defaults until the plug-in manager connects its chains)
// ============================================================================

void SetAdapterHooks(const lvAdapterHooks *hooks)
{
    Layer.adapterHooks = hooks ? *hooks : DefaultAdapterHooks;
}

void BeginAdapterScan(lvAdapterScan *scan, const char *list, uint32_t capability, int mode)
{
    Layer.adapterHooks.BeginScan(scan, list, capability, mode);
}

int NextAdapter(lvAdapterScan *scan)
{
    return Layer.adapterHooks.NextAdapter(scan);
}

int AdapterListAccepts(const char *list, const char *name, int pluginMatches)
{
    return Layer.adapterHooks.ListAccepts(list, name, pluginMatches);
}

static bool IsDefaultList(const char *list)
{
    return !list || !list[0] || strcasecmp(list, "default") == 0;
}

static void DefaultBeginScan(lvAdapterScan *scan, const char *list, uint32_t capability, int mode)
{
    std::memset(scan, 0, sizeof *scan);
    scan->cursor = IsDefaultList(list) ? "plugin|inbuilt|native" : list;
    scan->capability = capability;
    scan->mode = mode;
}

// Without plug-ins only "inbuilt" and "native" can answer.
static int DefaultNextAdapter(lvAdapterScan *scan)
{
    while (scan->cursor && *scan->cursor) {
        const char *bar = std::strchr(scan->cursor, '|');
        size_t len = bar ? (size_t)(bar - scan->cursor) : std::strlen(scan->cursor);
        const char *element = scan->cursor;
        scan->cursor = bar ? bar + 1 : element + len;
        if (len == 7 && strncasecmp(element, "inbuilt", 7) == 0) return 1;
        if (len == 6 && strncasecmp(element, "native", 6) == 0) return 2;
    }
    return 0;
}

static int DefaultListAccepts(const char *list, const char *name, int pluginMatches)
{
    if (IsDefaultList(list)) return 1;
    size_t nameLen = std::strlen(name);
    bool keyword = strcasecmp(name, "native") == 0 || strcasecmp(name, "inbuilt") == 0 ||
                   strcasecmp(name, "plugin") == 0;
    if (keyword) {
        for (const char *p = list; *p; p++) {
            if (strncasecmp(p, name, nameLen) != 0) continue;
            bool starts = (p == list || p[-1] == '|');
            bool ends = (p[nameLen] == 0 || p[nameLen] == '|');
            return starts && ends;
        }
        return 0;
    }
    const char *p = list;
    while (*p) {
        const char *bar = std::strchr(p, '|');
        size_t len = bar ? (size_t)(bar - p) : std::strlen(p);
        if (len && len <= nameLen && strncasecmp(p, name, len) == 0) return 1;
        if (pluginMatches && len == 6 && strncasecmp(p, "plugin", 6) == 0) return 1;
        p = bar ? bar + 1 : p + len;
    }
    return 0;
}

// ============================================================================
// Virtual names
// ============================================================================

static bool FitsInto(char *buffer, size_t size, int written)
{
    return written >= 0 && (size_t)written < size;
}

int MakeChunkName(const char *fileName, char *buffer, size_t size, const void *memory,
                  int64_t offset, uint32_t chunkSize, int reference, const char *container)
{
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    const char *file = (fileName && fileName[0]) ? fileName : "x";
    lvChunkNameParts outer;
    bool haveContainer = container && container[0];
    bool outerParsed = haveContainer && IsChunkName(container) && SplitChunkName(container, &outer);
    if (haveContainer && IsChunkName(container) && !outerParsed) return 0;

    if (outerParsed && outer.form == 'M') {
        // Nested memory range: address of the outer range plus the offset.
        if (offset < 0 || (uint64_t)offset + chunkSize > outer.size) return 0;
        int n = std::snprintf(buffer, size, ":::chunkM0x%" PRIx64 ":%u*%s?%s", outer.first + (uint64_t)offset,
                              chunkSize, file, container);
        if (!FitsInto(buffer, size, n)) return buffer[0] = 0, 0;
        return 1;
    }
    if (memory) {
        int n = std::snprintf(buffer, size, ":::chunkM0x%" PRIxPTR ":%u*%s?x", (uintptr_t)memory, chunkSize, file);
        if (!FitsInto(buffer, size, n)) return buffer[0] = 0, 0;
        return 1;
    }
    if (offset == -1) {
        int n = std::snprintf(buffer, size, ":::chunkS%d:0*%s?x", reference, file);
        if (!FitsInto(buffer, size, n)) return buffer[0] = 0, 0;
        return 1;
    }
    if (!haveContainer || offset < 0) return 0;
    int64_t first = (int64_t)reference + offset;
    const char *target = container;
    if (outerParsed && outer.form == 'R') {
        if ((uint64_t)offset + chunkSize > outer.size) return 0;
        first += (int64_t)outer.first;
        target = outer.container;
    }
    if (first < 0 || first > (int64_t)UINT32_MAX) return 0;
    int n = std::snprintf(buffer, size, ":::chunk%u:%u*%s?%s", (unsigned)first, chunkSize, file, target);
    if (!FitsInto(buffer, size, n)) return buffer[0] = 0, 0;
    return 1;
}

static bool CopyBounded(char *out, size_t size, const char *text, size_t length)
{
    if (!out) return true;
    if (length >= size) {
        if (size) out[0] = 0;
        return false;
    }
    std::memcpy(out, text, length);
    out[length] = 0;
    return true;
}

int ParseChunkName(const char *name, uint64_t *address, int64_t *offset, uint32_t *size,
                   char *fileName, size_t fileNameSize, char *container, size_t containerSize,
                   char *extension, size_t extensionSize, lvMemFile **node)
{
    lvChunkNameParts parts;
    if (!SplitChunkName(name, &parts)) return 0;
    uint64_t addr = 0;
    int64_t off = 0;
    uint32_t sz = parts.size;
    lvMemFile *found = nullptr;
    const char *cont = parts.container;
    switch (parts.form) {
    case 'M': {
        addr = parts.first;
        lvChunkNameParts outer;
        if (IsChunkName(cont) && SplitChunkName(cont, &outer) && outer.form == 'M')
            off = (int64_t)(addr - outer.first);
        break;
    }
    case 'S':
        found = FindMemoryFile((int)(int64_t)parts.first);
        if (!found) return 0;
        sz = (uint32_t)std::min<int64_t>(found->size, UINT32_MAX);
        cont = "";
        break;
    default:
        off = (int64_t)parts.first;
        break;
    }
    if (!CopyBounded(fileName, fileNameSize, parts.fileName, parts.fileNameLength)) return 0;
    if (!CopyBounded(container, containerSize, cont, std::strlen(cont))) return 0;
    if (extension) {
        const char *dot = nullptr;
        for (size_t i = 0; i < parts.fileNameLength; i++)
            if (parts.fileName[i] == '.') dot = parts.fileName + i;
        size_t len = dot ? (size_t)(parts.fileName + parts.fileNameLength - dot) : 0;
        if (!CopyBounded(extension, extensionSize, dot ? dot : "", len)) return 0;
    }
    if (address) *address = addr;
    if (offset) *offset = off;
    if (size) *size = sz;
    if (node) *node = found;
    return 1;
}

// ============================================================================
// Registered memory files
// ============================================================================

static int DefaultReferenceNode(lvMemFile *)
{
    return Layer.nextReference++;
}

static void DefaultReleaseReference(int)
{
}

void SetMemFileRegistryHooks(const lvMemFileRegistryHooks *hooks)
{
    Layer.registry = hooks ? *hooks : DefaultRegistryHooks;
}

lvMemFile *FindMemoryFile(int reference)
{
    for (lvMemFile *n = Layer.memFiles; n; n = n->next)
        if (n->ownReference == reference) return n;
    return nullptr;
}

lvMemFile *AddMemoryFile(const char *fileName, int writable, const void *data, int64_t size,
                         int dataReference, char *outName, size_t outNameSize)
{
    const char *file = (fileName && fileName[0]) ? fileName : "x";
    if (size < 0) size = 0;
    size_t nameLen = std::strlen(file);
    lvMemFile *node = (lvMemFile *)AllocMemory(sizeof(lvMemFile) + nameLen + 1, 1);
    if (!node) return nullptr;
    node->name = (char *)(node + 1);
    std::memcpy(node->name, file, nameLen + 1);
    node->writable = writable ? 1 : 0;
    node->size = size;
    if (writable) {
        node->capacity = size ? size : 65536;
        node->data = (uint8_t *)AllocMemory((size_t)node->capacity, 1);
        if (!node->data) {
            FreeMemory(node);
            return nullptr;
        }
        if (data && size) std::memcpy(node->data, data, (size_t)size);
        node->dataReference = -1;
    } else {
        node->data = (uint8_t *)const_cast<void *>(data);
        node->capacity = size;
        node->dataReference = dataReference;
    }
    node->ownReference = Layer.registry.ReferenceNode(node);
    char name[LV_PATH_SIZE];
    if (!MakeChunkName(file, name, sizeof name, nullptr, -1, 0, node->ownReference, nullptr) ||
        (outName && !CopyBounded(outName, outNameSize, name, std::strlen(name)))) {
        Layer.registry.ReleaseReference(node->ownReference);
        if (node->writable) FreeMemory(node->data);
        FreeMemory(node);
        return nullptr;
    }
    lvMemFile **tail = &Layer.memFiles;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return node;
}

// Writable nodes own their buffer; read-only ones borrow the script's data.
static void DropNodeData(lvMemFile *node)
{
    if (node->writable) FreeMemory(node->data);
    else if (node->dataReference >= 0) Layer.registry.ReleaseReference(node->dataReference);
    node->data = nullptr;
    node->size = node->capacity = 0;
    node->dataReference = -1;
}

void RemoveMemoryFile(lvMemFile *node)
{
    if (!node || node->detached) return;
    Layer.registry.ReleaseReference(node->ownReference);
    for (lvMemFile **p = &Layer.memFiles; *p; p = &(*p)->next) {
        if (*p == node) {
            *p = node->next;
            break;
        }
    }
    node->next = nullptr;
    DropNodeData(node);
    // An open handle still points at the record: it goes with the last of them.
    if (node->handles > 0) node->detached = 1;
    else FreeMemory(node);
}

static void HoldNode(lvVFile *f, lvMemFile *node)
{
    f->heldNode = node;
    node->handles++;
}

static void ReleaseNode(lvVFile *f)
{
    lvMemFile *node = f->heldNode;
    if (!node) return;
    f->heldNode = nullptr;
    if (--node->handles == 0 && node->detached) FreeMemory(node);
}

// ============================================================================
// Live memory ranges
// ============================================================================

struct lvMemoryRange {
    lvMemoryRange *next;  // next range
    uint64_t start;       // first byte's address
    uint64_t size;        // bytes
};
static lvMemoryRange *memoryRanges;

int RegisterMemoryRange(const void *data, uint64_t size)
{
    lvMemoryRange *range = (lvMemoryRange *)AllocMemory(sizeof(lvMemoryRange), 1);
    if (!range) return ERR_MEM;
    range->start = (uint64_t)(uintptr_t)data;
    range->size = size;
    range->next = memoryRanges;
    memoryRanges = range;
    return 0;
}

void UnregisterMemoryRange(const void *data)
{
    uint64_t start = (uint64_t)(uintptr_t)data;
    for (lvMemoryRange **p = &memoryRanges; *p; p = &(*p)->next) {
        if ((*p)->start == start) {
            lvMemoryRange *gone = *p;
            *p = gone->next;
            FreeMemory(gone);
            return;
        }
    }
}

bool IsLiveMemoryRange(uint64_t address, uint64_t size)
{
    if (address == 0) return false;
    for (const lvMemoryRange *r = memoryRanges; r; r = r->next)
        if (address >= r->start && address - r->start <= r->size && size <= r->size - (address - r->start))
            return true;
    return false;
}

void FreeMemoryRanges()
{
    while (lvMemoryRange *r = memoryRanges) {
        memoryRanges = r->next;
        FreeMemory(r);
    }
}

void FreeAllMemoryFiles()
{
    while (Layer.memFiles) RemoveMemoryFile(Layer.memFiles);
}

// ============================================================================
// Search paths
// ============================================================================

static lvSearchPath *NewSearchPath(const char *path)
{
    size_t n = std::strlen(path);
    lvSearchPath *node = (lvSearchPath *)AllocMemory(sizeof(lvSearchPath) + n + 1, 1);
    if (!node) return nullptr;
    node->path = (char *)(node + 1);
    std::memcpy(node->path, path, n + 1);
    return node;
}

lvSearchPath *GetSearchPaths()
{
    return Layer.searchPaths;
}

int AppendSearchPath(const char *path)
{
    lvSearchPath *node = NewSearchPath(path);
    if (!node) return ERR_MEM;
    lvSearchPath **tail = &Layer.searchPaths;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

int ReplaceSearchPath(lvSearchPath *old, const char *path)
{
    lvSearchPath *node = NewSearchPath(path);
    if (!node) return ERR_MEM;
    for (lvSearchPath **p = &Layer.searchPaths; *p; p = &(*p)->next) {
        if (*p == old) {
            node->next = old->next;
            *p = node;
            FreeMemory(old);
            return 0;
        }
    }
    FreeMemory(node);
    return ERR_MEM;
}

void FreeSearchPaths()
{
    while (lvSearchPath *n = Layer.searchPaths) {
        Layer.searchPaths = n->next;
        FreeMemory(n);
    }
}

// ============================================================================
// Default adapter and loader lists, adapter-setup phase
// ============================================================================

static int CopyList(char *buffer, size_t size, const char *list)
{
    return CopyBounded(buffer, size, list, std::strlen(list)) ? 1 : 0;
}

int SetDefaultAdapter(int kind, const char *list)
{
    if (kind < 0 || kind > 2) return ERR_WRONGUSAGE;
    CopyBounded(Layer.defaultAdapters[kind], 256, list ? list : "", std::min<size_t>(list ? std::strlen(list) : 0, 255));
    return 0;
}

int SetDefaultLoader(int kind, const char *list)
{
    if (kind < 0 || kind > 5) return ERR_WRONGUSAGE;
    CopyBounded(Layer.defaultLoaders[kind], 256, list ? list : "", std::min<size_t>(list ? std::strlen(list) : 0, 255));
    return 0;
}

int CopyDefaultAdapter(char *buffer, size_t size, int kind)
{
    if (kind < 0 || kind > 2) return 0;
    return CopyList(buffer, size, Layer.defaultAdapters[kind]);
}

int CopyDefaultLoader(char *buffer, size_t size, int kind)
{
    if (kind < 0 || kind > 5) return 0;
    return CopyList(buffer, size, Layer.defaultLoaders[kind]);
}

int InAdapterSetupPhase()
{
    return Layer.adapterSetupPhase;
}

void SetAdapterSetupPhase(int on)
{
    Layer.adapterSetupPhase = on ? 1 : 0;
}

// ============================================================================
// Memory windows
// ============================================================================

static lvMemFile *NewWindow(uint8_t *data, int64_t size, const char *name)
{
    size_t n = std::strlen(name);
    lvMemFile *w = (lvMemFile *)AllocMemory(sizeof(lvMemFile) + n + 1, 1);
    if (!w) return nullptr;
    w->name = (char *)(w + 1);
    std::memcpy(w->name, name, n + 1);
    w->data = data;
    w->size = size;
    w->capacity = size;
    w->dataReference = -2; // borrowed memory: neither owned nor referenced
    return w;
}

// The bytes of a window and their count; a range window of a registered file
// reads through the node, whose buffer may have moved since the open.
static uint8_t *WindowBytes(lvVFile *f, int64_t *size)
{
    lvMemFile *w = f->window;
    if (f->windowParent) {
        if (!f->windowParent->data) return *size = 0, nullptr;
        int64_t avail = f->windowParent->size - f->windowParentOffset;
        *size = std::max<int64_t>(0, std::min(w->size, avail));
        return f->windowParent->data + f->windowParentOffset;
    }
    *size = w->size;
    return w->data;
}

static int64_t WindowRead(lvVFile *f, void *buffer, int64_t length)
{
    int64_t size;
    uint8_t *bytes = WindowBytes(f, &size);
    if (length <= 0 || f->position >= size) return 0;
    int64_t n = std::min(length, size - f->position);
    std::memcpy(buffer, bytes + f->position, (size_t)n);
    f->position += n;
    return n;
}

// Only handles opened to write may write, and only into a writable node; the
// buffer grows in 64 KB steps.
static int64_t WindowWrite(lvVFile *f, const void *buffer, int64_t length)
{
    lvMemFile *w = f->window;
    if (length <= 0) return 0;
    if (!(f->openFlags & (LV_VF_WRITE | LV_VF_UPDATE)) || !w->writable || f->windowParent || w->detached) return 0;
    int64_t end = f->position + length;
    if (end > w->capacity) {
        int64_t capacity = w->capacity;
        while (capacity < end) capacity += 65536;
        uint8_t *grown = (uint8_t *)AllocMemory((size_t)capacity, 1);
        if (!grown) return 0;
        if (w->size) std::memcpy(grown, w->data, (size_t)w->size);
        FreeMemory(w->data);
        w->data = grown;
        w->capacity = capacity;
    }
    std::memcpy(w->data + f->position, buffer, (size_t)length);
    f->position = end;
    if (end > w->size) w->size = end;
    return length;
}

static int64_t WindowSeek(lvVFile *f, int64_t offset, int origin)
{
    int64_t size;
    WindowBytes(f, &size);
    int64_t old = f->position;
    int64_t target;
    switch (origin) {
    case 0: target = f->position + offset; break;
    case 1: target = offset; break;
    case 2: target = size + offset; break;
    default: return -1;
    }
    f->position = std::clamp<int64_t>(target, 0, size);
    return old;
}

// ============================================================================
// Open and close
// ============================================================================

// Opens "SYSROOT:" names against the search paths in order.
static lvOsFile *OpenInSearchPaths(const char *rest, int flags)
{
    for (lvSearchPath *s = Layer.searchPaths; s; s = s->next) {
        char joined[LV_PATH_SIZE];
        if (!CopyBounded(joined, sizeof joined, s->path, std::strlen(s->path))) continue;
        size_t before = std::strlen(joined);
        if (!AppendPathPart(joined, rest, sizeof joined) ||
            std::strlen(joined) - before < std::strlen(rest)) continue; // cut: another name
        if (lvOsFile *os = OpenOsFile(joined, flags & 0x27)) return os;
    }
    return nullptr;
}

// A range whose container is itself a memory name: a read-only window on it.
static bool OpenRangeOfMemory(lvVFile *f, int64_t offset, uint32_t size, const char *container)
{
    uint64_t address = 0;
    uint32_t outerSize = 0;
    lvMemFile *node = nullptr;
    if (!ParseChunkName(container, &address, nullptr, &outerSize, nullptr, 0, nullptr, 0, nullptr, 0, &node))
        return false;
    if (offset < 0 || (uint64_t)offset + size > outerSize) return false;
    if (!node && !IsLiveMemoryRange(address + (uint64_t)offset, size)) return false;
    uint8_t *base = node ? nullptr : (uint8_t *)(uintptr_t)address + offset;
    f->window = NewWindow(base, size, container);
    if (!f->window) return false;
    f->windowOwned = 1;
    f->windowParent = node;
    f->windowParentOffset = offset;
    return true;
}

static int AdapterOpenMode(int flags)
{
    if (flags & LV_VF_WRITE) return 1;
    if (flags & LV_VF_UPDATE) return 2;
    if (flags & LV_VF_READ) return 4;
    return 0;
}

// Offers the name to the file adapters of the list; true when one opened it.
static bool OpenThroughAdapters(lvVFile *f, const char *name, int flags, const char *list, const void *userTags,
                                bool chunk, const char *chunkFile, const char *container, int64_t offset,
                                uint32_t size)
{
    lvAdapterScan scan;
    BeginAdapterScan(&scan, list, LV_PLUGINCAPS_FILEADAPTER, 2);
    int mode = AdapterOpenMode(flags);
    // Names reach adapters as UTF-8; the plug-in interface converts for adapters
    // that ask for ISO-8859-1 when it lands.
    while (int kind = NextAdapter(&scan)) {
        if (kind != 3 || !scan.current || !scan.current->FOpen) continue;
        const lvFileAdapter *a = scan.current;
        if (chunk && !(a->chunkSupport & 1)) continue;
        bool preset = (flags & LV_VF_STATEFLAGS) ? (flags & LV_VF_STREAMFLAG4) : !(flags & LV_VF_EMULATESEEK);
        f->streamFlags = preset ? 4 : 0;
        lvAdapterTag tags[8];
        int t = 0;
        tags[t++] = {1, (intptr_t)&f->streamFlags};
        tags[t++] = {7, (intptr_t)&f->adapterWord};
        if (chunk) {
            if (f->window) {
                tags[t++] = {5, (intptr_t)f->window->data};
            } else {
                tags[t++] = {2, (intptr_t)container};
                tags[t++] = {3, (intptr_t)offset};
            }
            tags[t++] = {4, (intptr_t)size};
        }
        if (userTags) tags[t++] = {6, (intptr_t)userTags};
        tags[t] = {0, 0};
        const char *offered = chunk ? (f->window ? f->window->name : chunkFile) : name;
        void *stream = a->FOpen(offered, mode, tags);
        if (stream) {
            f->adapter = a;
            f->stream = stream;
            if (f->windowOwned) FreeMemory(f->window);
            f->window = nullptr;
            f->windowOwned = 0;
            f->windowParent = nullptr;
            return true;
        }
    }
    f->streamFlags = 0;
    return false;
}

static void FreeHandle(lvVFile *f)
{
    ReleaseNode(f);
    if (f->windowOwned) FreeMemory(f->window);
    FreeMemory(f);
}

lvVFile *OpenVFile(const char *name, int flags, const char *adapterList, const void *userTags)
{
    if (!name) return nullptr;
    lvVFile *f = (lvVFile *)AllocMemory(sizeof(lvVFile), 1);
    if (!f) return nullptr;
    f->openFlags = flags;

    if (std::strncmp(name, "SYSROOT:", 8) == 0) {
        lvOsFile *os = OpenInSearchPaths(name + 8, flags);
        if (!os) return FreeHandle(f), nullptr;
        f->stream = os;
        f->chunkName = 1;
        return f;
    }

    bool chunk = IsChunkName(name);
    char chunkFile[LV_PATH_SIZE] = "";
    char container[LV_PATH_SIZE] = "";
    int64_t offset = 0;
    uint32_t size = 0;
    bool rangeOfMemory = false;
    if (chunk) {
        uint64_t address = 0;
        lvMemFile *node = nullptr;
        if (!ParseChunkName(name, &address, &offset, &size, chunkFile, sizeof chunkFile, container,
                            sizeof container, nullptr, 0, &node))
            return FreeHandle(f), nullptr;
        char form = name[8];
        if (form == 'M') {
            if (flags & (LV_VF_WRITE | LV_VF_UPDATE)) return FreeHandle(f), nullptr;
            // A script can write any address into a name: only ranges the runtime handed
            // out and that are still alive are files.
            if (!IsLiveMemoryRange(address, size)) return FreeHandle(f), nullptr;
            f->window = NewWindow((uint8_t *)(uintptr_t)address, size, container);
            if (!f->window) return FreeHandle(f), nullptr;
            f->windowOwned = 1;
        } else if (form == 'S') {
            if (!node->writable && (flags & (LV_VF_WRITE | LV_VF_UPDATE))) return FreeHandle(f), nullptr;
            f->window = node;
        } else if (IsChunkName(container)) {
            if ((flags & (LV_VF_WRITE | LV_VF_UPDATE)) || !OpenRangeOfMemory(f, offset, size, container))
                return FreeHandle(f), nullptr;
            rangeOfMemory = true;
        }
    }

    if ((flags & LV_VF_ADAPTERS) &&
        OpenThroughAdapters(f, name, flags, adapterList, userTags, chunk, chunkFile, container, offset, size)) {
        f->chunkName = 1;
        return f;
    }
    if (!f->window && !rangeOfMemory) {
        if (!AdapterListAccepts(adapterList, "inbuilt", 1)) return FreeHandle(f), nullptr;
        lvOsFile *os = OpenOsFile(name, flags & 0x27);
        if (!os) return FreeHandle(f), nullptr;
        f->stream = os;
    }
    // The handle reads the registered node's bytes: the node must outlive it.
    if (lvMemFile *node = f->windowParent ? f->windowParent : (f->window && !f->windowOwned ? f->window : nullptr))
        HoldNode(f, node);
    f->chunkName = 1;
    return f;
}

int CloseVFile(lvVFile *file)
{
    if (!file) return 0;
    int result;
    if (file->adapter) {
        result = file->adapter->FClose ? file->adapter->FClose(file->stream) : 1;
    } else if (file->window) {
        result = 1;
    } else {
        result = CloseOsFile((lvOsFile *)file->stream);
    }
    FreeHandle(file);
    return result;
}

// ============================================================================
// Data operations
// ============================================================================

static int64_t AdapterRead(lvVFile *f, void *buffer, int64_t length)
{
    if (!f->adapter->FRead || length <= 0) return 0;
    int64_t total = 0;
    uint8_t *out = (uint8_t *)buffer;
    while (total < length) {
        int chunk = (int)std::min<int64_t>(length - total, 0x40000000);
        int n = f->adapter->FRead(f->stream, out + total, chunk);
        if (n <= 0) break;
        total += n;
        if (n < chunk) break;
    }
    return total;
}

static int64_t AdapterWrite(lvVFile *f, const void *buffer, int64_t length)
{
    if (!f->adapter->FWrite || length <= 0) return 0;
    int64_t total = 0;
    const uint8_t *in = (const uint8_t *)buffer;
    while (total < length) {
        int chunk = (int)std::min<int64_t>(length - total, 0x40000000);
        int n = f->adapter->FWrite(f->stream, in + total, chunk);
        if (n <= 0) break;
        total += n;
        if (n < chunk) break;
    }
    return total;
}

int64_t ReadVFile(lvVFile *file, void *buffer, int64_t length)
{
    if (file->adapter) return AdapterRead(file, buffer, length);
    if (file->window) return WindowRead(file, buffer, length);
    if (length <= 0) return 0;
    return (int64_t)ReadOsFileBlock((lvOsFile *)file->stream, buffer, (size_t)length);
}

int64_t ReadVFileUnbuffered(lvVFile *file, void *buffer, int64_t length)
{
    if (file->adapter || file->window) return ReadVFile(file, buffer, length);
    if (length <= 0) return 0;
    return (int64_t)ReadOsFile((lvOsFile *)file->stream, buffer, (size_t)length);
}

int ReadVFileByte(lvVFile *file)
{
    if (file->adapter) return file->adapter->FGetC ? file->adapter->FGetC(file->stream) : -1;
    if (file->window) {
        uint8_t b;
        return WindowRead(file, &b, 1) == 1 ? b : -1;
    }
    return GetCOsFile((lvOsFile *)file->stream);
}

int64_t WriteVFile(lvVFile *file, const void *buffer, int64_t length)
{
    if (file->adapter) return AdapterWrite(file, buffer, length);
    if (file->window) return WindowWrite(file, buffer, length);
    if (length <= 0) return 0;
    return (int64_t)WriteOsFileBlock((lvOsFile *)file->stream, buffer, (size_t)length);
}

int64_t WriteVFileUnbuffered(lvVFile *file, const void *buffer, int64_t length)
{
    if (file->adapter || file->window) return WriteVFile(file, buffer, length);
    if (length <= 0) return 0;
    return (int64_t)WriteOsFile((lvOsFile *)file->stream, buffer, (size_t)length);
}

int WriteVFileByte(lvVFile *file, int byte)
{
    if (file->adapter) return file->adapter->FPutC ? file->adapter->FPutC(file->stream, byte) == 1 : 0;
    if (file->window) {
        uint8_t b = (uint8_t)byte;
        return WindowWrite(file, &b, 1) == 1;
    }
    return PutCOsFile((lvOsFile *)file->stream, byte);
}

// Skips bytes of an unseekable stream by reading them through a fixed buffer.
static bool SkipAdapterBytes(lvVFile *f, int64_t count)
{
    uint8_t block[16384];
    while (count > 0) {
        int64_t want = std::min<int64_t>(count, sizeof block);
        if (AdapterRead(f, block, want) != want) return false;
        count -= want;
    }
    return true;
}

static int64_t AdapterSeek(lvVFile *f, int64_t offset, int origin)
{
    const lvFileAdapter *a = f->adapter;
    if (!a->FSeek) return -1;
    bool direct = !(f->streamFlags & LV_STREAM_UNSEEKABLE) || (offset == 0 && (origin == 0 || origin == 1));
    if (direct) return a->FSeek(f->stream, offset, origin);
    if (!(f->openFlags & LV_VF_EMULATESEEK) || origin == 2) return -1;
    int64_t current = a->FSeek(f->stream, 0, 0);
    if (current < 0) return -1;
    int64_t target = (origin == 1) ? offset : current + offset;
    if (target < 0) return -1;
    int64_t skip;
    if (target < current) {
        if (a->FSeek(f->stream, 0, 1) < 0) return -1;
        skip = target;
    } else {
        skip = target - current;
    }
    if (!SkipAdapterBytes(f, skip)) return -1;
    return current;
}

int64_t SeekVFile(lvVFile *file, int64_t offset, int origin)
{
    if (file->adapter) return AdapterSeek(file, offset, origin);
    if (file->window) return WindowSeek(file, offset, origin);
    return SeekOsFile((lvOsFile *)file->stream, offset, origin);
}

int FlushVFile(lvVFile *file)
{
    if (file->adapter) return file->adapter->FFlush ? file->adapter->FFlush(file->stream) : 1;
    if (file->window) return 1;
    return FlushOsFile((lvOsFile *)file->stream);
}

int IsVFileEof(lvVFile *file)
{
    if (file->adapter) return file->adapter->FEof ? file->adapter->FEof(file->stream) : 0;
    if (file->window) {
        int64_t size;
        WindowBytes(file, &size);
        return file->position >= size;
    }
    lvOsFile *os = (lvOsFile *)file->stream;
    if (os->standardFlag) return os->stream ? std::feof(os->stream) != 0 : 1;
    return os->position >= os->size;
}

// ============================================================================
// Information
// ============================================================================

// Local 1 January 1978 00:00:00: what objects report whose dates nobody knows.
lvFileDate GetDefaultFileDate()
{
    return lvFileDate{0, 0, 0, 1, 0, 1978};
}

static void PresetAdapterStat(lvAdapterStat *stat)
{
    std::memset(stat, 0, sizeof *stat);
    stat->lastWrite = stat->lastAccess = stat->creation = GetDefaultFileDate();
}

void AdapterStatToFileInfo(const lvAdapterStat *stat, lvFileInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->isDirectory = stat->type == 1;
    info->size = (int64_t)(((uint64_t)stat->sizeHigh << 32) | stat->sizeLow);
    info->attributes = stat->attributes;
    if (stat->comment) CopyBounded(info->comment, sizeof info->comment, stat->comment,
                                   std::min<size_t>(std::strlen(stat->comment), sizeof info->comment - 1));
    DateToFileTime(&stat->creation, info, 0);
    DateToFileTime(&stat->lastAccess, info, 1);
    DateToFileTime(&stat->lastWrite, info, 2);
    info->adapterWordA = stat->adapterWordA;
    info->adapterWordB = stat->adapterWordB;
    info->fullPath = stat->fullPath;
}

int ExamineVFile(lvVFile *file, lvFileInfo *info)
{
    if (file->adapter) {
        if (!file->adapter->FStat) return 0;
        lvAdapterStat stat;
        PresetAdapterStat(&stat);
        if (!file->adapter->FStat(file->stream, &stat, nullptr)) return 0;
        AdapterStatToFileInfo(&stat, info);
        return 1;
    }
    if (file->window) {
        int64_t size;
        WindowBytes(file, &size);
        std::memset(info, 0, sizeof *info);
        info->size = size;
        info->attributes = 15;
        info->fullPath = file->window->name;
        lvFileDate date = GetDefaultFileDate();
        for (int i = 0; i < 3; i++) DateToFileTime(&date, info, i);
        return 1;
    }
    return StatOpenFile((lvOsFile *)file->stream, info);
}

int64_t GetVFileSize(lvVFile *file)
{
    if (file->adapter) {
        lvFileInfo info;
        return ExamineVFile(file, &info) ? info.size : 0;
    }
    if (file->window) {
        int64_t size;
        WindowBytes(file, &size);
        return size;
    }
    return GetOsFileSize((lvOsFile *)file->stream);
}

const char *GetVFileAdapterName(lvVFile *file)
{
    return file->adapter ? file->adapter->name : nullptr;
}

int IsVFileUnseekable(lvVFile *file)
{
    return (file->streamFlags & LV_STREAM_UNSEEKABLE) ? 1 : 0;
}

int GetVFileStreamFlags(lvVFile *file)
{
    return file->streamFlags;
}

int GetVFileFullPath(lvVFile *file, char *buffer, size_t size)
{
    lvFileInfo info;
    if (!ExamineVFile(file, &info) || !info.fullPath || !info.fullPath[0]) return 0;
    return CopyBounded(buffer, size, info.fullPath, std::strlen(info.fullPath)) ? 1 : 0;
}

int CheckFileAdapterUse(const char *name, const char *adapterList, const void *userTags, int *usesAdapter)
{
    if (IsChunkName(name)) {
        *usesAdapter = 1;
        return 0;
    }
    lvVFile *f = OpenVFile(name, LV_VF_READ | LV_VF_ADAPTERS, adapterList, userTags);
    if (!f) {
        SetErrorStringArg(name);
        return ERR_READFILE;
    }
    *usesAdapter = f->adapter != nullptr;
    CloseVFile(f);
    return 0;
}
