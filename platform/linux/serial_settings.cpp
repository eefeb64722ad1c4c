// serial_settings.cpp - serial setting codes <-> termios, and port names -> devices.
// Dependencies: termios; the platform's bounded formatting.
// Limits: the COM table has LV_COM_TABLE_SIZE entries; it is set and read on the
// script thread, with a lock so that a set from start-up code is safe as well.
#include "platform/linux/serial_termios.h"
#include "platform/lvplatform.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

// ============================================================================
// Setting codes
// ============================================================================

// One baud code: its rate and the termios speed.
struct lvComBaud {
    int rate;      // bits per second
    speed_t speed; // the termios constant
};

// Indexed by baud code (600 and 1200 came last).
static const lvComBaud kBaudTable[LV_BAUD_CODES] = {
    {300, B300},       {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400}, {57600, B57600},   {115200, B115200},
    {460800, B460800}, {600, B600},     {1200, B1200},
};

// Indexed by data-bits code.
static const tcflag_t kDataBitsTable[] = {CS5, CS6, CS7, CS8};

int GetComBaudRate(int code)
{
    if (code < 0 || code >= LV_BAUD_CODES) return 0;
    return kBaudTable[code].rate;
}

void MakeComRaw(termios *attr)
{
    cfmakeraw(attr);
    // cfmakeraw leaves these: each could drop or change a byte, or stop output.
    attr->c_iflag &= ~(tcflag_t)(IXOFF | IXANY | INPCK | IGNPAR | IMAXBEL);
#ifdef IUCLC
    attr->c_iflag &= ~(tcflag_t)IUCLC;
#endif
    attr->c_iflag |= IGNBRK;  // a break is no data: it must not add a NUL to the stream
    attr->c_cflag &= ~(tcflag_t)(CRTSCTS | CSTOPB | PARODD);
#ifdef CMSPAR
    attr->c_cflag &= ~(tcflag_t)CMSPAR;
#endif
    attr->c_cflag |= CLOCAL | CREAD;
    // Reads go through poll() on a non-blocking descriptor; these only matter to
    // a later user of the device that does not.
    attr->c_cc[VMIN] = 1;
    attr->c_cc[VTIME] = 0;
}

bool ApplyComSetting(termios *attr, int setting, int code)
{
    switch (setting) {
    case LVCOM_SETTING_BAUD:
        if (code < 0 || code >= LV_BAUD_CODES) return false;
        cfsetispeed(attr, kBaudTable[code].speed);
        cfsetospeed(attr, kBaudTable[code].speed);
        return true;
    case LVCOM_SETTING_DATABITS:
        if (code < LV_DATA_5 || code > LV_DATA_8) return false;
        attr->c_cflag = (attr->c_cflag & ~(tcflag_t)CSIZE) | kDataBitsTable[code];
        return true;
    case LVCOM_SETTING_PARITY:
        if (code < LV_PARITY_NONE || code > LV_PARITY_EVEN) return false;
        attr->c_cflag &= ~(tcflag_t)(PARENB | PARODD);
#ifdef CMSPAR
        attr->c_cflag &= ~(tcflag_t)CMSPAR;
#endif
        if (code == LV_PARITY_ODD) attr->c_cflag |= PARENB | PARODD;
        if (code == LV_PARITY_EVEN) attr->c_cflag |= PARENB;
        return true;
    case LVCOM_SETTING_STOPBITS:
        if (code < LV_STOP_1 || code > LV_STOP_2) return false;
        if (code == LV_STOP_2) attr->c_cflag |= CSTOPB;
        else attr->c_cflag &= ~(tcflag_t)CSTOPB;
        return true;
    case LVCOM_SETTING_FLOW:
        if (code < LV_FLOW_OFF || code > LV_FLOW_XON_XOFF) return false;
        attr->c_cflag &= ~(tcflag_t)CRTSCTS;
        attr->c_iflag &= ~(tcflag_t)(IXON | IXOFF | IXANY);
        if (code == LV_FLOW_HARDWARE) attr->c_cflag |= CRTSCTS;
        if (code == LV_FLOW_XON_XOFF) attr->c_iflag |= IXON | IXOFF;
        return true;
    default:
        return false;
    }
}

int ReadComSetting(const termios *attr, int setting)
{
    switch (setting) {
    case LVCOM_SETTING_BAUD: {
        speed_t speed = cfgetospeed(attr);
        for (int code = 0; code < LV_BAUD_CODES; code++)
            if (kBaudTable[code].speed == speed) return code;
        return LV_SERIAL_UNKNOWN;
    }
    case LVCOM_SETTING_DATABITS:
        for (int code = LV_DATA_5; code <= LV_DATA_8; code++)
            if ((attr->c_cflag & CSIZE) == kDataBitsTable[code]) return code;
        return LV_SERIAL_UNKNOWN;
    case LVCOM_SETTING_PARITY:
#ifdef CMSPAR
        if (attr->c_cflag & CMSPAR) return (attr->c_cflag & PARENB) ? LV_SERIAL_UNKNOWN : LV_PARITY_NONE;
#endif
        if (!(attr->c_cflag & PARENB)) return LV_PARITY_NONE;
        return (attr->c_cflag & PARODD) ? LV_PARITY_ODD : LV_PARITY_EVEN;
    case LVCOM_SETTING_STOPBITS:
        return (attr->c_cflag & CSTOPB) ? LV_STOP_2 : LV_STOP_1;
    case LVCOM_SETTING_FLOW: {
        bool cts = (attr->c_cflag & CRTSCTS) != 0;
        bool xon = (attr->c_iflag & IXON) != 0, xoff = (attr->c_iflag & IXOFF) != 0;
        if (cts && !xon && !xoff) return LV_FLOW_HARDWARE;
        if (!cts && xon && xoff) return LV_FLOW_XON_XOFF;
        if (!cts && !xon && !xoff) return LV_FLOW_OFF;
        return LV_SERIAL_UNKNOWN;
    }
    default:
        return LV_SERIAL_UNKNOWN;
    }
}

// ============================================================================
// Port names
// ============================================================================

// The COM table: a device path for each entry that the user set, null for the default.
struct lvComNameTable {
    std::mutex lock;                        // guards entries
    char *entries[LV_COM_TABLE_SIZE + 1];   // index 1..LV_COM_TABLE_SIZE; from AllocMemory
    std::once_flag environmentRead;         // the environment's list is taken once
};

static lvComNameTable g_comNames;

// Copies text into path; 1, or 0 when it does not fit.
static int CopyPath(const char *text, char *path, size_t size)
{
    size_t length = std::strlen(text);
    if (length + 1 > size) return 0;
    std::memcpy(path, text, length + 1);
    return 1;
}

// Takes the user's table from the environment, once per process.
static int ApplyComNames(const char *list);
static void ReadComNamesFromEnvironment(void)
{
    std::call_once(g_comNames.environmentRead, [] {
        const char *list = std::getenv(LV_COM_PORTS_VARIABLE);
        if (list) ApplyComNames(list);
    });
}

// The number of "COMn" (any case) or of a bare "n": n above 0, or 0 for any other name.
static unsigned ComNameNumber(const char *name)
{
    const char *digits = name;
    if ((name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' && (name[2] | 0x20) == 'm') digits += 3;
    const char *end = digits + std::strlen(digits);
    unsigned number = 0;
    auto parsed = std::from_chars(digits, end, number, 10);
    if (digits == end || parsed.ec != std::errc() || parsed.ptr != end) return 0;
    return number;
}

int MakeComDeviceName(const char *name, char *path, size_t size)
{
    if (!name || !*name || !path || size == 0) return 0;
    ReadComNamesFromEnvironment();
    if (name[0] == '/' || std::strncmp(name, "./", 2) == 0 || std::strncmp(name, "../", 3) == 0)
        return CopyPath(name, path, size);
    unsigned number = ComNameNumber(name);
    if (number == 0) {
        // A device name: "ttyUSB0" is /dev/ttyUSB0, never a file of the working directory.
        int needed = FormatString(path, size, "/dev/%s", name);
        return needed >= 0 && (size_t)needed < size ? 1 : 0;
    }
    if (number <= LV_COM_TABLE_SIZE) {
        std::lock_guard<std::mutex> hold(g_comNames.lock);
        if (g_comNames.entries[number]) return CopyPath(g_comNames.entries[number], path, size);
    }
    int needed = FormatString(path, size, "/dev/ttyS%u", number - 1);
    return needed >= 0 && (size_t)needed < size ? 1 : 0;
}

int SetComDeviceName(int number, const char *path)
{
    if (number < 1 || number > LV_COM_TABLE_SIZE) return 0;
    ReadComNamesFromEnvironment();  // what the program sets wins over the environment
    char *copy = nullptr;
    if (path && *path) {
        size_t length = std::strlen(path);
        if (length + 1 > LV_PATH_SIZE) return 0;
        copy = (char *)AllocMemory(length + 1, 0);
        if (!copy) return 0;
        std::memcpy(copy, path, length + 1);
    }
    std::lock_guard<std::mutex> hold(g_comNames.lock);
    FreeMemory(g_comNames.entries[number]);
    g_comNames.entries[number] = copy;
    return 1;
}

// One entry of a list: its number and path (empty for the default).
struct lvComNameEntry {
    unsigned number;        // 1..LV_COM_TABLE_SIZE
    std::string_view path;  // the device path, without surrounding spaces
};

// text without leading and trailing spaces and tabs.
static std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Parses "COMn=path" or "n=path"; false when malformed.
static bool ParseComNameEntry(std::string_view text, lvComNameEntry *entry)
{
    if (text.size() >= 3 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' && (text[2] | 0x20) == 'm')
        text.remove_prefix(3);
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) return false;
    std::string_view digits = TrimSpaces(text.substr(0, equals));
    auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), entry->number, 10);
    if (digits.empty() || parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size()) return false;
    if (entry->number < 1 || entry->number > LV_COM_TABLE_SIZE) return false;
    entry->path = TrimSpaces(text.substr(equals + 1));
    return entry->path.size() < LV_PATH_SIZE;
}

// SetComDeviceNames without the environment's list.
static int ApplyComNames(const char *list)
{
    if (!list) return -1;
    std::vector<lvComNameEntry> entries;
    std::string_view rest(list);
    while (!rest.empty()) {
        size_t stop = rest.find_first_of(";,");
        std::string_view text = TrimSpaces(rest.substr(0, stop));
        rest = stop == std::string_view::npos ? std::string_view() : rest.substr(stop + 1);
        if (text.empty()) continue;
        lvComNameEntry entry;
        if (!ParseComNameEntry(text, &entry)) return -1;
        entries.push_back(entry);
    }
    // Copies first, so that running out of memory changes nothing either.
    std::vector<char *> copies(entries.size(), nullptr);
    for (size_t i = 0; i < entries.size(); i++) {
        if (entries[i].path.empty()) continue;
        copies[i] = (char *)AllocMemory(entries[i].path.size() + 1, 0);
        if (!copies[i]) {
            for (char *c : copies) FreeMemory(c);
            return -1;
        }
        std::memcpy(copies[i], entries[i].path.data(), entries[i].path.size());
        copies[i][entries[i].path.size()] = 0;
    }
    std::lock_guard<std::mutex> hold(g_comNames.lock);
    for (size_t i = 0; i < entries.size(); i++) {
        FreeMemory(g_comNames.entries[entries[i].number]);
        g_comNames.entries[entries[i].number] = copies[i];
    }
    return (int)entries.size();
}

int SetComDeviceNames(const char *list)
{
    ReadComNamesFromEnvironment();  // what the program sets wins over the environment
    return ApplyComNames(list);
}
