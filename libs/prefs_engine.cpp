// prefs_engine.cpp - preferences files (see prefs_engine.h).
#include "libs/prefs_engine.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "libs/serialize_engine.h"
#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"
#include "runtime/vfile.h"

int PrefsFileName(const char *identifier, char *buffer, size_t size)
{
    std::string name;
    for (const char *p = identifier ? identifier : ""; *p; p++) {
        if (*p == '/' || *p == '\\') continue;
        if (p[0] == '.' && p[1] == '.') {
            p++;
            continue;
        }
        name.push_back(*p);
    }
    // Removing ".." may join dots into a new ".."; repeat until none is left.
    while (name.find("..") != std::string::npos) name.erase(name.find(".."), 2);
    if (name.empty() || name == ".") return ERR_WRONGUSAGE;
    if (name.size() + 1 > size) return ERR_MEM;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return 0;
}

int BuildPrefsPath(const char *folder, const char *identifier, char *buffer, size_t size)
{
    char name[512];
    int rc = PrefsFileName(identifier, name, sizeof name);
    if (rc) return rc;
    size_t n = std::strlen(folder);
    if (n + 1 > size) return ERR_MEM;
    std::memcpy(buffer, folder, n + 1);
    if (!AppendPathPart(buffer, name, size) || std::strlen(buffer) + 1 >= size) return ERR_MEM;
    return 0;
}

static void SetPathArg(const char *path) { GetVMHost()->SetErrorStringArg(path); }

int ReadPrefsFile(lvState *L, const char *path, int intoIndex, const char *serializer, const void *userTags)
{
    int top = GetStackTop(L);
    if (intoIndex < 0 && intoIndex > LV_REGISTRYINDEX) intoIndex = top + intoIndex + 1;
    lvVFile *file = OpenVFile(path, LV_VF_READ, nullptr, nullptr);
    if (!file) {
        SetPathArg(path);
        return ERR_READFILE;
    }
    char magic[4];
    bool binary = ReadVFile(file, magic, 4) == 4 && std::memcmp(magic, "PRFS", 4) == 0;
    if (intoIndex) PushCopy(L, intoIndex);
    int rc;
    if (binary && IsInbuiltSerializer(serializer)) {
        lvTableSource source{file, nullptr, nullptr};
        rc = ReadTableBody(L, nullptr, nullptr, &source, intoIndex != 0);
    } else if (SeekVFile(file, 0, 1) < 0) {
        rc = ERR_SEEKFILE;
    } else {
        lvSerializeOptions o;
        InitSerializeOptions(&o);
        o.name = serializer && *serializer && StrCmpNoCase(serializer, "inbuilt") != 0 ? serializer : "default";
        o.mode = SERIALIZEMODE_LUMIVARRA;
        o.modeSet = 1;
        o.userTags = userTags;
        rc = DeserializeWithAdapter(L, &o, file, nullptr, intoIndex != 0);
    }
    CloseVFile(file);
    if (rc) SetStackTop(L, top);
    else if (intoIndex) SetStackTop(L, top);
    return rc;
}

int WritePrefsFile(lvState *L, const char *path, int index, const char *serializer, const void *userTags)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    std::string temp = std::string(path) + "." + std::to_string(getpid()) + ".tmp";
    lvVFile *file = OpenVFile(temp.c_str(), LV_VF_WRITE, nullptr, nullptr);
    if (!file) {
        SetPathArg(path);
        return ERR_WRITEFILE;
    }
    int rc;
    if (serializer && StrCmpNoCase(serializer, "inbuilt") == 0) {
        rc = WriteVFile(file, "PRFS", 4) == 4 ? 0 : ERR_WRITE;
        lvTableSink sink{file, nullptr, nullptr, nullptr};
        if (!rc) rc = WriteTableBody(L, index, nullptr, nullptr, &sink);
    } else {
        lvSerializeOptions o;
        InitSerializeOptions(&o);
        o.name = serializer && *serializer ? serializer : "default";
        o.mode = SERIALIZEMODE_LUMIVARRA;
        o.modeSet = 1;
        o.userTags = userTags;
        rc = SerializeWithAdapter(L, index, &o, file, nullptr);
    }
    if (!FlushVFile(file) && !rc) rc = ERR_WRITE;
    if (!CloseVFile(file) && !rc) rc = ERR_WRITE;
    if (!rc && !RenameFSObject(temp.c_str(), path)) {
        SetPathArg(path);
        rc = ERR_WRITEFILE;
    }
    if (rc) DeleteFSObject(temp.c_str());
    return rc;
}

void DeletePrefsFile(const char *path) { DeleteFSObject(path); }
