// eval.cpp - tokenizer and operator-precedence parser of the expression
// evaluator (see eval.h).
// Dependencies: libs/textchars.h for number literals.
// Limits: recursion grows with nested parentheses and operators; the text is
// read only up to its end (no terminator needed).

#include "libs/eval.h"

#include "libs/textchars.h"
#include "base/lverrors.h"

#include <cmath>
#include <cstdint>

// ============================================================================
// Tokens
// ============================================================================

enum {
    TOKEN_SHL = 256,      // <<
    TOKEN_SHR = 257,      // >>
    TOKEN_CONCAT = 258,   // ..
    TOKEN_NE = 259,       // <>
    TOKEN_LE = 260,       // <=
    TOKEN_GE = 261,       // >=
    TOKEN_AND = 262,      // and
    TOKEN_OR = 263,       // or
    TOKEN_NOT = 264,      // not
    TOKEN_NUMBER = 265,   // a number (value in the state)
};

// Rows tried in order; words need an identifier boundary after them, the
// symbolic operators do not (so "1<=2" reads "<=").
static const struct {
    const char *text;   // the operator as written (lower case)
    int length;         // its byte length
    int token;          // its token
    int word;           // 1: a keyword that must end at an identifier boundary
} EvalOperatorRows[] = {
    {"<<", 2, TOKEN_SHL, 0}, {">>", 2, TOKEN_SHR, 0}, {"..", 2, TOKEN_CONCAT, 0},
    {"<>", 2, TOKEN_NE, 0},  {"<=", 2, TOKEN_LE, 0},  {">=", 2, TOKEN_GE, 0},
    {"and", 3, TOKEN_AND, 1}, {"or", 2, TOKEN_OR, 1}, {"not", 3, TOKEN_NOT, 1},
};

struct lvEvalFault {
    int code;   // the error code
};

[[noreturn]] static void RaiseEvalError(int code) { throw lvEvalFault{code}; }

static bool IsEvalLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

static bool IsEvalIdentChar(unsigned char c)
{
    return IsEvalLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '!';
}

static unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Does the text at p begin with word (without regard to case), and, when
// boundary is set, is the character after it no identifier character?
static bool MatchesWordAt(const char *p, const char *end, const char *word, size_t length, bool boundary)
{
    if (size_t(end - p) < length) return false;
    for (size_t i = 0; i < length; i++)
        if (FoldAscii(static_cast<unsigned char>(p[i])) != FoldAscii(static_cast<unsigned char>(word[i])))
            return false;
    return !boundary || p + length >= end || !IsEvalIdentChar(static_cast<unsigned char>(p[length]));
}

static void NextEvalToken(lvEvalState *st)
{
    const char *p = st->cursor, *end = st->end;
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    st->cursor = p;
    if (p >= end) {
        st->token = 0;
        return;
    }
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= '0' && c <= '9') || c == '$') {
        size_t used;
        int error;
        st->value = ParseNumberText(p, end, &used, &error);
        if (error) RaiseEvalError(error);
        st->cursor = p + used;
        st->token = TOKEN_NUMBER;
        return;
    }
    for (const auto &row : EvalOperatorRows) {
        if (MatchesWordAt(p, end, row.text, size_t(row.length), row.word != 0)) {
            st->cursor = p + row.length;
            st->token = row.token;
            return;
        }
    }
    const lvEvalOptions *opt = st->options;
    if (IsEvalLetter(c) || c == '_') {
        for (int i = 0; i < opt->variableCount; i++) {
            const lvEvalVariable &v = opt->variables[i];
            if (MatchesWordAt(p, end, v.name, v.nameLength, true)) {
                st->cursor = p + v.nameLength;
                st->token = TOKEN_NUMBER;
                st->value = v.value;
                return;
            }
        }
        const char *q = p;
        while (q < end && IsEvalIdentChar(static_cast<unsigned char>(*q))) q++;
        size_t length = size_t(q - p);
        if (length > EVAL_MAXNAME) RaiseEvalError(ERR_SYNTAXERROR);
        if (opt->mapvariables) {
            double value = 0;
            int answer = opt->lookupGlobal ? opt->lookupGlobal(opt->user, p, length, &value) : EVAL_GLOBAL_NIL;
            if (answer >= 1000) RaiseEvalError(answer);
            if (answer == EVAL_GLOBAL_NIL && opt->nodeclare) value = 0;
            else if (answer != EVAL_GLOBAL_NUMBER) RaiseEvalError(ERR_NUMBEREXPECTED);
            st->cursor = q;
            st->token = TOKEN_NUMBER;
            st->value = value;
            return;
        }
        if (opt->nodeclare) {
            st->cursor = q;
            st->token = TOKEN_NUMBER;
            st->value = 0;
            return;
        }
    }
    st->token = c;
    st->cursor = p + 1;
}

// ============================================================================
// Operators
// ============================================================================

struct lvEvalOperator {
    int token;   // its token
    int left;    // left priority
    int right;   // right priority
};

static const lvEvalOperator EvalBinaryOperators[] = {
    {'+', 10, 10}, {'-', 10, 10}, {'*', 11, 11}, {'/', 11, 11}, {'\\', 11, 11}, {'%', 11, 11},
    {TOKEN_SHL, 9, 9}, {TOKEN_SHR, 9, 9}, {'|', 6, 6}, {'&', 8, 8}, {'~', 7, 7}, {'^', 14, 13},
    {TOKEN_CONCAT, 5, 4}, {TOKEN_NE, 3, 3}, {'=', 3, 3}, {'<', 3, 3}, {TOKEN_LE, 3, 3}, {'>', 3, 3},
    {TOKEN_GE, 3, 3}, {TOKEN_AND, 2, 2}, {TOKEN_OR, 1, 1},
};

enum { EVAL_UNARY_PRIORITY = 12 };

static const lvEvalOperator *FindBinaryOperator(int token)
{
    for (const auto &op : EvalBinaryOperators)
        if (op.token == token) return &op;
    return nullptr;
}

// Truncated toward zero to a 64-bit integer (saturating; NaN gives 0), low 32 bits.
static uint32_t ToLow32(double x)
{
    if (std::isnan(x)) return 0;
    int64_t v;
    if (x >= 9223372036854775807.0) v = INT64_MAX;
    else if (x <= -9223372036854775808.0) v = INT64_MIN;
    else v = int64_t(x);
    return uint32_t(uint64_t(v));
}

static double ApplyBinary(int token, double a, double b)
{
    switch (token) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    case '/':
        if (b == 0) RaiseEvalError(ERR_ZERODIVISION);
        return a / b;
    case '\\':
    case '%': {
        int64_t ia = int32_t(ToLow32(a)), ib = int32_t(ToLow32(b));
        if (ib == 0) RaiseEvalError(ERR_ZERODIVISION);
        return double(token == '\\' ? ia / ib : ia % ib);
    }
    case TOKEN_SHL: return double(uint32_t(ToLow32(a) << (ToLow32(b) & 31)));
    case TOKEN_SHR: return double(ToLow32(a) >> (ToLow32(b) & 31));
    case '|': return double(ToLow32(a) | ToLow32(b));
    case '&': return double(ToLow32(a) & ToLow32(b));
    case '~': return double(ToLow32(a) ^ ToLow32(b));
    case '^': return std::pow(a, b);
    case TOKEN_CONCAT: RaiseEvalError(ERR_WRONGOPCST);
    case TOKEN_NE: return a != b;
    case '=': return a == b;
    case '<': return a < b;
    case TOKEN_LE: return a <= b;
    case '>': return a > b;
    case TOKEN_GE: return a >= b;
    case TOKEN_AND: return (a != 0 && b != 0) ? b : 0;
    case TOKEN_OR: return a != 0 ? a : b;
    }
    RaiseEvalError(ERR_SYNTAXERROR);
}

// ============================================================================
// Parser
// ============================================================================

// Gives the level taken by one sub-expression back on every way out.
struct lvEvalDepthGuard {
    int *depth;   // the state's depth counter
    ~lvEvalDepthGuard() { --*depth; }
};

static double EvalSubExpression(lvEvalState *st, int limit)
{
    // Parentheses and unary operators nest by recursion: a text of many
    // thousands of them must fail, not exhaust the stack.
    if (++st->depth > EVAL_MAXDEPTH) RaiseEvalError(ERR_STACK);
    lvEvalDepthGuard guard{&st->depth};
    double value;
    int t = st->token;
    if (t == '(') {
        NextEvalToken(st);
        value = EvalSubExpression(st, -1);
        if (st->token != ')') RaiseEvalError(ERR_UNMPARENTHESES);
        NextEvalToken(st);
    } else if (t == '-' || t == '~' || t == TOKEN_NOT) {
        NextEvalToken(st);
        double operand = EvalSubExpression(st, EVAL_UNARY_PRIORITY);
        if (t == '-') value = -operand;
        else if (t == '~') value = double(~ToLow32(operand));
        else value = operand == 0 ? 1 : 0;
    } else if (t == TOKEN_NUMBER) {
        value = st->value;
        NextEvalToken(st);
    } else {
        RaiseEvalError(ERR_VALUEEXPECTED);
    }
    for (;;) {
        const lvEvalOperator *op = FindBinaryOperator(st->token);
        if (!op || op->left <= limit) return value;
        NextEvalToken(st);
        double right = EvalSubExpression(st, op->right);
        value = ApplyBinary(op->token, value, right);
    }
}

// ============================================================================
// Entry points
// ============================================================================

int CheckEvalVariableName(const char *name, size_t length)
{
    if (length == 0 || length > EVAL_MAXNAME) return ERR_WRONGUSAGE;
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!IsEvalLetter(first) && first != '_') return ERR_WRONGUSAGE;
    for (size_t i = 1; i < length; i++)
        if (!IsEvalIdentChar(static_cast<unsigned char>(name[i]))) return ERR_WRONGUSAGE;
    return 0;
}

int EvaluateExpression(const char *text, size_t length, const lvEvalOptions *options, double *result)
{
    static const lvEvalOptions none = {nullptr, 0, 0, 0, nullptr, nullptr};
    lvEvalState st{0, text, text + length, 0, options ? options : &none, 0};
    *result = 0;
    try {
        NextEvalToken(&st);
        double value = EvalSubExpression(&st, -1);
        // The text must end right after the expression.
        if (st.token != 0 || st.cursor < st.end) return ERR_SYNTAXERROR;
        *result = value;
    } catch (lvEvalFault &fault) {
        return fault.code;
    }
    return 0;
}
