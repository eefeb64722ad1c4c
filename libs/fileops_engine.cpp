// fileops_engine.cpp - pattern lists, tree walks and the copy, move and delete
// operations (see fileops_engine.h).
//
// Every operation is one block from AllocMemory: the async operation head, then the
// operation's record, built in place and destroyed by the free function before the
// async engine releases the block. A walk keeps a stack of directory nodes; each step
// handles one directory entry, one deletion or one block of one file.
//
// Depends on: runtime/vfile.h, runtime/vdir.h, runtime/errors.h, platform/lvplatform.h,
// runtime/asyncop.h (record type only).
// Limits: paths of LV_PATH_SIZE bytes (longer ones fail to open). A filesystem adapter
// in the operation's adapter list deletes, unprotects, makes directories and moves in
// place of the native operations (libs/fsadapter.h).
#include "libs/fileops_engine.h"

#include "libs/fsadapter.h"

#include <cstring>
#include <dirent.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/vdir.h"
#include "runtime/vfile.h"

// ============================================================================
// Pattern lists
// ============================================================================

// Matches one set at p (just after '['); advances *end past its ']'. -1 when the set is
// not closed, else 1 or 0.
static int MatchSet(const char *p, unsigned char c, const char **end)
{
    bool negate = false;
    if (*p == '!') {
        negate = true;
        p++;
    }
    const char *first = p;
    bool found = false;
    while (*p && (*p != ']' || p == first)) {
        unsigned char x = (unsigned char)*p;
        if (p[1] == '-' && p[2] && p[2] != ']' && x < (unsigned char)p[2]) {
            if (c >= x && c <= (unsigned char)p[2]) found = true;
            p += 3;
            continue;
        }
        if (x == c) found = true;
        p++;
    }
    if (*p != ']') return -1;
    *end = p + 1;
    return found != negate ? 1 : 0;
}

// Matches one pattern element (anything but '*') at p against character c; *next gets
// the element after it.
static bool MatchOne(const char *p, unsigned char c, const char **next)
{
    switch (*p) {
    case '?':
        *next = p + 1;
        return true;
    case '#':
        *next = p + 1;
        return c >= '0' && c <= '9';
    case '[':
        return MatchSet(p + 1, c, next) == 1;
    default:
        *next = p + 1;
        return (unsigned char)*p == c;
    }
}

// Every element but '*' takes exactly one character, so a mismatch only ever needs to
// resume after the latest star, one character further on: the time is bounded by the
// product of the lengths, whatever the pattern (nested retries would be exponential).
static bool MatchFrom(const char *p, const char *t)
{
    const char *starPattern = nullptr, *starText = nullptr;
    while (*t) {
        if (*p == '*') {
            while (*p == '*') p++;
            if (!*p) return true;  // a trailing star takes the rest
            starPattern = p;
            starText = t;
            continue;
        }
        const char *next;
        if (*p && MatchOne(p, (unsigned char)*t, &next)) {
            p = next;
            t++;
            continue;
        }
        if (!starPattern) return false;
        p = starPattern;
        t = ++starText;
    }
    while (*p == '*') p++;
    return !*p;
}

int MatchPatternList(const char *name, const char *list)
{
    std::string one;
    for (const char *p = list; *p;) {
        const char *semi = std::strchr(p, ';');
        size_t n = semi ? (size_t)(semi - p) : std::strlen(p);
        if (n == 0) break;  // an empty pattern ends the list
        one.assign(p, n);
        if (MatchFrom(one.c_str(), name)) return 1;
        if (!semi) break;
        p = semi + 1;
    }
    return 0;
}

// ============================================================================
// Paths and native helpers
// ============================================================================

static std::string JoinPath(const std::string &directory, const char *name)
{
    std::string out = directory;
    // A volume prefix such as an adapter's "mem:" takes the name right after its colon.
    bool volume = !out.empty() && out.back() == ':' && out.find_first_of("/\\") == std::string::npos;
    if (!out.empty() && !volume && out.back() != '/' && out.back() != '\\') out += '/';
    out += name;
    return out;
}

// The directory part without its trailing separator ("" for a plain name).
static std::string DirectoryPart(const std::string &path)
{
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return "";
    return path.substr(0, slash ? slash : 1);
}

static const char *FilePartOf(const std::string &path)
{
    return FindFilePart(path.c_str());
}

static bool EndsInSeparator(const std::string &path)
{
    return path.size() > 1 && (path.back() == '/' || path.back() == '\\');
}

// True when path is the folder tree or lies inside it (both full paths).
static bool IsInsideTree(const std::string &path, const std::string &tree)
{
    if (tree.empty() || path.compare(0, tree.size(), tree) != 0) return false;
    return path.size() == tree.size() || path[tree.size()] == '/' || tree.back() == '/';
}

// Locks and examines an object; false when it cannot be locked.
static bool ExamineObject(const char *path, const char *adapter, const void *tags, lvFileInfo *info,
                          std::string *fullPath)
{
    lvVDir *d = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, tags);
    if (!d) return false;
    ExamineVDir(d, info);
    if (fullPath) {
        char full[LV_PATH_SIZE];
        *fullPath = GetVDirPath(d, full, sizeof full) ? full : path;
    }
    info->fullPath = nullptr;  // pointed into the lock
    CloseVDir(d);
    return true;
}

static bool ObjectExists(const char *path, const char *adapter, const void *tags)
{
    lvVDir *d = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, tags);
    if (d) CloseVDir(d);
    return d != nullptr;
}

// Deletes an object through the list's filesystem adapter, or natively. True when gone.
static bool DeleteThrough(const char *adapter, const void *tags, const char *path)
{
    int rc = FsDeleteObject(adapter, path, tags);
    return rc == LV_FS_NATIVE ? DeleteFSObject(path) != 0 : rc == 1;
}

// Clears the read-only flag through the list's filesystem adapter, or natively.
static void UnprotectThrough(const char *adapter, const void *tags, const char *path)
{
    lvAdapterStat flags = {};
    flags.attributes = LV_FILEATTR_NORMAL;
    if (FsSetAttributes(adapter, path, 1, &flags, tags) == LV_FS_NATIVE) SetFSObjectFlags(path, LV_FILEATTR_NORMAL);
}

int MakeDirectoryLevels(const char *path, const char *adapter, const void *userTags)
{
    // A filesystem adapter makes the levels itself: what exists is done, the rest is its call.
    if (HaveFilesysAdapter(adapter)) {
        if (ObjectExists(path, adapter, userTags) || FsMakeDir(adapter, path, userTags) == 1) return 0;
        SetErrorStringArg(path);
        return ERR_CREATEDIR;
    }
    std::string whole = path;
    for (size_t i = 1; i <= whole.size(); i++) {
        if (i < whole.size() && whole[i] != '/' && whole[i] != '\\') continue;
        std::string prefix = whole.substr(0, i);
        if (EndsInSeparator(prefix)) continue;
        lvVDir *d = OpenVDir(prefix.c_str(), LV_VD_READ | LV_VD_ADAPTERS, adapter, userTags);
        if (d) {
            lvFileInfo info;
            ExamineVDir(d, &info);
            CloseVDir(d);
            if (info.isDirectory) continue;
        } else if (CreateFSDirectory(prefix.c_str()) == 0) {
            continue;
        }
        SetErrorStringArg(path);
        return ERR_CREATEDIR;
    }
    return 0;
}

// Turns the platform's case matching off for one scope when on is set: the walker knows
// the exact names (it listed the directory or made the object), and every missing name
// would cost a scan of its directory, which makes a tree copy quadratic.
class lvExactPaths {
public:
    explicit lvExactPaths(bool on) : on_(on), previous_(on ? SetPathCaseMatching(0) : 1) {}
    ~lvExactPaths()
    {
        if (on_) SetPathCaseMatching(previous_);
    }
    lvExactPaths(const lvExactPaths &) = delete;
    lvExactPaths &operator=(const lvExactPaths &) = delete;

private:
    bool on_;
    int previous_;
};

// True when path names a regular file of this system (not a device, a pipe, a virtual
// name or an adapter's object): only such a copy takes its source's mode and dates.
static bool IsRegularNativeFile(const std::string &path)
{
    if (IsChunkName(path.c_str())) return false;
    char system[LV_PATH_SIZE];
    struct stat st;
    return ToSystemPath(path.c_str(), system, sizeof system, 1) && lstat(system, &st) == 0 && S_ISREG(st.st_mode);
}

// Gives a copy the permission bits of its source, when both are plain files here.
static void CopyNativeMode(const std::string &source, const std::string &destination)
{
    if (IsChunkName(source.c_str()) || IsChunkName(destination.c_str())) return;
    char a[LV_PATH_SIZE], b[LV_PATH_SIZE];
    struct stat st;
    if (ToSystemPath(source.c_str(), a, sizeof a, 1) && ToSystemPath(destination.c_str(), b, sizeof b, 1) &&
        stat(a, &st) == 0)
        chmod(b, st.st_mode & 07777);
}

static std::string FoldAsciiCase(const std::string &name)
{
    std::string out = name;
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// Flags and dates of an examined object onto another.
static void ApplyInfo(const std::string &path, const lvFileInfo &info)
{
    SetFSObjectFlags(path.c_str(), info.attributes & LV_FILEATTR_READONLY);
    SetFileTimes(path.c_str(), &info.creationTime, &info.accessTime, &info.writeTime);
}

// ============================================================================
// Operation records
// ============================================================================

// One directory being walked.
struct lvDirWalkNode {
    std::string path;        // the directory
    lvVDir *dir = nullptr;   // its lock and scan, opened on first use
    int restarted = 0;       // the scan was started afresh
    lvFileInfo info = {};    // the source directory's information (copies)
    bool extended = false;   // the destination directory was extended by this node
    // Copies into a directory of this system: its names, read once when the node opens
    // and extended by every file the copy makes, so that a destination name is looked
    // up here instead of by the platform's case matching.
    bool destinationListed = false;
    std::unordered_set<std::string> destinationNames;                   // exact names
    std::unordered_map<std::string, std::string> destinationFolded;     // folded -> smallest name found there
};

// What DeleteFile and the source side of a move need of one deletion.
struct lvDeleteRules {
    bool failOnError;               // a failure ends the operation
    bool force;                     // read-only objects go without asking
    bool move;                      // the MOVEFILE action numbers
    const char *pattern;            // only matching names are deleted, or nullptr
    const char *adapter;            // adapter list
    const void *userTags;           // adapter tags
    lvFileOpCallback *callback;     // questions, or nullptr
};

struct lvDeleteOperation {
    lvAsyncOperation head;                // the async operation head
    bool targetIsDirectory = false;       // the target is a directory
    bool keepTop = false;                 // the top directory itself stays
    bool matchDir = true;                 // the pattern filters sub-directories
    bool recursive = true;                // sub-directories are walked
    lvDeleteRules rules = {};             // how single objects go
    std::string target;                   // the path given
    std::string adapter;                  // adapter list
    std::string pattern;                  // pattern list ("" none)
    std::vector<lvDirWalkNode> walk;      // directories being walked, innermost last
};

struct lvCopyOperation {
    lvAsyncOperation head;                 // the async operation head
    bool sourceIsDirectory = false;        // the source is a directory tree
    bool move = false;                     // MoveFile: the source goes after copying
    bool fastMoveTried = false;            // the direct move was tried
    bool fileDestination = false;          // "filedst"
    bool matchDir = true;                  // the pattern filters sub-directories
    bool failOnError = true;               // a failing file ends the operation
    bool force = false;                    // protected destinations are unprotected
    lvFileOpCallback *callback = nullptr;  // questions, or nullptr
    std::vector<uint8_t> buffer;           // the copy buffer
    std::string source;                    // the source path
    std::string destination;               // destination path (directory of a walk)
    std::string newName;                   // "newname" or ""
    std::string pattern;                   // pattern list or ""
    std::string sourceAdapter;             // adapter lists
    std::string destinationAdapter;
    const void *sourceTags = nullptr;      // adapter tags
    const void *destinationTags = nullptr;
    // The file being copied.
    std::string currentSource;             // its path
    std::string currentDirectory;          // destination directory
    std::string currentName;               // destination name
    std::string currentDestination;        // full destination path while it is open
    std::string shownSource;               // full source path for questions
    lvVFile *sourceStream = nullptr;       // open source
    lvVFile *destinationStream = nullptr;  // open destination
    int64_t copied = 0;                    // bytes written of this file
    int64_t sourceSize = -1;               // -1 when unknown
    bool copying = false;                  // a file is open and being copied
    bool sourceExamined = false;           // sourceInfo holds the source's information
    lvFileInfo sourceInfo = {};            // the source's information
    bool sourceSupplied = false;           // sourceStream was opened before the walk
    bool inWalk = false;                   // the file is an entry of the innermost walk node
    bool exactDestination = false;         // currentDestination is an exact system name
    bool destinationExisted = false;       // the destination was there before this file
    int pendingError = 0;                  // ends the operation after this step
    std::vector<lvDirWalkNode> walk;       // directories being walked, innermost last
};

// ============================================================================
// Questions
// ============================================================================

// Asks; 0 with the answer, or an error code from the call.
static int Ask(lvFileOpCallback *callback, const lvFileOpQuestion &q, lvFileOpAnswer *answer)
{
    answer->isNumber = 0;
    answer->number = 0;
    int rc = callback->Ask(q, answer);
    if (rc) return rc;
    // The callback may have ended the run or cancelled this very operation.
    if (callback->QuitRequested() || AsyncStepCancelled()) return ERR_USERABORT;
    if (!answer->isNumber) answer->number = 0;
    return 0;
}

static int AnswerValue(const lvFileOpAnswer &a)
{
    return a.isNumber ? (int)a.number : 0;
}

// ============================================================================
// Deleting one object
// ============================================================================

static int DeleteOneObject(const lvDeleteRules &r, const std::string &path)
{
    if (r.pattern && !MatchPatternList(FilePartOf(path), r.pattern)) return 0;
    lvFileInfo info;
    std::string full;
    if (!ExamineObject(path.c_str(), r.adapter, r.userTags, &info, &full)) {
        if (!r.failOnError) return 0;
        SetErrorStringArg(path.c_str());
        return ERR_DELETEFILE;
    }
    lvFileOpAnswer answer;
    lvFileOpQuestion q = {};
    q.form = LV_QUESTION_FILE;
    q.file = full.c_str();
    if (info.attributes & LV_FILEATTR_READONLY) {
        bool unprotect = r.force;
        if (!r.callback && !r.force) return 0;
        if (r.callback && !r.force) {
            q.action = r.move ? LV_MOVEFILE_UNPROTECT : LV_DELETEFILE_UNPROTECT;
            int rc = Ask(r.callback, q, &answer);
            if (rc) return rc;
            int v = AnswerValue(answer);
            if (v == -1) return ERR_USERABORT;
            if (v == 0) return 0;
            unprotect = true;
        }
        if (unprotect) UnprotectThrough(r.adapter, r.userTags, full.c_str());
    }
    if (r.callback) {
        q.action = r.move ? LV_MOVEFILE_DELETE : LV_DELETEFILE_STATUS;
        int rc = Ask(r.callback, q, &answer);
        if (rc) return rc;
        if (AnswerValue(answer) == 1) return ERR_USERABORT;
    }
    for (;;) {
        if (DeleteThrough(r.adapter, r.userTags, full.c_str())) return 0;
        if (r.failOnError) {
            SetErrorStringArg(full.c_str());
            return ERR_DELETEFILE;
        }
        if (!r.callback) return 0;
        q.action = r.move ? LV_MOVEFILE_DELETEFAILED : LV_DELETEFILE_FAILED;
        int rc = Ask(r.callback, q, &answer);
        if (rc) return rc;
        int v = AnswerValue(answer);
        if (v == 1) return ERR_USERABORT;
        if (v != -1) return 0;
    }
}

// ============================================================================
// DeleteFile
// ============================================================================

static void CloseWalk(std::vector<lvDirWalkNode> &walk)
{
    for (lvDirWalkNode &n : walk) {
        if (n.dir) CloseVDir(n.dir);
        n.dir = nullptr;
    }
    walk.clear();
}

// Opens a node's lock and scan on first use; 0 or an error.
static int OpenWalkNode(lvDirWalkNode &node, const char *adapter, const void *tags)
{
    if (node.dir) return 0;
    node.dir = OpenVDir(node.path.c_str(), LV_VD_READ | LV_VD_ADAPTERS, adapter, tags);
    if (!node.dir) {
        SetErrorStringArg(node.path.c_str());
        return ERR_LOCK2;
    }
    ExamineVDir(node.dir, &node.info);
    node.info.fullPath = nullptr;
    return StartVDirScan(node.dir, &node.restarted);
}

// The next entry of a node: 1 with its name and kind, 0 at the end.
static int NextWalkEntry(lvDirWalkNode &node, std::string *name, int *isDirectory)
{
    const char *entry = nullptr;
    lvFileInfo info;
    int more = NextVDirEntry(node.dir, node.restarted, &entry, isDirectory, &info);
    node.restarted = 0;
    if (more) *name = entry ? entry : "";
    return more;
}

static int DeleteStep(lvState *, lvAsyncOperation *operation, int *done)
{
    lvDeleteOperation *op = (lvDeleteOperation *)operation;
    if (!op->targetIsDirectory) {
        int rc = DeleteOneObject(op->rules, op->target);
        if (!rc) *done = 1;
        return rc;
    }
    lvDirWalkNode &node = op->walk.back();
    int rc = OpenWalkNode(node, op->rules.adapter, op->rules.userTags);
    if (rc) return rc;
    std::string name;
    int isDirectory = 0;
    if (NextWalkEntry(node, &name, &isDirectory)) {
        std::string path = JoinPath(node.path, name.c_str());
        if (!isDirectory) return DeleteOneObject(op->rules, path);
        if (op->recursive && (!op->rules.pattern || !op->matchDir || MatchPatternList(name.c_str(), op->rules.pattern))) {
            lvDirWalkNode child;
            child.path = path;
            op->walk.push_back(child);
        }
        return 0;
    }
    CloseVDir(node.dir);
    node.dir = nullptr;
    if (!(op->walk.size() == 1 && op->keepTop)) {
        // A directory that still holds skipped entries stays; that is no error.
        lvDeleteRules quiet = op->rules;
        quiet.failOnError = false;
        rc = DeleteOneObject(quiet, node.path);
        if (rc == ERR_USERABORT || (rc && rc != ERR_DELETEFILE)) return rc;
    }
    op->walk.pop_back();
    if (op->walk.empty()) *done = 1;
    return 0;
}

static void DeleteFree(lvState *, lvAsyncOperation *operation)
{
    lvDeleteOperation *op = (lvDeleteOperation *)operation;
    CloseWalk(op->walk);
    if (op->rules.callback) op->rules.callback->Release();
    op->~lvDeleteOperation();
}

int NewDeleteOperation(const char *path, const lvDeleteOptions *o, lvAsyncOperation **out)
{
    *out = nullptr;
    lvFileOpCallback *callback = o->callback;
    auto fail = [callback](int rc) {
        if (callback) callback->Release();
        return rc;
    };
    if (!path || !path[0] || IsChunkName(path)) return fail(ERR_WRONGUSAGE);
    if (std::strlen(path) >= LV_PATH_SIZE) {
        SetErrorStringArg(path);
        return fail(ERR_LOCK2);
    }
    std::string target = path;
    bool keepTop = false;
    bool hasPattern = o->pattern && o->pattern[0];
    if (hasPattern || EndsInSeparator(target)) {
        if (EndsInSeparator(target)) target.pop_back();
        keepTop = true;
    }
    lvFileInfo info;
    if (!ExamineObject(target.c_str(), o->adapter, o->userTags, &info, nullptr)) {
        if (!o->mustExist) return fail(0);
        SetErrorStringArg(path);
        return fail(ERR_LOCK2);
    }
    if (hasPattern && !info.isDirectory) return fail(ERR_NODIRPATTERN);
    void *block = AllocMemory(sizeof(lvDeleteOperation), 1);
    if (!block) return fail(ERR_MEM);
    lvDeleteOperation *op = new (block) lvDeleteOperation();
    InitAsyncOperation(&op->head, DeleteStep, DeleteFree, 0);
    op->targetIsDirectory = info.isDirectory != 0;
    op->keepTop = keepTop;
    op->matchDir = o->matchDir;
    op->recursive = o->recursive;
    op->target = target;
    op->adapter = o->adapter ? o->adapter : "";
    op->pattern = hasPattern ? o->pattern : "";
    op->rules.failOnError = o->failOnError;
    op->rules.force = o->force;
    op->rules.move = false;
    op->rules.pattern = hasPattern ? op->pattern.c_str() : nullptr;
    op->rules.adapter = o->adapter ? op->adapter.c_str() : nullptr;
    op->rules.userTags = o->userTags;
    op->rules.callback = callback;
    if (op->targetIsDirectory) {
        lvDirWalkNode top;
        top.path = target;
        op->walk.push_back(top);
    }
    *out = &op->head;
    return 0;
}

// ============================================================================
// Copying one file
// ============================================================================

static const char *SourceAdapter(const lvCopyOperation *op)
{
    return op->sourceAdapter.empty() ? nullptr : op->sourceAdapter.c_str();
}

static const char *DestinationAdapter(const lvCopyOperation *op)
{
    return op->destinationAdapter.empty() ? nullptr : op->destinationAdapter.c_str();
}

static lvDeleteRules MoveDeleteRules(const lvCopyOperation *op)
{
    lvDeleteRules r = {};
    r.failOnError = op->failOnError;
    r.force = op->force;
    r.move = true;
    r.adapter = SourceAdapter(op);
    r.userTags = op->sourceTags;
    r.callback = op->callback;
    return r;
}

static void CloseSource(lvCopyOperation *op)
{
    if (op->sourceStream && !op->sourceSupplied) {
        CloseVFile(op->sourceStream);
        op->sourceStream = nullptr;
    }
}

// The file is done (copied or skipped): the walk goes on.
static void FinishFile(lvCopyOperation *op)
{
    CloseSource(op);
    op->copying = false;
    op->currentDestination.clear();
}

// The full source path for questions: from the supplied stream, else from a lock.
static int ShownSource(lvCopyOperation *op)
{
    if (op->sourceSupplied) {
        char full[LV_PATH_SIZE];
        op->shownSource = GetVFileFullPath(op->sourceStream, full, sizeof full) ? full : op->currentSource;
        return 0;
    }
    lvFileInfo info;
    if (!ExamineObject(op->currentSource.c_str(), SourceAdapter(op), op->sourceTags, &info, &op->shownSource)) {
        SetErrorStringArg(op->currentSource.c_str());
        return ERR_LOCK2;
    }
    return 0;
}

static int CopyBlock(lvCopyOperation *op);

// Opens source and destination and copies the first block.
static int OpenFilePair(lvCopyOperation *op)
{
    if (op->sourceSupplied) {
        op->sourceExamined = ExamineVFile(op->sourceStream, &op->sourceInfo) != 0;
        char full[LV_PATH_SIZE];
        op->shownSource = GetVFileFullPath(op->sourceStream, full, sizeof full) ? full : op->currentSource;
    } else {
        if (!ExamineObject(op->currentSource.c_str(), SourceAdapter(op), op->sourceTags, &op->sourceInfo,
                           &op->shownSource)) {
            SetErrorStringArg(op->currentSource.c_str());
            return ERR_LOCK2;
        }
        op->sourceExamined = true;
        op->sourceStream = OpenVFile(op->currentSource.c_str(), LV_VF_READ | LV_VF_ADAPTERS, SourceAdapter(op),
                                     op->sourceTags);
        if (!op->sourceStream) {
            SetErrorStringArg(op->currentSource.c_str());
            return ERR_READFILE;
        }
    }
    op->sourceInfo.fullPath = nullptr;
    {
        lvExactPaths exact(op->exactDestination);
        op->destinationStream = OpenVFile(op->currentDestination.c_str(), LV_VF_WRITE | LV_VF_ADAPTERS,
                                          DestinationAdapter(op), op->destinationTags);
    }
    if (!op->destinationStream) {
        SetErrorStringArg(op->currentDestination.c_str());
        return ERR_WRITEFILE;
    }
    if (op->inWalk && op->walk.back().destinationListed)
        op->walk.back().destinationNames.insert(FilePartOf(op->currentDestination));
    op->copied = 0;
    op->sourceSize = op->sourceExamined && !IsVFileUnseekable(op->sourceStream) ? op->sourceInfo.size : -1;
    op->copying = true;
    return CopyBlock(op);
}

// Closes a destination that was being written and deletes it when this copy made it;
// what was there before (a file being overwritten, a device) is never removed.
static void DropPartialDestination(lvCopyOperation *op)
{
    if (op->destinationStream) {
        CloseVFile(op->destinationStream);
        op->destinationStream = nullptr;
        if (!op->destinationExisted) {
            lvExactPaths exact(op->exactDestination);
            DeleteThrough(DestinationAdapter(op), op->destinationTags, op->currentDestination.c_str());
        }
    }
    op->copying = false;
}

// What follows a failure while opening or copying a file: 0 when the walk goes on
// (the file was skipped or starts again), else the code that ends the operation.
static int FailFile(lvCopyOperation *op, int rc)
{
    DropPartialDestination(op);
    if (rc == ERR_USERABORT || op->failOnError) return rc;
    if (!op->callback) {
        FinishFile(op);
        return 0;
    }
    for (;;) {
        lvFileOpQuestion q = {};
        q.action = op->move ? LV_MOVEFILE_COPYFAILED : LV_COPYFILE_FAILED;
        q.form = LV_QUESTION_PAIR;
        q.source = op->shownSource.empty() ? op->currentSource.c_str() : op->shownSource.c_str();
        q.destination = op->currentDestination.c_str();
        lvFileOpAnswer answer;
        int asked = Ask(op->callback, q, &answer);
        if (asked) return asked;
        if (!answer.isNumber) return ERR_NUMCALLBACK;
        int v = (int)answer.number;
        if (v == 1) return ERR_USERABORT;
        if (v != -1) {
            FinishFile(op);
            return 0;
        }
        // Again from the opening; a new failure asks again.
        CloseSource(op);
        rc = OpenFilePair(op);
        if (!rc) return 0;
        DropPartialDestination(op);
        if (rc == ERR_USERABORT) return rc;
    }
}

// The end of a file that was read to its end.
static int CompleteFile(lvCopyOperation *op)
{
    bool complete = op->sourceSize >= 0 ? op->copied == op->sourceSize : IsVFileEof(op->sourceStream) != 0;
    if (!complete) return ERR_READ;
    // Buffered bytes meet a full disk only now: a copy is complete once they are out.
    if (!FlushVFile(op->destinationStream)) {
        SetErrorStringArg(op->currentDestination.c_str());
        return ERR_WRITE;
    }
    int closed = CloseVFile(op->destinationStream);
    op->destinationStream = nullptr;
    if (!closed) {
        SetErrorStringArg(op->currentDestination.c_str());
        if (!op->destinationExisted) {
            lvExactPaths exact(op->exactDestination);
            DeleteThrough(DestinationAdapter(op), op->destinationTags, op->currentDestination.c_str());
        }
        return ERR_WRITE;
    }
    if (op->sourceExamined) {
        lvExactPaths exact(op->exactDestination);
        if (IsRegularNativeFile(op->currentDestination)) {
            CopyNativeMode(op->currentSource, op->currentDestination);
            ApplyInfo(op->currentDestination, op->sourceInfo);
        }
    }
    int rc = 0;
    if (op->move && !op->sourceSupplied) {
        CloseSource(op);
        rc = DeleteOneObject(MoveDeleteRules(op), op->currentSource);
    }
    FinishFile(op);
    // The copy is complete: a failure to delete the moved source ends the operation
    // without touching the copy.
    op->pendingError = rc;
    return 0;
}

static int CopyBlock(lvCopyOperation *op)
{
    int64_t n = ReadVFile(op->sourceStream, op->buffer.data(), (int64_t)op->buffer.size());
    if (n < 0) return ERR_READ;
    if (n == 0) return CompleteFile(op);
    if (WriteVFile(op->destinationStream, op->buffer.data(), n) != n) {
        SetErrorStringArg(op->currentDestination.c_str());
        return ERR_WRITE;
    }
    op->copied += n;
    if (op->callback) {
        lvFileOpQuestion q = {};
        q.action = op->move ? LV_MOVEFILE_COPY : LV_COPYFILE_STATUS;
        q.form = LV_QUESTION_PROGRESS;
        q.source = op->shownSource.c_str();
        q.destination = op->currentDestination.c_str();
        q.copied = op->copied;
        q.fileSize = op->sourceSize;
        lvFileOpAnswer answer;
        int rc = Ask(op->callback, q, &answer);
        if (rc) return rc;
        if (!answer.isNumber) return ERR_NUMCALLBACK;
        if ((int)answer.number == 1) return ERR_USERABORT;
    }
    return 0;
}

// Asks about the current destination: 0 with the answer's value, ERR_USERABORT for -1,
// or the error of the call.
static int AskAboutDestination(lvCopyOperation *op, int action, int form, int *value)
{
    lvFileOpQuestion q = {};
    q.action = action;
    q.form = form;
    q.source = op->shownSource.c_str();
    q.destination = op->currentDestination.c_str();
    lvFileOpAnswer answer;
    int rc = Ask(op->callback, q, &answer);
    if (rc) return rc;
    *value = AnswerValue(answer);
    return *value == -1 ? ERR_USERABORT : 0;
}

// Steps 1 to 4 of one file: pattern, destination, existing destination, open.
static int StartFile(lvCopyOperation *op)
{
    if (!op->pattern.empty() && !MatchPatternList(FilePartOf(op->currentSource), op->pattern.c_str())) {
        FinishFile(op);
        return 0;
    }
    op->currentDestination = op->fileDestination ? op->destination : JoinPath(op->currentDirectory, op->currentName.c_str());
    op->shownSource.clear();
    // Inside a listed destination directory the name is looked up in the listing: an
    // exact name wins, else a name that differs only in case and was there before.
    bool listed = op->inWalk && op->walk.back().destinationListed;
    bool mayExist = true;
    op->exactDestination = listed;
    if (listed) {
        lvDirWalkNode &node = op->walk.back();
        if (!node.destinationNames.count(op->currentName)) {
            auto folded = node.destinationFolded.find(FoldAsciiCase(op->currentName));
            if (folded == node.destinationFolded.end()) mayExist = false;
            else op->currentDestination = JoinPath(op->currentDirectory, folded->second.c_str());
        }
    }
    lvFileInfo existing;
    {
        lvExactPaths exact(listed);
        op->destinationExisted = mayExist && ExamineObject(op->currentDestination.c_str(), DestinationAdapter(op),
                                                           op->destinationTags, &existing, nullptr);
    }
    if (op->destinationExisted) {
        bool isProtected = existing.attributes & (LV_FILEATTR_READONLY | LV_FILEATTR_HIDDEN);
        if (op->callback) {
            int rc = ShownSource(op);
            if (rc) return FailFile(op, rc);
            int v;
            rc = AskAboutDestination(op, LV_COPYFILE_OVERWRITE, LV_QUESTION_PAIR, &v);
            if (rc) return rc;
            if (v == 0) {
                FinishFile(op);
                return 0;
            }
        }
        if (isProtected) {
            if (op->force) {
                UnprotectThrough(DestinationAdapter(op), op->destinationTags, op->currentDestination.c_str());
            } else if (op->callback) {
                int v;
                int rc = AskAboutDestination(op, LV_COPYFILE_UNPROTECT, LV_QUESTION_DESTINATION, &v);
                if (rc) return rc;
                if (v == 0) {
                    FinishFile(op);
                    return 0;
                }
                if (v == 1) UnprotectThrough(DestinationAdapter(op), op->destinationTags, op->currentDestination.c_str());
            }
        }
    }
    int rc = OpenFilePair(op);
    return rc ? FailFile(op, rc) : 0;
}

// ============================================================================
// CopyFile and MoveFile steps
// ============================================================================

// Reads the names of a destination directory of this system into the node (once, when
// the node opens); a directory that cannot be read leaves the node unlisted, and its
// names are then looked up one by one.
static void ListDestination(const std::string &directory, lvDirWalkNode *node)
{
    char system[LV_PATH_SIZE];
    if (IsChunkName(directory.c_str()) || !ToSystemPath(directory.c_str(), system, sizeof system, 1)) return;
    // Only a directory spelled exactly as the system has it: names joined to it are then
    // exact too (one that was found by case or converted keeps the slow lookups).
    std::string plain = directory;
    while (plain.size() > 1 && (plain.back() == '/' || plain.back() == '\\')) plain.pop_back();
    std::string found = system;
    while (found.size() > 1 && found.back() == '/') found.pop_back();
    if (plain != found) return;
    DIR *d = opendir(system);
    if (!d) return;
    while (struct dirent *e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        node->destinationNames.insert(e->d_name);
        std::string &smallest = node->destinationFolded[FoldAsciiCase(e->d_name)];
        if (smallest.empty() || std::strcmp(e->d_name, smallest.c_str()) < 0) smallest = e->d_name;
    }
    closedir(d);
    node->destinationListed = true;
}

static int WalkStep(lvCopyOperation *op, int *done)
{
    lvDirWalkNode &node = op->walk.back();
    if (!node.dir) {
        bool top = op->walk.size() == 1;
        node.dir = OpenVDir(node.path.c_str(), LV_VD_READ | LV_VD_ADAPTERS, SourceAdapter(op), op->sourceTags);
        if (!node.dir) {
            SetErrorStringArg(node.path.c_str());
            return ERR_LOCK2;
        }
        if (!top) {
            op->destination = JoinPath(op->destination, FilePartOf(node.path));
            node.extended = true;
        }
        int rc = MakeDirectoryLevels(op->destination.c_str(), DestinationAdapter(op), op->destinationTags);
        if (rc) return rc;
        if (op->destinationAdapter.empty()) ListDestination(op->destination, &node);
        ExamineVDir(node.dir, &node.info);
        node.info.fullPath = nullptr;
        // A filesystem adapter may give the new directory its source's attributes.
        lvAdapterStat source = {};
        source.type = 1;
        source.attributes = node.info.attributes;
        source.comment = node.info.comment;
        FsSetAttributes(DestinationAdapter(op), op->destination.c_str(), 4, &source, op->destinationTags);
        rc = StartVDirScan(node.dir, &node.restarted);
        if (rc) return rc;
    }
    std::string name;
    int isDirectory = 0;
    if (NextWalkEntry(node, &name, &isDirectory)) {
        std::string path = JoinPath(node.path, name.c_str());
        if (isDirectory) {
            if (!op->pattern.empty() && op->matchDir && !MatchPatternList(name.c_str(), op->pattern.c_str())) return 0;
            lvDirWalkNode child;
            child.path = path;
            op->walk.push_back(child);
            return 0;
        }
        op->currentSource = path;
        op->currentDirectory = op->destination;
        op->currentName = name;
        op->inWalk = true;
        return StartFile(op);
    }
    CloseVDir(node.dir);
    node.dir = nullptr;
    ApplyInfo(op->destination, node.info);
    if (node.extended) op->destination = DirectoryPart(op->destination);
    if (op->move) {
        lvDeleteRules rules = MoveDeleteRules(op);
        rules.failOnError = false;  // its result is not reported
        int rc = DeleteOneObject(rules, node.path);
        if (rc == ERR_USERABORT || (rc && rc != ERR_DELETEFILE)) return rc;
    }
    op->walk.pop_back();
    if (op->walk.empty()) *done = 1;
    return 0;
}

static int CopyStepWork(lvCopyOperation *op, int *done)
{
    if (op->copying) {
        int rc = CopyBlock(op);
        if (rc) rc = FailFile(op, rc);
        // Finished, skipped or not: a single file is then done.
        if (!rc && !op->copying && !op->sourceIsDirectory) *done = 1;
        return rc;
    }
    if (op->move && !op->fastMoveTried) {
        op->fastMoveTried = true;
        int rc = FsMoveObject(SourceAdapter(op), op->source.c_str(), op->destination.c_str(), op->sourceTags);
        if (rc == LV_FS_NATIVE) rc = MoveOnSameVolume(op->source.c_str(), op->destination.c_str());
        else rc = rc == 1 ? 0 : rc == -1 ? ERR_WRONGUSAGE : ERR_MOVEFILE;
        if (rc == 0) {
            *done = 1;
            return 0;
        }
        if (rc != ERR_WRONGUSAGE) {
            SetErrorStringArg(op->source.c_str());
            return ERR_MOVEFILE;
        }
        if (op->sourceIsDirectory) {
            lvDirWalkNode top;
            top.path = op->source;
            op->walk.push_back(top);
        }
    }
    if (op->sourceIsDirectory) return WalkStep(op, done);
    op->inWalk = false;
    op->currentSource = op->source;
    if (op->move) {
        op->currentDirectory = DirectoryPart(op->destination);
        op->currentName = FilePartOf(op->destination);
    } else {
        op->currentDirectory = op->destination;
        op->currentName = !op->newName.empty() ? op->newName : FilePartOf(op->source);
    }
    int rc = StartFile(op);
    if (rc) return rc;
    if (!op->copying) *done = 1;
    return 0;
}

static int CopyStep(lvState *, lvAsyncOperation *operation, int *done)
{
    lvCopyOperation *op = (lvCopyOperation *)operation;
    int rc = CopyStepWork(op, done);
    if (!rc && op->pendingError) {
        rc = op->pendingError;
        op->pendingError = 0;
        *done = 0;
    }
    return rc;
}

static void CopyFree(lvState *, lvAsyncOperation *operation)
{
    lvCopyOperation *op = (lvCopyOperation *)operation;
    CloseWalk(op->walk);
    if (op->destinationStream) CloseVFile(op->destinationStream);
    if (op->sourceStream) CloseVFile(op->sourceStream);
    if (op->callback) op->callback->Release();
    op->~lvCopyOperation();
}

static lvCopyOperation *AllocCopyOperation(int bufferSize)
{
    void *block = AllocMemory(sizeof(lvCopyOperation), 1);
    if (!block) return nullptr;
    lvCopyOperation *op = new (block) lvCopyOperation();
    InitAsyncOperation(&op->head, CopyStep, CopyFree, 0);
    try {
        op->buffer.resize(bufferSize > 0 ? (size_t)bufferSize : 16384);
    } catch (...) {
        op->~lvCopyOperation();
        FreeMemory(block);
        return nullptr;
    }
    return op;
}

int NewCopyOperation(const char *source, const char *destination, const lvCopyOptions *o, lvAsyncOperation **out)
{
    *out = nullptr;
    lvFileOpCallback *callback = o->callback;
    lvVFile *supplied = nullptr;
    auto fail = [callback, &supplied](int rc) {
        if (supplied) CloseVFile(supplied);
        if (callback) callback->Release();
        return rc;
    };
    bool hasNewName = o->newName && o->newName[0];
    bool hasPattern = o->pattern && o->pattern[0];
    if (!source || !source[0] || !destination || !destination[0]) return fail(ERR_WRONGUSAGE);
    if (hasNewName && o->fileDestination) return fail(ERR_WRONGUSAGE);
    std::string src = source, dst = destination;
    if (hasPattern && EndsInSeparator(src)) src.pop_back();
    if (!o->fileDestination && !ObjectExists(dst.c_str(), o->destinationAdapter, o->destinationUserTags)) {
        int rc = MakeDirectoryLevels(dst.c_str(), o->destinationAdapter, o->destinationUserTags);
        if (rc) {
            SetErrorStringArg(destination);
            return fail(rc);
        }
    }
    lvFileInfo info;
    std::string fullSource;
    if (!ExamineObject(src.c_str(), o->adapter, o->userTags, &info, &fullSource)) {
        supplied = OpenVFile(src.c_str(), LV_VF_READ | LV_VF_ADAPTERS, o->adapter, o->userTags);
        if (!supplied) {
            SetErrorStringArg(source);
            return fail(ERR_READFILE);
        }
        info.isDirectory = 0;
    }
    if (!info.isDirectory && hasPattern) return fail(ERR_NODIRPATTERN);
    if (info.isDirectory && (hasNewName || o->fileDestination)) return fail(ERR_WRONGUSAGE);
    if (!o->fileDestination || info.isDirectory) {
        lvVDir *d = OpenVDir(dst.c_str(), LV_VD_READ | LV_VD_ADAPTERS, o->destinationAdapter, o->destinationUserTags);
        if (!d) {
            SetErrorStringArg(destination);
            return fail(ERR_LOCK2);
        }
        char full[LV_PATH_SIZE];
        if (!d->dirAdapter && GetVDirPath(d, full, sizeof full)) dst = full;
        CloseVDir(d);
    }
    // A tree copied into itself would copy its own copies until the paths overflow.
    if (info.isDirectory && IsInsideTree(dst, fullSource)) {
        SetErrorStringArg(destination);
        return fail(ERR_WRONGUSAGE);
    }
    lvCopyOperation *op = AllocCopyOperation(o->bufferSize);
    if (!op) return fail(ERR_MEM);
    op->sourceIsDirectory = info.isDirectory != 0;
    op->fileDestination = o->fileDestination;
    op->matchDir = o->matchDir;
    op->failOnError = o->failOnError;
    op->force = o->force;
    op->callback = callback;
    op->source = src;
    op->destination = dst;
    op->newName = hasNewName ? o->newName : "";
    op->pattern = hasPattern ? o->pattern : "";
    op->sourceAdapter = o->adapter ? o->adapter : "";
    op->destinationAdapter = o->destinationAdapter ? o->destinationAdapter : "";
    op->sourceTags = o->userTags;
    op->destinationTags = o->destinationUserTags;
    op->sourceStream = supplied;
    op->sourceSupplied = supplied != nullptr;
    if (op->sourceIsDirectory) {
        lvDirWalkNode top;
        top.path = src;
        op->walk.push_back(top);
    }
    *out = &op->head;
    return 0;
}

int NewMoveOperation(const char *source, const char *destination, const lvMoveOptions *o, lvAsyncOperation **out)
{
    *out = nullptr;
    lvFileOpCallback *callback = o->callback;
    auto fail = [callback](int rc) {
        if (callback) callback->Release();
        return rc;
    };
    if (!source || !source[0] || !destination || !destination[0]) return fail(ERR_WRONGUSAGE);
    if (ObjectExists(destination, o->adapter, o->userTags)) return fail(ERR_WRONGUSAGE);
    lvFileInfo info;
    std::string fullSource;
    if (!ExamineObject(source, o->adapter, o->userTags, &info, &fullSource)) {
        SetErrorStringArg(source);
        return fail(ERR_READFILE);
    }
    if (!IsChunkName(fullSource.c_str()) && IsVolumeRoot(fullSource.c_str())) return fail(ERR_WRONGUSAGE);
    std::string parent = DirectoryPart(destination);
    if (parent.empty()) {
        // A bare name lies in the current directory, or in the volume an adapter's
        // "name:" prefix names.
        const char *colon = std::strrchr(destination, ':');
        parent = colon && HaveFilesysAdapter(o->adapter) ? std::string(destination, colon + 1) : ".";
    }
    lvVDir *d = OpenVDir(parent.c_str(), LV_VD_READ | LV_VD_ADAPTERS, o->adapter, o->userTags);
    if (!d) {
        SetErrorStringArg(destination);
        return fail(ERR_LOCK2);
    }
    char full[LV_PATH_SIZE];
    std::string fullDestination = GetVDirPath(d, full, sizeof full) ? full : parent;
    CloseVDir(d);
    fullDestination = JoinPath(fullDestination, FindFilePart(destination));
    lvCopyOperation *op = AllocCopyOperation(o->bufferSize);
    if (!op) return fail(ERR_MEM);
    op->sourceIsDirectory = info.isDirectory != 0;
    op->move = true;
    op->failOnError = o->failOnError;
    op->force = o->force;
    op->callback = callback;
    op->source = fullSource;
    op->destination = fullDestination;
    op->sourceAdapter = op->destinationAdapter = o->adapter ? o->adapter : "";
    op->sourceTags = op->destinationTags = o->userTags;
    *out = &op->head;
    return 0;
}

// ============================================================================
// Rename
// ============================================================================

int RenameObject(const char *path, const char *newName, const char *adapter, const void *userTags)
{
    if (!path || !path[0] || !newName || !newName[0] || IsChunkName(path) || IsChunkName(newName))
        return ERR_WRONGUSAGE;
    const char *filePart = FindFilePart(newName);
    if (!filePart[0]) return ERR_WRONGUSAGE;
    std::string directory = DirectoryPart(path);
    std::string target = directory.empty() ? std::string(filePart) : JoinPath(directory, filePart);
    int rc = FsRenameObject(adapter, path, filePart, userTags);
    if (rc == LV_FS_NATIVE) rc = RenameFSObject(path, target.c_str()) ? 1 : 0;
    if (rc != 1) {
        SetErrorStringArg(path);
        return ERR_RENAME;
    }
    return 0;
}
