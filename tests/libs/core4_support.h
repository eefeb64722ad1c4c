// Shared helpers of the serialisation tests: a machine per test, tables built from a
// compact description, a canonical text of a table for comparisons, temporary files.
#pragma once
#include <string>

#include "runtime/vfile.h"
#include "vm/lvvm.h"

struct TestMachine {
    lvState *L;
    TestMachine();
    ~TestMachine();
};

// The table at index as canonical text: entries sorted, numbers "%.17g", strings
// quoted with hexadecimal escapes, functions "fn", tables in braces.
std::string DescribeTable(lvState *L, int index);
// Sets t[key] = value for the table on the top of the stack.
void SetNumberNumber(lvState *L, double key, double value);
void SetStringString(lvState *L, const std::string &key, const std::string &value);
void SetStringNumber(lvState *L, const std::string &key, double value);
void SetNumberString(lvState *L, double key, const std::string &value);

// A fresh temporary folder (removed with its files at the end of the process).
std::string TempFolder();
std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::string &bytes);
