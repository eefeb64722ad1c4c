// eval.h - the expression evaluator behind Eval: numbers, 21 binary and 3
// unary operators, parentheses, declared variables and (through a callback)
// the script's global variables. Evaluated while parsed; nothing is kept.
// Returns 0 or an error code: 1018 syntax, 1024 missing operand, 1186 missing
// ")", 1187 "..", 1089 division by zero, 1629 a global that is no number,
// 1055 a bad variable name, 1135 nesting deeper than EVAL_MAXDEPTH.
#pragma once
#include <cstddef>

enum {
    EVAL_MAXNAME = 64,     // longest identifier or variable name
    EVAL_MAXDEPTH = 1000,  // nested sub-expressions before "Stack overflow!" (1135)
};

// Answers of the global-variable lookup.
enum {
    EVAL_GLOBAL_NUMBER = 0,   // a number, stored in *value
    EVAL_GLOBAL_NIL = 1,      // no such global
    EVAL_GLOBAL_OTHER = 2,    // a global of another type
};

// ---- Records ----------------------------------------------------------------
struct lvEvalVariable {
    const char *name;     // the declared name (letters, digits, "_", "$", "!")
    size_t nameLength;    // its byte length
    double value;         // its value
};

// Looks a global variable up by its name exactly as written; returns one of
// the EVAL_GLOBAL_ answers (or an error code of its own, 1000 and up).
typedef int (*lvEvalLookup)(void *user, const char *name, size_t length, double *value);

struct lvEvalOptions {
    const lvEvalVariable *variables;   // declared variables, matched without regard to case
    int variableCount;                 // their count
    int nodeclare;                     // an unknown identifier reads as 0
    int mapvariables;                  // unknown identifiers are looked up as globals
    lvEvalLookup lookupGlobal;         // the global lookup (needed with mapvariables)
    void *user;                        // handed to lookupGlobal
};

// Parsing state of one evaluation.
struct lvEvalState {
    int token;                       // the current token
    const char *cursor;              // next byte of the text
    const char *end;                 // one past the last byte of the text
    double value;                    // value of the current number token
    const lvEvalOptions *options;    // variables and flags (never null)
    int depth;                       // sub-expressions open now
};

// ---- Operations ---------------------------------------------------------------
// 0 when name may declare a variable: 1 to 64 bytes, a letter or "_" first,
// then identifier characters; else 1055.
int CheckEvalVariableName(const char *name, size_t length);
// Evaluates the whole text; options may be null.
int EvaluateExpression(const char *text, size_t length, const lvEvalOptions *options, double *result);
