// Process entry of the runtime executable. Until the start-up code lands this
// only identifies the runtime.
#include "runtime/version.h"
#include <cstdio>

int main(int argc, char **argv)
{
    std::printf("%s\n", GetBannerText());
    if (argc < 2) {
        std::fprintf(stderr, "usage: lumivarra APPLET [options]\n");
        return 1;
    }
    std::fprintf(stderr, "lumivarra: running applets is not available in this build yet\n");
    return 1;
}
