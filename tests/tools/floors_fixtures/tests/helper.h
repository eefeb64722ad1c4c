// Not a product folder: never scanned, and never to be included by one.
#include "app/builtin_libs.h"
