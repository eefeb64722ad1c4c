// MatchPattern's engine: wildcard pattern lists, with the sets, digits and stars of
// script patterns, and patterns that would take exponential time when searched naively.
#include "libs/fileops_engine.h"

#include <gtest/gtest.h>
#include <string>

// ---- Pattern lists ------------------------------------------------------------------------

TEST(MatchPattern, Table)
{
    struct {
        const char *name, *list;
        int match;
    } cases[] = {
        {"file12.txt", "file##.txt;*.doc", 1},
        {"x.doc", "file##.txt;*.doc", 1},
        {"file1x.txt", "file##.txt;*.doc", 0},
        {"a", "[!a]", 0},
        {"b", "[!a]", 1},
        {"b", "[a-c]", 1},
        {"d", "[a-c]", 0},
        {"-", "[-a]", 1},       // a leading dash is a member
        {"]", "[]a]", 1},       // so is a leading ']'
        {"b", "[c-a]", 0},      // not a range: c, '-' and a
        {"c", "[c-a]", 1},
        {"-", "[c-a]", 1},
        {"ABC", "abc", 0},      // case counts
        {"abc", "abc", 1},
        {"", "*", 1},
        {"anything", "*", 1},
        {"a.b.c", "*.c", 1},
        {"abc", "a*?", 1},
        {"ab", "a*??", 0},
        {"report7", "report*#", 1},
        {"reportx", "report*#", 0},
        {"x", "[ab", 0},        // an unclosed set matches nothing
        {"x.txt", ";*.txt", 0}, // an empty pattern ends the list
        {"x.txt", "*.doc;;*.txt", 0},
        {"x.txt", "*.doc;*.txt;", 1},
        {"aXbXc", "a*b*c", 1},
        {"aXbX", "a*b*c", 0},
        {"zz", "[x-z][x-z]", 1},
    };
    for (const auto &c : cases) EXPECT_EQ(MatchPatternList(c.name, c.list), c.match) << c.name << " ~ " << c.list;
    // Many stars against a long near-miss: answered at once, not by trying every split.
    std::string name(250, 'a');
    EXPECT_EQ(MatchPatternList(name.c_str(), "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"), 0);
    EXPECT_EQ(MatchPatternList((name + "b").c_str(), "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"), 1);
}
