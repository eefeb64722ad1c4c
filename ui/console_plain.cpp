// console_plain.cpp - the console library's state and plain mode: text to the debug
// channel, lines and keys from standard input in the script's encoding, and the reads the
// base library's DebugPrompt, WaitKey and GetKey share with it.
//
// Depends on: platform/lvplatform_console.h, runtime/cmdsupport.h, runtime/encoding.h,
// vm/lvvm.h (the stop request).
// Limits: script thread only.
#include "ui/console.h"

#include "base/lverrors.h"
#include "platform/lvplatform_console.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "vm/lvvm.h"

#include <cstring>
#include <vector>

// ---- State -------------------------------------------------------------------------------

static lvConsoleState consoleState = [] {
    lvConsoleState s = {};
    s.useDefaultColors = 1;
    for (int &pen : s.pens) pen = -1;
    return s;
}();

lvConsoleState *GetConsoleState() { return &consoleState; }

int ConsoleStopRequested() { return gVMRun.stopRequest.load(std::memory_order_relaxed) != 0; }

static bool ScriptIsLatin1() { return GetGlobalEncoding() != LV_ENCODING_UTF8; }

// The terminal's UTF-8 as the script's text: ISO-8859-1 runs get "?" above 255.
static std::string ToScriptEncoding(const std::string &utf8)
{
    if (!ScriptIsLatin1()) return utf8;
    std::vector<char> out(utf8.size() + 1);
    size_t n = Utf8ToLatin1Into(utf8.c_str(), out.data(), utf8.size());
    return std::string(out.data(), n);
}

// One character as the script's text.
static std::string CharInScriptEncoding(uint32_t code)
{
    if (ScriptIsLatin1()) return std::string(1, code < 256 ? static_cast<char>(code) : '?');
    char bytes[8];
    int n = PutUtf8(bytes, code);
    return std::string(bytes, n > 0 ? static_cast<size_t>(n) : 0);
}

// ---- Both modes --------------------------------------------------------------------------------

int WriteConsoleText(const char *text, size_t length)
{
    if (consoleState.advanced) {
        if (!ScriptIsLatin1()) return AddConsoleText(text, length);
        std::vector<char> utf8(length * 2 + 1);
        size_t n = Latin1ToUtf8Into(text, utf8.data(), length);
        return AddConsoleText(utf8.data(), n);
    }
    PrintOutputBytes(text, length);
    return 0;
}

int PrintConsoleChr(double value)
{
    if (consoleState.advanced) {
        int64_t cell = NumberToInt64(value);
        return AddConsoleCell(static_cast<uint32_t>(cell));
    }
    // A code that is no character (negative, a surrogate, beyond Unicode) prints as "?".
    int64_t code = NumberToInt64(value);
    if (code < 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = '?';
    std::string text = CharInScriptEncoding(static_cast<uint32_t>(code));
    if (code == 0) return 0;
    PrintOutputBytes(text.data(), text.size());
    return 0;
}

int PromptConsoleLine(const char *prompt, std::string *line)
{
    line->clear();
    if (consoleState.advanced) {
        if (prompt && *prompt) {
            if (int code = WriteConsoleText(prompt, std::strlen(prompt))) return code;
        }
        std::string utf8;
        if (int code = ReadAdvancedConsoleLine(&utf8)) return code;
        *line = ToScriptEncoding(utf8);
        return 0;
    }
    if (prompt && *prompt) PrintOutput(prompt);
    std::vector<char> buffer(LV_CONSOLE_LINE_CHARS * 4 + 1);
    int r = ReadConsoleInputLine(buffer.data(), buffer.size(), ConsoleStopRequested);
    if (r == LV_CONSOLE_READ_STOPPED) return ERR_USERABORT;
    *line = ToScriptEncoding(std::string(buffer.data()));
    return 0;
}

// ---- The runtime's console input ------------------------------------------------------------------

static bool ReadInputLine(char *buffer, size_t size)
{
    std::string line;
    int code = PromptConsoleLine(nullptr, &line);
    size_t n = line.size() < size - 1 ? line.size() : size - 1;
    std::memcpy(buffer, line.data(), n);
    buffer[n] = 0;
    return code == 0;
}

static int ReadInputKey()
{
    if (consoleState.advanced) {
        int key = 0;
        if (ReadAdvancedConsoleKey(&key)) return LV_CONSOLE_KEY_STOPPED;
        return key;
    }
    uint32_t key = 0;
    int r = WaitConsoleInputKey(&key, ConsoleStopRequested);
    if (r == LV_CONSOLE_READ_STOPPED) return LV_CONSOLE_KEY_STOPPED;
    return r == LV_CONSOLE_READ_OK ? static_cast<int>(key) : -1;
}

static int PollInputKey()
{
    if (consoleState.advanced) return PollAdvancedConsoleKey();
    uint32_t key = 0;
    return PollConsoleInputKey(&key) == LV_CONSOLE_READ_OK ? static_cast<int>(key) : -1;
}

void InstallConsoleInput()
{
    static const lvConsoleInput input = {ReadInputLine, ReadInputKey, PollInputKey};
    SetConsoleInput(&input);
}

void ShutdownConsole()
{
    LeaveAdvancedConsole();
    RestoreConsoleTerminal();
    CloseConsoleStreams();
}
