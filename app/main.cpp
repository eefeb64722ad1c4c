// main.cpp - the process entry of the runtime executable.
//
// The platform's entry copies the arguments and calls the runtime's main, whose result is
// the exit code. The link marker is read by start-up (ReadLinkMarker), which keeps the
// marker record inside this executable for the link tool to patch.
// Dependencies: app/builtin_libs.h, platform/lvplatform.h, runtime/startup.h.
#include "app/builtin_libs.h"
#include "platform/lvplatform.h"
#include "runtime/marker.h"
#include "runtime/startup.h"
#include "runtime/version.h"
#include <cstring>

#if defined(__SANITIZE_THREAD__)
// Race-checking builds only: on an X server, SDL draws windows through the software OpenGL
// driver, which is not built for the checker; its own threads' work on its own state looks
// unsynchronised to it. Likewise fontconfig: Pango starts a thread of its own to
// initialise it while the GTK dialog thread reads its configuration, and fontconfig's
// own atomics are invisible to the checker. GLib's worker pool (the file dialog starts
// it, and GIO's file queries run on it) hands work and objects over through GLib's own
// futex-based queues and reference counts, which the checker cannot see either.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:swrast_dri.so\n"
           "race:libgallium\n"
           "race:libfontconfig.so\n"
           "race:libglib-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgtk-3.so\n"
           "race:libgdk-3.so\n";
}
#endif

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
