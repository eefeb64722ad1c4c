#!/usr/bin/env python3
"""gen_messages_table.py - turns runtime/messages.tsv into runtime/messages_table.cpp.

Usage: gen_messages_table.py [--tsv FILE] [--header FILE] [--out FILE] [--check]
  defaults: runtime/messages.tsv, base/lverrors.h, runtime/messages_table.cpp of this tree
  --check   write nothing; exit 1 when the committed output differs from a fresh one

Checks before writing: every ERR_ constant of lverrors.h has its row with the same name and
every named row its constant; codes and indexes are unique; texts that are no error carry
an index. The output is deterministic (rows in file order: error rows by code, then the
other texts by index).
"""
import argparse
import os
import re
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            out.append({"n": "\n", "t": "\t", "\\": "\\"}.get(n, "\\" + n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def c_literal(text):
    parts = []
    for b in text.encode("utf-8"):
        ch = chr(b)
        if ch == "\\":
            parts.append("\\\\")
        elif ch == '"':
            parts.append('\\"')
        elif ch == "\n":
            parts.append("\\n")
        elif ch == "\t":
            parts.append("\\t")
        elif 0x20 <= b < 0x7F:
            parts.append(ch)
        else:
            parts.append('\\x%02X""' % b)
    return '"' + "".join(parts) + '"'


def read_rows(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 5:
                sys.exit("%s:%d: want 5 tab-separated fields" % (path, lineno))
            index, code, name, origin, text = fields
            rows.append({
                "index": None if index == "-" else int(index),
                "code": None if code == "-" else int(code),
                "name": None if name == "-" else name,
                "origin": origin,
                "text": unescape(text),
                "line": lineno,
            })
    return rows


def check(rows, header):
    names = {}
    for m in re.finditer(r"(ERR_[A-Z0-9_]+)\s*=\s*(\d+)", open(header, encoding="utf-8").read()):
        names[int(m.group(2))] = m.group(1)
    seen_codes = {}
    seen_index = {}
    for r in rows:
        if r["origin"] not in ("quoted", "written", "argument", "none"):
            sys.exit("line %d: unknown origin %s" % (r["line"], r["origin"]))
        if r["code"] is not None:
            if r["code"] in seen_codes:
                sys.exit("line %d: code %d twice" % (r["line"], r["code"]))
            seen_codes[r["code"]] = r
            if names.get(r["code"]) != r["name"]:
                sys.exit("line %d: code %d is %s in lverrors.h" % (r["line"], r["code"], names.get(r["code"])))
        elif r["index"] is None:
            sys.exit("line %d: a text that is no error needs an index" % r["line"])
        if r["origin"] in ("quoted", "written"):
            if r["index"] is None or not r["text"]:
                sys.exit("line %d: a message needs an index and a text" % r["line"])
            if r["index"] in seen_index:
                sys.exit("line %d: index %d twice" % (r["line"], r["index"]))
            seen_index[r["index"]] = r
    for code, name in names.items():
        if code not in seen_codes:
            sys.exit("%s (%d) has no row" % (name, code))


def render(rows):
    out = []
    out.append("// messages_table.cpp - the runtime's message table (generated, do not edit).")
    out.append("// Made by tools/messages/gen_messages_table.py from runtime/messages.tsv.")
    out.append('#include "runtime/errors.h"')
    out.append("")
    out.append("// Messages: error rows sorted by code, then the texts that are no error.")
    out.append("const lvMessageRow lvMessageTable[] = {")
    table = [r for r in rows if r["origin"] in ("quoted", "written")]
    errors = sorted((r for r in table if r["code"] is not None), key=lambda r: r["code"])
    others = sorted((r for r in table if r["code"] is None), key=lambda r: r["index"])
    ordered = errors + others
    for r in ordered:
        code = r["code"] if r["code"] is not None else 65535
        out.append("    {%d, %d, %s}," % (r["index"], code, c_literal(r["text"])))
    out.append("};")
    out.append("const int lvMessageTableCount = %d;" % len(ordered))
    out.append("")
    out.append("// Row numbers of lvMessageTable sorted by message index.")
    out.append("const uint16_t lvMessageByIndex[] = {")
    by_index = sorted(range(len(ordered)), key=lambda i: ordered[i]["index"])
    for i in range(0, len(by_index), 12):
        out.append("    " + " ".join("%d," % n for n in by_index[i:i + 12]))
    out.append("};")
    out.append("")
    out.append("// Every error code with its constant name or null, and what its message is.")
    out.append("const lvErrorCodeInfo lvErrorCodeTable[] = {")
    kinds = {"quoted": "LV_MESSAGE_TABLE", "written": "LV_MESSAGE_TABLE",
             "argument": "LV_MESSAGE_ARGUMENT", "none": "LV_MESSAGE_NONE"}
    for r in sorted((r for r in rows if r["code"] is not None), key=lambda r: r["code"]):
        name = '"%s"' % r["name"] if r["name"] else "nullptr"
        out.append("    {%d, %s, %s}," % (r["code"], name, kinds[r["origin"]]))
    out.append("};")
    out.append("const int lvErrorCodeTableCount = %d;" % sum(1 for r in rows if r["code"] is not None))
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tsv", default=os.path.join(ROOT, "runtime", "messages.tsv"))
    ap.add_argument("--header", default=os.path.join(ROOT, "base", "lverrors.h"))
    ap.add_argument("--out", default=os.path.join(ROOT, "runtime", "messages_table.cpp"))
    ap.add_argument("--check", action="store_true")
    args = ap.parse_args()
    rows = read_rows(args.tsv)
    check(rows, args.header)
    text = render(rows)
    if args.check:
        with open(args.out, encoding="utf-8") as f:
            if f.read() != text:
                print("%s is not what %s gives; run %s" % (args.out, args.tsv, sys.argv[0]), file=sys.stderr)
                sys.exit(1)
        return
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
