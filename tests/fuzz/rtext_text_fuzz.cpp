// Fuzz target for the text engines: UTF-8 validation, sanitising, case change, search
// without case, chunk-name parsing, message filling and number-or-percent texts. Beyond
// the sanitizers it checks the properties the callers rely on.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/random.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());  // C strings from here on
    size_t length = text.size();

    size_t count = 0;
    bool valid = ValidateUtf8(text.data(), length, &count);
    std::string clean(length + 1, '\0');
    size_t n = SanitizeUtf8(text.c_str(), clean.data());
    if (n != length || !ValidateUtf8(clean.data(), n, nullptr)) __builtin_trap();
    if (valid && clean.compare(0, n, text) != 0) __builtin_trap();

    size_t outLength = 0;
    char *lower = ChangeCaseCopy(text.data(), length, LV_ENCODING_UTF8, 0, &outLength);
    if (lower && valid && !ValidateUtf8(lower, outLength, nullptr)) __builtin_trap();
    FreeMemory(lower);
    std::string inplace = text;
    if (UpperStrInPlace(inplace.data()) > length) __builtin_trap();

    size_t half = length / 2;
    const char *found = FindStrNoCase(text.data(), length, text.data() + half, length - half, LV_ENCODING_UTF8);
    if (found && (found < text.data() || found > text.data() + length)) __builtin_trap();
    FindStrNoCase(text.data(), length, text.data(), half, LV_ENCODING_LATIN1);

    char part[64];
    GetChunkFilePart(text.c_str(), part, sizeof part);
    char filled[128];
    if (FillMessageArgs(text.c_str(), text.c_str(), -12345, filled, sizeof filled) >= sizeof filled) __builtin_trap();

    double value;
    int percent;
    ParseNumberOrPercent(text.c_str(), 640, 0, &percent, &value);
    int whole;
    ParseIntPercentText(text.c_str(), 1, &whole);

    char *latin = Utf8ToLatin1(text.c_str(), 0);
    if (latin) {
        char *back = Latin1ToUtf8(latin, 0);
        if (back && !ValidateUtf8(back, strlen(back), nullptr)) __builtin_trap();
        FreeMemory(back);
    }
    FreeMemory(latin);
    return 0;
}
