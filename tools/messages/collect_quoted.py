#!/usr/bin/env python3
"""collect_quoted.py - gathers the message texts quoted next to error codes in prose.

Usage: collect_quoted.py lverrors.h doc.md [doc.md ...] > candidates.tsv

A text counts when a double-quoted string follows an error code (1000-1697) or an
ERR_ constant name with only punctuation, another code or name, "is" or "with the
message" between them. Quoted texts may hold quotes of their own ("Unknown tag "%s"!"):
a closing quote is one followed by punctuation, a table bar, a clause word or the
line end, with an even count of inner quotes before it. A text followed by its
code alone in parentheses ("Text!" (1673)) counts too.

Output rows: code, text (escaped as in messages.tsv), and where it was seen, sorted by
code. Codes seen with two different texts are listed on stderr; a person decides
those and writes the reviewed result into runtime/messages.tsv.
"""
import re
import sys

CODE = r"\b1[0-6]\d\d\b"
NAME = r"\bERR_[A-Z0-9_]+\b"
ANCHOR = re.compile(r"(%s|%s)" % (CODE, NAME))
CONNECTOR = re.compile(r"(?:[\s,()|`:]|%s|%s|\bis\b|\bwith the message\b)*\"" % (CODE, NAME))
# The other order: "Text!" (1673), the code alone in the parentheses.
TRAILING = re.compile(r'"([A-Z][^"]*?[!?.])" \((1[0-6]\d\d)\)')
CLOSERS = re.compile(r"\"(?=$|[),;.:|]| \||  | /| with\b| without\b| and\b| for\b| or\b| \(| when\b| if\b)")


def load_names(header):
    names = {}
    for m in re.finditer(r"(ERR_[A-Z0-9_]+)\s*=\s*(\d+)", open(header, encoding="utf-8").read()):
        names[m.group(1)] = int(m.group(2))
    return names


def quoted_after(line, start):
    """Text of the quote that opens at line[start-1], or None."""
    pos = start
    while True:
        m = CLOSERS.search(line, pos)
        if not m:
            return None
        text = line[start:m.start()]
        if text.count('"') % 2 == 0:
            return text
        pos = m.start() + 1


def anchor_code(token, names):
    if token.startswith("ERR_"):
        return names.get(token)
    return int(token)


def main():
    names = load_names(sys.argv[1])
    found = {}
    for path in sys.argv[2:]:
        short = path.rsplit("/", 1)[-1]
        for lineno, line in enumerate(open(path, encoding="utf-8"), 1):
            line = line.rstrip("\n")
            for a in ANCHOR.finditer(line):
                code = anchor_code(a.group(1), names)
                if code is None or not 1000 <= code <= 1697:
                    continue
                c = CONNECTOR.match(line, a.end())
                if not c:
                    continue
                # Another code or name inside the connector takes the quote itself.
                if ANCHOR.search(line[a.end():c.end()]):
                    continue
                text = quoted_after(line, c.end())
                if text is None or not text.strip() or len(text) < 6:
                    continue
                if "%" not in text and not re.search(r"[!?.]$|\.\.\.$|\)$", text):
                    # Quoted words such as option names are not messages.
                    continue
                found.setdefault(code, {}).setdefault(text, []).append("%s:%d" % (short, lineno))
            for t in TRAILING.finditer(line):
                found.setdefault(int(t.group(2)), {}).setdefault(t.group(1), []).append(
                    "%s:%d" % (short, lineno))
    for code in sorted(found):
        texts = found[code]
        if len(texts) > 1:
            print("conflict %d: %s" % (code, " | ".join("%r@%s" % (t, w[0]) for t, w in texts.items())),
                  file=sys.stderr)
        for text, where in texts.items():
            print("%d\t%s\t%s" % (code, text, ",".join(where)))


if __name__ == "__main__":
    main()
