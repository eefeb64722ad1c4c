// dos_attributes.cpp - GetAttribute of the dos library's object types: files (44) and
// directories (45).
//
// Depends on: libs/dos_engine.h, libs/dos_dirs.h (the handles), runtime/vfile.h and
// runtime/vdir.h (adapter and format names), vm/lvvm.h.
#include "libs/dos_dirs.h"
#include "libs/dos_engine.h"
#include "libs/lib_dos.h"
#include "runtime/errors.h"
#include "runtime/vdir.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"

// ATTRMODE, ATTRENCODING, ATTRFORMAT (no file adapter reports a format name) and
// ATTRADAPTER of a file handle.
int DosFileAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvFileHandle *h;
    if (int code = FindFileHandle(id, &h)) return code;
    switch (attribute) {
    case 42: PushNumber(L, h->mode); return 1;
    case 122: PushNumber(L, h->encoding); return 1;
    case 19: PushString(L, ""); return 1;
    case 87: {
        const char *name = GetVFileAdapterName(h->stream);
        PushString(L, name && *name ? name : "inbuilt");
        return 1;
    }
    default: return ERR_UNKNOWNATTR;
    }
}

int DosDirectoryAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvDirectoryHandle *d;
    if (int code = FindDirHandle(id, &d)) return code;
    switch (attribute) {
    case 19: {
        const char *name = d->dir ? GetVDirFormatName(d->dir) : nullptr;
        PushString(L, name ? name : "");
        return 1;
    }
    case 87: {
        if (d->monitor || !d->dir) return ERR_WRONGUSAGE;
        const char *name = GetVDirAdapterName(d->dir);
        PushString(L, name && *name ? name : "inbuilt");
        return 1;
    }
    default: return ERR_UNKNOWNATTR;
    }
}
