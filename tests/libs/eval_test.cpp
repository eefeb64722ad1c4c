// Expression evaluator: values, priorities, errors, variables and globals.
#include "libs/eval.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

// The value as text, or "E<code>".
static std::string Eval(const std::string &text, const lvEvalOptions *options = nullptr)
{
    double v;
    int code = EvaluateExpression(text.data(), text.size(), options, &v);
    if (code) return "E" + std::to_string(code);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

TEST(Eval, ValuesTable)
{
    struct {
        const char *text, *want;
    } rows[] = {
        {"2+3*4", "14"}, {"(2+3)*4", "20"}, {"2^3^2", "512"}, {"-2^2", "-4"}, {"-2*3", "-6"},
        {"7 \\ 2", "3"}, {"-7 \\ 2", "-3"}, {"-7 % 3", "-1"}, {"7 % -3", "1"},
        {"1 << 33", "2"}, {"-1 >> 28", "15"}, {"~0", "4294967295"}, {"5 ~ 3", "6"},
        {"6 | 9", "15"}, {"6 & 3", "2"}, {"1 << 31", "2147483648"},
        {"1 < 2 and 3", "3"}, {"0 or 5", "5"}, {"not 0", "1"}, {"not 7", "0"}, {"NOT 0", "1"},
        {"1 and 0", "0"}, {"2 or 3", "2"},
        {"$FF + 0x10", "271"}, {"1.5e2 / 3", "50"}, {"10 - 4 - 3", "3"},
        {"1 <> 2", "1"}, {"1 = 1", "1"}, {"2 <= 2", "1"}, {"2 >= 3", "0"}, {"3 > 2", "1"},
        // The symbolic operators need no boundary after them.
        {"1<=2", "1"}, {"1>=2", "0"}, {"1<>2", "1"}, {"1<<2", "4"}, {"16>>$2", "4"}, {"3<>$3", "0"},
        {" \t1\t+ 1 ", "2"}, {"-(1+2)", "-3"}, {"--3", "3"}, {"~~5", "5"},
        {"1 + 2 = 3", "1"}, {"1 = 1 and 2 = 2", "1"},
    };
    for (auto &r : rows) EXPECT_EQ(Eval(r.text), r.want) << r.text;
}

TEST(Eval, Errors)
{
    struct {
        const char *text;
        int code;
    } rows[] = {
        {"7 / 0", ERR_ZERODIVISION}, {"7 % 0", ERR_ZERODIVISION}, {"7 \\ 0.5", ERR_ZERODIVISION},
        {"1 2", ERR_SYNTAXERROR}, {"(1", ERR_UNMPARENTHESES}, {"1 +", ERR_VALUEEXPECTED},
        {"1 .. 2", ERR_WRONGOPCST}, {"", ERR_VALUEEXPECTED}, {"1)", ERR_SYNTAXERROR},
        {"$", ERR_SYNTAXERROR}, {"0x", ERR_SYNTAXERROR}, {"x", ERR_VALUEEXPECTED},
        {"1\n+2", ERR_SYNTAXERROR}, {"\n1", ERR_VALUEEXPECTED}, {"andy", ERR_VALUEEXPECTED}, {"%101", ERR_VALUEEXPECTED},
    };
    for (auto &r : rows) EXPECT_EQ(Eval(r.text), "E" + std::to_string(r.code)) << r.text;
    // An identifier of 65 characters is a syntax error even with nodeclare.
    lvEvalOptions nodeclare = {nullptr, 0, 1, 0, nullptr, nullptr};
    EXPECT_EQ(Eval(std::string(65, 'a'), &nodeclare), "E" + std::to_string(ERR_SYNTAXERROR));
    EXPECT_EQ(Eval(std::string(64, 'a'), &nodeclare), "0");
}

// Deep nesting fails cleanly instead of exhausting the stack.
TEST(Eval, NestingIsBounded)
{
    EXPECT_EQ(Eval(std::string(100000, '(') + "1" + std::string(100000, ')')), "E" + std::to_string(ERR_STACK));
    EXPECT_EQ(Eval(std::string(100000, '-') + "1"), "E" + std::to_string(ERR_STACK));
    EXPECT_EQ(Eval(std::string(200, '(') + "1" + std::string(200, ')')), "1");
    EXPECT_EQ(Eval(std::string(300, '-') + "1"), "1");
}

TEST(Eval, DeclaredVariables)
{
    lvEvalVariable vars[] = {{"x", 1, 3}, {"width", 5, 640}, {"x_2", 3, 10}};
    lvEvalOptions opt = {vars, 3, 0, 0, nullptr, nullptr};
    EXPECT_EQ(Eval("X * 2", &opt), "6");
    EXPECT_EQ(Eval("WIDTH / x", &opt), "213.333333333333");
    EXPECT_EQ(Eval("x_2 + x", &opt), "13");
    EXPECT_EQ(Eval("xy", &opt), "E" + std::to_string(ERR_VALUEEXPECTED));
    opt.nodeclare = 1;
    EXPECT_EQ(Eval("xy + 1", &opt), "1");

    EXPECT_EQ(CheckEvalVariableName("x", 1), 0);
    EXPECT_EQ(CheckEvalVariableName("_a$!9", 5), 0);
    EXPECT_EQ(CheckEvalVariableName("9a", 2), ERR_WRONGUSAGE);
    EXPECT_EQ(CheckEvalVariableName("", 0), ERR_WRONGUSAGE);
    EXPECT_EQ(CheckEvalVariableName("a b", 3), ERR_WRONGUSAGE);
    std::string longName(65, 'n');
    EXPECT_EQ(CheckEvalVariableName(longName.data(), 65), ERR_WRONGUSAGE);
    EXPECT_EQ(CheckEvalVariableName(longName.data(), 64), 0);
}

// A stand-in for the script's globals: width is 640, title a string.
static int LookUpGlobal(void *user, const char *name, size_t length, double *value)
{
    std::string n(name, length);
    ++*static_cast<int *>(user);
    if (n == "width") {
        *value = 640;
        return EVAL_GLOBAL_NUMBER;
    }
    if (n == "title") return EVAL_GLOBAL_OTHER;
    return EVAL_GLOBAL_NIL;
}

TEST(Eval, MappedGlobals)
{
    int lookups = 0;
    lvEvalOptions opt = {nullptr, 0, 0, 1, LookUpGlobal, &lookups};
    EXPECT_EQ(Eval("width / 2", &opt), "320");
    EXPECT_EQ(Eval("title", &opt), "E" + std::to_string(ERR_NUMBEREXPECTED));
    EXPECT_EQ(Eval("height", &opt), "E" + std::to_string(ERR_NUMBEREXPECTED));
    EXPECT_EQ(Eval("Width", &opt), "E" + std::to_string(ERR_NUMBEREXPECTED)); // exact case
    opt.nodeclare = 1;
    EXPECT_EQ(Eval("height + 1", &opt), "1");
    EXPECT_EQ(Eval("title", &opt), "E" + std::to_string(ERR_NUMBEREXPECTED));
    EXPECT_EQ(lookups, 6);
    // Declared names come before globals.
    lvEvalVariable vars[] = {{"width", 5, 2}};
    opt.variables = vars;
    opt.variableCount = 1;
    EXPECT_EQ(Eval("width", &opt), "2");
}
