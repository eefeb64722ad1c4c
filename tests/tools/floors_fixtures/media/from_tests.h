// A product file reaching into the test tree.

#include "tests/helper.h"
