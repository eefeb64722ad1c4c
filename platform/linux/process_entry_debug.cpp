// process_entry_debug.cpp - the debug channel: where debug output, error lines and
// trace lines go. "::file" devices write to a file; without a device (and for device
// texts that have no meaning on this system, such as "::hwnd" host windows) the text
// goes to standard output.
//
// Depends on: text.cpp (VFormatString), files_paths.cpp (ToSystemPath).
// Limits: a formatted text above 64 KiB is cut. Output comes from the script thread,
// or from the main thread before and after it runs; a mutex keeps lines whole.
#include "platform/lvplatform.h"
#include <cstdio>
#include <cstring>
#include <mutex>

// ---- State ------------------------------------------------------------------------------

struct lvDebugChannel {
    std::mutex lock;    // one writer at a time
    FILE *file;         // the "::file" target, or nullptr for standard output
    int latin1;         // texts are ISO-8859-1: standard output gets them as UTF-8
};

static lvDebugChannel debugChannel;

// ---- Channel ----------------------------------------------------------------------------

int OpenDebugChannel(const char *device)
{
    CloseDebugChannel();
    if (!device || std::strncmp(device, "::file", 6) != 0) return 1;
    char system[LV_PATH_SIZE * 4];
    if (!device[6] || !ToSystemPath(device + 6, system, sizeof system, 1)) return 0;
    FILE *file = std::fopen(system, "wbe");
    if (!file) return 0;
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    debugChannel.file = file;
    return 1;
}

void WriteDebugText(const char *text)
{
    if (!text) return;
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    FILE *target = debugChannel.file ? debugChannel.file : stdout;
    if (!debugChannel.file && debugChannel.latin1) {
        // A terminal or a reading program expects UTF-8; a file keeps the bytes as given.
        for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
            if (*p < 0x80) {
                std::fputc(*p, target);
            } else {
                std::fputc(0xC0 | (*p >> 6), target);
                std::fputc(0x80 | (*p & 0x3F), target);
            }
        }
    } else {
        std::fputs(text, target);
    }
    std::fflush(target);
}

void SetDebugTextLatin1(int on)
{
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    debugChannel.latin1 = on != 0;
}

void WriteDebugOutput(const char *format, ...)
{
    char small[2048];
    va_list args;
    va_start(args, format);
    int needed = VFormatString(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) return;
    if ((size_t)needed < sizeof small) {
        WriteDebugText(small);
        return;
    }
    size_t size = (size_t)needed + 1 > 65536 ? 65536 : (size_t)needed + 1;
    char *large = (char *)AllocMemory(size, 0);
    if (!large) return;
    va_start(args, format);
    VFormatString(large, size, format, args);
    va_end(args);
    WriteDebugText(large);
    FreeMemory(large);
}

void CloseDebugChannel(void)
{
    std::lock_guard<std::mutex> guard(debugChannel.lock);
    if (debugChannel.file) std::fclose(debugChannel.file);
    debugChannel.file = nullptr;
}
