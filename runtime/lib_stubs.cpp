// lib_stubs.cpp - the amiga and mobile libraries: commands that only other platforms can
// serve, kept registered so that an applet written for them loads and runs until it really
// calls one. They fail with ERR_UNSUPPORTEDFEAT; each library has one harmless command.
//
// Depends on: runtime/cmdsupport.h, vm/lvvm.h.
#include "runtime/cmdsupport.h"
#include "runtime/libs_core.h"

// ==== The shared command ==============================================================================

int UnsupportedCommand(lvState *) { return ERR_UNSUPPORTEDFEAT; }

// ==== amiga ===========================================================================================

// GetAssignPaths(name): there are no assigns here, so the list is empty.
static int CmdGetAssignPaths(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushNewTable(L);
    return 1;
}

static const lvCommandEntry kAmigaCommands[] = {
    {"CloseAmigaGuide", UnsupportedCommand},
    {"CreateRexxPort", UnsupportedCommand},
    {"GetApplicationList", UnsupportedCommand},
    {"GetAssignPaths", CmdGetAssignPaths},
    {"GetFrontScreen", UnsupportedCommand},
    {"GetPubScreens", UnsupportedCommand},
    {"HaveRexxPort", UnsupportedCommand},
    {"HideScreen", UnsupportedCommand},
    {"OpenAmigaGuide", UnsupportedCommand},
    {"RunRexxScript", UnsupportedCommand},
    {"SendApplicationMessage", UnsupportedCommand},
    {"SendRexxCommand", UnsupportedCommand},
    {"SetCXKey", UnsupportedCommand},
    {"SetScreenTitle", UnsupportedCommand},
    {"ShowRinghioMessage", UnsupportedCommand},
    {"ShowScreen", UnsupportedCommand},
    {nullptr, nullptr},
};

int OpenAmigaLibrary(lvState *L) { return RegisterCommandTable(L, kAmigaCommands, "amiga"); }

// ==== mobile ==========================================================================================

// GetAsset(name): assets are plain files here, so the name is the file's name.
static int CmdGetAsset(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    size_t length = 0;
    const char *name = CheckStringArg(L, 1, &length);
    PushSizedString(L, name, length);
    return 1;
}

static const lvCommandEntry kMobileCommands[] = {
    {"CallJavaMethod", UnsupportedCommand},
    {"GetAsset", CmdGetAsset},
    {"HideKeyboard", UnsupportedCommand},
    {"PerformSelector", UnsupportedCommand},
    {"ShowKeyboard", UnsupportedCommand},
    {"ShowToast", UnsupportedCommand},
    {"Vibrate", UnsupportedCommand},
    {nullptr, nullptr},
};

int OpenMobileLibrary(lvState *L) { return RegisterCommandTable(L, kMobileCommands, "mobile"); }
