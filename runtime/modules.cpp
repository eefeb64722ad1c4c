// modules.cpp - opening the optional modules on first use (see modules.h).
//
// Depends on: runtime/modules.h, libdl.
#include "runtime/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

static std::mutex moduleLock;

// The places looked at, in order. LV_MODULE_DIR alone when it is set; else beside the
// executable, then the loader's own search (an installed runtime's library folder), then
// the build's folder, so that a program linked with an applet and moved elsewhere still
// finds the modules of the runtime it was made from.
std::string PathBesideExecutable(const char *file)
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0) return {};
    exe[n] = 0;
    std::string path = exe;
    return path.substr(0, path.rfind('/') + 1) + file;
}

static std::vector<std::string> ModulePaths(const char *file)
{
    if (const char *dir = getenv("LV_MODULE_DIR")) return {std::string(dir) + "/" + file};
    std::vector<std::string> paths;
    std::string beside = PathBesideExecutable(file);
    if (!beside.empty()) paths.push_back(beside);
    paths.push_back(file);
#ifdef LV_MODULE_BUILD_DIR
    paths.push_back(std::string(LV_MODULE_BUILD_DIR) + "/" + file);
#endif
    return paths;
}

const void *LoadOptionalModule(lvOptionalModule *module)
{
    std::lock_guard<std::mutex> hold(moduleLock);
    if (module->tried) return module->table;
    module->tried = 1;
    std::string why;
    void *handle = nullptr;
    for (const std::string &path : ModulePaths(module->file)) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) break;
        if (why.empty()) why = dlerror();  // the first place's reason says the most
    }
    if (handle) {
        auto entry = reinterpret_cast<const void *(*)(void)>(dlsym(handle, module->entry));
        module->table = entry ? entry() : nullptr;
        if (!module->table) why = "the module has no entry";
    }
    module->handle = handle;
    if (!module->table)
        fprintf(stderr, "lumivarra: %s (%s) could not be loaded: %s\n", module->file, module->carries, why.c_str());
    return module->table;
}

void *OpenSystemLibrary(const char *soname, const char *carries)
{
    void *handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) fprintf(stderr, "lumivarra: %s (%s) could not be loaded: %s\n", soname, carries, dlerror());
    return handle;
}

void ForgetOptionalModule(lvOptionalModule *module)
{
    std::lock_guard<std::mutex> hold(moduleLock);
    module->tried = 0;
    module->table = nullptr;
}
