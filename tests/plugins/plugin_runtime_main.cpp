// plugin_runtime_main.cpp - the runtime executable with the plug-in manager installed,
// for the tests of linked programs that carry plug-ins. It is the runtime's own entry
// plus InstallPluginManager(), the call the runtime's main is to make.
// Dependencies: runtime/plugin.h, runtime/startup.h, runtime/marker.h.
#include "platform/lvplatform.h"
#include "runtime/marker.h"
#include "runtime/plugin.h"
#include "runtime/startup.h"

int main(int argc, char **argv)
{
    lvLinkInfo link;
    ReadLinkMarker(&link);  // keeps the marker record in this executable for lvlink
    InstallPluginManager();
    return PlatformMain(argc, argv, RuntimeMain);
}
