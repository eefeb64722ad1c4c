// dos_paths.cpp - path texts, object attributes, whole files and checksums of the dos
// library.
#include "libs/dos_paths.h"

#include <cstdio>
#include <vector>

#include "libs/digest.h"
#include "libs/fsadapter.h"
#include "libs/time_engine.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "runtime/vdir.h"
#include "runtime/vfile.h"

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// ==== Path texts =================================================================================

size_t PathPartLength(const std::string &path)
{
    size_t start = 0;
    while (start < path.size() && IsSeparator(path[start])) start++;
    size_t cut = 0;
    for (size_t i = start; i < path.size(); i++) {
        if (IsSeparator(path[i]) || path[i] == ':') cut = i + 1;
    }
    return cut;
}

std::string JoinDirAndName(const std::string &dir, const std::string &name)
{
    std::string path = dir;
    if (!path.empty() && !IsSeparator(path.back())) path += '/';
    return path + name;
}

std::string HostSeparators(std::string path)
{
    for (char &c : path)
        if (c == '\\') c = '/';
    return path;
}

bool IsAbsolutePathText(const std::string &path)
{
    return !path.empty() && (IsSeparator(path[0]) || path[0] == '~' || path.find(':') != std::string::npos);
}

std::string LockedFullPath(const std::string &path)
{
    lvVDir *dir = OpenVDir(path.c_str(), LV_VD_READ, nullptr, nullptr);
    if (!dir) return "";
    char full[LV_PATH_SIZE];
    std::string out = GetVDirPath(dir, full, sizeof full) ? full : "";
    CloseVDir(dir);
    return out;
}

int CanonizePath(const std::string &given, std::string *out)
{
    std::string path = HostSeparators(given);
    std::string result = LockedFullPath(path);
    if (result.empty()) {
        std::string head = path, tail;
        for (;;) {
            size_t slash = head.find_last_of('/');
            if (slash == std::string::npos) {
                // Nothing of the path exists: relative to the current directory.
                if (path[0] == '/') {
                    result = path;
                } else {
                    char current[LV_PATH_SIZE];
                    if (!GetCurrentDirPath(current, sizeof current, 0)) return ERR_LOCK;
                    result = std::string(current) + "/" + path;
                }
                break;
            }
            std::string last = head.substr(slash + 1);
            tail = tail.empty() ? last : last + "/" + tail;
            head = head.substr(0, slash);
            std::string full = LockedFullPath(head.empty() ? "/" : head);
            if (!full.empty()) {
                result = full + (full.back() == '/' ? "" : "/") + tail;
                break;
            }
        }
    }
    if (result.size() >= LV_PATH_SIZE) return ERR_MEM;
    *out = result;
    return 0;
}

// ==== Attributes ==================================================================================

static const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void FormatFileDate(const lvFileInfo *info, int index, char *out, size_t size)
{
    lvFileDate d;
    FileTimeToDate(info, &d, index);
    int month = d.month >= 0 && d.month < 12 ? d.month : 0;
    std::snprintf(out, size, "%.2d-%s-%d %.2d:%.2d:%.2d", d.day, kMonths[month], d.year, d.hour, d.minute,
                  d.second);
}

int ExamineObject(const char *path, const char *adapter, lvFileInfo *info, std::string *fullPath,
                  const void *userTags)
{
    lvVDir *dir = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, userTags);
    if (dir) {
        ExamineVDir(dir, info);
        char buf[LV_PATH_SIZE];
        *fullPath = GetVDirPath(dir, buf, sizeof buf) ? buf : path;
        CloseVDir(dir);
        return 0;
    }
    lvVFile *f = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags);
    if (!f) {
        SetErrorStringArg(path);
        return ERR_READFILE;
    }
    int ok = ExamineVFile(f, info);
    CloseVFile(f);
    if (!ok) {
        SetErrorStringArg(path);
        return ERR_EXAMINE;
    }
    *fullPath = info->fullPath ? info->fullPath : path;
    return 0;
}

bool ObjectLocks(const char *path, const char *adapter, const void *userTags)
{
    lvVDir *dir = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, userTags);
    if (dir) CloseVDir(dir);
    return dir != nullptr;
}

int ChangeObjectAttributes(const char *path, const lvAttributeChange *change, const char *adapter,
                           const void *userTags)
{
    if (IsChunkName(path)) return ERR_WRONGUSAGE;
    lvVDir *dir = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, userTags);
    if (!dir) {
        SetErrorStringArg(path);
        return ERR_LOCK2;
    }
    lvFileInfo info = {};
    ExamineVDir(dir, &info);
    CloseVDir(dir);
    bool haveDates = false;
    lvFileDate dates[3] = {};
    for (int i = 0; i < 3; i++) {
        if (!change->dates[i]) {
            FileTimeToDate(&info, &dates[i], i);
            continue;
        }
        lvDateFields f;
        if (!ParseDateString(change->dates[i], &f)) return ERR_INVALIDDATE;
        dates[i] = {f.second, f.minute, f.hour, f.day, f.month, f.year};
        if (!DateToFileTime(&dates[i], &info, i)) return ERR_INVALIDDATE;
        haveDates = true;
    }
    int which = (change->haveFlags ? 1 : 0) | (haveDates ? 2 : 0);
    if (which && HaveFilesysAdapter(adapter)) {
        lvAdapterStat record = {};
        record.type = info.isDirectory ? 1 : 0;
        record.attributes = change->haveFlags ? change->flags : info.attributes;
        record.creation = dates[0];
        record.lastAccess = dates[1];
        record.lastWrite = dates[2];
        return FsSetAttributes(adapter, path, which, &record, userTags) == 1 ? 0 : ERR_SETFILEATTR;
    }
    if (change->haveFlags && !SetFSObjectFlags(path, change->flags)) return ERR_SETFILEATTR;
    if (haveDates && !SetFileTimes(path, &info.creationTime, &info.accessTime, &info.writeTime))
        return ERR_SETFILEDATE;
    return 0;
}

// ==== Whole files ===================================================================================

int ReadWholeFile(const char *name, const char *adapter, const lvUserTag *tags, std::string *out)
{
    lvVFile *f = OpenVFile(name, LV_VF_READ | LV_VF_ADAPTERS, adapter, tags);
    if (!f) {
        SetErrorStringArg(name);
        return ERR_READFILE;
    }
    out->clear();
    char block[16384];
    for (;;) {
        int64_t n = ReadVFile(f, block, sizeof block);
        if (n > 0) out->append(block, size_t(n));
        if (n < int64_t(sizeof block)) break;
    }
    CloseVFile(f);
    return 0;
}

int WriteWholeFile(const char *name, const char *adapter, const lvUserTag *tags, const void *data, size_t size)
{
    lvVFile *f = OpenVFile(name, LV_VF_WRITE | LV_VF_ADAPTERS, adapter, tags);
    if (!f) {
        SetErrorStringArg(name);
        return ERR_WRITEFILE;
    }
    int code = 0;
    if (size > 0 && WriteVFile(f, data, int64_t(size)) != int64_t(size)) code = ERR_WRITE;
    // Buffered bytes that cannot be written at the close are lost bytes too.
    if (!CloseVFile(f) && code == 0) code = ERR_WRITE;
    return code;
}

int CreateNewFile(const char *path, std::string *fullPath, const char *adapter, const void *userTags)
{
    SetErrorStringArg(path);
    if (lvVFile *f = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags)) {
        CloseVFile(f);
        return ERR_WRITEFILE;
    }
    lvVFile *f = OpenVFile(path, LV_VF_WRITE | LV_VF_ADAPTERS, adapter, userTags);
    if (!f) return ERR_WRITEFILE;
    CloseVFile(f);
    std::string full = LockedFullPath(path);
    *fullPath = full.empty() ? path : full;
    return 0;
}

int CreateNamedDirectory(const char *path, std::string *fullPath, const char *adapter, const void *userTags)
{
    if (int made = FsMakeDir(adapter, path, userTags); made != LV_FS_NATIVE) {
        if (!made) {
            SetErrorStringArg(path);
            return ERR_CREATEDIR;
        }
        std::string full = LockedFullPath(path);
        *fullPath = full.empty() ? path : full;
        return 0;
    }
    if (int code = CreateFSDirectory(path)) {
        SetErrorStringArg(path);
        return code;
    }
    std::string full = LockedFullPath(path);
    *fullPath = full.empty() ? path : full;
    return 0;
}

// ==== Checksums ========================================================================================

int ChecksumFile(const char *name, lvChecksumKind kind, uint32_t *crc, char hex[41])
{
    lvVFile *f = OpenVFile(name, LV_VF_READ | LV_VF_ADAPTERS, nullptr, nullptr);
    if (!f) {
        SetErrorStringArg(name);
        return ERR_READFILE;
    }
    uint32_t sum = 0;
    lvMd5State md5;
    lvSha1State sha1;
    BeginMd5(&md5);
    BeginSha1(&sha1);
    std::vector<char> block(65536);
    for (;;) {
        int64_t n = ReadVFile(f, block.data(), int64_t(block.size()));
        if (n <= 0) break;
        if (kind == LV_SUM_CRC32) sum = UpdateCrc32(sum, block.data(), size_t(n));
        else if (kind == LV_SUM_MD5) UpdateMd5(&md5, block.data(), n);
        else UpdateSha1(&sha1, block.data(), n);
    }
    CloseVFile(f);
    *crc = sum;
    hex[0] = 0;
    uint8_t digest[20];
    if (kind == LV_SUM_MD5) {
        FinishMd5(&md5, digest);
        DigestToHex(digest, 16, hex);
    } else if (kind == LV_SUM_SHA1) {
        FinishSha1(digest, &sha1);
        DigestToHex(digest, 20, hex);
    }
    return 0;
}
