// imagecache.cpp - the shared cache of decoded pictures and the marking of
// preload entries that load the same picture.
//
// A node keeps its own copies of what it is given (alpha plane, records,
// palette, names) and one reference to the image source; a hit hands out new
// copies and a new reference, so that nodes and users never share ownership.
//
// Depends on: raster/lvimage.h, raster/lvdrawstate.h.
// Limits: script thread only.
#include <strings.h>

#include <cstring>

#include "platform/lvplatform.h"
#include "raster/lvdrawstate.h"
#include "raster/lvimage.h"
#include "raster/lvneighbours.h"
#include "base/lverrors.h"

namespace {


void CopyName(char *target, size_t size, const char *name) {
    size_t n = name ? strnlen(name, size - 1) : 0;
    if (n) std::memcpy(target, name, n);
    target[n] = 0;
}

uint8_t *CopyRecords(const uint8_t *records, int count) {
    if (!records || count <= 0) return nullptr;
    uint8_t *copy = static_cast<uint8_t *>(AllocMemory(static_cast<size_t>(count) * 6, 0));
    if (copy) std::memcpy(copy, records, static_cast<size_t>(count) * 6);
    return copy;
}

}  // namespace

int AddCachedImage(const char *name, const lvCachedImage *image) {
    lvImageCacheNode *node = static_cast<lvImageCacheNode *>(AllocMemory(sizeof(lvImageCacheNode), 1));
    if (!node) return ERR_MEM;
    CopyName(node->name, sizeof node->name, name);
    node->width = image->width;
    node->height = image->height;
    node->depth = image->depth;
    node->transparent = image->transparent;
    node->flags = image->flags;
    node->value1 = image->value1;
    node->value2 = image->value2;
    CopyName(node->secondName, sizeof node->secondName, image->secondName);
    if (image->palette) {
        std::memcpy(node->palette, image->palette, sizeof node->palette);
        node->hasPalette = 1;
    }
    if (image->alpha) {
        node->alpha = CopyAlphaBitmap(image->alpha->width, image->alpha, image->alpha->height);
        if (!node->alpha) {
            FreeMemory(node);
            return ERR_ALLOCALPHA;
        }
    }
    if (image->records && image->recordCount > 0) {
        node->records = CopyRecords(image->records, image->recordCount);
        if (!node->records) {
            FreeBitmapHandle(node->alpha);
            FreeMemory(node);
            return ERR_MEM;
        }
        node->recordCount = image->recordCount;
    }
    node->source = image->source;
    if (node->source) NeighbourServices.files.RetainImageSource(NeighbourServices.files.context, node->source);
    lvImageCacheNode **tail = &DrawingState.imageCache;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

int FindCachedImage(const char *name, int copyAlpha, lvCachedImage *out) {
    lvImageCacheNode *node = DrawingState.imageCache;
    while (node && strcasecmp(node->name, name ? name : "") != 0) node = node->next;
    if (!node || (copyAlpha && !node->alpha)) return ERR_CACHEERROR;
    lvBitMapHandle *alpha = nullptr;
    uint8_t *records = nullptr;
    if (copyAlpha) {
        alpha = CopyAlphaBitmap(node->alpha->width, node->alpha, node->alpha->height);
        if (!alpha) return ERR_MEM;
    }
    if (node->records) {
        records = CopyRecords(node->records, node->recordCount);
        if (!records) {
            FreeBitmapHandle(alpha);
            return ERR_MEM;
        }
    }
    *out = lvCachedImage{};
    out->width = node->width;
    out->height = node->height;
    out->depth = node->depth;
    out->transparent = node->transparent;
    out->flags = node->flags;
    out->source = node->source;
    if (node->source) NeighbourServices.files.RetainImageSource(NeighbourServices.files.context, node->source);
    out->alpha = alpha;
    out->value1 = node->value1;
    out->value2 = node->value2;
    if (node->hasPalette) {
        std::memcpy(out->paletteCopy, node->palette, sizeof out->paletteCopy);
        out->palette = out->paletteCopy;
        out->hasPalette = 1;
    }
    out->records = records;
    out->recordCount = records ? node->recordCount : 0;
    CopyName(out->secondName, sizeof out->secondName, node->secondName);
    return 0;
}

void FreeImageCache() {
    lvImageCacheNode *node = DrawingState.imageCache;
    DrawingState.imageCache = nullptr;
    while (node) {
        lvImageCacheNode *next = node->next;
        if (node->source) NeighbourServices.files.ReleaseImageSource(NeighbourServices.files.context, node->source);
        FreeBitmapHandle(node->alpha);
        FreeMemory(node->records);
        FreeMemory(node);
        node = next;
    }
}

int CountCachedImages() {
    int n = 0;
    for (lvImageCacheNode *node = DrawingState.imageCache; node; node = node->next) n++;
    return n;
}

// ---- Preload duplicates -----------------------------------------------------

namespace {

bool IsImageEntry(const lvPreloadEntry &e) { return e.kind == 1 || e.kind == 2 || e.kind == 7; }

}  // namespace

void MarkDuplicatePreloads(lvPreloadEntry *entries, int count) {
    for (int i = 0; i < count; i++) {
        lvPreloadEntry &first = entries[i];
        if (!IsImageEntry(first) || first.duplicate || !first.file) continue;
        for (int j = i + 1; j < count; j++) {
            lvPreloadEntry &later = entries[j];
            if (!IsImageEntry(later) || later.duplicate || !later.file) continue;
            if (strcasecmp(first.file, later.file) != 0) continue;
            if (std::memcmp(first.options, later.options, sizeof first.options) != 0) continue;
            if ((first.optionBits & 6u) != (later.optionBits & 6u)) continue;
            later.duplicate = 1;
            first.hasDuplicates = 1;
            if ((later.optionBits & 1u) && !(first.optionBits & 1u)) first.keepBit0 = 1;
        }
    }
}
