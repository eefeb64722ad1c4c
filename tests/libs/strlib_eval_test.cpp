// strlib_eval_test.cpp - Eval through its global: operators, errors, declared
// variables, the script's globals, and a chunk that calls it with an options
// table it built.
#include <string>

#include "tests/libs/strlib_harness.h"

// The options {variables = {{name = n, value = v}}} plus flags.
static lvTestArg OneVariable(const char *name, lvTestArg value, int nodeclare = 0)
{
    return FieldsArg({{"variables", ListArg({FieldsArg({{"name", name}, {"value", value}})})},
                      {"nodeclare", nodeclare}});
}

TEST_F(StringLibTest, EvalOperators)
{
    RunCases({
        {"Eval", {"2+3*4"}, "14"},
        {"Eval", {"(2+3)*4"}, "20"},
        {"Eval", {"2^3^2"}, "512"},
        {"Eval", {"-2^2"}, "-4"},
        {"Eval", {"-2*3"}, "-6"},
        {"Eval", {"7 \\ 2"}, "3"},
        {"Eval", {"-7 \\ 2"}, "-3"},
        {"Eval", {"-7 % 3"}, "-1"},
        {"Eval", {"7 / 2"}, "3.5"},
        {"Eval", {"1 << 33"}, "2"},
        {"Eval", {"-1 >> 28"}, "15"},
        {"Eval", {"~0"}, "4294967295"},
        {"Eval", {"5 ~ 3"}, "6"},
        {"Eval", {"6 & 3"}, "2"},
        {"Eval", {"5 | 2"}, "7"},
        {"Eval", {"1 < 2 and 3"}, "3"},
        {"Eval", {"2 and 0"}, "0"},
        {"Eval", {"0 or 5"}, "5"},
        {"Eval", {"not 0"}, "1"},
        {"Eval", {"NOT 2"}, "0"},
        {"Eval", {"$FF + 0x10"}, "271"},
        {"Eval", {"1<=2"}, "1"},
        {"Eval", {"1 <= 2"}, "1"},
        {"Eval", {"1<= 2"}, "1"},
        {"Eval", {"2>=3"}, "0"},
        {"Eval", {"1<>2"}, "1"},
        {"Eval", {"2 = 2"}, "1"},
        {"Eval", {"3 > 2"}, "1"},
        {"Eval", {"1<2"}, "1"},
        {"Eval", {"\t1 +\t2 "}, "3"},
        {"Eval", {12}, "12"},
    });
}

TEST_F(StringLibTest, EvalErrors)
{
    RunCases({
        {"Eval", {"7 / 0"}, "error 1089"},
        {"Eval", {"7 % 0"}, "error 1089"},
        {"Eval", {"7 \\ 0.5"}, "error 1089"},
        {"Eval", {"1 2"}, "error 1018"},
        {"Eval", {"(1"}, "error 1186"},
        {"Eval", {"1 +"}, "error 1024"},
        {"Eval", {"1 .. 2"}, "error 1187"},
        {"Eval", {""}, "error 1024"},
        {"Eval", {"$"}, "error 1018"},
        {"Eval", {"0x"}, "error 1018"},
        {"Eval", {"1\n+2"}, "error 1018"},
        {"Eval", {"\n1"}, "error 1024"},
        {"Eval", {std::string(65, 'a')}, "error 1018"},
        {"Eval", {std::string(64, 'a')}, "error 1024"},
        {"Eval", {}, "error 1014"},
        {"Eval", {"1", FieldsArg({}), 3}, "error 1193"},
        {"Eval", {"1", 5}, "error 1140@2"},
    });
}

TEST_F(StringLibTest, EvalDeclaredVariables)
{
    RunCases({
        {"Eval", {"X * 2", OneVariable("x", 3)}, "6"},
        {"Eval", {"x_1 + 1", OneVariable("x_1", 3)}, "4"},
        {"Eval", {"v + 1", FieldsArg({{"variables", ListArg({FieldsArg({{"name", "v"}})})}})}, "1"},
        {"Eval", {"xy", OneVariable("x", 3)}, "error 1024"},
        {"Eval", {"xy", OneVariable("x", 3, 1)}, "0"},
        {"Eval", {"foo + 1", FieldsArg({{"nodeclare", 1}})}, "1"},
        {"Eval",
         {"a + b * 2", FieldsArg({{"variables", ListArg({FieldsArg({{"name", "a"}, {"value", 1}}),
                                                         FieldsArg({{"name", "b"}, {"value", 2}})})}})},
         "5"},
        {"Eval", {"1", OneVariable(std::string(65, 'n').c_str(), 1)}, "error 1055"},
        {"Eval", {"1", OneVariable("1x", 1)}, "error 1055"},
        {"Eval", {"1", OneVariable("x", "many")}, "error 1629"},  // a value that is no number
        {"Eval", {"1", FieldsArg({{"variables", ListArg({FieldsArg({{"value", 1}})})}})}, "error 1055"},
        {"Eval", {"1", FieldsArg({{"variables", ListArg({7})}})}, "error 1140@2"},
        {"Eval", {"1", FieldsArg({{"variables", 7}})}, "error 1055"},
    });
}

TEST_F(StringLibTest, EvalScriptGlobals)
{
    SetGlobalNumber("width", 640);
    SetGlobalString("title", "abc");
    lvTestArg mapped = FieldsArg({{"mapvariables", 1}});
    lvTestArg mappedLenient = FieldsArg({{"mapvariables", 1}, {"nodeclare", 1}});
    EXPECT_EQ(Call("Eval", {"width / 2", mapped}), "320");
    EXPECT_EQ(Call("Eval", {"title", mapped}), "error 1629");
    EXPECT_EQ(Call("Eval", {"missing", mapped}), "error 1629");
    EXPECT_EQ(Call("Eval", {"missing + 1", mappedLenient}), "1");
    // Globals are looked up exactly as written.
    EXPECT_EQ(Call("Eval", {"WIDTH", mappedLenient}), "0");
    EXPECT_EQ(Call("Eval", {"width"}), "error 1024");
    // A declared variable comes before a global of the same name.
    EXPECT_EQ(Call("Eval", {"width", FieldsArg({{"mapvariables", 1},
                                                {"variables", ListArg({FieldsArg({{"name", "width"},
                                                                                  {"value", 2}})})}})}),
              "2");
    EXPECT_EQ(RunFixture("eval"), "325");
}
