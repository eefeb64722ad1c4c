// Fuzzes the serial port-name lists ("COM1=/dev/ttyUSB0;7=/dev/pts/9"): a list is taken
// whole or not at all, and every name maps to a terminated path inside its buffer.
#include "platform/lvplatform.h"
#include "platform/lvplatform_serial.h"
#include <cstdlib>
#include <cstring>
#include <string>

static void Check(bool condition)
{
    if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string list((const char *)data, size);
    list = list.c_str();
    int taken = SetComDeviceNames(list.c_str());
    Check(taken >= -1);
    char path[LV_PATH_SIZE];
    for (const char *name : {"COM1", "COM2", "7", "COM256", "com3", list.c_str()}) {
        std::memset(path, 'x', sizeof path);
        if (MakeComDeviceName(name, path, sizeof path) == 1) Check(std::memchr(path, 0, sizeof path) != nullptr);
    }
    char tiny[4];
    MakeComDeviceName("COM1", tiny, sizeof tiny);
    SetComDeviceNames("");
    return 0;
}
