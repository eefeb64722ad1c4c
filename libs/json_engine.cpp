// json_engine.cpp - the built-in JSON serializer (see json_engine.h).
//
// The writer keeps a stack of open containers; a container's bracket is written when
// its first entry tells its shape (or, for an empty table, at its end). The reader
// keeps a stack of the brackets it has opened and hands out one entry per call; in
// mode 2 a member of an object becomes four calls (record start, "key", "value",
// record end) with the record state carrying the place between calls.
//
// Depends on: libs/serialize_engine.h (protocol, Base64, IsBinaryString),
// runtime/encoding.h (conversions, lower case). Numbers are printed and parsed with
// std::to_chars/from_chars, independent of the locale.
#include "libs/json_engine.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runtime/encoding.h"

// ============================================================================
// State
// ============================================================================

// One open array or object.
struct lvJsonLevel {
    char bracket;        // '[' or '{'; 0 while the shape is undecided (mode 2)
    int pendingOpen;     // the bracket still has to be written (writer) / no entry read yet (reader)
    int pairFlag;        // mode 2 writer: a record's entry is in progress at this level
    int entries;         // entries written at this level
    int empty;           // writer: opened by its own end (no entries)
    int elementCounter;  // reader: next array key
    int memberCounter;   // reader, mode 2: next record key
    int recordState;     // reader, mode 2: 0 idle, 2 "key" due, 3 "value" due, 1 record end due
    std::string keyText;    // key bytes items point into
    std::string valueText;  // value bytes items point into
    double keyNumber;       // number slot of a key item
    double number;          // number slot of a value item
};

struct lvJsonSerializerState {
    lvSerialIOFunction read;   // set for a reader
    lvSerialIOFunction write;  // set for a writer
    void *user;                // handed to the callbacks
    int depth;                 // writer's indentation level (0 inside the outermost container)
    std::vector<std::unique_ptr<lvJsonLevel>> levels;  // outermost first
    int srcEncoding;           // 0 ISO-8859-1, 1 UTF-8
    int dstEncoding;           // as srcEncoding
    int mode;                  // SERIALIZEMODE_
    int noLowerCase;           // member names keep their case
    int anyEntry;              // writer: an entry has arrived
    int failed;                // writer: a callback wrote short
    std::string out;           // writer: bytes not yet handed to the callback
    int hasPendingKey;         // mode 2 writer: a record's "key" is waiting for its "value"
    lvSerializeItem pendingKey;     // the waiting key (data points into pendingKeyBytes)
    std::string pendingKeyBytes;    // its bytes
    double pendingKeyNumber;        // its number
    // reader
    std::vector<uint8_t> inBuffer;  // block read by the callback
    size_t inPosition;              // next byte of inBuffer
    int pushedBack;                 // a byte given back, or -1
    int endOfInput;                 // the callback answered 0
    int started;                    // the outermost bracket has been read
    std::string keyScratch;         // scratch for texts being converted
};

static const int kReadBlock = 16384;

// ============================================================================
// Small helpers
// ============================================================================

bool IsPlainKey(const char *key, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (uint8_t(key[i]) <= 32) return false;
    return true;
}

int FormatJsonNumber(double value, char *buffer)
{
    if (!std::isfinite(value)) {
        std::memcpy(buffer, "null", 5);
        return 4;
    }
    std::to_chars_result r;
    if (value == std::ceil(value) && value >= -9223372036854775808.0 && value < 9223372036854775808.0)
        r = std::to_chars(buffer, buffer + 31, int64_t(value));
    else
        r = std::to_chars(buffer, buffer + 31, value, std::chars_format::general, 17);
    *r.ptr = 0;
    return int(r.ptr - buffer);
}

// Converts bytes between ISO-8859-1 and UTF-8 (a no-op when the encodings agree).
static std::string ConvertJsonText(const char *text, size_t length, int from, int to)
{
    // The converters take a length of 0 for "up to the NUL": an empty text stays empty here.
    if (from == to || length == 0) return std::string(text, length);
    std::string out;
    if (from == LV_ENCODING_LATIN1) {
        out.resize(length * 2 + 1);
        out.resize(Latin1ToUtf8Into(text, out.data(), length));
    } else {
        out.resize(length + 1);
        out.resize(Utf8ToLatin1Into(text, out.data(), length));
    }
    return out;
}

// ============================================================================
// Writer
// ============================================================================

static void Emit(lvJsonSerializerState *s, const char *text, size_t n)
{
    s->out.append(text, n);
    if (s->out.size() >= size_t(kReadBlock)) {
        if (s->write(s->out.data(), int(s->out.size()), s->user) != int(s->out.size())) s->failed = 1;
        s->out.clear();
    }
}

// Structural text (brackets, separators, names, numbers, quoted text) goes from the
// source to the destination encoding.
static void EmitText(lvJsonSerializerState *s, const char *text, size_t n)
{
    if (s->srcEncoding == s->dstEncoding) {
        Emit(s, text, n);
        return;
    }
    std::string converted = ConvertJsonText(text, n, s->srcEncoding, s->dstEncoding);
    Emit(s, converted.data(), converted.size());
}

static void EmitText(lvJsonSerializerState *s, const std::string &text) { EmitText(s, text.data(), text.size()); }

static void EmitText(lvJsonSerializerState *s, const char *text) { EmitText(s, text, std::strlen(text)); }

static void EmitLineEnd(lvJsonSerializerState *s) { Emit(s, "\r\n", 2); }

static void EmitIndent(lvJsonSerializerState *s)
{
    if (s->depth >= 0) s->out.append(size_t(s->depth) + 1, '\t');
}

// A quoted string with the escapes of the format. DEL is escaped too, so that every
// string the writer produces is one its reader accepts.
static std::string QuoteJsonString(const char *bytes, size_t n)
{
    std::string q;
    q.reserve(n + 2);
    q.push_back('"');
    for (size_t i = 0; i < n; i++) {
        uint8_t c = uint8_t(bytes[i]);
        switch (c) {
        case '\b': q += "\\b"; break;
        case '\t': q += "\\t"; break;
        case '\n': q += "\\n"; break;
        case '\f': q += "\\f"; break;
        case '\r': q += "\\r"; break;
        case '"': q += "\\\""; break;
        case '\\': q += "\\\\"; break;
        default:
            if (c < 32 || c == 127) {
                static const char kHex[] = "0123456789abcdef";
                q += "\\u00";
                q.push_back(kHex[c >> 4]);
                q.push_back(kHex[c & 15]);
            } else {
                q.push_back(char(c));
            }
        }
    }
    q.push_back('"');
    return q;
}

static bool ItemIs(const lvSerializeItem *item, const char *text)
{
    size_t n = std::strlen(text);
    return item->type == SERIALIZEITEM_STRING && item->length == n && std::memcmp(item->data, text, n) == 0;
}

// Opens a level: writes its bracket (indented when the enclosing level is an array).
static void OpenLevel(lvJsonSerializerState *s, size_t index, bool emptyTable)
{
    lvJsonLevel *lv = s->levels[index].get();
    bool outermost = index == 0;
    if (!outermost && s->levels[index - 1]->bracket == '[') EmitIndent(s);
    char b[2] = {lv->bracket, 0};
    EmitText(s, b);
    if (!emptyTable) EmitLineEnd(s);
    if (!outermost) s->depth++;
    lv->pendingOpen = 0;
    lv->empty = emptyTable;
}

int JsonSerializeItem(void *state, lvSerializeItem *key, lvSerializeItem *value, void *)
{
    lvJsonSerializerState *s = static_cast<lvJsonSerializerState *>(state);
    if (!s || !s->write) return 0;
    const bool isEnd = value->type == SERIALIZEITEM_TABLE && value->length == 0;
    const bool isStart = value->type == SERIALIZEITEM_TABLE && value->length != 0;
    const int mode = s->mode;
    // Only the list mode writes a {key, value} record into its enclosing level.
    const bool isRecordStart = isStart && (value->flags & SERIALIZEFLAG_KEYVALUE) && mode == SERIALIZEMODE_LIST;
    lvSerializeItem k = *key;
    const uint32_t flags = key->flags;

    // Modes 1 and 2 keep to tables JSON can hold as they are.
    if (mode != SERIALIZEMODE_LUMIVARRA && (flags & SERIALIZEFLAG_NUMBERKEYS) &&
        (flags & (SERIALIZEFLAG_STRINGKEYS | SERIALIZEFLAG_NOTLIST | SERIALIZEFLAG_BINARY)))
        return 0;

    char desired = 0;        // mode 2: the shape this entry asks of its level
    bool setPair = false;    // mode 2: this entry is a record's value
    if (mode == SERIALIZEMODE_LIST) {
        if (k.type == SERIALIZEITEM_STRING) {
            if (ItemIs(&k, "key")) {
                if (value->type == SERIALIZEITEM_TABLE || value->type == SERIALIZEITEM_FUNCTION) return 0;
                s->pendingKeyBytes.assign(static_cast<const char *>(value->data), value->length);
                s->pendingKey = *value;
                if (value->type == SERIALIZEITEM_NUMBER) {
                    std::memcpy(&s->pendingKeyNumber, value->data, 8);
                    s->pendingKey.data = &s->pendingKeyNumber;
                } else {
                    s->pendingKey.data = s->pendingKeyBytes.data();
                }
                s->hasPendingKey = 1;
                return 1;
            }
            if (!ItemIs(&k, "value")) return 0;
            if (isEnd) return 1;  // the record's own end closes what the value opened
            if (!s->hasPendingKey) return 0;
            k = s->pendingKey;
            desired = '{';
            setPair = true;
        } else if (!isEnd && !isRecordStart) {
            desired = '[';
        }
    }

    s->anyEntry = 1;
    if (s->levels.empty()) {
        auto lv = std::make_unique<lvJsonLevel>();
        if (mode == SERIALIZEMODE_LIST) {
            lv->bracket = value->type == SERIALIZEITEM_TABLE ? 0 : desired;
        } else {
            lv->bracket = (flags & (SERIALIZEFLAG_NOTLIST | SERIALIZEFLAG_BINARY)) ? '{' : '[';
        }
        lv->pendingOpen = 1;
        s->levels.push_back(std::move(lv));
        if (s->levels[0]->bracket) OpenLevel(s, 0, false);
    }
    size_t li = s->levels.size() - 1;
    lvJsonLevel *lv = s->levels[li].get();
    if (mode == SERIALIZEMODE_LIST && desired && !lv->bracket) lv->bracket = desired;
    if (lv->pendingOpen) {
        if (isEnd) {
            lv->bracket = '[';
            OpenLevel(s, li, true);
        } else if (mode != SERIALIZEMODE_LIST) {
            lv->bracket = (flags & (SERIALIZEFLAG_NOTLIST | SERIALIZEFLAG_BINARY)) ? '{' : '[';
            OpenLevel(s, li, false);
        } else if (lv->bracket) {
            OpenLevel(s, li, false);
        }
    }

    // Separator.
    if (lv->entries > 0 && !isEnd && !isRecordStart) {
        Emit(s, ",", 1);
        EmitLineEnd(s);
    }
    if (setPair) lv->pairFlag = 1;

    // Key text.
    bool binaryValue = value->type == SERIALIZEITEM_STRING &&
                       IsBinaryString(static_cast<const char *>(value->data), value->length, s->srcEncoding);
    bool functionValue = value->type == SERIALIZEITEM_FUNCTION;
    if (mode != SERIALIZEMODE_LUMIVARRA && (binaryValue || functionValue)) return 0;
    if (lv->bracket == '{' && !isEnd && !isRecordStart) {
        std::string name;
        if (k.type == SERIALIZEITEM_NUMBER) {
            double d;
            std::memcpy(&d, k.data, 8);
            if (d != std::floor(d) || !std::isfinite(d) || std::fabs(d) > 9.2e18) return 0;
            char b[32];
            auto r = std::to_chars(b, b + 31, int64_t(d));
            name.assign(b, r.ptr);
        } else if (k.type == SERIALIZEITEM_STRING) {
            const char *kb = static_cast<const char *>(k.data);
            if (k.length > 128 || std::memchr(kb, 0, k.length)) return 0;
            if (mode == SERIALIZEMODE_LUMIVARRA && !IsPlainKey(kb, k.length)) return 0;
            name.assign(kb, k.length);
        } else {
            return 0;
        }
        std::string text = QuoteJsonString(name.data(), name.size());
        if (binaryValue) text.insert(text.size() - 1, " b");
        if (functionValue) text.insert(text.size() - 1, " f");
        EmitIndent(s);
        EmitText(s, text);
        EmitText(s, ": ");
    }

    // Value.
    const bool inArray = lv->bracket == '[';
    switch (value->type) {
    case SERIALIZEITEM_NUMBER: {
        double d;
        std::memcpy(&d, value->data, 8);
        char b[32];
        int n = FormatJsonNumber(d, b);
        if (inArray) EmitIndent(s);
        EmitText(s, b, size_t(n));
        lv->entries++;
        break;
    }
    case SERIALIZEITEM_STRING:
    case SERIALIZEITEM_FUNCTION:
        if (inArray) EmitIndent(s);
        if (binaryValue || functionValue) {
            std::string b64 = "\"";
            AppendBase64(b64, value->data, value->length);
            b64.push_back('"');
            Emit(s, b64.data(), b64.size());
        } else {
            EmitText(s, QuoteJsonString(static_cast<const char *>(value->data), value->length));
        }
        lv->entries++;
        break;
    case SERIALIZEITEM_TABLE:
        if (isStart) {
            if (isRecordStart && mode == SERIALIZEMODE_LIST) break;  // its entries join this level
            lv->entries++;
            auto nested = std::make_unique<lvJsonLevel>();
            nested->pendingOpen = 1;
            s->levels.push_back(std::move(nested));
        } else {
            if (lv->pairFlag) {
                lv->pairFlag = 0;
                break;
            }
            if (li == 0) return 0;  // the outermost level closes in JsonFreeSerializer
            if (!lv->empty) EmitLineEnd(s);
            s->depth--;
            if (!lv->empty) EmitIndent(s);
            EmitText(s, lv->bracket == '{' ? "}" : "]");
            s->levels.pop_back();
            s->levels.back()->pairFlag = 0;
        }
        break;
    default:
        break;
    }
    if (setPair) s->hasPendingKey = 0;
    return s->failed ? 0 : 1;
}

static int FinishWriter(lvJsonSerializerState *s)
{
    if (!s->anyEntry || s->levels.empty() || s->levels[0]->pendingOpen) {
        EmitText(s, "[]");
        EmitLineEnd(s);
    } else {
        EmitLineEnd(s);
        EmitText(s, s->levels.back()->bracket == '{' ? "}" : "]");
        EmitLineEnd(s);
    }
    if (!s->out.empty() && s->write(s->out.data(), int(s->out.size()), s->user) != int(s->out.size())) s->failed = 1;
    s->out.clear();
    return s->failed ? 0 : 1;
}

// ============================================================================
// Reader
// ============================================================================

// Next input byte, or -1 at the end (or a failed read).
static int ReadJsonChar(lvJsonSerializerState *s)
{
    if (s->pushedBack >= 0) {
        int c = s->pushedBack;
        s->pushedBack = -1;
        return c;
    }
    if (s->inPosition >= s->inBuffer.size()) {
        if (s->endOfInput) return -1;
        s->inBuffer.resize(kReadBlock);
        int n = s->read(s->inBuffer.data(), kReadBlock, s->user);
        if (n <= 0) {
            s->endOfInput = 1;
            s->inBuffer.clear();
            s->inPosition = 0;
            return -1;
        }
        s->inBuffer.resize(size_t(n));
        s->inPosition = 0;
    }
    return s->inBuffer[s->inPosition++];
}

static bool IsJsonSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

static int ReadJsonToken(lvJsonSerializerState *s)
{
    int c;
    do c = ReadJsonChar(s);
    while (IsJsonSpace(c));
    return c;
}

static int HexDigit(int c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool ReadHex4(lvJsonSerializerState *s, uint32_t *code)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) {
        int d = HexDigit(ReadJsonChar(s));
        if (d < 0) return false;
        v = (v << 4) | uint32_t(d);
    }
    *code = v;
    return true;
}

// Reads a string after its opening quotation mark, in the source encoding.
static bool ReadJsonString(lvJsonSerializerState *s, std::string &out)
{
    out.clear();
    for (;;) {
        int c = ReadJsonChar(s);
        if (c < 0 || c < 32) return false;
        if (c == '"') return true;
        if (c != '\\') {
            out.push_back(char(c));
            continue;
        }
        c = ReadJsonChar(s);
        switch (c) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
            uint32_t code;
            if (!ReadHex4(s, &code)) return false;
            if (s->srcEncoding == LV_ENCODING_UTF8) {
                // A high surrogate followed by the escape of a low one is one character.
                if (code >= 0xD800 && code < 0xDC00) {
                    int c1 = ReadJsonChar(s);
                    if (c1 == '\\') {
                        int c2 = ReadJsonChar(s);
                        uint32_t low;
                        if (c2 != 'u' || !ReadHex4(s, &low)) return false;
                        if (low >= 0xDC00 && low < 0xE000) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            char b[5];
                            out.append(b, size_t(PutUtf8(b, code)));
                            code = low;
                        }
                    } else if (c1 >= 0) {
                        s->pushedBack = c1;
                    }
                }
                char b[5];
                out.append(b, size_t(PutUtf8(b, code)));
            } else {
                if (code > 255) return false;
                out.push_back(char(code));
            }
            break;
        }
        default:
            return false;
        }
    }
}

// Reads a value whose first byte is c into the level's slots.
static bool ReadJsonValue(lvJsonSerializerState *s, int c, char marker, lvJsonLevel *lv, lvSerializeItem *value)
{
    if (marker && c != '"') return false;
    if (c == '"') {
        if (!ReadJsonString(s, s->keyScratch)) return false;
        if (marker) {
            lv->valueText.resize(s->keyScratch.size() * 3 / 4 + 3);
            size_t n;
            if (DecodeBase64(s->keyScratch.data(), s->keyScratch.size(),
                             reinterpret_cast<uint8_t *>(lv->valueText.data()), &n))
                return false;
            lv->valueText.resize(n);
            *value = {marker == 'f' ? uint32_t(SERIALIZEITEM_FUNCTION) : uint32_t(SERIALIZEITEM_STRING),
                      lv->valueText.data(), uint32_t(n), 0};
            return true;
        }
        lv->valueText = ConvertJsonText(s->keyScratch.data(), s->keyScratch.size(), s->srcEncoding, s->dstEncoding);
        *value = {SERIALIZEITEM_STRING, lv->valueText.data(), uint32_t(lv->valueText.size()), 0};
        return true;
    }
    if (c == '[' || c == '{') {
        auto nested = std::make_unique<lvJsonLevel>();
        nested->bracket = char(c);
        nested->pendingOpen = 1;
        s->levels.push_back(std::move(nested));
        *value = {SERIALIZEITEM_TABLE, nullptr, 1, 0};
        return true;
    }
    if (c == 't' || c == 'f' || c == 'n') {
        const char *rest = c == 't' ? "rue" : c == 'f' ? "alse" : "ull";
        for (const char *p = rest; *p; p++)
            if (ReadJsonChar(s) != *p) return false;
        lv->number = c == 't' ? 1 : 0;
        *value = {SERIALIZEITEM_NUMBER, &lv->number, 8, 0};
        return true;
    }
    // A number: digits, a leading "-", one ".", one exponent letter with an optional sign.
    if (!(c == '-' || (c >= '0' && c <= '9'))) return false;
    char text[256];
    int n = 0;
    bool dot = false, exp = false, expSign = false;
    while (c >= 0) {
        bool ok = (c >= '0' && c <= '9') || (c == '-' && n == 0);
        if (!ok && c == '.' && !dot && !exp) ok = dot = true;
        else if (!ok && (c == 'e' || c == 'E') && !exp && n > 0) ok = exp = true;
        else if (!ok && (c == '+' || c == '-') && exp && !expSign && (text[n - 1] == 'e' || text[n - 1] == 'E'))
            ok = expSign = true;
        if (!ok) break;
        if (n == 255) return false;
        text[n++] = char(c);
        c = ReadJsonChar(s);
    }
    if (c >= 0) s->pushedBack = c;
    double d = 0;
    auto r = std::from_chars(text, text + n, d);
    if (r.ec != std::errc() || r.ptr != text + n) return false;
    lv->number = d;
    *value = {SERIALIZEITEM_NUMBER, &lv->number, 8, 0};
    return true;
}

// Reads a member name and its colon; the key item points into the level.
static bool ReadMemberName(lvJsonSerializerState *s, lvJsonLevel *lv, lvSerializeItem *key, char *marker)
{
    *marker = 0;
    if (!ReadJsonString(s, s->keyScratch) || s->keyScratch.empty()) return false;
    std::string &name = s->keyScratch;
    if (s->mode == SERIALIZEMODE_LUMIVARRA) {
        size_t space = name.find(' ');
        if (space != std::string::npos) {
            if (space == 0 || space + 2 != name.size() || (name[space + 1] != 'b' && name[space + 1] != 'f'))
                return false;
            *marker = name[space + 1];
            name.resize(space);
        }
        bool digits = true;
        for (char ch : name) digits = digits && ch >= '0' && ch <= '9';
        if (digits) {
            double d = 0;
            std::from_chars(name.data(), name.data() + name.size(), d);
            lv->keyNumber = d;
            *key = {SERIALIZEITEM_NUMBER, &lv->keyNumber, 8, 0};
        }
    }
    if (key->data != &lv->keyNumber) {
        lv->keyText = ConvertJsonText(name.data(), name.size(), s->srcEncoding, s->dstEncoding);
        if (s->mode == SERIALIZEMODE_LUMIVARRA && !IsPlainKey(lv->keyText.data(), lv->keyText.size())) return false;
        if (s->mode != SERIALIZEMODE_LIST && !s->noLowerCase) {
            LowerStrInPlaceAs(lv->keyText.data(), s->dstEncoding);
            lv->keyText.resize(std::strlen(lv->keyText.c_str()));
        }
        *key = {SERIALIZEITEM_STRING, lv->keyText.data(), uint32_t(lv->keyText.size()), 0};
    }
    return ReadJsonToken(s) == ':';
}

int JsonDeserializeItem(void *state, lvSerializeItem *key, lvSerializeItem *value, int *done, void *)
{
    lvJsonSerializerState *s = static_cast<lvJsonSerializerState *>(state);
    if (!s || !s->read) return 0;
    *key = {};
    *value = {};
    if (!s->started) {
        int c = ReadJsonToken(s);
        if (c != '[' && c != '{') return 0;
        auto lv = std::make_unique<lvJsonLevel>();
        lv->bracket = char(c);
        lv->pendingOpen = 1;
        s->levels.push_back(std::move(lv));
        s->started = 1;
    }
    if (s->levels.empty()) return 0;
    lvJsonLevel *lv = s->levels.back().get();

    // Mode 2 records: the calls after a member's start.
    if (lv->recordState == 2) {
        static const char kKey[] = "key";
        *key = {SERIALIZEITEM_STRING, kKey, 3, 0};
        *value = {SERIALIZEITEM_STRING, lv->keyText.data(), uint32_t(lv->keyText.size()), 0};
        lv->recordState = 3;
        return 1;
    }
    if (lv->recordState == 3) {
        static const char kValue[] = "value";
        *key = {SERIALIZEITEM_STRING, kValue, 5, 0};
        lv->recordState = 1;
        return ReadJsonValue(s, ReadJsonToken(s), 0, lv, value) ? 1 : 0;
    }
    if (lv->recordState == 1) {
        lv->recordState = 0;
        *value = {SERIALIZEITEM_TABLE, nullptr, 0, 0};
        return 1;
    }

    int c = ReadJsonToken(s);
    if (c == ']' || c == '}') {
        if ((lv->bracket == '[') != (c == ']')) return 0;
        s->levels.pop_back();
        *value = {SERIALIZEITEM_TABLE, nullptr, 0, 0};
        if (!s->levels.empty()) return 1;
        if (ReadJsonToken(s) >= 0) return 0;  // only white space may follow the document
        *done = 1;
        return 1;
    }
    if (lv->pendingOpen) {
        lv->pendingOpen = 0;
    } else {
        if (c != ',') return 0;
        c = ReadJsonToken(s);
    }
    char marker = 0;
    if (lv->bracket == '[') {
        lv->keyNumber = lv->elementCounter++;
        *key = {SERIALIZEITEM_NUMBER, &lv->keyNumber, 8, 0};
    } else {
        if (c != '"' || !ReadMemberName(s, lv, key, &marker)) return 0;
        if (s->mode == SERIALIZEMODE_LIST) {
            lv->keyNumber = lv->memberCounter++;
            *key = {SERIALIZEITEM_NUMBER, &lv->keyNumber, 8, 0};
            *value = {SERIALIZEITEM_TABLE, nullptr, 1, SERIALIZEFLAG_KEYVALUE};
            lv->recordState = 2;
            return 1;
        }
        c = ReadJsonToken(s);
    }
    return ReadJsonValue(s, c, marker, lv, value) ? 1 : 0;
}

// ============================================================================
// Life cycle
// ============================================================================

void *JsonInitSerializer(lvSerialIOFunction read, lvSerialIOFunction write, void *user, const lvAdapterTag *tags)
{
    if (!read == !write) return nullptr;
    auto *s = new (std::nothrow) lvJsonSerializerState();
    if (!s) return nullptr;
    s->read = read;
    s->write = write;
    s->user = user;
    s->pushedBack = -1;
    s->srcEncoding = s->dstEncoding = GetGlobalEncoding();
    for (const lvAdapterTag *t = tags; t && t->tag; t++) {
        switch (t->tag) {
        case SERIALIZETAG_SRCENCODING: s->srcEncoding = t->value ? LV_ENCODING_UTF8 : LV_ENCODING_LATIN1; break;
        case SERIALIZETAG_DSTENCODING: s->dstEncoding = t->value ? LV_ENCODING_UTF8 : LV_ENCODING_LATIN1; break;
        case SERIALIZETAG_MODE: s->mode = int(t->value); break;
        case SERIALIZETAG_NOLOWERCASE: s->noLowerCase = t->value ? 1 : 0; break;
        default: break;
        }
    }
    if (s->mode < 0 || s->mode > 2) {
        delete s;
        return nullptr;
    }
    return s;
}

int JsonFreeSerializer(void *state)
{
    lvJsonSerializerState *s = static_cast<lvJsonSerializerState *>(state);
    if (!s) return 0;
    int rc = s->write ? FinishWriter(s) : 1;
    delete s;
    return rc;
}

lvSerializer *GetJsonSerializer()
{
    static lvSerializer json = {nullptr, nullptr, 0, JsonInitSerializer, JsonFreeSerializer, JsonSerializeItem,
                                JsonDeserializeItem};
    return &json;
}
