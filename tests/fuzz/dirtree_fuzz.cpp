// Fuzzes the reader of directory trees linked into an applet ("__direntries"): arbitrary
// bytes either load into a tree that every lookup can walk, or fail leaving nothing.
#include "libs/dos_engine.h"
#include <cstdlib>
#include <cstring>
#include <string>

static void Check(bool condition)
{
    if (!condition) abort();
}

// Walks the tree, checking each entry's fields; the path of the first file found.
static void Walk(lvLinkedDirEntry *level, const std::string &parent, int depth, std::string *firstFile)
{
    Check(depth < 100000);
    for (lvLinkedDirEntry *e = level; e; e = e->next) {
        Check(e->name != nullptr);
        std::string path = parent.empty() ? std::string(e->name) : parent + "/" + e->name;
        if (!e->isDirectory) {
            Check(e->children == nullptr);
            if (firstFile->empty()) *firstFile = path;
        }
        Walk(e->children, path, depth + 1, firstFile);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t used = 0;
    lvLinkedDirEntry *tree = nullptr;
    if (LoadLinkedDirTree(data, size, &used, &tree) != 0) {
        Check(tree == nullptr);
        return 0;
    }
    Check(used <= size);
    std::string first;
    Walk(tree, "", 0, &first);
    if (!first.empty() && first.find('\0') == std::string::npos) Check(FindLinkedDirEntry(tree, first.c_str()));
    FindLinkedDirEntry(tree, "a/b\\c");
    FindLinkedDirEntry(tree, "");
    FreeLinkedDirTree(tree);
    return 0;
}
