// Only lower floors, its own folder and third-party headers: nothing to report.
#include "runtime/objects.h"
#include "vm/lvvm.h"
#include "base/lverrors.h"
#include "freetype/freetype.h"
#include <SDL2/SDL.h>
// #include "ui/display.h" in a comment is no include.
