// A platform file reaching up into the runtime and the script machine.
#include "platform/lvplatform.h"
#include "runtime/objects.h"
#include <sys/stat.h>
#include <vm/lvvm.h>
