// fileio.cpp: whole-file reading and writing for the lvasm and lvdis command lines.
// Depends on lvasm.h. Files are opened close-on-exec; errors carry the system's reason.
#include "tools/lvasm/lvasm.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool AsmReadInput(const std::string &path, std::string &data, std::string &error)
{
    FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rbe");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    data.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    bool failed = std::ferror(f) != 0;
    int saved = errno;
    if (f != stdin) std::fclose(f);
    if (failed) error = "cannot read " + path + ": " + std::strerror(saved);
    return !failed;
}

bool AsmWriteOutput(const std::string &path, const void *data, size_t size, std::string &error)
{
    FILE *f = path == "-" ? stdout : std::fopen(path.c_str(), "wbe");
    if (!f) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = (f == stdout ? std::fflush(f) == 0 : std::fclose(f) == 0) && ok;
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}
