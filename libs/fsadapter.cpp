// fsadapter.cpp - the calls of filesystem-adapter plug-ins (see fsadapter.h).
#include "libs/fsadapter.h"

#include "runtime/lvplugin.h"
#include "runtime/vfile.h"

namespace {

// The first plug-in of the list that adapts the file system, or null.
lvPluginRecord *FindFilesysAdapter(const char *adapterList)
{
    lvAdapterScan scan;
    BeginAdapterScan(&scan, adapterList, PLUGINCAPS_FILESYSADAPTER, 0);
    while (int kind = NextAdapter(&scan)) {
        if (kind == 3 && scan.record && (scan.record->capabilities & PLUGINCAPS_FILESYSADAPTER)) return scan.record;
    }
    return nullptr;
}

// The tag list every call gets: the script's user tags, when there are any.
struct lvFsTags {
    lvPluginTag tags[2];
    explicit lvFsTags(const void *userTags)
    {
        tags[0] = {userTags ? 1u : 0u, (intptr_t)userTags};
        tags[1] = {0, 0};
    }
};

// A slot the plug-in left empty cannot do the work: it fails, it is not done natively
// behind the adapter's back.
template <typename F> F Slot(lvPluginExport e) { return reinterpret_cast<F>(e); }

} // namespace

bool HaveFilesysAdapter(const char *adapterList) { return FindFilesysAdapter(adapterList) != nullptr; }

int FsChangeDir(const char *adapterList, const char *path, const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(const char *, const lvPluginTag *)>(r->ChangeDir);
    return f && f(path, lvFsTags(userTags).tags) ? 1 : 0;
}

int FsGetCurDir(const char *adapterList, char *buffer, size_t size, const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(char *, int, const lvPluginTag *)>(r->GetCurDir);
    if (!size) return 0;
    buffer[0] = 0;
    int ok = f && f(buffer, int(size), lvFsTags(userTags).tags);
    buffer[size - 1] = 0;   // whatever the plug-in wrote, the text ends inside the buffer
    return ok ? 1 : 0;
}

int FsMakeDir(const char *adapterList, const char *path, const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(const char *, const lvPluginTag *)>(r->MakeDir);
    return f && f(path, lvFsTags(userTags).tags) ? 1 : 0;
}

int FsDeleteObject(const char *adapterList, const char *path, const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(const char *, const lvPluginTag *)>(r->DeleteFSObj);
    return f && f(path, lvFsTags(userTags).tags) ? 1 : 0;
}

int FsRenameObject(const char *adapterList, const char *path, const char *newName, const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(const char *, const char *, const lvPluginTag *)>(r->RenameFSObj);
    return f && f(path, newName, lvFsTags(userTags).tags) ? 1 : 0;
}

int FsSetAttributes(const char *adapterList, const char *path, int which, const lvAdapterStat *record,
                    const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(const char *, int, const lvAdapterStat *, const lvPluginTag *)>(r->SetFSObjAttributes);
    return f && f(path, which, record, lvFsTags(userTags).tags) ? 1 : 0;
}

int FsMoveObject(const char *adapterList, const char *source, const char *destination, const void *userTags)
{
    lvPluginRecord *r = FindFilesysAdapter(adapterList);
    if (!r) return LV_FS_NATIVE;
    auto f = Slot<int (*)(const char *, const char *, const lvPluginTag *)>(r->MoveFSObj);
    return f ? f(source, destination, lvFsTags(userTags).tags) : -1;
}
