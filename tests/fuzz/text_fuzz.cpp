// Fuzzes the text conversions with arbitrary bytes and buffer sizes: no access
// outside a buffer, every result terminated, and valid UTF-8 survives the trip
// through UTF-16 unchanged.
#include "platform/lvplatform.h"
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static void Check(bool condition)
{
    if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    int capacity = data[0] % 64;  // first byte: the target's capacity
    int utf8 = data[1] & 1;       // second byte: the encoding
    std::string text((const char *)data + 2, size - 2);
    text = text.c_str();  // the conversions read up to the terminator
    SetScriptEncoding(utf8);

    std::vector<char16_t> wide(capacity + 1, 0x5A5A);
    int count = -1;
    int ok = TextToWide(text.c_str(), capacity ? wide.data() : nullptr, capacity, &count);
    if (capacity > 0) {
        Check(std::char_traits<char16_t>::length(wide.data()) < (size_t)capacity);
        Check(wide[capacity] == 0x5A5A);  // nothing written beyond the capacity
    }
    char16_t *dup = DupTextToWide(text.c_str());
    if (dup) {
        char *back = DupWideToText(dup);
        Check(back != nullptr);
        Check(strcmp(back, text.c_str()) == 0);  // valid text (or any ISO 8859-1 text) comes back
        // what the bounded form wrote is the start of the whole conversion
        if (capacity > 0) {
            size_t n = std::char_traits<char16_t>::length(wide.data());
            Check(memcmp(dup, wide.data(), n * sizeof(char16_t)) == 0);
            if (ok && utf8) Check(count == (int)n + 1 && dup[n] == 0);
        }
        FreeMemory(back);
        FreeMemory(dup);
    } else {
        Check(utf8 && !ok);
    }

    std::vector<char> narrow(capacity + 1, 0x5A);
    int fits = TextToSystem(text.c_str(), narrow.data(), capacity, 0);
    if (capacity > 0) Check(strlen(narrow.data()) < (size_t)capacity);
    Check(narrow[capacity] == 0x5A);
    char *system = DupTextToSystem(text.c_str(), 0);
    Check(system != nullptr);
    if (fits) Check(strcmp(system, narrow.data()) == 0);
    char *again = DupSystemToText(system, 0);
    Check(again != nullptr);
    Check(strcmp(again, text.c_str()) == 0);
    FreeMemory(again);
    FreeMemory(system);

    // UTF-16 from raw bytes, lone surrogates and all
    std::vector<char16_t> units((size - 2) / 2 + 1, 0);
    for (size_t i = 0; i + 1 < units.size(); i++) units[i] = (char16_t)(data[2 + 2 * i] | (data[3 + 2 * i] << 8));
    std::vector<char> out(capacity + 1, 0x5A);
    WideToText(units.data(), out.data(), capacity);
    Check(out[capacity] == 0x5A);
    if (capacity > 0) Check(strlen(out.data()) < (size_t)capacity);
    char *converted = DupWideToText(units.data());
    Check(converted != nullptr);
    FreeMemory(converted);
    SetScriptEncoding(1);
    return 0;
}
