// main.cpp - the process entry of the runtime executable.
//
// The platform's entry copies the arguments and calls the runtime's main, whose result is
// the exit code. The link marker is read by start-up (ReadLinkMarker), which keeps the
// marker record inside this executable for the link tool to patch.
// Dependencies: platform/lvplatform.h, runtime/startup.h.
#include "platform/lvplatform.h"
#include "runtime/builtin_libs.h"
#include "runtime/marker.h"
#include "runtime/startup.h"
#include "runtime/version.h"
#include <cstring>

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        lvLinkInfo link;
        ReadLinkMarker(&link);
        if (!link.linked) {
            WriteDebugOutput("%s\n", GetBannerText());
            return 0;
        }
    }
    InstallBuiltinLibraries();
    return PlatformMain(argc, argv, RuntimeMain);
}
