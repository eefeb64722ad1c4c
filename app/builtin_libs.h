// builtin_libs.h - fills the library table and the shut-down steps with every command
// library this executable carries. Lives on the top floor (lv_app), above every library
// it names, because the libraries themselves build on lv_runtime.
#pragma once

// Called once by the process entry before start-up opens the libraries.
void InstallBuiltinLibraries(void);
