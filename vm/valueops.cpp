// valueops.cpp - the rules shared by the interpreter and the stack interface
// for converting, comparing, computing with, concatenating and indexing values.
//
// Depends on: lvobject.h. nil is 0 in arithmetic and comparisons and "" in
// text; "$FF" and "0x10" are numbers; integer division, remainder and the
// 32-bit bit operations are part of the arithmetic. Number text is "%.14g" in
// the C locale whatever the process locale.
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

#include "vm/lvobject.h"

// ==== Numbers and text ========================================================================

int64_t NumberToInt64(double d)
{
    // The 32-bit original's conversion gave the "integer indefinite" value here.
    if (!(d > -9223372036854775808.0 - 1.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(d);
}

int FormatNumber(double d, char *buf)
{
    if (std::isnan(d)) {
        std::memcpy(buf, "nan", 4);
        return 3;
    }
    if (std::isinf(d)) {
        const char *s = d < 0 ? "-inf" : "inf";
        std::strcpy(buf, s);
        return static_cast<int>(std::strlen(s));
    }
    auto r = std::to_chars(buf, buf + 31, d, std::chars_format::general, 14);
    *r.ptr = 0;
    return static_cast<int>(r.ptr - buf);
}

static bool IsSpaceC(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static double ParseOutOfRange(const char *s, size_t n)
{
    // Overflow and underflow give what the standard conversion gives (inf or 0).
    static locale_t cloc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char tmp[512];
    if (n >= sizeof tmp) n = sizeof tmp - 1;
    std::memcpy(tmp, s, n);
    tmp[n] = 0;
    return strtod_l(tmp, nullptr, cloc);
}

int StringToNumber(const char *s, size_t len, double *out)
{
    len = strnlen(s, len);  // text ends at a zero byte, as in C strings
    const char *end = s + len;
    const char *p;
    double result;
    if (len > 2 && s[0] == '0' && s[1] == 'x') {
        p = s + 2;
    } else if (len > 0 && s[0] == '$') {
        p = s + 1;
    } else {
        p = nullptr;
    }
    if (p) {
        uint64_t v = 0;
        const char *q = p;
        int d;
        while (q < end && (d = HexValue(*q)) >= 0) {
            v = (v << 4) | static_cast<uint64_t>(d);
            q++;
        }
        if (q == p) return 0;
        result = static_cast<double>(v);
        p = q;
    } else {
        p = s;
        while (p < end && IsSpaceC(*p)) p++;
        bool neg = false;
        if (p < end && (*p == '+' || *p == '-')) {
            neg = *p == '-';
            p++;
        }
        if (p >= end || !((*p >= '0' && *p <= '9') || *p == '.')) return 0;
        auto r = std::from_chars(p, end, result, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range) {
            result = ParseOutOfRange(p, static_cast<size_t>(r.ptr - p));
        } else if (r.ec != std::errc()) {
            return 0;
        }
        p = r.ptr;
        if (neg) result = -result;
    }
    while (p < end && IsSpaceC(*p)) p++;
    if (p != end) return 0;
    *out = result;
    return 1;
}

const lvValue *ConvertToNumber(const lvValue *obj, lvValue *scratch)
{
    double n;
    if (obj->tt == LV_TNUMBER) return obj;
    if (obj->tt == LV_TNIL) {
        SetNumber(scratch, 0);
        return scratch;
    }
    if (obj->tt == LV_TSTRING && StringToNumber(StrValue(obj)->Data(), StrValue(obj)->len, &n)) {
        SetNumber(scratch, n);
        return scratch;
    }
    return nullptr;
}

int ConvertToString(lvState *L, lvValue *obj)
{
    if (obj->tt == LV_TSTRING) return 1;
    if (obj->tt == LV_TNUMBER) {
        char buf[32];
        int n = FormatNumber(obj->v.n, buf);
        SetString(obj, InternString(L, buf, n));
        return 1;
    }
    if (obj->tt == LV_TNIL) {
        SetString(obj, InternString(L, "", 0));
        return 1;
    }
    return 0;
}

// ==== Tag-method calls ==========================================================================

// Calls f(a, b) and stores its one result in *res (res may lie in the stack).
void CallTagMethodResult(lvState *L, const lvValue *f, const lvValue *a, const lvValue *b, lvValue *res)
{
    bool inStack = res >= L->stack && res < L->stack + L->stacksize;
    ptrdiff_t resIdx = inStack ? res - L->stack : 0;
    lvValue fv = *f, av = *a, bv = *b;
    CheckStack(L, 3);
    L->top[0] = fv;
    L->top[1] = av;
    L->top[2] = bv;
    L->top += 3;
    CallValue(L, L->top - 3, 1);
    L->top--;
    if (inStack) res = L->stack + resIdx;
    *res = *L->top;
}

static void CallTagMethod3(lvState *L, const lvValue *f, const lvValue *a, const lvValue *b, const lvValue *c)
{
    lvValue fv = *f, av = *a, bv = *b, cv = *c;
    CheckStack(L, 4);
    L->top[0] = fv;
    L->top[1] = av;
    L->top[2] = bv;
    L->top[3] = cv;
    L->top += 4;
    CallValue(L, L->top - 4, 0);
}

// A tag method's answer counts as false when nil, false or the number 0.
static bool TagResultFalse(const lvValue *o)
{
    return o->tt == LV_TNIL || (o->tt == LV_TBOOLEAN && o->v.b == 0) || (o->tt == LV_TNUMBER && o->v.n == 0);
}

static bool CallBinaryTagMethod(lvState *L, const lvValue *p1, const lvValue *p2, lvValue *res, int event)
{
    const lvValue *tm = GetTagMethodOf(L, p1, event);
    if (tm->tt == LV_TNIL) tm = GetTagMethodOf(L, p2, event);
    if (tm->tt != LV_TFUNCTION) return false;
    CallTagMethodResult(L, tm, p1, p2, res);
    return true;
}

// ==== Comparisons ================================================================================

int StringCompare(const lvString *ls, const lvString *rs, int collate)
{
    const char *l = ls->Data();
    size_t ll = ls->len;
    const char *r = rs->Data();
    size_t lr = rs->len;
    for (;;) {
        size_t pl = std::strlen(l), pr = std::strlen(r);
        int temp;
        if (collate) {
            temp = GetVMHost()->CollateStrings(l, pl, r, pr);
        } else {
            size_t n = pl < pr ? pl : pr;
            temp = std::memcmp(l, r, n);
            if (temp == 0 && pl != pr) temp = pl < pr ? -1 : 1;
        }
        if (temp != 0) return temp;
        size_t len = pl;  // both pieces equal up to a zero byte
        if (len == lr) return (len == ll) ? 0 : 1;
        if (len == ll) return -1;
        len++;
        l += len;
        ll -= len;
        r += len;
        lr -= len;
    }
}

static const lvValue *CompareTagMethod(lvState *L, lvTable *mt1, lvTable *mt2, int event)
{
    if (!mt1) return nullptr;
    const lvValue *tm1 = GetTagMethod(L, mt1, event);
    if (!tm1) return nullptr;
    if (mt1 == mt2) return tm1;
    if (!mt2) return nullptr;
    const lvValue *tm2 = GetTagMethod(L, mt2, event);
    if (!tm2) return nullptr;
    return RawEqualValues(tm1, tm2) ? tm1 : nullptr;
}

[[noreturn]] static void RaiseMixError(lvState *L, const lvValue *a, const lvValue *b)
{
    if ((a->tt == LV_TNUMBER && b->tt == LV_TSTRING) || (a->tt == LV_TSTRING && b->tt == LV_TNUMBER))
        RaiseError(L, ERR_NUMSTRCMP);
    RaiseError(L, ERR_WRONGOP);
}

int EqualValues(lvState *L, const lvValue *a, const lvValue *b)
{
    if (a->tt != b->tt) {
        if (a->tt == LV_TNIL || b->tt == LV_TNIL) {
            const lvValue *o = a->tt == LV_TNIL ? b : a;
            if (o->tt == LV_TNUMBER) return o->v.n == 0;
            if (o->tt == LV_TSTRING) return StrValue(o)->Data()[0] == 0;
            return 0;
        }
        RaiseMixError(L, a, b);
    }
    switch (a->tt) {
    case LV_TNIL: return 1;
    case LV_TNUMBER: return a->v.n == b->v.n;
    case LV_TBOOLEAN: return a->v.b == b->v.b;
    case LV_TPOINTER: return a->v.p == b->v.p;
    case LV_TTABLE:
    case LV_TUSERDATA: {
        if (a->v.gc == b->v.gc) return 1;
        const lvValue *tm = CompareTagMethod(L, MetatableOf(L, a), MetatableOf(L, b), TM_EQ);
        if (!tm) return 0;
        lvValue r;
        CallTagMethodResult(L, tm, a, b, &r);
        return !TagResultFalse(&r);
    }
    default: return a->v.gc == b->v.gc;
    }
}

static int CallOrderTagMethod(lvState *L, const lvValue *p1, const lvValue *p2, int event)
{
    const lvValue *tm1 = GetTagMethodOf(L, p1, event);
    if (tm1->tt == LV_TNIL) return -1;
    const lvValue *tm2 = GetTagMethodOf(L, p2, event);
    if (!RawEqualValues(tm1, tm2)) return -1;
    lvValue r;
    CallTagMethodResult(L, tm1, p1, p2, &r);
    return !TagResultFalse(&r);
}

int LessThanValues(lvState *L, const lvValue *a, const lvValue *b, int collate)
{
    if (a->tt == LV_TNIL || b->tt == LV_TNIL) {
        if (a->tt == LV_TNIL && b->tt == LV_TNIL) return 0;
        const lvValue *o = a->tt == LV_TNIL ? b : a;
        if (o->tt == LV_TSTRING) return 0;
        if (o->tt != LV_TNUMBER) RaiseError(L, ERR_WRONGOP);
        return a->tt == LV_TNIL ? 0 < b->v.n : a->v.n < 0;
    }
    if (a->tt != b->tt) RaiseMixError(L, a, b);
    if (a->tt == LV_TNUMBER) return a->v.n < b->v.n;
    if (a->tt == LV_TSTRING) return StringCompare(StrValue(a), StrValue(b), collate) < 0;
    int res = CallOrderTagMethod(L, a, b, TM_LT);
    if (res == -1) RaiseError(L, ERR_WRONGOP);
    return res;
}

int LessEqualValues(lvState *L, const lvValue *a, const lvValue *b)
{
    if (a->tt == LV_TNIL || b->tt == LV_TNIL) {
        if (a->tt == LV_TNIL && b->tt == LV_TNIL) return 1;
        const lvValue *o = a->tt == LV_TNIL ? b : a;
        if (o->tt == LV_TSTRING) return 0;
        if (o->tt != LV_TNUMBER) RaiseError(L, ERR_WRONGOP);
        return a->tt == LV_TNIL ? 0 <= b->v.n : a->v.n <= 0;
    }
    if (a->tt != b->tt) RaiseMixError(L, a, b);
    if (a->tt == LV_TNUMBER) return a->v.n <= b->v.n;
    if (a->tt == LV_TSTRING) return StringCompare(StrValue(a), StrValue(b), 0) <= 0;
    int res = CallOrderTagMethod(L, a, b, TM_LE);
    if (res != -1) return res;
    res = CallOrderTagMethod(L, b, a, TM_LT);
    if (res != -1) return !res;
    RaiseError(L, ERR_WRONGOP);
}

// ==== Arithmetic ==================================================================================

int64_t DivideInt64(int64_t a, int64_t b, bool remainder, double *asDouble)
{
    if (b == -1 && a == INT64_MIN) {
        // The one quotient outside the 64-bit range: 2^63, remainder 0.
        *asDouble = remainder ? 0.0 : 9223372036854775808.0;
        return 0;
    }
    int64_t r = remainder ? a % b : a / b;
    *asDouble = static_cast<double>(r);
    return r;
}

static inline uint32_t Low32(double d) { return static_cast<uint32_t>(static_cast<uint64_t>(NumberToInt64(d))); }

double ArithNumbers(lvState *L, double a, double b, int event)
{
    switch (event) {
    case TM_ADD: return a + b;
    case TM_SUB: return a - b;
    case TM_MUL: return a * b;
    case TM_DIV:
        if (b == 0) RaiseError(L, ERR_ZERODIVISION);
        return a / b;
    case TM_DIVINT:
    case TM_MOD: {
        int64_t d = NumberToInt64(b);
        if (d == 0) RaiseError(L, ERR_ZERODIVISION);
        double r;
        DivideInt64(NumberToInt64(a), d, event == TM_MOD, &r);
        return r;
    }
    case TM_LSH: return static_cast<double>(static_cast<uint32_t>(Low32(a) << (Low32(b) & 31)));
    case TM_RSH: return static_cast<double>(Low32(a) >> (Low32(b) & 31));
    case TM_OR: return static_cast<double>(Low32(a) | Low32(b));
    case TM_AND: return static_cast<double>(Low32(a) & Low32(b));
    case TM_XOR: return static_cast<double>(Low32(a) ^ Low32(b));
    case TM_POW: return std::pow(a, b);
    default: RaiseError(L, ERR_WRONGOP);
    }
}

void ArithValues(lvState *L, lvValue *ra, const lvValue *b, const lvValue *c, int event)
{
    lvValue tb, tc;
    const lvValue *b1 = ConvertToNumber(b, &tb);
    const lvValue *c1 = b1 ? ConvertToNumber(c, &tc) : nullptr;
    if (b1 && c1) {
        SetNumber(ra, ArithNumbers(L, b1->v.n, c1->v.n, event));
        return;
    }
    if (!CallBinaryTagMethod(L, b, c, ra, event)) RaiseError(L, ERR_WRONGOP);
}

void BitNotValue(lvState *L, lvValue *ra, const lvValue *b)
{
    lvValue tb;
    const lvValue *b1 = ConvertToNumber(b, &tb);
    if (b1) {
        SetNumber(ra, static_cast<double>(~Low32(b1->v.n)));
        return;
    }
    const lvValue *tm = GetTagMethodOf(L, b, TM_NOT);
    if (tm->tt != LV_TFUNCTION) RaiseError(L, ERR_WRONGOP);
    CallTagMethodResult(L, tm, b, &gNilValue, ra);
}

void NegateValue(lvState *L, lvValue *ra, const lvValue *b)
{
    if (b->tt == LV_TNIL) {
        SetNumber(ra, -0.0);
        return;
    }
    lvValue tb;
    const lvValue *b1 = ConvertToNumber(b, &tb);
    if (b1) {
        SetNumber(ra, -b1->v.n);
        return;
    }
    const lvValue *tm = GetTagMethodOf(L, b, TM_UNM);
    if (tm->tt != LV_TFUNCTION) RaiseError(L, ERR_WRONGOP);
    CallTagMethodResult(L, tm, b, &gNilValue, ra);
}

// ==== Concatenation ================================================================================

void ConcatRegisters(lvState *L, int total, int last)
{
    do {
        lvValue *top = L->base + last + 1;
        int n = 2;
        if (!ConvertToString(L, top - 2) || !ConvertToString(L, top - 1)) {
            if (!CallBinaryTagMethod(L, top - 2, top - 1, top - 2, TM_CONCAT)) RaiseError(L, ERR_CONCAT);
        } else if (StrValue(top - 1)->len > 0) {
            uint64_t tl = static_cast<uint64_t>(StrValue(top - 1)->len) + StrValue(top - 2)->len;
            while (n < total && ConvertToString(L, top - n - 1)) {
                tl += StrValue(top - n - 1)->len;
                n++;
            }
            if (tl >= 0xFFFFFFFEull) RaiseError(L, ERR_INTERNAL);
            char *buffer = GetVMBuffer(L, static_cast<size_t>(tl));
            size_t pos = 0;
            for (int i = n; i > 0; i--) {
                size_t l = StrValue(top - i)->len;
                std::memcpy(buffer + pos, StrValue(top - i)->Data(), l);
                pos += l;
            }
            SetString(top - n, InternString(L, buffer, pos));
        }
        total -= n - 1;
        last -= n - 1;
    } while (total > 1);
}

// ==== Indexing ========================================================================================

void IndexValue(lvState *L, const lvValue *t, const lvValue *key, lvValue *res, int *fromTableChain)
{
    lvValue keyv = *key;
    if (fromTableChain) *fromTableChain = 0;
    for (int depth = 0;; depth++) {
        if (depth > 100) {
            SetErrorString("#1");
            RaiseError(L, ERR_INTERNAL1);
        }
        const lvValue *tm;
        if (t->tt == LV_TTABLE) {
            lvTable *h = TabValue(t);
            const lvValue *v = TableGet(h, &keyv);
            if (v->tt != LV_TNIL) {
                *res = *v;
                return;
            }
            tm = h->metatable ? GetTagMethod(L, h->metatable, TM_INDEX) : nullptr;
            if (!tm) {
                SetNil(res);
                if (fromTableChain) *fromTableChain = 1;
                return;
            }
        } else {
            tm = GetTagMethodOf(L, t, TM_INDEX);
            if (tm->tt == LV_TNIL) RaiseNameError(L, t, ERR_TABLEDECLA, "{}");
        }
        if (tm->tt == LV_TFUNCTION) {
            CallTagMethodResult(L, tm, t, &keyv, res);
            return;
        }
        t = tm;
    }
}

void AssignIndex(lvState *L, const lvValue *t, const lvValue *key, const lvValue *val)
{
    lvValue keyv = *key, valv = *val;
    const lvValue *origin = t;  // the caller's slot, for naming the variable
    lvValue tv = *t;            // a copy: storing may rehash the table that held t
    t = &tv;
    for (int loop = 0; loop < 100; loop++) {
        const lvValue *tm;
        if (t->tt == LV_TTABLE) {
            lvTable *h = TabValue(t);
            lvValue *slot = TableSet(L, h, &keyv);
            if (slot->tt != LV_TNIL || !h->metatable || !(tm = GetTagMethod(L, h->metatable, TM_NEWINDEX))) {
                *slot = valv;
                return;
            }
        } else {
            tm = GetTagMethodOf(L, t, TM_NEWINDEX);
            if (tm->tt == LV_TNIL) RaiseNameError(L, loop == 0 ? origin : t, ERR_TABLEDECLA, "{}");
        }
        if (tm->tt == LV_TFUNCTION) {
            CallTagMethod3(L, tm, t, &keyv, &valv);
            return;
        }
        tv = *tm;
    }
    SetErrorString("#2");
    RaiseError(L, ERR_INTERNAL1);
}

void GetGlobalValue(lvState *L, lvTable *g, const lvValue *key, lvValue *res)
{
    const lvValue *v = TableGet(g, key);
    if (v->tt != LV_TNIL) {
        *res = *v;
        return;
    }
    lvValue gv;
    SetTable(&gv, g);
    IndexValue(L, &gv, key, res, nullptr);
}
