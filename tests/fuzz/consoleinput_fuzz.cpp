// Standard input as the console reads it: any bytes, read as lines and keys in turn
// through a pipe on fd 0. Every line must fit its buffer, hold at most 2048 characters
// and end without a line end; every key is at most a Unicode scalar's size.
#include "platform/lvplatform_console.h"

#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>

// Checks that stay on in release fuzz builds.
#define CHECK(condition) \
    do {                  \
        if (!(condition)) __builtin_trap(); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 60000) return 0;  // one pipe buffer, written before reading
    int fds[2];
    if (pipe(fds) != 0) return 0;
    int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    if (size) (void)!write(fds[1], data, size);
    close(fds[1]);
    ResetConsoleInput();
    std::vector<char> line(LV_CONSOLE_LINE_CHARS * 4 + 1);
    for (int step = 0; step < 100000; step++) {
        if (step % 3 == 2) {
            uint32_t key = 0;
            int r = PollConsoleInputKey(&key);
            if (r != LV_CONSOLE_READ_OK) break;
            CHECK(key <= 0x1FFFFF);
            continue;
        }
        int r = ReadConsoleInputLine(line.data(), line.size(), nullptr);
        if (r != LV_CONSOLE_READ_OK) break;
        size_t n = std::strlen(line.data());
        CHECK(n < line.size());
        CHECK(n == 0 || (line[n - 1] != '\n' && line[n - 1] != '\r'));
        size_t chars = 0;
        for (size_t i = 0; i < n; i++) chars += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        CHECK(chars <= LV_CONSOLE_LINE_CHARS);
    }
    dup2(saved, 0);
    close(saved);
    return 0;
}
