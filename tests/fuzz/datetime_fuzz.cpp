// Fuzzes the date and time text readers with arbitrary text: no access outside the text
// or the output buffers, whatever the readers make of it.
#include "libs/time_engine.h"
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

static void Check(bool condition)
{
    if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size);
    text = text.c_str();  // the readers stop at the terminator
    lvDateFields fields;
    int loose = ParseDateString(text.c_str(), &fields);
    struct tm date;
    int strict = ParseDateTm(text.c_str(), &date, -1, 0);
    lvParsedDate parsed;
    int read = ParseDateFields(text.c_str(), &parsed);
    (void)loose;
    (void)read;
    ValidateDateString(text.c_str());
    if (strict == 0) {
        char buffer[64];
        DateStringToUtc(text.c_str(), -1, buffer, sizeof buffer);
        Check(std::memchr(buffer, 0, sizeof buffer) != nullptr);
    }
    int result = 0;
    CompareDateStrings(text.c_str(), "01-Jan-2000 00:00:00", 0, &result);
    CompareDateStrings(text.c_str(), "01-Jan-2000", 1, &result);
    double seconds = 0;
    DateStringToTimestamp(text.c_str(), -1, &seconds);
    return 0;
}
