// raster_fakes.cpp - the recording fake display adapter.
#include "raster_fakes.h"

#include <cstdio>
#include <cstring>

FakeAdapter *FakeAdapter::current = nullptr;

namespace {

std::string Fmt(const char *f, long a = 0, long b = 0, long c = 0, long d = 0) {
    char buf[128];
    std::snprintf(buf, sizeof buf, f, a, b, c, d);
    return buf;
}

void *FakeAlloc(int kind, int width, int height, int clear, const lvBitMapTag *tags) {
    FakeAdapter *a = FakeAdapter::current;
    std::string line = Fmt("AllocBitMap %ld %ldx%ld clear=%ld", kind, width, height, clear);
    for (const lvBitMapTag *t = tags; t && t->tag; t++)
        if (t->value) line += Fmt(" tag%ld", t->tag);
    a->calls.push_back(line);
    auto *b = new FakeBitmap{kind, width, height, 0, kind == 0 ? 4 : 1, {}, 0};
    b->rowLength = kind == 2 ? ((width + 31) / 32) * 4 : (kind == 0 ? width + 1 : width + 3);
    b->pixels.assign(static_cast<size_t>(b->rowLength) * b->bytesPerPixel * height, clear ? 0 : 0xCD);
    a->live.push_back(b);
    return b;
}
void Forget(FakeBitmap *b) {
    FakeAdapter *a = FakeAdapter::current;
    for (auto it = a->live.begin(); it != a->live.end(); ++it)
        if (*it == b) {
            a->live.erase(it);
            break;
        }
    delete b;
}
void FakeFree(void *bitmap) {
    FakeAdapter *a = FakeAdapter::current;
    a->calls.push_back("FreeBitMap");
    Forget(static_cast<FakeBitmap *>(bitmap));
}
uintptr_t FakeLock(void *bitmap, int readOnly, lvAdapterLockInfo *info, const lvBitMapTag *) {
    FakeAdapter *a = FakeAdapter::current;
    auto *b = static_cast<FakeBitmap *>(bitmap);
    a->calls.push_back(Fmt("LockBitMap ro=%ld", readOnly));
    info->pixels = b->pixels.data();
    info->rowLength = b->rowLength;
    info->format = b->kind == 0 ? a->record.pixelFormat : (b->kind == 2 ? PIXFMT_MASK1 : PIXFMT_CLUT8);
    info->bytesPerPixel = b->bytesPerPixel;
    info->width = b->width;
    info->height = b->height;
    a->openLocks++;
    if (a->openLocks > a->maxOpenLocks) a->maxOpenLocks = a->openLocks;
    return static_cast<uintptr_t>(a->nextToken++);
}
void FakeUnlock(uintptr_t) {
    FakeAdapter *a = FakeAdapter::current;
    a->calls.push_back("UnLockBitMap");
    a->openLocks--;
}
int FakeAttr(void *bitmap, int attribute, const lvBitMapTag *) {
    auto *b = static_cast<FakeBitmap *>(bitmap);
    switch (attribute) {
    case 0: return b->width;
    case 1: return b->height;
    case 2: return b->rowLength * b->bytesPerPixel;
    default: return 0;
    }
}
void *FakeAllocVideo(int width, int height, int flags, const lvBitMapTag *tags) {
    FakeAdapter *a = FakeAdapter::current;
    std::string line = Fmt("AllocVideoBitMap %ldx%ld flags=%ld", width, height, flags);
    for (const lvBitMapTag *t = tags; t && t->tag; t++) line += Fmt(" tag%ld", t->tag);
    a->calls.push_back(line);
    if (a->videoFail) return nullptr;
    auto *b = new FakeBitmap{0, width, height, width, 4, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4), 0};
    // Raw ARGB words (tag 1 without a video source) are kept as the pixels.
    const void *raw = nullptr;
    bool sized = false;
    for (const lvBitMapTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1) raw = reinterpret_cast<const void *>(t->value);
        if (t->tag == 2) sized = true;
    }
    if (raw && !sized && !(flags & 2) && !a->videoKeepsNothing) std::memcpy(b->pixels.data(), raw, b->pixels.size());
    a->live.push_back(b);
    return b;
}
void FakeFreeVideo(void *bitmap) {
    FakeAdapter::current->calls.push_back("FreeVideoBitMap");
    Forget(static_cast<FakeBitmap *>(bitmap));
}
void *FakeReadVideo(void *, const lvBitMapTag *tags) {
    FakeAdapter *a = FakeAdapter::current;
    if (a->videoPixels.empty()) return nullptr;
    for (const lvBitMapTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1) *reinterpret_cast<int *>(t->value) = a->videoHasAlpha;
        if (t->tag == 2) *reinterpret_cast<int *>(t->value) = a->videoFormat;
    }
    a->videoBuffersOut++;
    return a->videoPixels.data();
}
void FakeFreeVideoPixels(void *) { FakeAdapter::current->videoBuffersOut--; }
int FakeMethod(void *, int method, intptr_t arg) {
    FakeAdapter::current->calls.push_back(Fmt("DoVideoBitMapMethod %ld %ld", method, static_cast<long>(arg)));
    return 0;
}
int FakeBlt(void *, void *, lvBltRecord *r, int mode, const lvBitMapTag *) {
    FakeAdapter *a = FakeAdapter::current;
    a->calls.push_back(Fmt("BltBitMap mode=%ld", mode));
    a->blits.push_back(*r);
    a->modes.push_back(mode);
    return 0;
}
int FakeRectFill(void *, int x, int y, int w, int h, uint32_t colour, int mode, const lvBitMapTag *) {
    FakeAdapter *a = FakeAdapter::current;
    a->calls.push_back(Fmt("RectFill %ld,%ld %ldx%ld", x, y, w, h) + Fmt(" colour=%08lx mode=%ld", colour, mode));
    a->modes.push_back(mode);
    return 0;
}
int FakeWritePixel(void *, int x, int y, uint32_t colour, int mode, const lvBitMapTag *) {
    FakeAdapter *a = FakeAdapter::current;
    a->calls.push_back(Fmt("WritePixel %ld,%ld colour=%08lx mode=%ld", x, y, colour, mode));
    a->modes.push_back(mode);
    return 0;
}

}  // namespace

FakeAdapter::FakeAdapter(uint32_t flags, uint32_t accel, uint32_t videoCaps) {
    current = this;
    record.flags = flags;
    record.accel = accel;
    record.videoCaps = videoCaps;
    record.pixelFormat = PIXFMT_ARGB32;
    record.AllocBitMap = FakeAlloc;
    record.FreeBitMap = FakeFree;
    record.LockBitMap = FakeLock;
    record.UnLockBitMap = FakeUnlock;
    record.GetBitMapAttr = FakeAttr;
    record.AllocVideoBitMap = FakeAllocVideo;
    record.FreeVideoBitMap = FakeFreeVideo;
    record.ReadVideoPixels = FakeReadVideo;
    record.FreeVideoPixels = FakeFreeVideoPixels;
    record.DoVideoBitMapMethod = FakeMethod;
    record.BltBitMap = FakeBlt;
    record.RectFill = FakeRectFill;
    record.WritePixel = FakeWritePixel;
}

FakeAdapter::~FakeAdapter() {
    SetRasterDisplayAdapter(nullptr);
    for (FakeBitmap *b : live) delete b;
    current = nullptr;
}
