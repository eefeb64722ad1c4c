// console.cpp - standard input for the console: one byte buffer shared by line and key
// reads, polled in steps of 100 ms so that a stop request ends a wait; the terminal mode
// of key reads (non-canonical, no echo) restored after each read and at exit; the
// console-opened flag and the terminal title.
//
// Depends on: POSIX (poll, termios).
// Limits: script thread only. A character is at most 4 bytes.
#include "platform/lvplatform_console.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

// ---- State ------------------------------------------------------------------------------

struct lvConsoleInputState {
    char bytes[8192];          // read from fd 0, not yet taken
    size_t start, end;         // the untaken range of bytes
    int atEnd;                 // fd 0 reported the end of input
    int savedMode;             // saved holds the terminal mode to restore
    struct termios saved;      // the mode before a key read changed it
    int exitHandlerInstalled;  // RestoreConsoleTerminal runs at exit
    int opened;                // OpenConsoleStreams succeeded and no close since
};

static lvConsoleInputState consoleInput;

static const int kPollStepMs = 100;

// ---- Buffer -------------------------------------------------------------------------------

static size_t Buffered() { return consoleInput.end - consoleInput.start; }

// Reads more bytes when fd 0 has some within waitMs (-1: until stopped or the end).
// LV_CONSOLE_READ_OK when bytes came, END at the end of input or when the wait ran out,
// STOPPED when the query answered.
static int FillInput(int waitMs, lvConsoleStopQuery stop)
{
    if (consoleInput.atEnd) return LV_CONSOLE_READ_END;
    if (consoleInput.start == consoleInput.end) consoleInput.start = consoleInput.end = 0;
    if (consoleInput.end == sizeof consoleInput.bytes) {
        std::memmove(consoleInput.bytes, consoleInput.bytes + consoleInput.start, Buffered());
        consoleInput.end -= consoleInput.start;
        consoleInput.start = 0;
    }
    int waited = 0;
    for (;;) {
        if (stop && stop()) return LV_CONSOLE_READ_STOPPED;
        int step = waitMs < 0 ? kPollStepMs : waitMs - waited;
        if (step > kPollStepMs) step = kPollStepMs;
        if (step < 0) step = 0;
        struct pollfd fd = {0, POLLIN, 0};
        int ready = poll(&fd, 1, step);
        if (ready < 0 && errno != EINTR) {
            consoleInput.atEnd = 1;
            return LV_CONSOLE_READ_END;
        }
        if (ready > 0) {
            ssize_t got = read(0, consoleInput.bytes + consoleInput.end, sizeof consoleInput.bytes - consoleInput.end);
            if (got > 0) {
                consoleInput.end += static_cast<size_t>(got);
                return LV_CONSOLE_READ_OK;
            }
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            consoleInput.atEnd = 1;
            return LV_CONSOLE_READ_END;
        }
        if (ready == 0) waited += step;
        if (waitMs >= 0 && waited >= waitMs) return LV_CONSOLE_READ_END;
    }
}

// The byte length of the UTF-8 character that starts with lead (1 for an invalid lead).
static size_t CharLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// Decodes the character at the buffer's start when all of its bytes are there; an
// incomplete or malformed sequence gives its first byte as the value. Takes the bytes.
static uint32_t TakeChar(bool complete)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(consoleInput.bytes + consoleInput.start);
    size_t n = CharLength(p[0]);
    if (n > Buffered()) n = complete ? 1 : Buffered();
    uint32_t code = p[0];
    if (n > 1) {
        code = p[0] & (0x7F >> n);
        for (size_t i = 1; i < n; i++) {
            if ((p[i] & 0xC0) != 0x80) {
                consoleInput.start += 1;
                return p[0];
            }
            code = (code << 6) | (p[i] & 0x3F);
        }
    }
    consoleInput.start += n;
    return code;
}

// ---- Lines -----------------------------------------------------------------------------------

int ReadConsoleInputLine(char *buffer, size_t size, lvConsoleStopQuery stop)
{
    if (!buffer || size == 0) return LV_CONSOLE_READ_END;
    std::string line;
    size_t chars = 0;
    bool gotAny = false, ended = false;
    while (!ended) {
        while (Buffered() == 0) {
            int r = FillInput(-1, stop);
            if (r == LV_CONSOLE_READ_STOPPED) {
                buffer[0] = 0;
                return r;
            }
            if (r == LV_CONSOLE_READ_END) {
                ended = true;
                break;
            }
        }
        if (ended) break;
        gotAny = true;
        while (Buffered() > 0) {
            unsigned char c = static_cast<unsigned char>(consoleInput.bytes[consoleInput.start]);
            if (c == 0) {
                // A NUL would end the line's text early for every reader: it is dropped.
                consoleInput.start++;
                continue;
            }
            if ((c & 0xC0) != 0x80) {
                // A new character: the line is full before it.
                if (chars == LV_CONSOLE_LINE_CHARS) {
                    ended = true;
                    break;
                }
                chars++;
            }
            consoleInput.start++;
            if (c == '\n') {
                ended = true;
                break;
            }
            line.push_back(static_cast<char>(c));
        }
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    size_t n = line.size() < size - 1 ? line.size() : size - 1;
    std::memcpy(buffer, line.data(), n);
    buffer[n] = 0;
    return gotAny ? LV_CONSOLE_READ_OK : LV_CONSOLE_READ_END;
}

// ---- Keys --------------------------------------------------------------------------------------

void RestoreConsoleTerminal(void)
{
    if (!consoleInput.savedMode) return;
    tcsetattr(0, TCSANOW, &consoleInput.saved);
    consoleInput.savedMode = 0;
}

static void RestoreAtExit(void) { RestoreConsoleTerminal(); }

// Switches a terminal on fd 0 to single keys without echo until the guard leaves.
struct lvRawKeyMode {
    lvRawKeyMode()
    {
        struct termios mode;
        if (!isatty(0) || tcgetattr(0, &mode) != 0) return;
        consoleInput.saved = mode;
        consoleInput.savedMode = 1;
        if (!consoleInput.exitHandlerInstalled) {
            std::atexit(RestoreAtExit);
            consoleInput.exitHandlerInstalled = 1;
        }
        mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        tcsetattr(0, TCSANOW, &mode);
    }
    ~lvRawKeyMode() { RestoreConsoleTerminal(); }
};

// Takes one whole character once its first byte is there: the rest of a multi-byte
// character is waited for (stop allowing), a missing rest gives the lead byte.
static int TakeKey(uint32_t *key, lvConsoleStopQuery stop)
{
    size_t need = CharLength(static_cast<unsigned char>(consoleInput.bytes[consoleInput.start]));
    while (Buffered() < need) {
        int r = FillInput(stop ? -1 : kPollStepMs, stop);
        if (r == LV_CONSOLE_READ_STOPPED) return r;
        if (r == LV_CONSOLE_READ_END) break;
    }
    *key = TakeChar(true);
    return LV_CONSOLE_READ_OK;
}

int WaitConsoleInputKey(uint32_t *key, lvConsoleStopQuery stop)
{
    *key = 0;
    lvRawKeyMode raw;
    while (Buffered() == 0) {
        int r = FillInput(-1, stop);
        if (r != LV_CONSOLE_READ_OK) return r;
    }
    return TakeKey(key, stop);
}

int PollConsoleInputKey(uint32_t *key)
{
    *key = 0;
    lvRawKeyMode raw;
    if (Buffered() == 0 && FillInput(0, nullptr) != LV_CONSOLE_READ_OK) return LV_CONSOLE_READ_END;
    return TakeKey(key, nullptr);
}

void ResetConsoleInput(void)
{
    consoleInput.start = consoleInput.end = 0;
    consoleInput.atEnd = 0;
}

// ---- Console flag and title ------------------------------------------------------------------------

static bool FdOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

int OpenConsoleStreams(void)
{
    if (consoleInput.opened) return 1;
    if (!FdOpen(0) && !FdOpen(1)) return 0;
    consoleInput.opened = 1;
    return 1;
}

void CloseConsoleStreams(void) { consoleInput.opened = 0; }

int HaveConsoleStreams(void) { return consoleInput.opened; }

int SetTerminalTitle(int fd, const char *utf8Title)
{
    if (!isatty(fd) || !utf8Title) return 0;
    std::string text = "\033]0;";
    // Control characters would end the sequence early or start another.
    for (const char *p = utf8Title; *p; p++)
        if (static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F) text.push_back(*p);
    text += "\007";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        done += static_cast<size_t>(n);
    }
    return 1;
}
