#!/usr/bin/env python3
"""gen_unicode_tables.py - builds the character class and case tables of the runtime.

Usage: gen_unicode_tables.py [--data DIR] [--out DIR]
  --data  folder with UnicodeData.txt and CaseFolding.txt (default /usr/share/unicode,
          as Debian's unicode-data package installs them)
  --out   folder that receives unicode_tables.h (default: runtime/ of this tree)

The output is deterministic: the same data files give the same bytes. It is committed;
run this again only to move to another Unicode version (tests compare a fresh run with
the committed file when the data files are present).

Class rows are {first, last, step}: c is in a row when first <= c <= last and
(c - first) % step == 0. Case rows add a delta: such a c maps to c + delta. Runs of
consecutive code points become step-1 rows; lone code points at an even distance
(0x100, 0x102, ...) become stepped rows, so that every table stays below 1024 rows
and a binary search needs at most 10 steps.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def read_unicode_data(path):
    """Yields (code, category, upper, lower) for every assigned code point."""
    first = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            code = int(fields[0], 16)
            name, cat = fields[1], fields[2]
            upper = int(fields[12], 16) if fields[12] else None
            lower = int(fields[13], 16) if fields[13] else None
            if name.endswith(", First>"):
                first = code
                continue
            if name.endswith(", Last>"):
                for c in range(first, code + 1):
                    yield c, cat, None, None
                first = None
                continue
            yield code, cat, upper, lower


def read_case_folding(path):
    fold = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            code, status, mapping = [x.strip() for x in line.split(";")[:3]]
            if status in ("C", "S"):
                fold[int(code, 16)] = int(mapping, 16)
    return fold


def make_rows(points, delta_of=None):
    """Compresses sorted code points into rows; with delta_of, a row keeps one delta."""
    pts = sorted(points)
    present = set(pts)
    d = (lambda c: delta_of[c]) if delta_of else (lambda c: 0)

    def run_start(c):
        return c + 1 in present and d(c + 1) == d(c)

    rows = []
    i = 0
    n = len(pts)
    while i < n:
        c = pts[i]
        if run_start(c):
            last = c
            while last + 1 in present and d(last + 1) == d(c):
                last += 1
            rows.append((c, last, 1, d(c)))
            i = pts.index(last, i) + 1
            continue
        if i + 1 < n and not run_start(pts[i + 1]) and d(pts[i + 1]) == d(c):
            step = pts[i + 1] - c
            last = pts[i + 1]
            j = i + 2
            while j < n and pts[j] == last + step and d(pts[j]) == d(c) and not run_start(pts[j]):
                last = pts[j]
                j += 1
            rows.append((c, last, step, d(c)))
            i = j
            continue
        rows.append((c, c, 1, d(c)))
        i += 1
    return rows


DIRECT_LIMIT = 0x800


def expand(rows):
    """The code points (and deltas) that rows describe, to check the compression."""
    got = {}
    for first, last, step, delta in rows:
        for c in range(first, last + 1, step or 1):
            got[c] = delta
    return got


def emit_words(out, ctype, name, values, comment):
    out.append("// %s" % comment)
    out.append("inline constexpr %s %s[%d] = {" % (ctype, name, len(values)))
    for i in range(0, len(values), 12):
        out.append("    " + " ".join("0x%04X," % v for v in values[i:i + 12]))
    out.append("};")
    out.append("")


def emit_class(out, name, rows):
    out.append("inline constexpr lvUnicodeRange %s[] = {" % name)
    for first, last, step, _ in rows:
        out.append("    {0x%04X, 0x%04X, %d}," % (first, last, step))
    out.append("};")
    out.append("inline constexpr int %sCount = %d;" % (name, len(rows)))
    out.append("")


def emit_case(out, name, rows):
    out.append("inline constexpr lvUnicodeCaseRange %s[] = {" % name)
    for first, last, step, delta in rows:
        out.append("    {0x%04X, 0x%04X, %d, %d}," % (first, last, step, delta))
    out.append("};")
    out.append("inline constexpr int %sCount = %d;" % (name, len(rows)))
    out.append("")


HEADER = """\
// unicode_tables.h - character class and case tables (generated, do not edit).
// Made by tools/unicode/gen_unicode_tables.py from UnicodeData.txt and CaseFolding.txt
// (Unicode %s); regenerate with that tool rather than editing by hand. Included by
// encoding.cpp only. Rows are sorted by code point and disjoint.
#pragma once
#include <cstdint>

// One row of a class table: first..last, every step-th code point.
struct lvUnicodeRange {
    uint32_t first;  // first code point of the row
    uint32_t last;   // last code point of the row (inclusive)
    uint32_t step;   // distance between members; 1 for a plain run or a single point
};

// One row of a case table: members of the row map to code point + delta.
struct lvUnicodeCaseRange {
    uint32_t first;  // first code point of the row
    uint32_t last;   // last code point of the row (inclusive)
    uint32_t step;   // distance between members
    int32_t delta;   // added to a member to map it
};
"""


def unicode_version(data_dir):
    try:
        with open(os.path.join(data_dir, "DerivedAge.txt"), encoding="utf-8") as f:
            first = f.readline()
        return first.split("-")[1].split(".txt")[0]
    except (OSError, IndexError):
        return "unknown version"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--data", default="/usr/share/unicode")
    ap.add_argument("--out", default=os.path.normpath(os.path.join(HERE, "..", "..", "runtime")))
    args = ap.parse_args()

    cats = {}
    upper = {}
    lower = {}
    for code, cat, up, lo in read_unicode_data(os.path.join(args.data, "UnicodeData.txt")):
        cats[code] = cat
        if up is not None and up != code:
            upper[code] = up - code
        if lo is not None and lo != code:
            lower[code] = lo - code
    fold = {c: m - c for c, m in read_case_folding(os.path.join(args.data, "CaseFolding.txt")).items()}

    def having(pred):
        return [c for c, cat in cats.items() if pred(c, cat)]

    space = set(having(lambda c, cat: cat[0] == "Z")) | set(range(9, 14)) | {0x85}
    classes = [
        ("lvUnicodeLetters", having(lambda c, cat: cat[0] == "L")),
        ("lvUnicodeLower", having(lambda c, cat: cat == "Ll")),
        ("lvUnicodeUpper", having(lambda c, cat: cat == "Lu")),
        ("lvUnicodeControl", having(lambda c, cat: cat in ("Cc", "Cf"))),
        ("lvUnicodeDigits", having(lambda c, cat: cat == "Nd")),
        ("lvUnicodeHexDigits", [c for c in list(range(0x30, 0x3A)) + list(range(0x41, 0x47)) +
                                list(range(0x61, 0x67)) + list(range(0xFF10, 0xFF1A)) +
                                list(range(0xFF21, 0xFF27)) + list(range(0xFF41, 0xFF47))]),
        # Punctuation, plus the ASCII symbols that C's ispunct counts ($+<=>^`|~).
        ("lvUnicodePunct", having(lambda c, cat: cat[0] == "P" or (cat[0] == "S" and c < 0x80))),
        ("lvUnicodeSpace", sorted(space)),
        ("lvUnicodeGraph", having(lambda c, cat: cat[0] in "LNPS")),
        ("lvUnicodeMarks", having(lambda c, cat: cat[0] == "M")),
        ("lvUnicodeNumbers", having(lambda c, cat: cat[0] == "N")),
    ]
    cases = [
        ("lvUnicodeToLower", lower),
        ("lvUnicodeToUpper", upper),
        ("lvUnicodeFold", fold),
    ]

    out = [HEADER % unicode_version(args.data)]
    direct_classes = [0] * DIRECT_LIMIT
    for bit, (name, pts) in enumerate(classes):
        rows = make_rows(pts)
        if len(rows) >= 1024:
            sys.exit("%s: %d rows, the search allows 1023" % (name, len(rows)))
        if set(expand(rows)) != set(pts):
            sys.exit("%s: rows do not give back the class" % name)
        emit_class(out, name, rows)
        for c in pts:
            if c < DIRECT_LIMIT:
                direct_classes[c] |= 1 << bit
    direct_maps = []
    for name, mapping in cases:
        rows = make_rows(mapping.keys(), mapping)
        if len(rows) >= 1024:
            sys.exit("%s: %d rows, the search allows 1023" % (name, len(rows)))
        if expand(rows) != mapping:
            sys.exit("%s: rows do not give back the mapping" % name)
        emit_case(out, name, rows)
        targets = [c + mapping.get(c, 0) for c in range(DIRECT_LIMIT)]
        if max(targets) > 0xFFFF:
            sys.exit("%s: a mapping below U+%04X leaves the 16-bit plane" % (name, DIRECT_LIMIT))
        direct_maps.append((name, targets))
    # Below U+0800 (Latin, Greek, Cyrillic, Hebrew, Arabic) a test or mapping is one load.
    out.append("// Code points below this are served by the direct tables that follow.")
    out.append("inline constexpr uint32_t lvUnicodeDirectLimit = 0x%X;" % DIRECT_LIMIT)
    out.append("")
    bits = ", ".join("%d %s" % (1 << i, n[len("lvUnicode"):]) for i, (n, _) in enumerate(classes))
    emit_words(out, "uint16_t", "lvUnicodeDirectClasses", direct_classes, "Class bits: " + bits + ".")
    for name, targets in direct_maps:
        emit_words(out, "uint16_t", name + "Direct", targets, "What %s gives for each code point below the limit." % name)
    text = "\n".join(out).rstrip("\n") + "\n"
    with open(os.path.join(args.out, "unicode_tables.h"), "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
