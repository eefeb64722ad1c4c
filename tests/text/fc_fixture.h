// A fontconfig configuration of the test's own: only the given directories,
// a cache in a scratch folder. Call before anything asks fontconfig.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

// A fresh scratch directory under the system's temporary folder.
inline std::string ScratchDir(const char *tag)
{
    std::string tmpl = std::string("/tmp/lvtext_") + tag + "_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

inline void UseFontconfigDirs(const std::string &scratch, const std::vector<std::string> &dirs)
{
    std::string conf = scratch + "/fonts.conf";
    FILE *f = fopen(conf.c_str(), "w");
    fprintf(f, "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n");
    for (const std::string &d : dirs) fprintf(f, "  <dir>%s</dir>\n", d.c_str());
    fprintf(f, "  <cachedir>%s/cache</cachedir>\n</fontconfig>\n", scratch.c_str());
    fclose(f);
    setenv("FONTCONFIG_FILE", conf.c_str(), 1);
}
