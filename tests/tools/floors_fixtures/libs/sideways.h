// A library reaching sideways into the raster engine, its sibling.
#include "libs/strings_engine.h"
  #  include "raster/lvbitmap.h"
