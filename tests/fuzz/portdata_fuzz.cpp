// Data blocks as a message port's listener receives them from other programs: any bytes.
// A block is taken only when it is the port's name and one text, both zero-terminated,
// filling it exactly (the text may be empty); the check never reads outside the block.
#include "platform/lvplatform_ports.h"

#include <cstdint>
#include <cstring>
#include <vector>

#define CHECK(condition) \
    do {                  \
        if (!(condition)) __builtin_trap(); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that reading past the block is caught.
    std::vector<char> block(data, data + size);
    int verdict = CheckPortData(block.data(), size, "p");
    if (verdict) {
        CHECK(size >= 3 && block[0] == 'p' && block[1] == 0 && block[size - 1] == 0);
        CHECK(strlen(block.data() + 2) == size - 3);
        CHECK((verdict == 2) == (strcmp(block.data() + 2, "__TESTPORT") == 0));
    }
    return 0;
}
